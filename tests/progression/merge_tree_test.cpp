#include "progression/merge_tree.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <list>
#include <random>

#include "color/colour_difference.h"

namespace tavrel {
namespace {

struct Merge {
  std::uint32_t left, right;
  double cost;
  PackedColor colour;
};

// Brute force: every merge rescans every pair of a newest-first list and
// keeps the first pair of least cost.
std::vector<Merge> bruteForceMerges(const std::vector<PackedColor>& colours,
                                    const std::vector<std::int64_t>& counts) {
  struct C {
    std::uint32_t id;
    PackedColor colour;
    std::int64_t n;
    std::uint64_t r, g, b;
  };
  std::list<C> list;
  for (std::uint32_t i = 0; i < colours.size(); ++i) {
    const PackedColor c = colours[i];
    const std::uint64_t n = counts[i];
    list.push_front(
        C{i, c, counts[i], n * (c & 0xFF), n * ((c >> 8) & 0xFF), n * ((c >> 16) & 0xFF)});
  }
  std::vector<Merge> merges;
  std::uint32_t next = static_cast<std::uint32_t>(colours.size());
  while (list.size() > 1) {
    bool found = false;
    double best = 0;
    std::list<C>::iterator bestA, bestB;
    for (auto a = list.begin(); a != list.end(); ++a) {
      for (auto b = std::next(a); b != list.end(); ++b) {
        const double d =
            ColourDifference(4, a->colour & 0xFF, (a->colour >> 8) & 0xFF, a->colour >> 16,
                             b->colour & 0xFF, (b->colour >> 8) & 0xFF, b->colour >> 16);
        const double cost = mergeCost(a->n, b->n, d);
        if (!found || cost < best) {
          found = true;
          best = cost;
          bestA = a;
          bestB = b;
        }
      }
    }
    C m{next++,
        0,
        bestA->n + bestB->n,
        bestA->r + bestB->r,
        bestA->g + bestB->g,
        bestA->b + bestB->b};
    m.colour = meanColour(m.n, m.r, m.g, m.b);
    merges.push_back(Merge{bestA->id, bestB->id, best, m.colour});
    list.erase(bestA);
    list.erase(bestB);
    list.push_front(m);
  }
  return merges;
}

std::uint64_t bits(double v) {
  std::uint64_t b;
  std::memcpy(&b, &v, sizeof b);
  return b;
}

void expectSameMerges(const std::vector<PackedColor>& colours,
                      const std::vector<std::int64_t>& counts, const std::string& what) {
  const MergeTree tree = buildMergeTree(colours, counts);
  const std::vector<Merge> expected = bruteForceMerges(colours, counts);
  ASSERT_EQ(tree.nodeCount(), colours.size() + expected.size()) << what;
  for (std::size_t k = 0; k < expected.size(); ++k) {
    const std::uint32_t node = tree.leafCount + static_cast<std::uint32_t>(k);
    ASSERT_EQ(tree.left[k], expected[k].left) << what << " merge " << k;
    ASSERT_EQ(tree.right[k], expected[k].right) << what << " merge " << k;
    ASSERT_EQ(bits(tree.cost[node]), bits(expected[k].cost)) << what << " merge " << k;
    ASSERT_EQ(tree.colour[node], expected[k].colour) << what << " merge " << k;
  }
}

TEST(MergeTreeTest, MatchesBruteForceOnRandomColourSets) {
  for (unsigned seed = 1; seed <= 300; ++seed) {
    std::mt19937 rng(seed);
    const int n = 2 + static_cast<int>(rng() % 60);
    const int levels = 2 + static_cast<int>(rng() % 6);  // few levels: many ties
    const int maxCount = 1 + static_cast<int>(rng() % 4);
    std::vector<PackedColor> colours;
    std::vector<std::int64_t> counts;
    std::vector<char> used(1 << 24, 0);
    int attempts = 0;
    while (static_cast<int>(colours.size()) < n && ++attempts < 10000) {
      auto level = [&] { return static_cast<PackedColor>((rng() % levels) * 255 / (levels - 1)); };
      PackedColor c = level() | level() << 8 | level() << 16;
      if (rng() % 8 == 0) c = (rng() % 2) ? 0 : 0x010101;  // black and its stand-in
      if (used[c]) continue;
      used[c] = 1;
      colours.push_back(c);
      counts.push_back(1 + rng() % maxCount);
    }
    expectSameMerges(colours, counts, "seed " + std::to_string(seed));
  }
}

TEST(MergeTreeTest, MatchesBruteForceOnSpreadColoursAndCounts) {
  for (unsigned seed = 1; seed <= 60; ++seed) {
    std::mt19937 rng(seed);
    const int n = 50 + static_cast<int>(rng() % 150);
    const bool clustered = seed % 2 == 0;  // colours in a few tight groups
    std::vector<PackedColor> colours;
    std::vector<std::int64_t> counts;
    std::vector<char> used(1 << 24, 0);
    PackedColor centre = 0;
    while (static_cast<int>(colours.size()) < n) {
      if (!clustered || colours.size() % 20 == 0) centre = rng() & 0xFFFFFF;
      PackedColor c = rng() & 0xFFFFFF;
      if (clustered) {
        auto near = [&](int shift) {
          int v = static_cast<int>((centre >> shift) & 0xFF) + static_cast<int>(rng() % 7) - 3;
          return static_cast<PackedColor>(std::clamp(v, 0, 255)) << shift;
        };
        c = near(0) | near(8) | near(16);
      }
      if (used[c]) continue;
      used[c] = 1;
      colours.push_back(c);
      // Heavy-tailed counts, as in photos: mostly 1, now and then thousands.
      const unsigned r = rng() % 100;
      counts.push_back(r < 70 ? 1 : r < 95 ? 1 + rng() % 20 : 1 + rng() % 5000);
    }
    expectSameMerges(colours, counts, "seed " + std::to_string(seed));
  }
}

// The first rows are computed on two threads for large colour sets only; forced
// here on smaller ones, with one thread (checked above) as the oracle.
TEST(MergeTreeTest, SecondThreadBuildsTheSameTree) {
  for (unsigned seed = 1; seed <= 4; ++seed) {
    std::mt19937 rng(seed);
    std::vector<PackedColor> colours;
    std::vector<std::int64_t> counts;
    std::vector<char> used(1 << 24, 0);
    const int levels = 8 + static_cast<int>(seed) * 8;  // coarse levels: ties
    while (colours.size() < 3000) {
      auto level = [&] { return static_cast<PackedColor>((rng() % levels) * 255 / (levels - 1)); };
      const PackedColor c = level() | level() << 8 | level() << 16;
      if (used[c]) continue;
      used[c] = 1;
      colours.push_back(c);
      counts.push_back(rng() % 4 ? 1 : 1 + rng() % 300);
    }
    const MergeTree one = buildMergeTree(colours, counts, 1);
    const MergeTree two = buildMergeTree(colours, counts, 2);
    ASSERT_EQ(one.left, two.left) << "seed " << seed;
    ASSERT_EQ(one.right, two.right) << "seed " << seed;
    ASSERT_EQ(one.colour, two.colour) << "seed " << seed;
    for (std::size_t i = 0; i < one.cost.size(); ++i) {
      ASSERT_EQ(std::memcmp(&one.cost[i], &two.cost[i], sizeof(double)), 0) << "seed " << seed;
    }
  }
}

}  // namespace
}  // namespace tavrel
