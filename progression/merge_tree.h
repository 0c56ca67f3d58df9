// Bottom-up cluster tree over the distinct colours of an image.
//
// Node ids: 0 .. n-1 are the colours in order of discovery, n .. 2n-2 the
// merged clusters in order of creation. A larger id is a newer cluster. The
// merge chosen each time is the pair of live clusters with the least cost
//   nA·nB / (nA + nB) · ΔE(A, B)
// and among equal costs the pair whose newer cluster is newest, then whose
// older cluster is newest. The newer cluster of a merge becomes its left
// child, the older its right child.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "color/packed_color.h"

namespace tavrel {

struct MergeTree {
  std::uint32_t leafCount = 0;
  std::vector<PackedColor> colour;   // representative colour per node
  std::vector<std::int64_t> pixels;  // pixel total per node
  std::vector<double> cost;          // merge cost; -1.0 for a leaf
  std::vector<std::uint32_t> left;   // children of merge k at index k
  std::vector<std::uint32_t> right;

  std::uint32_t nodeCount() const { return static_cast<std::uint32_t>(colour.size()); }
  bool isLeaf(std::uint32_t node) const { return node < leafCount; }
  std::uint32_t leftOf(std::uint32_t node) const { return left[node - leafCount]; }
  std::uint32_t rightOf(std::uint32_t node) const { return right[node - leafCount]; }
  // The root is the last merge; a single colour has no merge and no root.
  bool hasRoot() const { return leafCount >= 2; }
  std::uint32_t root() const { return nodeCount() - 1; }
};

// Ways for the tests to drive the second thread into what timing rarely
// shows: a helper that falls behind and gives up, one that is always ahead,
// and results that crowd each other out of their table. None changes the
// tree.
struct EngineTest {
  std::size_t helperLag = 0;    // reports it may fall behind; 0 for the default
  bool helperInStep = false;    // the loop waits for it before every step
  std::size_t helperTable = 0;  // room for its results; 0 for the default
  // Progress at every look at the clock rather than every 10 ms, so that a
  // build of a few thousand colours reports many fractions.
  bool progressEveryCheck = false;
};

// Told the fraction of the merges done, from 0 to 1 and never falling; a
// false answer stops the build.
using BuildProgress = std::function<bool(double fraction)>;

// What buildMergeTree throws when progress answered false. By then every
// thread the build started is joined and all its memory is released.
struct BuildStopped {};

// colours[i] and counts[i] describe colour i in order of discovery; every
// count is at least 1. threads 0 lets the build use a second thread where it
// pays; 1 or 2 fix the number. The tree is the same either way.
//
// progress, when set, is called on the calling thread: with 0 before any
// work, with the fraction of the merges done at least every 20 ms of the
// build (about every 10 ms; the set-up before the first merge reports 0), and
// with 1 once the tree is complete. A false answer throws BuildStopped within
// a few milliseconds.
MergeTree buildMergeTree(const std::vector<PackedColor>& colours,
                         const std::vector<std::int64_t>& counts, unsigned threads = 0,
                         const EngineTest& test = {}, const BuildProgress& progress = {});

// The cores this process may run on (its CPU affinity where the system has
// one), which decides whether a second thread can pay.
unsigned availableCores();

// The colour of a merged cluster: the pixel-weighted mean of its colours,
// each channel truncated toward zero.
PackedColor meanColour(std::uint64_t pixels, std::uint64_t sumRed, std::uint64_t sumGreen,
                       std::uint64_t sumBlue);

}  // namespace tavrel
