// The shipped engine against the literal reference engine, on seeded inputs:
// the same merges (pairs, costs to the bit, colours) and the same whole runs
// (messages, result, output image, dump files). Failures name their seed.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <map>
#include <random>

#include "cmdline/options.h"
#include "color/colour_difference.h"
#include "progression/colour_histogram.h"
#include "progression/merge_tree.h"
#include "progression/progression.h"
#include "reference/splitting.h"
#include "support/test_support.h"

namespace tavrel {
namespace {

namespace fs = std::filesystem;
using test::pack;

struct Merge {
  std::uint32_t left, right;
  std::uint64_t costBits;
  PackedColor colour;
  bool operator==(const Merge&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Merge& m) {
  return os << m.left << "+" << m.right << " cost " << std::hexfloat
            << std::bit_cast<double>(m.costBits) << " colour " << std::hex << m.colour << std::dec;
}

std::vector<Merge> shippedMerges(const std::vector<PackedColor>& colours,
                                 const std::vector<std::int64_t>& counts) {
  const MergeTree tree = buildMergeTree(colours, counts);
  std::vector<Merge> merges;
  for (std::uint32_t k = 0; k < tree.left.size(); ++k) {
    const std::uint32_t node = tree.leafCount + k;
    merges.push_back({tree.left[k], tree.right[k], std::bit_cast<std::uint64_t>(tree.cost[node]),
                      tree.colour[node]});
  }
  return merges;
}

// The reference's merges, its nodes numbered as the shipped engine numbers
// them: colours by discovery, merged clusters by creation.
std::vector<Merge> referenceMerges(const std::vector<PackedColor>& colours,
                                   const std::vector<std::int64_t>& counts) {
  using namespace reference;
  const int n = static_cast<int>(colours.size());
  ColorCluster* list = nullptr;  // newest first, as the histogram leaves it
  for (int i = 0; i < n; ++i) {
    ColorCluster* cluster = makeColorCluster();
    const PackedColor c = colours[i];
    addColorEntry(cluster, c & 0xFF, (c >> 8) & 0xFF, c >> 16, static_cast<int>(counts[i]));
    cluster->color = c;
    cluster->next = list;
    list = cluster;
  }
  ClusterNode* leaves = makeLeafNodes(list, n);
  std::map<const ClusterNode*, std::uint32_t> id;
  for (int i = 0; i < n; ++i) id[&leaves[i]] = static_cast<std::uint32_t>(n - 1 - i);
  std::vector<Merge> merges;
  ClusterNode* root = buildClusterTree(list, [&](const ClusterNode& inner) {
    id[&inner] = static_cast<std::uint32_t>(n + merges.size());
    merges.push_back({id.at(inner.left), id.at(inner.right),
                      std::bit_cast<std::uint64_t>(inner.cluster->mergeCost),
                      inner.cluster->color});
  });
  releaseClusterTree(root, leaves, n);
  return merges;
}

void expectSameMerges(const std::vector<PackedColor>& colours,
                      const std::vector<std::int64_t>& counts, const std::string& what) {
  const std::vector<Merge> shipped = shippedMerges(colours, counts);
  const std::vector<Merge> expected = referenceMerges(colours, counts);
  ASSERT_EQ(shipped.size(), expected.size()) << what;
  for (std::size_t k = 0; k < shipped.size(); ++k) {
    ASSERT_EQ(shipped[k], expected[k]) << what << ", merge " << k;
  }
}

struct Image {
  std::uint32_t width, height;
  std::vector<PackedColor> pixels;
};

// Few levels, mirrored pairs, black beside its stand-in (1,1,1), colours in
// arithmetic steps (truncated means land on colours that exist), grey ramps
// and plain noise; half the images give every colour the same pixel count.
Image tieProneImage(unsigned seed) {
  std::mt19937 rng(seed);
  auto below = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
  std::vector<PackedColor> colours;
  const int size = 2 + below(14), levels = 2 + below(3), step = 1 + below(4);
  const int r = below(200), g = below(200), b = below(200);
  for (int i = 0; i < size; ++i) {
    auto level = [&] { return below(levels) * 255 / (levels - 1); };
    const int m[] = {below(256), below(256), below(256)};
    switch (seed % 6) {
      case 0: colours.push_back(pack(level(), level(), level())); break;
      case 1: colours.insert(colours.end(), {pack(m[0], m[1], m[2]),
                                             pack(255 - m[0], 255 - m[1], 255 - m[2])}); break;
      case 2: colours.insert(colours.end(), {0, pack(1, 1, 1), pack(below(3), below(3), below(3))});
        break;
      case 3: colours.push_back(pack(r + i * step % 50, g, b + i * step % 50)); break;
      case 4: colours.push_back(pack(i * 17, i * 17, i * 17)); break;
      default: colours.push_back(rng() & 0xFFFFFF);
    }
  }
  Image image{1 + static_cast<std::uint32_t>(below(12)), 1 + static_cast<std::uint32_t>(below(10)), {}};
  const bool evenCounts = rng() % 2 == 0;
  for (std::size_t i = 0; i < image.width * image.height; ++i) {
    image.pixels.push_back(colours[evenCounts ? i % colours.size() : rng() % colours.size()]);
  }
  return image;
}

// The crops of tests/data have the plain header "P6\n<w> <h>\n255\n".
Image readCrop(const std::string& name) {
  const std::string bytes = test::readFile(test::dataPath(name));
  Image image{0, 0, {}};
  int header = 0;
  std::sscanf(bytes.c_str(), "P6 %u %u 255%n", &image.width, &image.height, &header);
  for (std::size_t at = static_cast<std::size_t>(header) + 1; at + 3 <= bytes.size(); at += 3) {
    const auto byte = [&](std::size_t i) { return static_cast<std::uint8_t>(bytes[at + i]); };
    image.pixels.push_back(pack(byte(0), byte(1), byte(2)));
  }
  return image;
}

struct Run {
  std::string out, err;
  int result = 0;
  bool failed = false;
  std::vector<PackedColor> output;
  std::map<std::string, std::string> files;
  bool operator==(const Run&) const = default;
};

using Engine = int (*)(ImageBuffer*, ImageBuffer*, const std::string&, int, bool*);

Run runEngine(Engine engine, const Image& image, int quietLevel, int limit) {
  test::TempDir folder;
  test::MemoryImage input(image.width, image.height, image.pixels);
  test::MemoryImage output(image.width, image.height, {});
  Run run;
  const fs::path home = fs::current_path();
  fs::current_path(folder.path());  // dump names go in front of the output name
  setOptionValue(QuietLevelOption, quietLevel);
  {
    test::CapturedConsole console;
    run.result = engine(input.get(), output.get(), "out.ppm", limit, &run.failed);
    run.out = console.out();
    run.err = console.err();
  }
  resetOptions();
  fs::current_path(home);
  run.output = output.pixels();
  run.files = test::entriesBelow(folder.path());
  return run;
}

void expectSameRuns(const Image& image, int quietLevel, int limit, const std::string& what) {
  const Run shipped = runEngine(&runProgression, image, quietLevel, limit);
  const Run literal = runEngine(&reference::runProgression, image, quietLevel, limit);
  EXPECT_EQ(shipped.out, literal.out) << what;
  EXPECT_TRUE(shipped == literal) << what << " -Q" << quietLevel << " -C" << limit;
}

void expectSameOnImage(const Image& image, int quietLevel, int limit, const std::string& what) {
  test::MemoryImage memory(image.width, image.height, image.pixels);
  const ColourHistogram histogram = collectColours(memory.get(), false);
  expectSameMerges(histogram.colours, histogram.counts, what);
  expectSameRuns(image, quietLevel, limit, what);
}

TEST(Differential, TieProneImages) {
  const int limits[] = {0, 2, 3, 5, 256};
  for (unsigned seed = 1; seed <= 400; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    expectSameOnImage(tieProneImage(seed), 2 + seed % 2, limits[seed % 5], "");
    if (HasFailure()) return;
  }
}

TEST(Differential, PhotoCrops) {
  for (const char* name : {"chelsea-16x16.ppm", "motorcycle-16x16.ppm", "coffee-24x16.ppm",
                           "coffee-post1500-48x36.ppm", "coffee-post-48x32.ppm"}) {
    expectSameOnImage(readCrop(name), 3, 12, name);
  }
}

// Colour sets large enough for the partner search to discard whole regions:
// spread or in tight groups, with heavy-tailed pixel counts as in photos and
// now and then a count in the billions (costs above 1e10, sums beyond 32 bits).
TEST(Differential, LargeColourSets) {
  for (unsigned seed = 1; seed <= 24; ++seed) {
    std::mt19937 rng(seed);
    const std::size_t n = 100 + rng() % (seed % 4 == 0 ? 300 : 150);
    std::vector<PackedColor> colours;
    std::vector<std::int64_t> counts;
    PackedColor centre = 0;
    while (colours.size() < n) {
      if (seed % 2 || colours.size() % 20 == 0) centre = rng() & 0xFFFFFF;
      PackedColor c = centre;
      if (seed % 2 == 0) {
        for (int shift : {0, 8, 16}) {
          const int v = static_cast<int>((centre >> shift) & 0xFF) + static_cast<int>(rng() % 7) - 3;
          c ^= (c & 0xFFu << shift) ^ static_cast<PackedColor>(std::clamp(v, 0, 255)) << shift;
        }
      }
      if (std::find(colours.begin(), colours.end(), c) != colours.end()) continue;
      colours.push_back(c);
      const unsigned r = rng() % 1000;
      counts.push_back(r < 700 ? 1 : r < 950 ? 1 + rng() % 20 : r < 998 ? 1 + rng() % 5000
                                                                         : 1000000000 + rng() % 1000);
    }
    expectSameMerges(colours, counts, "seed " + std::to_string(seed));
  }
}

}  // namespace
}  // namespace tavrel
