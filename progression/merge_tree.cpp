// The cluster tree, merge for merge as the literal pairwise scan would build
// it, without scanning every pair. In short (docs/engine.md has the whole
// argument):
// - Each live cluster has a row: its cheapest live partner among the older
//   clusters. New clusters are newer than every row's owner, so a row's
//   candidates only disappear and its stored cost stays a lower bound; a row
//   whose partner is alive is exact. The queue takes the least row by (cost,
//   newer cluster first), which is the pair the literal scan would meet first.
// - A k-d tree prunes a box only when its lower bound, shrunk by a slack far
//   larger than every rounding in it, exceeds the best cost found, so every
//   candidate that could win or tie is evaluated with the exact expression.
// - With a second core, a helper searches stale rows ahead on its own, lagging
//   copy of the index; a result is used only while its partner is alive,
//   which makes it exact (the candidates since are a subset of its own).
#include "progression/merge_tree.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <bit>
#include <chrono>
#include <cmath>
#include <limits>
#include <optional>
#include <system_error>
#include <thread>

#ifdef __linux__
#include <sched.h>
#endif
#ifdef __GLIBC__
#include <malloc.h>
#endif

#include "color/colour_difference.h"
#include "progression/build_pacer.h"

namespace tavrel {
namespace {

constexpr int kWhitePointD65 = 4;
constexpr double kInfinity = std::numeric_limits<double>::infinity();
constexpr float kFloatInfinity = std::numeric_limits<float>::infinity();
constexpr std::uint32_t kNone = std::numeric_limits<std::uint32_t>::max();

// Below this many colours a second thread for the first rows does not pay.
constexpr std::uint32_t kThreadedRowsFrom = 20000;

// Above this many colours the stale-row helper is not started: its copy of
// the index and its tables cost about 100 bytes a colour, and on a million
// colours scattered at random it saved only 5 % of the time.
constexpr std::uint32_t kHelperUpTo = 500000;

// How many reports the stale-row helper may fall behind the merge loop
// before it gives up and the loop goes on alone.
constexpr std::size_t kHelperLag = 1u << 16;

// The index gets the fewest buckets (a power of two) that hold all clusters
// with at most this many to a bucket on average. On the photos 16 measured 3
// to 8 % faster than 8 (about a sixth fewer boxes tested per search, and a
// bucket is one stretch of memory to scan); on a million colours scattered
// at random the two are alike.
constexpr std::uint32_t kBucketSize = 16;

// Lower bounds from box geometry are themselves rounded; shrinking them by far
// more than their rounding error means a pair that could tie the best one is
// never pruned, so the tie rule sees every candidate. Box distances are
// measured in single precision, four lanes at a time, from the point rounded
// outwards; their relative rounding error stays below 1e-6, far inside this
// slack on the squared bound.
constexpr float kBoxSlack = 1.0f - 1e-5f;
using Float4 = float __attribute__((vector_size(16)));
using Int4 = std::int32_t __attribute__((vector_size(16)));
constexpr Int4 kFirstThree{-1, -1, -1, 0};

// The next float toward minus or plus infinity, for finite values: a step of
// one unit in the last place, which std::nextafter does as a library call.
float stepDown(float f) {
  if (f == 0.0f) return -std::numeric_limits<float>::denorm_min();
  const std::uint32_t bits = std::bit_cast<std::uint32_t>(f);
  return std::bit_cast<float>(f > 0.0f ? bits - 1 : bits + 1);
}
float stepUp(float f) {
  return -stepDown(-f);
}

// v rounded to a float that is not above (below) or not below (above) it.
float below(double v) {
  const float f = static_cast<float>(v);
  return static_cast<double>(f) > v ? stepDown(f) : f;
}
float above(double v) {
  const float f = static_cast<float>(v);
  return static_cast<double>(f) < v ? stepUp(f) : f;
}

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

// The cheapest older partner of one cluster; among equal costs the newer
// partner. Keeping more partners per row would repair a row without a search
// when its best one is merged away, but every search must then find more;
// on photos one partner measured cheapest overall.
struct Row {
  double cost = kInfinity;
  std::uint32_t partner = kNone;

  bool empty() const { return partner == kNone; }
  void offer(double c, std::uint32_t y) {
    if (c < cost || (c == cost && y > partner)) {
      cost = c;
      partner = y;
    }
  }
  // The cost a candidate must not exceed to enter the row.
  double limit() const { return cost; }
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
class ClusterIndex {
  // A point and its cluster, as the split reorders them.
  struct Point {
    double c[3];
    std::uint32_t id;
  };

 public:
  explicit ClusterIndex(const Clusters& clusters, std::size_t capacity)
      : c_(clusters), slotOf_(capacity, kNone) {}

  // Fixes the split planes from the points of ids. The buckets receive the
  // clusters too, unless `empty`: then they are filled later, one insert at a
  // time.
  void rebuild(const std::vector<std::uint32_t>& ids, bool empty, BuildPacer& pacer) {
    depth_ = 0;
    while ((static_cast<std::size_t>(kBucketSize) << depth_) < ids.size()) ++depth_;
    const std::uint32_t leaves = 1u << depth_;
    firstLeaf_ = leaves - 1;
    pairs_.assign(leaves + 1, NodePair{});
    splitDim_.assign(firstLeaf_, 0);
    splitValue_.assign(firstLeaf_, 0.0);
    std::vector<std::uint32_t> bucketSize(leaves, 0);
    // The split works on copies of the points, which it reorders in place,
    // instead of reaching through the ids for every comparison.
    std::vector<Point> points(ids.size());
    for (std::size_t i = 0; i < ids.size(); ++i) {
      const std::uint32_t id = ids[i];
      const Cluster& c = c_.at[id];
      points[i] = Point{{c.L, c.A, c.B}, id};
      if (i % 256 == 255) pacer.tick();
    }
    split(points, 0, ids.size(), 0, bucketSize, pacer);
    std::uint32_t most = 0;
    for (std::uint32_t size : bucketSize) most = std::max(most, size);
    // Room for merged clusters to come in. A merged cluster mostly lands in
    // the bucket its two parts leave, so buckets seldom grow much.
    capacity_ = std::max<std::uint32_t>(kBucketSize, most + (most + 1) / 2);
    const std::size_t slots = static_cast<std::size_t>(leaves) * capacity_;
    slot_.assign(slots, Slot{});
    fill_.assign(leaves, 0);
    if (empty) return;
    // The split left every bucket's clusters together, bucket after bucket.
    std::size_t i = 0;
    for (std::uint32_t bucket = 0; bucket < leaves; ++bucket) {
      for (std::uint32_t k = 0; k < bucketSize[bucket]; ++k) {
        write(bucket * capacity_ + fill_[bucket]++, points[i++].id);
      }
      pacer.tick();
    }
    refreshAll(pacer);
  }

