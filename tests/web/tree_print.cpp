// Prints what the library holds for a P6 photo, through the C interface, in
// a text that the WebAssembly build prints the same way (tree_test.mjs): the
// split records, the quality curve (doubles as their bits) and a hash of a
// few painted images. Equal texts mean equal trees.
#include <bit>
#include <cinttypes>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

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

}  // namespace

int main(int argc, char** argv) {
  std::ifstream file(argc == 2 ? argv[1] : "", std::ios::binary);
  std::string magic;
  unsigned width = 0, height = 0, maxval = 0;
  file >> magic >> width >> height >> maxval;
  file.get();
  std::vector<std::uint8_t> rgb((std::istreambuf_iterator<char>(file)), {});
  tavrel_hierarchy* tree = nullptr;
  if (magic != "P6" || maxval != 255 || rgb.size() < std::size_t{width} * height * 3 ||
      tavrel_build(rgb.data(), width, height, 0, TAVREL_PIXELS_RGB, nullptr, nullptr, 1, &tree,
                   nullptr) != TAVREL_OK) {
    std::fprintf(stderr, "usage: tree_print photo.ppm (P6, maxval 255)\n");
    return 2;
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
