// The command line, from an argument vector to option values, file names,
// messages and the fatal stop; the value lists under it; the usage text.
#include <gtest/gtest.h>

#include <numeric>

#include "cmdline/arguments.h"
#include "cmdline/options.h"
#include "support/test_support.h"

namespace tavrel {
namespace {

using Strings = std::vector<std::string>;

FileParameter record(int level, int direction, std::string extension = "") {
  return {"stale", std::move(extension), level, direction};
}

// Runs the parse over "tavrel" and the arguments, from options left at odd
// values, with a fatal stop that throws instead of ending the process.
// Returns the output and the names, or no names when the process stopped.
std::pair<std::string, Strings> parse(Strings arguments, std::vector<FileParameter> records) {
  arguments.insert(arguments.begin(), "tavrel");
  std::vector<char*> argv;
  for (std::string& a : arguments) argv.push_back(a.data());
  for (int option = 1; option <= 3; ++option) setOptionValue(option, 200);
  Strings paths;
  test::CapturedConsole console;
  setFatalHandler([](int code) { throw code; });
  try {
    const auto names = std::count_if(arguments.begin() + 1, arguments.end(),
                                     [](const std::string& a) { return a.empty() || a[0] != '-'; });
    EXPECT_EQ(parseCommandLine(static_cast<int>(argv.size()), argv.data(),
                               static_cast<int>(records.size()), records.data()),
              names);
    for (const FileParameter& r : records) paths.push_back(r.path);
  } catch (int code) {
    EXPECT_EQ(code, -1);
  }
  setFatalHandler(nullptr);
  EXPECT_EQ(console.err(), "");
  return {console.out(), paths};
}

std::string range(char letter, int value, int maximum) {
  return "ERROR: Parameter " + std::string(1, letter) + "(1) = " + std::to_string(value) +
         " is out of range [0," + std::to_string(maximum) + "].\n";
}

const std::string kClash = "ERROR: Input and output filenames should be different.\n";
const std::string kUsage = test::readFile(test::dataPath("usage.txt"));

TEST(CommandLine, ParseTable) {
  const Strings ab = {"a.ppm", "b.ppm"};
  const std::string unknown = "ERROR: Unknown option -", longIn(4096, 'i'), longOut(100000, 'o');
  const struct {
    Strings arguments;
    std::string out;
    Strings paths;            // empty: the process stops with -1
    std::vector<int> values;  // QuietLevel, Overwrite, Admissible color depth; options
                              // applied before a stop stay applied
  } cases[] = {
      {{"a", "b"}, "", ab, {2, 0, 0}},
      {{"-q3", "a", "-c16", "b"}, "", ab, {3, 0, 16}},
      {{"a", "b", "-O5"}, "", ab, {2, 1, 0}},                  // a switch ignores any value
      {{"-C-5", "-Q=5", "a", "b"}, "", ab, {5, 0, 5}},         // sign and '=' are skipped
      {{"-C5,7", "-Q1", "-Q4", "a", "b"}, "", ab, {4, 0, 5}},  // C has no second value
      {{"-C256", "-Q0", "a", "b"}, "", ab, {0, 0, 256}},
      // Out of range: reported, the option keeps its value, the parse goes on.
      {{"-Q9", "-C257", "a", "b"}, range('Q', 9, 6) + range('C', 257, 256), ab, {2, 0, 0}},
      {{"-Q6", "-Q7", "-C,", "a", "b"}, range('Q', 7, 6) + range('C', -1, 256), ab, {6, 0, 0}},
      {{"-C12", "-C99999999999", "a", "b"}, range('C', 2147483647, 256), ab, {2, 0, 12}},
      // Default extensions go to the last path component only.
      {{"photo.PPM", "dir.old/photo"}, "", {"photo.PPM", "dir.old/photo.ppm"}, {2, 0, 0}},
      {{"./photo", "photo."}, "", {"./photo.ppm", "photo."}, {2, 0, 0}},
      {{"", "d.x\\y"}, "", {".ppm", "d.x\\y.ppm"}, {2, 0, 0}},
      {{longIn, longOut}, "", {longIn + ".ppm", longOut + ".ppm"}, {2, 0, 0}},
      // Names compare with ASCII letters folded, and nothing else.
      {{"a", "A.PPM"}, kClash, {}, {2, 0, 0}},
      {{"-Q1", "x.ppm", "X"}, kClash, {}, {1, 0, 0}},
      {{"[", "{"}, "", {"[.ppm", "{.ppm"}, {2, 0, 0}},
      {{"\xe9", "\xc9"}, "", {"\xe9.ppm", "\xc9.ppm"}, {2, 0, 0}},
      // Failures.
      {{}, kUsage, {}, {2, 0, 0}},
      {{"-Q3"}, kUsage, {}, {3, 0, 0}},
      {{"-Q5", "in"}, "ERROR: Too few parameters\n\n" + kUsage, {}, {5, 0, 0}},
      {{"a", "b", "c"}, "ERROR: Too many parameters\n\n" + kUsage, {}, {2, 0, 0}},
      {{"a", "b", "-x"}, unknown + "X found.\n", {}, {2, 0, 0}},
      {{"-Q", "a", "b"}, unknown + "Q found.\n", {}, {2, 0, 0}},
      {{"-C", "5", "a", "b"}, unknown + "C found.\n", {}, {2, 0, 0}},
      {{"-Q9", "-O", "-x3", "a", "b"}, range('Q', 9, 6) + unknown + "X found.\n", {}, {2, 1, 0}},
      {{"-", "a", "b"}, unknown + std::string(1, '\0') + " found.\n", {}, {2, 0, 0}},
      {{"-\xe9", "a", "b"}, unknown + "\xe9 found.\n", {}, {2, 0, 0}}};
  for (const auto& c : cases) {
    std::string label;
    for (const std::string& a : c.arguments) label.append("[").append(a, 0, 20).append("]");
    SCOPED_TRACE(label);
    EXPECT_EQ(parse(c.arguments, {record(0, Input, "ppm"), record(0, Output, "ppm")}),
              std::pair(c.out, c.paths));
    EXPECT_EQ(std::vector<int>({optionValue(1), optionValue(2), optionValue(3)}), c.values);
  }
}

TEST(CommandLine, OptionalRecordsAndDirections) {
  const FileParameter in = record(0, Input), out = record(0, Output), opt1 = record(1, Input),
                      opt2 = record(2, Input);
  const std::string tooMany = "ERROR: Too many parameters\n\n" + kUsage;
  const struct {
    std::vector<FileParameter> records;
    Strings arguments, paths;  // no paths when the parse must stop
    std::string out;
  } cases[] = {{{in, opt1, out}, {"a", "-O", "c"}, {"a", "", "c"}, ""},
               // Levels in any position; the lowest levels are filled first.
               {{opt2, opt1, out}, {"a", "b", "c"}, {"a", "b", "c"}, ""},
               {{opt2, opt1, out}, {"a", "b"}, {"", "a", "b"}, ""},
               {{out, opt1}, {"a"}, {"a", ""}, ""},
               // Empty names clash unless exempt; two inputs may be the same file;
               // every earlier record is compared.
               {{in, record(1, Output), record(2, Output)}, {"a"}, {}, kClash},
               {{in, record(1, Exempt), record(2, Exempt)}, {"a"}, {"a", "", ""}, ""},
               {{in, in, record(0, Exempt), out}, {"a", "a", "c", "c"}, {"a", "a", "c", "c"}, ""},
               {{in, in, out}, {"x", "y", "X"}, {}, kClash},
               {{out, out}, {"a", "a"}, {}, kClash},
               // Levels that skip a number leave an argument without a record.
               {{in, opt2}, {"a", "b"}, {}, tooMany}};
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    EXPECT_EQ(parse(cases[i].arguments, cases[i].records), std::pair(cases[i].out, cases[i].paths))
        << i;
  }
  resetOptions();
}

// A comma closing a number makes no item; numbers saturate instead of
// wrapping; 19 places at most, whatever the capacity.
TEST(CommandLine, ValueLists) {
  std::string nineteen, more;
  for (int i = 1; i <= 25; ++i) (i <= 19 ? nineteen : more) += std::to_string(i) + ",";
  std::vector<int> first19(19);
  std::iota(first19.begin(), first19.end(), 1);
  const struct {
    std::string text;
    int capacity;
    std::vector<int> values;
  } cases[] = {{"", 20, {}},
               {",5", 20, {-1, 5}},
               {"5,", 20, {5}},
               {"5,,", 20, {5, -1}},
               {"-5", 20, {5}},
               {"abc", 20, {}},
               {"5abc,3", 20, {5, 3}},
               {"5-3", 20, {5}},
               {"x,y", 20, {-1}},
               {"007", 20, {7}},
               {"2147483647", 20, {2147483647}},
               {"2147483648", 20, {2147483647}},
               {"99999999999999999999,3", 20, {2147483647, 3}},
               {nineteen + more, 20, first19},
               {nineteen + more, 1000, first19},
               {std::string(25, ','), 20, std::vector<int>(19, -1)},
               {"1,2,3", 3, {1, 2}},
               {"1,2,3", 1, {}},
               {"1,2,3", -5, {}}};
  for (const auto& c : cases) {
    ValueList list;
    list.count = 12345;
    std::fill(std::begin(list.values), std::end(list.values), 777);
    readValueList(c.text.c_str(), c.capacity, &list);
    std::vector<int> expected(kValueListCapacity, -1);
    std::copy(c.values.begin(), c.values.end(), expected.begin() + 1);
    EXPECT_EQ(list.count, static_cast<int>(c.values.size())) << c.text << " " << c.capacity;
    EXPECT_EQ(std::vector<int>(std::begin(list.values), std::end(list.values)), expected) << c.text;
  }
}

TEST(CommandLine, ExtensionUsageAndValueTexts) {
  for (const char* name : {"x.ppm", ".ppm"}) EXPECT_EQ(hasExtension(name, "ppm"), 1) << name;
  for (const char* name : {"x.PPM", "a.b.ppm", "./x.ppm", "x", "x.ppmx", "x.pp"}) {
    EXPECT_EQ(hasExtension(name, "ppm"), 0) << name;
  }
  EXPECT_EQ(std::pair(hasExtension("x.", ""), hasExtension("x.ppm", nullptr)), std::pair(1, 0));
  test::CapturedConsole console;
  setOptionValue(QuietLevelOption, 6);  // the usage shows the defaults all the same
  setOptionValue(OverwriteOption, 1);
  printUsage();
  for (auto [option, value] : {std::pair{int{OverwriteOption}, -1},
                               {ColorDepthOption, -1},
                               {ColorDepthOption, -2},
                               {QuietLevelOption, 7},
                               {QuietLevelOption, -1},
                               {0, 1}}) {
    printValueText(option, value);
    plainOutput("|");
  }
  EXPECT_EQ(console.out(), kUsage + "YES|NOT DEFINED|-2||||");
  resetOptions();
}

}  // namespace
}  // namespace tavrel
