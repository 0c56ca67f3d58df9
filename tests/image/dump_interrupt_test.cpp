// A terminating signal that reaches the painting thread while the writer
// thread is in the middle of a dump. The handler runs on the painter and the
// process lives on until it returns, so the writer must notice the signal by
// itself: it may neither write the dump in place because its temporary file
// has gone, nor start another temporary file. A test hook holds the writer at
// the moment in question and the handler until the writer could have done
// either, so the race is met every time.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <sched.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <ctime>

#include "image/rgb_file.h"
#include "shell/driver.h"
#include "support/test_support.h"

namespace tavrel {
namespace {

const std::string kPhoto = TAVREL_TEST_DATA "/coffee-24x16.ppm";

// What the child's hook works with; set before the run starts. A signal of
// 0 removes the temporary file instead, as someone else might.
pthread_t gPainter;
DumpMoment gMoment;
int gSignal;
std::string gDir;
std::atomic<int> gReached{0};
std::atomic<bool> gCleanedUp{false};

void sleepMilliseconds(long ms) {
  const timespec pause{ms / 1000, ms % 1000 * 1000000};
  ::nanosleep(&pause, nullptr);
}

void hook(DumpMoment moment) {
  if (moment == DumpMoment::SignalCleanedUp) {
    gCleanedUp.store(true);
    sleepMilliseconds(300);  // time enough for a writer that goes on to do harm
    return;
  }
  // The second dump, at the chosen moment, on the writer thread.
  if (moment != gMoment || ::pthread_equal(::pthread_self(), gPainter)) return;
  if (gReached.fetch_add(1) != 1) return;
  if (gSignal == 0) {
    for (const auto& item : test::fs::directory_iterator(gDir))
      if (item.path().filename().string().rfind(".dump3_out.ppm.", 0) == 0) test::fs::remove(item);
    return;
  }
  ::pthread_kill(gPainter, gSignal);
  for (int i = 0; i < 5000 && !gCleanedUp.load(); ++i) sleepMilliseconds(1);
}

[[noreturn]] void runChild(const std::string& dir, const std::string& err, DumpMoment moment,
                           int signal) {
  const int errors = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  if (errors < 0 || ::dup2(errors, 2) < 0) ::_exit(3);
  for (int s : {SIGINT, SIGTERM, SIGHUP}) {
    struct sigaction old {};
    if (::sigaction(s, nullptr, &old) == 0 && old.sa_handler == SIG_IGN) ::signal(s, SIG_DFL);
  }
  sigset_t none;
  sigemptyset(&none);
  ::pthread_sigmask(SIG_SETMASK, &none, nullptr);
  if (::chdir(dir.c_str()) != 0) ::_exit(2);
  gPainter = ::pthread_self();
  gMoment = moment;
  gSignal = signal;
  gDir = dir;
  setDumpTestHook(hook);
  char program[] = "tavrel", quiet[] = "-Q0", limit[] = "-C6", in[] = "in.ppm", out[] = "out";
  char* argv[] = {program, quiet, limit, in, out, nullptr};
  ::_exit(runDriver(5, argv) & 0xFF);
}

// The entries of a folder laid out for the run with old dumps, after the run
// in a child with the hook set as given; its wait status in *status and its
// standard error in *err.
std::map<std::string, std::string> runInterrupted(
    const std::map<std::string, std::string>& complete, DumpMoment moment, int signal, int* status,
    std::string* err) {
  test::TempDir dir, capture;
  for (const auto& [name, bytes] : complete)
    test::writeFile(dir.file(name), name == "in.ppm" ? bytes : "old");
  std::fflush(nullptr);
  const pid_t child = ::fork();
  if (child == 0) runChild(dir.path(), capture.file("err"), moment, signal);
  if (child < 0 || ::waitpid(child, status, 0) != child) return {};
  *err = test::readFile(capture.file("err"));
  return test::entriesBelow(dir.path());
}

// The folder after a complete run of the sample photo, once for all cases;
// empty where the dump writer gets no thread of its own.
const std::map<std::string, std::string>& completeRun() {
  static const std::map<std::string, std::string> entries = [] {
    cpu_set_t cores;
    if (::sched_getaffinity(0, sizeof cores, &cores) != 0 || CPU_COUNT(&cores) < 2) {
      return std::map<std::string, std::string>{};
    }
    test::TempDir dir;
    test::fs::copy_file(kPhoto, dir.file("in.ppm"));
    const std::string run =
        "cd '" + dir.path() + "' && '" TAVREL_BINARY "' -Q0 -C6 in.ppm out >/dev/null";
    if (std::system(run.c_str()) != 0) return std::map<std::string, std::string>{};
    return test::entriesBelow(dir.path());
  }();
  return entries;
}

// A signal at either moment: the run ends with the signal's status, the first
// dump complete, the one in hand and the rest untouched, no temporary file
// left. A temporary file that has gone before its rename fails that dump
// instead of having it written in place (no stale image passes for this
// run's) and the run goes on.
TEST(DumpInterrupt, TheWriterStopsOnASignalAndNeverWritesInPlaceForAVanishedFile) {
  const auto& complete = completeRun();
  if (complete.empty()) GTEST_SKIP() << "the dump writer thread needs a second core";
  for (const auto moment : {DumpMoment::BeforeTemporaryFile, DumpMoment::BeforeRename}) {
    for (const int signal : {SIGINT, SIGTERM, SIGHUP, 0}) {  // 0: the temporary file removed
      if (signal == 0 && moment != DumpMoment::BeforeRename) continue;
      SCOPED_TRACE("moment " + std::to_string(static_cast<int>(moment)) + ", signal " +
                   std::to_string(signal));
      int status = 0;
      std::string err;
      const auto entries = runInterrupted(complete, moment, signal, &status, &err);
      auto expected = complete;
      if (signal == 0) {
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 255) << "status " << status;
        EXPECT_EQ(err,
                  "ERROR: Could not write dump3_out.ppm completely; the incomplete file was "
                  "removed.\n");
        expected.erase("dump3_out.ppm");
      } else {
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal) << "status " << status;
        EXPECT_EQ(err, "");
        for (auto& [name, bytes] : expected)
          if (name != "in.ppm" && name != "dump2_out.ppm") bytes = "old";
      }
      EXPECT_TRUE(entries == expected);
    }
  }
}

}  // namespace
}  // namespace tavrel
