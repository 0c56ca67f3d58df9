// tavrel-deltae ORIGINAL REDUCED
//
// How far a colour-reduced image lies from its original, pixel by pixel, in
// the CIE 1976 colour difference that Tavrel's cluster tree itself uses (D65
// white, the library's own sRGB -> CIELAB conversion). Prints one line:
//
//   <mean delta E> <95th percentile delta E> <distinct colours of REDUCED>
//
// Both files must be raw PPM (P6, maxval 255) of the same size. Used by
// scripts/compare.sh to put Tavrel beside other colour-reduction tools.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <unordered_map>
#include <vector>

#include "color/colour_difference.h"

namespace {

struct Raster {
  long width = 0;
  long height = 0;
  std::vector<unsigned char> rgb;  // width * height * 3 bytes, row by row
};

// Skips whitespace and '#' comments, then reads one decimal number; -1 when
// there is none.
long headerNumber(const std::string& data, std::size_t& at) {
  while (at < data.size()) {
    if (data[at] == '#') {
      while (at < data.size() && data[at] != '\n') ++at;
    } else if (data[at] == ' ' || data[at] == '\t' || data[at] == '\n' || data[at] == '\r') {
      ++at;
    } else {
      break;
    }
  }
  long value = -1;
  while (at < data.size() && data[at] >= '0' && data[at] <= '9' && value < 1000000) {
    value = (value < 0 ? 0 : value * 10) + (data[at] - '0');
    ++at;
  }
  return value;
}

bool readPpm(const char* path, Raster& image, std::string& error) {
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    error = "cannot open";
    return false;
  }
  const std::string data((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  std::size_t at = 2;
  if (data.compare(0, 2, "P6") != 0) {
    error = "not a raw PPM (P6) file";
    return false;
  }
  image.width = headerNumber(data, at);
  image.height = headerNumber(data, at);
  const long maxval = headerNumber(data, at);
  if (image.width <= 0 || image.height <= 0 || maxval != 255 || at >= data.size()) {
    error = "needs a P6 header with a positive size and maxval 255";
    return false;
  }
  ++at;  // the single whitespace character before the raster
  const std::size_t bytes = static_cast<std::size_t>(image.width * image.height * 3);
  if (data.size() - at < bytes) {
    error = "raster is shorter than its header says";
    return false;
  }
  image.rgb.assign(data.begin() + static_cast<std::ptrdiff_t>(at),
                   data.begin() + static_cast<std::ptrdiff_t>(at + bytes));
  return true;
}

// Photos repeat their colours; converting each distinct colour once keeps a
// 4-megapixel comparison well under a second.
class LabCache {
 public:
  const tavrel::LabColor& lab(const unsigned char* pixel) {
    const std::uint32_t key = pixel[0] | (pixel[1] << 8) | (pixel[2] << 16);
    auto [entry, added] = cache_.try_emplace(key);
    if (added)
      entry->second = tavrel::colourToLab(tavrel::kD65WhitePoint, pixel[0], pixel[1], pixel[2]);
    return entry->second;
  }
  std::size_t size() const { return cache_.size(); }

 private:
  std::unordered_map<std::uint32_t, tavrel::LabColor> cache_;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: tavrel-deltae ORIGINAL.ppm REDUCED.ppm\n");
    return 2;
  }
  Raster original;
  Raster reduced;
  std::string error;
  for (int i = 1; i <= 2; ++i) {
    if (!readPpm(argv[i], i == 1 ? original : reduced, error)) {
      std::fprintf(stderr, "tavrel-deltae: %s: %s\n", argv[i], error.c_str());
      return 1;
    }
  }
  if (original.width != reduced.width || original.height != reduced.height) {
    std::fprintf(stderr, "tavrel-deltae: %s is %ldx%ld, %s is %ldx%ld\n", argv[1], original.width,
                 original.height, argv[2], reduced.width, reduced.height);
    return 1;
  }

  LabCache originalLab;
  LabCache reducedLab;
  const std::size_t pixels = original.rgb.size() / 3;
  std::vector<double> differences(pixels);
  double sum = 0.0;
  for (std::size_t i = 0; i < pixels; ++i) {
    differences[i] = tavrel::labDistance(originalLab.lab(&original.rgb[3 * i]),
                                         reducedLab.lab(&reduced.rgb[3 * i]));
    sum += differences[i];
  }
  // Nearest rank: the smallest difference that at least 95% of the pixels
  // do not exceed.
  const std::size_t rank =
      static_cast<std::size_t>(std::ceil(0.95 * static_cast<double>(pixels))) - 1;
  std::nth_element(differences.begin(), differences.begin() + static_cast<std::ptrdiff_t>(rank),
                   differences.end());
  std::printf("%.4f %.4f %zu\n", sum / static_cast<double>(pixels), differences[rank],
              reducedLab.size());
  return 0;
}
