#include "progression/split_tree.h"

#include <queue>
#include <utility>

namespace tavrel {
namespace {

template <class T>
std::size_t bytesOf(const std::vector<T>& v) {
  return v.capacity() * sizeof(T);
}

// The next split is the unsplit node with the largest merge cost; among equal
// costs the one further right in the tree, whose leaves come later.
struct FrontierEntry {
  double cost;
  std::uint32_t first;
  std::uint32_t node;
  std::uint32_t entry;
};
struct SplitsLater {
  bool operator()(const FrontierEntry& a, const FrontierEntry& b) const {
    if (a.cost != b.cost) return a.cost < b.cost;
    return a.first < b.first;
  }
};

// Steps between two progress calls: a fraction of a millisecond.
constexpr std::uint32_t kStepsPerReport = 4096;

// The layout's loops over nodes are quick; the split order, a heap of up to
// n entries, takes most of its time.
constexpr double kSplitOrderStart = 0.3;

void orderSplits(SplitTree& t, const LayoutProgress& progress) {
  const std::uint32_t steps = t.leafCount - 1;
  t.splitNode.reserve(steps);
  t.splitEntry.reserve(steps);
  t.leafEntry.resize(t.leafCount);
  std::priority_queue<FrontierEntry, std::vector<FrontierEntry>, SplitsLater> frontier;
  auto enter = [&](std::uint32_t node, std::uint32_t entry) {
    // A leaf is never split: there are as many steps as merges. Its entry
    // is the one it keeps once every node is split.
    if (t.isLeaf(node)) {
      t.leafEntry[t.first[node]] = entry;
    } else {
      frontier.push({t.costOf(node), t.first[node], node, entry});
    }
  };
  enter(t.root(), 0);
  for (std::uint32_t step = 0; step < steps; ++step) {
    if (progress && step % kStepsPerReport == 0) {
      progress(kSplitOrderStart + (1.0 - kSplitOrderStart) * step / steps);
    }
    const FrontierEntry top = frontier.top();
    frontier.pop();
    t.splitNode.push_back(top.node);
    t.splitEntry.push_back(top.entry);
    // The left child keeps the entry, the right child is appended.
    enter(t.leftOf(top.node), top.entry);
    enter(t.rightOf(top.node), step + 1);
  }
}

}  // namespace

std::size_t SplitTree::memoryBytes() const {
  return bytesOf(colour) + bytesOf(left) + bytesOf(right) + bytesOf(cost) + bytesOf(first) +
         bytesOf(last) + bytesOf(pixelsBefore) + bytesOf(leafAt) + bytesOf(splitNode) +
         bytesOf(splitEntry) + bytesOf(leafEntry);
}

SplitTree layOutTree(MergeTree&& tree, const LayoutProgress& progress) {
  SplitTree t;
  const std::uint32_t n = tree.leafCount;
  const std::uint32_t nodes = tree.nodeCount();
  t.leafCount = n;
  t.leafAt.resize(n);
  t.pixelsBefore.resize(static_cast<std::size_t>(n) + 1);
  t.first.resize(nodes);
  t.last.resize(nodes - n);
  // Colours below each merge, children before parents (merge order), kept in
  // `last` until the ranks are known.
  auto below = [&](std::uint32_t node) { return node < n ? 1u : t.last[node - n]; };
  for (std::uint32_t m = 0; m + n < nodes; ++m) {
    t.last[m] = below(tree.left[m]) + below(tree.right[m]);
  }
  if (progress) progress(0.1);
  // Parents before children (creation order backwards): the left child
  // starts where its parent does, the right one after the left's colours.
  for (std::uint32_t node = nodes; node-- > n;) {
    const std::uint32_t m = node - n;
    const std::uint32_t l = tree.left[m], r = tree.right[m];
    t.first[l] = t.first[node];
    t.first[r] = t.first[node] + below(l);
    t.last[m] = t.first[node] + t.last[m] - 1;
  }
  if (progress) progress(0.2);
  for (std::uint32_t leaf = 0; leaf < n; ++leaf) t.leafAt[t.first[leaf]] = leaf;
  std::uint64_t total = 0;
  for (std::uint32_t rank = 0; rank < n; ++rank) {
    t.pixelsBefore[rank] = total;
    total += static_cast<std::uint64_t>(tree.pixels[t.leafAt[rank]]);
  }
  t.pixelsBefore[n] = total;
  tree.pixels = {};
  t.cost.assign(tree.cost.begin() + n, tree.cost.end());
  tree.cost = {};
  t.colour = std::move(tree.colour);
  t.left = std::move(tree.left);
  t.right = std::move(tree.right);
  if (progress) progress(kSplitOrderStart);
  orderSplits(t, progress);
  return t;
}

std::string pathLabel(const SplitTree& tree, std::uint32_t node) {
  // Down from the root, to the child whose ranks hold the node's.
  std::string label(1, 'R');
  const std::uint32_t rank = tree.first[node];
  for (std::uint32_t at = tree.root(); at != node;) {
    const std::uint32_t right = tree.rightOf(at);
    const bool toRight = rank >= tree.first[right];
    label.push_back(toRight ? '0' : '1');
    at = toRight ? right : tree.leftOf(at);
  }
  return label;
}

std::vector<std::uint32_t> entryNodes(const SplitTree& tree, std::uint32_t k) {
  std::vector<std::uint32_t> nodes;
  nodes.reserve(k);
  nodes.push_back(tree.root());
  for (std::uint32_t step = 0; step + 1 < k; ++step) {
    const std::uint32_t node = tree.splitNode[step];
    nodes[tree.splitEntry[step]] = tree.leftOf(node);
    nodes.push_back(tree.rightOf(node));
  }
  return nodes;
}

void leavesToRanks(const SplitTree& tree, std::vector<std::uint32_t>& ids) {
  const std::uint32_t* rank = tree.first.data();
  for (std::uint32_t& id : ids) id = rank[id];
}

}  // namespace tavrel
