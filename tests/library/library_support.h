// What the library's tests share: photos read from PPM files, the command
// line's own dumps and step lines for them, and a plain per-pixel measure.
#pragma once

#include <cstdint>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "color/colour_difference.h"
#include "support/test_support.h"
#include "tavrel/tavrel.hpp"

namespace tavrel::test {

struct Photo {
  std::uint32_t width = 0, height = 0;
  std::vector<std::uint8_t> rgb;  // packed rows

  Pixels pixels() const { return {rgb.data(), width, height, 0, PixelFormat::Rgb}; }
};

inline Photo readPhoto(const std::string& path) {
  const std::string bytes = readFile(path);
  std::istringstream header(bytes);
  std::string magic;
  int maxValue = 0;
  Photo photo;
  header >> magic >> photo.width >> photo.height >> maxValue;
  const std::size_t body = static_cast<std::size_t>(header.tellg()) + 1;
  photo.rgb.assign(bytes.begin() + static_cast<std::ptrdiff_t>(body), bytes.end());
  return photo;
}

// The photo re-laid: 4-byte pixels or padded rows, the extra bytes noise.
inline std::vector<std::uint8_t> relaid(const Photo& photo, unsigned bytes, std::size_t stride) {
  std::vector<std::uint8_t> out(stride * photo.height, 0xA5);
  for (std::size_t y = 0; y < photo.height; ++y) {
    for (std::size_t x = 0; x < photo.width; ++x) {
      for (int c = 0; c < 3; ++c) {
        out[y * stride + x * bytes + c] = photo.rgb[(y * photo.width + x) * 3 + c];
      }
      if (bytes == 4) out[y * stride + x * 4 + 3] = static_cast<std::uint8_t>(x * 7 + y);
    }
  }
  return out;
}

// A run of the real binary, -Q3 -C<limit> on the photo: its step lines and
// the pixel bytes of its dumps by colour count.
struct CommandLineRun {
  std::vector<std::string> pixelLines, colourLines, pathLines;
  std::map<std::uint32_t, std::vector<std::uint8_t>> dumps;
};

inline CommandLineRun runCommandLine(const std::string& photo, int limit) {
  TempDir dir;
  fs::copy_file(photo, dir.file("in.ppm"));
  const std::string command = "cd '" + dir.path() + "' && '" TAVREL_BINARY "' -Q3 -C" +
                              std::to_string(limit) + " in.ppm out > steps.txt";
  CommandLineRun run;
  if (std::system(command.c_str()) != 0) return run;
  std::istringstream steps(readFile(dir.file("steps.txt")));
  for (std::string line; std::getline(steps, line);) {
    if (line.starts_with("Pixels updated : ")) run.pixelLines.push_back(line.substr(17));
    if (line.starts_with("Colors : ")) run.colourLines.push_back(line.substr(9));
    if (line.starts_with("Path : ")) run.pathLines.push_back(line.substr(7));
  }
  for (int k = 2; k <= limit; ++k) {
    const Photo dump = readPhoto(dir.file("dump" + std::to_string(k) + "_out.ppm"));
    if (dump.rgb.empty()) break;
    run.dumps[k] = dump.rgb;
  }
  return run;
}

// The mean ΔE between two packed RGB images, pixel by pixel.
inline double perPixelMean(const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b) {
  std::map<std::uint32_t, LabColor> labs;  // by colour, each converted once
  auto lab = [&](const std::uint8_t* p) {
    auto [it, fresh] = labs.try_emplace(p[0] | p[1] << 8 | p[2] << 16);
    if (fresh) it->second = colourToLab(kD65WhitePoint, p[0], p[1], p[2]);
    return it->second;
  };
  double sum = 0;
  for (std::size_t i = 0; i < a.size(); i += 3) sum += labDistance(lab(&a[i]), lab(&b[i]));
  return sum / static_cast<double>(a.size() / 3);
}

// The nearest palette entry of every pixel by a plain search of the whole
// palette, ties to the lower entry; `ties` counts the pixels that had one.
inline std::vector<std::uint32_t> nearestByBruteForce(const Photo& photo,
                                                      const std::vector<Colour>& palette,
                                                      int& ties) {
  std::vector<LabColor> entries;
  for (const Colour& c : palette) entries.push_back(colourToLab(kD65WhitePoint, c.r, c.g, c.b));
  std::map<std::uint32_t, std::pair<std::uint32_t, bool>> known;  // by colour: entry, tie
  std::vector<std::uint32_t> nearest;
  for (std::size_t i = 0; i < photo.rgb.size(); i += 3) {
    const std::uint8_t* p = &photo.rgb[i];
    auto [it, fresh] = known.try_emplace(p[0] | p[1] << 8 | p[2] << 16);
    const LabColor lab = colourToLab(kD65WhitePoint, p[0], p[1], p[2]);
    for (std::uint32_t e = 1, best = 0; fresh && e < entries.size(); ++e) {
      const double d = labDistance(lab, entries[e]), least = labDistance(lab, entries[best]);
      it->second.second |= d == least;
      if (d < least) it->second = {best = e, false};
    }
    nearest.push_back(it->second.first);
    ties += it->second.second;
  }
  return nearest;
}

}  // namespace tavrel::test
