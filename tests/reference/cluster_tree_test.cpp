#include "reference/cluster_tree.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "color/colour_difference.h"
#include "reference/splitting.h"
#include "support/progression_test_util.h"

namespace tavrel::reference {
namespace {

using test::MemoryImage;
using test::pack;

struct Colour {
  PackedColor color;
  std::int32_t pixels;
};

// One merge as the observer saw it, with the work list right after it.
struct Merge {
  const ClusterNode* node;
  ClusterNode* left;
  ClusterNode* right;
  PackedColor color;
  double cost;
  std::vector<PackedColor> listAfter;
};

// A work list of histogram clusters given head first, with its leaves; the
// tree built from it and everything else is released at the end.
class Forest {
 public:
  explicit Forest(const std::vector<Colour>& colours) {
    for (auto it = colours.rbegin(); it != colours.rend(); ++it) {
      ColorCluster* cluster = makeColorCluster();
      addColorEntry(cluster, it->color & 0xFF, (it->color >> 8) & 0xFF, (it->color >> 16) & 0xFF,
                    it->pixels);
      cluster->color = it->color;
      cluster->next = workList_;
      workList_ = cluster;
    }
    count_ = static_cast<int>(colours.size());
    leaves_ = makeLeafNodes(workList_, count_);
  }
  ~Forest() { releaseClusterTree(root_, leaves_, count_); }
  Forest(const Forest&) = delete;
  Forest& operator=(const Forest&) = delete;

  ClusterNode* build() {
    root_ = buildClusterTree(workList_, [this](const ClusterNode& inner) {
      Merge merge{&inner, inner.left, inner.right, inner.cluster->color, inner.cluster->mergeCost,
                  {}};
      for (ColorCluster* c = workList_; c; c = c->next) merge.listAfter.push_back(c->color);
      merges.push_back(merge);
    });
    return root_;
  }

  ClusterNode* leaf(int i) { return &leaves_[i]; }
  ColorCluster* workList() { return workList_; }

  std::vector<Merge> merges;

