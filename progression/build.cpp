#include "progression/build.h"

#include <algorithm>
#include <chrono>
#include <utility>

#include "progression/merge_tree.h"

namespace tavrel {
namespace {

constexpr long long kReportEveryNanos = 10'000'000;
// Pixels counted between two looks at the clock: well under a millisecond.
constexpr std::size_t kPixelsPerLook = 1 << 16;

long long nanosNow() {
  using namespace std::chrono;
  return duration_cast<nanoseconds>(steady_clock::now().time_since_epoch()).count();
}

}  // namespace

bool ProgressMeter::answer(double fraction, bool throttled) {
  if (!callback_) return true;
  const long long now = nanosNow();
  if (throttled && lastNanos_ >= 0 && now - lastNanos_ < kReportEveryNanos && fraction < 1.0) {
    return true;
  }
  lastNanos_ = now;
  return callback_(from_ + (to_ - from_) * std::clamp(fraction, 0.0, 1.0));
}

void ProgressMeter::report(double fraction, bool forced) {
  if (forced) lastNanos_ = -1;
  if (!answer(fraction)) throw ProgressStopped{};
}

ColourHistogram countColours(const PixelRows& pixels, bool keepPixelIds, ProgressMeter& progress) {
  const std::size_t total = static_cast<std::size_t>(pixels.width) * pixels.height;
  progress.report(0.0, true);
  HistogramBuilder builder(keepPixelIds ? total : 0);
  std::size_t done = 0;
  for (std::uint32_t y = 0; y < pixels.height; ++y) {
    const std::uint8_t* row = pixels.data + y * pixels.rowStride;
    // Rows of any width: the clock is read every so many pixels.
    for (std::size_t x = 0; x < pixels.width; x += kPixelsPerLook) {
      const std::size_t count = std::min<std::size_t>(kPixelsPerLook, pixels.width - x);
      builder.add(row + x * pixels.bytesPerPixel, count, pixels.bytesPerPixel);
      done += count;
      if (progress.wanted()) progress.report(static_cast<double>(done) / total);
    }
  }
  return builder.finish();
}

SplitTree buildSplitTree(ColourHistogram& histogram, unsigned threads, ProgressMeter& progress) {
  const std::uint32_t colours = static_cast<std::uint32_t>(histogram.colours.size());
  try {
    // The engine paces its own reports, about every 10 ms.
    const BuildProgress merges = [&](double fraction) {
      return progress.answer(fraction * 0.98, false);
    };
    MergeTree tree = buildMergeTree(histogram.colours, histogram.counts, threads, {},
                                    progress.wanted() ? merges : BuildProgress{});
    histogram.colours = {};
    histogram.counts = {};
    // The layout's share, reported through the same throttle.
    const LayoutProgress layout = [&](double fraction) { progress.report(0.98 + 0.02 * fraction); };
    SplitTree laidOut = layOutTree(std::move(tree), progress.wanted() ? layout : LayoutProgress{});
    progress.report(1.0, true);
    return laidOut;
  } catch (const BuildStopped&) {
    throw ProgressStopped{};
  } catch (const std::bad_alloc&) {
    throw OutOfMemoryWithColours(colours);
  }
}

}  // namespace tavrel
