// The build's progress and stop: the fractions it reports, the tree it builds
// while reporting, and a stop at every stage, on one thread and with the
// second thread forced on (the sanitizer builds check that a stop leaks
// nothing and leaves no thread running).
#include "progression/merge_tree.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <tuple>

#include "progression/split_tree.h"

namespace tavrel {
namespace {

struct ColourSet {
  std::vector<PackedColor> colours;
  std::vector<std::int64_t> counts;
};

// Distinct colours at random with photo-like counts; large enough that the
// set-up and the merges each take many checks of the pacer.
ColourSet randomColours(std::size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  ColourSet set;
  std::vector<char> used(1 << 24, 0);
  while (set.colours.size() < n) {
    const PackedColor c = rng() & 0xFFFFFF;
    if (used[c]) continue;
    used[c] = 1;
    set.colours.push_back(c);
    set.counts.push_back(rng() % 4 ? 1 + rng() % 5 : 1 + rng() % 3000);
  }
  return set;
}

bool sameTree(const MergeTree& a, const MergeTree& b) {
  return std::tie(a.leafCount, a.colour, a.pixels, a.cost, a.left, a.right) ==
         std::tie(b.leafCount, b.colour, b.pixels, b.cost, b.left, b.right);
}

struct Setting {
  const char* name;
  unsigned threads;
  EngineTest test;
};
const Setting kSettings[] = {
    {"one thread", 1, {.progressEveryCheck = true}},
    {"second thread", 2, {.progressEveryCheck = true}},
    {"helper in step", 2, {.helperInStep = true, .progressEveryCheck = true}},
};

// A callback that always goes on: the same tree as without one, and the
// fractions start at 0, never fall, come close to 1 before the end and end
// at exactly 1 (also for the sets without a single merge). Then a false
// answer at the first call, in the set-up (among the first rows, with the
// second thread's half running), in the middle of the merges, near their end
// and at the final call: BuildStopped, and no call after the false answer.
TEST(BuildProgress, ReportsWithoutChangingTheTreeAndStopsWhereverAsked) {
  const ColourSet sets[] = {{}, {{0x123456}, {7}}, randomColours(3000, 1)};
  // The set-up reports 0. On one thread its calls come at fixed points of
  // the work, and half of them in is among the first rows, also where a
  // second thread takes the newer half (the waiting for it adds calls only
  // after the calling thread's own half).
  long zeros = 0;
  for (const ColourSet& set : sets) {
    const MergeTree plain = buildMergeTree(set.colours, set.counts, 1);
    for (const Setting& setting : kSettings) {
      SCOPED_TRACE(std::string(setting.name) + ", " + std::to_string(set.colours.size()));
      std::vector<double> seen;
      const MergeTree reported =
          buildMergeTree(set.colours, set.counts, setting.threads, setting.test, [&](double f) {
            seen.push_back(f);
            return true;
          });
      EXPECT_TRUE(sameTree(reported, plain));
      ASSERT_GE(seen.size(), 2u);
      EXPECT_EQ(seen.front(), 0.0);
      EXPECT_EQ(seen.back(), 1.0);
      EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
      if (set.colours.size() > 1000) {
        EXPECT_GT(seen.size(), 20u);
        EXPECT_GT(seen[seen.size() - 2], 0.9);
        if (setting.threads == 1) zeros = std::count(seen.begin(), seen.end(), 0.0);
      }
    }
  }
  ASSERT_GT(zeros, 8);
  const ColourSet& set = sets[2];
  for (const Setting& setting : kSettings) {
    const struct {
      const char* where;
      std::function<bool(int call, double fraction)> now;
    } stops[] = {
        {"first call", [](int call, double) { return call == 1; }},
        {"first rows", [&](int call, double) { return call == zeros / 2; }},
        {"middle", [](int, double f) { return f >= 0.5; }},
        {"near the end", [](int, double f) { return f >= 0.99; }},
        {"final call", [](int, double f) { return f == 1.0; }},
    };
    for (const auto& stop : stops) {
      SCOPED_TRACE(std::string(setting.name) + ", " + stop.where);
      int calls = 0, callsAfterStop = 0;
      double stoppedAt = -1.0;
      EXPECT_THROW(buildMergeTree(set.colours, set.counts, setting.threads, setting.test,
                                  [&](double f) {
                                    if (stoppedAt >= 0.0) ++callsAfterStop;
                                    if (!stop.now(++calls, f)) return true;
                                    stoppedAt = f;
                                    return false;
                                  }),
                   BuildStopped);
      EXPECT_EQ(callsAfterStop, 0);
      if (stop.where == std::string("first rows")) {
        EXPECT_EQ(stoppedAt, 0.0);
      } else if (stop.where == std::string("middle")) {
        EXPECT_LT(stoppedAt, 0.6);
      }
    }
  }
}

// The layout reports as it orders the splits: fractions that never fall,
// from its loops to near 1, the same layout as without a callback, and a
// throw from the callback ends it at once.
TEST(LayoutProgress, ReportsThroughTheSplitOrderAndStops) {
  const ColourSet set = randomColours(20000, 3);
  const MergeTree tree = buildMergeTree(set.colours, set.counts, 1);
  const SplitTree plain = layOutTree(MergeTree(tree));
  std::vector<double> fractions;
  const SplitTree reported = layOutTree(MergeTree(tree), [&](double f) { fractions.push_back(f); });
  EXPECT_EQ(reported.splitNode, plain.splitNode);
  EXPECT_EQ(reported.leafEntry, plain.leafEntry);
  ASSERT_GT(fractions.size(), 4u);  // 20,000 splits, a call every few thousand
  EXPECT_TRUE(std::is_sorted(fractions.begin(), fractions.end()));
  EXPECT_GE(fractions.front(), 0.0);
  EXPECT_GT(fractions.back(), 0.8);
  EXPECT_LT(fractions.back(), 1.0);
  struct Stop {};
  for (std::size_t at : {std::size_t{0}, fractions.size() - 1}) {
    std::size_t calls = 0;
    EXPECT_THROW(layOutTree(MergeTree(tree),
                            [&](double) {
                              if (calls++ == at) throw Stop{};
                            }),
                 Stop);
    EXPECT_EQ(calls, at + 1);
  }
}

}  // namespace
}  // namespace tavrel
