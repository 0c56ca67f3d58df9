// Opening an image from arbitrary bytes: the sniff, the three raw headers and
// their rows, as the program opens its input (the whole image in memory).
// When the open succeeds, the pixels must not depend on how the lines are
// buffered, and the copy written to a file must read back as the same image
// and copy again to the same bytes.
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "image/image_store.h"

namespace tavrel::fuzz {
namespace {

// Line buffers a single input may take; a header claiming more fails its
// open, as it would on a machine without that much memory.
constexpr std::size_t kLineBudget = 16u << 20;
// Larger images are opened (and their lines read) but not walked, windowed
// or copied: each of their runs would cost as much as hundreds of small ones.
constexpr std::uint64_t kWalkLimit = 1u << 16;
constexpr std::uint32_t kWalkLines = 1024;

struct Opened {
  ImageBuffer image;
  bool ok = false;
  Opened(const std::string& path, int method, std::uint32_t window) {
    try {
      ok = openImage(path.c_str(), &image, Read, 0, method, Color, 1, window) == 1;
    } catch (const FatalStopped&) {
      fail("fatal stop while opening %s", path.c_str());
    }
  }
  ~Opened() { destroyImage(&image); }
};

int expectedKind(int model) {
  return model == Bilevel ? PbmRaw : model == Gray ? PgmRaw : PpmRaw;
}

// Every pixel in row order, checked against what its model can hold.
std::vector<PackedColor> walk(ImageBuffer* image) {
  std::vector<PackedColor> pixels;
  pixels.reserve(static_cast<std::size_t>(image->width) * image->height);
  try {
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
  } catch (const FatalStopped&) {
    fail("fatal stop while reading the rows in order");
  }
  return pixels;
}

void checkOpenedRecord(const ImageBuffer& image) {
  if (image.width == 0 || image.height == 0) fail("opened with an empty size");
  if (image.fileKind != expectedKind(image.model))
    fail("kind %d, model %d", image.fileKind, image.model);
  if (image.xMin != 1 || image.yMin != 1 || image.xMax != image.width ||
      image.yMax != image.height) {
    fail("bounds do not cover the whole image");
  }
}

}  // namespace
}  // namespace tavrel::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace tavrel;
  using namespace tavrel::fuzz;
  const std::string path = scratchFile("input");
  writeBytes(path, data, size);
  ConsoleGuard guard(kLineBudget);

  Opened whole(path, WholeImage, 256);
  if (!whole.ok) return 0;
  checkOpenedRecord(whole.image);
  const std::uint64_t count = static_cast<std::uint64_t>(whole.image.width) * whole.image.height;
  if (count > kWalkLimit || whole.image.height > kWalkLines) return 0;
  const std::vector<PackedColor> pixels = walk(&whole.image);

  // Out-of-bounds reads answer by the model and never reach a line.
  const PackedColor outside = whole.image.model == Bilevel ? 0xFFFFFF : 0;
  if (getPixel(&whole.image, 0, 1) != outside ||
      getPixel(&whole.image, whole.image.width + 1, whole.image.height) != outside ||
      getPixel(&whole.image, 1, whole.image.height + 1) != outside) {
    fail("out-of-bounds read gave a pixel");
  }

  // A window that moves through the file sees the same pixels.
  const std::uint32_t window = 2 + static_cast<std::uint32_t>(size % 9);
  {
    Opened windowed(path, size % 2 ? FixedWindow : ShrinkingWindow, window);
    if (!windowed.ok) fail("opens whole but not with a %u-line window", window);
    checkOpenedRecord(windowed.image);
    if (windowed.image.ringSize > window) fail("ring of %u lines", windowed.image.ringSize);
    if (walk(&windowed.image) != pixels) fail("the %u-line window reads other pixels", window);
  }

  // The copy is a canonical file of the same kind with the same pixels, and
  // copying it again changes no byte. The rewind of the copy re-reads the
  // source, which must still hold the same pixels.
  const std::string copyPath = scratchFile("copy");
  const std::string againPath = scratchFile("again");
  if (copyImageToFile(&whole.image, copyPath.c_str()) != 1) fail("copy failed");
  if (walk(&whole.image) != pixels) fail("the rewound source reads other pixels");
  Opened copy(copyPath, WholeImage, 256);
  if (!copy.ok) fail("the copy does not open");
  if (copy.image.model != whole.image.model || copy.image.width != whole.image.width ||
      copy.image.height != whole.image.height) {
    fail("the copy has another kind or size");
  }
  if (walk(&copy.image) != pixels) fail("the copy reads other pixels");
  if (copyImageToFile(&copy.image, againPath.c_str()) != 1) fail("second copy failed");
  if (readBytes(copyPath) != readBytes(againPath)) fail("copying the copy changed its bytes");
  return 0;
}
