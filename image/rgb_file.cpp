#include "image/rgb_file.h"

#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "image/file_guard.h"
#include "image/pnm.h"
#include "shell/console.h"

namespace tavrel {
namespace {

// The temporary file of the dump being written, for the signal handler. The
// name is complete before the flag is raised, and the flag is lowered before
// the name changes, so the handler never reads a name half-written.
char gTempName[PATH_MAX];
std::atomic<bool> gTempLive{false};
static_assert(std::atomic<bool>::is_always_lock_free, "the handler reads the flags");

// A terminating signal has arrived: from then on no thread creates, renames
// or removes a file. The handler may run on any thread while the dump is
// written on another one, and the process lives on until the handler
// returns, so the writing thread has to notice the signal itself.
std::atomic<bool> gStopping{false};
// The writing thread is creating, renaming or removing a file; the handler
// waits for that to end before it removes the temporary file, so it sees
// either none of the change or all of it.
std::atomic<bool> gChanging{false};

std::atomic<DumpTestHook> gTestHook{nullptr};
static_assert(std::atomic<DumpTestHook>::is_always_lock_free, "the handler reads the hook");

void testHook(DumpMoment moment) {
  if (const DumpTestHook hook = gTestHook.load()) hook(moment);
}

constexpr int kCleanupSignals[] = {SIGINT, SIGTERM, SIGHUP};

sigset_t cleanupSignals() {
  sigset_t set;
  sigemptyset(&set);
  for (int signal : kCleanupSignals) sigaddset(&set, signal);
  return set;
}

// Async-signal-safe: atomics, nanosleep, unlink, signal and raise only. The
// signal is blocked while the handler runs, so the re-raised one ends the
// process on return with the status a shell expects.
void removeTempAndReraise(int signal) {
  gStopping.store(true);
  // The writer holds these signals off while it changes a file, so this is
  // another thread, and the change it waits for takes one system call.
  while (gChanging.load()) {
    const timespec pause{0, 100000};
    ::nanosleep(&pause, nullptr);
  }
  if (gTempLive.load()) ::unlink(gTempName);
  testHook(DumpMoment::SignalCleanedUp);
  ::signal(signal, SIG_DFL);
  ::raise(signal);
}

// Only signals left at their default action: a run started with one ignored
// (under nohup, say) keeps ignoring it. Looked at before every dump, as the
// dispositions are the process's and cheap to read.
void installCleanup() {
  struct sigaction action {};
  action.sa_handler = removeTempAndReraise;
  action.sa_mask = cleanupSignals();
  for (int signal : kCleanupSignals) {
    struct sigaction old {};
    if (::sigaction(signal, nullptr, &old) != 0) continue;
    if ((old.sa_flags & SA_SIGINFO) || old.sa_handler != SIG_DFL) continue;
    ::sigaction(signal, &action, nullptr);
  }
}

// A stretch in which the writing thread creates, renames or removes a file.
// It is entered only while no terminating signal has arrived; once one has,
// the thread waits here for the handler to end the process instead of
// starting anything.
class FileChange {
 public:
  FileChange() {
    const sigset_t set = cleanupSignals();
    ::pthread_sigmask(SIG_BLOCK, &set, &old_);
    // Raising our flag before reading the handler's, as the handler does the
    // other way round, means at least one of the two sees the other.
    gChanging.store(true);
    if (!gStopping.load()) return;
    leave();
    for (;;) ::pause();
  }
  ~FileChange() { leave(); }
  FileChange(const FileChange&) = delete;
  FileChange& operator=(const FileChange&) = delete;

