#include "image/rgb_file.h"

#include <cstdio>

#include "image/file_guard.h"
#include "image/pnm.h"

namespace tavrel {

int writeRgbFile(const char* path, std::uint32_t width, std::uint32_t height,
                 const std::uint8_t* rgb) {
  std::FILE* file = openFileByMode(path, Create, 1);
  if (!file) return 0;
  writePpmHeader(file, width, height, 255);
  const std::size_t bytes = static_cast<std::size_t>(width) * height * 3;
  std::fwrite(rgb, 1, bytes, file);
  return finishWrittenFile(file, path);
}

}  // namespace tavrel
