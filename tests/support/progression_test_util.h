// Helpers of the progression tests: in-memory images, option scopes, and a
// current-folder scope for the dump files.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

#include "cmdline/options.h"
#include "image/image_store.h"

namespace tavrel::test {

constexpr PackedColor pack(int red, int green, int blue) {
  return static_cast<PackedColor>(red) | static_cast<PackedColor>(green) << 8 |
         static_cast<PackedColor>(blue) << 16;
}

// A memory-only Color image holding the pixels, row by row.
class MemoryImage {
 public:
  MemoryImage(std::uint32_t width, std::uint32_t height, const std::vector<PackedColor>& pixels) {
    setImageSize(&image_, width, height);
    if (!openImage("memory", &image_, Create, 0, WholeImage, Color, 0, 256)) {
      throw std::runtime_error("cannot make a memory image");
    }
    std::size_t i = 0;
    for (std::uint32_t y = 1; y <= height; ++y) {
      for (std::uint32_t x = 1; x <= width; ++x) {
        if (i < pixels.size()) setColorPixel(&image_, x, y, pixels[i++]);
      }
    }
  }
  // A white image of that size, as the driver creates its output.
  MemoryImage(std::uint32_t width, std::uint32_t height) : MemoryImage(width, height, {}) {}
  ~MemoryImage() { destroyImage(&image_); }
  MemoryImage(const MemoryImage&) = delete;
  MemoryImage& operator=(const MemoryImage&) = delete;

  ImageBuffer* get() { return &image_; }
  std::vector<PackedColor> pixels() {
    std::vector<PackedColor> all;
    for (std::uint32_t y = 1; y <= image_.height; ++y) {
      for (std::uint32_t x = 1; x <= image_.width; ++x) all.push_back(getColorPixel(&image_, x, y));
    }
    return all;
  }

 private:
  ImageBuffer image_;
};

// Sets QuietLevel for the scope and restores the previous value.
class QuietLevelScope {
 public:
  explicit QuietLevelScope(int level) : saved_(optionValue(QuietLevelOption)) {
    setOptionValue(QuietLevelOption, level);
  }
  ~QuietLevelScope() { setOptionValue(QuietLevelOption, saved_); }
  QuietLevelScope(const QuietLevelScope&) = delete;
  QuietLevelScope& operator=(const QuietLevelScope&) = delete;

 private:
  int saved_;
};

// Makes a folder the current one for the scope: dump names are formed in
// front of the output name, so the tests run in a folder of their own.
class CurrentFolderScope {
 public:
  explicit CurrentFolderScope(const std::string& folder) {
    char buffer[4096];
    if (!getcwd(buffer, sizeof buffer)) throw std::runtime_error("getcwd failed");
    saved_ = buffer;
    if (chdir(folder.c_str()) != 0) throw std::runtime_error("chdir failed");
  }
  ~CurrentFolderScope() {
    if (chdir(saved_.c_str()) != 0) std::abort();
  }
  CurrentFolderScope(const CurrentFolderScope&) = delete;
  CurrentFolderScope& operator=(const CurrentFolderScope&) = delete;

 private:
  std::string saved_;
};

}  // namespace tavrel::test
