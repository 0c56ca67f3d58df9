// Runs the built program on small images and compares standard output (with
// the Duration figure masked), standard error, the exit code and every file
// it writes, byte for byte.
//
// The synthetic cases are worked out by hand below. The cases on the photo
// crops compare against files recorded once under tests/data/golden/<case>/;
// set TAVREL_RECORD_GOLDEN=1 to record them again after a deliberate change.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace tavrel {
namespace {

namespace fs = std::filesystem;
using test::makePpm;
using test::readFile;

constexpr std::uint32_t pack(int red, int green, int blue) {
  return static_cast<std::uint32_t>(red) | static_cast<std::uint32_t>(green) << 8 |
         static_cast<std::uint32_t>(blue) << 16;
}

const std::string kTail = "Duration:    <masked> seconds\nCodeSize : 0 bytes 0.000000 bpp\n";
const std::string kInputLine = "Input file: in.ppm\n";

// Two colours: one step splits the root into the colour found last (left)
// and the colour of pixel (1, 1) (right).
const std::string kTwoColours = makePpm(3, 1, {pack(9, 8, 7), pack(200, 100, 50), pack(9, 8, 7)});

// Black, (1,1,1), red, blue. The tree, worked out by hand:
//   (1,1,1) + black cost 0 (black is measured as (1,1,1)): M1 = (0,0,0);
//   M1 + red costs 2/3 * 117.2 = 78.1 < blue + red 88.2 < M1 + blue 91.7:
//   M2 = (256/3, 1/3, 1/3) = (85,0,0); M2 + blue is the root.
// Step 0 paints M2 and blue, step 1 splits M2 (R1) into M1 and red, step 2
// splits M1 (R11, cost 0 beats the leaves' -1) into (1,1,1) and black.
const std::vector<std::uint32_t> kFour = {pack(0, 0, 0), pack(1, 1, 1), pack(255, 0, 0),
                                          pack(0, 0, 255)};
const std::string kFourColours = makePpm(2, 2, kFour);
const std::string kFourDump2 =
    makePpm(2, 2, {pack(85, 0, 0), pack(85, 0, 0), pack(85, 0, 0), pack(0, 0, 255)});
const std::string kFourDump3 =
    makePpm(2, 2, {pack(0, 0, 0), pack(0, 0, 0), pack(255, 0, 0), pack(0, 0, 255)});
const std::string kFourStepsQ3 =
    "Processing step 0 - 0%\nPixels updated : 4\nColors : 85:0:0 0:0:255\nPath : R\n"
    "Processing step 1 - 25%\nPixels updated : 3\nColors : 0:0:0 255:0:0\nPath : R1\n"
    "Processing step 2 - 50%\nPixels updated : 2\nColors : 1:1:1 0:0:0\nPath : R11\n";

struct Case {
  std::string name;
  std::string input;                 // bytes of in.ppm; empty: use inputFile
  std::string inputFile;             // a file of tests/data
  std::vector<std::string> args;     // after the program name
  std::vector<std::string> folders;  // made before the run
  std::string out;                   // expected stdout; "<golden>" for the recorded one
  std::string err;
  int exitCode = 0;
  // Expected files besides in.ppm and the folders, with their bytes;
  // "<input>" stands for the input's bytes. Golden cases list none: every
  // recorded file is expected.
  std::map<std::string, std::string> files;
};

const char kGolden[] = "<golden>";
const char kInput[] = "<input>";

std::vector<Case> cases() {
  const std::string longName(150, 'n');
  std::vector<Case> all = {
      {"TwoColoursQ3",
       kTwoColours,
       "",
       {"-Q3", "in.ppm", "out"},
       {},
       kInputLine +
           "Processing step 0 - 0%\nPixels updated : 3\nColors : 200:100:50 9:8:7\nPath : R\n" +
           kTail,
       "",
       0,
       {}},
      {"TwoColoursDumpEqualsInput",
       kTwoColours,
       "",
       {"-C2", "in.ppm", "out"},
       {},
       kInputLine + "Processing step 0 - 0%\n" + kTail,
       "",
       0,
       {{"dump2_out.ppm", kInput}}},
      {"FourColoursQ3C4",
       kFourColours,
       "",
       {"-Q3", "-C4", "in.ppm", "out"},
       {},
       kInputLine + kFourStepsQ3 + kTail,
       "",
       0,
       {{"dump2_out.ppm", kFourDump2}, {"dump3_out.ppm", kFourDump3}, {"dump4_out.ppm", kInput}}},
      {"FourColoursQ0C3",
       kFourColours,
       "",
       {"in.ppm", "-C3", "-Q0", "out.ppm"},
       {},
       "CodeSize : 0 bytes 0.000000 bpp\n",
       "",
       0,
       {{"dump2_out.ppm", kFourDump2}, {"dump3_out.ppm", kFourDump3}}},
      {"FourColoursQ2C0WritesNoDump",
       kFourColours,
       "",
       {"in.ppm", "out"},
       {},
       kInputLine + "Processing step 0 - 0%\nProcessing step 1 - 25%\nProcessing step 2 - 50%\n" +
           kTail,
       "",
       0,
       {}},
      {"FourColoursC1DoesNoStep",
       kFourColours,
       "",
       {"-Q3", "-C1", "in.ppm", "out"},
       {},
       kInputLine + kTail,
       "",
       0,
       {}},
      {"SingleColourDoesNoStep",
       makePpm(4, 3, std::vector<std::uint32_t>(12, pack(5, 6, 7))),
       "",
       {"-Q3", "-C4", "in.ppm", "out"},
       {},
       kInputLine + kTail,
       "",
       0,
       {}},
      // A PGM file opens as a grey image and reads as black at every pixel.
      {"GreyInputReadsAsOneColour",
       "P5\n3 2\n255\n\x10\x20\x30\x40\x50\x60",
       "",
       {"-Q3", "-C4", "in.ppm", "out"},
       {},
       kInputLine + kTail,
       "",
       0,
       {}},
      // The dump prefix stands in front of the whole output path.
      {"OutputPathWithAFolder",
       kFourColours,
       "",
       {"-Q0", "-C3", "in.ppm", "sub/out"},
       {"dump2_sub", "dump3_sub"},
       "CodeSize : 0 bytes 0.000000 bpp\n",
       "",
       0,
       {{"dump2_sub/out.ppm", kFourDump2}, {"dump3_sub/out.ppm", kFourDump3}}},
      // A dump that cannot be written does not stop the run, but the run fails.
      {"DumpFolderMissing",
       kFourColours,
       "",
       {"-C3", "in.ppm", "nodir/out"},
       {},
       kInputLine + "Processing step 0 - 0%\nProcessing step 1 - 33%\n" + kTail,
       "ERROR: Couldn't open the file: dump2_nodir/out.ppm"
       "ERROR: Couldn't open the file: dump3_nodir/out.ppm",
       255,
       {}},
      {"LongOutputName",
       kFourColours,
       "",
       {"-Q0", "-C2", "in.ppm", longName},
       {},
       "CodeSize : 0 bytes 0.000000 bpp\n",
       "",
       0,
       {{"dump2_" + longName + ".ppm", kFourDump2}}},

      // Photo crops, against recorded output.
      {"PosterQ3C0", "", "coffee-post-48x32.ppm", {"-Q3", "in.ppm", "out"}, {}, kGolden, "", 0, {}},
      {"PosterQ2C6", "", "coffee-post-48x32.ppm", {"-C6", "in.ppm", "out"}, {}, kGolden, "", 0, {}},
      {"PhotoQ3C8",
       "",
       "coffee-24x16.ppm",
       {"-Q3", "-C8", "in.ppm", "out"},
       {},
       kGolden,
       "",
       0,
       {}},
      {"PhotoQ2C0", "", "coffee-24x16.ppm", {"-Q2", "in.ppm", "out"}, {}, kGolden, "", 0, {}},
  };

  // Every colour of the poster crop (28) becomes a dump; the last one is the
  // input itself.
  Case full{"PosterQ0C256",
            "",
            "coffee-post-48x32.ppm",
            {"-Q0", "-C256", "in.ppm", "out"},
            {},
            "CodeSize : 0 bytes 0.000000 bpp\n",
            "",
            0,
            {}};
  for (int k = 2; k < 28; ++k) full.files["dump" + std::to_string(k) + "_out.ppm"] = "<any>";
  full.files["dump28_out.ppm"] = kInput;
  all.push_back(full);
  return all;
}

// The files below the folder, by path relative to it, without the folders.
std::map<std::string, std::string> filesBelow(const fs::path& folder) {
  std::map<std::string, std::string> files;
  for (const auto& entry : fs::recursive_directory_iterator(folder)) {
    if (entry.is_regular_file()) {
      files[fs::relative(entry.path(), folder).string()] = readFile(entry.path().string());
    }
  }
  return files;
}

bool recording() {
  const char* flag = std::getenv("TAVREL_RECORD_GOLDEN");
  return flag && *flag;
}

class ProgressionEndToEnd : public ::testing::TestWithParam<Case> {};

TEST_P(ProgressionEndToEnd, OutputAndDumpsMatch) {
  const Case& c = GetParam();
  test::TempDir folder;
  const std::string input = c.input.empty() ? readFile(test::testDataPath(c.inputFile)) : c.input;
  ASSERT_FALSE(input.empty());
  test::writeFile(folder.file("in.ppm"), input);
  for (const std::string& sub : c.folders) fs::create_directory(folder.file(sub));

  const test::ProcessResult result = test::runTavrel(c.args, folder.path());
  const std::string out = test::maskDuration(result.out);
  std::map<std::string, std::string> written = filesBelow(folder.path());
  written.erase("in.ppm");

  const bool golden = c.out == kGolden;
  const fs::path goldenDir = fs::path(test::testDataPath("golden")) / c.name;
  if (golden && recording()) {
    fs::remove_all(goldenDir);
    fs::create_directories(goldenDir);
    test::writeFile((goldenDir / "stdout.txt").string(), out);
    for (const auto& [name, bytes] : written) test::writeFile((goldenDir / name).string(), bytes);
  }

  std::map<std::string, std::string> expected;
  std::string expectedOut = c.out;
  if (golden) {
    expected = filesBelow(goldenDir);
    ASSERT_TRUE(expected.count("stdout.txt")) << "no recorded output in " << goldenDir;
    expectedOut = expected["stdout.txt"];
    expected.erase("stdout.txt");
  } else {
    for (const auto& [name, bytes] : c.files) expected[name] = bytes == kInput ? input : bytes;
  }

  EXPECT_EQ(out, expectedOut);
  EXPECT_EQ(result.err, c.err);
  EXPECT_EQ(result.exitCode, c.exitCode);

  std::vector<std::string> writtenNames, expectedNames;
  for (const auto& entry : written) writtenNames.push_back(entry.first);
  for (const auto& entry : expected) expectedNames.push_back(entry.first);
  ASSERT_EQ(writtenNames, expectedNames);
  for (const auto& [name, bytes] : expected) {
    if (bytes == "<any>") continue;
    EXPECT_TRUE(written[name] == bytes) << name << " differs";
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, ProgressionEndToEnd, ::testing::ValuesIn(cases()),
                         [](const ::testing::TestParamInfo<Case>& info) {
                           return info.param.name;
                         });

}  // namespace
}  // namespace tavrel
