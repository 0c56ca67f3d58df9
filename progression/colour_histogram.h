// The distinct colours of an image in the order of their first appearance
// (row by row from pixel (1,1)), with pixel counts and, when asked for, the
// colour number of every pixel.
#pragma once

#include <cstdint>
#include <vector>

#include "image/image_store.h"

namespace tavrel {

struct ColourHistogram {
  std::vector<PackedColor> colours;     // index = order of discovery
  std::vector<std::int64_t> counts;     // pixels of each colour
  std::vector<std::uint32_t> pixelIds;  // colour index per pixel, row-major (optional)
};

// Reads every pixel with the semantics of getColorPixel: an image of another
// model reads as black throughout.
ColourHistogram collectColours(ImageBuffer* image, bool keepPixelIds);

}  // namespace tavrel
