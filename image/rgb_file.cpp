#include "image/rgb_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <mutex>

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
static_assert(std::atomic<bool>::is_always_lock_free, "the handler reads the flag");

constexpr int kCleanupSignals[] = {SIGINT, SIGTERM, SIGHUP};

// Async-signal-safe: unlink, signal and raise only. The signal is blocked
// while the handler runs, so the re-raised one ends the process on return
// with the status a shell expects.
void removeTempAndReraise(int signal) {
  if (gTempLive.load()) ::unlink(gTempName);
  ::signal(signal, SIG_DFL);
  ::raise(signal);
}

// Only signals left at their default action: a run started with one ignored
// (under nohup, say) keeps ignoring it.
void installCleanup() {
  static std::once_flag once;
  std::call_once(once, [] {
    struct sigaction action {};
    action.sa_handler = removeTempAndReraise;
    sigemptyset(&action.sa_mask);
    for (int signal : kCleanupSignals) sigaddset(&action.sa_mask, signal);
    for (int signal : kCleanupSignals) {
      struct sigaction old {};
      if (::sigaction(signal, nullptr, &old) != 0) continue;
      if ((old.sa_flags & SA_SIGINFO) || old.sa_handler != SIG_DFL) continue;
      ::sigaction(signal, &action, nullptr);
    }
  });
}

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
  int fd = -1;
  for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
    uniqueSuffix(name + prefix);
    std::memcpy(gTempName, name, sizeof name);
    gTempLive.store(true);
    fd = ::open(name, O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) gTempLive.store(false);
    if (fd < 0 && errno != EEXIST) break;
  }
  // No temporary file in this folder (not writable, a name too long): the
  // specified procedure may still work where the dump file is writable.
  if (fd < 0) return Outcome::InPlace;

  // The data reach the disk before the name does, so that a power cut too
  // leaves the old file or the whole new one.
  bool written = writeAll(fd, reinterpret_cast<const std::uint8_t*>(header), headerSize) &&
                 writeAll(fd, rgb, bytes) && ::fdatasync(fd) == 0;
  written = (::close(fd) == 0) && written;
  if (written && ::rename(name, path) == 0) {
    gTempLive.store(false);
    return Outcome::Written;
  }
  ::unlink(name);
  gTempLive.store(false);
  if (written) return Outcome::InPlace;  // complete, but the name could not take it
  // The specified procedure would have removed the old file before failing;
  // a stale dump must not pass for this run's.
  ::unlink(path);
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
  std::FILE* file = openFileByMode(path, Create, 1);
  if (!file) return 0;
  std::fwrite(header, 1, headerSize, file);
  std::fwrite(rgb, 1, bytes, file);
  return finishWrittenFile(file, path);
}

}  // namespace tavrel
