// The PNM file layer and the line-buffered image store: headers, the
// overwrite rule, pixel models, windows, copies and their failures.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "image/file_guard.h"
#include "image/image_store.h"
#include "support/test_support.h"

namespace tavrel {
namespace {

std::string rest(std::FILE* stream) {
  std::string bytes;
  for (int ch; (ch = std::getc(stream)) != EOF;) bytes.push_back(static_cast<char>(ch));
  return bytes;
}

std::string header(const char* magic, std::uint32_t width, std::uint32_t height) {
  const std::string text =
      std::string(magic) + "\n" + std::to_string(width) + " " + std::to_string(height);
  return text + (magic[1] == '4' ? "\n" : "\n255\n");
}

// Rows of distinct colours, so that a row out of place shows.
test::Colours pattern(std::uint32_t width, std::uint32_t height) {
  test::Colours pixels;
  for (std::uint32_t i = 0; i < width * height; ++i)
    pixels.push_back(i / width * 0x10307 + i % width * 31);
  return pixels;
}

int openToRead(const std::string& path, ImageBuffer* image) {
  return openImage(path.c_str(), image, Read, 0, WholeImage, Color, 1, 256);
}

TEST(PnmFiles, HeadersReadAsTheNumericConversionsScanThem) {
  const std::string levels =
      "This module supports 8-bit color components only.The current image file has ";
  const std::string noP6 = "PPM-identification flag not found\a. (P6 was expected).";
  const struct {
    std::string bytes;  // the reader is picked by the magic expected: the first letter after P
    int result;
    std::uint32_t width, height;
    int maxval;
    std::string after, err;  // what the stream holds after the header; the message
  } cases[] = {
      {"6P6\n#a\n#b\n3\n#c\n2 #d\n#e\n255\nX", 1, 3, 2, 255, "X", ""},
      {"6P6\n3 2\n255\n\n\n", 1, 3, 2, 255, "\n\n", ""},  // one separator byte only
      {"6P6\n4294967295 1\n255\n", 1, 4294967295u, 1, 255, "", ""},
      {"6P6\n3 2\n65535\nX", 0, 3, 2, 65535, "\nX", levels + "65536 levels."},
      {"6P6\n3 2\n4294967551\n", 0, 3, 2, 2147483647, "\n", levels + "2147483648 levels."},
      {"6P6\n4294967296 2\n255\n", 0, 0, 0, 0, "2\n255\n", ""},
      {"6P6\nabc\n", 0, 0, 0, 0, "abc\n", ""},
      {"6 P6\n3 2\n255\n", 0, 0, 0, 0, "6\n3 2\n255\n", noP6},
      {"5P5\n4 1\n15\n", 0, 4, 1, 15, "\n",
       "This module supports 256 gray scales only.The current image file has 16 levels."},
      {"5P6\n4 1\n255\n", 0, 0, 0, 0, "\n4 1\n255\n",
       "PGM-identification flag not found.. (P5 was expected)."},
      {"4P4\n#a\n9\n#b\n2\n ", 1, 9, 2, 0, " ", ""},  // no white-space skip after a PBM height
      {"4P5\n9 2\n", 0, 0, 0, 0, "\n9 2\n",
       "PBM-identification flag not found\a. (P4 was expected)."},
      {"4P4\n9 -2\n", 0, 9, 0, 0, "\n", ""}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.bytes);
    test::CapturedConsole console;
    std::FILE* stream = std::tmpfile();
    std::fputs(c.bytes.c_str() + 1, stream);
    std::rewind(stream);
    std::uint32_t width = 0, height = 0;
    int maxval = 0;
    EXPECT_EQ(c.bytes[0] == '4'   ? readPbmHeader(stream, &width, &height)
              : c.bytes[0] == '5' ? readPgmHeader(stream, &width, &height, &maxval)
                                  : readPpmHeader(stream, &width, &height, &maxval),
              c.result);
    EXPECT_EQ(std::tuple(width, height, maxval, rest(stream), console.err()),
              std::tuple(c.width, c.height, c.maxval, c.after, c.err));
    std::fclose(stream);
  }
}

TEST(PnmFiles, OverwriteRuleAndMessages) {
  test::TempDir dir;
  const std::string path = dir.file("out.ppm"), sub = dir.file("sub"), missing = dir.file("no/x");
  test::writeFile(path, "keep");
  ASSERT_EQ(mkdir(sub.c_str(), 0700), 0);
  test::CapturedConsole console;
  for (int overwrite : {0, 2, -1})
    EXPECT_EQ(openFileByMode(path.c_str(), Create, overwrite), nullptr);
  EXPECT_EQ(test::readFile(path), "keep");
  std::FILE* stream = openFileByMode(path.c_str(), Create, 1);
  ASSERT_NE(stream, nullptr);
  std::fputs("P6", stream);
  std::rewind(stream);  // created for writing and reading back
  EXPECT_EQ(rest(stream), "P6");
  std::fclose(stream);
  for (const std::string& name : {sub, missing})
    EXPECT_EQ(openFileByMode(name.c_str(), Create, 1), nullptr);
  EXPECT_EQ(openFileByMode(missing.c_str(), Read, 0), nullptr);
  EXPECT_EQ(openFileByMode(path.c_str(), 7, 1), nullptr);
  const std::string exists = "ERROR: File already exists: " + path,
                    cannot = "ERROR: Couldn't open the file: ";
  EXPECT_EQ(console.err(), exists + exists + exists + cannot + sub + cannot + missing +
                               "ERROR: Cannot find the file: " + missing +
                               "ERROR: Invalid file mode:7");
}

TEST(ImageStore, SizeAndPixels) {
  test::CapturedConsole console;
  ImageBuffer image;
  EXPECT_EQ(setImageSize(&image, 0, 0), 1);
  EXPECT_EQ(std::tuple(image.width, image.height, image.xMax), std::tuple(1u, 1u, 1u));
  setImageSize(&image, 10, 20);
  EXPECT_EQ(setImageBounds(&image, 5, 5, 0, 3), 0);
  EXPECT_EQ(console.err(), "Invalid image size.");
  // A fresh image is white; outside it nothing is read or written; sets of
  // another model change nothing; a pixel's fourth byte is never touched.
  setImageSize(&image, 9, 3);
  ASSERT_EQ(openImage("", &image, Create, 0, WholeImage, Color, 0, 256), 1);
  for (auto [x, y] : {std::pair{0u, 1u}, {10u, 1u}, {1u, 0u}, {1u, 4u}}) {
    setColorPixel(&image, x, y, 0);
    EXPECT_EQ(getColorPixel(&image, x, y), 0u);
  }
  image.lines[0][3] = 0xA5;
  setBilevelPixel(&image, 1, 1, 1);
  setGrayPixel(&image, 1, 1, 0);
  EXPECT_EQ(std::tuple(getColorPixel(&image, 1, 1), getGrayPixel(&image, 9, 3)),
            std::tuple(0xFFFFFFu, -1));
  setColorPixel(&image, 1, 1, 0xFF123456);
  EXPECT_EQ(std::tuple(getColorPixel(&image, 1, 1), image.lines[0][3]),
            std::tuple(0x123456u, std::uint8_t{0xA5}));
  destroyImage(&image);
}

TEST(ImageStore, OpenTakesTheKindOfTheFileOrRefusesIt) {
  test::TempDir dir;
  const std::string path = dir.file("in.ppm");
  test::writeFile(path, header("P5", 2, 2) + "\x01\x02\x03");  // one sample short
  ImageBuffer image;
  ASSERT_EQ(openToRead(path, &image), 1);
  EXPECT_EQ(std::tuple(image.model, image.fileKind, getGrayPixel(&image, 2, 1),
                       getGrayPixel(&image, 2, 2), getColorPixel(&image, 1, 1)),
            std::tuple(Gray, PgmRaw, 2, 0xFF, 0u));
  destroyImage(&image);
  test::writeFile(path, header("P6", 1, 19999));
  ASSERT_EQ(openToRead(path, &image), 1);
  EXPECT_EQ(std::tuple(image.ringSize, getColorPixel(&image, 1, 19999)),
            std::tuple(19999u, 0xFFFFFFu));
  destroyImage(&image);

  const std::string size = "Invalid image size.";
  // Checks of a created image come before its file is touched.
  test::CapturedConsole console;
  setImageSize(&image, 1, 20000);
  EXPECT_EQ(openImage("", &image, Create, 0, WholeImage, Color, 0, 0), 0);
  setImageSize(&image, 2, 2);
  test::writeFile(path, "keep");
  EXPECT_EQ(openImage(path.c_str(), &image, Create, 1, FixedWindow, 3, 1, 10), 0);
  ImageBuffer unsized;
  EXPECT_EQ(openImage(path.c_str(), &unsized, Create, 1, FixedWindow, Color, 1, 10), 0);
  EXPECT_EQ(openImage(path.c_str(), &image, Create, 0, FixedWindow, Color, 1, 10), 0);
  EXPECT_EQ(test::readFile(path), "keep");
  EXPECT_EQ(console.err(), "Module supports buffer size up to XXXX lines only." + size +
                               "ERROR: File already exists: " + path);
}

TEST(ImageStore, CopiesOfAMemoryImageAndTheirFailures) {
  test::TempDir dir;
  const test::Colours pixels = pattern(4, 25);
  test::MemoryImage image(4, 25, pixels);
  const std::string path = dir.file("dump2_out.ppm"), missing = dir.file("no/dump.ppm");
  test::writeFile(path, "old");
  EXPECT_EQ(copyImageToFile(image.get(), path.c_str()), 1);
  EXPECT_EQ(test::readFile(path), test::makePpm(4, 25, pixels));
  test::CapturedConsole console;
  EXPECT_EQ(copyImageToFile(image.get(), missing.c_str()), 0);
  EXPECT_EQ(console.err(), "ERROR: Couldn't open the file: " + missing);
  EXPECT_EQ(image.pixels(), pixels);
  // A closed or never opened record is out of bounds everywhere.
  ImageBuffer closed;
  EXPECT_EQ(std::tuple(destroyImage(&closed), destroyImage(nullptr), getColorPixel(&closed, 1, 1)),
            std::tuple(1, 1, 0u));
  EXPECT_EQ(std::tuple(copyImageToFile(&closed, path.c_str()), rewindImage(&closed)),
            std::tuple(0, 0));

  std::FILE* full = std::fopen("/dev/full", "wb");  // writes fail with "no space" on flush
  ASSERT_NE(full, nullptr);
  std::fputs("P6\n1 1\n255\n", full);
  EXPECT_EQ(finishWrittenFile(full, path.c_str()), 0);
  EXPECT_EQ(console.err(), "ERROR: Couldn't open the file: " + missing + "ERROR: Could not write " +
                               path + " completely; the incomplete file was removed.\n");
  EXPECT_FALSE(test::fs::exists(path));
}

}  // namespace
}  // namespace tavrel
