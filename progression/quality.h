// The mean colour difference between a photo and each image of its
// progression, from the tree and the colour counts alone: the total for k + 1
// is the total for k less the split cluster's share plus its two children's,
// a cluster's share being the sum over its colours of pixels × ΔE(colour,
// cluster colour), measured as the engine measures (black as (1, 1, 1)).
#pragma once

#include <cmath>
#include <cstdint>
#include <vector>

#include "color/colour_difference.h"
#include "progression/split_tree.h"

namespace tavrel {

// Neumaier's compensated sum: the error stays near one rounding of the total,
// whatever cancels on the way.
struct CompensatedSum {
  double sum = 0, carry = 0;
  void add(double x) {
    const double t = sum + x;
    carry += std::fabs(sum) >= std::fabs(x) ? (sum - t) + x : (x - t) + sum;
    sum = t;
  }
  double value() const { return sum + carry; }
};

// A colour in CIELAB as the engine converts it.
inline LabColor labOf(PackedColor c) {
  return colourToLab(kD65WhitePoint, c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF);
}

// Walks the curve upward from k = 1; each call of next() costs the colours of
// the split cluster.
class QualityWalk {
 public:
  explicit QualityWalk(const SplitTree& tree);
  std::uint32_t k() const { return k_; }
  // The mean for k(); 0 at k = colours.
  double mean() const;
  // Moves to k() + 1; false at k() = colours.
  bool next();

 private:
  double share(std::uint32_t node) const;
  void recount();

  const SplitTree& tree_;
  std::vector<LabColor> lab_;   // per rank
  std::vector<double> shares_;  // per palette entry
  double sum_ = 0, carry_ = 0;  // the running total, compensated
  double recounted_ = 0;        // the total at the last exact recount
  std::uint32_t k_ = 1;
};

// Means for k = 1 .. kmax.
std::vector<double> meanDeltaE(const SplitTree& tree, std::uint32_t kmax);
// The smallest k whose mean is at most the target (target ≥ 0).
std::uint32_t fewestColours(const SplitTree& tree, double target);

}  // namespace tavrel
