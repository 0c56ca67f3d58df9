// Helpers shared by the tests: exact-byte console capture, temporary folders,
// images in memory and on disk.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "image/image_store.h"
#include "shell/console.h"

namespace tavrel::test {

namespace fs = std::filesystem;
using Colours = std::vector<PackedColor>;

// The sanitizers' shadow memory does not fit an address-space limit, and they
// slow a run down several times.
#if defined(__SANITIZE_ADDRESS__)
inline constexpr bool kSanitized = true;
#else
inline constexpr bool kSanitized = false;
#endif

constexpr PackedColor pack(int red, int green, int blue) {
  return static_cast<PackedColor>(red | green << 8 | blue << 16);
}

// Redirects the console channels into temporary files for its lifetime.
class CapturedConsole {
 public:
  CapturedConsole() { setConsoleStreams(out_, err_); }
  ~CapturedConsole() {
    setConsoleStreams(nullptr, nullptr);
    std::fclose(out_);
    std::fclose(err_);
  }
  std::string out() { return read(out_); }
  std::string err() { return read(err_); }

 private:
  static std::string read(std::FILE* stream) {
    std::fflush(stream);
    std::string text(static_cast<std::size_t>(std::ftell(stream)), '\0');
    std::rewind(stream);
    text.resize(std::fread(text.data(), 1, text.size(), stream));
    return text;
  }
  std::FILE* out_ = std::tmpfile();
  std::FILE* err_ = std::tmpfile();
};

// A fresh folder, removed with its contents when the object goes.
class TempDir {
 public:
  TempDir() {
    if (!mkdtemp(path_.data())) throw std::runtime_error("mkdtemp failed");
  }
  ~TempDir() { fs::remove_all(path_); }
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_ = (fs::temp_directory_path() / "tavrel-test-XXXXXX").string();
};

// A memory-only Color image of the pixels, row by row, white where none is
// given, as the driver creates its output.
class MemoryImage {
 public:
  MemoryImage(std::uint32_t width, std::uint32_t height, const std::vector<PackedColor>& pixels) {
    setImageSize(&image_, width, height);
    if (!openImage("", &image_, Create, 0, WholeImage, Color, 0, 256)) throw std::bad_alloc();
    for (std::uint32_t i = 0; i < pixels.size(); ++i) {
      setColorPixel(&image_, i % width + 1, i / width + 1, pixels[i]);
    }
  }
  ~MemoryImage() { destroyImage(&image_); }
  ImageBuffer* get() { return &image_; }
  std::vector<PackedColor> pixels() {
    std::vector<PackedColor> all;
    for (std::uint32_t i = 0; i < image_.width * image_.height; ++i) {
      all.push_back(getColorPixel(&image_, i % image_.width + 1, i / image_.width + 1));
    }
    return all;
  }

 private:
  ImageBuffer image_;
};

inline std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void writeFile(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

inline std::string dataPath(const std::string& name) {
  return TAVREL_TEST_DATA "/" + name;
}

// Every entry below root by relative path (links not resolved): a file by its bytes, a link as
// "<link to target>", a folder as "<folder>", anything else as "<special>".
inline std::map<std::string, std::string> entriesBelow(const std::string& root) {
  std::map<std::string, std::string> entries;
  for (const auto& item : fs::recursive_directory_iterator(root)) {
    const fs::file_status status = item.symlink_status();
    entries[item.path().lexically_relative(root).string()] =
        fs::is_symlink(status)        ? "<link to " + fs::read_symlink(item.path()).string() + ">"
        : fs::is_regular_file(status) ? readFile(item.path().string())
        : fs::is_directory(status)    ? "<folder>"
                                      : "<special>";
  }
  return entries;
}

// A P6 file with maxval 255 of the pixels, row by row.
inline std::string makePpm(std::uint32_t width, std::uint32_t height,
                           const std::vector<PackedColor>& pixels) {
  std::string bytes = "P6\n" + std::to_string(width) + " " + std::to_string(height) + "\n255\n";
  for (PackedColor p : pixels) bytes += {char(p), char(p >> 8), char(p >> 16)};
  return bytes;
}

// The bytes a word of a table file stands for: \n, \r, \0, \\, \s (space)
// and \xHH for their bytes, {N*TEXT} for TEXT N times, $(NAME) for defs[NAME],
// and a word that starts with @ for the bytes of that file of tests/data.
inline std::string decode(const std::string& text, const std::map<std::string, std::string>& defs) {
  if (text.starts_with("@")) return readFile(dataPath(text.substr(1)));
  std::string bytes;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\') {
      const std::string plain = "nr0s", real("\n\r\0 ", 4);
      const std::size_t at = plain.find(text[++i]);
      bytes += text[i] == 'x' ? static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16))
               : at == std::string::npos ? text[i]
                                         : real[at];
      i += text[i] == 'x' ? 2 : 0;
    } else if (text[i] == '{') {
      std::size_t end = i, star = text.find('*', i);
      for (int depth = 0; (depth += text[end] == '{' ? 1 : text[end] == '}' ? -1 : 0) > 0;) ++end;
      const std::string part = decode(text.substr(star + 1, end - star - 1), defs);
      for (int n = std::stoi(text.substr(i + 1, star - i - 1)); n > 0; --n) bytes += part;
      i = end;
    } else if (text.compare(i, 2, "$(") == 0) {
      const std::size_t end = text.find(')', i);
      bytes += defs.at(text.substr(i + 2, end - i - 2));
      i = end;
    } else {
      bytes += text[i];
    }
  }
  return bytes;
}

}  // namespace tavrel::test
