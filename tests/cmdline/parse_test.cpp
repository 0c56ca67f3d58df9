// The whole parse, from an argument vector to option values, file names,
// messages and the fatal stop.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "cmdline/arguments.h"
#include "cmdline/options.h"
#include "shell/console.h"
#include "support/test_support.h"

namespace tavrel {
namespace {

struct FatalStopped {
  int code;
};

[[noreturn]] void throwOnFatalStop(int code) {
  throw FatalStopped{code};
}

struct Outcome {
  bool stopped = false;
  int code = 0;  // the fatal stop's code, or the parse's result
  std::string out;
  std::string err;
  std::vector<std::string> paths;
  int values[3] = {0, 0, 0};  // QuietLevel, Overwrite, Admissible color depth
};

// The records the program itself passes: input, then output.
std::vector<FileParameter> programRecords() {
  std::vector<FileParameter> records(2);
  records[0].defaultExtension = "ppm";
  records[0].direction = Input;
  records[1].defaultExtension = "ppm";
  records[1].direction = Output;
  return records;
}

FileParameter record(int level, int direction) {
  FileParameter p;
  p.optionalLevel = level;
  p.direction = direction;
  return p;
}

// Runs the parse over "tavrel" followed by the arguments, with a fatal stop
// that throws instead of ending the test process.
Outcome parse(const std::vector<std::string>& arguments,
              std::vector<FileParameter> records = programRecords()) {
  std::vector<std::string> storage{"tavrel"};
  storage.insert(storage.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (std::string& a : storage) argv.push_back(a.data());
  argv.push_back(nullptr);
  for (FileParameter& r : records) r.path = "stale";

  Outcome outcome;
  test::CapturedConsole console;
  setFatalHandler(throwOnFatalStop);
  try {
    outcome.code = parseCommandLine(static_cast<int>(storage.size()), argv.data(),
                                    static_cast<int>(records.size()), records.data());
  } catch (const FatalStopped& stop) {
    outcome.stopped = true;
    outcome.code = stop.code;
  }
  setFatalHandler(nullptr);
  outcome.out = console.out();
  outcome.err = console.err();
  for (const FileParameter& r : records) outcome.paths.push_back(r.path);
  for (int option = 1; option <= 3; ++option) outcome.values[option - 1] = optionValue(option);
  return outcome;
}

std::string label(const std::vector<std::string>& arguments) {
  std::string text;
  for (const std::string& a : arguments) text += "[" + a + "]";
  return text;
}

std::string outOfRange(char letter, int value, int maximum) {
  return formatString("ERROR: Parameter %c(1) = %i is out of range [0,%i].\n", letter, value,
                      maximum);
}

const char kClash[] = "ERROR: Input and output filenames should be different.\n";

class ParseTest : public ::testing::Test {
 protected:
  void TearDown() override { resetOptions(); }
  const std::string usage_ = test::readFile(test::testDataPath("usage.txt"));
};

TEST_F(ParseTest, OptionsAroundTwoNames) {
  struct Case {
    std::vector<std::string> options;  // placed before the names "a" and "b"
    std::string out;
    int quietLevel, overwrite, colorDepth;
  };
  const Case cases[] = {
      {{}, "", 2, 0, 0},
      {{"-C4"}, "", 2, 0, 4},
      {{"-q3", "-c16"}, "", 3, 0, 16},
      {{"-O"}, "", 2, 1, 0},
      {{"-O5"}, "", 2, 1, 0},  // a switch ignores any value
      {{"-C-5"}, "", 2, 0, 5},
      {{"-C=5"}, "", 2, 0, 5},
      {{"-C5,7"}, "", 2, 0, 5},  // C has no n2
      {{"-Q1", "-Q4"}, "", 4, 0, 0},
      // Out of range: reported, the option keeps its value, the parse goes on.
      {{"-Q9"}, outOfRange('Q', 9, 6), 2, 0, 0},
      {{"-Q4", "-Q9"}, outOfRange('Q', 9, 6), 4, 0, 0},
      {{"-C300"}, outOfRange('C', 300, 256), 2, 0, 0},
      {{"-C,"}, outOfRange('C', -1, 256), 2, 0, 0},
      {{"-C12", "-C99999999999"}, outOfRange('C', 2147483647, 256), 2, 0, 12},
      {{"-Q9", "-C999"}, outOfRange('Q', 9, 6) + outOfRange('C', 999, 256), 2, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(label(c.options));
    std::vector<std::string> arguments = c.options;
    arguments.push_back("a");
    arguments.push_back("b");
    const Outcome o = parse(arguments);
    EXPECT_FALSE(o.stopped);
    EXPECT_EQ(o.code, 2);
    EXPECT_EQ(o.out, c.out);
    EXPECT_EQ(o.err, "");
    EXPECT_EQ(o.paths, (std::vector<std::string>{"a.ppm", "b.ppm"}));
    EXPECT_EQ(o.values[0], c.quietLevel);
    EXPECT_EQ(o.values[1], c.overwrite);
    EXPECT_EQ(o.values[2], c.colorDepth);
  }
}

TEST_F(ParseTest, NamesGetTheDefaultExtension) {
  struct Case {
    std::vector<std::string> arguments;
    std::vector<std::string> paths;
  };
  const Case cases[] = {
      {{"photo", "result"}, {"photo.ppm", "result.ppm"}},
      {{"in", "-Q3", "out", "-O"}, {"in.ppm", "out.ppm"}},
      {{"photo.PPM", "dir.old/photo"}, {"photo.PPM", "dir.old/photo.ppm"}},
      {{"./photo.ppm", "photo."}, {"./photo.ppm", "photo."}},
      {{"", "out"}, {".ppm", "out.ppm"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(label(c.arguments));
    const Outcome o = parse(c.arguments);
    EXPECT_FALSE(o.stopped);
    EXPECT_EQ(o.out, "");
    EXPECT_EQ(o.paths, c.paths);
  }
}

TEST_F(ParseTest, FailuresStopWithTheirMessage) {
  ASSERT_FALSE(usage_.empty());
  const std::string unknown = "ERROR: Unknown option -";
  struct Case {
    std::vector<std::string> arguments;
    std::string out;
    int quietLevel;  // options applied before the failure stay applied
  };
  const Case cases[] = {
      {{}, usage_, 2},
      {{"-Q3"}, usage_, 3},
      {{"in"}, "ERROR: Too few parameters\n\n" + usage_, 2},
      {{"-Q5", "in"}, "ERROR: Too few parameters\n\n" + usage_, 5},
      {{"a", "b", "c"}, "ERROR: Too many parameters\n\n" + usage_, 2},
      {{"a", "b", "-x"}, unknown + "X found.\n", 2},
      {{"-Q", "a", "b"}, unknown + "Q found.\n", 2},
      {{"-Cx", "a", "b"}, unknown + "C found.\n", 2},
      // The parse ends at -C, so the 5 never counts as a third name.
      {{"-C", "5", "a", "b"}, unknown + "C found.\n", 2},
      // A value whose place has no parameter leaves the letter unknown.
      {{"-Q9", "-x3", "a", "b"}, outOfRange('Q', 9, 6) + unknown + "X found.\n", 2},
      {{"-Q4", "-z", "-Q6", "a"}, unknown + "Z found.\n", 4},
      // A lone '-' has a NUL in the letter's place; the rest still follows.
      {{"-", "a", "b"}, unknown + std::string(1, '\0') + " found.\n", 2},
      {{"-\xe9", "a", "b"}, unknown + "\xe9 found.\n", 2},
      {{"a", "A.PPM"}, kClash, 2},
      {{"-Q1", "x.ppm", "X"}, kClash, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(label(c.arguments));
    const Outcome o = parse(c.arguments);
    EXPECT_TRUE(o.stopped);
    EXPECT_EQ(o.code, -1);
    EXPECT_EQ(o.out, c.out);
    EXPECT_EQ(o.err, "");
    EXPECT_EQ(o.values[0], c.quietLevel);
  }
}

TEST_F(ParseTest, EveryParseStartsFromTheDefaults) {
  for (int option = 1; option <= 3; ++option) setOptionValue(option, 200);
  const Outcome o = parse({"a", "b"});
  EXPECT_EQ(o.values[0], 2);
  EXPECT_EQ(o.values[1], 0);
  EXPECT_EQ(o.values[2], 0);
}

TEST_F(ParseTest, OptionalRecords) {
  // Records without a default extension keep their names as given; the
  // optional ones are inputs so that two empty names do not clash.
  const FileParameter in = record(0, Input), out = record(0, Output);
  const FileParameter opt1 = record(1, Input), opt2 = record(2, Input), opt3 = record(3, Input);
  const std::string tooMany = "ERROR: Too many parameters\n\n" + usage_;
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
      {{opt2, opt1, out}, {"a", "b", "c"}, {"a", "b", "c"}, ""},
      {{opt2, opt1, out}, {"a", "b"}, {"", "a", "b"}, ""},
      {{opt2, opt1, out}, {"a"}, {"", "", "a"}, ""},
      {{out, opt1}, {"a"}, {"a", ""}, ""},
      // Empty names clash unless their directions exempt them.
      {{in, record(1, Output), record(2, Output)}, {"a"}, {}, kClash},
      {{in, record(1, Exempt), record(2, Exempt)}, {"a"}, {"a", "", ""}, ""},
      // Levels that skip a number leave an argument without a record: the
      // walk stops at the last record and reports one argument too many.
      {{in, opt2}, {"a", "b"}, {}, tooMany},
      {{opt2, out}, {"a", "b"}, {}, tooMany},
      {{opt3, opt2, out}, {"a", "b", "c"}, {}, tooMany},
  };
  int index = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(index++);
    const Outcome o = parse(c.arguments, c.records);
    EXPECT_EQ(o.out, c.out);
    EXPECT_EQ(o.stopped, c.paths.empty());
    if (!c.paths.empty()) {
      EXPECT_EQ(o.paths, c.paths);
    }
  }
}

TEST_F(ParseTest, NamesOfAnyLengthComeOutWhole) {
  // 122 + ".ppm" is the longest name the old fixed buffers held.
  for (std::size_t length : {122u, 123u, 127u, 4096u, 100000u}) {
    SCOPED_TRACE(length);
    const std::string input(length, 'i');
    const std::string output = "d/" + std::string(length - 2, 'o');
    const Outcome o = parse({"-C3", input, output});
    EXPECT_FALSE(o.stopped);
    EXPECT_EQ(o.out, "");
    EXPECT_EQ(o.paths, (std::vector<std::string>{input + ".ppm", output + ".ppm"}));
  }
  const Outcome same = parse({std::string(300, 'n'), std::string(300, 'N') + ".PPM"});
  EXPECT_TRUE(same.stopped);
  EXPECT_EQ(same.out, kClash);
}

void parseUnknownOption() {
  test::CapturedConsole quiet;
  char program[] = "tavrel";
  char option[] = "-x";
  char* argv[] = {program, option, nullptr};
  std::vector<FileParameter> records = programRecords();
  parseCommandLine(2, argv, 2, records.data());
  std::exit(0);
}

TEST_F(ParseTest, FailureExitsTheProcessWith255) {
  EXPECT_EXIT(parseUnknownOption(), ::testing::ExitedWithCode(255), "");
}

TEST(ParseOptionArgumentTest, StrayArgumentsAreReadSafely) {
  // Neither may read past its terminator.
  for (const char* argument : {"", "-"}) {
    SCOPED_TRACE(argument);
    test::CapturedConsole console;
    EXPECT_EQ(parseOptionArgument(argument), 0);
    EXPECT_EQ(console.out(), std::string("ERROR: Unknown option -\0 found.\n", 32));
  }
}

}  // namespace
}  // namespace tavrel
