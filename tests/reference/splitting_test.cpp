#include "reference/splitting.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "reference/cluster_tree.h"

namespace tavrel::reference {
namespace {

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
  root->cluster->label.assign(1, 'R');
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

}  // namespace
}  // namespace tavrel::reference