  // Adds a cluster to the bucket its point falls in; false when that bucket
  // is full.
  bool insert(std::uint32_t id) {
    const std::uint32_t bucket = bucketOf(id);
    if (fill_[bucket] == capacity_) return false;
    write(bucket * capacity_ + fill_[bucket]++, id);
    refreshUpwards(bucket);
    return true;
  }

  // Adds the clusters first … last−1, in that order, and refreshes every
  // node once: the same buckets, slot order and aggregates as inserting them
  // one at a time, without walking up the tree for each. The buckets must
  // have room (the planes were fixed for all of them).
  void insertRange(std::uint32_t first, std::uint32_t last, BuildPacer& pacer) {
    if (first == last) return;
    for (std::uint32_t id = first; id < last; ++id) {
      const std::uint32_t bucket = bucketOf(id);
      write(bucket * capacity_ + fill_[bucket]++, id);
      if (id % 64 == 63) pacer.tick();
    }
    refreshAll(pacer);
  }

  void remove(std::uint32_t id) { refreshUpwards(take(id)); }

  // One merge: a and b leave, m comes in, and every bucket that changed is
  // refreshed once (a, b and m mostly share a bucket). Refreshing one changed
  // bucket's path may read a sibling that is not refreshed yet; that
  // sibling's own path then passes the common ancestor again, so every node
  // ends up computed from fresh children. False, with a and b gone and m not
  // in, when m's bucket is full.
  bool replace(std::uint32_t a, std::uint32_t b, std::uint32_t m) {
    const std::uint32_t bucketA = take(a);
    const std::uint32_t bucketB = take(b);
    const std::uint32_t bucketM = bucketOf(m);
    const bool fits = fill_[bucketM] < capacity_;
    if (fits) write(bucketM * capacity_ + fill_[bucketM]++, m);
    refreshUpwards(bucketA);
    if (bucketB != bucketA) refreshUpwards(bucketB);
    if (fits && bucketM != bucketA && bucketM != bucketB) refreshUpwards(bucketM);
    return fits;
  }

  // The live clusters, for a rebuild.
  void collect(std::vector<std::uint32_t>* ids, BuildPacer& pacer) const {
    ids->clear();
    for (std::uint32_t bucket = 0; bucket < fill_.size(); ++bucket) {
      for (std::uint32_t s = bucket * capacity_; s < bucket * capacity_ + fill_[bucket]; ++s) {
        ids->push_back(slot_[s].id);
      }
      pacer.tick();
    }
  }

