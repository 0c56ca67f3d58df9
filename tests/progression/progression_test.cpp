#include "progression/progression.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
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
                const std::string& outputName = "out.ppm") {
  TempDir folder;
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

TEST(ProgressionTest, EachStepAddsOneColourToTheOutput) {
  // A run limited to k colours leaves k colours in the output image, with
  // one dump for each count from 2 to k.
  std::vector<PackedColor> pixels;
  for (int i = 0; i < 48; ++i) pixels.push_back(pack((i * 37) % 256, (i * 11) % 64, 255 - i % 5));
  MemoryImage input(8, 6, pixels);
  const std::size_t n = distinctColours(pixels);
  ASSERT_GT(n, 20u);
  for (std::size_t k = 2; k <= n; ++k) {
    SCOPED_TRACE(k);
    const RunResult run = runOn(input, 0, static_cast<int>(k));
    EXPECT_EQ(distinctColours(run.output), k);
    EXPECT_EQ(run.files.size(), k - 1);
  }
  EXPECT_EQ(runOn(input, 0, 0).output, pixels);
}

}  // namespace
}  // namespace tavrel
