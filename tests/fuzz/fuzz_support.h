// What the fuzz targets share: a private scratch folder, silenced or captured
// console channels, a fatal stop that unwinds instead of ending the process,
// and a line allocator with a budget, so that a header which claims a huge
// image fails its open instead of exhausting memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

namespace tavrel::fuzz {

// Thrown by the fatal stop while a ConsoleGuard is alive.
struct FatalStopped {
  int code;
};

// Reports a broken property of the code under test and aborts, so that both
// libFuzzer and the replay runner see a crash.
[[noreturn]] void fail(const char* format, ...) __attribute__((format(printf, 1, 2)));

// A folder of this process, made on first use and removed at exit.
const std::string& scratchDir();
std::string scratchFile(const std::string& name);
// Removes every entry of the scratch folder.
void clearScratch();
void writeBytes(const std::string& path, const std::uint8_t* data, std::size_t size);
std::string readBytes(const std::string& path);

// For its lifetime: console output goes to the given streams (or nowhere),
// the fatal stop throws FatalStopped, and line buffers come from a budget of
// budgetBytes bytes in all, after which allocations fail.
class ConsoleGuard {
 public:
  explicit ConsoleGuard(std::size_t budgetBytes, std::FILE* out = nullptr,
                        std::FILE* err = nullptr);
  ~ConsoleGuard();
  ConsoleGuard(const ConsoleGuard&) = delete;
  ConsoleGuard& operator=(const ConsoleGuard&) = delete;
};

// A stream that collects everything written to it in memory.
class Capture {
 public:
  Capture();
  ~Capture();
  Capture(const Capture&) = delete;
  Capture& operator=(const Capture&) = delete;
  std::FILE* stream() { return stream_; }
  std::string text();

 private:
  std::FILE* stream_;
  char* buffer_ = nullptr;
  std::size_t size_ = 0;
};

// Runs the rest of the scope in the scratch folder, then goes back.
class InScratch {
 public:
  InScratch();
  ~InScratch();
  InScratch(const InScratch&) = delete;
  InScratch& operator=(const InScratch&) = delete;

 private:
  int previous_;
};

}  // namespace tavrel::fuzz
