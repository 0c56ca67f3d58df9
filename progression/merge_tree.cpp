#include "progression/merge_tree.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <queue>

#include "color/colour_difference.h"

namespace tavrel {
namespace {

constexpr int kWhitePointD65 = 4;
constexpr std::size_t kBucketSize = 8;
constexpr double kInfinity = std::numeric_limits<double>::infinity();
constexpr std::uint32_t kNoCluster = std::numeric_limits<std::uint32_t>::max();

// Lower bounds from box geometry are themselves rounded; shrinking them by far
// more than their rounding error means a pair that could tie the best one is
// never pruned, so the tie rule sees every candidate.
constexpr double kBoundSlackSquared = (1.0 - 1e-9) * (1.0 - 1e-9);

using Point = std::array<double, 3>;

Point toPoint(const LabColor& lab) {
  return Point{lab.L, lab.a, lab.b};
}

// A k-d tree over the CIELAB points of the live clusters. The split planes are
// fixed once from the colours of the image; merged clusters are routed into
// the bucket their point falls in. Every node keeps aggregates of its live
// clusters (bounding box, least pixel total, oldest id) so that a search for
// the cheapest partner can discard whole boxes.
class ClusterIndex {
 public:
  ClusterIndex(const std::vector<Point>& points, const std::vector<LabColor>& lab,
               const std::vector<std::int64_t>& pixels, std::size_t leafCount, std::size_t capacity)
      : points_(points), lab_(lab), pixels_(pixels), bucketOf_(capacity, -1) {
    std::vector<std::uint32_t> ids(leafCount);
    for (std::size_t i = 0; i < leafCount; ++i) ids[i] = static_cast<std::uint32_t>(i);
    const std::size_t nodeEstimate = 4 * (leafCount / kBucketSize + 1);
    nodes_.reserve(nodeEstimate);
    parent_.reserve(nodeEstimate);
    splitDim_.reserve(nodeEstimate);
    splitValue_.reserve(nodeEstimate);
    members_.reserve(nodeEstimate);
    cellLo_.reserve(nodeEstimate);
    cellHi_.reserve(nodeEstimate);
    const Point everywhereLo{-kInfinity, -kInfinity, -kInfinity};
    const Point everywhereHi{kInfinity, kInfinity, kInfinity};
    build(ids, 0, ids.size(), addNode(-1, everywhereLo, everywhereHi));
  }

  void insert(std::uint32_t id) {
    const std::int32_t n = bucketFor(points_[id]);
    members_[n].push_back(Member{lab_[id], pixels_[id], id});
    bucketOf_[id] = n;
    refreshUpwards(n);
  }

  void remove(std::uint32_t id) {
    std::int32_t n = bucketOf_[id];
    std::vector<Member>& members = members_[n];
    for (std::size_t i = 0; i < members.size(); ++i) {
      if (members[i].id == id) {
        members[i] = members.back();
        members.pop_back();
        break;
      }
    }
    bucketOf_[id] = -1;
    refreshUpwards(n);
  }

