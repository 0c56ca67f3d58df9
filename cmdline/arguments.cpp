#include "cmdline/arguments.h"

#include <cstring>

#include "cmdline/options.h"
#include "shell/console.h"

namespace tavrel {
namespace {

constexpr std::int32_t kLargestValue = 2147483647;

bool isDigit(char c) {
  return c >= '0' && c <= '9';
}

bool isOptionArgument(const char* argument) {
  return argument[0] == '-';
}

// Reads the digits at text as a decimal number. A number that does not fit
// a 32-bit signed integer stops at the largest one, which every option then
// reports as out of range instead of some wrapped-around value.
std::int32_t readNumber(const char* text) {
  std::int32_t number = 0;
  for (; isDigit(*text); ++text) {
    const int digit = *text - '0';
    if (number > (kLargestValue - digit) / 10) {
      number = kLargestValue;
    } else {
      number = number * 10 + digit;
    }
  }
  return number;
}

void printTooManyParameters() {
  plainOutput("ERROR: Too many parameters\n\n");
  printUsage();
}

}  // namespace

char foldLetter(char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c;
}

int parseCommandLine(int argc, char** argv, int parameterCount, FileParameter* parameters) {
  resetOptions();
  const int positionalCount = scanOptions(argc, argv);
  if (positionalCount < 0) fatalStop(-1);
  if (assignFileParameters(argc, argv, parameterCount, positionalCount, parameters) < 0) {
    fatalStop(-1);
  }
  return positionalCount;
}

int scanOptions(int argc, char** argv) {
  int positionalCount = 0;
  for (int i = 1; i < argc; ++i) {
    if (isOptionArgument(argv[i])) {
      if (parseOptionArgument(argv[i]) != 1) return -1;
    } else {
      ++positionalCount;
    }
  }
  return positionalCount;
}

int parseOptionArgument(const char* argument) {
  // A lone '-' has neither a letter nor a list: its terminator is the letter
  // (a NUL) and nothing after it may be read.
  const char* afterDash = argument[0] != '\0' ? argument + 1 : argument;
  const char letter = foldLetter(afterDash[0]);
  ValueList list;
  readValueList(afterDash[0] != '\0' ? afterDash + 1 : "", kValueListCapacity, &list);

  bool recognised = false;
  if (const int option = findOption(letter, 0)) {
    if (!applyOptionValue(letter, 0, option, 1)) return 0;
    recognised = true;
  }
  for (int place = 1; place <= list.count; ++place) {
    if (const int option = findOption(letter, place)) {
      // An out-of-range value is reported but still counts as recognised.
      applyOptionValue(letter, place, option, list.values[place]);
      recognised = true;
    }
  }
  if (!recognised) {
    plainOutput("ERROR: Unknown option %c%c found.\n", '-', letter);
    return 0;
  }
  return 1;
}

void readValueList(const char* text, int capacity, ValueList* list) {
  if (capacity > kValueListCapacity) capacity = kValueListCapacity;
  for (std::int32_t& value : list->values) value = -1;
  list->count = 0;
  if (!text) return;

  const char* p = text;
  while (*p != '\0' && list->count < capacity - 1) {
    if (*p == ',') {
      ++list->count;  // an empty item keeps its -1
      ++p;
    } else if (isDigit(*p)) {
      list->values[++list->count] = readNumber(p);
      // Whatever follows the number up to the next comma is ignored, and
      // that comma only closes the item.
      const char* comma = std::strchr(p, ',');
      if (!comma) break;
      p = comma + 1;
    } else {
      ++p;  // a sign, '=' or any other character is skipped
    }
  }
}

int applyOptionValue(char letter, int parameterIndex, int option, int value) {
  switch (optionKind(option)) {
    case Flag:
      setOptionValue(option, 1);
      return 1;
    case Range:
    case Choice: {
      const int minimum = optionMinimum(option);
      const int maximum = optionMaximum(option);
      if (value < minimum || value > maximum) {
        plainOutput("ERROR: Parameter %c(%i) = %i is out of range [%i,%i].\n", letter,
                    parameterIndex, value, minimum, maximum);
        return 0;
      }
      setOptionValue(option, value);
      return 1;
    }
    default:
      return 1;
  }
}

int assignFileParameters(int argc, char** argv, int parameterCount, int positionalCount,
                         FileParameter* parameters) {
  if (positionalCount > parameterCount) {
    printTooManyParameters();
    return -1;
  }
  int required = 0;
  for (int k = 0; k < parameterCount; ++k) {
    if (parameters[k].optionalLevel == 0) ++required;
  }
  if (positionalCount < required) {
    // With no file name at all the usage alone is the answer.
    if (positionalCount > 0) plainOutput("ERROR: Too few parameters\n\n");
    printUsage();
    return -1;
  }

  const int spare = positionalCount - required;
  int k = 0;
  for (int i = 1; i < argc; ++i) {
    if (isOptionArgument(argv[i])) continue;
    while (k < parameterCount && parameters[k].optionalLevel > spare) {
      parameters[k].path.clear();
      ++k;
    }
    // Optional levels that skip a number can leave an argument without a
    // record; it is one argument too many for this array.
    if (k >= parameterCount) {
      printTooManyParameters();
      return -1;
    }
    parameters[k].path = argv[i];
    if (!parameters[k].defaultExtension.empty()) {
      appendDefaultExtension(parameters[k].path, parameters[k].defaultExtension);
    }
    ++k;
  }
  for (; k < parameterCount; ++k) parameters[k].path.clear();

  if (!checkDistinctNames(parameterCount, parameters)) return -1;
  return positionalCount;
}

int checkDistinctNames(int parameterCount, const FileParameter* parameters) {
  for (int i = 0; i < parameterCount; ++i) {
    for (int j = 0; j < i; ++j) {
      const FileParameter& a = parameters[i];
      const FileParameter& b = parameters[j];
      if (a.direction == Input && b.direction == Input) continue;
      if (a.direction == Exempt || b.direction == Exempt) continue;
      if (namesEqualIgnoringCase(a.path, b.path)) {
        plainOutput("ERROR: Input and output filenames should be different.\n");
        return 0;
      }
    }
  }
  return 1;
}

// Only the last path component decides: a dot in a folder name is no
// extension of the file.
void appendDefaultExtension(std::string& name, const std::string& extension) {
  const std::string::size_type last = name.find_last_of("./\\");
  if (last != std::string::npos && name[last] == '.') return;
  name += '.';
  name += extension;
}

int hasExtension(const std::string& name, const char* extension) {
  if (!extension) return 0;
  const std::string::size_type dot = name.find('.');
  if (dot == std::string::npos) return 0;
  return name.compare(dot + 1, std::string::npos, extension) == 0 ? 1 : 0;
}

int namesEqualIgnoringCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return 0;
  for (std::string::size_type i = 0; i < a.size(); ++i) {
    if (foldLetter(a[i]) != foldLetter(b[i])) return 0;
  }
  return 1;
}

}  // namespace tavrel