  // Offers the row of cluster x every live cluster of this index older than x
  // that could be its cheapest partner.
  void search(std::uint32_t x, Row* row) const {
    if (node(0).minId() >= x) return;  // no older cluster at all
    const Cluster& cx = c_.at[x];
    const double p[3] = {cx.L, cx.A, cx.B};
    const double nx = cx.pixels;
    const Float4 pointLo{below(p[0]), below(p[1]), below(p[2]), 0.0f};
    const Float4 pointHi{above(p[0]), above(p[1]), above(p[2]), 0.0f};
    const float invNx = above(1.0 / nx);
    double limit = row->limit();
    float limitSquared = above(limit * limit);

    auto scan = [&](std::uint32_t bucket) {
      const std::uint32_t begin = bucket * capacity_;
      const std::uint32_t end = begin + fill_[bucket];
      for (std::uint32_t s = begin; s < end; ++s) {
        const Slot& slot = slot_[s];
        const std::uint32_t y = slot.id;
        if (y >= x) continue;
        const double dL = p[0] - slot.L;
        const double da = p[1] - slot.a;
        const double db = p[2] - slot.b;
        const double distance = std::sqrt(dL * dL + da * da + db * db);
        const double ny = slot.pixels;
        const double cost = (ny * nx) / (ny + nx) * distance;
        if (cost <= limit) {
          row->offer(cost, y);
          limit = row->limit();
          limitSquared = above(limit * limit);
        }
      }
    };

    // A box is worth a visit while w · d <= limit, w = m·nx / (m + nx) the
    // least weight of its clusters and d its distance from the point; that
    // is d² <= limit² · t², t = 1/m + 1/nx. All in single precision, each
    // factor rounded the way that keeps the test from failing a box it must
    // visit; what rounding is left is far inside the slack.
    struct Pending {
      std::uint32_t node;
      float d2;  // d², shrunk by the slack
      float t2;  // t²
    };
    auto measure = [&](std::uint32_t n) {
      const Node& box = node(n);
      // Each gap is taken from the side of the rounded point that makes it
      // smaller, so rounding can only lower the bound.
      const Float4 below = box.lo - pointHi;
      const Float4 above = pointLo - box.hi;
      Float4 gap = below > above ? below : above;
      gap = gap > 0.0f ? gap : 0.0f;
      gap = std::bit_cast<Float4>(std::bit_cast<Int4>(gap) & kFirstThree);
      const Float4 square = gap * gap;
      const float t = box.inverseMinPixels() + invNx;
      return Pending{n, (square[0] + square[1] + square[2]) * kBoxSlack, t * t};
    };
    std::array<Pending, 128> stack;
    // Searches a subtree depth first, the nearer child first.
    auto within = [&](const Pending& pending) { return pending.d2 <= limitSquared * pending.t2; };
    // Searches a subtree depth first: the nearer child at once, the farther
    // one later if it is still worth it.
    auto searchBelow = [&](std::uint32_t subtree) {
      if (node(subtree).minId() >= x) return;
      Pending current = measure(subtree);
      if (!within(current)) return;
      int top = 0;
      for (;;) {
        const std::uint32_t n = current.node;
        bool descend = false;
        if (n >= firstLeaf_) {
          scan(n - firstLeaf_);
        } else {
          const std::uint32_t a = 2 * n + 1;
          const std::uint32_t b = a + 1;
          const bool useA = node(a).minId() < x;
          const bool useB = node(b).minId() < x;
          if (useA && useB) {
            const Pending pa = measure(a);
            const Pending pb = measure(b);
            const bool aFirst = pa.d2 * pb.t2 <= pb.d2 * pa.t2;
            const Pending& near = aFirst ? pa : pb;
            const Pending& far = aFirst ? pb : pa;
            if (within(near)) {
              if (within(far)) stack[top++] = far;
              current = near;
              descend = true;
            }
          } else if (useA || useB) {
            const Pending only = measure(useA ? a : b);
            if (within(only)) {
              current = only;
              descend = true;
            }
          }
        }
        if (descend) continue;
        // The next pending box that is still worth a visit.
        while (top > 0 && !within(stack[top - 1])) --top;
        if (top == 0) return;
        current = stack[--top];
      }
    };

    // Start in the bucket the point falls in, then widen the search one
    // ancestor at a time. Every cluster outside a node's cell is at least as
    // far from the point as the cell's nearest wall, so once even the
    // lightest cluster of all could not be cheaper from there, the search is
    // complete. wall[l] is that distance for the cell at depth l of the path.
    std::array<double, 40> wall;
    std::uint32_t n = 0;
    wall[0] = kInfinity;
    for (std::uint32_t level = 0; level < depth_; ++level) {
      const double offset = p[splitDim_[n]] - splitValue_[n];
      wall[level + 1] = std::min(wall[level], std::abs(offset));
      n = 2 * n + (offset < 0.0 ? 1 : 2);
    }
    if (node(n).minId() < x) {
      const Pending own = measure(n);
      if (within(own)) scan(n - firstLeaf_);
    }
    const float outsideT = node(0).inverseMinPixels() + invNx;
    const float outsideT2 = outsideT * outsideT;
    for (std::uint32_t level = depth_; level > 0; --level) {
      const float w = below(wall[level]);
      if (w * w * kBoxSlack > limitSquared * outsideT2) break;
      searchBelow(n & 1 ? n + 1 : n - 1);  // the sibling
      n = (n - 1) / 2;
    }
  }

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
  std::uint32_t bucketOf(std::uint32_t id) const {
    std::uint32_t n = 0;
    while (n < firstLeaf_) {
      n = 2 * n + (coordinate(id, splitDim_[n]) < splitValue_[n] ? 1 : 2);
    }
    return n - firstLeaf_;
  }

  void write(std::uint32_t s, std::uint32_t id) {
    const Cluster& c = c_.at[id];
    slot_[s] = Slot{c.L, c.A, c.B, c.pixels, id};
    slotOf_[id] = s;
  }

  // Fixes the planes below node n from points[begin, end): the median of the
  // widest coordinate, down to the leaves of the complete tree; counts what
  // each bucket will hold.
  void split(std::vector<Point>& points, std::size_t begin, std::size_t end, std::uint32_t n,
             std::vector<std::uint32_t>& bucketSize, BuildPacer& pacer) {
    pacer.tick(static_cast<std::int32_t>((end - begin) / 32));
    if (n >= firstLeaf_) {
      bucketSize[n - firstLeaf_] = static_cast<std::uint32_t>(end - begin);
      return;
    }
    int dim = 0;
    double value = 0.0;
    std::size_t mid = begin;
    if (end > begin) {
      double lo[3] = {kInfinity, kInfinity, kInfinity};
      double hi[3] = {-kInfinity, -kInfinity, -kInfinity};
      for (std::size_t i = begin; i < end; ++i) {
        for (int d = 0; d < 3; ++d) {
          const double v = points[i].c[d];
          lo[d] = std::min(lo[d], v);
          hi[d] = std::max(hi[d], v);
        }
      }
      for (int d = 1; d < 3; ++d) {
        if (hi[d] - lo[d] > hi[dim] - lo[dim]) dim = d;
      }
      const auto first = points.begin() + static_cast<std::ptrdiff_t>(begin);
      const auto last = points.begin() + static_cast<std::ptrdiff_t>(end);
      auto less = [dim](const Point& a, const Point& b) { return a.c[dim] < b.c[dim]; };
      std::nth_element(first, first + static_cast<std::ptrdiff_t>((end - begin) / 2), last, less);
      value = points[begin + (end - begin) / 2].c[dim];
      mid = static_cast<std::size_t>(
          std::partition(first, last, [dim, value](const Point& a) { return a.c[dim] < value; }) -
          points.begin());
    }
    splitDim_[n] = static_cast<std::uint8_t>(dim);
    splitValue_[n] = value;
    split(points, begin, mid, 2 * n + 1, bucketSize, pacer);
    split(points, mid, end, 2 * n + 2, bucketSize, pacer);
  }