 private:
  void leave() {
    gChanging.store(false);
    ::pthread_sigmask(SIG_SETMASK, &old_, nullptr);
  }
  sigset_t old_;
};

bool writeAll(int fd, const std::uint8_t* data, std::size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

// Six letters or digits that differ between runs and between calls.
void uniqueSuffix(char* out) {
  static const char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  static std::atomic<std::uint64_t> counter{0};
  std::uint64_t bits =
      static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
  bits ^= static_cast<std::uint64_t>(::getpid()) << 32;
  bits ^= ++counter * 0x9E3779B97F4A7C15ull;
  bits *= 0xBF58476D1CE4E5B9ull;
  for (int i = 0; i < 6; ++i) {
    out[i] = kLetters[bits % 62];
    bits = bits / 62 ^ (bits << 41);
  }
  out[6] = '\0';
}

enum class Outcome { Written, Failed, InPlace };

// The dump's folder and name as "<folder>/.<name>." ready for the suffix, or
// false when the name is not one a temporary file can stand beside.
bool tempPrefix(const char* path, char* prefix, std::size_t size) {
  const char* slash = std::strrchr(path, '/');
  const char* name = slash ? slash + 1 : path;
  if (!*name || !std::strcmp(name, ".") || !std::strcmp(name, "..")) return false;
  const int folder = slash ? static_cast<int>(name - path) : 0;
  const int n = std::snprintf(prefix, size, "%.*s.%s.", folder, path, name);
  return n > 0 && static_cast<std::size_t>(n) + 7 <= size;
}

// Whether a rename leaves the same folder as the specified procedure, which
// removes an existing entry and creates the file anew. Where that procedure
// would do something else (a dangling link is followed and its target
// created; a folder or an unreadable file is not removed), it runs itself.
bool renameMatchesReplacement(const char* path) {
  struct stat entry;
  if (::lstat(path, &entry) != 0) return errno == ENOENT;
  return fileExists(path) && !S_ISDIR(entry.st_mode);
}

Outcome writeAtomically(const char* path, const char* header, std::size_t headerSize,
                        const std::uint8_t* rgb, std::size_t bytes) {
  char name[PATH_MAX];
  if (!renameMatchesReplacement(path) || !tempPrefix(path, name, sizeof name)) {
    return Outcome::InPlace;
  }
  const std::size_t prefix = std::strlen(name);
  testHook(DumpMoment::BeforeTemporaryFile);
  int fd = -1;
  {
    FileChange change;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
      uniqueSuffix(name + prefix);
      std::memcpy(gTempName, name, sizeof name);
      gTempLive.store(true);
      fd = ::open(name, O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
      if (fd < 0) gTempLive.store(false);
      if (fd < 0 && errno != EEXIST) break;
    }
  }
  // No temporary file in this folder (not writable, a name too long): the
  // specified procedure may still work where the dump file is writable.
  if (fd < 0) return Outcome::InPlace;

  // The data reach the disk before the name does, so that a power cut too
  // leaves the old file or the whole new one.
  bool written = writeAll(fd, reinterpret_cast<const std::uint8_t*>(header), headerSize) &&
                 writeAll(fd, rgb, bytes) && ::fdatasync(fd) == 0;
  written = (::close(fd) == 0) && written;
  testHook(DumpMoment::BeforeRename);
  int renameError = 0;
  {
    FileChange change;
    if (written && ::rename(name, path) == 0) {
      gTempLive.store(false);
      return Outcome::Written;
    }
    renameError = errno;
    ::unlink(name);
    gTempLive.store(false);
  }
  // Complete, but the name could not take it (a folder where only the file's
  // owner may replace it, say). A temporary file that has gone is no such
  // case: someone removed it, and writing in place would hide that.
  if (written && renameError != ENOENT) return Outcome::InPlace;
  // The specified procedure would have removed the old file before failing;
  // a stale dump must not pass for this run's.
  {
    FileChange change;
    ::unlink(path);
  }
  errorLog("ERROR: Could not write %s completely; the incomplete file was removed.\n", path);
  return Outcome::Failed;
}

}  // namespace

int writeRgbFile(const char* path, std::uint32_t width, std::uint32_t height,
                 const std::uint8_t* rgb) {
  if (isProtectedFileEntry(path)) {
    errorLog("ERROR: Not replacing %s: it is the input image.\n", path);
    return 0;
  }
  installCleanup();
  char header[64];
  const std::size_t headerSize = formatPpmHeader(header, sizeof header, width, height, 255);
  const std::size_t bytes = static_cast<std::size_t>(width) * height * 3;
  switch (writeAtomically(path, header, headerSize, rgb, bytes)) {
    case Outcome::Written:
      return 1;
    case Outcome::Failed:
      return 0;
    case Outcome::InPlace:
      break;
  }
  std::FILE* file;
  {
    // Opening truncates the old file: not once a signal has come.
    FileChange change;
    file = openFileByMode(path, Create, 1);
  }
  if (!file) return 0;
  std::fwrite(header, 1, headerSize, file);
  std::fwrite(rgb, 1, bytes, file);
  return finishWrittenFile(file, path);
}

void setDumpTestHook(DumpTestHook hook) {
  gTestHook.store(hook);
}

}  // namespace tavrel
