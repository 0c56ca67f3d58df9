// The PNM file layer and the line-buffered image store: headers, the
// overwrite rule, a failed write, pixel models and windows (copies are the
// fuzz target's).
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <sstream>

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
  const std::map<std::string, std::string> defs = {
      {"levels", "This module supports 8-bit color components only.The current image file has "}};
  std::ifstream in(TAVREL_HEADER_CASES);
  int rows = 0;
  for (std::string line; std::getline(in, line); ++rows) {
    if (line.empty() || line[0] == '#') continue;
    SCOPED_TRACE(line);
    std::vector<std::string> field;
    std::istringstream split(line + " ");
    for (std::string part; std::getline(split, part, '|');) {
      field.push_back(test::decode(part.substr(1, part.size() - 2), defs));
    }
    test::CapturedConsole console;
    std::FILE* stream = std::tmpfile();
    std::fwrite(field[1].data(), 1, field[1].size(), stream);
    std::rewind(stream);
    std::uint32_t width = 0, height = 0;
    int maxval = 0;
    const int result = line[0] == '4'   ? readPbmHeader(stream, &width, &height)
                       : line[0] == '5' ? readPgmHeader(stream, &width, &height, &maxval)
                                        : readPpmHeader(stream, &width, &height, &maxval);
    EXPECT_EQ(std::to_string(result) + " " + std::to_string(width) + " " + std::to_string(height) +
                  " " + std::to_string(maxval),
              field[2]);
    EXPECT_EQ(std::pair(rest(stream), console.err()), std::pair(field[3], field[4]));
    std::fclose(stream);
  }
  EXPECT_GT(rows, 10);  // the table was found
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

// A write that fails only when flushed (no space left): the file is removed
// and reported.
TEST(PnmFiles, AWriteThatFailsOnItsFlushIsReportedAndRemoved) {
  test::TempDir dir;
  const std::string path = dir.file("dump2_out.ppm");
  test::writeFile(path, "old");
  test::CapturedConsole console;
  std::FILE* full = std::fopen("/dev/full", "wb");
  ASSERT_NE(full, nullptr);
  std::fputs("P6\n1 1\n255\n", full);
  EXPECT_EQ(finishWrittenFile(full, path.c_str()), 0);
  EXPECT_EQ(console.err(),
            "ERROR: Could not write " + path + " completely; the incomplete file was removed.\n");
  EXPECT_FALSE(test::fs::exists(path));
}

TEST(ImageStore, PixelsOutsideTheImageAreNeitherReadNorWritten) {
  test::MemoryImage image(9, 3, {});
  for (auto [x, y] : {std::pair{0u, 1u}, {10u, 1u}, {1u, 0u}, {1u, 4u}}) {
    setColorPixel(image.get(), x, y, 0);
    EXPECT_EQ(getColorPixel(image.get(), x, y), 0u);
  }
  EXPECT_EQ(image.pixels(), test::Colours(27, 0xFFFFFF));
}

TEST(ImageStore, OpenTakesTheKindOfTheFileOrRefusesIt) {
  test::TempDir dir;
  const std::string path = dir.file("in.ppm");
  test::writeFile(path, "P5\n2 2\n255\n\x01\x02\x03");  // one sample short
  ImageBuffer image;
  ASSERT_EQ(openToRead(path, &image), 1);
  EXPECT_EQ(std::tuple(image.model, image.fileKind, getGrayPixel(&image, 2, 1),
                       getGrayPixel(&image, 2, 2), getColorPixel(&image, 1, 1)),
            std::tuple(Gray, PgmRaw, 2, 0xFF, 0u));
  destroyImage(&image);
  test::writeFile(path, "P6\n1 19999\n255\n");
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

// Line buffers after the first gAllowedLines fail: a shrinking read window
// settles for the buffers it got, but for no fewer than ten.
int gAllowedLines = 0;
void* limitedAllocator(std::size_t size) {
  return gAllowedLines-- > 0 ? std::malloc(size) : nullptr;
}

TEST(ImageStore, AShrinkingWindowSettlesForTenLinesOrMore) {
  test::TempDir dir;
  test::writeFile(dir.file("in.ppm"), test::makePpm(2, 30, pattern(2, 30)));
  setLineAllocator(limitedAllocator);
  for (auto [allowed, method, opened] :
       {std::tuple{10, ShrinkingWindow, 1}, {9, ShrinkingWindow, 0}, {10, FixedWindow, 0}}) {
    gAllowedLines = allowed;
    ImageBuffer image;
    EXPECT_EQ(openImage(dir.file("in.ppm").c_str(), &image, Read, 0, method, Color, 1, 20), opened);
    EXPECT_EQ(std::tuple(image.ringSize, getColorPixel(&image, 2, 30)),
              opened ? std::tuple(10u, pattern(2, 30)[59]) : std::tuple(image.ringSize, 0u));
    destroyImage(&image);
  }
  setLineAllocator(nullptr);
}

}  // namespace
}  // namespace tavrel