  // The cheapest partner of cluster x among the live clusters older than x;
  // among equal costs the newest of them. Returns false when x has none.
  bool bestOlderPartner(std::uint32_t x, double* bestCost, std::uint32_t* bestId) const {
    const Point& p = points_[x];
    const LabColor& lab = lab_[x];
    const std::int64_t nx = pixels_[x];
    double best = kInfinity;
    std::uint32_t bestY = 0;
    bool found = false;

    // Boxes are compared by the square of their lower bound, which spares a
    // square root per box; the merge itself is decided on exact costs only.
    double bestSquared = kInfinity;
    auto bound = [&](std::int32_t n) {
      const Node& node = nodes_[n];
      if (node.minId >= x) return kInfinity;  // empty, or only newer clusters
      const double weight = static_cast<double>(node.minPixels) * static_cast<double>(nx) /
                            (static_cast<double>(node.minPixels) + static_cast<double>(nx));
      return weight * weight * boxDistanceSquared(p, node) * kBoundSlackSquared;
    };

    // The bucket the point falls in usually holds a cheap partner; starting
    // from it lets the search below discard most boxes at once.
    auto consider = [&](std::int32_t bucket) {
      for (const Member& y : members_[bucket]) {
        if (y.id >= x) continue;
        const double cost = mergeCost(nx, y.pixels, labDistance(lab, y.lab));
        // Ties go to the newer partner.
        if (cost < best || (cost == best && y.id > bestY)) {
          best = cost;
          bestSquared = cost * cost;
          bestY = y.id;
          found = true;
        }
      }
    };
    // Search a subtree depth first, the nearer child first, skipping boxes
    // whose bound already exceeds the best cost found.
    std::vector<std::pair<std::int32_t, double>>& stack = stack_;
    auto searchBelow = [&](std::int32_t top) {
      const double topBound = bound(top);
      if (topBound == kInfinity || topBound > bestSquared) return;
      stack.clear();
      stack.emplace_back(top, topBound);
      while (!stack.empty()) {
        auto [n, lowerBound] = stack.back();
        stack.pop_back();
        if (lowerBound > bestSquared) continue;
        const Node& node = nodes_[n];
        if (node.child[0] < 0) {
          consider(n);
          continue;
        }
        const std::int32_t a = node.child[0];
        const std::int32_t b = node.child[1];
        const double boundA = bound(a);
        const double boundB = bound(b);
        auto worthSearching = [&](double lowerBound) {
          return lowerBound != kInfinity && lowerBound <= bestSquared;
        };
        if (boundA <= boundB) {
          if (worthSearching(boundB)) stack.emplace_back(b, boundB);
          if (worthSearching(boundA)) stack.emplace_back(a, boundA);
        } else {
          if (worthSearching(boundA)) stack.emplace_back(a, boundA);
          if (worthSearching(boundB)) stack.emplace_back(b, boundB);
        }
      }
    };

    // Start in the bucket the point falls in, then widen the search one
    // ancestor at a time. Every cluster outside a node's cell is at least as
    // far from the point as the cell's nearest wall, so once even the
    // lightest cluster of all could not be cheaper from there, the search
    // is complete.
    if (nodes_[0].minId >= x) return false;  // no older cluster at all
    const double lightest = static_cast<double>(nodes_[0].minPixels);
    const double outsideWeight =
        lightest * static_cast<double>(nx) / (lightest + static_cast<double>(nx));
    std::int32_t n = bucketFor(p);
    consider(n);
    while (parent_[n] >= 0) {
      const double wall = distanceToCellWall(p, n);
      if (outsideWeight * outsideWeight * wall * wall * kBoundSlackSquared > bestSquared) break;
      const std::int32_t parent = parent_[n];
      const Node& up = nodes_[parent];
      searchBelow(up.child[0] == n ? up.child[1] : up.child[0]);
      n = parent;
    }
    if (found) {
      *bestCost = best;
      *bestId = bestY;
    }
    return found;
  }

 private:
  // A bucket keeps what a search reads of its clusters next to each other.
  struct Member {
    LabColor lab;
    std::int64_t pixels;
    std::uint32_t id;
  };

  // Boxes are held in single precision, rounded outwards, so that a node
  // takes 40 bytes and a search touches half the memory; a box that is a
  // little larger only makes its bound a little lower, never wrong.
  using Box = std::array<float, 3>;
  struct Node {
    Box lo{};
    Box hi{};
    std::uint32_t minPixels = 0;       // saturated, a lower bound all the same
    std::uint32_t minId = kNoCluster;  // kNoCluster when the box is empty
    std::int32_t child[2] = {-1, -1};  // children are adjacent: child[1] == child[0] + 1
  };

  static float below(double v) {
    float f = static_cast<float>(v);
    return static_cast<double>(f) > v ? std::nextafter(f, -std::numeric_limits<float>::infinity())
                                      : f;
  }
  static float above(double v) {
    float f = static_cast<float>(v);
    return static_cast<double>(f) < v ? std::nextafter(f, std::numeric_limits<float>::infinity())
                                      : f;
  }

  // How far a point inside a node's cell is from the nearest wall of that
  // cell: everything outside the cell is at least this far away.
  double distanceToCellWall(const Point& p, std::int32_t n) const {
    double wall = kInfinity;
    for (int d = 0; d < 3; ++d) {
      wall = std::min(wall, std::min(p[d] - cellLo_[n][d], cellHi_[n][d] - p[d]));
    }
    return std::max(wall, 0.0);
  }

  // Where a point belongs by the fixed split planes.
  std::int32_t bucketFor(const Point& p) const {
    std::int32_t n = 0;
    while (nodes_[n].child[0] >= 0) {
      n = p[splitDim_[n]] < splitValue_[n] ? nodes_[n].child[0] : nodes_[n].child[1];
    }
    return n;
  }

  static double boxDistanceSquared(const Point& p, const Node& node) {
    // At most one of the two differences is positive in each dimension.
    double sum = 0.0;
    for (int d = 0; d < 3; ++d) {
      const double gap = std::max(
          std::max(static_cast<double>(node.lo[d]) - p[d], p[d] - static_cast<double>(node.hi[d])),
          0.0);
      sum += gap * gap;
    }
    return sum;
  }

  // Fixes the split planes from the leaf points; the buckets start empty.
  std::int32_t addNode(std::int32_t parent, const Point& cellLo, const Point& cellHi) {
    const std::int32_t n = static_cast<std::int32_t>(nodes_.size());
    nodes_.emplace_back();
    parent_.push_back(parent);
    splitDim_.push_back(0);
    splitValue_.push_back(0.0);
    members_.emplace_back();
    cellLo_.push_back(cellLo);
    cellHi_.push_back(cellHi);
    return n;
  }

