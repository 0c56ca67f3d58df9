// The PNM file layer and the line-buffered image store: headers, kinds,
// the overwrite rule, pixel models, windows, copies and their failures.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "image/file_guard.h"
#include "image/image_store.h"
#include "support/test_support.h"

namespace tavrel {
namespace {

// A stream over the bytes, at their start.
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

std::string header(const char* magic, std::uint32_t width, std::uint32_t height) {
  const std::string text = std::string(magic) + "\n" + std::to_string(width) + " " +
                           std::to_string(height) + "\n";
  return magic[1] == '4' ? text : text + "255\n";
}

// Lines of distinct colours, so that a row out of place shows.
std::vector<PackedColor> pattern(std::uint32_t width, std::uint32_t height) {
  std::vector<PackedColor> pixels;
  for (std::uint32_t i = 0; i < width * height; ++i) pixels.push_back((i / width + 1) * 0x010307u + (i % width + 1) * 0x1F);
  return pixels;
}

int openForReading(const std::string& path, ImageBuffer* image, int method = WholeImage,
                   std::uint32_t window = 256) {
  return openImage(path.c_str(), image, Read, 0, method, Color, 1, window);
}

TEST(PnmFiles, HeadersReadAsScannedByTheNumericConversions) {
  const std::string levels = "This module supports 8-bit color components only.The current image file has ";
  const std::string noP6 = "PPM-identification flag not found\a. (P6 was expected).";
  struct Case {
    char kind;  // the reader: '4', '5' or '6'
    std::string bytes;
    int result;
    std::uint32_t width, height;
    int maxval;
    std::string after, err;  // what the stream holds after the header; the message
  };
  const Case cases[] = {
      {'6', "P6\n#a\n#b\n3\n#c\n2 #d\n#e\n255\nX", 1, 3, 2, 255, "X", ""},
      {'6', "P6 3 2 255 X", 1, 3, 2, 255, "X", ""},
      {'6', "P6\n0x10 010\n0377\nX", 1, 16, 8, 255, "X", ""},
      {'6', "P6\n3 2\n255\n\n\n", 1, 3, 2, 255, "\n\n", ""},  // one separator byte only
      {'6', "P6\n4294967295 1\n255\n", 1, 4294967295u, 1, 255, "", ""},
      {'6', "P6\n3 2\n65535\nX", 0, 3, 2, 65535, "\nX", levels + "65536 levels."},
      {'6', "P6\n3 2\n", 0, 3, 2, 0, "", levels + "1 levels."},
      {'6', "P6\n3 2\n4294967551\n", 0, 3, 2, 2147483647, "\n", levels + "2147483648 levels."},
      {'6', "P6\n0 2\n255\n", 0, 0, 0, 0, "2\n255\n", ""},
      {'6', "P6\n-3 2\n255\n", 0, 0, 0, 0, "2\n255\n", ""},
      {'6', "P6\n4294967296 2\n255\n", 0, 0, 0, 0, "2\n255\n", ""},
      {'6', "P6\nabc\n", 0, 0, 0, 0, "abc\n", ""},
      {'6', "P6\n3 # never ends", 0, 3, 0, 0, "", ""},
      {'6', "P5\n3 2\n255\n", 0, 0, 0, 0, "\n3 2\n255\n", noP6},
      {'6', " P6\n3 2\n255\n", 0, 0, 0, 0, "6\n3 2\n255\n", noP6},
      {'5', "P5\n4 1\n15\n", 0, 4, 1, 15, "\n",
       "This module supports 256 gray scales only.The current image file has 16 levels."},
      {'5', "P6\n4 1\n255\n", 0, 0, 0, 0, "\n4 1\n255\n",
       "PGM-identification flag not found.. (P5 was expected)."},
      // No white-space skip after a PBM height: the sample byte 0x20 stays.
      {'4', "P4\n#a\n9\n#b\n2\n ", 1, 9, 2, 0, " ", ""},
      {'4', "P6\n9 2\n", 0, 0, 0, 0, "\n9 2\n", "PBM-identification flag not found\a. (P4 was expected)."},
      {'4', "P4\n9 -2\n", 0, 9, 0, 0, "\n", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.bytes);
    test::CapturedConsole console;
    std::FILE* stream = streamOf(c.bytes);
    std::uint32_t width = 0, height = 0;
    int maxval = 0;
    EXPECT_EQ(c.kind == '4'   ? readPbmHeader(stream, &width, &height)
              : c.kind == '5' ? readPgmHeader(stream, &width, &height, &maxval)
                              : readPpmHeader(stream, &width, &height, &maxval),
              c.result);
    EXPECT_EQ(std::tuple(width, height, maxval), std::tuple(c.width, c.height, c.maxval));
    EXPECT_EQ(rest(stream), c.after);
    EXPECT_EQ(console.err(), c.err);
    std::fclose(stream);
  }
}

TEST(PnmFiles, KindComesFromTheFirstTwoBytes) {
  test::TempDir dir;
  const std::pair<std::string, int> cases[] = {
      {"P6\n1 1\n255\n", PpmRaw}, {"P5", PgmRaw},      {"P4", PbmRaw},      {"P2\n", PgmPlain},
      {"P3\n", UnknownKind},      {"P1", UnknownKind}, {"p6", UnknownKind}, {"P", UnknownKind},
      {"\nP6", UnknownKind},
  };
  for (const auto& [bytes, kind] : cases) {
    test::writeFile(dir.file("image"), bytes);
    EXPECT_EQ(sniffFileKind(dir.file("image").c_str()), kind) << bytes;
  }
  EXPECT_EQ(sniffFileKind(dir.file("missing").c_str()), UnknownKind);
}

TEST(PnmFiles, OverwriteRuleAndMessages) {
  test::TempDir dir;
  const std::string path = dir.file("out.ppm"), sub = dir.file("sub"), missing = dir.file("no/x");
  test::writeFile(path, "keep");
  ASSERT_EQ(mkdir(sub.c_str(), 0700), 0);
  test::CapturedConsole console;
  for (int overwrite : {0, 2, -1}) EXPECT_EQ(openFileByMode(path.c_str(), Create, overwrite), nullptr);
  EXPECT_EQ(test::readFile(path), "keep");
  std::FILE* stream = openFileByMode(path.c_str(), Create, 1);
  ASSERT_NE(stream, nullptr);
  std::fputs("P6", stream);
  std::rewind(stream);  // created for writing and reading back
  EXPECT_EQ(rest(stream), "P6");
  std::fclose(stream);
  EXPECT_EQ(openFileByMode(sub.c_str(), Create, 1), nullptr);  // a folder stays
  EXPECT_EQ(openFileByMode(missing.c_str(), Read, 0), nullptr);
  EXPECT_EQ(openFileByMode(missing.c_str(), Create, 1), nullptr);
  EXPECT_EQ(openFileByMode(path.c_str(), 7, 1), nullptr);
  const std::string exists = "ERROR: File already exists: " + path;
  EXPECT_EQ(console.err(), exists + exists + exists + "ERROR: Couldn't open the file: " + sub +
                               "ERROR: Cannot find the file: " + missing +
                               "ERROR: Couldn't open the file: " + missing + "ERROR: Invalid file mode:7");
}

TEST(PnmFiles, RowsReadPastTheEndAsFfAndKeepTheirOrderBeyondOneBlock) {
  std::FILE* stream = streamOf("abcd");
  std::uint8_t bytes[6] = {};
  EXPECT_EQ(readRawRow(stream, bytes, 6), 1);
  EXPECT_EQ(std::string(bytes, bytes + 6), "abcd\xFF\xFF");
  std::fclose(stream);
  const long count = 10007;
  std::vector<std::uint8_t> in[3], out[3];
  for (int c = 0; c < 3; ++c) {
    for (long i = 0; i < count; ++i) in[c].push_back(static_cast<std::uint8_t>(i * (c + 3) >> c));
    out[c].assign(count, 0);
  }
  stream = std::tmpfile();
  EXPECT_EQ(writeRgbRow(stream, in[0].data(), in[1].data(), in[2].data(), count), 1);
  std::rewind(stream);
  EXPECT_EQ(readRgbRow(stream, out[0].data(), out[1].data(), out[2].data(), count), 1);
  for (int c = 0; c < 3; ++c) EXPECT_EQ(out[c], in[c]);
  std::fclose(stream);
}

TEST(ImageStore, SizeAndBounds) {
  test::CapturedConsole console;
  ImageBuffer image;
  EXPECT_EQ(setImageSize(&image, 0, 0), 1);
  EXPECT_EQ(std::tuple(image.width, image.height, image.xMax), std::tuple(1u, 1u, 1u));
  setImageSize(&image, 10, 20);
  EXPECT_EQ(setImageBounds(&image, 5, 5, 0, 3), 0);
  EXPECT_EQ(console.err(), "Invalid image size.");
  EXPECT_EQ(setImageBounds(&image, 0, 4, 3, 4294967295u), 1);
  // xMax is 0 + 3 - 1, formed before x0 is raised to 1; the y sum does not wrap.
  EXPECT_EQ(std::tuple(image.xMin, image.xMax, image.yMin, image.yMax), std::tuple(1u, 2u, 4u, 20u));
}

TEST(ImageStore, PixelModels) {
  struct Case {
    int model, bilevel, gray;
    PackedColor color, outside;
  } cases[] = {{Bilevel, 0, -1, 0, 0xFFFFFF}, {Gray, -1, 255, 0, 0}, {Color, -1, -1, 0xFFFFFF, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.model);
    ImageBuffer image;
    setImageSize(&image, 9, 3);
    ASSERT_EQ(openImage("", &image, Create, 0, WholeImage, c.model, 0, 256), 1);  // all white
    EXPECT_EQ(std::tuple(getBilevelPixel(&image, 9, 3), getGrayPixel(&image, 9, 3), getColorPixel(&image, 9, 3)),
              std::tuple(c.bilevel, c.gray, c.color));
    for (auto [x, y] : {std::pair{0u, 1u}, {10u, 1u}, {1u, 0u}, {1u, 4u}}) {
      EXPECT_EQ(getPixel(&image, x, y), c.outside);
      setPixel(&image, x, y, 0);  // nothing happens, nothing breaks
    }
    // Sets of another model leave the image white.
    if (c.model != Bilevel) setBilevelPixel(&image, 1, 1, 1);
    if (c.model != Gray) setGrayPixel(&image, 1, 1, 0);
    if (c.model != Color) setColorPixel(&image, 1, 1, 0);
    EXPECT_EQ(getPixel(&image, 1, 1), 0xFFFFFFu);
    // Conversions through the generic access.
    setPixel(&image, 2, 1, 0x123456);
    setPixel(&image, 3, 1, 0x000001);
    const PackedColor second[] = {0xFFFFFF, 0x565656, 0x123456};
    const PackedColor third[] = {0xFFFFFF, 0x010101, 0x000001};
    EXPECT_EQ(getPixel(&image, 2, 1), second[c.model]);
    EXPECT_EQ(getPixel(&image, 3, 1), third[c.model]);
    if (c.model == Bilevel) {  // bits run most significant first; 9 pixels take 2 bytes
      setBilevelPixel(&image, 9, 1, 1);
      setBilevelPixel(&image, 8, 1, 7);
      EXPECT_EQ(std::tuple(image.lineSize, image.lines[0][0], image.lines[0][1]),
                std::tuple(2u, std::uint8_t{0x01}, std::uint8_t{0x80}));
    }
    if (c.model == Gray) {
      setGrayPixel(&image, 4, 1, 0x1FF);
      EXPECT_EQ(getGrayPixel(&image, 4, 1), 0xFF);
    }
    if (c.model == Color) {  // the fourth byte of a pixel is never touched
      image.lines[0][3] = 0xA5;
      setColorPixel(&image, 1, 1, 0xFF123456);
      EXPECT_EQ(std::tuple(getColorPixel(&image, 1, 1), image.lines[0][3]), std::tuple(0x123456u, std::uint8_t{0xA5}));
    }
    destroyImage(&image);
  }
}

TEST(ImageStore, OpenTakesTheKindOfTheFileOrRefusesIt) {
  test::TempDir dir;
  const std::string path = dir.file("in.ppm");
  test::writeFile(path, header("P5", 2, 2) + "\x01\x02\x03");  // one sample short
  ImageBuffer image;
  ASSERT_EQ(openForReading(path, &image), 1);
  EXPECT_EQ(std::tuple(image.model, image.fileKind, image.maxValue), std::tuple(Gray, PgmRaw, 255));
  EXPECT_EQ(std::tuple(getGrayPixel(&image, 2, 1), getGrayPixel(&image, 2, 2), getColorPixel(&image, 1, 1)),
            std::tuple(2, 0xFF, 0u));
  destroyImage(&image);
  test::writeFile(path, header("P6", 1, 19999));
  ASSERT_EQ(openForReading(path, &image), 1);
  EXPECT_EQ(std::tuple(image.ringSize, getColorPixel(&image, 1, 19999)), std::tuple(19999u, 0xFFFFFFu));
  destroyImage(&image);

  const std::string size = "Invalid image size.";
  const std::pair<std::string, std::string> cases[] = {
      {"P2\n2 2\n255\n", "Image " + path + " has not supported type or not exist"},
      {"P6\n2 2\n100\n", "This module supports 8-bit color components only.The current image file has 101 levels."},
      {"P6\n0 2\n255\n", size},
      {"P5\n2 -2\n255\n", size},
      {"P6\n1073741824 1\n255\n", size},  // a colour line beyond 32 bits
      {"P5\n1 2147483648\n255\n", size},  // beyond line numbers
      {"P6\n# cut", size},
      {"P6\n1 20000\n255\n", "Module supports buffer size up to XXXX lines only."},
  };
  for (const auto& [bytes, err] : cases) {
    SCOPED_TRACE(bytes);
    test::writeFile(path, bytes);
    test::CapturedConsole console;
    EXPECT_EQ(openForReading(path, &image), 0);
    EXPECT_EQ(image.lines, nullptr);
    EXPECT_EQ(console.err(), err);
    EXPECT_EQ(destroyImage(&image), 1);  // closes a stream the open left behind
    EXPECT_EQ(image.file, nullptr);
  }
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
  EXPECT_EQ(console.err(), "Module supports buffer size up to XXXX lines only." + size + "ERROR: File already exists: " + path);
}

// Line buffers after the first gAllowedLines fail.
int gAllowedLines = 0;
void* limitedAllocator(std::size_t size) { return gAllowedLines-- > 0 ? std::malloc(size) : nullptr; }

TEST(ImageStore, ShrinkingWindowSettlesForTheBuffersItGot) {
  test::TempDir dir;
  const std::string path = dir.file("in.ppm");
  const std::vector<PackedColor> pixels = pattern(3, 30);
  test::writeFile(path, test::makePpm(3, 30, pixels));
  setLineAllocator(limitedAllocator);
  test::CapturedConsole console;
  gAllowedLines = 12;
  ImageBuffer image;
  ASSERT_EQ(openForReading(path, &image, ShrinkingWindow, 20), 1);
  EXPECT_EQ(std::tuple(image.ringSize, image.bufferingMethod), std::tuple(12u, FixedWindow));
  for (std::uint32_t y = 1; y <= 30; ++y) EXPECT_EQ(getColorPixel(&image, 2, y), pixels[3 * y - 2]);
  destroyImage(&image);
  // Too few buffers, or no shrinking allowed, or a write-state image.
  for (auto [allowed, method, mode] :
       {std::tuple{9, ShrinkingWindow, Read}, {12, FixedWindow, Read}, {12, ShrinkingWindow, Create}}) {
    gAllowedLines = allowed;
    ImageBuffer failed;
    setImageSize(&failed, 3, 30);
    const std::string target = mode == Read ? path : dir.file("out.ppm");
    EXPECT_EQ(openImage(target.c_str(), &failed, mode, 1, method, Color, 1, 20), 0);
    EXPECT_EQ(std::tuple(failed.lines, failed.file), std::tuple(nullptr, nullptr));
  }
  setLineAllocator(nullptr);
  EXPECT_EQ(console.err(), "");
}

TEST(ImageStore, WindowsMoveOneLineBeyondAndStopAtTheLast) {
  test::TempDir dir;
  const std::string path = dir.file("in.ppm");
  const std::vector<PackedColor> pixels = pattern(2, 20);
  test::writeFile(path, test::makePpm(2, 20, pixels));
  ImageBuffer image;
  ASSERT_EQ(openForReading(path, &image, FixedWindow, 10), 1);
  EXPECT_EQ(getColorPixel(&image, 1, 11), pixels[20]);
  EXPECT_EQ(std::tuple(image.firstLine, image.lastLine), std::tuple(3u, 12));
  EXPECT_EQ(getColorPixel(&image, 2, 20), pixels[39]);
  EXPECT_EQ(image.lastLine, 20);
  EXPECT_EQ(getColorPixel(&image, 2, 11), pixels[21]);
  EXPECT_DEATH(getColorPixel(&image, 1, 10), "^Line is already left buffer and can't be observed\\.$");
  destroyImage(&image);
  // A one-line window would push the requested line out; it gets two.
  ASSERT_EQ(openForReading(path, &image, FixedWindow, 1), 1);
  EXPECT_EQ(image.ringSize, 2u);
  for (std::uint32_t y = 1; y <= 20; ++y) EXPECT_EQ(getColorPixel(&image, 1, y), pixels[2 * y - 2]);
  setColorPixel(&image, 1, 20, 0);  // sets on a read-state image do nothing
  EXPECT_EQ(getColorPixel(&image, 1, 20), pixels[38]);
  destroyImage(&image);

  // A write-state image writes the lines that leave its ring.
  ImageBuffer out;
  setImageSize(&out, 1, 20);
  ASSERT_EQ(openImage(path.c_str(), &out, Create, 1, FixedWindow, Color, 1, 10), 1);
  setColorPixel(&out, 1, 1, 0x000001);
  setColorPixel(&out, 1, 11, 0x00000B);
  EXPECT_EQ(std::tuple(out.firstLine, out.lastLine), std::tuple(3u, 12));
  std::fflush(out.file);
  EXPECT_EQ(test::readFile(path), header("P6", 1, 20) + std::string("\x01\0\0\xFF\xFF\xFF", 6));
  setColorPixel(&out, 1, 3, 0x000003);
  EXPECT_DEATH(setColorPixel(&out, 1, 2, 0), "^Line is already stored and can't be observed\\.$");
  destroyImage(&out);
  std::vector<PackedColor> expected(20, 0xFFFFFF);
  expected[0] = 1, expected[2] = 3, expected[10] = 11;
  EXPECT_EQ(test::readFile(path), test::makePpm(1, 20, expected));
}

TEST(ImageStore, FreshFilesAreWhiteAndEveryRawKindCopiesBackByteForByte) {
  test::TempDir dir;
  const std::string source = dir.file("in"), target = dir.file("copy");
  const std::pair<int, std::string> fresh[] = {{Bilevel, header("P4", 9, 3) + std::string(6, '\0')},
                                               {Gray, header("P5", 9, 3) + std::string(27, '\xFF')},
                                               {Color, header("P6", 9, 3) + std::string(81, '\xFF')}};
  for (const auto& [model, bytes] : fresh) {
    ImageBuffer image;
    setImageSize(&image, 9, 3);
    ASSERT_EQ(openImage(target.c_str(), &image, Create, 1, FixedWindow, model, 1, 2), 1);
    EXPECT_EQ(flushImage(&image), 1);
    destroyImage(&image);  // a second flush adds no rows
    EXPECT_EQ(test::readFile(target), bytes);
  }
  // Width 16 leaves no padding bits in a P4 row: a copy moves pixels.
  std::string samples;
  for (int i = 0; i < 25 * 48; ++i) samples.push_back(static_cast<char>((i * 37 + i / 7) & 0xFF));
  for (const auto& [magic, rowBytes] : {std::pair{"P4", 2}, {"P5", 16}, {"P6", 48}}) {
    for (auto [method, window] : {std::pair{WholeImage, 256u}, {FixedWindow, 4u}}) {
      SCOPED_TRACE(std::string(magic) + " window " + std::to_string(window));
      const std::string bytes = header(magic, 16, 25) + samples.substr(0, 25 * rowBytes);
      test::writeFile(source, bytes);
      ImageBuffer image;
      ASSERT_EQ(openForReading(source, &image, method, window), 1);
      const auto byte = [&](std::size_t back) { return static_cast<std::uint8_t>(bytes[bytes.size() - back]); };
      EXPECT_EQ(getPixel(&image, 16, 25), magic[1] == '4'   ? (byte(1) & 1 ? 0 : 0xFFFFFFu)
                                          : magic[1] == '5' ? byte(1) * 0x010101u
                                                            : test::pack(byte(3), byte(2), byte(1)));
      EXPECT_EQ(copyImageToFile(&image, target.c_str()), 1);
      EXPECT_EQ(test::readFile(target), bytes);
      destroyImage(&image);
      EXPECT_EQ(test::readFile(source), bytes);
    }
  }
}

TEST(ImageStore, CopyOfAMemoryImageAndItsFailures) {
  test::TempDir dir;
  const std::vector<PackedColor> pixels = pattern(4, 25);
  test::MemoryImage image(4, 25, pixels);
  const std::string path = dir.file("dump2_out.ppm"), missing = dir.file("no/dump.ppm");
  test::writeFile(path, "old");
  EXPECT_EQ(copyImageToFile(image.get(), path.c_str()), 1);
  EXPECT_EQ(test::readFile(path), test::makePpm(4, 25, pixels));
  test::CapturedConsole console;
  EXPECT_EQ(copyImageToFile(image.get(), missing.c_str()), 0);
  EXPECT_EQ(console.err(), "ERROR: Couldn't open the file: " + missing);
  EXPECT_EQ(image.pixels(), pixels);
  ImageBuffer closed;
  EXPECT_EQ(std::tuple(destroyImage(&closed), destroyImage(nullptr)), std::tuple(1, 1));
  // A closed or never opened record is out of bounds everywhere.
  EXPECT_EQ(getColorPixel(&closed, 1, 1), 0u);
  EXPECT_EQ(copyImageToFile(&closed, path.c_str()), 0);
  EXPECT_EQ(rewindImage(&closed), 0);
}

TEST(FileGuard, AWriteThatFailsRemovesTheFileAndSaysSo) {
  test::TempDir dir;
  const std::string path = dir.file("dump2_out.ppm");
  test::writeFile(path, "partial");
  std::FILE* full = std::fopen("/dev/full", "wb");  // writes fail with "no space" on flush
  ASSERT_NE(full, nullptr);
  std::fputs("P6\n1 1\n255\n", full);
  test::CapturedConsole console;
  EXPECT_EQ(finishWrittenFile(full, path.c_str()), 0);
  EXPECT_EQ(console.err(), "ERROR: Could not write " + path + " completely; the incomplete file was removed.\n");
  EXPECT_FALSE(std::filesystem::exists(path));
}

}  // namespace
}  // namespace tavrel
