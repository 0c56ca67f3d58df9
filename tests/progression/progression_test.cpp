#include "progression/progression.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "reference/splitting.h"
#include "support/progression_test_util.h"
#include "support/test_support.h"

namespace tavrel {
namespace {

using test::CapturedConsole;
using test::CurrentFolderScope;
using test::MemoryImage;
using test::pack;
using test::QuietLevelScope;
using test::TempDir;

using Engine = int (*)(ImageBuffer*, ImageBuffer*, const std::string&, int, bool*);

// Every behaviour below holds for the shipped engine and for the literal
// reference alike.
class ProgressionTest : public ::testing::TestWithParam<Engine> {};

INSTANTIATE_TEST_SUITE_P(Engines, ProgressionTest,
                         ::testing::Values(&runProgression, &reference::runProgression),
                         [](const ::testing::TestParamInfo<Engine>& info) {
                           return info.index == 0 ? "Shipped" : "Reference";
                         });

// ---------------------------------------------------------------------------
// Whole runs on in-memory images.

std::vector<std::string> filesIn(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::size_t distinctColours(const std::vector<PackedColor>& pixels) {
  std::vector<PackedColor> sorted = pixels;
  std::sort(sorted.begin(), sorted.end());
  return static_cast<std::size_t>(std::unique(sorted.begin(), sorted.end()) - sorted.begin());
}

// A run in a fresh current folder, with its console captured.
struct RunResult {
  std::string out;
  std::string err;
  int result = -1;
  bool failed = false;
  std::vector<PackedColor> output;
  std::vector<std::string> files;
};

RunResult runOn(Engine engine, MemoryImage& input, int quietLevel, int limit,
                const std::string& outputName = "out.ppm") {
  TempDir folder;
  MemoryImage output(input.get()->width, input.get()->height);
  RunResult run;
  {
    CurrentFolderScope inFolder(folder.path());
    QuietLevelScope quiet(quietLevel);
    CapturedConsole console;
    run.result = engine(input.get(), output.get(), outputName, limit, &run.failed);
    run.out = console.out();
    run.err = console.err();
  }
  run.output = output.pixels();
  run.files = filesIn(folder.path());
  return run;
}

// Four colours whose tree can be worked out by hand. Found in the order
// black, (1,1,1), red, blue, the work list is [blue, red, (1,1,1), black]:
//   1. (1,1,1) + black cost 0 (black is measured as (1,1,1)); mean (0,0,0).
//   2. With [M1, blue, red]: M1 + red costs 2/3 * 117.2 = 78.1, less than
//      M1 + blue (2/3 * 137.6 = 91.7) and blue + red (1/2 * 176.3 = 88.2);
//      mean (256/3, 1/3, 1/3) = (85, 0, 0).
//   3. M2 + blue: the root, mean (256/4, 1/4, 256/4) = (64, 0, 64).
// So root = (M2, blue), M2 = (M1, red), M1 = ((1,1,1), black).
const std::vector<PackedColor> kFourColours = {pack(0, 0, 0), pack(1, 1, 1), pack(255, 0, 0),
                                               pack(0, 0, 255)};

TEST_P(ProgressionTest, FourColoursSplitAsWorkedOutByHand) {
  MemoryImage input(2, 2, kFourColours);
  const RunResult run = runOn(GetParam(), input, 3, 0);
  EXPECT_EQ(run.out,
            "Processing step 0 - 0%\n"
            "Pixels updated : 4\n"
            "Colors : 85:0:0 0:0:255\n"
            "Path : R\n"
            "Processing step 1 - 25%\n"
            "Pixels updated : 3\n"
            "Colors : 0:0:0 255:0:0\n"
            "Path : R1\n"
            "Processing step 2 - 50%\n"
            "Pixels updated : 2\n"
            "Colors : 1:1:1 0:0:0\n"
            "Path : R11\n");
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.result, 0);
  EXPECT_FALSE(run.failed);
  // Every colour is its own cluster at the end, and no dump was asked for.
  EXPECT_EQ(run.output, kFourColours);
  EXPECT_TRUE(run.files.empty());
}

TEST_P(ProgressionTest, LimitCapsTheStepsAndTheDumps) {
  MemoryImage input(2, 2, kFourColours);
  struct Case {
    int limit;
    const char* out;
    std::vector<std::string> files;
  };
  const Case cases[] = {
      {0, "Processing step 0 - 0%\nProcessing step 1 - 25%\nProcessing step 2 - 50%\n", {}},
      {1, "", {}},
      {2, "Processing step 0 - 0%\n", {"dump2_out.ppm"}},
      {3, "Processing step 0 - 0%\nProcessing step 1 - 33%\n", {"dump2_out.ppm", "dump3_out.ppm"}},
      {5,
       "Processing step 0 - 0%\nProcessing step 1 - 25%\nProcessing step 2 - 50%\n",
       {"dump2_out.ppm", "dump3_out.ppm", "dump4_out.ppm"}},
      {256,
       "Processing step 0 - 0%\nProcessing step 1 - 25%\nProcessing step 2 - 50%\n",
       {"dump2_out.ppm", "dump3_out.ppm", "dump4_out.ppm"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.limit);
    const RunResult run = runOn(GetParam(), input, 2, c.limit);
    EXPECT_EQ(run.out, c.out);
    EXPECT_EQ(run.files, c.files);
    EXPECT_EQ(run.result, 0);
  }
}

TEST_P(ProgressionTest, NoStepLeavesTheOutputUntouchedAndSilent) {
  const std::vector<PackedColor> white(6, 0xFFFFFF);
  {
    SCOPED_TRACE("limit 1");
    MemoryImage input(2, 2, kFourColours);
    const RunResult run = runOn(GetParam(), input, 6, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_TRUE(run.files.empty());
    EXPECT_EQ(run.output, std::vector<PackedColor>(4, 0xFFFFFF));
  }
  for (int limit : {0, 2, 256}) {
    SCOPED_TRACE(limit);
    MemoryImage input(3, 2, std::vector<PackedColor>(6, pack(30, 60, 90)));
    const RunResult run = runOn(GetParam(), input, 3, limit);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.result, 0);
    EXPECT_TRUE(run.files.empty());
    EXPECT_EQ(run.output, white);
  }
}

// Ten by ten pixels of one hundred distinct colours.
std::vector<PackedColor> hundredColours() {
  std::vector<PackedColor> pixels;
  for (int i = 0; i < 100; ++i) pixels.push_back(pack((i * 23) % 256, (i * 59) % 256, i));
  return pixels;
}

TEST_P(ProgressionTest, PercentageIsTruncatedAfterTheDoubleDivision) {
  MemoryImage input(10, 10, hundredColours());
  const RunResult run = runOn(GetParam(), input, 2, 0);
  std::vector<std::string> lines;
  std::istringstream text(run.out);
  for (std::string line; std::getline(text, line);) lines.push_back(line);
  ASSERT_EQ(lines.size(), 99u);
  // 29 / 100 in double is just below 0.29, and times 100 just below 29.
  EXPECT_EQ(lines[29], "Processing step 29 - 28%");
  EXPECT_EQ(lines[0], "Processing step 0 - 0%");
  EXPECT_EQ(lines[50], "Processing step 50 - 50%");
  EXPECT_EQ(lines[98], "Processing step 98 - 98%");
  EXPECT_EQ(run.output, hundredColours());
}

TEST_P(ProgressionTest, EachStepAddsOneColourToTheOutput) {
  // A run limited to k colours leaves k colours in the output image, with
  // one dump for each count from 2 to k.
  std::vector<PackedColor> pixels;
  for (int i = 0; i < 48; ++i) pixels.push_back(pack((i * 37) % 256, (i * 11) % 64, 255 - i % 5));
  MemoryImage input(8, 6, pixels);
  const std::size_t n = distinctColours(pixels);
  ASSERT_GT(n, 20u);
  for (std::size_t k = 2; k <= n; ++k) {
    SCOPED_TRACE(k);
    const RunResult run = runOn(GetParam(), input, 0, static_cast<int>(k));
    EXPECT_EQ(distinctColours(run.output), k);
    EXPECT_EQ(run.files.size(), k - 1);
  }
  EXPECT_EQ(runOn(GetParam(), input, 0, 0).output, pixels);
}

}  // namespace
}  // namespace tavrel
