// Building the split tree of an image held in memory: the colour count, the
// merge tree and its layout, with progress reports and a way to stop.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <new>

#include "progression/colour_histogram.h"
#include "progression/split_tree.h"

namespace tavrel {

// Memory ran out once the colours of the image were counted.
struct OutOfMemoryWithColours : std::bad_alloc {
  explicit OutOfMemoryWithColours(std::uint32_t count) : colours(count) {}
  std::uint32_t colours;
};

// Thrown when the progress callback asked to stop; whatever the build had
// allocated is released by then (the engine's BuildStopped is turned into it).
struct ProgressStopped {};

// Called with the fraction done (0 to 1, never falling); false stops the
// build. Calls come at most about every 10 ms, and at least every 50 ms.
using ProgressCallback = std::function<bool(double fraction)>;

// Forwards the progress of one phase, mapped into its share [from, to) of the
// whole, to the callback, throttled; throws ProgressStopped on a false answer.
class ProgressMeter {
 public:
  ProgressMeter(const ProgressCallback& callback, double from, double to)
      : callback_(callback), from_(from), to_(to) {}
  bool wanted() const { return static_cast<bool>(callback_); }
  // fraction of this phase; forced reports skip the throttle.
  void report(double fraction, bool forced = false);
  // As report, but answers instead of throwing; unthrottled for a caller
  // that paces its own reports.
  bool answer(double fraction, bool throttled = true);

 private:
  const ProgressCallback& callback_;
  double from_, to_;
  long long lastNanos_ = -1;
};

// Pixels in memory: height rows rowStride bytes apart, each width pixels of
// bytesPerPixel (3 or 4) bytes, R, G, B first.
struct PixelRows {
  const std::uint8_t* data = nullptr;
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::size_t rowStride = 0;
  unsigned bytesPerPixel = 3;
};

// The histogram of the pixels, their colour numbers kept when asked for.
// Progress runs through the given share; memory running out throws bad_alloc.
ColourHistogram countColours(const PixelRows& pixels, bool keepPixelIds, ProgressMeter& progress);

// The merge tree of the histogram's colours, laid out; the colours and counts
// are released on the way. Memory running out throws OutOfMemoryWithColours.
SplitTree buildSplitTree(ColourHistogram& histogram, unsigned threads, ProgressMeter& progress);

}  // namespace tavrel
