// fewest_colours PHOTO.ppm OUT.ppm [MAX_MEAN_DELTA_E]
//
// Finds the fewest colours that keep a photo within a mean colour difference
// (CIE 1976 delta E, 2 unless given) of the original, prints that count, and
// writes the photo painted in those colours. PHOTO is a raw PPM (P6, maxval
// 255); so is OUT.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <tavrel/tavrel.hpp>
#include <vector>

namespace {

struct Photo {
  std::uint32_t width = 0, height = 0;
  std::vector<std::uint8_t> rgb;
};

// A P6 header is "P6", width, height and maxval, separated by whitespace and
// '#' comments, then a single whitespace byte before the pixels.
bool readPpm(const char* path, Photo& photo) {
  std::ifstream in(path, std::ios::binary);
  auto field = [&in] {
    while (in >> std::ws && in.peek() == '#') in.ignore(1 << 20, '\n');
    long value = 0;
    in >> value;
    return value;
  };
  std::string magic;
  in >> magic;
  const long width = field(), height = field(), maxval = field();
  if (!in || magic != "P6" || width <= 0 || height <= 0 || maxval != 255) return false;
  in.get();
  photo.width = static_cast<std::uint32_t>(width);
  photo.height = static_cast<std::uint32_t>(height);
  photo.rgb.resize(std::size_t{photo.width} * photo.height * 3);
  return static_cast<bool>(in.read(reinterpret_cast<char*>(photo.rgb.data()),
                                   static_cast<std::streamsize>(photo.rgb.size())));
}

bool writePpm(const char* path, const Photo& photo) {
  std::ofstream out(path, std::ios::binary);
  out << "P6\n" << photo.width << ' ' << photo.height << "\n255\n";
  out.write(reinterpret_cast<const char*>(photo.rgb.data()),
            static_cast<std::streamsize>(photo.rgb.size()));
  return static_cast<bool>(out.flush());
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3 || argc > 4) {
    std::fprintf(stderr, "usage: %s PHOTO.ppm OUT.ppm [MAX_MEAN_DELTA_E]\n", argv[0]);
    return 2;
  }
  const double target = argc == 4 ? std::strtod(argv[3], nullptr) : 2.0;
  Photo photo;
  if (!readPpm(argv[1], photo)) {
    std::fprintf(stderr, "%s: not a raw PPM with maxval 255\n", argv[1]);
    return 1;
  }
  try {
    // The tree is built once; every colour count is then a question to it.
    const tavrel::Hierarchy tree({photo.rgb.data(), photo.width, photo.height});
    const std::uint32_t k = tree.fewestColours(target);
    const double mean = tree.meanDeltaE(k).back();
    std::printf("%u of %u colours: mean delta E %.4f\n", k, tree.colours(), mean);
    tree.paint(k, {photo.rgb.data(), photo.rgb.size()});
  } catch (const tavrel::Error& error) {
    std::fprintf(stderr, "%s\n", error.what());
    return 1;
  }
  if (!writePpm(argv[2], photo)) {
    std::fprintf(stderr, "%s: cannot write\n", argv[2]);
    return 1;
  }
  return 0;
}
