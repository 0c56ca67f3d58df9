#include "tools/image_measures.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <limits>
#include <unordered_map>

#include "color/colour_difference.h"

namespace tavrel {
namespace {

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

std::uint32_t packed(const unsigned char* pixel) {
  return pixel[0] | (pixel[1] << 8) | (pixel[2] << 16);
}

struct Differences {
  double deltaE76;
  double ciede2000;
};

// Photos repeat their colours, and without dithering a colour of the original
// nearly always meets the same colour of the reduced image: converting each
// colour once and measuring each pair once keeps a 4-megapixel comparison to
// about a second.
class DifferenceCache {
 public:
  const Differences& of(const unsigned char* original, const unsigned char* reduced) {
    const std::uint32_t first = packed(original), second = packed(reduced);
    auto [entry, added] = pairs_.try_emplace(std::uint64_t{first} << 24 | second);
    if (added) {
      const LabColor& a = lab(originalLab_, first);
      const LabColor& b = lab(reducedLab_, second);
      entry->second = {labDistance(a, b), ciede2000(a, b)};
    }
    return entry->second;
  }
  std::size_t reducedColours() const { return reducedLab_.size(); }

 private:
  using LabMap = std::unordered_map<std::uint32_t, LabColor>;
  static const LabColor& lab(LabMap& map, std::uint32_t colour) {
    auto [entry, added] = map.try_emplace(colour);
    if (added)
      entry->second = colourToLab(kD65WhitePoint, colour & 0xFF, colour >> 8 & 0xFF, colour >> 16);
    return entry->second;
  }
  LabMap originalLab_;
  LabMap reducedLab_;
  std::unordered_map<std::uint64_t, Differences> pairs_;
};

}  // namespace

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

ImageMeasures measureImages(const Raster& original, const Raster& reduced) {
  DifferenceCache cache;
  const std::size_t pixels = original.rgb.size() / 3;
  std::vector<double> deltaE76(pixels);
  double sum76 = 0.0;
  double sum2000 = 0.0;
  for (std::size_t i = 0; i < pixels; ++i) {
    const Differences& d = cache.of(&original.rgb[3 * i], &reduced.rgb[3 * i]);
    deltaE76[i] = d.deltaE76;
    sum76 += d.deltaE76;
    sum2000 += d.ciede2000;
  }
  ImageMeasures measures;
  const double count = static_cast<double>(pixels);
  measures.meanDeltaE76 = sum76 / count;
  measures.meanCiede2000 = sum2000 / count;
  // Nearest rank: the smallest difference that at least 95% of the pixels
  // do not exceed.
  const std::size_t rank = static_cast<std::size_t>(std::ceil(0.95 * count)) - 1;
  std::nth_element(deltaE76.begin(), deltaE76.begin() + static_cast<std::ptrdiff_t>(rank),
                   deltaE76.end());
  measures.p95DeltaE76 = deltaE76[rank];
  measures.colours = cache.reducedColours();
  measures.psnr = peakSignalToNoise(original.rgb, reduced.rgb);
  return measures;
}

double peakSignalToNoise(const std::vector<unsigned char>& original,
                         const std::vector<unsigned char>& reduced) {
  // Whole numbers up to 65025 per sample: the sum is exact in 64 bits for any
  // image a PPM header can describe here.
  std::uint64_t squaredErrors = 0;
  for (std::size_t i = 0; i < original.size(); ++i) {
    const int error = original[i] - reduced[i];
    squaredErrors += static_cast<std::uint64_t>(error * error);
  }
  if (squaredErrors == 0) return std::numeric_limits<double>::infinity();
  return 10.0 * std::log10(255.0 * 255.0 * static_cast<double>(original.size()) /
                           static_cast<double>(squaredErrors));
}

std::string formatMeasures(const ImageMeasures& m) {
  char psnr[32] = "inf";
  if (std::isfinite(m.psnr)) std::snprintf(psnr, sizeof psnr, "%.4f", m.psnr);
  char line[160];
  std::snprintf(line, sizeof line, "%.4f %.4f %zu %.4f %s\n", m.meanDeltaE76, m.p95DeltaE76,
                m.colours, m.meanCiede2000, psnr);
  return line;
}

}  // namespace tavrel
