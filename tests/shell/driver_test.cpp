// The driver's early returns, run in-process so that open files can be
// counted and, in a sanitizer build, leaks checked right after the return;
// and console messages longer than any fixed buffer.
#include "shell/driver.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "image/image_store.h"
#include "shell/console.h"
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
  return static_cast<std::size_t>(
      std::distance(fs::directory_iterator("/proc/self/fd"), fs::directory_iterator()));
}

TEST(Driver, EarlyReturnsLeaveNothingOpen) {
  const struct {
    std::string input;
    int lineBuffers;  // line buffers the allocator grants; -1 for all
    std::string err;
  } cases[] = {
      {"P6\n3 30\n100\n", -1,
       "This module supports 8-bit color components only.The current image file has 101 levels."
       "Unable to read input image in.ppm.\n"},
      // The input's 30 lines are granted, the output's first is not.
      {test::makePpm(3, 30, std::vector<PackedColor>(90, 0x123456)), 30,
       "Unable to initialize output image out.ppm.\n"}};
  const fs::path home = fs::current_path();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.lineBuffers);
    test::TempDir dir;
    test::writeFile(dir.file("in.ppm"), c.input);
    fs::current_path(dir.path());
    test::CapturedConsole console;
    const std::size_t before = openDescriptors();
    gLinesLeft = c.lineBuffers;
    if (c.lineBuffers >= 0) setLineAllocator(linesUntilExhausted);
    char program[] = "tavrel", input[] = "in.ppm", output[] = "out";
    char* argv[] = {program, input, output, nullptr};
    EXPECT_EQ(runDriver(3, argv), -1);
    setLineAllocator(nullptr);
    fs::current_path(home);
    EXPECT_EQ(console.out(), "Input file: in.ppm\n");
    EXPECT_EQ(console.err(), c.err);
    EXPECT_EQ(openDescriptors(), before);
#if defined(__SANITIZE_ADDRESS__)
    EXPECT_EQ(__lsan_do_recoverable_leak_check(), 0);
#endif
  }
}

TEST(Console, MessagesLongerThanAnyBufferComeOutWhole) {
  test::CapturedConsole console;
  const std::string label = "R" + std::string(100000, '1');
  EXPECT_EQ(progressLog("Path : %s\n", label.c_str()), static_cast<int>(label.size() + 8));
  errorLog("ERROR: File already exists: %s", label.c_str());
  EXPECT_EQ(console.out(), "Path : " + label + "\n");
  EXPECT_EQ(console.err(), "ERROR: File already exists: " + label);
}

}  // namespace
}  // namespace tavrel
