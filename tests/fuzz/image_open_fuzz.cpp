// Opening an image from arbitrary bytes as the program opens its input: the
// sniff, the three raw headers and their rows, the claimed-size check. An
// image that opens reads pixels its model can hold, the same through any
// window, and its copy reads back as the same image. Every file is in memory.
#include <vector>

#include "fuzz/fuzz_support.h"

namespace tavrel::fuzz {
namespace {

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
      if (image->model == Bilevel ? (c != 0 && c != 0xFFFFFF)
          : image->model == Gray  ? c != (c & 0xFF) * 0x010101u
                                  : (c >> 24) != 0)
        fail("pixel %u,%u = %06x does not fit model %d", x, y, c, image->model);
      pixels.push_back(c);
    }
  }
  if (getPixel(image, image->width + 1, 1) != (image->model == Bilevel ? 0xFFFFFF : 0))
    fail("an out-of-bounds read gave a pixel");
  return pixels;
}

void run(const std::uint8_t* data, std::size_t size) {
  static int inputFd = -1, copyFd = -1;
  const std::string input = memoryFile(inputFd, data, size), copyFile = memoryFile(copyFd, "", 0);
  Opened whole(input, WholeImage, 256);
  ImageBuffer& image = whole.image;
  // Larger images are opened but not walked: each costs as much as hundreds of small ones.
  if (!whole.ok || std::uint64_t(image.width) * image.height > 4096 || image.height > 256) return;
  if (image.xMax != image.width || image.yMax != image.height) fail("bounds cut the image");
  const std::vector<PackedColor> pixels = walk(&image);

  const std::uint32_t window = 2 + static_cast<std::uint32_t>(size % 9);
  {
    Opened windowed(input, size % 2 ? FixedWindow : ShrinkingWindow, window);
    if (!windowed.ok || windowed.image.ringSize > window) fail("no %u-line window", window);
    if (walk(&windowed.image) != pixels) fail("the %u-line window reads other pixels", window);
  }
  if (copyImageToFile(&image, copyFile.c_str()) != 1) fail("copy failed");
  if (walk(&image) != pixels) fail("the rewound source reads other pixels");
  Opened copy(copyFile, WholeImage, 256);
  if (!copy.ok || copy.image.model != image.model || copy.image.width != image.width ||
      walk(&copy.image) != pixels)
    fail("the copy reads as another image");
}

}  // namespace
}  // namespace tavrel::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  tavrel::fuzz::ConsoleGuard guard(1u << 18);
  try {
    tavrel::fuzz::run(data, size);
  } catch (const tavrel::fuzz::FatalStopped&) {
    tavrel::fuzz::fail("fatal stop while reading an image in order");
  }
  return 0;
}
