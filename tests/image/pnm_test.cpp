#include "image/pnm.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "support/test_support.h"

namespace tavrel {
namespace {

// A stream over the given bytes, positioned at their start.
std::FILE* streamOf(const std::string& bytes) {
  std::FILE* stream = std::tmpfile();
  std::fwrite(bytes.data(), 1, bytes.size(), stream);
  std::rewind(stream);
  return stream;
}

std::string rest(std::FILE* stream) {
  std::string bytes;
  for (int ch; (ch = std::getc(stream)) != EOF;) bytes.push_back(static_cast<char>(ch));
  return bytes;
}

struct HeaderCase {
  const char* name;
  std::string bytes;
  int result;
  std::uint32_t width, height;
  int maxval;
  std::string after;  // what the stream holds after the header
  std::string err;
};

const std::string kColorLevels =
    "This module supports 8-bit color components only.The current image file has ";

TEST(PnmHeaderTest, PpmHeadersReadAsScannedByTheNumericConversions) {
  const HeaderCase cases[] = {
      {"comment first", "P6\n# made by hand\n3 2\n255\nXY", 1, 3, 2, 255, "XY", ""},
      {"comments everywhere", "P6\n#a\n#b\n3\n#c\n2 #d\n#e\n255\nX", 1, 3, 2, 255, "X", ""},
      {"one line", "P6 3 2 255 X", 1, 3, 2, 255, "X", ""},
      {"hexadecimal and octal", "P6\n0x10 010\n0377\nX", 1, 16, 8, 255, "X", ""},
      {"one separator byte only", "P6\n3 2\n255\n\n\n", 1, 3, 2, 255, "\n\n", ""},
      {"largest width", "P6\n4294967295 1\n255\n", 1, 4294967295u, 1, 255, "", ""},
      {"wide maxval", "P6\n3 2\n65535\nX", 0, 3, 2, 65535, "\nX", kColorLevels + "65536 levels."},
      {"small maxval", "P6\n3 2\n100\n", 0, 3, 2, 100, "\n", kColorLevels + "101 levels."},
      {"maxval missing", "P6\n3 2\n", 0, 3, 2, 0, "", kColorLevels + "1 levels."},
      {"huge maxval", "P6\n3 2\n4294967551\n", 0, 3, 2, 2147483647, "\n",
       kColorLevels + "2147483648 levels."},
      {"zero width", "P6\n0 2\n255\n", 0, 0, 0, 0, "2\n255\n", ""},
      {"negative width", "P6\n-3 2\n255\n", 0, 0, 0, 0, "2\n255\n", ""},
      {"width beyond 32 bits", "P6\n4294967296 2\n255\n", 0, 0, 0, 0, "2\n255\n", ""},
      {"no digits", "P6\nabc\n", 0, 0, 0, 0, "abc\n", ""},
      {"ends in a comment", "P6\n3 # never ends", 0, 3, 0, 0, "", ""},
      {"wrong magic", "P5\n3 2\n255\n", 0, 0, 0, 0, "\n3 2\n255\n",
       "PPM-identification flag not found\a. (P6 was expected)."},
      {"magic not first", " P6\n3 2\n255\n", 0, 0, 0, 0, "6\n3 2\n255\n",
       "PPM-identification flag not found\a. (P6 was expected)."},
  };
  for (const HeaderCase& c : cases) {
    SCOPED_TRACE(c.name);
    test::CapturedConsole console;
    std::FILE* stream = streamOf(c.bytes);
    std::uint32_t width = 0, height = 0;
    int maxval = 0;
    EXPECT_EQ(readPpmHeader(stream, &width, &height, &maxval), c.result);
    EXPECT_EQ(width, c.width);
    EXPECT_EQ(height, c.height);
    EXPECT_EQ(maxval, c.maxval);
    EXPECT_EQ(rest(stream), c.after);
    EXPECT_EQ(console.err(), c.err);
    std::fclose(stream);
  }
}

TEST(PnmHeaderTest, PgmHeaderHasItsOwnMessages) {
  test::CapturedConsole console;
  std::uint32_t width = 0, height = 0;
  int maxval = 0;
  for (const char* bytes : {"P5\n4 1\n15\n", "P6\n4 1\n255\n"}) {
    std::FILE* stream = streamOf(bytes);
    EXPECT_EQ(readPgmHeader(stream, &width, &height, &maxval), 0);
    std::fclose(stream);
  }
  EXPECT_EQ(console.err(),
            "This module supports 256 gray scales only.The current image file has 16 levels."
            "PGM-identification flag not found.. (P5 was expected).");
}

TEST(PnmHeaderTest, PbmHeightIsNotFollowedByAWhiteSpaceSkip) {
  // The sample byte 0x20 right after the separator must survive.
  const HeaderCase cases[] = {
      {"plain", "P4\n9 2\n ", 1, 9, 2, 0, " ", ""},
      {"comments", "P4\n#a\n9\n#b\n2\nX", 1, 9, 2, 0, "X", ""},
      {"wrong magic", "P6\n9 2\n", 0, 0, 0, 0, "\n9 2\n",
       "PBM-identification flag not found\a. (P4 was expected)."},
      {"negative height", "P4\n9 -2\n", 0, 9, 0, 0, "\n", ""},
  };
  for (const HeaderCase& c : cases) {
    SCOPED_TRACE(c.name);
    test::CapturedConsole console;
    std::FILE* stream = streamOf(c.bytes);
    std::uint32_t width = 0, height = 0;
    EXPECT_EQ(readPbmHeader(stream, &width, &height), c.result);
    EXPECT_EQ(width, c.width);
    EXPECT_EQ(height, c.height);
    EXPECT_EQ(rest(stream), c.after);
    EXPECT_EQ(console.err(), c.err);
    std::fclose(stream);
  }
}

TEST(PnmHeaderTest, WritersProduceTheExactHeaderBytes) {
  std::FILE* stream = std::tmpfile();
  EXPECT_EQ(writePpmHeader(stream, 3, 2, 255), 1);
  EXPECT_EQ(writePbmHeader(stream, 3, 2), 1);
  EXPECT_EQ(writePgmHeader(stream, 4294967295u, 1, 255), 1);
  std::rewind(stream);
  EXPECT_EQ(rest(stream), "P6\n3 2\n255\nP4\n3 2\nP5\n4294967295 1\n255\n");
  std::fclose(stream);
}

TEST(PnmSniffTest, KindComesFromTheFirstTwoBytes) {
  test::TempDir dir;
  const std::pair<std::string, int> cases[] = {
      {"P6\n1 1\n255\n", PpmRaw}, {"P5", PgmRaw},        {"P4", PbmRaw},      {"P2\n", PgmPlain},
      {"P3\n", UnknownKind},      {"P1", UnknownKind},   {"p6", UnknownKind}, {"P", UnknownKind},
      {"", UnknownKind},          {"\nP6", UnknownKind},
  };
  test::CapturedConsole console;
  for (const auto& [bytes, kind] : cases) {
    const std::string path = dir.file("image");
    test::writeFile(path, bytes);
    EXPECT_EQ(sniffFileKind(path.c_str()), kind) << bytes;
  }
  EXPECT_EQ(sniffFileKind(dir.file("missing").c_str()), UnknownKind);
  EXPECT_EQ(sniffFileKind(dir.path().c_str()), UnknownKind);
  EXPECT_EQ(console.err(), "");
}

TEST(PnmSniffTest, FifoIsNeitherBlockingNorReadable) {
  test::TempDir dir;
  const std::string path = dir.file("fifo");
  ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
  // Without O_NONBLOCK each of these would wait for a writer forever.
  EXPECT_EQ(fileExists(path.c_str()), 1);
  EXPECT_EQ(sniffFileKind(path.c_str()), UnknownKind);
  std::FILE* stream = openFileByMode(path.c_str(), Read, 0);
  ASSERT_NE(stream, nullptr);
  EXPECT_FALSE(isRegularStream(stream));
  std::fclose(stream);
}

TEST(PnmOpenTest, OverwriteRuleAndMessages) {
  test::TempDir dir;
  const std::string path = dir.file("out.ppm");
  test::writeFile(path, "keep");
  test::CapturedConsole console;
  for (int overwrite : {0, 2, -1}) {
    EXPECT_EQ(openFileByMode(path.c_str(), Create, overwrite), nullptr);
    EXPECT_EQ(test::readFile(path), "keep");
  }
  std::FILE* stream = openFileByMode(path.c_str(), Create, 1);
  ASSERT_NE(stream, nullptr);
  EXPECT_EQ(test::readFile(path), "");
  std::fputs("P6", stream);
  std::rewind(stream);  // created for writing and reading back
  EXPECT_EQ(rest(stream), "P6");
  std::fclose(stream);

  // An overwrite replaces files; a directory of that name stays.
  const std::string sub = dir.file("sub");
  ASSERT_EQ(mkdir(sub.c_str(), 0700), 0);
  EXPECT_EQ(openFileByMode(sub.c_str(), Create, 1), nullptr);
  EXPECT_TRUE(test::fileExistsOnDisk(sub));

  const std::string missing = dir.file("no/such.ppm");
  EXPECT_EQ(openFileByMode(missing.c_str(), Read, 0), nullptr);
  EXPECT_EQ(openFileByMode(missing.c_str(), Create, 1), nullptr);
  EXPECT_EQ(openFileByMode(path.c_str(), 7, 1), nullptr);
  EXPECT_EQ(fileExists(path.c_str()), 1);
  EXPECT_EQ(fileExists(missing.c_str()), 0);
  const std::string exists = "ERROR: File already exists: " + path;
  EXPECT_EQ(console.err(), exists + exists + exists + "ERROR: Couldn't open the file: " + sub +
                               "ERROR: Cannot find the file: " + missing +
                               "ERROR: Couldn't open the file: " + missing +
                               "ERROR: Invalid file mode:7");
}

TEST(PnmRowTest, ReadsPastTheEndYieldFfBytes) {
  std::FILE* stream = streamOf("abcd");
  std::uint8_t bytes[6] = {0, 0, 0, 0, 0, 0};
  EXPECT_EQ(readRawRow(stream, bytes, 0), 1);
  EXPECT_EQ(readRawRow(stream, bytes, 3), 1);
  EXPECT_EQ(std::string(bytes, bytes + 3), "abc");
  EXPECT_EQ(readRawRow(stream, bytes, 6), 1);
  EXPECT_EQ(std::string(bytes, bytes + 6), "d\xFF\xFF\xFF\xFF\xFF");
  std::fclose(stream);

  stream = streamOf("RGBrgbX");
  std::uint8_t red[3], green[3], blue[3];
  EXPECT_EQ(readRgbRow(stream, red, green, blue, 3), 1);
  EXPECT_EQ(std::string(red, red + 3), "RrX");
  EXPECT_EQ(std::string(green, green + 3), "Gg\xFF");
  EXPECT_EQ(std::string(blue, blue + 3), "Bb\xFF");
  std::fclose(stream);
}

TEST(PnmRowTest, RgbRowsLongerThanOneBlockKeepTheirOrder) {
  const long count = 10007;
  std::vector<std::uint8_t> in[3], out[3];
  for (int c = 0; c < 3; ++c) {
    for (long i = 0; i < count; ++i) in[c].push_back(static_cast<std::uint8_t>(i * (c + 3) >> c));
    out[c].assign(count, 0);
  }
  std::FILE* stream = std::tmpfile();
  EXPECT_EQ(writeRgbRow(stream, in[0].data(), in[1].data(), in[2].data(), count), 1);
  EXPECT_EQ(std::ftell(stream), 3 * count);
  std::rewind(stream);
  EXPECT_EQ(readRgbRow(stream, out[0].data(), out[1].data(), out[2].data(), count), 1);
  for (int c = 0; c < 3; ++c) EXPECT_EQ(out[c], in[c]);
  std::fclose(stream);
}

}  // namespace
}  // namespace tavrel
