// Prints what the library holds for a P6 photo, through the C interface, in
// a text that the WebAssembly build prints the same way (tree_test.mjs): the
// split records, the quality curve and a few painted images as hexadecimal
// RGB. Equal texts mean equal trees.
//
// With "cluster|nearest IMAGES [TARGET...]" after the photo it prints instead
// what the page shows for that painting: the curve (as the library measures
// it, to 256 colours), the fewest colours for each target, and, for k up to
// IMAGES, the nearest-colour image found by trying every palette entry on
// every pixel.
#include <algorithm>
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

void printImage(std::uint32_t k, const std::vector<std::uint8_t>& rgb) {
  std::printf("image %" PRIu32 " ", k);
  for (std::uint8_t byte : rgb) std::printf("%02x", byte);
  std::printf("\n");
}

// Doubles with 17 digits, which read back as the same bits.
void printCurve(tavrel_hierarchy* tree, tavrel_remap remap) {
  const std::uint32_t n = tavrel_colours(tree), kmax = n < 256 ? n : 256;
  std::vector<double> curve(kmax);
  tavrel_mean_delta_e_remapped(tree, remap, kmax, curve.data(), curve.size());
  for (std::uint32_t k = 1; k <= kmax; ++k)
    std::printf("mean %" PRIu32 " %.17g\n", k, curve[k - 1]);
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

}  // namespace

int main(int argc, char** argv) {
  std::ifstream file(argc == 2 || argc >= 4 ? argv[1] : "", std::ios::binary);
  std::string magic;
  unsigned width = 0, height = 0, maxval = 0;
  file >> magic >> width >> height >> maxval;
  file.get();
  std::vector<std::uint8_t> rgb((std::istreambuf_iterator<char>(file)), {});
  tavrel_hierarchy* tree = nullptr;
  if (magic != "P6" || maxval != 255 || rgb.size() < std::size_t{width} * height * 3 ||
      tavrel_build(rgb.data(), width, height, 0, TAVREL_PIXELS_RGB, nullptr, nullptr, 1, &tree,
                   nullptr) != TAVREL_OK) {
    std::fprintf(stderr, "usage: tree_print photo.ppm [cluster|nearest IMAGES [TARGET...]]\n");
    return 2;
  }
  const std::uint32_t n = tavrel_colours(tree);
  if (argc >= 4) {
    const bool nearest = std::string(argv[2]) == "nearest";
    const tavrel_remap remap = nearest ? TAVREL_REMAP_NEAREST : TAVREL_REMAP_CLUSTER;
    printCurve(tree, remap);
    for (int i = 4; i < argc; ++i) {
      std::uint32_t k = 0;
      tavrel_fewest_colours_remapped(tree, remap, std::atof(argv[i]), &k);
      std::printf("fewest %s %" PRIu32 "\n", argv[i], k);
    }
    for (std::uint32_t k = 1; k <= n && k <= std::strtoul(argv[3], nullptr, 10); ++k) {
      std::vector<std::uint8_t> palette(3 * k);
      tavrel_palette(tree, k, palette.data(), palette.size());
      printImage(k, nearestByTrial(rgb, palette));
    }
  } else {
    std::printf("colours %" PRIu32 "\n", n);
    for (std::uint32_t s = 0; s + 1 < n; ++s) {
      tavrel_split split;
      tavrel_split_at(tree, s, &split);
      std::printf("split %" PRIu32 " %" PRIu32 " %" PRIu64 " %d %d %d %d %d %d %.17g\n", s,
                  split.node, split.pixels, split.left[0], split.left[1], split.left[2],
                  split.right[0], split.right[1], split.right[2], split.cost);
    }
    printCurve(tree, TAVREL_REMAP_CLUSTER);
    std::vector<std::uint8_t> image(tavrel_output_size(tree, TAVREL_OUTPUT_RGB, 0));
    for (std::uint32_t k : {1u, 2u, 3u, 16u, 256u, n}) {
      if (k > n) continue;
      tavrel_paint(tree, k, TAVREL_OUTPUT_RGB, image.data(), image.size(), 0);
      printImage(k, image);
    }
  }
  tavrel_free(tree);
  return 0;
}
