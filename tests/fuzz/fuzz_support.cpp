#include "fuzz/fuzz_support.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "image/image_store.h"
#include "shell/console.h"

namespace tavrel::fuzz {
namespace fs = std::filesystem;
namespace {

std::size_t gBudget = 0;

void* budgetedLine(std::size_t size) {
  if (size > gBudget) return nullptr;
  gBudget -= size;
  return std::malloc(size);
}

[[noreturn]] void throwFatal(int code) {
  throw FatalStopped{code};
}

}  // namespace

void fail(const char* format, ...) {
  std::va_list args;
  va_start(args, format);
  std::fputs("fuzz property broken: ", stderr);
  std::vfprintf(stderr, format, args);
  std::fputc('\n', stderr);
  va_end(args);
  std::abort();
}

// Each open of /proc/self/fd/N is a fresh open of the file, as of a path.
MemoryFile::MemoryFile() : fd_(memfd_create("fuzz-input", 0)) {
  if (fd_ < 0) fail("memfd_create failed");
  path_ = "/proc/self/fd/" + std::to_string(fd_);
}

void MemoryFile::assign(const std::uint8_t* data, std::size_t size) {
  if (ftruncate(fd_, 0) != 0 || (size && pwrite(fd_, data, size, 0) != static_cast<ssize_t>(size)))
    fail("cannot fill the memory file");
}

const std::string& scratchDir() {
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

void clearScratch() {
  for (const auto& entry : fs::directory_iterator(scratchDir())) fs::remove_all(entry.path());
}

std::string readBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeBytes(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

ConsoleGuard::ConsoleGuard(std::size_t budgetBytes, std::FILE* out, std::FILE* err) {
  static std::FILE* const none = std::fopen("/dev/null", "wb");
  gBudget = budgetBytes;
  setLineAllocator(budgetedLine);
  setConsoleStreams(out ? out : none, err ? err : none);
  setFatalHandler(throwFatal);
}

ConsoleGuard::~ConsoleGuard() {
  setFatalHandler(nullptr);
  setConsoleStreams(nullptr, nullptr);
  setLineAllocator(nullptr);
}

Capture::~Capture() {
  std::fclose(stream_);
  std::free(buffer_);
}

std::string Capture::text() {
  std::fflush(stream_);
  return std::string(buffer_, size_);
}

}  // namespace tavrel::fuzz
