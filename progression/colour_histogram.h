// The distinct colours of an image in the order of their first appearance
// (row by row from the top left), with pixel counts and, when asked for, the
// colour number of every pixel. Pixels are handed in as runs of 3-byte
// (R, G, B) or 4-byte (R, G, B and an ignored byte) pixels, in image order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "color/packed_color.h"

namespace tavrel {

struct ColourHistogram {
  std::vector<PackedColor> colours;     // index = order of discovery
  std::vector<std::int64_t> counts;     // pixels of each colour
  std::vector<std::uint32_t> pixelIds;  // colour index per pixel, in image order (optional)
};

class HistogramBuilder {
 public:
  // pixels: how many pixels will be added, when their colour numbers are kept;
  // 0 keeps none.
  explicit HistogramBuilder(std::size_t pixels);

  // Adds the next `count` pixels, `bytesPerPixel` (3 or 4) bytes apart.
  void add(const std::uint8_t* pixels, std::size_t count, unsigned bytesPerPixel);

  ColourHistogram finish() { return std::move(histogram_); }

 private:
  std::uint32_t find(PackedColor colour);
  void grow();

  ColourHistogram histogram_;
  bool keepIds_ = false;
  // Open addressing from a 24-bit colour to its number; key 0 marks a free
  // slot, so keys are stored as colour + 1.
  std::vector<std::uint32_t> keys_;
  std::vector<std::uint32_t> values_;
  std::size_t mask_;
};

}  // namespace tavrel
