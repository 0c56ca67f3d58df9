#include "shell/console.h"

#include <gtest/gtest.h>

#include <string>

#include "support/test_support.h"

namespace tavrel {
namespace {

TEST(ConsoleTest, ProgressLogWritesExactBytesAndReturnsCount) {
  test::CapturedConsole console;
  EXPECT_EQ(progressLog("Processing step %i - %i%%\n", 3, 25), 24);
  EXPECT_EQ(console.out(), "Processing step 3 - 25%\n");
  EXPECT_EQ(console.err(), "");
}

TEST(ConsoleTest, ErrorLogGoesToTheErrorStream) {
  test::CapturedConsole console;
  errorLog("ERROR: Cannot find the file: %s", "x.ppm");
  EXPECT_EQ(console.err(), "ERROR: Cannot find the file: x.ppm");
  EXPECT_EQ(console.out(), "");
}

TEST(ConsoleTest, MessagesLongerThanTheOldBuffersComeOutWhole) {
  // The progress log once used 256 bytes and the error log 1024.
  for (std::size_t length : {255u, 256u, 257u, 1023u, 1024u, 1025u, 100000u}) {
    test::CapturedConsole console;
    std::string label(1, 'R');
    label.append(length, '1');
    EXPECT_EQ(progressLog("Path : %s\n", label.c_str()), static_cast<int>(label.size() + 8));
    errorLog("ERROR: File already exists: %s", label.c_str());
    EXPECT_EQ(console.out(), "Path : " + label + "\n");
    EXPECT_EQ(console.err(), "ERROR: File already exists: " + label);
  }
}

TEST(ConsoleTest, NulBytesInsideAMessageAreWritten) {
  test::CapturedConsole console;
  plainOutput("ERROR: Unknown option %c%c found.\n", '-', '\0');
  EXPECT_EQ(console.out(), std::string("ERROR: Unknown option -\0 found.\n", 32));
}

TEST(ConsoleTest, FatalStopExitsWithStatus255AfterFlushing) {
  EXPECT_EXIT(
      {
        plainOutput("pending");
        fatalStop(-1);
      },
      ::testing::ExitedWithCode(255), "");
}

}  // namespace
}  // namespace tavrel
