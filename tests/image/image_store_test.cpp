#include "image/image_store.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "shell/console.h"
#include "support/test_support.h"

namespace tavrel {
namespace {

// Opens a memory-only image of the model, every pixel white.
void openMemory(ImageBuffer* image, int model, std::uint32_t width, std::uint32_t height) {
  setImageSize(image, width, height);
  ASSERT_EQ(openImage("", image, Create, 0, WholeImage, model, 0, 256), 1);
}

int openForReading(const std::string& path, ImageBuffer* image, int method = WholeImage,
                   std::uint32_t window = 256) {
  return openImage(path.c_str(), image, Read, 0, method, Color, 1, window);
}

// Lines of distinct colours, so that a row out of place shows.
std::vector<PackedColor> patternPixels(std::uint32_t width, std::uint32_t height) {
  std::vector<PackedColor> pixels;
  for (std::uint32_t y = 1; y <= height; ++y) {
    for (std::uint32_t x = 1; x <= width; ++x)
      pixels.push_back((y * 0x010307u + x * 0x1F) & 0xFFFFFF);
  }
  return pixels;
}

std::string header(const char* magic, std::uint32_t width, std::uint32_t height) {
  std::string text =
      std::string(magic) + "\n" + std::to_string(width) + " " + std::to_string(height) + "\n";
  return magic[1] == '4' ? text : text + "255\n";
}

TEST(ImageStoreSizeTest, SizeAndBounds) {
  test::CapturedConsole console;
  ImageBuffer image;
  EXPECT_EQ(setImageSize(&image, 0, 0), 1);
  EXPECT_EQ(image.width, 1u);
  EXPECT_EQ(image.height, 1u);
  EXPECT_EQ(image.xMax, 1u);
  EXPECT_EQ(console.err(), "");

  setImageSize(&image, 10, 20);
  EXPECT_EQ(setImageBounds(&image, 5, 5, 0, 3), 0);
  EXPECT_EQ(image.xMax, 10u);
  EXPECT_EQ(console.err(), "Invalid image size.");
  EXPECT_EQ(setImageBounds(&image, 0, 4, 3, 4294967295u), 1);
  EXPECT_EQ(image.xMin, 1u);
  EXPECT_EQ(image.xMax, 2u);  // 0 + 3 - 1, formed before x0 is raised to 1
  EXPECT_EQ(image.yMin, 4u);
  EXPECT_EQ(image.yMax, 20u);  // the sum does not wrap
}

TEST(ImageStorePixelTest, FreshImagesAreWhiteAndWrongModelsAreRefused) {
  struct Case {
    int model;
    int bilevel, gray;
    PackedColor color, outside;
  } cases[] = {
      {Bilevel, 0, -1, 0, 0xFFFFFF},
      {Gray, -1, 255, 0, 0},
      {Color, -1, -1, 0xFFFFFF, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.model);
    ImageBuffer image;
    openMemory(&image, c.model, 9, 3);
    EXPECT_EQ(getBilevelPixel(&image, 9, 3), c.bilevel);
    EXPECT_EQ(getGrayPixel(&image, 9, 3), c.gray);
    EXPECT_EQ(getColorPixel(&image, 9, 3), c.color);
    EXPECT_EQ(getPixel(&image, 1, 1), 0xFFFFFFu);
    for (auto [x, y] : {std::pair{0u, 1u}, {10u, 1u}, {1u, 0u}, {1u, 4u}}) {
      EXPECT_EQ(getPixel(&image, x, y), c.outside);
      setPixel(&image, x, y, 0);  // nothing happens, nothing breaks
    }
    // Sets of another model leave the image white.
    if (c.model != Bilevel) setBilevelPixel(&image, 1, 1, 1);
    if (c.model != Gray) setGrayPixel(&image, 1, 1, 0);
    if (c.model != Color) setColorPixel(&image, 1, 1, 0);
    EXPECT_EQ(getPixel(&image, 1, 1), 0xFFFFFFu);
    destroyImage(&image);
  }
}

TEST(ImageStorePixelTest, ModelConversions) {
  ImageBuffer gray, bilevel, color;
  openMemory(&gray, Gray, 2, 1);
  setPixel(&gray, 1, 1, 0x123456);
  EXPECT_EQ(getGrayPixel(&gray, 1, 1), 0x56);
  EXPECT_EQ(getPixel(&gray, 1, 1), 0x565656u);
  setGrayPixel(&gray, 2, 1, 0x1FF);
  EXPECT_EQ(getGrayPixel(&gray, 2, 1), 0xFF);

  openMemory(&bilevel, Bilevel, 2, 1);
  setPixel(&bilevel, 1, 1, 0x000001);
  setPixel(&bilevel, 2, 1, 0);
  EXPECT_EQ(getPixel(&bilevel, 1, 1), 0xFFFFFFu);
  EXPECT_EQ(getPixel(&bilevel, 2, 1), 0u);

  openMemory(&color, Color, 2, 1);
  color.lines[0][3] = 0xA5;  // the fourth byte of a pixel is never touched
  setColorPixel(&color, 1, 1, 0xFF123456);
  EXPECT_EQ(getColorPixel(&color, 1, 1), 0x123456u);
  EXPECT_EQ(color.lines[0][3], 0xA5);
  for (ImageBuffer* image : {&gray, &bilevel, &color}) destroyImage(image);
}

TEST(ImageStorePixelTest, BilevelBitsRunMostSignificantFirst) {
  ImageBuffer image;
  openMemory(&image, Bilevel, 9, 1);
  EXPECT_EQ(image.lineSize, 2u);
  EXPECT_EQ(image.lines[0][0], 0x00);
  setBilevelPixel(&image, 9, 1, 1);
  setBilevelPixel(&image, 8, 1, 7);
  EXPECT_EQ(image.lines[0][0], 0x01);
  EXPECT_EQ(image.lines[0][1], 0x80);
  EXPECT_EQ(getBilevelPixel(&image, 9, 1), 1);
  setBilevelPixel(&image, 9, 1, 0);
  EXPECT_EQ(image.lines[0][1], 0x00);
  destroyImage(&image);
}

TEST(ImageStoreOpenTest, ReadStateTakesTheKindOfTheFile) {
  test::TempDir dir;
  const std::string path = dir.file("in.ppm");
  test::writeFile(path, header("P5", 2, 2) + "\x01\x02\x03");  // one sample short
  ImageBuffer image;
  ASSERT_EQ(openForReading(path, &image), 1);
  EXPECT_EQ(image.model, Gray);
  EXPECT_EQ(image.fileKind, PgmRaw);
  EXPECT_EQ(image.maxValue, 255);
  EXPECT_EQ(getGrayPixel(&image, 2, 1), 2);
  EXPECT_EQ(getGrayPixel(&image, 2, 2), 0xFF);  // read past the end
  EXPECT_EQ(getColorPixel(&image, 1, 1), 0u);
  destroyImage(&image);
}

TEST(ImageStoreOpenTest, RefusedFilesLeaveNothingBehind) {
  test::TempDir dir;
  const std::string path = dir.file("in.ppm");
  const std::string unsupported = "Image " + path + " has not supported type or not exist";
  const std::string levels =
      "This module supports 8-bit color components only.The current image file has 101 levels.";
  struct Case {
    const char* name;
    std::string bytes;
    std::string err;
  } cases[] = {
      {"plain pgm", "P2\n2 2\n255\n", unsupported},
      {"plain ppm", "P3\n2 2\n255\n", unsupported},
      {"empty", "", unsupported},
      {"maxval 100", "P6\n2 2\n100\n", levels},
      {"zero width", "P6\n0 2\n255\n", "Invalid image size."},
      {"negative height", "P5\n2 -2\n255\n", "Invalid image size."},
      {"width beyond 32 bits", "P6\n4294967296 1\n255\n", "Invalid image size."},
      {"colour line beyond 32 bits", "P6\n1073741824 1\n255\n", "Invalid image size."},
      {"height beyond line numbers", "P5\n1 2147483648\n255\n", "Invalid image size."},
      {"no digits", "P6\nwide high\n255\n", "Invalid image size."},
      {"ends in a comment", "P6\n# cut", "Invalid image size."},
      {"20000 lines", "P6\n1 20000\n255\n", "Module supports buffer size up to XXXX lines only."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test::writeFile(path, c.bytes);
    test::CapturedConsole console;
    ImageBuffer image;
    EXPECT_EQ(openForReading(path, &image), 0);
    EXPECT_EQ(image.lines, nullptr);
    EXPECT_EQ(console.err(), c.err);
    EXPECT_EQ(destroyImage(&image), 1);  // closes a stream the open left behind
    EXPECT_EQ(image.file, nullptr);
  }

  test::CapturedConsole console;
  ImageBuffer image;
  EXPECT_EQ(openForReading(dir.file("missing.ppm"), &image), 0);
  EXPECT_EQ(image.file, nullptr);
  const std::string fifo = dir.file("fifo.ppm");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_EQ(openForReading(fifo, &image), 0);  // returns at once
  destroyImage(&image);
  EXPECT_EQ(console.err(), "ERROR: Cannot find the file: " + dir.file("missing.ppm") + "Image " +
                               fifo + " has not supported type or not exist");
}

TEST(ImageStoreOpenTest, RingLimitIs19999Lines) {
  test::TempDir dir;
  const std::string path = dir.file("tall.ppm");
  test::writeFile(path, header("P6", 1, 19999));
  ImageBuffer image;
  ASSERT_EQ(openForReading(path, &image), 1);
  EXPECT_EQ(image.ringSize, 19999u);
  EXPECT_EQ(getColorPixel(&image, 1, 19999), 0xFFFFFFu);
  destroyImage(&image);

  test::CapturedConsole console;
  setImageSize(&image, 1, 20000);
  EXPECT_EQ(openImage("", &image, Create, 0, WholeImage, Color, 0, 0), 0);
  EXPECT_EQ(console.err(), "Module supports buffer size up to XXXX lines only.");
}

TEST(ImageStoreOpenTest, WriteStateChecksComeBeforeTheFileIsTouched) {
  test::TempDir dir;
  const std::string path = dir.file("out.ppm");
  test::writeFile(path, "keep");
  test::CapturedConsole console;
  ImageBuffer image;
  setImageSize(&image, 2, 2);
  EXPECT_EQ(openImage(path.c_str(), &image, Create, 1, FixedWindow, 3, 1, 10), 0);
  ImageBuffer unsized;
  EXPECT_EQ(openImage(path.c_str(), &unsized, Create, 1, FixedWindow, Color, 1, 10), 0);
  EXPECT_EQ(test::readFile(path), "keep");
  EXPECT_EQ(openImage(path.c_str(), &image, Create, 0, FixedWindow, Color, 1, 10), 0);
  EXPECT_EQ(console.err(), "Invalid image size.ERROR: File already exists: " + path);
}

// Line buffers after the first gAllowedLines fail; the table is not affected.
int gAllowedLines = 0;
void* limitedAllocator(std::size_t size) {
  return gAllowedLines-- > 0 ? std::malloc(size) : nullptr;
}

class ImageStoreMemoryTest : public ::testing::Test {
 protected:
  void TearDown() override { setLineAllocator(nullptr); }
};

TEST_F(ImageStoreMemoryTest, ShrinkingWindowSettlesForTheBuffersItGot) {
  test::TempDir dir;
  const std::string path = dir.file("in.ppm");
  const std::vector<PackedColor> pixels = patternPixels(3, 30);
  test::writeFile(path, test::makePpm(3, 30, pixels));
  setLineAllocator(limitedAllocator);
  test::CapturedConsole console;

  gAllowedLines = 12;
  ImageBuffer image;
  ASSERT_EQ(openForReading(path, &image, ShrinkingWindow, 20), 1);
  EXPECT_EQ(image.ringSize, 12u);
  EXPECT_EQ(image.bufferingMethod, FixedWindow);
  for (std::uint32_t y = 1; y <= 30; ++y)
    EXPECT_EQ(getColorPixel(&image, 2, y), pixels[3 * (y - 1) + 1]);
  destroyImage(&image);

  // Too few buffers, or no shrinking allowed, or a write-state image.
  for (auto [allowed, method, mode] : {std::tuple{9, ShrinkingWindow, Read},
                                       {12, FixedWindow, Read},
                                       {12, ShrinkingWindow, Create}}) {
    gAllowedLines = allowed;
    ImageBuffer failed;
    setImageSize(&failed, 3, 30);
    const std::string target = mode == Read ? path : dir.file("out.ppm");
    EXPECT_EQ(openImage(target.c_str(), &failed, mode, 1, method, Color, 1, 20), 0);
    EXPECT_EQ(failed.lines, nullptr);
    EXPECT_EQ(failed.file, nullptr);
  }
  // A large but valid size is refused only by the allocation.
  test::writeFile(path, header("P5", 4000000000u, 2));
  gAllowedLines = 0;
  EXPECT_EQ(openForReading(path, &image), 0);
  EXPECT_EQ(image.file, nullptr);
  EXPECT_EQ(console.err(), "");
}

TEST(ImageStoreWindowTest, ReadAheadMovesTheWindowOneLineBeyond) {
  test::TempDir dir;
  const std::string path = dir.file("in.ppm");
  const std::vector<PackedColor> pixels = patternPixels(2, 20);
  test::writeFile(path, test::makePpm(2, 20, pixels));
  ImageBuffer image;
  ASSERT_EQ(openForReading(path, &image, FixedWindow, 10), 1);
  EXPECT_EQ(getColorPixel(&image, 1, 11), pixels[20]);
  EXPECT_EQ(image.firstLine, 3u);
  EXPECT_EQ(image.lastLine, 12);
  EXPECT_EQ(getColorPixel(&image, 2, 20), pixels[39]);
  EXPECT_EQ(image.lastLine, 20);  // the window stops at the last line
  EXPECT_EQ(getColorPixel(&image, 2, 11), pixels[21]);
  EXPECT_DEATH(getColorPixel(&image, 1, 10),
               "^Line is already left buffer and can't be observed\\.$");
  destroyImage(&image);

  // A one-line window would push the requested line out; it gets two.
  ASSERT_EQ(openForReading(path, &image, FixedWindow, 1), 1);
  EXPECT_EQ(image.ringSize, 2u);
  for (std::uint32_t y = 1; y <= 20; ++y)
    EXPECT_EQ(getColorPixel(&image, 1, y), pixels[2 * (y - 1)]);
  // Sets on a read-state image do nothing.
  setColorPixel(&image, 1, 20, 0);
  EXPECT_EQ(getColorPixel(&image, 1, 20), pixels[38]);
  destroyImage(&image);
  EXPECT_EQ(test::readFile(path), test::makePpm(2, 20, pixels));
}

TEST(ImageStoreWindowTest, WriteStateWritesTheLinesThatLeaveTheRing) {
  test::TempDir dir;
  const std::string path = dir.file("out.ppm");
  ImageBuffer image;
  setImageSize(&image, 1, 20);
  ASSERT_EQ(openImage(path.c_str(), &image, Create, 0, FixedWindow, Color, 1, 10), 1);
  setColorPixel(&image, 1, 1, 0x000001);
  setColorPixel(&image, 1, 11, 0x00000B);
  EXPECT_EQ(image.firstLine, 3u);
  EXPECT_EQ(image.lastLine, 12);
  std::fflush(image.file);
  EXPECT_EQ(test::readFile(path), header("P6", 1, 20) + std::string("\x01\0\0\xFF\xFF\xFF", 6));
  setColorPixel(&image, 1, 3, 0x000003);
  EXPECT_DEATH(setColorPixel(&image, 1, 2, 0), "^Line is already stored and can't be observed\\.$");
  destroyImage(&image);
  std::vector<PackedColor> expected(20, 0xFFFFFF);
  expected[0] = 1;
  expected[2] = 3;
  expected[10] = 11;
  EXPECT_EQ(test::readFile(path), test::makePpm(1, 20, expected));

  // A Bilevel set moves the window only as far as its line.
  setImageSize(&image, 8, 20);
  ASSERT_EQ(openImage(path.c_str(), &image, Create, 1, FixedWindow, Bilevel, 1, 10), 1);
  setBilevelPixel(&image, 1, 11, 1);
  EXPECT_EQ(image.firstLine, 2u);
  EXPECT_EQ(image.lastLine, 11);
  destroyImage(&image);
}

TEST(ImageStoreFileTest, DestroyWithoutSetsWritesWhiteRows) {
  test::TempDir dir;
  const std::string path = dir.file("out");
  const struct {
    int model;
    std::string expected;
  } cases[] = {
      {Bilevel, header("P4", 9, 3) + std::string(6, '\0')},
      {Gray, header("P5", 9, 3) + std::string(27, '\xFF')},
      {Color, header("P6", 9, 3) + std::string(81, '\xFF')},
  };
  for (const auto& c : cases) {
    ImageBuffer image;
    setImageSize(&image, 9, 3);
    ASSERT_EQ(openImage(path.c_str(), &image, Create, 1, FixedWindow, c.model, 1, 2), 1);
    EXPECT_EQ(flushImage(&image), 1);
    destroyImage(&image);  // a second flush adds no rows
    EXPECT_EQ(test::readFile(path), c.expected);
  }
}

TEST(ImageStoreFileTest, RewindTurnsACreatedImageIntoAReadStateImage) {
  test::TempDir dir;
  const std::string path = dir.file("out.ppm");
  const std::vector<PackedColor> pixels = patternPixels(3, 7);
  ImageBuffer image;
  setImageSize(&image, 3, 7);
  ASSERT_EQ(openImage(path.c_str(), &image, Create, 0, FixedWindow, Color, 1, 3), 1);
  for (std::uint32_t y = 1; y <= 6; ++y) {
    for (std::uint32_t x = 1; x <= 3; ++x) setColorPixel(&image, x, y, pixels[3 * (y - 1) + x - 1]);
  }
  EXPECT_EQ(rewindImage(&image), 1);
  EXPECT_EQ(image.readMode, 1u);
  EXPECT_EQ(image.firstLine, 1u);
  std::vector<PackedColor> expected = pixels;
  for (std::uint32_t x = 0; x < 3; ++x) expected[18 + x] = 0xFFFFFF;  // line 7 was never set
  for (std::uint32_t y = 1; y <= 7; ++y) {
    for (std::uint32_t x = 1; x <= 3; ++x)
      EXPECT_EQ(getColorPixel(&image, x, y), expected[3 * (y - 1) + x - 1]);
  }
  destroyImage(&image);
  EXPECT_EQ(test::readFile(path), test::makePpm(3, 7, expected));
}

TEST(ImageStoreFileTest, EveryRawKindCopiesBackByteForByte) {
  // Width 16 leaves no padding bits in a P4 row: a copy moves pixels, and
  // padding bits belong to none.
  test::TempDir dir;
  std::string samples;
  for (int i = 0; i < 25 * 48; ++i) samples.push_back(static_cast<char>((i * 37 + i / 7) & 0xFF));
  const std::pair<const char*, std::size_t> kinds[] = {{"P4", 2}, {"P5", 16}, {"P6", 48}};
  for (const auto& [magic, rowBytes] : kinds) {
    for (auto [method, window] : {std::pair{WholeImage, 256u}, {FixedWindow, 4u}}) {
      SCOPED_TRACE(std::string(magic) + " window " + std::to_string(window));
      const std::string source = dir.file("in"), target = dir.file("copy");
      const std::string bytes = header(magic, 16, 25) + samples.substr(0, 25 * rowBytes);
      test::writeFile(source, bytes);
      ImageBuffer image;
      ASSERT_EQ(openForReading(source, &image, method, window), 1);
      // The last pixel of the last line, as the file holds it.
      const auto byteAt = [&](std::size_t back) {
        return static_cast<PackedColor>(static_cast<std::uint8_t>(bytes[bytes.size() - back]));
      };
      const PackedColor expected = magic[1] == '4'   ? (byteAt(1) & 1 ? 0 : 0xFFFFFF)
                                   : magic[1] == '5' ? byteAt(1) * 0x010101u
                                                     : byteAt(3) | byteAt(2) << 8 | byteAt(1) << 16;
      EXPECT_EQ(getPixel(&image, 16, 25), expected);
      EXPECT_EQ(copyImageToFile(&image, target.c_str()), 1);
      EXPECT_EQ(test::readFile(target), bytes);
      destroyImage(&image);
      EXPECT_EQ(test::readFile(source), bytes);
    }
  }
}

TEST(ImageStoreFileTest, CopyOfAMemoryImageAndItsFailures) {
  test::TempDir dir;
  const std::vector<PackedColor> pixels = patternPixels(4, 25);
  ImageBuffer image;
  openMemory(&image, Color, 4, 25);
  for (std::uint32_t y = 1; y <= 25; ++y) {
    for (std::uint32_t x = 1; x <= 4; ++x) setColorPixel(&image, x, y, pixels[4 * (y - 1) + x - 1]);
  }
  const std::string path = dir.file("dump2_out.ppm");
  test::writeFile(path, "old");
  EXPECT_EQ(copyImageToFile(&image, path.c_str()), 1);
  EXPECT_EQ(test::readFile(path), test::makePpm(4, 25, pixels));

  test::CapturedConsole console;
  const std::string missing = dir.file("no/dump.ppm");
  EXPECT_EQ(copyImageToFile(&image, missing.c_str()), 0);
  EXPECT_EQ(console.err(), "ERROR: Couldn't open the file: " + missing);
  EXPECT_EQ(getColorPixel(&image, 4, 25), pixels.back());
  destroyImage(&image);
  EXPECT_EQ(destroyImage(&image), 1);
  EXPECT_EQ(destroyImage(nullptr), 1);
  // A closed or never opened record is out of bounds everywhere.
  EXPECT_EQ(getColorPixel(&image, 1, 1), 0u);
  EXPECT_EQ(copyImageToFile(&image, path.c_str()), 0);
  EXPECT_EQ(rewindImage(&image), 0);
}

}  // namespace
}  // namespace tavrel
