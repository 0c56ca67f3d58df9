// The program driver: one job from the command line to the exit code.
#pragma once

#include <string>

#include "image/image_store.h"

namespace tavrel {

using ProgressionRun = int (*)(ImageBuffer* input, ImageBuffer* output,
                               const std::string& outputName, int limit, bool* failed);

// Runs one job and returns the exit code: 0 after a completed run, -1 on
// failure. The progression is a parameter so that the test tree can run the
// same driver over its reference engine.
int runDriver(int argc, char** argv, ProgressionRun run = nullptr);

}  // namespace tavrel
