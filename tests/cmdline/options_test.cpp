#include "cmdline/options.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "support/test_support.h"

namespace tavrel {
namespace {

class OptionsTest : public ::testing::Test {
 protected:
  void TearDown() override { resetOptions(); }
};

TEST(OptionsFreshProcessTest, ValuesAreZeroBeforeAnyReset) {
  // Other tests reset and set the table, so this looks at a fresh process.
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(std::exit(optionValue(1) == 0 && optionValue(2) == 0 && optionValue(3) == 0 ? 0 : 1),
              ::testing::ExitedWithCode(0), "");
}

TEST_F(OptionsTest, RowsResetAndStoreWithoutValidation) {
  struct Row {
    int option;
    const char* name;
    char letter;
    int parameterIndex, kind, minimum, maximum, defaultValue;
  };
  const Row rows[] = {
      {QuietLevelOption, "QuietLevel", 'Q', 1, Choice, 0, 6, 2},
      {OverwriteOption, "Overwrite", 'O', 0, Flag, 0, 1, 0},
      {ColorDepthOption, "Admissible color depth", 'C', 1, Range, 0, 256, 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.option);
    EXPECT_STREQ(optionName(row.option), row.name);
    EXPECT_EQ(optionLetter(row.option), row.letter);
    EXPECT_EQ(optionParameterIndex(row.option), row.parameterIndex);
    EXPECT_EQ(optionKind(row.option), row.kind);
    EXPECT_EQ(optionMinimum(row.option), row.minimum);
    EXPECT_EQ(optionMaximum(row.option), row.maximum);
    EXPECT_EQ(optionDefaultValue(row.option), row.defaultValue);
    setOptionValue(row.option, 100000);
    EXPECT_EQ(optionValue(row.option), 100000);
  }
  // Indexes outside 1..3 address no row: they read as nothing and a store
  // to them changes nothing.
  for (int option : {0, -1, 4}) {
    setOptionValue(option, 9);
    EXPECT_EQ(optionValue(option), 0);
    EXPECT_STREQ(optionName(option), "");
    EXPECT_EQ(optionLetter(option), '\0');
  }
  EXPECT_EQ(optionValue(QuietLevelOption), 100000);
  resetOptions();
  EXPECT_EQ(optionValue(QuietLevelOption), 2);
  EXPECT_EQ(optionValue(OverwriteOption), 0);
  EXPECT_EQ(optionValue(ColorDepthOption), 0);
}

TEST_F(OptionsTest, LookupsByLetter) {
  struct Case {
    char letter;
    int parameterIndex, option;
  };
  const Case cases[] = {
      {'Q', 1, QuietLevelOption},
      {'O', 0, OverwriteOption},
      {'C', 1, ColorDepthOption},
      {'Q', 0, 0},
      {'O', 1, 0},
      {'C', 2, 0},
      {'X', 0, 0},
      {'\0', 0, 0},
      {'q', 1, 0},  // exact comparison; folding is the parse's job
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.letter << c.parameterIndex);
    EXPECT_EQ(findOption(c.letter, c.parameterIndex), c.option);
  }
  struct LetterCase {
    char letter;
    int numbered, used;
  };
  const LetterCase letters[] = {{'Q', 1, 1}, {'O', 0, 1}, {'C', 1, 1}, {'A', 0, 0}, {'c', 0, 0}};
  for (const LetterCase& c : letters) {
    SCOPED_TRACE(c.letter);
    EXPECT_EQ(countNumberedOptions(c.letter), c.numbered);
    EXPECT_EQ(isOptionLetter(c.letter), c.used);
  }
}

TEST_F(OptionsTest, ValueTextByKind) {
  struct Case {
    int option, value;
    const char* text;
  };
  const Case cases[] = {
      {OverwriteOption, 0, "NO"},
      {OverwriteOption, 1, "YES"},
      {OverwriteOption, -1, "YES"},
      {ColorDepthOption, 256, "256"},
      {ColorDepthOption, -1, "NOT DEFINED"},
      {ColorDepthOption, -2, "-2"},
      {QuietLevelOption, 0, "Silent (nothing)"},
      {QuietLevelOption, 6, "+Debug info"},
      // Values without a name must not read past the name list.
      {QuietLevelOption, 7, ""},
      {QuietLevelOption, -1, ""},
      {QuietLevelOption, 2147483647, ""},
      {0, 1, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.option << ":" << c.value);
    test::CapturedConsole console;
    printValueText(c.option, c.value);
    EXPECT_EQ(console.out(), c.text);
  }
  EXPECT_STREQ(optionValueName(OverwriteOption, 1), "YES");
  EXPECT_STREQ(optionValueName(OverwriteOption, 2), "");
  EXPECT_STREQ(optionValueName(ColorDepthOption, 5), "");
}

TEST_F(OptionsTest, OptionHeads) {
  struct Case {
    char letter;
    int count;
    const char* text;
  };
  const Case cases[] = {
      // A bare switch finishes the head line with its own description.
      {'O', 0, "  -O               = Overwrite (default=NO)\n"},
      {'O', 1, "  -On              = Overwrite (default=NO)\n"},
      {'O', 4, "  -O[n1,n2,..n4 ]  = Overwrite (default=NO)\n"},
      // A single numbered parameter leaves the head line open for it.
      {'C', 1, "  -Cn              = "},
      // Several numbered parameters put the head on its own line.
      {'Q', 2, "  -Qn1,n2          = \n"},
      {'Q', 3, "  -Qn1,n2,n3       = \n"},
      {'Q', 10, "  -Q[n1,n2,..n10]  = \n"},
      // A letter no option uses prints nothing.
      {'X', 3, ""},
      {'q', 1, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.letter << c.count);
    test::CapturedConsole console;
    printOptionHead(c.letter, c.count);
    EXPECT_EQ(console.out(), c.text);
  }
}

TEST_F(OptionsTest, OptionDescriptions) {
  const std::string indent(25, ' ');
  const std::string depth = "Admissible color depth (0..256, default=0)\n";
  struct Case {
    char letter;
    int option, parameterIndex, count;
    std::string text;
  };
  const Case cases[] = {
      {'C', ColorDepthOption, 1, 1, depth},
      {'O', OverwriteOption, 0, 0, "Overwrite (default=NO)\n"},
      // With a bare switch on the letter the single parameter gets "n: ".
      {'O', ColorDepthOption, 1, 1, indent + "n: " + depth},
      // With several numbered parameters each names its index.
      {'C', ColorDepthOption, 2, 2, indent + "n2: " + depth},
      {'C', ColorDepthOption, 10, 10, indent + "n10: " + depth},
      {'Q', OverwriteOption, 3, 3, indent + "n3: Overwrite (default=NO)\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.letter << c.parameterIndex);
    test::CapturedConsole console;
    printOptionDescription(c.letter, c.option, c.parameterIndex, c.count);
    EXPECT_EQ(console.out(), c.text);
  }
}

TEST_F(OptionsTest, UsageMatchesTheGoldenTextByteForByte) {
  const std::string golden = test::readFile(test::testDataPath("usage.txt"));
  ASSERT_FALSE(golden.empty());
  // The usage shows defaults, whatever the current values are.
  setOptionValue(QuietLevelOption, 6);
  setOptionValue(OverwriteOption, 1);
  setOptionValue(ColorDepthOption, -1);
  test::CapturedConsole console;
  printUsage();
  EXPECT_EQ(console.out(), golden);
  EXPECT_EQ(console.err(), "");
}

}  // namespace
}  // namespace tavrel
