// The shipped engine against the literal reference: the same merges (pairs,
// costs bit for bit, colours), and the same messages, dumps and output image
// for whole runs, on seeded random images built to provoke ties and on crops
// of real photographs. A failure names its seed.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "progression/colour_histogram.h"
#include "progression/merge_tree.h"
#include "progression/progression.h"
#include "reference/cluster_tree.h"
#include "reference/splitting.h"
#include "support/progression_test_util.h"
#include "support/test_support.h"

namespace tavrel {
namespace {

using test::pack;

struct Image {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::vector<PackedColor> pixels;
};

// Palettes that make equal costs likely: few levels, mirrored pairs, black
// beside its stand-in (1,1,1), colours in arithmetic steps so that truncated
// means land on colours that already exist, grey ramps, and plain noise.
std::vector<PackedColor> palette(std::mt19937& rng, int kind) {
  std::vector<PackedColor> colours;
  auto add = [&](PackedColor c) {
    if (std::find(colours.begin(), colours.end(), c) == colours.end()) colours.push_back(c);
  };
  const int size = 2 + static_cast<int>(rng() % 14);
  switch (kind) {
    case 0: {  // a coarse grid of levels
      const int levels = 2 + static_cast<int>(rng() % 3);
      for (int i = 0; i < size; ++i) {
        auto level = [&] { return static_cast<int>(rng() % levels) * 255 / (levels - 1); };
        add(pack(level(), level(), level()));
      }
      break;
    }
    case 1:  // mirrored pairs
      for (int i = 0; i < size / 2 + 1; ++i) {
        const int r = static_cast<int>(rng() % 256), g = static_cast<int>(rng() % 256),
                  b = static_cast<int>(rng() % 256);
        add(pack(r, g, b));
        add(pack(255 - r, 255 - g, 255 - b));
      }
      break;
    case 2:  // black, (1,1,1) and their neighbours
      add(pack(0, 0, 0));
      add(pack(1, 1, 1));
      for (int i = 0; i < size; ++i) {
        add(pack(static_cast<int>(rng() % 3), static_cast<int>(rng() % 3),
                 static_cast<int>(rng() % 3)));
      }
      break;
    case 3: {  // arithmetic steps from a base colour
      const int r = static_cast<int>(rng() % 200), g = static_cast<int>(rng() % 200),
                b = static_cast<int>(rng() % 200);
      const int step = 1 + static_cast<int>(rng() % 4);
      for (int i = 0; i < size; ++i) add(pack(r + i * step % 50, g, b + i * step % 50));
      break;
    }
    case 4:  // a grey ramp with equal spacing
      for (int i = 0; i < size; ++i) add(pack(i * 17, i * 17, i * 17));
      break;
    default:
      for (int i = 0; i < size; ++i) add(rng() & 0xFFFFFF);
      break;
  }
  return colours;
}

Image randomImage(unsigned seed) {
  std::mt19937 rng(seed);
  const std::vector<PackedColor> colours = palette(rng, static_cast<int>(seed % 6));
  Image image;
  image.width = 1 + rng() % 12;
  image.height = 1 + rng() % 10;
  const std::size_t count = static_cast<std::size_t>(image.width) * image.height;
  // Half the images give every colour the same pixel count where they can.
  const bool evenCounts = rng() % 2 == 0;
  for (std::size_t i = 0; i < count; ++i) {
    image.pixels.push_back(evenCounts ? colours[i % colours.size()]
                                      : colours[rng() % colours.size()]);
  }
  return image;
}

// The test crops have the plain header "P6\n<w> <h>\n255\n".
Image readPpm(const std::string& name) {
  const std::string bytes = test::readFile(test::testDataPath(name));
  Image image;
  int headerLength = 0;
  std::sscanf(bytes.c_str(), "P6 %u %u 255%n", &image.width, &image.height, &headerLength);
  for (std::size_t pos = static_cast<std::size_t>(headerLength) + 1; pos + 3 <= bytes.size();
       pos += 3) {
    image.pixels.push_back(pack(static_cast<std::uint8_t>(bytes[pos]),
                                static_cast<std::uint8_t>(bytes[pos + 1]),
                                static_cast<std::uint8_t>(bytes[pos + 2])));
  }
  return image;
}

struct MergeRecord {
  std::uint32_t left, right;
  std::uint64_t costBits;
  PackedColor colour;
  bool operator==(const MergeRecord&) const = default;
};

std::uint64_t bitsOf(double value) {
  std::uint64_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  return bits;
}

// The reference's merges, with its nodes numbered as the shipped engine
// numbers them: colours by discovery, merged clusters by creation.
std::vector<MergeRecord> referenceMerges(test::MemoryImage& image,
                                         std::vector<PackedColor>* found) {
  using namespace reference;
  ColorCluster* workList = makeColorCluster();
  workList->next = nullptr;
  const int count = buildColorHistogram(image.get(), workList);
  ClusterNode* leaves = makeLeafNodes(workList, count);
  std::map<const ClusterNode*, std::uint32_t> id;
  found->assign(static_cast<std::size_t>(count), 0);
  for (int i = 0; i < count; ++i) {
    // The work list is newest first: its last cluster was found first.
    id[&leaves[i]] = static_cast<std::uint32_t>(count - 1 - i);
    (*found)[static_cast<std::size_t>(count - 1 - i)] = leaves[i].cluster->color;
  }
  std::vector<MergeRecord> merges;
  ClusterNode* root = buildClusterTree(workList, [&](const ClusterNode& inner) {
    id[&inner] = static_cast<std::uint32_t>(count) + static_cast<std::uint32_t>(merges.size());
    merges.push_back(MergeRecord{id.at(inner.left), id.at(inner.right),
                                 bitsOf(inner.cluster->mergeCost), inner.cluster->color});
  });
  releaseClusterTree(root, leaves, count);
  return merges;
}

void expectSameMerges(const Image& image, const std::string& what) {
  test::MemoryImage memory(image.width, image.height, image.pixels);
  std::vector<PackedColor> referenceColours;
  const std::vector<MergeRecord> expected = referenceMerges(memory, &referenceColours);

  const ColourHistogram histogram = collectColours(memory.get(), false);
  ASSERT_EQ(histogram.colours, referenceColours) << what;
  const MergeTree tree = buildMergeTree(histogram.colours, histogram.counts);
  std::vector<MergeRecord> merges;
  for (std::uint32_t k = 0; k < tree.left.size(); ++k) {
    const std::uint32_t node = tree.leafCount + k;
    merges.push_back(
        MergeRecord{tree.left[k], tree.right[k], bitsOf(tree.cost[node]), tree.colour[node]});
  }
  ASSERT_EQ(merges.size(), expected.size()) << what;
  for (std::size_t k = 0; k < merges.size(); ++k) {
    ASSERT_EQ(merges[k], expected[k]) << what << ", merge " << k;
  }
}

using Engine = int (*)(ImageBuffer*, ImageBuffer*, const std::string&, int, bool*);

struct EngineRun {
  std::string out;
  std::string err;
  int result = 0;
  bool failed = false;
  std::vector<PackedColor> output;
  std::map<std::string, std::string> files;
};

EngineRun runEngine(Engine engine, const Image& image, int quietLevel, int limit) {
  test::TempDir folder;
  test::MemoryImage input(image.width, image.height, image.pixels);
  test::MemoryImage output(image.width, image.height);
  EngineRun run;
  {
    test::CurrentFolderScope inFolder(folder.path());
    test::QuietLevelScope quiet(quietLevel);
    test::CapturedConsole console;
    run.result = engine(input.get(), output.get(), "out.ppm", limit, &run.failed);
    run.out = console.out();
    run.err = console.err();
  }
  run.output = output.pixels();
  for (const auto& entry : std::filesystem::directory_iterator(folder.path())) {
    run.files[entry.path().filename().string()] = test::readFile(entry.path().string());
  }
  return run;
}

void expectSameRuns(const Image& image, int quietLevel, int limit, const std::string& what) {
  const EngineRun shipped = runEngine(&runProgression, image, quietLevel, limit);
  const EngineRun literal = runEngine(&reference::runProgression, image, quietLevel, limit);
  const std::string where =
      what + ", -Q" + std::to_string(quietLevel) + " -C" + std::to_string(limit);
  EXPECT_EQ(shipped.out, literal.out) << where;
  EXPECT_EQ(shipped.err, literal.err) << where;
  EXPECT_EQ(shipped.result, literal.result) << where;
  EXPECT_EQ(shipped.failed, literal.failed) << where;
  EXPECT_EQ(shipped.output, literal.output) << where;
  EXPECT_EQ(shipped.files, literal.files) << where;
}

TEST(DifferentialTest, MergesMatchOnTieProneRandomImages) {
  for (unsigned seed = 1; seed <= 600; ++seed) {
    expectSameMerges(randomImage(seed), "seed " + std::to_string(seed));
    if (HasFatalFailure()) return;
  }
}

TEST(DifferentialTest, RunsMatchOnTieProneRandomImages) {
  const int limits[] = {0, 2, 3, 5, 256};
  for (unsigned seed = 1; seed <= 200; ++seed) {
    const Image image = randomImage(seed);
    expectSameRuns(image, 3, limits[seed % 5], "seed " + std::to_string(seed));
  }
}

TEST(DifferentialTest, MergesAndRunsMatchOnPhotoCrops) {
  for (const char* name : {"chelsea-16x16.ppm", "motorcycle-16x16.ppm", "coffee-24x16.ppm",
                           "coffee-post1500-48x36.ppm", "coffee-post-48x32.ppm"}) {
    const Image image = readPpm(name);
    ASSERT_EQ(image.pixels.size(), static_cast<std::size_t>(image.width) * image.height) << name;
    expectSameMerges(image, name);
    expectSameRuns(image, 3, 0, name);
    expectSameRuns(image, 2, 12, name);
  }
}

}  // namespace
}  // namespace tavrel
