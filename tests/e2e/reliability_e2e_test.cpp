// What the end-to-end table cannot express: memory running out at every
// point of a real run, a folder with no room for a temporary file, and runs
// interrupted while a dump is written. Each is the real binary in a folder of
// its own, compared entry by entry afterwards.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <set>

#include "support/test_support.h"

namespace tavrel {
namespace {

using test::kSanitized;
using Entries = std::map<std::string, std::string>;
const std::string kPhoto = TAVREL_TEST_DATA "/../../examples/coffee-320x240.ppm";
const std::string kTwo = test::readFile(test::dataPath("two.ppm"));

struct Outcome {
  int status;
  std::string err;
};

// A shell script run in dir, the binary as "$0"; the status as a shell gives it.
Outcome shell(const std::string& script, const std::string& dir) {
  test::TempDir capture;
  test::writeFile(capture.file("script"), script);
  const int status = std::system(("cd '" + dir + "' && sh -c \"$(cat " + capture.file("script") +
                                  ")\" '" TAVREL_BINARY "' >/dev/null 2>" + capture.file("err"))
                                     .c_str());
  return {WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status),
          test::readFile(capture.file("err"))};
}

// The folder after a complete run of the photo with these options.
Entries completeRun(const std::string& options) {
  test::TempDir dir;
  test::fs::copy_file(kPhoto, dir.file("in.ppm"));
  EXPECT_EQ(shell("exec \"$0\" -Q0 " + options + " in.ppm out", dir.path()).status, 0);
  return test::entriesBelow(dir.path());
}

TEST(Reliability, MemoryRunningOutEndsTheRunWithAMessageAndNoDump) {
  if (kSanitized) GTEST_SKIP() << "memory limits need a plain build";
  const std::set<std::string> failures = {
      "ERROR: Not enough memory for an image of 320 x 240.\n",
      "ERROR: Not enough memory for an image of 320 x 240 with 34872 colours.\n",
      "Unable to read input image in.ppm.\n", "Unable to initialize output image out.ppm.\n"};
  std::set<std::string> seen;
  for (const std::string options : {"-C0", "-C256"}) {
    const Entries complete = completeRun(options);
    // Finely where the input and the output image run out, coarsely beyond.
    for (int kib = 5000; kib <= 24000; kib += kib < 6500 ? 50 : kib < 8000 ? 1500 : 2000) {
      SCOPED_TRACE(options + " under " + std::to_string(kib) + " KiB");
      test::TempDir dir;
      test::fs::copy_file(kPhoto, dir.file("in.ppm"));
      const Outcome run = shell("ulimit -c unlimited; ulimit -v " + std::to_string(kib) +
                                    "; exec \"$0\" -Q0 " + options + " in.ppm out",
                                dir.path());
      if (run.status == 127) continue;  // too little to load the program at all
      if (run.status == 0) {            // and so under every larger limit
        EXPECT_TRUE(test::entriesBelow(dir.path()) == complete);
        break;
      }
      EXPECT_EQ(run.status, 255);  // never an abort, and no core file
      // Too little to start: no size is known yet to name.
      EXPECT_EQ(failures.count(run.err) + (run.err == "ERROR: Not enough memory to run.\n"), 1u)
          << run.err;
      EXPECT_EQ(test::entriesBelow(dir.path()).size(), 1u);
      if (failures.count(run.err)) seen.insert(run.err);
      // Where one core would do, two do too: when the engine's second thread
      // finds no room for its copy of the index, the run goes on with one
      // (what the first attempt leaves behind costs about 1 %).
      const int less = kib * 100 / 105;
      const Outcome pinned = shell("ulimit -v " + std::to_string(less) +
                                       "; exec taskset -c 0 \"$0\" -Q0 " + options + " in.ppm out",
                                   dir.path());
      EXPECT_NE(pinned.status, 0) << "one core is enough under " << less << " KiB";
    }
  }
  EXPECT_EQ(seen, failures);  // every point of failure is reached
}

TEST(Reliability, AFolderWithoutRoomForATemporaryFileIsWrittenInPlace) {
  // The folder is not writable, its dump file is: only root ignores that,
  // so root runs the binary as nobody, from where nobody may run it.
  const std::string as =
      ::getuid() == 0 ? "setpriv --reuid=65534 --regid=65534 --clear-groups ../tavrel" : "\"$0\"";
  test::TempDir dir;
  test::fs::copy_file(TAVREL_BINARY, dir.file("tavrel"));
  const std::string folder = dir.file("ro");
  test::fs::create_directory(folder);
  test::writeFile(folder + "/in.ppm", kTwo);
  test::writeFile(folder + "/dump2_out.ppm", "old");
  ::chmod(dir.path().c_str(), 0755);
  ::chmod((folder + "/dump2_out.ppm").c_str(), 0666);
  ::chmod(folder.c_str(), 0555);
  const Outcome run = shell(as + " -Q0 -C2 in.ppm out", folder);
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_TRUE(test::entriesBelow(folder) == (Entries{{"in.ppm", kTwo}, {"dump2_out.ppm", kTwo}}));
}

TEST(Reliability, AnInterruptedRunLeavesEachDumpWholeOldOrNew) {
  // Under the sanitizers every run is several times slower: one early kill
  // point of a shorter run.
  const std::string options = kSanitized ? "-C8" : "-C48";
  const std::vector<std::string> dumps =
      kSanitized ? std::vector<std::string>{"dump3_out.ppm"}
                 : std::vector<std::string>{"dump3_out.ppm", "dump24_out.ppm"};
  const Entries complete = completeRun(options);
  const std::map<std::string, int> statuses = {
      {"KILL", 137}, {"INT", 130}, {"TERM", 143}, {"HUP", 129}};
  for (const auto& [signal, status] : statuses) {
    for (const std::string& dump : dumps) {
      SCOPED_TRACE("SIG" + signal + " while " + dump + " is written");
      test::TempDir dir;
      for (const auto& [name, bytes] : complete)
        test::writeFile(dir.file(name), name == "in.ppm" ? bytes : "old");
      // Shell builtins only, so the signal lands while the dump is being
      // written: once its temporary file exists (or, written in place, once
      // its old bytes are gone). A background job starts with SIGINT
      // ignored unless told otherwise.
      const Outcome run = shell(
          "env --default-signal \"$0\" -Q0 " + options + " in.ppm out & p=$!; " + "until [ -e ." +
              dump + ".* ] || { read -r x < " + dump +
              "; [ \"$x\" != old ]; }; do :; done 2>/dev/null; kill -" + signal + " $p; wait $p",
          dir.path());
      EXPECT_EQ(run.status, status);
      for (const auto& [name, bytes] : test::entriesBelow(dir.path())) {
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