  // Recomputes a node's aggregates; returns false when nothing changed, in
  // which case its ancestors need no update either.
  bool refresh(std::uint32_t n) {
    Node fresh;
    if (n >= firstLeaf_) {
      const std::uint32_t bucket = n - firstLeaf_;
      const std::uint32_t begin = bucket * capacity_;
      const std::uint32_t end = begin + fill_[bucket];
      // Bounds over the exact coordinates, rounded outwards once: rounding
      // outwards is monotone, so this is the box of the rounded points.
      double lo[3] = {kInfinity, kInfinity, kInfinity};
      double hi[3] = {-kInfinity, -kInfinity, -kInfinity};
      double minPixels = kInfinity;
      std::uint32_t minId = kNone;
      for (std::uint32_t s = begin; s < end; ++s) {
        const Slot& slot = slot_[s];
        lo[0] = std::min(lo[0], slot.L);
        hi[0] = std::max(hi[0], slot.L);
        lo[1] = std::min(lo[1], slot.a);
        hi[1] = std::max(hi[1], slot.a);
        lo[2] = std::min(lo[2], slot.b);
        hi[2] = std::max(hi[2], slot.b);
        minPixels = std::min(minPixels, slot.pixels);
        minId = std::min(minId, slot.id);
      }
      if (begin != end) {
        for (int d = 0; d < 3; ++d) {
          fresh.lo[d] = below(lo[d]);
          fresh.hi[d] = above(hi[d]);
        }
      }
      if (begin != end) fresh.lo[3] = above(1.0 / minPixels);
      fresh.hi[3] = std::bit_cast<float>(minId);
    } else {
      std::uint32_t minId = kNone;
      float inverse = 0.0f;
      for (std::uint32_t c = 2 * n + 1; c <= 2 * n + 2; ++c) {
        const Node& child = node(c);
        if (child.minId() == kNone) continue;
        for (int d = 0; d < 3; ++d) {
          fresh.lo[d] = std::min(fresh.lo[d], child.lo[d]);
          fresh.hi[d] = std::max(fresh.hi[d], child.hi[d]);
        }
        inverse = std::max(inverse, child.lo[3]);
        minId = std::min(minId, child.minId());
      }
      if (minId != kNone) fresh.lo[3] = inverse;
      fresh.hi[3] = std::bit_cast<float>(minId);
    }
    Node& old = node(n);
    const Int4 same = (std::bit_cast<Int4>(fresh.lo) == std::bit_cast<Int4>(old.lo)) &
                      (std::bit_cast<Int4>(fresh.hi) == std::bit_cast<Int4>(old.hi));
    if (same[0] && same[1] && same[2] && same[3]) return false;
    old = fresh;
    return true;
  }

  // Takes a cluster out of its bucket without refreshing any node; returns
  // the bucket.
  std::uint32_t take(std::uint32_t id) {
    const std::uint32_t s = slotOf_[id];
    slotOf_[id] = kNone;
    const std::uint32_t bucket = s / capacity_;
    const std::uint32_t last = bucket * capacity_ + --fill_[bucket];
    if (s != last) write(s, slot_[last].id);
    slot_[last].id = kNone;
    return bucket;
  }

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

// Which cluster first had a colour, so that a merged cluster whose mean colour
// was seen before copies that cluster's CIELAB point instead of converting the
// colour again (the conversion is a pure function of the colour, so the copy
// is the same bits). Open addressing, filled to at most two thirds.
class ColourLookup {
 public:
  explicit ColourLookup(std::size_t colours) { resize(colours + colours / 2); }
  // The cluster recorded for colour c, or kNone after recording `id` for it.
  std::uint32_t findOrAdd(PackedColor c, std::uint32_t id) {
    for (std::size_t i = home(c);; i = (i + 1) & mask_) {
      if (slots_[i].colour == c) return slots_[i].id;
      if (slots_[i].colour == kEmpty) {
        slots_[i] = Slot{c, id};
        // Merged clusters mostly repeat a colour seen before, so the table
        // starts at the image's colours and grows only when it must.
        if (++used_ * 3 > slots_.size() * 2) resize(slots_.size());
        return kNone;
      }
    }
  }

 private:
  static constexpr PackedColor kEmpty = 0xFFFFFFFFu;  // not a 24-bit colour
  struct Slot {
    PackedColor colour;
    std::uint32_t id;
  };
  std::size_t home(PackedColor c) const {
    return (static_cast<std::uint64_t>(c) * 0x9E3779B97F4A7C15ull >> 32) & mask_;
  }
  // Room for more than `entries` at most two thirds full.
  void resize(std::size_t entries) {
    std::size_t size = 16;
    while (size * 2 < entries * 3 + 3) size *= 2;
    std::vector<Slot> old(size, Slot{kEmpty, 0});
    old.swap(slots_);
    mask_ = size - 1;
    for (const Slot& slot : old) {
      if (slot.colour == kEmpty) continue;
      std::size_t i = home(slot.colour);
      while (slots_[i].colour != kEmpty) i = (i + 1) & mask_;
      slots_[i] = slot;
    }
  }

  std::vector<Slot> slots_;
  std::size_t mask_ = 0;
  std::size_t used_ = 0;
};

// The merge queue: one entry per live cluster whose row is not empty, holding
// the row and keyed by its cost. Its top is the pair to merge next: least cost, then
// the newer first cluster. Within a row the newer second cluster is already
// first, so this is the order in which a scan over a newest-first list with a
// strictly-less test would meet the pairs.
class MergeQueue {
 public:
  explicit MergeQueue(std::size_t capacity) : position_(capacity, kNone) {
    heap_.reserve(capacity);
  }

  struct Entry {
    double cost;
    std::uint32_t x;
    std::uint32_t partner;
  };

  const Entry& top() const { return heap_[0]; }

  void push(std::uint32_t x, const Row& row) {
    heap_.push_back(Entry{row.cost, x, row.partner});
    position_[x] = static_cast<std::uint32_t>(heap_.size() - 1);
    siftUp(heap_.size() - 1);
  }

  void erase(std::uint32_t x) {
    const std::uint32_t i = position_[x];
    if (i == kNone) return;
    position_[x] = kNone;
    const Entry last = heap_.back();
    heap_.pop_back();
    if (i == heap_.size()) return;
    heap_[i] = last;
    position_[last.x] = i;
    siftUp(i);
    siftDown(position_[last.x]);
  }

