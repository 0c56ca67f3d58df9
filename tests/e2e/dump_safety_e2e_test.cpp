// Dumps never destroy the photo they come from, and a dump that could not be
// written completely is removed and makes the run fail, while the other
// steps go on.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace tavrel {
namespace {

using test::makePpm;
using test::readFile;

// Four colours in a 4 x 4 image: a -C4 run writes dump2, dump3 and dump4.
std::string fourColourPhoto() {
  std::vector<std::uint32_t> pixels;
  const std::uint32_t colours[] = {0x102030, 0xF0E0D0, 0x00FF00, 0x808080};
  for (int i = 0; i < 16; ++i) pixels.push_back(colours[(i * 7 + i / 5) % 4]);
  return makePpm(4, 4, pixels);
}

std::string stepsAndTail() {
  return "Processing step 0 - 0%\nProcessing step 1 - 25%\nProcessing step 2 - 50%\n"
         "Duration:    <masked> seconds\nCodeSize : 0 bytes 0.000000 bpp\n";
}

// A folder laid out with the photo, some folders and links; then a -C4 run.
struct EntryCase {
  std::string name;
  std::string photo;  // where the photo's bytes are written
  std::vector<std::string> folders;
  std::vector<std::pair<std::string, std::string>> symlinks;   // link -> target
  std::vector<std::pair<std::string, std::string>> hardlinks;  // link -> existing
  std::string input;                                           // as given on the command line
  std::string output;                                          // as given on the command line
  int exitCode;
  std::string err;
};

TEST(DumpSafety, ADumpNeverReplacesTheInputsOwnEntry) {
  const std::string kRefused = "ERROR: Not replacing dump2_x.ppm: it is the input image.\n";
  const std::vector<EntryCase> cases = {
      {"SameName", "dump2_x.ppm", {}, {}, {}, "dump2_x.ppm", "x", 255, kRefused},
      // The extension test reads the text after the first dot: "/dump2_x.ppm".
      {"SpelledDifferently",
       "dump2_x.ppm",
       {},
       {},
       {},
       "./dump2_x.ppm",
       "x",
       255,
       "Input FileType is not supported.\n" + kRefused},
      {"ThroughALinkedFolder",
       "dump2_sub/x.ppm",
       {"dump2_sub"},
       {{"link", "dump2_sub"}},
       {},
       "link/x.ppm",
       "sub/x",
       255,
       // The other dumps go to folders dump3_sub and dump4_sub, which do not exist.
       "ERROR: Not replacing dump2_sub/x.ppm: it is the input image.\n"
       "ERROR: Couldn't open the file: dump3_sub/x.ppm"
       "ERROR: Couldn't open the file: dump4_sub/x.ppm"},
      {"InputIsALinkToThePhoto",
       "dump2_x.ppm",
       {},
       {{"in.ppm", "dump2_x.ppm"}},
       {},
       "in.ppm",
       "x",
       255,
       kRefused},
      // Another name for the same file is only a name: the dump takes it,
      // the photo stays.
      {"AHardLinkIsReplaced",
       "photo.ppm",
       {},
       {},
       {{"dump2_x.ppm", "photo.ppm"}},
       "photo.ppm",
       "x",
       0,
       ""},
      {"ASymbolicLinkIsReplaced",
       "photo.ppm",
       {},
       {{"dump2_x.ppm", "photo.ppm"}},
       {},
       "photo.ppm",
       "x",
       0,
       ""},
  };
  const std::string photo = fourColourPhoto();
  for (const EntryCase& c : cases) {
    SCOPED_TRACE(c.name);
    test::TempDir dir;
    for (const std::string& f : c.folders) ASSERT_EQ(::mkdir(dir.file(f).c_str(), 0755), 0);
    test::writeFile(dir.file(c.photo), photo);
    for (const auto& [link, target] : c.symlinks) {
      ASSERT_EQ(::symlink(target.c_str(), dir.file(link).c_str()), 0);
    }
    for (const auto& [link, existing] : c.hardlinks) {
      ASSERT_EQ(::link(dir.file(existing).c_str(), dir.file(link).c_str()), 0);
    }
    const test::ProcessResult run = test::runTavrel({"-C4", c.input, c.output}, dir.path());

    // The photo is intact in every case.
    EXPECT_EQ(readFile(dir.file(c.photo)), photo);
    EXPECT_EQ(test::maskDuration(run.out), "Input file: " + c.input + "\n" + stepsAndTail());
    EXPECT_EQ(run.err, c.err);
    EXPECT_EQ(run.exitCode, c.exitCode);
    if (c.exitCode == 0) {
      // The link was replaced by a real dump of two colours.
      struct stat info;
      ASSERT_EQ(::lstat(dir.file("dump2_x.ppm").c_str(), &info), 0);
      EXPECT_TRUE(S_ISREG(info.st_mode));
      EXPECT_NE(readFile(dir.file("dump2_x.ppm")), photo);
    }
  }
}

// Dumps larger than the file size limit cannot be written: each is reported
// and removed, every step still runs, and the run ends with 255.
TEST(DumpSafety, DumpsBeyondTheFileSizeLimitAreRemovedAndFailTheRun) {
  test::TempDir dir;
  std::vector<std::uint32_t> pixels;
  for (int i = 0; i < 64 * 64; ++i)
    pixels.push_back(i % 3 == 0 ? 0x0000FF : i % 3 == 1 ? 0x00FF00 : 0xFF0000);
  test::writeFile(dir.file("in.ppm"), makePpm(64, 64, pixels));
  // 8 blocks of 512 bytes: the header fits, the 12,288 sample bytes do not.
  // The program itself must keep the limit signal from ending it.
  const test::ProcessResult run = test::runProcess(
      "/bin/sh",
      {"sh", "-c", std::string("ulimit -f 8; exec '") + TAVREL_BINARY + "' -C3 in.ppm out"},
      dir.path());
  EXPECT_EQ(run.exitCode, 255);
  EXPECT_EQ(run.err,
            "ERROR: Could not write dump2_out.ppm completely; the incomplete file was removed.\n"
            "ERROR: Could not write dump3_out.ppm completely; the incomplete file was removed.\n");
  EXPECT_EQ(test::maskDuration(run.out),
            "Input file: in.ppm\nProcessing step 0 - 0%\nProcessing step 1 - 33%\n"
            "Duration:    <masked> seconds\nCodeSize : 0 bytes 0.000000 bpp\n");
  EXPECT_FALSE(test::fileExistsOnDisk(dir.file("dump2_out.ppm")));
  EXPECT_FALSE(test::fileExistsOnDisk(dir.file("dump3_out.ppm")));
}

}  // namespace
}  // namespace tavrel
