// The cluster tree laid out for its top-down reading: every node is a range
// of leaf ranks (the leaves in depth-first order, left child first), so a
// cluster's colours and, through a pixel order by rank, its pixels are
// contiguous; and the split order that turns the tree into the progression.
//
// Node ids are those of MergeTree: leaves 0 .. n-1 in order of discovery,
// merge r makes node n + r. Step s (0-based) splits splitNode[s] and makes
// s + 2 clusters: among the unsplit nodes whose parent is split, the one with
// the largest merge cost, of equal costs the one further right.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "color/packed_color.h"
#include "progression/merge_tree.h"

namespace tavrel {

struct SplitTree {
  std::uint32_t leafCount = 0;
  std::vector<PackedColor> colour;          // per node
  std::vector<std::uint32_t> left, right;   // per merge
  std::vector<double> cost;                 // per merge
  std::vector<std::uint32_t> first;         // per node: rank of its first leaf
  std::vector<std::uint32_t> last;          // per merge: rank of its last leaf
  std::vector<std::uint64_t> pixelsBefore;  // per rank, and the total at leafCount
  std::vector<std::uint32_t> leafAt;        // per rank: the leaf there
  std::vector<std::uint32_t> splitNode;     // per step: the node it splits
  std::vector<std::uint32_t> splitEntry;    // per step: that node's palette entry
  std::vector<std::uint32_t> leafEntry;     // per rank: its palette entry for k = leafCount

  std::uint32_t nodeCount() const { return static_cast<std::uint32_t>(colour.size()); }
  std::uint32_t root() const { return nodeCount() - 1; }
  bool isLeaf(std::uint32_t node) const { return node < leafCount; }
  std::uint32_t leftOf(std::uint32_t node) const { return left[node - leafCount]; }
  std::uint32_t rightOf(std::uint32_t node) const { return right[node - leafCount]; }
  double costOf(std::uint32_t node) const { return isLeaf(node) ? -1.0 : cost[node - leafCount]; }
  // One past the rank of the node's last leaf.
  std::uint32_t endOf(std::uint32_t node) const {
    return isLeaf(node) ? first[node] + 1 : last[node - leafCount] + 1;
  }
  std::uint64_t pixelsOf(std::uint32_t node) const {
    return pixelsBefore[endOf(node)] - pixelsBefore[first[node]];
  }
  std::uint64_t firstPixelOf(std::uint32_t node) const { return pixelsBefore[first[node]]; }
  std::uint64_t totalPixels() const { return pixelsBefore[leafCount]; }
  std::size_t memoryBytes() const;
};

// Called with the fraction of the layout done, every few thousand nodes; it
// may throw to stop the layout.
using LayoutProgress = std::function<void(double)>;

// Lays the tree out and orders its splits; the merge tree is consumed so that
// its memory goes as the layout's comes.
SplitTree layOutTree(MergeTree&& tree, const LayoutProgress& progress = {});

// "R", then 1 for each step down to a left child and 0 for a right child.
std::string pathLabel(const SplitTree& tree, std::uint32_t node);

// The node behind every palette entry of the image for k (1 ≤ k ≤ leafCount).
std::vector<std::uint32_t> entryNodes(const SplitTree& tree, std::uint32_t k);

// Turns colour numbers (leaf ids) into leaf ranks, in place.
void leavesToRanks(const SplitTree& tree, std::vector<std::uint32_t>& ids);

}  // namespace tavrel
