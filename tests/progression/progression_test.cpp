#include "progression/progression.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "progression/cluster_tree.h"
#include "progression/progression_test_util.h"
#include "progression/splitting.h"
#include "support/test_support.h"

namespace tavrel {
namespace {

using test::CapturedConsole;
using test::CurrentFolderScope;
using test::MemoryImage;
using test::pack;
using test::QuietLevelScope;
using test::TempDir;

// ---------------------------------------------------------------------------
// Choosing the next split, on trees built by hand.

// Owns hand-made nodes and their clusters.
class HandTree {
 public:
  ~HandTree() {
    for (ClusterNode* node : nodes_) {
      releaseCluster(node->cluster);
      delete node;
    }
  }
  // label empty = unsplit.
  ClusterNode* node(double cost, const std::string& label = "", ClusterNode* left = nullptr,
                    ClusterNode* right = nullptr) {
    ClusterNode* n = new ClusterNode{left, right, makeColorCluster()};
    n->cluster->mergeCost = cost;
    n->cluster->label = label;
    n->cluster->node = n;
    nodes_.push_back(n);
    return n;
  }
  ClusterNode* leaf() { return node(-1.0); }

 private:
  std::vector<ClusterNode*> nodes_;
};

TEST(FindNextSplitTest, TakesTheFrontierNodeOfLargestCostWithTiesToTheRight) {
  struct Case {
    const char* name;
    // Builds the tree and returns {root, expected node}.
    std::pair<ClusterNode*, ClusterNode*> (*build)(HandTree&);
    const char* label;  // expected content of the buffer afterwards
  };
  const Case cases[] = {
      {"unsplit root is returned, buffer untouched",
       [](HandTree& t) {
         ClusterNode* root = t.node(3.0, "", t.leaf(), t.leaf());
         return std::make_pair(root, root);
       },
       "untouched"},
      {"equal costs go right",
       [](HandTree& t) {
         ClusterNode* right = t.node(5.0, "", t.leaf(), t.leaf());
         ClusterNode* root = t.node(9.0, "R", t.node(5.0, "", t.leaf(), t.leaf()), right);
         return std::make_pair(root, right);
       },
       "R0"},
      {"larger left cost goes left",
       [](HandTree& t) {
         ClusterNode* left = t.node(6.0, "", t.leaf(), t.leaf());
         ClusterNode* root = t.node(9.0, "R", left, t.node(5.0, "", t.leaf(), t.leaf()));
         return std::make_pair(root, left);
       },
       "R1"},
      {"a leaf loses to an inner node of cost 0 on the right",
       [](HandTree& t) {
         ClusterNode* right = t.node(0.0, "", t.leaf(), t.leaf());
         ClusterNode* root = t.node(9.0, "R", t.leaf(), right);
         return std::make_pair(root, right);
       },
       "R0"},
      {"a leaf loses to an inner node of cost 0 on the left",
       [](HandTree& t) {
         ClusterNode* left = t.node(0.0, "", t.leaf(), t.leaf());
         ClusterNode* root = t.node(9.0, "R", left, t.leaf());
         return std::make_pair(root, left);
       },
       "R1"},
      {"the label of a deeper node is composed below",
       [](HandTree& t) {
         ClusterNode* target = t.node(7.0, "", t.leaf(), t.leaf());
         ClusterNode* left = t.node(8.0, "R1", t.node(3.0, "", t.leaf(), t.leaf()), target);
         ClusterNode* root = t.node(9.0, "R", left, t.node(5.0, "", t.leaf(), t.leaf()));
         return std::make_pair(root, target);
       },
       "R10"},
      {"a tie across levels goes to the right subtree",
       [](HandTree& t) {
         ClusterNode* left = t.node(8.0, "R1", t.node(5.0, "", t.leaf(), t.leaf()), t.leaf());
         ClusterNode* right = t.node(5.0, "", t.leaf(), t.leaf());
         ClusterNode* root = t.node(9.0, "R", left, right);
         return std::make_pair(root, right);
       },
       "R0"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    HandTree tree;
    const auto [root, expected] = c.build(tree);
    PathLabel label = "untouched";
    EXPECT_EQ(findNextSplit(root, label), expected);
    EXPECT_EQ(label, c.label);
  }
}

TEST(FindNextSplitTest, LabelsGrowBeyondTwoHundredFiftyFourCharacters) {
  // A chain: every inner node has a leaf on the left and the next, cheaper
  // inner node on the right, so step k splits the node at depth k.
  constexpr int kDepth = 300;
  HandTree tree;
  ClusterNode* below = tree.leaf();
  std::vector<ClusterNode*> chain(kDepth + 1);
  for (int depth = kDepth; depth >= 0; --depth) {
    below = tree.node(1000.0 - depth, "", tree.leaf(), below);
    chain[static_cast<std::size_t>(depth)] = below;
  }
  ClusterNode* root = chain[0];
  root->cluster->label = "R";
  PathLabel expected = "R";
  for (int depth = 1; depth <= kDepth; ++depth) {
    PathLabel label;
    ClusterNode* node = findNextSplit(root, label);
    ASSERT_EQ(node, chain[static_cast<std::size_t>(depth)]);
    expected.push_back('0');
    ASSERT_EQ(label, expected);
    node->cluster->label = label;
  }
  EXPECT_EQ(chain[kDepth]->cluster->label.size(), 301u);
}

// ---------------------------------------------------------------------------
// Whole runs on in-memory images.

struct PpmImage {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::vector<PackedColor> pixels;
};

// Reads a P6 file with maxval 255; fails the test on anything else.
PpmImage readPpm(const std::string& path) {
  const std::string bytes = test::readFile(path);
  std::istringstream in(bytes);
  std::string magic;
  int maxval = 0;
  PpmImage image;
  in >> magic >> image.width >> image.height >> maxval;
  in.get();
  EXPECT_EQ(magic, "P6");
  EXPECT_EQ(maxval, 255);
  const std::size_t start = static_cast<std::size_t>(in.tellg());
  EXPECT_EQ(bytes.size() - start, std::size_t{3} * image.width * image.height) << path;
  for (std::size_t i = start; i + 2 < bytes.size(); i += 3) {
    image.pixels.push_back(pack(static_cast<unsigned char>(bytes[i]),
                                static_cast<unsigned char>(bytes[i + 1]),
                                static_cast<unsigned char>(bytes[i + 2])));
  }
  return image;
}

std::vector<std::string> filesIn(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::size_t distinctColours(const std::vector<PackedColor>& pixels) {
  std::vector<PackedColor> sorted = pixels;
  std::sort(sorted.begin(), sorted.end());
  return static_cast<std::size_t>(std::unique(sorted.begin(), sorted.end()) - sorted.begin());
}

// A run in a fresh current folder, with its console captured.
struct RunResult {
  std::string out;
  std::string err;
  int result = -1;
  bool failed = false;
  std::vector<PackedColor> output;
  std::vector<std::string> files;
};

RunResult runOn(MemoryImage& input, int quietLevel, int limit,
                const std::string& outputName = "out.ppm", const TempDir* keep = nullptr) {
  TempDir own;
  const TempDir& folder = keep ? *keep : own;
  MemoryImage output(input.get()->width, input.get()->height);
  RunResult run;
  {
    CurrentFolderScope inFolder(folder.path());
    QuietLevelScope quiet(quietLevel);
    CapturedConsole console;
    run.result = runProgression(input.get(), output.get(), outputName, limit, &run.failed);
    run.out = console.out();
    run.err = console.err();
  }
  run.output = output.pixels();
  run.files = filesIn(folder.path());
  return run;
}

// Four colours whose tree can be worked out by hand. Found in the order
// black, (1,1,1), red, blue, the work list is [blue, red, (1,1,1), black]:
//   1. (1,1,1) + black cost 0 (black is measured as (1,1,1)); mean (0,0,0).
//   2. With [M1, blue, red]: M1 + red costs 2/3 * 117.2 = 78.1, less than
//      M1 + blue (2/3 * 137.6 = 91.7) and blue + red (1/2 * 176.3 = 88.2);
//      mean (256/3, 1/3, 1/3) = (85, 0, 0).
//   3. M2 + blue: the root, mean (256/4, 1/4, 256/4) = (64, 0, 64).
// So root = (M2, blue), M2 = (M1, red), M1 = ((1,1,1), black).
const std::vector<PackedColor> kFourColours = {pack(0, 0, 0), pack(1, 1, 1), pack(255, 0, 0),
                                               pack(0, 0, 255)};

TEST(ProgressionTest, FourColoursSplitAsWorkedOutByHand) {
  MemoryImage input(2, 2, kFourColours);
  const RunResult run = runOn(input, 3, 0);
  EXPECT_EQ(run.out,
            "Processing step 0 - 0%\n"
            "Pixels updated : 4\n"
            "Colors : 85:0:0 0:0:255\n"
            "Path : R\n"
            "Processing step 1 - 25%\n"
            "Pixels updated : 3\n"
            "Colors : 0:0:0 255:0:0\n"
            "Path : R1\n"
            "Processing step 2 - 50%\n"
            "Pixels updated : 2\n"
            "Colors : 1:1:1 0:0:0\n"
            "Path : R11\n");
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.result, 0);
  EXPECT_FALSE(run.failed);
  // Every colour is its own cluster at the end, and no dump was asked for.
  EXPECT_EQ(run.output, kFourColours);
  EXPECT_TRUE(run.files.empty());
}

TEST(ProgressionTest, DumpsHoldTwoThreeAndFourColours) {
  MemoryImage input(2, 2, kFourColours);
  TempDir folder;
  const RunResult run = runOn(input, 2, 4, "out.ppm", &folder);
  EXPECT_EQ(run.out, "Processing step 0 - 0%\nProcessing step 1 - 25%\nProcessing step 2 - 50%\n");
  EXPECT_EQ(run.files,
            (std::vector<std::string>{"dump2_out.ppm", "dump3_out.ppm", "dump4_out.ppm"}));
  const PackedColor m2 = pack(85, 0, 0), blue = pack(0, 0, 255), red = pack(255, 0, 0),
                    black = pack(0, 0, 0);
  EXPECT_EQ(readPpm(folder.file("dump2_out.ppm")).pixels,
            (std::vector<PackedColor>{m2, m2, m2, blue}));
  EXPECT_EQ(readPpm(folder.file("dump3_out.ppm")).pixels,
            (std::vector<PackedColor>{black, black, red, blue}));
  const PpmImage last = readPpm(folder.file("dump4_out.ppm"));
  EXPECT_EQ(last.width, 2u);
  EXPECT_EQ(last.height, 2u);
  EXPECT_EQ(last.pixels, kFourColours);
}

TEST(ProgressionTest, LimitCapsTheStepsAndTheDumps) {
  MemoryImage input(2, 2, kFourColours);
  struct Case {
    int limit;
    const char* out;
    std::vector<std::string> files;
  };
  const Case cases[] = {
      {0, "Processing step 0 - 0%\nProcessing step 1 - 25%\nProcessing step 2 - 50%\n", {}},
      {1, "", {}},
      {2, "Processing step 0 - 0%\n", {"dump2_out.ppm"}},
      {3, "Processing step 0 - 0%\nProcessing step 1 - 33%\n", {"dump2_out.ppm", "dump3_out.ppm"}},
      {5,
       "Processing step 0 - 0%\nProcessing step 1 - 25%\nProcessing step 2 - 50%\n",
       {"dump2_out.ppm", "dump3_out.ppm", "dump4_out.ppm"}},
      {256,
       "Processing step 0 - 0%\nProcessing step 1 - 25%\nProcessing step 2 - 50%\n",
       {"dump2_out.ppm", "dump3_out.ppm", "dump4_out.ppm"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.limit);
    const RunResult run = runOn(input, 2, c.limit);
    EXPECT_EQ(run.out, c.out);
    EXPECT_EQ(run.files, c.files);
    EXPECT_EQ(run.result, 0);
  }
}

TEST(ProgressionTest, NoStepLeavesTheOutputUntouchedAndSilent) {
  const std::vector<PackedColor> white(6, 0xFFFFFF);
  {
    SCOPED_TRACE("limit 1");
    MemoryImage input(2, 2, kFourColours);
    const RunResult run = runOn(input, 6, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_TRUE(run.files.empty());
    EXPECT_EQ(run.output, std::vector<PackedColor>(4, 0xFFFFFF));
  }
  for (int limit : {0, 2, 256}) {
    SCOPED_TRACE(limit);
    MemoryImage input(3, 2, std::vector<PackedColor>(6, pack(30, 60, 90)));
    const RunResult run = runOn(input, 3, limit);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.result, 0);
    EXPECT_TRUE(run.files.empty());
    EXPECT_EQ(run.output, white);
  }
}

TEST(ProgressionTest, TwoColoursSplitOnceIntoTheInput) {
  // The root's left child is the colour found last, its right the seed.
  const std::vector<PackedColor> pixels = {pack(9, 8, 7), pack(200, 100, 50), pack(9, 8, 7)};
  MemoryImage input(3, 1, pixels);
  const RunResult run = runOn(input, 3, 0);
  EXPECT_EQ(run.out,
            "Processing step 0 - 0%\nPixels updated : 3\nColors : 200:100:50 9:8:7\nPath : R\n");
  EXPECT_EQ(run.output, pixels);
}

TEST(ProgressionTest, QuietLevelsBelowTwoPrintNothing) {
  for (int level : {0, 1}) {
    MemoryImage input(2, 2, kFourColours);
    const RunResult run = runOn(input, level, 3);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.files, (std::vector<std::string>{"dump2_out.ppm", "dump3_out.ppm"}));
  }
}

// Ten by ten pixels of one hundred distinct colours.
std::vector<PackedColor> hundredColours() {
  std::vector<PackedColor> pixels;
  for (int i = 0; i < 100; ++i) pixels.push_back(pack((i * 23) % 256, (i * 59) % 256, i));
  return pixels;
}

TEST(ProgressionTest, PercentageIsTruncatedAfterTheDoubleDivision) {
  MemoryImage input(10, 10, hundredColours());
  const RunResult run = runOn(input, 2, 0);
  std::vector<std::string> lines;
  std::istringstream text(run.out);
  for (std::string line; std::getline(text, line);) lines.push_back(line);
  ASSERT_EQ(lines.size(), 99u);
  // 29 / 100 in double is just below 0.29, and times 100 just below 29.
  EXPECT_EQ(lines[29], "Processing step 29 - 28%");
  EXPECT_EQ(lines[0], "Processing step 0 - 0%");
  EXPECT_EQ(lines[50], "Processing step 50 - 50%");
  EXPECT_EQ(lines[98], "Processing step 98 - 98%");
  EXPECT_EQ(run.output, hundredColours());
}

TEST(ProgressionTest, LastDumpReproducesTheInputWhenTheLimitReachesTheColourCount) {
  MemoryImage input(10, 10, hundredColours());
  TempDir folder;
  const RunResult run = runOn(input, 0, 100, "out.ppm", &folder);
  ASSERT_EQ(run.files.size(), 99u);
  for (int k : {2, 3, 10, 50, 99}) {
    SCOPED_TRACE(k);
    const PpmImage dump = readPpm(folder.file("dump" + std::to_string(k) + "_out.ppm"));
    EXPECT_EQ(distinctColours(dump.pixels), static_cast<std::size_t>(k));
  }
  EXPECT_EQ(readPpm(folder.file("dump100_out.ppm")).pixels, hundredColours());
}

TEST(ProgressionTest, EachStepAddsOneColourToTheOutput) {
  // The dump of step s holds s + 2 colours, and every pixel that changes
  // between two dumps belongs to the split cluster only.
  std::vector<PackedColor> pixels;
  for (int i = 0; i < 48; ++i) pixels.push_back(pack((i * 37) % 256, (i * 11) % 64, 255 - i % 5));
  MemoryImage input(8, 6, pixels);
  const std::size_t n = distinctColours(pixels);
  TempDir folder;
  runOn(input, 0, 256, "out.ppm", &folder);
  ASSERT_EQ(filesIn(folder.path()).size(), n - 1);
  for (std::size_t k = 2; k <= n; ++k) {
    const PpmImage dump = readPpm(folder.file("dump" + std::to_string(k) + "_out.ppm"));
    EXPECT_EQ(distinctColours(dump.pixels), k);
  }
}

TEST(ProgressionTest, LongOutputNamesAreNeverCut) {
  MemoryImage input(2, 2, kFourColours);
  const std::string name = std::string(200, 'n') + ".ppm";
  const RunResult run = runOn(input, 0, 2, name);
  EXPECT_EQ(run.files, (std::vector<std::string>{"dump2_" + name}));
  EXPECT_FALSE(run.failed);
}

}  // namespace
}  // namespace tavrel
