// The partner search: a k-d tree over the CIELAB points of the live
// clusters that finds a cluster's cheapest older partner without looking at
// most of them, and never leaves out one that could win or tie (the pruning
// argument is in docs/engine.md and at PartnerIndex::search).
#pragma once

#include <bit>
#include <cstdint>
#include <limits>
#include <vector>

#include "color/colour_difference.h"
#include "progression/build_pacer.h"
#include "progression/partner_row.h"

namespace tavrel::engine {

using Float4 = float __attribute__((vector_size(16)));
using Int4 = std::int32_t __attribute__((vector_size(16)));
constexpr float kFloatInfinity = std::numeric_limits<float>::infinity();

// What the index and the rows read of every cluster, by cluster id: one
// record each, since a search or a bucket write reads all four at once.
struct Cluster {
  double L, A, B;  // CIELAB point
  double pixels;   // pixel total, exact in a double
};
struct Clusters {
  std::vector<Cluster> at;

  // The same point again for another cluster of the same colour.
  void pushCopy(std::uint32_t of, std::int64_t count) {
    const Cluster same = at[of];
    at.push_back(Cluster{same.L, same.A, same.B, static_cast<double>(count)});
  }

  void push(const LabColor& lab, std::int64_t count) {
    at.push_back(Cluster{lab.L, lab.a, lab.b, static_cast<double>(count)});
  }
};

// A k-d tree over the CIELAB points of the live clusters, laid out flat: a
// complete binary tree in heap order (children of node i at 2i+1 and 2i+2)
// whose leaves are buckets of equal capacity in one array, each slot holding
// its cluster's point, pixel total and id together. The split planes are
// fixed when the tree is built, and every cluster sits in the bucket whose
// cell holds its point. Every node keeps aggregates of the live clusters
// below it (bounding box, least pixel total, oldest id), so that a search for
// the cheapest partner can discard whole boxes. The tree is rebuilt from the
// live clusters when a merged cluster finds its bucket full, and each time
// their number has fallen to an eighth, which keeps the tree shallow.
class PartnerIndex {
  // A point and its cluster, as the split reorders them.
  struct Point {
    double c[3];
    std::uint32_t id;
  };

 public:
  explicit PartnerIndex(const Clusters& clusters, std::size_t capacity)
      : c_(clusters), slotOf_(capacity, kNone) {}

  // Fixes the split planes from the points of ids. The buckets receive the
  // clusters too, unless `empty`: then they are filled later, one insert at a
  // time.
  void rebuild(const std::vector<std::uint32_t>& ids, bool empty, BuildPacer& pacer);

  // Adds a cluster to the bucket its point falls in; false when that bucket
  // is full.
  bool insert(std::uint32_t id);

  // Adds the clusters first … last−1, in that order, and refreshes every
  // node once: the same buckets, slot order and aggregates as inserting them
  // one at a time, without walking up the tree for each. The buckets must
  // have room (the planes were fixed for all of them).
  void insertRange(std::uint32_t first, std::uint32_t last, BuildPacer& pacer);

  void remove(std::uint32_t id) { refreshUpwards(take(id)); }

  // One merge: a and b leave, m comes in, and every bucket that changed is
  // refreshed once (a, b and m mostly share a bucket). Refreshing one changed
  // bucket's path may read a sibling that is not refreshed yet; that
  // sibling's own path then passes the common ancestor again, so every node
  // ends up computed from fresh children. False, with a and b gone and m not
  // in, when m's bucket is full.
  bool replace(std::uint32_t a, std::uint32_t b, std::uint32_t m);

  // The live clusters, for a rebuild.
  void collect(std::vector<std::uint32_t>* ids, BuildPacer& pacer) const;

  // Offers the row of cluster x every live cluster of this index older than x
  // that could be its cheapest partner.
  void search(std::uint32_t x, Row* row) const;

