// What the fuzz targets share: files held in memory, a scratch folder on a
// RAM-backed file system where there is one, the console silenced or
// captured, a fatal stop that throws, and a budget for line buffers, so that
// a header claiming a huge image fails its open instead of exhausting memory.
#pragma once

#include <stdio.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "image/image_store.h"
#include "shell/console.h"

namespace tavrel::fuzz {

struct FatalStopped {
  int code;
};

// Reports a broken property and aborts: libFuzzer and the replay both see it.
[[noreturn]] inline __attribute__((format(printf, 1, 2))) void fail(const char* format, ...) {
  std::va_list args;
  va_start(args, format);
  std::fputs("fuzz property broken: ", stderr);
  std::vfprintf(stderr, format, args);
  std::fputc('\n', stderr);
  std::abort();
}

inline std::string readBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A regular file in memory only (made on first use in fd), holding the
// bytes given; each open of the path returned is a fresh open of the file.
inline std::string memoryFile(int& fd, const void* data, std::size_t size) {
  if (fd < 0) fd = memfd_create("fuzz", 0);
  if (ftruncate(fd, 0) != 0 || (size && pwrite(fd, data, size, 0) != ssize_t(size)))
    fail("cannot fill the memory file");
  return "/proc/self/fd/" + std::to_string(fd);
}

// Made on first use, removed at exit.
inline const std::string& scratchDir() {
  namespace fs = std::filesystem;
  static const std::string dir = [] {
    const fs::path base = fs::is_directory("/dev/shm") ? "/dev/shm" : fs::temp_directory_path();
    std::string pattern = (base / "tavrel-fuzz-XXXXXX").string();
    if (!mkdtemp(pattern.data())) fail("mkdtemp failed");
    return pattern;
  }();
  // Registered once the name exists, so it runs before the name is destroyed.
  static const int removal = std::atexit([] { fs::remove_all(scratchDir()); });
  (void)removal;
  return dir;
}

// For its lifetime: console output goes to the given streams (or nowhere),
// the fatal stop throws FatalStopped, and line buffers draw on a budget.
struct ConsoleGuard {
  static inline std::size_t budget = 0;
  explicit ConsoleGuard(std::size_t bytes, std::FILE* out = nullptr, std::FILE* err = nullptr) {
    static std::FILE* const none = std::fopen("/dev/null", "wb");
    budget = bytes;
    setLineAllocator([](std::size_t size) -> void* {
      return size > budget ? nullptr : (budget -= size, std::malloc(size));
    });
    setConsoleStreams(out ? out : none, err ? err : none);
    setFatalHandler([](int code) { throw FatalStopped{code}; });
  }
  ~ConsoleGuard() {
    setFatalHandler(nullptr);
    setConsoleStreams(nullptr, nullptr);
    setLineAllocator(nullptr);
  }
};

}  // namespace tavrel::fuzz