  // Fixes the split planes of node n from the points ids[begin, end); the
  // buckets start empty. Both children of a node are made together, so that
  // a search reads their boxes from neighbouring memory.
  void build(std::vector<std::uint32_t>& ids, std::size_t begin, std::size_t end, std::int32_t n) {
    if (end - begin <= kBucketSize) return;

    Point lo = points_[ids[begin]];
    Point hi = lo;
    for (std::size_t i = begin; i < end; ++i) {
      for (int d = 0; d < 3; ++d) {
        lo[d] = std::min(lo[d], points_[ids[i]][d]);
        hi[d] = std::max(hi[d], points_[ids[i]][d]);
      }
    }
    int dim = 0;
    for (int d = 1; d < 3; ++d) {
      if (hi[d] - lo[d] > hi[dim] - lo[dim]) dim = d;
    }
    if (hi[dim] == lo[dim]) return;  // all points equal: one bucket

    const std::size_t mid = begin + (end - begin) / 2;
    std::nth_element(
        ids.begin() + begin, ids.begin() + mid, ids.begin() + end,
        [&](std::uint32_t a, std::uint32_t b) { return points_[a][dim] < points_[b][dim]; });
    const double split = points_[ids[mid]][dim];
    // A point on the plane belongs to the right-hand cell.
    Point leftHi = cellHi_[n];
    leftHi[dim] = split;
    Point rightLo = cellLo_[n];
    rightLo[dim] = split;
    const Point cellLo = cellLo_[n];
    const Point cellHi = cellHi_[n];
    const std::int32_t left = addNode(n, cellLo, leftHi);
    const std::int32_t right = addNode(n, rightLo, cellHi);
    splitDim_[n] = dim;
    splitValue_[n] = split;
    nodes_[n].child[0] = left;
    nodes_[n].child[1] = right;
    build(ids, begin, mid, left);
    build(ids, mid, end, right);
  }

  // Recomputes a node's aggregates; returns false when nothing changed, in
  // which case its ancestors need no update either.
  bool refresh(std::int32_t n) {
    Node& node = nodes_[n];
    constexpr float kFloatInfinity = std::numeric_limits<float>::infinity();
    Box lo{kFloatInfinity, kFloatInfinity, kFloatInfinity};
    Box hi{-kFloatInfinity, -kFloatInfinity, -kFloatInfinity};
    std::uint32_t minPixels = std::numeric_limits<std::uint32_t>::max();
    std::uint32_t minId = kNoCluster;
    if (node.child[0] < 0) {
      for (const Member& member : members_[n]) {
        const Point& p = points_[member.id];
        for (int d = 0; d < 3; ++d) {
          lo[d] = std::min(lo[d], below(p[d]));
          hi[d] = std::max(hi[d], above(p[d]));
        }
        minPixels = static_cast<std::uint32_t>(std::min<std::int64_t>(minPixels, member.pixels));
        minId = std::min(minId, member.id);
      }
    } else {
      for (std::int32_t c : node.child) {
        const Node& child = nodes_[c];
        if (child.minId == kNoCluster) continue;
        for (int d = 0; d < 3; ++d) {
          lo[d] = std::min(lo[d], child.lo[d]);
          hi[d] = std::max(hi[d], child.hi[d]);
        }
        minPixels = std::min(minPixels, child.minPixels);
        minId = std::min(minId, child.minId);
      }
    }
    // No live count is kept: it would change on every update and force the
    // refresh all the way up.
    if (lo == node.lo && hi == node.hi && minPixels == node.minPixels && minId == node.minId) {
      return false;
    }
    node.lo = lo;
    node.hi = hi;
    node.minPixels = minPixels;
    node.minId = minId;
    return true;
  }

  void refreshUpwards(std::int32_t n) {
    while (n >= 0 && refresh(n)) n = parent_[n];
  }

