#include "progression/quality.h"

#include <cmath>

namespace tavrel {
namespace {

// Below this part of the last exact total, the running total is recounted
// from the shares themselves, so that a small mean at large k is as exact as
// a large one.
constexpr double kRecountBelow = 1.0 / 1024;

}  // namespace

QualityWalk::QualityWalk(const SplitTree& tree) : tree_(tree) {
  lab_.reserve(tree.leafCount);
  for (std::uint32_t rank = 0; rank < tree.leafCount; ++rank) {
    lab_.push_back(labOf(tree.colour[tree.leafAt[rank]]));
  }
  shares_.push_back(share(tree.root()));
  recount();
}

double QualityWalk::share(std::uint32_t node) const {
  const LabColor centre = labOf(tree_.colour[node]);
  CompensatedSum total;
  const std::uint32_t end = tree_.endOf(node);
  for (std::uint32_t rank = tree_.first[node]; rank < end; ++rank) {
    const double pixels =
        static_cast<double>(tree_.pixelsBefore[rank + 1] - tree_.pixelsBefore[rank]);
    total.add(pixels * labDistance(lab_[rank], centre));
  }
  return total.value();
}

void QualityWalk::recount() {
  CompensatedSum total;
  for (double s : shares_) total.add(s);
  sum_ = total.sum;
  carry_ = total.carry;
  recounted_ = total.value();
}

double QualityWalk::mean() const {
  return (sum_ + carry_) / static_cast<double>(tree_.totalPixels());
}

bool QualityWalk::next() {
  if (k_ >= tree_.leafCount) return false;
  const std::uint32_t step = k_ - 1;
  const std::uint32_t node = tree_.splitNode[step];
  const std::uint32_t entry = tree_.splitEntry[step];
  const double left = share(tree_.leftOf(node)), right = share(tree_.rightOf(node));
  CompensatedSum total{sum_, carry_};
  total.add(-shares_[entry]);
  total.add(left);
  total.add(right);
  sum_ = total.sum;
  carry_ = total.carry;
  shares_[entry] = left;
  shares_.push_back(right);
  ++k_;
  if (total.value() < recounted_ * kRecountBelow || k_ == tree_.leafCount) recount();
  return true;
}

std::vector<double> meanDeltaE(const SplitTree& tree, std::uint32_t kmax) {
  std::vector<double> means;
  means.reserve(kmax);
  QualityWalk walk(tree);
  means.push_back(walk.mean());
  while (walk.k() < kmax && walk.next()) means.push_back(walk.mean());
  return means;
}

std::uint32_t fewestColours(const SplitTree& tree, double target) {
  QualityWalk walk(tree);
  while (walk.mean() > target && walk.next()) {
  }
  return walk.k();
}

}  // namespace tavrel
