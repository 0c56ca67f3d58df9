// What the fuzz targets share: files held in memory, a scratch folder on a
// RAM-backed file system where there is one, console channels silenced or
// captured, a fatal stop that throws, and a budget for line buffers, so that
// a header claiming a huge image fails its open instead of exhausting memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

namespace tavrel::fuzz {

struct FatalStopped {
  int code;
};

// Reports a broken property and aborts: libFuzzer and the replay both see it.
[[noreturn]] void fail(const char* format, ...) __attribute__((format(printf, 1, 2)));

// A regular file that lives in memory only, reached by a path of its own.
class MemoryFile {
 public:
  MemoryFile();
  const std::string& path() const { return path_; }
  void assign(const std::uint8_t* data, std::size_t size);

 private:
  int fd_;
  std::string path_;
};

const std::string& scratchDir();  // made on first use, removed at exit
void clearScratch();
std::string readBytes(const std::string& path);
void writeBytes(const std::string& path, const std::string& bytes);

// For its lifetime: console output goes to the given streams (or nowhere),
// the fatal stop throws FatalStopped, and line buffers draw on a budget.
class ConsoleGuard {
 public:
  explicit ConsoleGuard(std::size_t budgetBytes, std::FILE* out = nullptr,
                        std::FILE* err = nullptr);
  ~ConsoleGuard();
};

// A stream that keeps what is written to it.
class Capture {
 public:
  Capture() : stream_(open_memstream(&buffer_, &size_)) {}
  ~Capture();
  std::FILE* stream() { return stream_; }
  std::string text();

 private:
  char* buffer_ = nullptr;
  std::size_t size_ = 0;
  std::FILE* stream_;
};

}  // namespace tavrel::fuzz
