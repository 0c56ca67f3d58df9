// The cluster tree, merge for merge as the literal pairwise scan would build
// it, without scanning every pair. In short (docs/engine.md has the whole
// argument):
// - Each live cluster has a row: its cheapest live partner among the older
//   clusters (partner_row.h). New clusters are newer than every row's owner,
//   so a row's candidates only disappear and its stored cost stays a lower
//   bound; a row whose partner is alive is exact. The queue (merge_queue.h)
//   takes the least row by (cost, newer cluster first), which is the pair the
//   literal scan would meet first.
// - A k-d tree (partner_index.h) prunes a box only when its lower bound,
//   shrunk by a slack far larger than every rounding in it, exceeds the best
//   cost found, so every candidate that could win or tie is evaluated with
//   the exact expression.
// - With a second core, a helper (stale_row_helper.h) searches stale rows
//   ahead on its own, lagging copy of the index; a result is used only while
//   its partner is alive, which makes it exact (the candidates since are a
//   subset of its own).
// This file holds the merge loop that ties them together.
#include "progression/merge_tree.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <chrono>
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
#include "progression/merge_queue.h"
#include "progression/partner_index.h"
#include "progression/partner_row.h"
#include "progression/stale_row_helper.h"

namespace tavrel {
namespace {

using engine::BuildPacer;
using engine::Clusters;
using engine::kNone;
using engine::LiveIndex;
using engine::MergeQueue;
using engine::PartnerIndex;
using engine::Row;
using engine::SearchedAhead;
using engine::StaleRowHelper;
using engine::WorkerStopped;

constexpr int kWhitePointD65 = 4;

// Below this many colours a second thread for the first rows does not pay.
constexpr std::uint32_t kThreadedRowsFrom = 20000;

// Above this many colours the stale-row helper is not started: its copy of
// the index and its tables cost about 100 bytes a colour, and on a million
// colours scattered at random it saved only 5 % of the time.
constexpr std::uint32_t kHelperUpTo = 500000;

// How many reports the stale-row helper may fall behind the merge loop
// before it gives up and the loop goes on alone.
constexpr std::size_t kHelperLag = 1u << 16;

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

  PartnerIndex index(clusters, capacity);
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
  auto fillRows = [&](PartnerIndex& into, std::uint32_t begin, std::uint32_t end,
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
  std::optional<PartnerIndex> second;
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