  // The top leaves and x comes in: one sift instead of two.
  void replaceTop(std::uint32_t x, const Row& row) {
    position_[heap_[0].x] = kNone;
    heap_[0] = Entry{row.cost, x, row.partner};
    position_[x] = 0;
    siftDown(0);
  }

  // The top's row lost its partner; this is its new one, no cheaper.
  void raiseTop(const Row& row) {
    heap_[0].cost = row.cost;
    heap_[0].partner = row.partner;
    siftDown(0);
  }

 private:
  static bool before(const Entry& a, const Entry& b) {
    return a.cost < b.cost || (a.cost == b.cost && a.x > b.x);
  }
  void set(std::size_t i, const Entry& e) {
    heap_[i] = e;
    position_[e.x] = static_cast<std::uint32_t>(i);
  }
  void siftUp(std::size_t i) {
    const Entry e = heap_[i];
    while (i > 0) {
      const std::size_t parent = (i - 1) / 2;
      if (!before(e, heap_[parent])) break;
      set(i, heap_[parent]);
      i = parent;
    }
    set(i, e);
  }
  // The entry sinking is mostly a costly one that belongs near the bottom, so
  // the lesser children move up all the way down first, one comparison per
  // level, and the entry then climbs back the few levels it needs.
  void siftDown(std::size_t i) {
    const Entry e = heap_[i];
    const std::size_t size = heap_.size();
    const std::size_t start = i;
    for (;;) {
      std::size_t child = 2 * i + 1;
      if (child >= size) break;
      if (child + 1 < size && before(heap_[child + 1], heap_[child])) ++child;
      set(i, heap_[child]);
      i = child;
    }
    while (i > start) {
      const std::size_t parent = (i - 1) / 2;
      if (!before(e, heap_[parent])) break;
      set(i, heap_[parent]);
      i = parent;
    }
    set(i, e);
  }

  std::vector<Entry> heap_;
  std::vector<std::uint32_t> position_;
};

// One merge as an index sees it: a and b leave, m comes in. The index is
// rebuilt from the live clusters when m's bucket is full, and each time their
// number has fallen to an eighth.
class LiveIndex {
 public:
  LiveIndex(ClusterIndex index, std::size_t liveCount)
      : index_(std::move(index)), builtFor_(liveCount) {}

  ClusterIndex& index() { return index_; }

  // liveCount: the live clusters after the merge.
  void merge(std::uint32_t a, std::uint32_t b, std::uint32_t m, std::size_t liveCount,
             BuildPacer& pacer) {
    bool inIndex = false;
    if (liveCount * 8 > builtFor_) {
      inIndex = index_.replace(a, b, m);
    } else {
      index_.remove(a);
      index_.remove(b);
    }
    if (!inIndex) {
      index_.collect(&live_, pacer);
      live_.push_back(m);
      index_.rebuild(live_, false, pacer);
      builtFor_ = liveCount;
    }
  }

 private:
  ClusterIndex index_;
  std::size_t builtFor_;
  std::vector<std::uint32_t> live_;
};

// A queue between exactly one producing and one consuming thread. push fails
// when it is full, pop when it is empty; neither waits.
template <class T>
class OneWayRing {
 public:
  explicit OneWayRing(std::size_t size) : slots_(size), mask_(size - 1) {}

  bool push(const T& value) {
    const std::size_t head = head_.load(std::memory_order_relaxed);
    if (head - tailSeen_ == slots_.size()) {
      tailSeen_ = tail_.load(std::memory_order_acquire);
      if (head - tailSeen_ == slots_.size()) return false;
    }
    slots_[head & mask_] = value;
    head_.store(head + 1, std::memory_order_release);
    return true;
  }

  bool pop(T* value) {
    const std::size_t tail = tail_.load(std::memory_order_relaxed);
    if (tail == headSeen_) {
      headSeen_ = head_.load(std::memory_order_acquire);
      if (tail == headSeen_) return false;
    }
    *value = slots_[tail & mask_];
    tail_.store(tail + 1, std::memory_order_release);
    return true;
  }

 private:
  std::vector<T> slots_;
  std::size_t mask_;
  alignas(64) std::atomic<std::size_t> head_{0};
  std::size_t tailSeen_ = 0;  // the producer's last look at tail_
  alignas(64) std::atomic<std::size_t> tail_{0};
  std::size_t headSeen_ = 0;  // the consumer's last look at head_
};

// Searches rows again on a second core before the merge loop needs them.
//
// When a cluster is merged away, every row whose partner it was goes stale;
// the merge loop searches such a row again only when it reaches the top of
// the queue. The helper keeps its own copy of the index, follows the merges
// the loop reports, and searches the stale rows ahead of the loop, cheapest
// stored cost first, since those reach the top first. Its copy lags behind
// the loop, but that does not matter: the clusters born since are newer than
// the row's owner, so they are not its candidates, and the clusters merged
// away since only leave the set. The best over the helper's larger set is
// therefore the row's exact best as long as that partner is still alive,
// which is all the loop checks before it uses one. A result the loop cannot
// use costs nothing but the search.
class StaleRowHelper {
 public:
  // lag: how many reports it may fall behind before it gives up (a power of
  // two).
  StaleRowHelper(ClusterIndex index, std::vector<Row> firstRows, std::size_t capacity,
                 std::size_t lag)
      : index_(std::move(index), firstRows.size()),
        firstRows_(std::move(firstRows)),
        alive_(capacity, 0),
        heard_(capacity),
        dependents_(capacity, kNone),
        events_(lag),
        results_(1u << 14),
        pacer_(stop_) {
    std::fill(alive_.begin(), alive_.begin() + static_cast<std::ptrdiff_t>(firstRows_.size()), 1);
    liveCount_ = firstRows_.size();
  }