 private:
  ColorCluster* workList_ = nullptr;
  ClusterNode* leaves_ = nullptr;
  ClusterNode* root_ = nullptr;
  int count_ = 0;
};

std::string hex(double value) {
  char text[64];
  std::snprintf(text, sizeof text, "%a", value);
  return text;
}

double difference(PackedColor p, PackedColor q) {
  return ColourDifference(4, p & 0xFF, (p >> 8) & 0xFF, (p >> 16) & 0xFF, q & 0xFF, (q >> 8) & 0xFF,
                          (q >> 16) & 0xFF);
}

std::vector<PackedColor> listColours(const ColorCluster* cluster) {
  std::vector<PackedColor> colours;
  for (const ColorEntry* e = cluster->entries; e; e = e->next) {
    colours.push_back(pack(e->red, e->green, e->blue));
  }
  return colours;
}

TEST(ClusterTreeTest, TwoClustersMergeIntoTheWeightedMean) {
  const PackedColor a = pack(10, 20, 30), b = pack(11, 20, 31);
  Forest forest({{a, 3}, {b, 1}});
  ClusterNode* root = forest.build();
  ASSERT_NE(root, nullptr);
  EXPECT_EQ(root->left, forest.leaf(0));
  EXPECT_EQ(root->right, forest.leaf(1));
  EXPECT_EQ(root->cluster->node, root);
  // N = 4, sums (41, 80, 121): the truncated means give back a.
  EXPECT_EQ(root->cluster->color, a);
  EXPECT_EQ(root->cluster->entryCount, 2);
  EXPECT_EQ(listColours(root->cluster), (std::vector<PackedColor>{b, a}));
  EXPECT_EQ(hex(root->cluster->mergeCost), hex((1.0 * 3.0) / (1.0 + 3.0) * difference(a, b)));
  EXPECT_TRUE(root->cluster->label.empty());
  // The work list is left holding the root's cluster alone.
  EXPECT_EQ(forest.workList(), root->cluster);
  EXPECT_EQ(forest.workList()->next, nullptr);
  // The merged clusters keep their own lists.
  EXPECT_EQ(forest.leaf(0)->cluster->entryCount, 1);
  EXPECT_EQ(forest.leaf(1)->cluster->entryCount, 1);
}

TEST(ClusterTreeTest, SingleClusterHasNoRoot) {
  Forest forest({{pack(1, 2, 3), 9}});
  EXPECT_EQ(forest.build(), nullptr);
  EXPECT_TRUE(forest.merges.empty());
  EXPECT_EQ(forest.workList()->next, nullptr);
}

TEST(ClusterTreeTest, ZeroCostPairsMergeFirst) {
  // Black is measured as (1, 1, 1): that pair costs 0 and goes before the
  // close reds, although they are next to each other.
  const PackedColor red = pack(200, 0, 0), black = pack(0, 0, 0), red2 = pack(201, 0, 0),
                    grey = pack(1, 1, 1);
  Forest forest({{red, 1}, {black, 5}, {red2, 1}, {grey, 5}});
  forest.build();
  ASSERT_EQ(forest.merges.size(), 3u);
  EXPECT_EQ(forest.merges[0].left, forest.leaf(1));
  EXPECT_EQ(forest.merges[0].right, forest.leaf(3));
  EXPECT_EQ(forest.merges[0].cost, 0.0);
  EXPECT_EQ(forest.merges[0].color, pack(0, 0, 0));  // (0 * 5 + 1 * 5) / 10 = 0
  // The merged cluster stands first, the others keep their order.
  EXPECT_EQ(forest.merges[0].listAfter, (std::vector<PackedColor>{black, red, red2}));
  EXPECT_EQ(forest.merges[1].left, forest.leaf(0));
  EXPECT_EQ(forest.merges[1].right, forest.leaf(2));
}

TEST(ClusterTreeTest, FirstPairMetWinsATie) {
  struct Case {
    const char* name;
    std::vector<Colour> colours;
    int left;
    int right;
  };
  const PackedColor p = pack(10, 10, 10), q = pack(50, 60, 70);
  const Case cases[] = {
      // Equal colours cost 0: (L0, L2) is met before (L1, L3).
      {"two zero pairs", {{p, 1}, {q, 1}, {p, 1}, {q, 1}}, 0, 2},
      // All three pairs cost 0: (L0, L1) is met first.
      {"three-way tie", {{pack(0, 0, 0), 2}, {pack(1, 1, 1), 2}, {pack(0, 0, 0), 2}}, 0, 1},
      // (L1, L2) costs 0 alone.
      {"later pair cheaper", {{q, 1}, {p, 1}, {p, 1}}, 1, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Forest forest(c.colours);
    forest.build();
    ASSERT_FALSE(forest.merges.empty());
    EXPECT_EQ(forest.merges[0].left, forest.leaf(c.left));
    EXPECT_EQ(forest.merges[0].right, forest.leaf(c.right));
  }
}

TEST(ClusterTreeTest, NewestMergedClusterIsTheLeftChildOfTheNextMerge) {
  // Four equal colours: every pair costs 0, so each merge takes (L0, L1),
  // and L0 is always the cluster made by the merge before.
  const PackedColor p = pack(40, 40, 40);
  Forest forest({{p, 1}, {p, 1}, {p, 1}, {p, 1}});
  ClusterNode* root = forest.build();
  ASSERT_EQ(forest.merges.size(), 3u);
  EXPECT_EQ(forest.merges[0].left, forest.leaf(0));
  EXPECT_EQ(forest.merges[0].right, forest.leaf(1));
  EXPECT_EQ(forest.merges[1].left, forest.merges[0].node);
  EXPECT_EQ(forest.merges[1].right, forest.leaf(2));
  EXPECT_EQ(forest.merges[2].left, forest.merges[1].node);
  EXPECT_EQ(forest.merges[2].right, forest.leaf(3));
  EXPECT_EQ(forest.merges[2].node, root);
}

TEST(ClusterTreeTest, MergedListIsBReversedThenAReversed) {
  // Clusters of two entries each, as merges leave them.
  ColorCluster* a = makeColorCluster();
  addColorEntry(a, 1, 0, 0, 2);  // a's list: (2,0,0) then (1,0,0)
  addColorEntry(a, 2, 0, 0, 2);
  a->color = pack(1, 0, 0);
  ColorCluster* b = makeColorCluster();
  addColorEntry(b, 9, 0, 0, 1);  // b's list: (8,0,0) then (9,0,0)
  addColorEntry(b, 8, 0, 0, 3);
  b->color = pack(8, 0, 0);
  a->next = b;
  ColorCluster* workList = a;
  ClusterNode* leaves = makeLeafNodes(workList, 2);
  ClusterNode* root = buildClusterTree(workList);
  ASSERT_NE(root, nullptr);
  EXPECT_EQ(listColours(root->cluster),
            (std::vector<PackedColor>{pack(9, 0, 0), pack(8, 0, 0), pack(1, 0, 0), pack(2, 0, 0)}));
  EXPECT_EQ(root->cluster->entryCount, 4);
  // Totals from the lists: nA = 4, nB = 4; red sum 2 + 4 + 9 + 24 = 39, / 8.
  EXPECT_EQ(root->cluster->color, pack(4, 0, 0));
  EXPECT_EQ(hex(root->cluster->mergeCost), hex(16.0 / 8.0 * difference(a->color, b->color)));
  releaseCluster(root->cluster);
  delete root;
  releaseLeafNodes(leaves, 2);
}

TEST(ClusterTreeTest, PairsCostingTenBillionOrMoreAreStillMerged) {
  const PackedColor white = pack(255, 255, 255), black = pack(0, 0, 0), grey = pack(128, 128, 128);
  {
    Forest forest({{white, 1000000000}, {black, 1000000000}});
    ClusterNode* root = forest.build();
    ASSERT_NE(root, nullptr);
    EXPECT_GT(root->cluster->mergeCost, 1e10);
    EXPECT_EQ(hex(root->cluster->mergeCost), hex(1e18 / 2e9 * difference(white, black)));
    // 64-bit channel sums: 255e9 / 2e9 = 127.
    EXPECT_EQ(root->cluster->color, pack(127, 127, 127));
  }
  {
    // Every pair above 1e10: the least one, white with grey, goes first
    // although it is met last.
    Forest forest({{black, 1000000000}, {white, 1000000000}, {grey, 1000000000}});
    forest.build();
    ASSERT_EQ(forest.merges.size(), 2u);
    EXPECT_GT(forest.merges[0].cost, 1e10);
    EXPECT_EQ(forest.merges[0].left, forest.leaf(1));
    EXPECT_EQ(forest.merges[0].right, forest.leaf(2));
  }
  {
    // Equal costs above 1e10 still go to the first pair met.
    Forest forest(
        {{grey, 1000000000}, {grey, 1000000000}, {white, 1000000000}, {white, 1000000000}});
    forest.build();
    ASSERT_EQ(forest.merges.size(), 3u);
    EXPECT_EQ(forest.merges[0].left, forest.leaf(0));
    EXPECT_EQ(forest.merges[0].right, forest.leaf(1));
  }
}

TEST(ClusterTreeTest, ChannelSumsDoNotWrapAtThirtyTwoBits) {
  // 255 * 20,000,000 exceeds 2^32; the mean stays just under 255.
  Forest forest({{pack(255, 255, 255), 20000000}, {pack(0, 0, 0), 1}});
  ClusterNode* root = forest.build();
  ASSERT_NE(root, nullptr);
  EXPECT_EQ(root->cluster->color, pack(254, 254, 254));
}

TEST(ClusterTreeTest, TreeOfAnImageHasOneInnerNodePerMerge) {
  std::vector<PackedColor> pixels;
  std::uint32_t state = 12345;
  for (int i = 0; i < 12 * 10; ++i) {
    state = state * 1103515245u + 12345u;
    const int k = static_cast<int>((state >> 16) % 23);
    pixels.push_back(pack(k * 11, (k * 37) % 256, (k * 73) % 256));
  }
  MemoryImage image(12, 10, pixels);
  ColorCluster* workList = makeColorCluster();
  const int count = buildColorHistogram(image.get(), workList);
  ClusterNode* leaves = makeLeafNodes(workList, count);
  std::vector<const ClusterNode*> inner;
  ClusterNode* root =
      buildClusterTree(workList, [&](const ClusterNode& node) { inner.push_back(&node); });
  ASSERT_GT(count, 10);
  ASSERT_NE(root, nullptr);
  EXPECT_EQ(static_cast<int>(inner.size()), count - 1);
  EXPECT_EQ(inner.back(), root);
  for (const ClusterNode* node : inner) {
    ASSERT_NE(node->left, nullptr);
    ASSERT_NE(node->right, nullptr);
    EXPECT_EQ(node->cluster->entryCount,
              node->left->cluster->entryCount + node->right->cluster->entryCount);
    EXPECT_EQ(pixelTotal(node->cluster),
              pixelTotal(node->left->cluster) + pixelTotal(node->right->cluster));
    EXPECT_GE(node->cluster->mergeCost, 0.0);
    EXPECT_EQ(node->cluster->node, node);
  }
  EXPECT_EQ(root->cluster->entryCount, count);
  EXPECT_EQ(pixelTotal(root->cluster), 120);
  EXPECT_EQ(workList, root->cluster);
  EXPECT_EQ(workList->next, nullptr);
  releaseClusterTree(root, leaves, count);
}

}  // namespace
}  // namespace tavrel::reference
