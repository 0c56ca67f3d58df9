// How a long build reports progress and notices a request to stop without
// slowing down: its loops call tick() with a rough measure of the work just
// done, and only when enough work has gathered does the pacer read the clock
// or an atomic flag.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>

#include "progression/merge_tree.h"

namespace tavrel::engine {

// Thrown on a worker thread when the build it works for has stopped; the
// thread catches it at its top and ends.
struct WorkerStopped {};

class BuildPacer {
 public:
  // One unit of work is about a microsecond: a merge step, a row search, a
  // colour converted to CIELAB, a few hundred simple copies. The clock is
  // read once every this many units.
  static constexpr std::int32_t kUnitsPerCheck = 128;
  // Progress is reported at most this often (and, since a check comes every
  // few hundred microseconds, at least about as often).
  static constexpr std::chrono::milliseconds kInterval{10};

  // For the calling thread: reports to `progress` (unset: nothing to do);
  // everyCheck reports at every check instead of every kInterval.
  BuildPacer(const BuildProgress& progress, bool everyCheck)
      : progress_(progress ? &progress : nullptr), everyCheck_(everyCheck) {
    if (progress_ == nullptr) left_ = kNeverCheck;
  }
  // For a worker thread: watches `stop` and throws WorkerStopped once set.
  explicit BuildPacer(const std::atomic<bool>& stop) : stop_(&stop) {}

  BuildPacer(const BuildPacer&) = delete;
  BuildPacer& operator=(const BuildPacer&) = delete;

  void tick(std::int32_t units = 1) {
    left_ -= units;
    if (left_ <= 0) check();
  }
  // A check now, whatever the work since the last (for waiting loops).
  void poll() { check(); }

  // The build proper starts, with this many merges to make: reports 0.
  void begin(std::size_t merges) {
    total_ = merges == 0 ? 1 : merges;
    done_ = 0;
    report();
  }
  void merged() { ++done_; }
  // The tree is complete: reports 1.
  void end() {
    done_ = total_;
    report();
  }

 private:
  static constexpr std::int32_t kNeverCheck = 1 << 30;

  void check() {
    if (stop_ != nullptr) {
      left_ = kUnitsPerCheck;
      if (stop_->load(std::memory_order_relaxed)) throw WorkerStopped{};
      return;
    }
    if (progress_ == nullptr) {
      left_ = kNeverCheck;
      return;
    }
    left_ = kUnitsPerCheck;
    if (everyCheck_ || std::chrono::steady_clock::now() - last_ >= kInterval) report();
  }

  // The fraction never falls, not even when a build starts again on one
  // thread after running out of memory on two.
  void report() {
    if (progress_ == nullptr) return;
    const double fraction = static_cast<double>(done_) / static_cast<double>(total_);
    if (fraction > reported_) reported_ = fraction;
    if (!(*progress_)(reported_)) throw BuildStopped{};
    last_ = std::chrono::steady_clock::now();
  }

  const BuildProgress* progress_ = nullptr;
  const std::atomic<bool>* stop_ = nullptr;
  bool everyCheck_ = false;
  std::int32_t left_ = kUnitsPerCheck;
  std::size_t total_ = 1;
  std::size_t done_ = 0;
  double reported_ = 0.0;
  std::chrono::steady_clock::time_point last_ = std::chrono::steady_clock::now();
};

}  // namespace tavrel::engine
