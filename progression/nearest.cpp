#include "progression/nearest.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>
#include <utility>

#include "progression/painting.h"
#include "progression/quality.h"
#include "progression/two_threads.h"

namespace tavrel {
namespace {

// The squared difference as labDistance sums it, before its square root.
inline double squaredDistance(const LabColor& p, const LabColor& q) {
  const double dL = p.L - q.L;
  const double da = p.a - q.a;
  const double db = p.b - q.b;
  return dL * dL + da * da + db * db;
}

constexpr double inf = std::numeric_limits<double>::infinity();

// A bound computed in doubles is off by a few roundings at most; this slack
// keeps every entry that could equal the best difference, never dropping one.
inline double withSlack(double bound) {
  return bound * (1 + 1e-9) + 1e-9;
}

// The best of the entries offered so far, by difference, then by entry.
struct Best {
  double distance = inf;
  std::uint32_t entry = 0;
  // Above this square the root is larger than distance; a larger square can
  // still round to the same root, so the roots decide the rest.
  double squareLimit = inf;

  Best() = default;
  Best(double distance_, std::uint32_t entry_)
      : distance(distance_), entry(entry_), squareLimit(withSlack(distance_ * distance_)) {}

  void offer(const LabColor& colour, const LabColor& candidate, std::uint32_t entry_) {
    const double d2 = squaredDistance(colour, candidate);
    if (d2 > squareLimit) return;
    const double d = std::sqrt(d2);
    if (d < distance || (d == distance && entry_ < entry)) *this = Best(d, entry_);
  }
};

// Another entry: its square difference to the cluster's entry, then its
// number and colour, together for the search.
struct Candidate {
  double apart;
  std::uint32_t entry;
  LabColor colour;
  bool operator<(const Candidate& o) const {
    return apart < o.apart || (apart == o.apart && entry < o.entry);
  }
};

std::vector<LabColor> paletteLabs(const SplitTree& tree, const std::vector<std::uint32_t>& nodes) {
  std::vector<LabColor> palette;
  palette.reserve(nodes.size());
  for (std::uint32_t node : nodes) palette.push_back(labOf(tree.colour[node]));
  return palette;
}

}  // namespace

std::vector<LabColor> rankLabs(const SplitTree& tree) {
  std::vector<LabColor> lab(tree.leafCount);
  const auto convert = [&](std::uint32_t begin, std::uint32_t end) {
    for (std::uint32_t rank = begin; rank < end; ++rank) {
      lab[rank] = labOf(tree.colour[tree.leafAt[rank]]);
    }
  };
  // Three powers a colour: worth a second core from a few thousand colours.
  const std::uint32_t half = tree.leafCount / 2;
  inTwo(
      worthTwoThreads(std::size_t{tree.leafCount} * 16), [&] { convert(0, half); },
      [&] { convert(half, tree.leafCount); });
  return lab;
}

void paintNearest(const SplitTree& tree, const std::vector<std::uint32_t>& pixelRanks,
                  const std::vector<LabColor>& lab, std::uint32_t k, const PaintTarget& target) {
  std::vector<std::uint32_t> entryValue(k);
  if (isIndexFormat(target.format)) {
    std::iota(entryValue.begin(), entryValue.end(), 0u);
  } else {
    entryValue = paletteOf(tree, k);
    if (target.format == PaintFormat::Rgba) {
      for (std::uint32_t& c : entryValue) c |= 0xFF000000u;
    }
  }
  const std::vector<std::uint32_t> nodes = entryNodes(tree, k);
  const std::vector<LabColor> palette = paletteLabs(tree, nodes);
  // Entries by lightness, so that each cluster looks only at the slab of
  // lightness its colours can reach.
  std::vector<std::uint32_t> byLightness(k);
  std::iota(byLightness.begin(), byLightness.end(), 0u);
  std::sort(byLightness.begin(), byLightness.end(),
            [&](std::uint32_t x, std::uint32_t y) { return palette[x].L < palette[y].L; });
  std::vector<double> lightness(k);
  for (std::uint32_t i = 0; i < k; ++i) lightness[i] = palette[byLightness[i]].L;

  // The search in pieces of one cluster each, a large cluster cut in several,
  // in the order of their ranks: pieces small enough for two threads to
  // share evenly, each writing its own ranks.
  struct Piece {
    std::uint32_t entry, begin, end;
  };
  const std::uint32_t most = std::max<std::uint32_t>(1024, tree.leafCount / 64);
  std::vector<Piece> pieces;
  for (std::uint32_t e = 0; e < k; ++e) {
    const std::uint32_t begin = tree.first[nodes[e]], end = tree.endOf(nodes[e]);
    for (std::uint32_t from = begin; from < end; from += std::min(most, end - from)) {
      pieces.push_back({e, from, from + std::min(most, end - from)});
    }
  }
  std::sort(pieces.begin(), pieces.end(),
            [](const Piece& x, const Piece& y) { return x.begin < y.begin; });
  // Room for each worker made here, so that nothing allocates on the way.
  struct Scratch {
    std::vector<double> own;  // per rank of the piece: its square to its entry
    std::vector<Candidate> candidates;
  } scratch[2];
  for (Scratch& s : scratch) {
    s.own.reserve(most);
    s.candidates.reserve(k);
  }
  std::vector<std::uint32_t> values(tree.leafCount);

  const auto search = [&](std::size_t piece, int worker) {
    const auto [e, begin, end] = pieces[piece];
    std::vector<double>& own = scratch[worker].own;
    std::vector<Candidate>& candidates = scratch[worker].candidates;
    const LabColor& centre = palette[e];
    own.resize(end - begin);
    double farthest = 0;
    for (std::uint32_t rank = begin; rank < end; ++rank) {
      own[rank - begin] = squaredDistance(lab[rank], centre);
      farthest = std::max(farthest, own[rank - begin]);
    }
    // A colour at difference d from its own entry is nearer to another only
    // if that entry is within 2 d of its own, so the entries within twice
    // the piece's farthest colour are all its colours need, nearest first.
    // Squares serve for these bounds, sparing a root a colour.
    const double reach = withSlack(2 * std::sqrt(farthest));
    const double reachSquared = withSlack(4 * farthest);
    candidates.clear();
    const auto from = std::lower_bound(lightness.begin(), lightness.end(), centre.L - reach);
    const auto to = std::upper_bound(from, lightness.end(), centre.L + reach);
    for (auto it = from; it != to; ++it) {
      const std::uint32_t f = byLightness[it - lightness.begin()];
      const double apart = squaredDistance(centre, palette[f]);
      if (f != e && apart <= reachSquared) candidates.push_back({apart, f, palette[f]});
    }
    std::sort(candidates.begin(), candidates.end());
    for (std::uint32_t rank = begin; rank < end; ++rank) {
      const double ownSquare = own[rank - begin];
      const LabColor& colour = lab[rank];
      // Only entries within 2 d of the own entry can be nearer. The least
      // square, ties to the lower entry, is found without a branch a
      // candidate; the runner-up square says whether two roots could round
      // alike, and only then do the roots decide.
      const double farEnough = withSlack(4 * ownSquare);
      double least = ownSquare, second = inf;
      std::uint32_t entry = e;
      for (const Candidate& c : candidates) {
        if (c.apart > farEnough) break;
        const double d2 = squaredDistance(colour, c.colour);
        const bool better = d2 < least || (d2 == least && c.entry < entry);
        second = better ? least : std::min(second, d2);
        least = better ? d2 : least;
        entry = better ? c.entry : entry;
      }
      if (second <= withSlack(least)) {
        Best best{std::sqrt(ownSquare), e};
        for (const Candidate& c : candidates) {
          if (c.apart > farEnough) break;
          best.offer(colour, c.colour, c.entry);
        }
        entry = best.entry;
      }
      values[rank] = entryValue[entry];
    }
  };
  // Then the rows, in bands.
  const std::uint32_t bandRows = std::max<std::uint32_t>(1, target.height / 32);
  const std::size_t bands = (target.height + bandRows - 1) / bandRows;
  const auto paint = [&](std::size_t band, int) {
    const std::uint32_t top = static_cast<std::uint32_t>(band) * bandRows;
    PaintTarget rows = target;
    rows.height = std::min(bandRows, target.height - top);
    rows.data += top * target.rowStride;
    paintRankValues(pixelRanks.data() + static_cast<std::size_t>(top) * target.width, values.data(),
                    rows);
  };
  inTwoPhases(worthTwoThreads(tree.leafCount + pixelRanks.size() / 4), pieces.size(), search, bands,
              paint);
}

NearestWalk::NearestWalk(const SplitTree& tree, const std::vector<LabColor>& lab)
    : tree_(tree), lab_(lab) {
  palette_.push_back(labOf(tree.colour[tree.root()]));
  entry_.assign(tree.leafCount, 0);
  distance_.resize(tree.leafCount);
  CompensatedSum total;
  for (std::uint32_t rank = 0; rank < tree.leafCount; ++rank) {
    distance_[rank] = labDistance(lab[rank], palette_[0]);
    total.add(static_cast<double>(tree.pixelsBefore[rank + 1] - tree.pixelsBefore[rank]) *
              distance_[rank]);
  }
  mean_ = total.value() / static_cast<double>(tree.totalPixels());
}

void NearestWalk::rescan(std::uint32_t rank) {
  Best best;
  for (std::uint32_t e = 0; e < palette_.size(); ++e) best.offer(lab_[rank], palette_[e], e);
  entry_[rank] = best.entry;
  distance_[rank] = best.distance;
}

bool NearestWalk::next() {
  if (k_ >= tree_.leafCount) return false;
  const std::uint32_t step = k_ - 1;
  const std::uint32_t node = tree_.splitNode[step];
  const std::uint32_t split = tree_.splitEntry[step];
  palette_[split] = labOf(tree_.colour[tree_.leftOf(node)]);
  palette_.push_back(labOf(tree_.colour[tree_.rightOf(node)]));
  const std::uint32_t added = k_;
  CompensatedSum total;
  for (std::uint32_t rank = 0; rank < tree_.leafCount; ++rank) {
    if (entry_[rank] == split) {
      // Its entry moved: it may now be farther than another.
      rescan(rank);
    } else {
      Best best{distance_[rank], entry_[rank]};
      best.offer(lab_[rank], palette_[split], split);
      best.offer(lab_[rank], palette_[added], added);
      entry_[rank] = best.entry;
      distance_[rank] = best.distance;
    }
    total.add(static_cast<double>(tree_.pixelsBefore[rank + 1] - tree_.pixelsBefore[rank]) *
              distance_[rank]);
  }
  mean_ = total.value() / static_cast<double>(tree_.totalPixels());
  ++k_;
  return true;
}

std::vector<double> nearestMeanDeltaE(const SplitTree& tree, const std::vector<LabColor>& lab,
                                      std::uint32_t kmax) {
  std::vector<double> means;
  means.reserve(kmax);
  NearestWalk walk(tree, lab);
  means.push_back(walk.mean());
  while (walk.k() < kmax && walk.next()) means.push_back(walk.mean());
  return means;
}

std::uint32_t nearestFewestColours(const SplitTree& tree, const std::vector<LabColor>& lab,
                                   double target) {
  NearestWalk walk(tree, lab);
  while (walk.mean() > target && walk.next()) {
  }
  return walk.k();
}

}  // namespace tavrel
