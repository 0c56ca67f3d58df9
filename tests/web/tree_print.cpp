// Prints what the library holds for a P6 photo, through the C interface, in
// a text that the WebAssembly build prints the same way (tree_test.mjs): the
// split records, the quality curve (doubles as their bits) and a hash of a
// few painted images. Equal texts mean equal trees.
//
// With "nearest IMAGES [TARGET...]" after the photo it prints instead what
// the page shows when it paints in the nearest colour: the curve (as the
// library measures it, to 256 colours), the fewest colours for each target,
// and, for k up to IMAGES, the image found by trying every palette entry on
// every pixel, as hexadecimal RGB.
#include <algorithm>
#include <bit>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "color/colour_difference.h"
#include "tavrel/tavrel.h"

namespace {

std::uint64_t bits(double value) {
  return std::bit_cast<std::uint64_t>(value);
}

// FNV-1a over the bytes: enough to tell two images apart in a printout.
std::uint64_t hash(const std::vector<std::uint8_t>& bytes) {
  std::uint64_t h = 0xcbf29ce484222325u;
  for (std::uint8_t byte : bytes) h = (h ^ byte) * 0x100000001b3u;
  return h;
}

// Each pixel in the palette colour nearest to it by the engine's CIE 1976
// difference, of equal differences the lower entry, by plain search.
std::vector<std::uint8_t> nearestByTrial(const std::vector<std::uint8_t>& rgb,
                                         const std::vector<std::uint8_t>& palette) {
  const auto lab = [](const std::uint8_t* c) {
    return tavrel::colourToLab(tavrel::kD65WhitePoint, c[0], c[1], c[2]);
  };
  std::vector<std::uint8_t> image(rgb.size());
  for (std::size_t i = 0; i < rgb.size(); i += 3) {
    std::size_t best = 0;
    double least = 0;
    for (std::size_t e = 0; e < palette.size(); e += 3) {
      const double d = tavrel::labDistance(lab(&rgb[i]), lab(&palette[e]));
      if (e == 0 || d < least) best = e, least = d;
    }
    std::copy_n(&palette[best], 3, &image[i]);
  }
  return image;
}

void printNearest(tavrel_hierarchy* tree, const std::vector<std::uint8_t>& rgb, int argc,
                  char** argv) {
  const std::uint32_t n = tavrel_colours(tree);
  const std::uint32_t kmax = n < 256 ? n : 256;
  std::vector<double> curve(kmax);
  tavrel_mean_delta_e_remapped(tree, TAVREL_REMAP_NEAREST, kmax, curve.data(), curve.size());
  for (std::uint32_t k = 1; k <= kmax; ++k)
    std::printf("mean %" PRIu32 " %.17g\n", k, curve[k - 1]);
  for (int i = 4; i < argc; ++i) {
    std::uint32_t k = 0;
    tavrel_fewest_colours_remapped(tree, TAVREL_REMAP_NEAREST, std::atof(argv[i]), &k);
    std::printf("fewest %s %" PRIu32 "\n", argv[i], k);
  }
  for (std::uint32_t k = 1; k <= n && k <= std::strtoul(argv[3], nullptr, 10); ++k) {
    std::vector<std::uint8_t> palette(3 * k);
    tavrel_palette(tree, k, palette.data(), palette.size());
    std::printf("image %" PRIu32 " ", k);
    for (std::uint8_t byte : nearestByTrial(rgb, palette)) std::printf("%02x", byte);
    std::printf("\n");
  }
}

}  // namespace

int main(int argc, char** argv) {
  const bool nearest = argc >= 4 && std::string(argv[2]) == "nearest";
  std::ifstream file(argc == 2 || nearest ? argv[1] : "", std::ios::binary);
  std::string magic;
  unsigned width = 0, height = 0, maxval = 0;
  file >> magic >> width >> height >> maxval;
  file.get();
  std::vector<std::uint8_t> rgb((std::istreambuf_iterator<char>(file)), {});
  tavrel_hierarchy* tree = nullptr;
  if (magic != "P6" || maxval != 255 || rgb.size() < std::size_t{width} * height * 3 ||
      tavrel_build(rgb.data(), width, height, 0, TAVREL_PIXELS_RGB, nullptr, nullptr, 1, &tree,
                   nullptr) != TAVREL_OK) {
    std::fprintf(stderr,
                 "usage: tree_print photo.ppm [nearest IMAGES [TARGET...]] (P6, maxval 255)\n");
    return 2;
  }
  if (nearest) {
    printNearest(tree, rgb, argc, argv);
    tavrel_free(tree);
    return 0;
  }
  const std::uint32_t n = tavrel_colours(tree);
  std::printf("colours %" PRIu32 "\n", n);
  for (std::uint32_t s = 0; s + 1 < n; ++s) {
    tavrel_split split;
    tavrel_split_at(tree, s, &split);
    std::printf("split %" PRIu32 " %" PRIu32 " %" PRIu64 " %d %d %d %d %d %d %016" PRIx64 "\n", s,
                split.node, split.pixels, split.left[0], split.left[1], split.left[2],
                split.right[0], split.right[1], split.right[2], bits(split.cost));
  }
  const std::uint32_t kmax = n < 256 ? n : 256;
  std::vector<double> curve(kmax);
  tavrel_mean_delta_e(tree, kmax, curve.data(), curve.size());
  for (std::uint32_t k = 1; k <= kmax; ++k) {
    std::printf("mean %" PRIu32 " %016" PRIx64 "\n", k, bits(curve[k - 1]));
  }
  std::vector<std::uint8_t> image(tavrel_output_size(tree, TAVREL_OUTPUT_RGB, 0));
  for (std::uint32_t k : {1u, 2u, 3u, 16u, 256u, n}) {
    if (k > n) continue;
    tavrel_paint(tree, k, TAVREL_OUTPUT_RGB, image.data(), image.size(), 0);
    std::printf("image %" PRIu32 " %016" PRIx64 "\n", k, hash(image));
  }
  tavrel_free(tree);
  return 0;
}