 private:
  // 32 bytes: boxes in single precision rounded outwards, so that a box that
  // is a little larger only makes its bound a little lower, never wrong.
  // The fourth lanes carry the inverse of the least pixel total (rounded up)
  // and the oldest id (kNone when the box is empty), so that one node is two
  // vectors.
  struct Node {
    Float4 lo{kFloatInfinity, kFloatInfinity, kFloatInfinity, kFloatInfinity};
    Float4 hi{-kFloatInfinity, -kFloatInfinity, -kFloatInfinity, std::bit_cast<float>(kNone)};
    float inverseMinPixels() const { return lo[3]; }
    std::uint32_t minId() const { return std::bit_cast<std::uint32_t>(hi[3]); }
  };
  // Siblings share a cache line.
  struct alignas(64) NodePair {
    Node node[2];
  };
  Node& node(std::uint32_t n) { return pairs_[(n + 1) >> 1].node[(n + 1) & 1]; }
  const Node& node(std::uint32_t n) const { return pairs_[(n + 1) >> 1].node[(n + 1) & 1]; }

  double coordinate(std::uint32_t id, int dim) const {
    const Cluster& c = c_.at[id];
    return dim == 0 ? c.L : (dim == 1 ? c.A : c.B);
  }

  // Where a point belongs by the split planes; a point on a plane belongs to
  // the right-hand cell.
  std::uint32_t bucketOf(std::uint32_t id) const;

  void write(std::uint32_t s, std::uint32_t id) {
    const Cluster& c = c_.at[id];
    slot_[s] = Slot{c.L, c.A, c.B, c.pixels, id};
    slotOf_[id] = s;
  }

  // Fixes the planes below node n from points[begin, end): the median of the
  // widest coordinate, down to the leaves of the complete tree; counts what
  // each bucket will hold.
  void split(std::vector<Point>& points, std::size_t begin, std::size_t end, std::uint32_t n,
             std::vector<std::uint32_t>& bucketSize, BuildPacer& pacer);

  // Recomputes a node's aggregates; returns false when nothing changed, in
  // which case its ancestors need no update either.
  bool refresh(std::uint32_t n);

  // Takes a cluster out of its bucket without refreshing any node; returns
  // the bucket.
  std::uint32_t take(std::uint32_t id);

  // Every node from the buckets up.
  void refreshAll(BuildPacer& pacer) {
    for (std::uint32_t n = 2 * firstLeaf_ + 1; n-- > 0;) {
      refresh(n);
      if (n % 16 == 0) pacer.tick();
    }
  }

  void refreshUpwards(std::uint32_t bucket) {
    std::uint32_t n = firstLeaf_ + bucket;
    while (refresh(n) && n > 0) n = (n - 1) / 2;
  }

  const Clusters& c_;
  std::uint32_t depth_ = 0;
  std::uint32_t firstLeaf_ = 0;
  std::uint32_t capacity_ = 0;  // slots per bucket
  std::vector<NodePair> pairs_;
  std::vector<std::uint8_t> splitDim_;
  std::vector<double> splitValue_;
  // Slots, bucket after bucket; a bucket's live clusters fill its first slots.
  // A bucket is scanned from its first slot on, so each slot holds all a
  // search reads of its cluster, next to each other.
  struct Slot {
    double L = 0.0, a = 0.0, b = 0.0, pixels = 0.0;
    std::uint32_t id = kNone;
  };
  std::vector<Slot> slot_;
  std::vector<std::uint32_t> fill_;
  std::vector<std::uint32_t> slotOf_;
};

// One merge as an index sees it: a and b leave, m comes in. The index is
// rebuilt from the live clusters when m's bucket is full, and each time their
// number has fallen to an eighth.
class LiveIndex {
 public:
  LiveIndex(PartnerIndex index, std::size_t liveCount)
      : index_(std::move(index)), builtFor_(liveCount) {}

  PartnerIndex& index() { return index_; }

  // liveCount: the live clusters after the merge.
  void merge(std::uint32_t a, std::uint32_t b, std::uint32_t m, std::size_t liveCount,
             BuildPacer& pacer);

 private:
  PartnerIndex index_;
  std::size_t builtFor_;
  std::vector<std::uint32_t> live_;
};

}  // namespace tavrel::engine