  const std::vector<Point>& points_;
  const std::vector<LabColor>& lab_;
  const std::vector<std::int64_t>& pixels_;
  // Node aggregates are read by every search; the rest is kept apart.
  std::vector<Node> nodes_;
  std::vector<std::int32_t> parent_;
  std::vector<int> splitDim_;
  std::vector<double> splitValue_;
  std::vector<std::vector<Member>> members_;  // buckets only
  std::vector<Point> cellLo_;                 // the cell of each node by the split planes
  std::vector<Point> cellHi_;
  std::vector<std::int32_t> bucketOf_;
  mutable std::vector<std::pair<std::int32_t, double>> stack_;
};

// A row of the merge queue: cluster x with its cheapest older partner y.
struct Candidate {
  double cost;
  std::uint32_t x;  // the newer cluster of the pair
  std::uint32_t y;  // the older one
};

// Orders the queue so that its top is the pair to merge next: least cost,
// then the newer first cluster, then the newer second cluster. This is the
// order in which a scan over a newest-first list with a strictly-less test
// would meet the pairs.
struct LaterInMergeOrder {
  bool operator()(const Candidate& a, const Candidate& b) const {
    if (a.cost != b.cost) return a.cost > b.cost;
    if (a.x != b.x) return a.x < b.x;
    return a.y < b.y;
  }
};

}  // namespace

PackedColor meanColour(std::uint64_t pixels, std::uint64_t sumRed, std::uint64_t sumGreen,
                       std::uint64_t sumBlue) {
  const PackedColor red = static_cast<PackedColor>(sumRed / pixels) & 0xFF;
  const PackedColor green = static_cast<PackedColor>(sumGreen / pixels) & 0xFF;
  const PackedColor blue = static_cast<PackedColor>(sumBlue / pixels) & 0xFF;
  return red | green << 8 | blue << 16;
}

MergeTree buildMergeTree(const std::vector<PackedColor>& colours,
                         const std::vector<std::int64_t>& counts) {
  MergeTree tree;
  const std::size_t n = colours.size();
  tree.leafCount = static_cast<std::uint32_t>(n);
  const std::size_t capacity = n == 0 ? 0 : 2 * n - 1;
  tree.colour.reserve(capacity);
  tree.pixels.reserve(capacity);
  tree.cost.reserve(capacity);
  tree.left.reserve(n);
  tree.right.reserve(n);

  std::vector<LabColor> lab;
  std::vector<Point> points;
  std::vector<std::array<std::uint64_t, 3>> sums;
  lab.reserve(capacity);
  points.reserve(capacity);
  sums.reserve(capacity);
  for (std::size_t i = 0; i < n; ++i) {
    const PackedColor c = colours[i];
    const int r = c & 0xFF, g = (c >> 8) & 0xFF, b = (c >> 16) & 0xFF;
    const std::uint64_t count = static_cast<std::uint64_t>(counts[i]);
    tree.colour.push_back(c);
    tree.pixels.push_back(counts[i]);
    tree.cost.push_back(-1.0);
    sums.push_back({count * r, count * g, count * b});
    lab.push_back(colourToLab(kWhitePointD65, r, g, b));
    points.push_back(toPoint(lab.back()));
  }
  if (n < 2) return tree;

  ClusterIndex index(points, lab, tree.pixels, n, capacity);
  std::priority_queue<Candidate, std::vector<Candidate>, LaterInMergeOrder> queue;
  auto pushRow = [&](std::uint32_t x) {
    double cost;
    std::uint32_t y;
    if (index.bestOlderPartner(x, &cost, &y)) queue.push(Candidate{cost, x, y});
  };

  // Each colour's row looks only at older colours, so filling the index in
  // order of age gives every row exactly its candidates.
  for (std::uint32_t x = 0; x < n; ++x) {
    pushRow(x);
    index.insert(x);
  }

  // A row's partners only ever disappear (a merged cluster is newer than every
  // row), so a stored best stays a lower bound and a stale row is recomputed
  // only when it reaches the top.
  std::vector<char> alive(capacity, 0);
  std::fill(alive.begin(), alive.begin() + n, 1);
  std::size_t live = n;
  while (live > 1) {
    const Candidate top = queue.top();
    queue.pop();
    if (!alive[top.x]) continue;
    if (!alive[top.y]) {
      pushRow(top.x);
      continue;
    }
    const std::uint32_t a = top.x;
    const std::uint32_t b = top.y;
    const std::uint32_t m = static_cast<std::uint32_t>(tree.colour.size());
    const std::int64_t pixels = tree.pixels[a] + tree.pixels[b];
    const std::array<std::uint64_t, 3> sum{sums[a][0] + sums[b][0], sums[a][1] + sums[b][1],
                                           sums[a][2] + sums[b][2]};
    const PackedColor colour =
        meanColour(static_cast<std::uint64_t>(pixels), sum[0], sum[1], sum[2]);
    tree.colour.push_back(colour);
    tree.pixels.push_back(pixels);
    tree.cost.push_back(top.cost);
    tree.left.push_back(a);
    tree.right.push_back(b);
    sums.push_back(sum);
    lab.push_back(
        colourToLab(kWhitePointD65, colour & 0xFF, (colour >> 8) & 0xFF, (colour >> 16) & 0xFF));
    points.push_back(toPoint(lab.back()));

    alive[a] = 0;
    alive[b] = 0;
    index.remove(a);
    index.remove(b);
    alive[m] = 1;
    pushRow(m);
    index.insert(m);
    --live;
  }
  return tree;
}

}  // namespace tavrel
