#pragma once

#include <string>

#include "image/image_store.h"

namespace tavrel {

int runFastProgression(ImageBuffer* input, ImageBuffer* output, const std::string& outputName,
                       int limit, bool* failed = nullptr);

}  // namespace tavrel
