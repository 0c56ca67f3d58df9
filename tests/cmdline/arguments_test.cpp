#include "cmdline/arguments.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "cmdline/options.h"
#include "support/test_support.h"

namespace tavrel {
namespace {

std::string joinNumbers(int from, int to) {
  std::string text;
  for (int i = from; i <= to; ++i) {
    if (i > from) text += ',';
    text += std::to_string(i);
  }
  return text;
}

std::vector<std::int32_t> numbers(int from, int to) {
  std::vector<std::int32_t> values;
  for (int i = from; i <= to; ++i) values.push_back(i);
  return values;
}

TEST(FoldLetterTest, OnlyAsciiLowerCaseLettersChange) {
  const char in[] = "azAZ`{@[0-\xe9\xff";
  const char out[] = "AZAZ`{@[0-\xe9\xff";  // no locale: bytes above 127 stay
  for (std::size_t i = 0; i + 1 < sizeof in; ++i) EXPECT_EQ(foldLetter(in[i]), out[i]) << i;
  EXPECT_EQ(foldLetter('\0'), '\0');
}

TEST(ValueListTest, ReadsNumbersAndEmptyItems) {
  struct Case {
    std::string text;
    std::vector<std::int32_t> values;
  };
  const Case cases[] = {
      {"", {}},
      {"5", {5}},
      {"5,7", {5, 7}},
      {",", {-1}},
      {",,", {-1, -1}},
      {",5", {-1, 5}},
      {"5,", {5}},  // the comma that closes a number makes no item
      {"5,,", {5, -1}},
      {"-5", {5}},  // the sign is skipped, the magnitude read
      {"=5", {5}},
      {"x", {}},
      {"abc", {}},
      {"5abc,3", {5, 3}},
      {"5-3", {5}},  // no comma after the number: the list ends
      {"1 2", {1}},
      {"x,y", {-1}},
      {"007", {7}},
      {"0", {0}},
      {"2147483646", {2147483646}},
      {"2147483647", {2147483647}},
      // Numbers beyond 32 bits saturate instead of wrapping.
      {"2147483648", {2147483647}},
      {"99999999999999999999", {2147483647}},
      {"99999999999,3", {2147483647, 3}},
      // At most 19 items are read.
      {joinNumbers(1, 19), numbers(1, 19)},
      {joinNumbers(1, 25), numbers(1, 19)},
      {std::string(25, ','), std::vector<std::int32_t>(19, -1)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("\"" + c.text + "\"");
    ValueList list;
    list.count = 12345;
    for (std::int32_t& v : list.values) v = 777;
    readValueList(c.text.c_str(), kValueListCapacity, &list);
    ASSERT_EQ(list.count, static_cast<int>(c.values.size()));
    EXPECT_EQ(list.values[0], -1);
    for (int i = 1; i < kValueListCapacity; ++i) {
      const std::int32_t expected = i <= list.count ? c.values[i - 1] : -1;
      EXPECT_EQ(list.values[i], expected) << "place " << i;
    }
  }
}

TEST(ValueListTest, CapacityBoundsTheCount) {
  struct Case {
    int capacity;
    int count;
  };
  // A capacity beyond the record's twenty places is held to them.
  const Case cases[] = {{-5, 0}, {0, 0}, {1, 0}, {2, 1}, {3, 2}, {20, 19}, {21, 19}, {1000, 19}};
  const std::string text = joinNumbers(1, 40);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.capacity);
    ValueList list;
    readValueList(text.c_str(), c.capacity, &list);
    EXPECT_EQ(list.count, c.count);
    for (int i = 1; i <= list.count; ++i) EXPECT_EQ(list.values[i], i);
  }
}

TEST(ValueListTest, NullTextIsAnEmptyList) {
  ValueList list;
  readValueList(nullptr, kValueListCapacity, &list);
  EXPECT_EQ(list.count, 0);
  for (std::int32_t v : list.values) EXPECT_EQ(v, -1);
}

TEST(ApplyOptionValueTest, ValidatesByKind) {
  struct Case {
    char letter;
    int parameterIndex, option, value, result;
    int stored;  // the option's value afterwards; it starts at 11
    std::string message;
  };
  const Case cases[] = {
      // A switch is set to 1 whatever is passed.
      {'O', 0, OverwriteOption, -1, 1, 1, ""},
      {'Q', 1, QuietLevelOption, 0, 1, 0, ""},
      {'Q', 1, QuietLevelOption, -1, 0, 11, "ERROR: Parameter Q(1) = -1 is out of range [0,6].\n"},
      {'C', 1, ColorDepthOption, 256, 1, 256, ""},
      {'C', 1, ColorDepthOption, 257, 0, 11,
       "ERROR: Parameter C(1) = 257 is out of range [0,256].\n"},
      // The letter and index are reported as given.
      {'Z', 4, ColorDepthOption, -3, 0, 11,
       "ERROR: Parameter Z(4) = -3 is out of range [0,256].\n"},
      // No option: nothing to store, nothing to report.
      {'X', 1, 0, 5, 1, 0, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.letter << "=" << c.value);
    setOptionValue(c.option, 11);
    test::CapturedConsole console;
    EXPECT_EQ(applyOptionValue(c.letter, c.parameterIndex, c.option, c.value), c.result);
    EXPECT_EQ(optionValue(c.option), c.stored);
    EXPECT_EQ(console.out(), c.message);
  }
  resetOptions();
}

TEST(FileNameTest, DefaultExtensionLooksAtTheLastComponentOnly) {
  struct Case {
    std::string name;
    std::string extension;
    std::string result;
  };
  const Case cases[] = {
      {"photo", "ppm", "photo.ppm"},
      {"photo.PPM", "ppm", "photo.PPM"},
      {"photo.", "ppm", "photo."},
      {".hidden", "ppm", ".hidden"},
      {"photo.tar.gz", "ppm", "photo.tar.gz"},
      {"dir.old/photo", "ppm", "dir.old/photo.ppm"},
      {"dir.old\\photo", "ppm", "dir.old\\photo.ppm"},
      {"a.b/c\\d", "ppm", "a.b/c\\d.ppm"},
      {"dir/.x", "ppm", "dir/.x"},
      {"dir/", "ppm", "dir/.ppm"},
      {"./photo.ppm", "ppm", "./photo.ppm"},
      {"./photo", "ppm", "./photo.ppm"},
      {"", "ppm", ".ppm"},
      {"photo", "pgm", "photo.pgm"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string name = c.name;
    appendDefaultExtension(name, c.extension);
    EXPECT_EQ(name, c.result);
  }
}

TEST(FileNameTest, ExtensionIsTheTextAfterTheFirstDot) {
  struct Case {
    std::string name;
    const char* extension;
    int result;
  };
  const Case cases[] = {
      {"photo.ppm", "ppm", 1},   {"photo.PPM", "ppm", 0},  // case-sensitive
      {"a.b.ppm", "ppm", 0},     {"./photo.ppm", "ppm", 0}, {"dir.old/photo.ppm", "ppm", 0},
      {"photo", "ppm", 0},       {"photo.ppmx", "ppm", 0},  {"photo.pp", "ppm", 0},
      {".ppm", "ppm", 1},        {"photo.", "", 1},         {"photo", "", 0},
      {"photo.ppm", nullptr, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(hasExtension(c.name, c.extension), c.result);
  }
}

TEST(FileNameTest, NamesCompareWithAsciiLettersFolded) {
  struct Case {
    std::string a;
    std::string b;
    int equal;
  };
  const Case cases[] = {
      {"a.ppm", "A.PPM", 1},
      {"photo.ppm", "photo.ppm", 1},
      {"", "", 1},
      {"a", "a.ppm", 0},
      {"a.ppm", "a", 0},
      {"abc", "abd", 0},
      {"", "a", 0},
      // Only letters fold: '[' and '{' differ by 32 as 'A' and 'a' do.
      {"[", "{", 0},
      {"@", "`", 0},
      {"\xe9", "\xc9", 0},  // no locale: accented letters stay distinct
      {"\xe9", "\xe9", 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.a + " vs " + c.b);
    EXPECT_EQ(namesEqualIgnoringCase(c.a, c.b), c.equal);
    EXPECT_EQ(namesEqualIgnoringCase(c.b, c.a), c.equal);
  }
}

FileParameter record(const std::string& path, int direction) {
  FileParameter p;
  p.path = path;
  p.direction = direction;
  return p;
}

TEST(DistinctNamesTest, ComparesByDirection) {
  const std::string clash = "ERROR: Input and output filenames should be different.\n";
  struct Case {
    std::vector<FileParameter> records;
    int result;
  };
  const Case cases[] = {
      {{record("a.ppm", Input), record("b.ppm", Output)}, 1},
      {{record("a.ppm", Input), record("A.PPM", Output)}, 0},
      {{record("a.ppm", Output), record("a.ppm", Input)}, 0},
      {{record("a.ppm", Output), record("a.ppm", Output)}, 0},
      // Two inputs may be the same file.
      {{record("a.ppm", Input), record("a.ppm", Input)}, 1},
      // An exempt record clashes with nothing.
      {{record("a.ppm", Exempt), record("a.ppm", Output)}, 1},
      {{record("a.ppm", Input), record("a.ppm", Exempt)}, 1},
      {{record("", Exempt), record("", Exempt)}, 1},
      // Empty names of records that got no argument still compare.
      {{record("", Output), record("", Output)}, 0},
      {{record("", Input), record("", Output)}, 0},
      // Every earlier record is compared, not only the neighbour.
      {{record("x", Input), record("y", Input), record("X", Output)}, 0},
      {{record("x", Input), record("y", Exempt), record("z", Output)}, 1},
      {{}, 1},
  };
  int index = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(index++);
    test::CapturedConsole console;
    EXPECT_EQ(checkDistinctNames(static_cast<int>(c.records.size()), c.records.data()), c.result);
    EXPECT_EQ(console.out(), c.result ? "" : clash);
  }
}

}  // namespace
}  // namespace tavrel
