// The driver's early returns release what was opened before them: the input
// stream a refused header leaves open, and the input's lines when the output
// image cannot be had. Run in-process, so that open files can be counted and,
// in a sanitizer build, leaks checked right after the return.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "image/image_store.h"
#include "shell/driver.h"
#include "support/test_support.h"

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

namespace tavrel {
namespace {

namespace fs = std::filesystem;

int gLinesLeft = 0;
void* linesUntilExhausted(std::size_t size) {
  return gLinesLeft-- > 0 ? std::malloc(size) : nullptr;
}

std::size_t openDescriptors() {
  std::size_t count = 0;
  for ([[maybe_unused]] const auto& entry : fs::directory_iterator("/proc/self/fd")) ++count;
  return count;
}

TEST(LimitsEarlyReturn, NothingOpenedStaysBehind) {
  struct Case {
    const char* name;
    std::string input;
    int lineBuffers;  // line buffers the allocator grants; -1 for all
    std::string err;
  } cases[] = {
      {"InputHeaderRefused", "P6\n3 30\n100\n", -1,
       "This module supports 8-bit color components only.The current image file has 101 levels."
       "Unable to read input image in.ppm.\n"},
      // The input's 30 lines are granted, the output's first is not.
      {"OutputLinesRefused", test::makePpm(3, 30, std::vector<std::uint32_t>(90, 0x123456)), 30,
       "Unable to initialize output image out.ppm.\n"},
  };
  const fs::path home = fs::current_path();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test::TempDir dir;
    test::writeFile(dir.file("in.ppm"), c.input);
    fs::current_path(dir.path());
    test::CapturedConsole console;
    const std::size_t before = openDescriptors();
    gLinesLeft = c.lineBuffers;
    if (c.lineBuffers >= 0) setLineAllocator(linesUntilExhausted);
    char program[] = "tavrel", input[] = "in.ppm", output[] = "out";
    char* argv[] = {program, input, output, nullptr};
    const int code = runDriver(3, argv);
    setLineAllocator(nullptr);
    fs::current_path(home);

    EXPECT_EQ(code, -1);
    EXPECT_EQ(console.out(), "Input file: in.ppm\n");
    EXPECT_EQ(console.err(), c.err);
    EXPECT_EQ(openDescriptors(), before);
#if defined(__SANITIZE_ADDRESS__)
    EXPECT_EQ(__lsan_do_recoverable_leak_check(), 0);
#endif
  }
}

}  // namespace
}  // namespace tavrel