  void start() {
    thread_ = std::thread([this] { run(); });
  }

  // For the merge loop only. False once the helper has stopped or fallen a
  // whole queue behind: the loop then goes on alone.
  bool merged(std::uint32_t a, std::uint32_t b, std::uint32_t m) {
    return post(Event{a, b, m, 0.0});
  }
  bool rowSet(std::uint32_t x, const Row& row) {
    return post(Event{x, row.partner, kNone, row.cost});
  }
  // For the tests: waits until the helper has taken in every report and
  // searched every row it found waiting, or has stopped.
  void waitUntilCaughtUp() const {
    while (!stop_.load(std::memory_order_acquire) &&
           caughtUp_.load(std::memory_order_acquire) != posted_) {
      std::this_thread::yield();
    }
  }
  bool takeResult(std::uint32_t* x, Row* row) {
    Result result;
    if (!results_.pop(&result)) return false;
    *x = result.x;
    *row = result.row;
    return true;
  }

  ~StaleRowHelper() {
    stop_.store(true, std::memory_order_release);
    if (thread_.joinable()) thread_.join();
  }

 private:
  // A merge (a, b, m), or with m = kNone: the row of a is now (cost, b).
  struct Event {
    std::uint32_t a, b, m;
    double cost;
  };
  struct Result {
    std::uint32_t x;
    Row row;
  };
  struct Link {
    std::uint32_t x = kNone;
    std::uint32_t next = kNone;
  };
  struct Waiting {
    float cost;  // about the row's last cost, a lower bound of its next
    std::uint32_t x;
    bool operator<(const Waiting& other) const { return cost > other.cost; }
  };

  bool post(const Event& event) {
    if (gaveUp_) return false;
    if (stop_.load(std::memory_order_relaxed) || !events_.push(event)) {
      gaveUp_ = true;
      stop_.store(true, std::memory_order_release);
    } else {
      ++posted_;
    }
    return !gaveUp_;
  }

  // Records x's row. Links are never unlinked one by one: a link whose row
  // has moved on is skipped when it is read.
  void follow(std::uint32_t x, const Row& row) {
    heard_[x] = Heard{static_cast<float>(row.cost), row.partner};
    if (row.empty()) return;
    std::uint32_t link;
    if (free_ != kNone) {
      link = free_;
      free_ = links_[link].next;
    } else {
      link = static_cast<std::uint32_t>(links_.size());
      links_.push_back(Link{});
    }
    links_[link] = Link{x, dependents_[row.partner]};
    dependents_[row.partner] = link;
  }

  // Follows one merge: the rows that pointed at a or b wait for a search.
  void apply(const Event& event) {
    alive_[event.a] = 0;
    alive_[event.b] = 0;
    alive_[event.m] = 1;
    index_.merge(event.a, event.b, event.m, --liveCount_, pacer_);
    for (const std::uint32_t gone : {event.a, event.b}) {
      std::uint32_t link = dependents_[gone];
      dependents_[gone] = kNone;
      while (link != kNone) {
        const std::uint32_t x = links_[link].x;
        const std::uint32_t next = links_[link].next;
        if (alive_[x] && heard_[x].partner == gone) {
          waiting_.push_back(Waiting{heard_[x].cost, x});
          std::push_heap(waiting_.begin(), waiting_.end());
        }
        links_[link].next = free_;
        free_ = link;
        link = next;
      }
    }
  }

  void run() {
    try {
      // The first rows are taken in here rather than before the loop starts.
      for (std::uint32_t x = 0; x < firstRows_.size(); ++x) {
        follow(x, firstRows_[x]);
        if (x % 64 == 63) pacer_.tick();
      }
      firstRows_ = std::vector<Row>();
      int idle = 0;
      while (!stop_.load(std::memory_order_acquire)) {
        // Take in every merge reported so far, then search one row.
        Event event;
        bool any = false;
        while (!stop_.load(std::memory_order_relaxed) && events_.pop(&event)) {
          any = true;
          ++taken_;
          if (event.m == kNone) {
            follow(event.a, Row{event.cost, event.b});
          } else {
            apply(event);
          }
        }
        bool searched = false;
        while (!waiting_.empty() && !searched) {
          std::pop_heap(waiting_.begin(), waiting_.end());
          const Waiting next = waiting_.back();
          waiting_.pop_back();
          const std::uint32_t x = next.x;
          // Skip rows merged away or set again by the loop since.
          if (!alive_[x] || (heard_[x].partner != kNone && alive_[heard_[x].partner])) continue;
          Row row;
          index_.index().search(x, &row);
          follow(x, row);
          if (!row.empty()) results_.push(Result{x, row});
          searched = true;
        }
        if (!searched && waiting_.empty()) caughtUp_.store(taken_, std::memory_order_release);
        if (any || searched) {
          idle = 0;
        } else if (++idle > 64) {
          std::this_thread::yield();
        }
      }
    } catch (const std::bad_alloc&) {
      // Out of memory here only takes the help away.
      stop_.store(true, std::memory_order_release);
    } catch (const WorkerStopped&) {
      // The build ends; the destructor joins.
    }
  }

  LiveIndex index_;
  std::vector<Row> firstRows_;
  std::size_t liveCount_ = 0;
  std::vector<char> alive_;
  // Each row as last heard; the cost only orders the waiting rows.
  struct Heard {
    float cost;
    std::uint32_t partner;
  };
  std::vector<Heard> heard_;
  std::vector<std::uint32_t> dependents_;  // first link of the rows pointing at a cluster
  std::vector<Link> links_;
  std::uint32_t free_ = kNone;
  std::vector<Waiting> waiting_;  // stale rows, a heap on their last cost
  OneWayRing<Event> events_;
  OneWayRing<Result> results_;
  std::atomic<bool> stop_{false};
  BuildPacer pacer_;                        // stops a long index rebuild when stop_ is set
  bool gaveUp_ = false;                     // the loop's own flag
  std::uint64_t posted_ = 0;                // the loop's count of reports
  std::uint64_t taken_ = 0;                 // the helper's count of reports
  std::atomic<std::uint64_t> caughtUp_{0};  // taken_ when nothing was left to search
  std::thread thread_;
};

// The rows the helper searched, by owner, in a table of fixed size: a result
// for another owner in the same place replaces the older one, which then only
// costs the loop a search of its own.
class SearchedAhead {
 public:
  SearchedAhead() = default;
  explicit SearchedAhead(std::size_t size) : entries_(size), mask_(size - 1) {}

