// Helpers shared by the tests: exact-byte console capture, temporary folders,
// images in memory and on disk, and runs of the real binary.
#pragma once

#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "image/image_store.h"

namespace tavrel::test {

constexpr PackedColor pack(int red, int green, int blue) {
  return static_cast<PackedColor>(red) | static_cast<PackedColor>(green) << 8 |
         static_cast<PackedColor>(blue) << 16;
}

// Redirects the console channels into temporary files for its lifetime.
class CapturedConsole {
 public:
  CapturedConsole();
  ~CapturedConsole();
  std::string out() { return read(out_); }
  std::string err() { return read(err_); }

 private:
  static std::string read(std::FILE* stream);
  std::FILE* out_;
  std::FILE* err_;
};

// A fresh folder under the system's temporary folder, removed with its contents.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// A memory-only Color image holding the pixels row by row (white where none
// is given), as the driver creates its output.
class MemoryImage {
 public:
  MemoryImage(std::uint32_t width, std::uint32_t height, const std::vector<PackedColor>& pixels);
  ~MemoryImage() { destroyImage(&image_); }
  ImageBuffer* get() { return &image_; }
  std::vector<PackedColor> pixels();

 private:
  ImageBuffer image_;
};

std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& bytes);
std::string dataPath(const std::string& name);
// Every entry below root by relative path: a file by its bytes, a link as
// "<link to target>", a folder as "<folder>", anything else "<special>".
std::map<std::string, std::string> entriesBelow(const std::string& root);

// A P6 file with maxval 255; pixels are PackedColor values, row by row.
std::string makePpm(std::uint32_t width, std::uint32_t height,
                    const std::vector<PackedColor>& pixels);

struct ProcessResult {
  std::string out;  // the Duration figure masked, the only text that varies
  std::string err;
  int exitCode = -1;  // the exit status, or 128 + signal number
};

// Runs argv[0] with the arguments in the folder cwd, stdin from /dev/null.
ProcessResult runProcess(const std::vector<std::string>& argv, const std::string& cwd);

}  // namespace tavrel::test
