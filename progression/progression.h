// Colour progression: histogram, cluster tree and the top-down splitting that
// repaints the output image and writes one dump per colour count.
#pragma once

#include <cstdint>
#include <new>
#include <string>

#include "image/image_store.h"

namespace tavrel {

// Memory ran out once the colours of the image were counted.
struct OutOfMemoryWithColours : std::bad_alloc {
  explicit OutOfMemoryWithColours(std::uint32_t count) : colours(count) {}
  std::uint32_t colours;
};

// Runs the whole progression. Memory running out throws std::bad_alloc
// (OutOfMemoryWithColours once the colours are known) with nothing written
// half-way and everything the run built released. Returns the code size in bytes, always 0.
// Sets *failed (when given) when a dump could not be written.
int runProgression(ImageBuffer* input, ImageBuffer* output, const std::string& outputName,
                   int limit, bool* failed = nullptr);

}  // namespace tavrel
