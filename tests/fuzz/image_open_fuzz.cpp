// Opening an image from arbitrary bytes, as the program opens its input (the
// whole image in memory): the sniff, the three raw headers and their rows,
// the claimed-size check. An image that opens reads the same pixels through
// any window, and its copy reads back as the same image and copies again to
// the same bytes. Every file lives in memory.
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "image/image_store.h"

namespace tavrel::fuzz {
namespace {

constexpr std::size_t kLineBudget = 1u << 18;
// Larger images are opened but not walked, windowed or copied: each would
// cost as much as hundreds of small ones.
constexpr std::uint64_t kWalkPixels = 1u << 12;
constexpr std::uint32_t kWalkLines = 256;

struct Opened {
  ImageBuffer image;
  bool ok;
  Opened(const std::string& path, int method, std::uint32_t window)
      : ok(openImage(path.c_str(), &image, Read, 0, method, Color, 1, window) == 1) {}
  ~Opened() { destroyImage(&image); }
};

// Every pixel in row order, each checked against what its model can hold.
std::vector<PackedColor> walk(ImageBuffer* image) {
  std::vector<PackedColor> pixels;
  for (std::uint32_t y = 1; y <= image->height; ++y) {
    for (std::uint32_t x = 1; x <= image->width; ++x) {
      const PackedColor c = getPixel(image, x, y);
      const bool fits = image->model == Bilevel ? (c == 0 || c == 0xFFFFFF)
                        : image->model == Gray  ? c == (c & 0xFF) * 0x010101u
                                                : (c >> 24) == 0;
      if (!fits) fail("pixel %u,%u = %06x does not fit model %d", x, y, c, image->model);
      pixels.push_back(c);
    }
  }
  return pixels;
}

void check(const ImageBuffer& image) {
  const int kind = image.model == Bilevel ? PbmRaw : image.model == Gray ? PgmRaw : PpmRaw;
  if (image.width == 0 || image.height == 0 || image.fileKind != kind) fail("odd record");
  if (image.xMin != 1 || image.yMin != 1 || image.xMax != image.width ||
      image.yMax != image.height) {
    fail("bounds do not cover the whole image");
  }
}

void run(const std::uint8_t* data, std::size_t size) {
  static MemoryFile input, copyFile, againFile;
  input.assign(data, size);
  Opened whole(input.path(), WholeImage, 256);
  if (!whole.ok) return;
  ImageBuffer& image = whole.image;
  check(image);
  if (static_cast<std::uint64_t>(image.width) * image.height > kWalkPixels ||
      image.height > kWalkLines) {
    return;
  }
  const std::vector<PackedColor> pixels = walk(&image);
  const PackedColor outside = image.model == Bilevel ? 0xFFFFFF : 0;
  if (getPixel(&image, 0, 1) != outside || getPixel(&image, image.width + 1, 1) != outside ||
      getPixel(&image, 1, image.height + 1) != outside) {
    fail("out-of-bounds read gave a pixel");
  }

  const std::uint32_t window = 2 + static_cast<std::uint32_t>(size % 9);
  {
    Opened windowed(input.path(), size % 2 ? FixedWindow : ShrinkingWindow, window);
    if (!windowed.ok || windowed.image.ringSize > window) fail("no %u-line window", window);
    check(windowed.image);
    if (walk(&windowed.image) != pixels) fail("the %u-line window reads other pixels", window);
  }

  if (copyImageToFile(&image, copyFile.path().c_str()) != 1) fail("copy failed");
  if (walk(&image) != pixels) fail("the rewound source reads other pixels");
  Opened copy(copyFile.path(), WholeImage, 256);
  if (!copy.ok || copy.image.model != image.model || copy.image.width != image.width ||
      copy.image.height != image.height || walk(&copy.image) != pixels) {
    fail("the copy reads as another image");
  }
  if (copyImageToFile(&copy.image, againFile.path().c_str()) != 1) fail("second copy failed");
  if (readBytes(copyFile.path()) != readBytes(againFile.path())) fail("the copy's copy differs");
}

}  // namespace
}  // namespace tavrel::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  tavrel::fuzz::ConsoleGuard guard(tavrel::fuzz::kLineBudget);
  try {
    tavrel::fuzz::run(data, size);
  } catch (const tavrel::fuzz::FatalStopped&) {
    tavrel::fuzz::fail("fatal stop while reading an image in order");
  }
  return 0;
}
