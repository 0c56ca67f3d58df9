// The channel between the merge loop and the stale-row helper: a ring of
// fixed size, one thread writing and one reading, without locks.
#pragma once

#include <atomic>
#include <cstddef>
#include <vector>

namespace tavrel::engine {

// A queue between exactly one producing and one consuming thread. push fails
// when it is full, pop when it is empty; neither waits.
template <class T>
class OneWayRing {
 public:
  explicit OneWayRing(std::size_t size) : slots_(size), mask_(size - 1) {}

  bool push(const T& value) {
    const std::size_t head = head_.load(std::memory_order_relaxed);
    if (head - tailSeen_ == slots_.size()) {
      tailSeen_ = tail_.load(std::memory_order_acquire);
      if (head - tailSeen_ == slots_.size()) return false;
    }
    slots_[head & mask_] = value;
    head_.store(head + 1, std::memory_order_release);
    return true;
  }

  bool pop(T* value) {
    const std::size_t tail = tail_.load(std::memory_order_relaxed);
    if (tail == headSeen_) {
      headSeen_ = head_.load(std::memory_order_acquire);
      if (tail == headSeen_) return false;
    }
    *value = slots_[tail & mask_];
    tail_.store(tail + 1, std::memory_order_release);
    return true;
  }

 private:
  std::vector<T> slots_;
  std::size_t mask_;
  alignas(64) std::atomic<std::size_t> head_{0};
  std::size_t tailSeen_ = 0;  // the producer's last look at tail_
  alignas(64) std::atomic<std::size_t> tail_{0};
  std::size_t headSeen_ = 0;  // the consumer's last look at head_
};

}  // namespace tavrel::engine
