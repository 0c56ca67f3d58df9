// The command line's run of the colour progression: the engine builds the
// split tree of the input image; this side prints the step messages, paints
// the images and writes one dump per colour count.
#pragma once

#include <string>

#include "image/image_store.h"
#include "progression/build.h"

namespace tavrel {

// The histogram of an image of the store, the colour number of every pixel
// kept when asked for.
ColourHistogram imageHistogram(ImageBuffer* image, bool keepPixelIds);

// Runs the whole progression. Memory running out throws std::bad_alloc
// (OutOfMemoryWithColours once the colours are known) with nothing written
// half-way and everything the run built released. Returns the code size in bytes, always 0.
// Sets *failed (when given) when a dump could not be written.
int runProgression(ImageBuffer* input, ImageBuffer* output, const std::string& outputName,
                   int limit, bool* failed = nullptr);

}  // namespace tavrel
