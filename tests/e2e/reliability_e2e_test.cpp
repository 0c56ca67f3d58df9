// What a file's header claims, memory running out and interrupted runs, end
// to end: every run is the real binary in a folder of its own, and the folder
// is compared entry by entry afterwards.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace tavrel {
namespace {

namespace fs = std::filesystem;

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;  // shadow memory does not fit an address-space limit
#else
constexpr bool kSanitized = false;
#endif

const std::string kPhoto = std::string(TAVREL_TEST_DATA) + "/../../examples/coffee-320x240.ppm";
const std::string kTwo = test::makePpm(2, 1, {0x302010, 0xD0E0F0});
const std::string kTail = "Duration:    <masked> seconds\nCodeSize : 0 bytes 0.000000 bpp\n";

// Every entry of a folder, dot files included: a file by its bytes, a link
// by its target, anything else by its kind.
std::map<std::string, std::string> entries(const std::string& dir) {
  std::map<std::string, std::string> all;
  for (const auto& item : fs::directory_iterator(dir)) {
    const auto status = item.symlink_status();
    all[item.path().filename().string()] =
        fs::is_symlink(status)        ? "-> " + fs::read_symlink(item.path()).string()
        : fs::is_regular_file(status) ? test::readFile(item.path().string())
                                      : "<folder>";
  }
  return all;
}

// The binary ("$0") through a shell script run in dir.
test::ProcessResult shell(const std::string& script, const std::string& dir) {
  return test::runProcess("/bin/sh", {"sh", "-c", script, TAVREL_BINARY}, dir);
}

std::string gray(long width, std::size_t present) {
  return "P5\n" + std::to_string(width) + " 1\n255\n" + std::string(present, '\x07');
}

struct Claim {
  std::string name, bytes;
  unsigned long long claimed, present;  // claimed 0: the file opens
};

TEST(Reliability, AHeaderMayClaimALittleMoreThanTheFileHoldsButNotFarMore) {
  const std::vector<Claim> claims = {
      {"ShortBy1MiB", gray(1048586, 10), 0, 0},
      {"ShortBy1MiBAndAByte", gray(1048587, 10), 1048587, 10},
      {"ShortByWhatItHolds", gray(4194304, 2097152), 0, 0},
      {"ShortByMoreThanItHolds", gray(4194305, 2097152), 4194305, 2097152},
      {"AbsurdP6", "P6 1073741823 19999 255\n", 64421288154531ull, 0},
      {"AbsurdP4WithComment", "P4\n# c\n4294967295 19999\nxy", 10736881369088ull, 2},
      {"AbsurdHexAndOctal", "P6\n0x3FFFFFFF 017777\n255\n", 26385057816579ull, 0},
  };
  for (const Claim& claim : claims) {
    SCOPED_TRACE(claim.name);
    test::TempDir dir;
    test::writeFile(dir.file("in.ppm"), claim.bytes);
    // Refused within a second and 32 MiB of address space, whatever the claim.
    const bool opens = claim.claimed == 0;
    const std::string limit = kSanitized || opens ? "" : "ulimit -v 32768; ";
    const auto run = shell(limit + "exec timeout 1 \"$0\" -C2 in.ppm out", dir.path());
    EXPECT_EQ(run.exitCode, opens ? 0 : 255);
    EXPECT_EQ(test::maskDuration(run.out), "Input file: in.ppm\n" + (opens ? kTail : ""));
    EXPECT_EQ(run.err,
              opens
                  ? ""
                  : "ERROR: in.ppm is truncated: its header claims " +
                        std::to_string(claim.claimed) + " bytes of samples, the file holds " +
                        std::to_string(claim.present) + ".\nUnable to read input image in.ppm.\n");
    EXPECT_EQ(entries(dir.path()).size(), 1u);
  }
}

TEST(Reliability, MemoryRunningOutEndsTheRunWithAMessageAndNoDump) {
  if (kSanitized) GTEST_SKIP() << "memory limits need a plain build";
  for (const std::string limit : {"-C0", "-C256"}) {
    const std::string photo = test::readFile(kPhoto);
    test::TempDir whole;
    test::writeFile(whole.file("in.ppm"), photo);
    ASSERT_EQ(shell("exec \"$0\" -Q0 " + limit + " in.ppm out", whole.path()).exitCode, 0);
    const auto dumps = entries(whole.path());
    const std::set<std::string> failures = {
        "ERROR: Not enough memory for an image of 320 x 240.\n",
        "ERROR: Not enough memory for an image of 320 x 240 with 34872 colours.\n",
        "Unable to read input image in.ppm.\n", "Unable to initialize output image out.ppm.\n"};
    int outOfMemory = 0;
    for (int kib = 6000; kib <= 24000; kib += 2000) {
      SCOPED_TRACE(limit + " under " + std::to_string(kib) + " KiB");
      test::TempDir dir;
      test::writeFile(dir.file("in.ppm"), photo);
      const auto run = shell("ulimit -c unlimited; ulimit -v " + std::to_string(kib) +
                                 "; exec \"$0\" -Q0 " + limit + " in.ppm out",
                             dir.path());
      outOfMemory += run.err.rfind("ERROR: Not enough memory", 0) == 0;
      if (run.exitCode == 0) {
        EXPECT_TRUE(entries(dir.path()) == dumps);
        continue;
      }
      EXPECT_EQ(run.exitCode, 255);  // never an abort, and no core file
      EXPECT_EQ(failures.count(run.err), 1u) << run.err;
      EXPECT_EQ(entries(dir.path()).size(), 1u);
    }
    EXPECT_GT(outOfMemory, 0);
  }
}

struct Replacement {
  std::string name;
  std::map<std::string, std::string> before, after;  // "-> x" makes a link to x
  int exitCode;
  std::string err;
};

TEST(Reliability, ADumpReplacesWhatStoodUnderItsNameAsIfRemovedAndCreated) {
  const std::string old = "old", dump = "dump2_out.ppm";
  const std::vector<Replacement> rows = {
      {"Nothing", {}, {{dump, kTwo}}, 0, ""},
      {"File", {{dump, old}}, {{dump, kTwo}}, 0, ""},
      {"HardLink", {{dump, old}, {"other", "=dump"}}, {{dump, kTwo}, {"other", old}}, 0, ""},
      {"Link", {{dump, "-> t"}, {"t", old}}, {{dump, kTwo}, {"t", old}}, 0, ""},
      {"DanglingLink", {{dump, "-> t"}}, {{dump, "-> t"}, {"t", kTwo}}, 0, ""},
      {"Folder",
       {{dump, "<folder>"}},
       {{dump, "<folder>"}},
       255,
       "ERROR: Couldn't open the file: " + dump}};
  for (const Replacement& row : rows) {
    SCOPED_TRACE(row.name);
    test::TempDir dir;
    test::writeFile(dir.file("in.ppm"), kTwo);
    for (const auto& [name, what] : row.before) {
      if (what == "<folder>") fs::create_directory(dir.file(name));
      if (what.rfind("-> ", 0) == 0) fs::create_symlink(what.substr(3), dir.file(name));
      if (what == "=dump") fs::create_hard_link(dir.file(dump), dir.file(name));
      if (what == old) test::writeFile(dir.file(name), old);
    }
    const auto run = shell("exec \"$0\" -Q0 -C2 in.ppm out", dir.path());
    EXPECT_EQ(run.exitCode, row.exitCode);
    EXPECT_EQ(run.err, row.err);
    auto expected = row.after;
    expected["in.ppm"] = kTwo;
    EXPECT_TRUE(entries(dir.path()) == expected);  // no temporary file either
  }
}

TEST(Reliability, AFolderWithoutRoomForATemporaryFileIsWrittenInPlace) {
  // The folder is not writable, its dump file is: only root ignores that,
  // so root runs the binary as nobody, from where nobody may run it.
  const std::string as =
      ::getuid() == 0 ? "setpriv --reuid=65534 --regid=65534 --clear-groups ../tavrel" : "\"$0\"";
  test::TempDir dir;
  fs::copy_file(TAVREL_BINARY, dir.file("tavrel"));
  const std::string folder = dir.file("ro");
  fs::create_directory(folder);
  test::writeFile(folder + "/in.ppm", kTwo);
  test::writeFile(folder + "/dump2_out.ppm", "old");
  ::chmod(dir.path().c_str(), 0755);
  ::chmod((folder + "/dump2_out.ppm").c_str(), 0666);
  ::chmod(folder.c_str(), 0555);
  const auto run = shell(as + " -Q0 -C2 in.ppm out", folder);
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_TRUE(entries(folder) ==
              (std::map<std::string, std::string>{{"in.ppm", kTwo}, {"dump2_out.ppm", kTwo}}));
}

TEST(Reliability, AnInterruptedRunLeavesEachDumpWholeOldOrNew) {
  test::TempDir whole;
  test::writeFile(whole.file("in.ppm"), test::readFile(kPhoto));
  ASSERT_EQ(shell("exec \"$0\" -Q0 -C256 in.ppm out", whole.path()).exitCode, 0);
  const auto complete = entries(whole.path());
  const std::map<std::string, int> statuses = {
      {"KILL", 137}, {"INT", 130}, {"TERM", 143}, {"HUP", 129}};
  for (const auto& [signal, status] : statuses) {
    for (const std::string dump : {"dump3_out.ppm", "dump90_out.ppm"}) {
      SCOPED_TRACE("SIG" + signal + " while " + dump + " is written");
      test::TempDir dir;
      for (const auto& [name, bytes] : complete)
        test::writeFile(dir.file(name), name == "in.ppm" ? bytes : "old");
      // Shell builtins only, so the signal lands while the dump is being
      // written: once its temporary file exists (or, written in place, once
      // its old bytes are gone). A background job starts with SIGINT
      // ignored unless told otherwise.
      const auto run = shell(
          "env --default-signal \"$0\" -Q0 -C256 in.ppm out & p=$!; "
          "until [ -e ." +
              dump + ".* ] || { read -r x < " + dump +
              "; [ \"$x\" != old ]; }; do :; done 2>/dev/null; kill -" + signal + " $p; wait $p",
          dir.path());
      EXPECT_EQ(run.exitCode, status);
      for (const auto& [name, bytes] : entries(dir.path())) {
        // A killed run may leave its temporary file, but never under a dump's name.
        if (signal == "KILL" && name[0] == '.') continue;
        ASSERT_EQ(complete.count(name), 1u) << name;
        EXPECT_TRUE(bytes == "old" || bytes == complete.at(name)) << name;
      }
    }
  }
}

}  // namespace
}  // namespace tavrel
