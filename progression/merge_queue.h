// A heap of the rows in merge order. Header only: the merge loop touches it
// at every step.
#pragma once

#include <cstdint>
#include <vector>

#include "progression/partner_row.h"

namespace tavrel::engine {

// The merge queue: one entry per live cluster whose row is not empty, holding
// the row and keyed by its cost. Its top is the pair to merge next: least cost, then
// the newer first cluster. Within a row the newer second cluster is already
// first, so this is the order in which a scan over a newest-first list with a
// strictly-less test would meet the pairs.
class MergeQueue {
 public:
  explicit MergeQueue(std::size_t capacity) : position_(capacity, kNone) {
    heap_.reserve(capacity);
  }

  struct Entry {
    double cost;
    std::uint32_t x;
    std::uint32_t partner;
  };

  const Entry& top() const { return heap_[0]; }

  void push(std::uint32_t x, const Row& row) {
    heap_.push_back(Entry{row.cost, x, row.partner});
    position_[x] = static_cast<std::uint32_t>(heap_.size() - 1);
    siftUp(heap_.size() - 1);
  }

  void erase(std::uint32_t x) {
    const std::uint32_t i = position_[x];
    if (i == kNone) return;
    position_[x] = kNone;
    const Entry last = heap_.back();
    heap_.pop_back();
    if (i == heap_.size()) return;
    heap_[i] = last;
    position_[last.x] = i;
    siftUp(i);
    siftDown(position_[last.x]);
  }

  // The top leaves and x comes in: one sift instead of two.
  void replaceTop(std::uint32_t x, const Row& row) {
    position_[heap_[0].x] = kNone;
    heap_[0] = Entry{row.cost, x, row.partner};
    position_[x] = 0;
    siftDown(0);
  }

  // The top's row lost its partner; this is its new one, no cheaper.
  void raiseTop(const Row& row) {
    heap_[0].cost = row.cost;
    heap_[0].partner = row.partner;
    siftDown(0);
  }

 private:
  static bool before(const Entry& a, const Entry& b) {
    return a.cost < b.cost || (a.cost == b.cost && a.x > b.x);
  }
  void set(std::size_t i, const Entry& e) {
    heap_[i] = e;
    position_[e.x] = static_cast<std::uint32_t>(i);
  }
  void siftUp(std::size_t i) {
    const Entry e = heap_[i];
    while (i > 0) {
      const std::size_t parent = (i - 1) / 2;
      if (!before(e, heap_[parent])) break;
      set(i, heap_[parent]);
      i = parent;
    }
    set(i, e);
  }
  // The entry sinking is mostly a costly one that belongs near the bottom, so
  // the lesser children move up all the way down first, one comparison per
  // level, and the entry then climbs back the few levels it needs.
  void siftDown(std::size_t i) {
    const Entry e = heap_[i];
    const std::size_t size = heap_.size();
    const std::size_t start = i;
    for (;;) {
      std::size_t child = 2 * i + 1;
      if (child >= size) break;
      if (child + 1 < size && before(heap_[child + 1], heap_[child])) ++child;
      set(i, heap_[child]);
      i = child;
    }
    while (i > start) {
      const std::size_t parent = (i - 1) / 2;
      if (!before(e, heap_[parent])) break;
      set(i, heap_[parent]);
      i = parent;
    }
    set(i, e);
  }

  std::vector<Entry> heap_;
  std::vector<std::uint32_t> position_;
};

}  // namespace tavrel::engine
