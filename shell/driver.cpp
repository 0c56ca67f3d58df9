#include "shell/driver.h"

#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <exception>
#include <new>

#include "cmdline/arguments.h"
#include "cmdline/options.h"
#include "image/file_guard.h"
#include "shell/console.h"
#include "shell/progression_run.h"

namespace tavrel {
namespace {

long long millisecondsNow() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

int defaultRun(ImageBuffer* input, ImageBuffer* output, const std::string& outputName, int limit,
               bool* failed) {
  return runProgression(input, output, outputName, limit, failed);
}

// Printed without formatting into the heap, which has just run dry.
void reportOutOfMemory(std::uint32_t width, std::uint32_t height, std::uint32_t colours) {
  if (colours) {
    std::fprintf(consoleErr(),
                 "ERROR: Not enough memory for an image of %u x %u with %u colours.\n", width,
                 height, colours);
  } else {
    std::fprintf(consoleErr(), "ERROR: Not enough memory for an image of %u x %u.\n", width,
                 height);
  }
  std::fflush(consoleErr());
}

// Memory running out where no exception can pass (a noexcept function) still
// ends the run with the message and exit code -1, not an abort and a core.
std::uint32_t gWidth = 0;
std::uint32_t gHeight = 0;

// With no exception at hand, the runtime could not even allocate the one
// being thrown (or a thread was left running while memory ran out under it):
// memory too. Before the image is open there is no size to name.
[[noreturn]] void terminateOnMemory() {
  if (std::exception_ptr current = std::current_exception()) {
    try {
      std::rethrow_exception(current);
    } catch (const std::bad_alloc&) {
    } catch (...) {
      std::abort();
    }
  }
  if (gWidth == 0) {
    std::fputs("ERROR: Not enough memory to run.\n", consoleErr());
  } else {
    reportOutOfMemory(gWidth, gHeight, 0);
  }
  std::fflush(consoleOut());
  std::_Exit(-1);
}

// Holds the handler above for one run of the driver.
struct TerminateOnMemory {
  TerminateOnMemory() : previous(std::set_terminate(terminateOnMemory)) {}
  ~TerminateOnMemory() { std::set_terminate(previous); }
  std::terminate_handler previous;
};

}  // namespace

int runDriver(int argc, char** argv, ProgressionRun run) {
  if (!run) run = defaultRun;
  // Under a file size limit the system would end the process in the middle
  // of a dump and leave it truncated; ignored, the write fails instead, and
  // the dump is removed and reported like any other failed write.
  std::signal(SIGXFSZ, SIG_IGN);
  gWidth = gHeight = 0;
  const TerminateOnMemory onMemory;

  FileParameter parameters[2];
  parameters[0].defaultExtension = "ppm";
  parameters[0].optionalLevel = 0;
  parameters[0].direction = Input;
  parameters[1].defaultExtension = "ppm";
  parameters[1].optionalLevel = 0;
  parameters[1].direction = Output;
  parseCommandLine(argc, argv, 2, parameters);
  const std::string& inputPath = parameters[0].path;
  const std::string& outputPath = parameters[1].path;

  // Only a warning: the store reads the file by its content, not its name.
  if (!hasExtension(inputPath, "ppm")) errorLog("Input FileType is not supported.\n");

  const int quietLevel = optionValue(QuietLevelOption);
  if (quietLevel >= 2) progressLog("Input file: %s\n", inputPath.c_str());

  const long long start = millisecondsNow();

  ImageBuffer input;
  ImageBuffer output;
  if (!openImage(inputPath.c_str(), &input, Read, 0, WholeImage, Color, 1, 256)) {
    errorLog("Unable to read input image %s.\n", inputPath.c_str());
    destroyImage(&input);
    return -1;
  }
  // No file the run creates may take the input's place: a dump named like
  // the photo would otherwise delete it before writing itself.
  clearProtectedFileEntries();
  protectFileEntry(inputPath.c_str());
  setImageSize(&output, input.width, input.height);
  if (!openImage(outputPath.c_str(), &output, Create, optionValue(OverwriteOption), WholeImage,
                 Color, 0, 256)) {
    errorLog("Unable to initialize output image %s.\n", outputPath.c_str());
    destroyImage(&input);
    destroyImage(&output);
    return -1;
  }

  bool failed = false;
  int codeSize = 0;
  gWidth = input.width;
  gHeight = input.height;
  try {
    codeSize = run(&input, &output, outputPath, optionValue(ColorDepthOption), &failed);
  } catch (const std::bad_alloc& error) {
    const auto* known = dynamic_cast<const OutOfMemoryWithColours*>(&error);
    reportOutOfMemory(input.width, input.height, known ? known->colours : 0);
    destroyImage(&input);
    destroyImage(&output);
    clearProtectedFileEntries();
    return -1;
  }

  const double duration = static_cast<double>(millisecondsNow() - start) * 0.001;
  if (quietLevel >= 2) progressLog("Duration:    %-10.6f seconds\n", duration);

  const std::uint32_t pixels = input.width * input.height;
  plainOutput("CodeSize : %i bytes %f bpp\n", codeSize, codeSize * 8.0 / pixels);

  destroyImage(&input);
  destroyImage(&output);
  clearProtectedFileEntries();
  return failed ? -1 : 0;
}

}  // namespace tavrel
