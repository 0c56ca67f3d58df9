// The command line, from an argument vector to option values, file names,
// messages and the fatal stop; the value lists and name rules under it; and
// the usage text.
#include <gtest/gtest.h>

#include "cmdline/arguments.h"
#include "cmdline/options.h"
#include "shell/console.h"
#include "support/test_support.h"

namespace tavrel {
namespace {

struct FatalStopped {
  int code;
};

struct Outcome {
  std::string out;
  std::vector<std::string> paths;  // empty when the parse stopped the process
  std::vector<int> values;         // QuietLevel, Overwrite, Admissible color depth
};

FileParameter record(int level, int direction, std::string extension = "") {
  FileParameter p;
  p.optionalLevel = level;
  p.direction = direction;
  p.defaultExtension = std::move(extension);
  return p;
}

// The records the program itself passes: input, then output.
const std::vector<FileParameter> kProgram = {record(0, Input, "ppm"), record(0, Output, "ppm")};

// Runs the parse over "tavrel" and the arguments, from options left at odd
// values, with a fatal stop that throws instead of ending the process.
Outcome parse(std::vector<std::string> arguments, std::vector<FileParameter> records = kProgram) {
  arguments.insert(arguments.begin(), "tavrel");
  std::vector<char*> argv;
  for (std::string& a : arguments) argv.push_back(a.data());
  argv.push_back(nullptr);
  for (int option = 1; option <= 3; ++option) setOptionValue(option, 200);
  Outcome outcome;
  test::CapturedConsole console;
  setFatalHandler([](int code) { throw FatalStopped{code}; });
  try {
    EXPECT_EQ(parseCommandLine(static_cast<int>(arguments.size()), argv.data(),
                               static_cast<int>(records.size()), records.data()),
              std::count_if(arguments.begin() + 1, arguments.end(),
                            [](const std::string& a) { return a.empty() || a[0] != '-'; }));
    for (const FileParameter& r : records) outcome.paths.push_back(r.path);
  } catch (const FatalStopped& stop) {
    EXPECT_EQ(stop.code, -1);
  }
  setFatalHandler(nullptr);
  outcome.out = console.out();
  EXPECT_EQ(console.err(), "");
  for (int option = 1; option <= 3; ++option) outcome.values.push_back(optionValue(option));
  resetOptions();
  return outcome;
}

std::string outOfRange(char letter, int value, int maximum) {
  return formatString("ERROR: Parameter %c(1) = %i is out of range [0,%i].\n", letter, value,
                      maximum);
}

const std::vector<std::string> kAB = {"a.ppm", "b.ppm"};
const std::string kClash = "ERROR: Input and output filenames should be different.\n";
const std::string kUnknown = "ERROR: Unknown option -";

TEST(CommandLine, ParseTable) {
  const std::string usage = test::readFile(test::dataPath("usage.txt"));
  ASSERT_FALSE(usage.empty());
  const std::string longIn(4096, 'i'), longOut(100000, 'o');
  struct Case {
    std::vector<std::string> arguments;
    std::string out;
    std::vector<std::string> paths;  // empty: the process stops with -1
    std::vector<int> values;         // options applied before a stop stay applied
  };
  const Case cases[] = {
      {{"a", "b"}, "", kAB, {2, 0, 0}},
      {{"-C4", "a", "b"}, "", kAB, {2, 0, 4}},
      {{"-q3", "a", "-c16", "b"}, "", kAB, {3, 0, 16}},
      {{"a", "b", "-O5"}, "", kAB, {2, 1, 0}},  // a switch ignores any value
      {{"-C-5", "-Q=5", "a", "b"}, "", kAB, {5, 0, 5}},  // sign and '=' are skipped
      {{"-C5,7", "-Q1", "-Q4", "a", "b"}, "", kAB, {4, 0, 5}},
      {{"-C256", "-Q0", "a", "b"}, "", kAB, {0, 0, 256}},
      // Out of range: reported, the option keeps its value, the parse goes on.
      {{"-Q9", "-C257", "a", "b"}, outOfRange('Q', 9, 6) + outOfRange('C', 257, 256), kAB,
       {2, 0, 0}},
      {{"-Q4", "-Q7", "-C,", "a", "b"}, outOfRange('Q', 7, 6) + outOfRange('C', -1, 256), kAB,
       {4, 0, 0}},
      {{"-C12", "-C99999999999", "a", "b"}, outOfRange('C', 2147483647, 256), kAB, {2, 0, 12}},
      // Default extensions go to the last path component only.
      {{"photo.PPM", "dir.old/photo"}, "", {"photo.PPM", "dir.old/photo.ppm"}, {2, 0, 0}},
      {{"./photo", "photo."}, "", {"./photo.ppm", "photo."}, {2, 0, 0}},
      {{"", "d\\x.y/"}, "", {".ppm", "d\\x.y/.ppm"}, {2, 0, 0}},
      {{longIn, longOut}, "", {longIn + ".ppm", longOut + ".ppm"}, {2, 0, 0}},
      // Failures.
      {{}, usage, {}, {2, 0, 0}},
      {{"-Q3"}, usage, {}, {3, 0, 0}},
      {{"-Q5", "in"}, "ERROR: Too few parameters\n\n" + usage, {}, {5, 0, 0}},
      {{"a", "b", "c"}, "ERROR: Too many parameters\n\n" + usage, {}, {2, 0, 0}},
      {{"a", "b", "-x"}, kUnknown + "X found.\n", {}, {2, 0, 0}},
      {{"-Q", "a", "b"}, kUnknown + "Q found.\n", {}, {2, 0, 0}},
      {{"-Cx", "a", "b"}, kUnknown + "C found.\n", {}, {2, 0, 0}},
      {{"-C", "5", "a", "b"}, kUnknown + "C found.\n", {}, {2, 0, 0}},
      {{"-Q9", "-O", "-x3", "a", "b"}, outOfRange('Q', 9, 6) + kUnknown + "X found.\n", {},
       {2, 1, 0}},
      // A lone '-' has a NUL in the letter's place.
      {{"-", "a", "b"}, kUnknown + std::string(1, '\0') + " found.\n", {}, {2, 0, 0}},
      {{"-\xe9", "a", "b"}, kUnknown + "\xe9 found.\n", {}, {2, 0, 0}},
      // Names compare with ASCII letters folded, and nothing else.
      {{"a", "A.PPM"}, kClash, {}, {2, 0, 0}},
      {{"-Q1", "x.ppm", "X"}, kClash, {}, {1, 0, 0}},
      {{"[", "{"}, "", {"[.ppm", "{.ppm"}, {2, 0, 0}},
      {{"\xe9", "\xc9"}, "", {"\xe9.ppm", "\xc9.ppm"}, {2, 0, 0}},
  };
  for (const Case& c : cases) {
    std::string label;
    for (const std::string& a : c.arguments) label += "[" + a.substr(0, 20) + "]";
    SCOPED_TRACE(label);
    const Outcome o = parse(c.arguments);
    EXPECT_EQ(o.out, c.out);
    EXPECT_EQ(o.paths, c.paths);
    EXPECT_EQ(o.values, c.values);
  }
}

TEST(CommandLine, OptionalRecordsAndDirections) {
  const FileParameter in = record(0, Input), out = record(0, Output);
  const FileParameter opt1 = record(1, Input), opt2 = record(2, Input), opt3 = record(3, Input);
  const std::string tooMany =
      "ERROR: Too many parameters\n\n" + test::readFile(test::dataPath("usage.txt"));
  struct Case {
    std::vector<FileParameter> records;
    std::vector<std::string> arguments;
    std::vector<std::string> paths;  // empty when the parse must stop
    std::string out;
  };
  const Case cases[] = {
      {{in, opt1, out}, {"a", "b", "c"}, {"a", "b", "c"}, ""},
      {{in, opt1, out}, {"a", "-O", "c"}, {"a", "", "c"}, ""},
      // Levels in any position; the lowest levels are filled first.
      {{opt2, opt1, out}, {"a", "b"}, {"", "a", "b"}, ""},
      {{opt2, opt1, out}, {"a"}, {"", "", "a"}, ""},
      {{out, opt1}, {"a"}, {"a", ""}, ""},
      // Empty names clash unless their directions exempt them; two inputs may
      // be the same file; every earlier record is compared.
      {{in, record(1, Output), record(2, Output)}, {"a"}, {}, kClash},
      {{in, record(1, Exempt), record(2, Exempt)}, {"a"}, {"a", "", ""}, ""},
      {{in, in, out}, {"a", "a", "b"}, {"a", "a", "b"}, ""},
      {{in, record(0, Exempt), out}, {"a", "a", "c"}, {"a", "a", "c"}, ""},
      {{in, in, out}, {"x", "y", "X"}, {}, kClash},
      {{out, out}, {"a", "a"}, {}, kClash},
      // Levels that skip a number leave an argument without a record.
      {{in, opt2}, {"a", "b"}, {}, tooMany},
      {{opt3, opt2, out}, {"a", "b", "c"}, {}, tooMany},
  };
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(i);
    const Outcome o = parse(cases[i].arguments, cases[i].records);
    EXPECT_EQ(o.out, cases[i].out);
    EXPECT_EQ(o.paths, cases[i].paths);
  }
}

TEST(CommandLine, ValueLists) {
  std::string nineteen, twentyFive;
  std::vector<std::int32_t> first19;
  for (int i = 1; i <= 25; ++i) {
    (i <= 19 ? nineteen : twentyFive) += std::to_string(i) + ",";
    if (i <= 19) first19.push_back(i);
  }
  struct Case {
    std::string text;
    int capacity;
    std::vector<std::int32_t> values;
  };
  const Case cases[] = {
      {"", 20, {}},
      {"5,7", 20, {5, 7}},
      {",", 20, {-1}},
      {",5", 20, {-1, 5}},
      {"5,", 20, {5}},  // the comma that closes a number makes no item
      {"5,,", 20, {5, -1}},
      {"-5", 20, {5}},
      {"abc", 20, {}},
      {"5abc,3", 20, {5, 3}},
      {"5-3", 20, {5}},  // no comma after the number: the list ends
      {"x,y", 20, {-1}},
      {"007", 20, {7}},
      {"2147483647", 20, {2147483647}},
      {"2147483648", 20, {2147483647}},  // saturates instead of wrapping
      {"99999999999999999999,3", 20, {2147483647, 3}},
      {nineteen + twentyFive, 20, first19},  // at most 19 items
      {nineteen, 1000, first19},  // a capacity beyond the record's places is held to them
      {std::string(25, ','), 20, std::vector<std::int32_t>(19, -1)},
      {"1,2,3", 3, {1, 2}},
      {"1,2,3", 1, {}},
      {"1,2,3", -5, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("\"" + c.text + "\" " + std::to_string(c.capacity));
    ValueList list;
    list.count = 12345;
    std::fill(std::begin(list.values), std::end(list.values), 777);
    readValueList(c.text.c_str(), c.capacity, &list);
    std::vector<std::int32_t> expected(kValueListCapacity, -1);
    std::copy(c.values.begin(), c.values.end(), expected.begin() + 1);
    EXPECT_EQ(list.count, static_cast<int>(c.values.size()));
    EXPECT_EQ(std::vector<std::int32_t>(std::begin(list.values), std::end(list.values)), expected);
  }
}

TEST(CommandLine, ExtensionIsTheTextAfterTheFirstDot) {
  const std::pair<const char*, int> cases[] = {
      {"photo.ppm", 1}, {".ppm", 1},     {"photo.PPM", 0},  {"a.b.ppm", 0},
      {"./x.ppm", 0},   {"photo", 0},    {"photo.ppmx", 0}, {"photo.pp", 0},
  };
  for (const auto& [name, result] : cases) EXPECT_EQ(hasExtension(name, "ppm"), result) << name;
  EXPECT_EQ(hasExtension("photo.", ""), 1);
  EXPECT_EQ(hasExtension("photo.ppm", nullptr), 0);
}

TEST(CommandLine, UsageAndValueTexts) {
  // The usage shows the defaults, whatever the current values are.
  setOptionValue(QuietLevelOption, 6);
  setOptionValue(OverwriteOption, 1);
  {
    test::CapturedConsole console;
    printUsage();
    EXPECT_EQ(console.out(), test::readFile(test::dataPath("usage.txt")));
    EXPECT_EQ(console.err(), "");
  }
  resetOptions();
  const std::tuple<int, int, const char*> cases[] = {
      {OverwriteOption, 1, "YES"},           {OverwriteOption, -1, "YES"},
      {ColorDepthOption, -1, "NOT DEFINED"}, {ColorDepthOption, -2, "-2"},
      {QuietLevelOption, 7, ""},             {QuietLevelOption, -1, ""},
      {0, 1, ""},
  };
  for (const auto& [option, value, text] : cases) {
    test::CapturedConsole console;
    printValueText(option, value);
    EXPECT_EQ(console.out(), text) << option << ":" << value;
  }
}

}  // namespace
}  // namespace tavrel
