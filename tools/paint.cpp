// tavrel-paint [--nearest] PHOTO.ppm PREFIX K...
//
// Builds the tree of a raw PPM photo once through the library and writes the
// image for every K as PREFIX<K>.ppm, painted by cluster (the command line's
// dumps) or, with --nearest, every pixel in its nearest palette colour. A K
// beyond the photo's colours writes the photo itself. Used by
// scripts/compare.sh to measure nearest-colour painting beside the tools.

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tavrel/tavrel.hpp"
#include "tools/image_measures.h"

int main(int argc, char** argv) {
  int arg = 1;
  const bool nearest = arg < argc && std::strcmp(argv[arg], "--nearest") == 0;
  if (nearest) ++arg;
  if (argc - arg < 3) {
    std::fprintf(stderr, "usage: tavrel-paint [--nearest] PHOTO.ppm PREFIX K...\n");
    return 2;
  }
  tavrel::Raster photo;
  std::string error;
  if (!tavrel::readPpm(argv[arg], photo, error)) {
    std::fprintf(stderr, "tavrel-paint: %s: %s\n", argv[arg], error.c_str());
    return 1;
  }
  const std::string prefix = argv[arg + 1];
  try {
    const tavrel::Hierarchy tree({photo.rgb.data(), static_cast<std::uint32_t>(photo.width),
                                  static_cast<std::uint32_t>(photo.height)});
    std::vector<unsigned char> image(photo.rgb.size());
    for (int i = arg + 2; i < argc; ++i) {
      char* end = nullptr;
      const unsigned long asked = std::strtoul(argv[i], &end, 10);
      if (*end != '\0' || asked < 1) {
        std::fprintf(stderr, "tavrel-paint: not a number of colours: %s\n", argv[i]);
        return 2;
      }
      const std::uint32_t k =
          asked < tree.colours() ? static_cast<std::uint32_t>(asked) : tree.colours();
      tree.paint(k, {image.data(), image.size()},
                 nearest ? tavrel::Remap::Nearest : tavrel::Remap::Cluster);
      const std::string path = prefix + argv[i] + ".ppm";
      std::FILE* out = std::fopen(path.c_str(), "wb");
      if (!out || std::fprintf(out, "P6\n%ld %ld\n255\n", photo.width, photo.height) < 0 ||
          std::fwrite(image.data(), 1, image.size(), out) != image.size() ||
          std::fclose(out) != 0) {
        std::fprintf(stderr, "tavrel-paint: cannot write %s\n", path.c_str());
        return 1;
      }
    }
  } catch (const tavrel::Error& e) {
    std::fprintf(stderr, "tavrel-paint: %s\n", e.what());
    return 1;
  }
  return 0;
}
