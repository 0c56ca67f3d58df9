// The second core's share of the merges: stale rows searched ahead of the
// loop on a lagging copy of the partner index, and the table the loop takes
// the results from.
#pragma once

#include <atomic>
#include <cstdint>
#include <thread>
#include <vector>

#include "progression/build_pacer.h"
#include "progression/one_way_ring.h"
#include "progression/partner_index.h"
#include "progression/partner_row.h"

namespace tavrel::engine {

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
  StaleRowHelper(PartnerIndex index, std::vector<Row> firstRows, std::size_t capacity,
                 std::size_t lag);

  void start();

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

  ~StaleRowHelper();

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
  void follow(std::uint32_t x, const Row& row);

  // Follows one merge: the rows that pointed at a or b wait for a search.
  void apply(const Event& event);

  void run();

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

}  // namespace tavrel::engine
