// Colour progression: histogram, cluster tree and the top-down splitting that
// repaints the output image and writes one dump per colour count.
#pragma once

#include <string>

#include "image/image_store.h"

namespace tavrel {

// Runs the whole progression. Returns the code size in bytes, always 0.
// Sets *failed (when given) when a dump could not be written.
int runProgression(ImageBuffer* input, ImageBuffer* output, const std::string& outputName,
                   int limit, bool* failed = nullptr);

}  // namespace tavrel
