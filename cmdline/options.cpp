#include "cmdline/options.h"

#include "shell/console.h"

namespace tavrel {
namespace {

constexpr const char* kTitle = "Tavrel";
constexpr const char* kVersion = "V 0.0";
constexpr const char* kLastModified = "24.04.2006";
constexpr const char* kNotice = "Nested colour reductions of one photo by perceptual clustering";

// Continuation lines of the option list: value names and numbered parameters.
constexpr const char* kIndent = "                         ";

// Highest parameter index the usage lists; a value list could address more,
// but nothing beyond n10 is ever shown.
constexpr int kMaxListedParameter = 10;

const char* const kQuietLevelNames[] = {
    "Silent (nothing)", "Quiet (only final bits)", "Normal (Info + Statistics)",
    "+Progress",        "+Expanded contexts",      "+All tried contexts",
    "+Debug info",
};
const char* const kFlagNames[] = {"NO", "YES"};

// Every value starts at 0; the parse sets the defaults before it reads the
// command line.
OptionRecord gOptions[kOptionCount] = {
    {"QuietLevel", 'Q', 1, Choice, 0, 0, 6, 2, kQuietLevelNames},
    {"Overwrite", 'O', 0, Flag, 0, 0, 1, 0, kFlagNames},
    {"Admissible color depth", 'C', 1, Range, 0, 0, 256, 0, nullptr},
};

// Option indexes are 1-based; anything else addresses no row.
OptionRecord* row(int option) {
  if (option < 1 || option > kOptionCount) return nullptr;
  return &gOptions[option - 1];
}

}  // namespace

const char* optionName(int option) {
  const OptionRecord* r = row(option);
  return r ? r->name : "";
}

char optionLetter(int option) {
  const OptionRecord* r = row(option);
  return r ? r->letter : '\0';
}

int optionParameterIndex(int option) {
  const OptionRecord* r = row(option);
  return r ? r->parameterIndex : 0;
}

// A missing row has no kind at all, so that nothing treats it as a switch.
int optionKind(int option) {
  const OptionRecord* r = row(option);
  return r ? r->kind : -1;
}

int optionMinimum(int option) {
  const OptionRecord* r = row(option);
  return r ? r->minimum : 0;
}

int optionMaximum(int option) {
  const OptionRecord* r = row(option);
  return r ? r->maximum : 0;
}

int optionDefaultValue(int option) {
  const OptionRecord* r = row(option);
  return r ? r->defaultValue : 0;
}

int optionValue(int option) {
  const OptionRecord* r = row(option);
  return r ? r->value : 0;
}

void setOptionValue(int option, int value) {
  if (OptionRecord* r = row(option)) r->value = value;
}

// Names exist only for the values a row can take; any other value gets the
// empty text rather than a read past the end of the name list.
const char* optionValueName(int option, int value) {
  const OptionRecord* r = row(option);
  if (!r || !r->valueNames) return "";
  if (value < 0 || value < r->minimum || value > r->maximum) return "";
  return r->valueNames[value];
}

void resetOptions() {
  for (int option = 1; option <= kOptionCount; ++option) {
    setOptionValue(option, optionDefaultValue(option));
  }
}

int findOption(char letter, int parameterIndex) {
  for (int option = 1; option <= kOptionCount; ++option) {
    if (optionLetter(option) == letter && optionParameterIndex(option) == parameterIndex) {
      return option;
    }
  }
  return 0;
}

int countNumberedOptions(char letter) {
  int count = 0;
  for (int option = 1; option <= kOptionCount; ++option) {
    if (optionLetter(option) == letter && optionParameterIndex(option) > 0) ++count;
  }
  return count;
}

int isOptionLetter(char letter) {
  for (int option = 1; option <= kOptionCount; ++option) {
    if (optionLetter(option) == letter) return 1;
  }
  return 0;
}

void printUsage() {
  progressLog("\r\n%s  %s  (last modified %s)\r\n", kTitle, kVersion, kLastModified);
  progressLog("%s\r\n", kNotice);
  progressLog("\r\nProgram usage syntax:\r\n");
  progressLog("%s {%coption} InputFile OutFile \r\n", kTitle, '-');
  progressLog("Options:\r\n");
  printOptionList();
  progressLog("\r\n%s     %s\r\n", kTitle, kVersion);
}

// Listed by letter, not in table order, so that the usage reads
// alphabetically whatever order the rows were added in.
void printOptionList() {
  for (char letter = 'A'; letter <= 'Z'; ++letter) {
    const int count = countNumberedOptions(letter);
    printOptionHead(letter, count);
    for (int parameterIndex = 1; parameterIndex <= kMaxListedParameter; ++parameterIndex) {
      const int option = findOption(letter, parameterIndex);
      if (option) printOptionDescription(letter, option, parameterIndex, count);
    }
  }
}

void printOptionHead(char letter, int count) {
  if (!isOptionLetter(letter)) return;
  switch (count) {
    case 0:
      plainOutput("  %c%c               = ", '-', letter);
      break;
    case 1:
      plainOutput("  %c%cn              = ", '-', letter);
      break;
    case 2:
      plainOutput("  %c%cn1,n2          = ", '-', letter);
      break;
    case 3:
      plainOutput("  %c%cn1,n2,n3       = ", '-', letter);
      break;
    default:
      plainOutput("  %c%c[n1,n2,..n%-2i]  = ", '-', letter, count);
      break;
  }
  // The head line is finished by the bare switch if there is one; a single
  // numbered parameter without a switch finishes it instead.
  if (const int option = findOption(letter, 0)) {
    printOptionDescription(letter, option, 0, 0);
  } else if (count > 1) {
    plainOutput("\n");
  }
}

void printOptionDescription(char letter, int option, int parameterIndex, int count) {
  if (count == 1) {
    if (findOption(letter, 0)) plainOutput("%sn: ", kIndent);
  } else if (count > 1) {
    plainOutput("%sn%1i: ", kIndent, parameterIndex);
  }
  plainOutput("%s", optionName(option));
  switch (optionKind(option)) {
    case Flag:
      plainOutput(" (default=");
      printValueText(option, optionDefaultValue(option));
      plainOutput(")\n");
      break;
    case Range:
      plainOutput(" (");
      printValueText(option, optionMinimum(option));
      plainOutput("..");
      printValueText(option, optionMaximum(option));
      plainOutput(", default=");
      printValueText(option, optionDefaultValue(option));
      plainOutput(")\n");
      break;
    case Choice:
      plainOutput("\n");
      for (int value = optionMinimum(option); value <= optionMaximum(option); ++value) {
        plainOutput("%s%1i = ", kIndent, value);
        printValueText(option, value);
        if (value == optionDefaultValue(option)) plainOutput(" (default)");
        plainOutput("\n");
        if (value == optionMaximum(option)) break;  // the maximum may be INT32_MAX
      }
      break;
    default:
      plainOutput("\n");
      break;
  }
}

void printValueText(int option, int value) {
  switch (optionKind(option)) {
    case Flag:
      plainOutput("%s", value != 0 ? "YES" : "NO");
      break;
    case Range:
      if (value == -1) {
        plainOutput("%s", "NOT DEFINED");
      } else {
        plainOutput("%i", value);
      }
      break;
    case Choice:
      plainOutput("%s", optionValueName(option, value));
      break;
    default:
      break;
  }
}

}  // namespace tavrel
