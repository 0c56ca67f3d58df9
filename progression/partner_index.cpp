// The partner index: building the k-d tree, keeping its boxes up to date
// through the merges, and the search with its pruning. Every candidate the
// search does not prune is costed with the exact expression; a box is
// pruned only when its lower bound, shrunk by a slack far larger than every
// rounding in it, exceeds the best cost found (docs/engine.md).
#include "progression/partner_index.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>

namespace tavrel::engine {
namespace {

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

}  // namespace

void PartnerIndex::rebuild(const std::vector<std::uint32_t>& ids, bool empty, BuildPacer& pacer) {
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

bool PartnerIndex::insert(std::uint32_t id) {
  const std::uint32_t bucket = bucketOf(id);
  if (fill_[bucket] == capacity_) return false;
  write(bucket * capacity_ + fill_[bucket]++, id);
  refreshUpwards(bucket);
  return true;
}

void PartnerIndex::insertRange(std::uint32_t first, std::uint32_t last, BuildPacer& pacer) {
  if (first == last) return;
  for (std::uint32_t id = first; id < last; ++id) {
    const std::uint32_t bucket = bucketOf(id);
    write(bucket * capacity_ + fill_[bucket]++, id);
    if (id % 64 == 63) pacer.tick();
  }
  refreshAll(pacer);
}

bool PartnerIndex::replace(std::uint32_t a, std::uint32_t b, std::uint32_t m) {
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

void PartnerIndex::collect(std::vector<std::uint32_t>* ids, BuildPacer& pacer) const {
  ids->clear();
  for (std::uint32_t bucket = 0; bucket < fill_.size(); ++bucket) {
    for (std::uint32_t s = bucket * capacity_; s < bucket * capacity_ + fill_[bucket]; ++s) {
      ids->push_back(slot_[s].id);
    }
    pacer.tick();
  }
}

void PartnerIndex::search(std::uint32_t x, Row* row) const {
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

std::uint32_t PartnerIndex::bucketOf(std::uint32_t id) const {
  std::uint32_t n = 0;
  while (n < firstLeaf_) {
    n = 2 * n + (coordinate(id, splitDim_[n]) < splitValue_[n] ? 1 : 2);
  }
  return n - firstLeaf_;
}

void PartnerIndex::split(std::vector<Point>& points, std::size_t begin, std::size_t end,
                         std::uint32_t n, std::vector<std::uint32_t>& bucketSize,
                         BuildPacer& pacer) {
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

bool PartnerIndex::refresh(std::uint32_t n) {
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

std::uint32_t PartnerIndex::take(std::uint32_t id) {
  const std::uint32_t s = slotOf_[id];
  slotOf_[id] = kNone;
  const std::uint32_t bucket = s / capacity_;
  const std::uint32_t last = bucket * capacity_ + --fill_[bucket];
  if (s != last) write(s, slot_[last].id);
  slot_[last].id = kNone;
  return bucket;
}
void LiveIndex::merge(std::uint32_t a, std::uint32_t b, std::uint32_t m, std::size_t liveCount,
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
}  // namespace tavrel::engine
