// Painting by nearest palette colour: the palettes of the progression, but
// every colour of the photo takes the entry whose colour is nearest to it by
// the engine's CIE 1976 difference (ties to the lower entry), not the colour
// of the cluster it belongs to. The palettes stay nested; the images need not,
// since a split can move colours of other clusters to the new entry.
#pragma once

#include <cstdint>
#include <vector>

#include "color/colour_difference.h"
#include "progression/painting.h"
#include "progression/split_tree.h"

namespace tavrel {

// Every rank's colour in CIELAB, as the engine converts it.
std::vector<LabColor> rankLabs(const SplitTree& tree);

// Paints the image for k, every pixel in its nearest palette colour.
void paintNearest(const SplitTree& tree, const std::vector<std::uint32_t>& pixelRanks,
                  const std::vector<LabColor>& lab, std::uint32_t k, const PaintTarget& target);

// Walks the mean difference of nearest-colour painting upward from k = 1.
// Each step passes once over the colours: it compares every colour with the
// two entries the split changed, and searches the whole palette again only
// for the colours whose nearest entry was the one split.
class NearestWalk {
 public:
  NearestWalk(const SplitTree& tree, const std::vector<LabColor>& lab);
  std::uint32_t k() const { return k_; }
  double mean() const { return mean_; }
  // Moves to k() + 1; false at k() = colours.
  bool next();

 private:
  void rescan(std::uint32_t rank);

  const SplitTree& tree_;
  const std::vector<LabColor>& lab_;
  std::vector<LabColor> palette_;
  std::vector<std::uint32_t> entry_;  // per rank: its nearest entry
  std::vector<double> distance_;      // per rank: its difference to that entry
  double mean_ = 0;
  std::uint32_t k_ = 1;
};

// Means for k = 1 .. kmax.
std::vector<double> nearestMeanDeltaE(const SplitTree& tree, const std::vector<LabColor>& lab,
                                      std::uint32_t kmax);
// The smallest k whose mean is at most the target (target ≥ 0).
std::uint32_t nearestFewestColours(const SplitTree& tree, const std::vector<LabColor>& lab,
                                   double target);

}  // namespace tavrel