  void put(std::uint32_t x, const Row& row) {
    entries_[x & mask_] = Entry{row.cost, x, row.partner};
  }
  // The row searched for x, taken out of the table; empty when it is not
  // here. A result serves once: should its partner go, the row is stale
  // again and the result with it.
  Row take(std::uint32_t x) {
    Entry& entry = entries_[x & mask_];
    if (entry.x != x) return Row{};
    entry.x = kNone;
    return Row{entry.cost, entry.partner};
  }

 private:
  struct Entry {
    double cost = kInfinity;
    std::uint32_t x = kNone;
    std::uint32_t partner = kNone;
  };
  std::vector<Entry> entries_;
  std::size_t mask_ = 0;
};

}  // namespace

unsigned availableCores() {
#ifdef __linux__
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof set, &set) == 0) return static_cast<unsigned>(CPU_COUNT(&set));
#endif
  return std::thread::hardware_concurrency();
}

PackedColor meanColour(std::uint64_t pixels, std::uint64_t sumRed, std::uint64_t sumGreen,
                       std::uint64_t sumBlue) {
  const PackedColor red = static_cast<PackedColor>(sumRed / pixels) & 0xFF;
  const PackedColor green = static_cast<PackedColor>(sumGreen / pixels) & 0xFF;
  const PackedColor blue = static_cast<PackedColor>(sumBlue / pixels) & 0xFF;
  return red | green << 8 | blue << 16;
}

namespace {

// Ends a thread on every way out of a scope, exceptions included: a
// std::thread still running at its destruction would end the process.
class StopAndJoin {
 public:
  StopAndJoin(std::thread& thread, std::atomic<bool>& stop) : thread_(thread), stop_(stop) {}
  StopAndJoin(const StopAndJoin&) = delete;
  StopAndJoin& operator=(const StopAndJoin&) = delete;
  ~StopAndJoin() {
    stop_.store(true, std::memory_order_relaxed);
    if (thread_.joinable()) thread_.join();
  }

