#include "fuzz/fuzz_support.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "image/image_store.h"
#include "shell/console.h"

namespace tavrel::fuzz {
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

std::FILE* nullStream() {
  static std::FILE* stream = std::fopen("/dev/null", "wb");
  if (!stream) fail("cannot open /dev/null");
  return stream;
}

void removeScratch() {
  std::error_code ignored;
  std::filesystem::remove_all(scratchDir(), ignored);
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

const std::string& scratchDir() {
  static const std::string dir = [] {
    std::string pattern = (std::filesystem::temp_directory_path() / "tavrel-fuzz-XXXXXX").string();
    if (!mkdtemp(pattern.data())) fail("mkdtemp failed");
    return pattern;
  }();
  static const bool registered = (std::atexit(removeScratch), true);
  (void)registered;
  return dir;
}

std::string scratchFile(const std::string& name) {
  return scratchDir() + "/" + name;
}

void clearScratch() {
  std::error_code ignored;
  for (const auto& entry : std::filesystem::directory_iterator(scratchDir(), ignored)) {
    std::filesystem::remove_all(entry.path(), ignored);
  }
}

void writeBytes(const std::string& path, const std::uint8_t* data, std::size_t size) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) fail("cannot create %s", path.c_str());
  if (size && std::fwrite(data, 1, size, file) != size) fail("cannot write %s", path.c_str());
  std::fclose(file);
}

std::string readBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

ConsoleGuard::ConsoleGuard(std::size_t budgetBytes, std::FILE* out, std::FILE* err) {
  gBudget = budgetBytes;
  setLineAllocator(budgetedLine);
  setConsoleStreams(out ? out : nullStream(), err ? err : nullStream());
  setFatalHandler(throwFatal);
}

ConsoleGuard::~ConsoleGuard() {
  setFatalHandler(nullptr);
  setConsoleStreams(nullptr, nullptr);
  setLineAllocator(nullptr);
}

Capture::Capture() : stream_(open_memstream(&buffer_, &size_)) {
  if (!stream_) fail("open_memstream failed");
}

Capture::~Capture() {
  std::fclose(stream_);
  std::free(buffer_);
}

std::string Capture::text() {
  std::fflush(stream_);
  return std::string(buffer_, size_);
}

InScratch::InScratch() : previous_(::open(".", O_RDONLY | O_DIRECTORY)) {
  if (previous_ < 0 || ::chdir(scratchDir().c_str()) != 0) fail("cannot enter the scratch folder");
}

InScratch::~InScratch() {
  if (::fchdir(previous_) != 0) fail("cannot leave the scratch folder");
  ::close(previous_);
}

}  // namespace tavrel::fuzz