 private:
  std::thread& thread_;
  std::atomic<bool>& stop_;
};

MergeTree buildTree(const std::vector<PackedColor>& colours,
                    const std::vector<std::int64_t>& counts, unsigned threads,
                    const EngineTest& test, BuildPacer& pacer) {
  MergeTree tree;
  const std::size_t n = colours.size();
  tree.leafCount = static_cast<std::uint32_t>(n);
  const std::size_t capacity = n == 0 ? 0 : 2 * n - 1;
  tree.colour.reserve(capacity);
  tree.pixels.reserve(capacity);
  tree.cost.reserve(capacity);
  tree.left.reserve(n);
  tree.right.reserve(n);

  Clusters clusters;
  clusters.at.reserve(capacity);
  // Channel sums and pixel total side by side: a merge reads both of each
  // of its two clusters.
  struct Totals {
    std::uint64_t red, green, blue;
    std::int64_t pixels;
  };
  std::vector<Totals> totals;
  totals.reserve(capacity);
  for (std::size_t i = 0; i < n; ++i) {
    const PackedColor c = colours[i];
    const int r = c & 0xFF, g = (c >> 8) & 0xFF, b = (c >> 16) & 0xFF;
    const std::uint64_t count = static_cast<std::uint64_t>(counts[i]);
    tree.colour.push_back(c);
    tree.pixels.push_back(counts[i]);
    tree.cost.push_back(-1.0);
    totals.push_back({count * r, count * g, count * b, counts[i]});
    clusters.push(colourToLab(kWhitePointD65, r, g, b), counts[i]);
    if (i % 8 == 7) pacer.tick();
  }
  ColourLookup seen(n);
  for (std::size_t i = 0; i < n; ++i) {
    seen.findOrAdd(colours[i], static_cast<std::uint32_t>(i));
    if (i % 64 == 63) pacer.tick();
  }
  if (n < 2) return tree;

  ClusterIndex index(clusters, capacity);
  std::vector<std::uint32_t> live(n);
  for (std::uint32_t i = 0; i < n; ++i) live[i] = i;
  index.rebuild(live, true, pacer);
  live = std::vector<std::uint32_t>();

  // Every colour's first row: its cheapest partner among the older colours.
  // Filling the index in order of age gives every row exactly its candidates.
  // The rows do not depend on each other, so with a second core the newer
  // colours are done on a copy of the index that first takes in the older
  // ones; a row is the same whichever index computed it.
  std::vector<Row> rows(n);
  auto fillRows = [&](ClusterIndex& into, std::uint32_t begin, std::uint32_t end,
                      BuildPacer& paced) {
    into.insertRange(0, begin, paced);
    for (std::uint32_t x = begin; x < end; ++x) {
      into.search(x, &rows[x]);
      into.insert(x);
      paced.tick();
    }
  };
  const std::uint32_t colourCount = static_cast<std::uint32_t>(n);
  const bool twoThreads =
      threads == 0 ? colourCount >= kThreadedRowsFrom && availableCores() >= 2 : threads >= 2;
  std::optional<ClusterIndex> second;
  if (twoThreads) {
    // Halves by count measured about equal in instructions on photos: the
    // second thread first puts the older colours in, in one pass.
    const std::uint32_t half = static_cast<std::uint32_t>(colourCount * 0.5);
    try {
      second.emplace(index);
      std::atomic<bool> stop{false}, done{false};
      std::thread worker([&] {
        BuildPacer watch(stop);
        try {
          fillRows(*second, half, colourCount, watch);
        } catch (const WorkerStopped&) {
        }
        done.store(true, std::memory_order_release);
      });
      {
        const StopAndJoin join(worker, stop);
        fillRows(index, 0, half, pacer);
        // Waiting for the other half, progress is still reported.
        while (!done.load(std::memory_order_acquire)) {
          std::this_thread::sleep_for(std::chrono::microseconds(200));
          pacer.tick(200);
        }
      }
      index.insertRange(half, colourCount, pacer);
    } catch (const std::system_error&) {
      second.reset();  // no second thread: fall through to one
    } catch (const std::bad_alloc&) {
      second.reset();  // no room for the copy: one thread needs none
    }
  }
  if (!second) fillRows(index, 0, colourCount, pacer);
  MergeQueue queue(capacity);
  for (std::uint32_t x = 0; x < n; ++x) {
    if (!rows[x].empty()) queue.push(x, rows[x]);
    if (x % 64 == 63) pacer.tick();
  }
  // The copy of the index that found the newer half of the rows holds every
  // colour by now; the second core keeps it and searches stale rows ahead.
  std::optional<StaleRowHelper> helper;
  SearchedAhead searchedAhead;
  // Without room or a thread for it, the loop goes on alone.
  if (second && (threads >= 2 || colourCount <= kHelperUpTo)) {
    try {
      helper.emplace(std::move(*second), std::move(rows), capacity,
                     test.helperLag == 0 ? kHelperLag : std::bit_ceil(test.helperLag));
      second.reset();
      searchedAhead = SearchedAhead(test.helperTable != 0
                                        ? std::bit_ceil(test.helperTable)
                                        : std::min<std::size_t>(std::bit_ceil(capacity), 1u << 16));
      helper->start();
    } catch (const std::system_error&) {
      helper.reset();
    } catch (const std::bad_alloc&) {
      helper.reset();
    }
  }
  second.reset();
  rows = std::vector<Row>();
  bool helped = helper.has_value();

  // A row's partner only ever disappears (a merged cluster is newer than every
  // row's owner), so a row stays exact while its partner is alive and is
  // searched again only when it reaches the top without one.
  LiveIndex ours(std::move(index), n);
  std::vector<char> alive(capacity, 0);
  std::fill(alive.begin(), alive.begin() + static_cast<std::ptrdiff_t>(n), 1);
  std::size_t liveCount = n;
  while (liveCount > 1) {
    pacer.tick();
    if (helped) {
      if (test.helperInStep) helper->waitUntilCaughtUp();
      std::uint32_t x;
      Row ahead;
      while (helper->takeResult(&x, &ahead)) searchedAhead.put(x, ahead);
    }
    const MergeQueue::Entry top = queue.top();
    if (!alive[top.partner]) {
      Row row;
      const Row ahead = helped ? searchedAhead.take(top.x) : Row{};
      if (!ahead.empty() && alive[ahead.partner]) {
        row = ahead;
      } else {
        ours.index().search(top.x, &row);
        if (helped) helped = helper->rowSet(top.x, row);
      }
      if (row.empty()) {
        queue.erase(top.x);
      } else {
        queue.raiseTop(row);
      }
      continue;
    }
    const std::uint32_t a = top.x;
    const std::uint32_t b = top.partner;
    const std::uint32_t m = static_cast<std::uint32_t>(tree.colour.size());
    const Totals sum{totals[a].red + totals[b].red, totals[a].green + totals[b].green,
                     totals[a].blue + totals[b].blue, totals[a].pixels + totals[b].pixels};
    const PackedColor colour =
        meanColour(static_cast<std::uint64_t>(sum.pixels), sum.red, sum.green, sum.blue);
    tree.colour.push_back(colour);
    tree.pixels.push_back(sum.pixels);
    tree.cost.push_back(top.cost);
    tree.left.push_back(a);
    tree.right.push_back(b);
    totals.push_back(sum);
    const std::uint32_t sameColour = seen.findOrAdd(colour, m);
    if (sameColour != kNone) {
      clusters.pushCopy(sameColour, sum.pixels);
    } else {
      clusters.push(
          colourToLab(kWhitePointD65, colour & 0xFF, (colour >> 8) & 0xFF, (colour >> 16) & 0xFF),
          sum.pixels);
    }

    alive[a] = 0;
    alive[b] = 0;
    alive[m] = 1;
    queue.erase(b);  // a stays on top until m takes its place
    --liveCount;
    if (helped) helped = helper->merged(a, b, m);
    ours.merge(a, b, m, liveCount, pacer);
    pacer.merged();
    Row row;
    ours.index().search(m, &row);
    if (helped) helped = helper->rowSet(m, row);
    if (!row.empty()) {
      queue.replaceTop(m, row);
    } else {
      queue.erase(a);
    }
  }
  return tree;
}

}  // namespace

MergeTree buildMergeTree(const std::vector<PackedColor>& colours,
                         const std::vector<std::int64_t>& counts, unsigned threads,
                         const EngineTest& test, const BuildProgress& progress) {
  BuildPacer pacer(progress, test.progressEveryCheck);
  const std::size_t merges = colours.empty() ? 0 : colours.size() - 1;
  pacer.begin(merges);
  MergeTree tree;
  try {
    tree = buildTree(colours, counts, threads, test, pacer);
  } catch (const std::bad_alloc&) {
    // The second thread's copy of the index and its tables cost memory that
    // one thread does not need; the tree is the same either way.
    if (threads == 1) throw;
#ifdef __GLIBC__
    ::malloc_trim(0);  // hand what the first attempt freed back for the second
#endif
    pacer.begin(merges);
    tree = buildTree(colours, counts, 1, test, pacer);
  }
  pacer.end();
  return tree;
}

}  // namespace tavrel
