// The C++ interface over the engine: argument checks, the translation of the
// engine's failures into the documented errors, and the engine's records
// into the interface's.
#include <new>
#include <optional>
#include <string>
#include <utility>

#include "library/state.h"
#include "progression/build.h"
#include "progression/nearest.h"
#include "progression/quality.h"

namespace tavrel {
namespace {

Colour colourOf(PackedColor c) {
  return {static_cast<std::uint8_t>(c & 0xFF), static_cast<std::uint8_t>((c >> 8) & 0xFF),
          static_cast<std::uint8_t>((c >> 16) & 0xFF)};
}

[[noreturn]] void invalid(const std::string& what) {
  throw InvalidArgument(what);
}

// (rows - 1) × stride + width × bytes, or 0 when it does not fit a size_t.
std::size_t spanBytes(std::uint32_t width, std::uint32_t rows, std::size_t stride, unsigned bytes) {
  std::size_t span;
  if (__builtin_mul_overflow(static_cast<std::size_t>(rows - 1), stride, &span) ||
      __builtin_add_overflow(span, static_cast<std::size_t>(width) * bytes, &span)) {
    return 0;
  }
  return span;
}

std::optional<PaintFormat> paintFormatOf(OutputFormat format) {
  switch (format) {
    case OutputFormat::Rgb:
      return PaintFormat::Rgb;
    case OutputFormat::Rgba:
      return PaintFormat::Rgba;
    case OutputFormat::Index8:
      return PaintFormat::Index8;
    case OutputFormat::Index16:
      return PaintFormat::Index16;
    case OutputFormat::Index32:
      return PaintFormat::Index32;
  }
  return std::nullopt;
}

// The checked stride of an output and its size in bytes.
std::pair<std::size_t, std::size_t> outputLayout(const Hierarchy::State& s, OutputFormat format,
                                                 std::size_t rowStride) {
  const std::optional<PaintFormat> paint = paintFormatOf(format);
  if (!paint) invalid("unknown output format");
  const unsigned bytes = bytesPerPixel(*paint);
  const std::size_t packed = static_cast<std::size_t>(s.width) * bytes;
  const std::size_t stride = rowStride == 0 ? packed : rowStride;
  if (stride < packed) invalid("row stride below width times bytes a pixel");
  if (stride % bytes != 0 && isIndexFormat(*paint)) {
    invalid("row stride not a multiple of the index size");
  }
  const std::size_t size = spanBytes(s.width, s.height, stride, bytes);
  if (size == 0) invalid("image size beyond the address space");
  return {stride, size};
}

void checkK(const Hierarchy::State& s, std::uint32_t k) {
  if (k < 1 || k > s.tree.leafCount) {
    invalid("k = " + std::to_string(k) + " outside 1 .. " + std::to_string(s.tree.leafCount));
  }
}

void checkStep(const Hierarchy::State& s, std::uint32_t step) {
  if (step + std::uint64_t{1} >= s.tree.leafCount) {
    invalid("step " + std::to_string(step) + " beyond the last step");
  }
}

}  // namespace

void checkIndexWidth(PaintFormat format, std::uint32_t k) {
  const std::uint32_t limit = format == PaintFormat::Index8    ? 256
                              : format == PaintFormat::Index16 ? 65536
                                                               : k;
  if (k > limit) invalid("k = " + std::to_string(k) + " beyond the index width");
}

PaintTarget paintTarget(const Hierarchy::State& s, std::uint32_t k, const Output& out) {
  checkK(s, k);
  const auto [stride, size] = outputLayout(s, out.format, out.rowStride);
  const PaintFormat format = *paintFormatOf(out.format);
  checkIndexWidth(format, k);
  if (!out.data) invalid("no output buffer");
  if (out.size < size) invalid("output buffer too small");
  return {static_cast<std::uint8_t*>(out.data), stride, s.width, s.height, format};
}

const std::vector<LabColor>& Hierarchy::State::labs() const {
  std::call_once(labOnce, [this] {
    lab = rankLabs(tree);
    labReady.store(true, std::memory_order_release);
  });
  return lab;
}

const char* version() noexcept {
  return TAVREL_VERSION_STRING;
}

Hierarchy::Hierarchy(const Pixels& pixels, const BuildOptions& options) {
  if (!pixels.data) invalid("no pixel data");
  if (pixels.width == 0 || pixels.height == 0) invalid("zero width or height");
  unsigned bytes;
  switch (pixels.format) {
    case PixelFormat::Rgb:
      bytes = 3;
      break;
    case PixelFormat::Rgbx:
      bytes = 4;
      break;
    default:
      invalid("unknown pixel format");
  }
  const std::size_t packed = static_cast<std::size_t>(pixels.width) * bytes;
  const std::size_t stride = pixels.rowStride == 0 ? packed : pixels.rowStride;
  if (stride < packed) invalid("row stride below width times bytes a pixel");
  if (spanBytes(pixels.width, pixels.height, stride, bytes) == 0) {
    invalid("image size beyond the address space");
  }

  std::uint32_t colours = 0;
  try {
    auto state = std::make_shared<State>();
    state->width = pixels.width;
    state->height = pixels.height;
    // Counting takes a few per cent of a build, the tree the rest.
    ProgressMeter counting(options.progress, 0.0, 0.05);
    ColourHistogram histogram =
        countColours({pixels.data, pixels.width, pixels.height, stride, bytes}, true, counting);
    colours = static_cast<std::uint32_t>(histogram.colours.size());
    ProgressMeter building(options.progress, 0.05, 1.0);
    state->tree = buildSplitTree(histogram, options.threads, building);
    leavesToRanks(state->tree, histogram.pixelIds);
    state->pixelRanks = std::move(histogram.pixelIds);
    state_ = std::move(state);
  } catch (const ProgressStopped&) {
    throw Cancelled("the build was cancelled");
  } catch (const OutOfMemoryWithColours& e) {
    throw OutOfMemory("not enough memory for the hierarchy", e.colours);
  } catch (const std::bad_alloc&) {
    throw OutOfMemory("not enough memory for the hierarchy", colours);
  }
}

std::uint32_t Hierarchy::width() const noexcept {
  return state_->width;
}
std::uint32_t Hierarchy::height() const noexcept {
  return state_->height;
}
std::uint32_t Hierarchy::colours() const noexcept {
  return state_->tree.leafCount;
}

std::vector<Colour> Hierarchy::palette(std::uint32_t k) const {
  checkK(*state_, k);
  std::vector<Colour> colours;
  colours.reserve(k);
  for (PackedColor c : paletteOf(state_->tree, k)) colours.push_back(colourOf(c));
  return colours;
}

std::size_t Hierarchy::outputSize(OutputFormat format, std::size_t rowStride) const {
  return outputLayout(*state_, format, rowStride).second;
}

void Hierarchy::paint(std::uint32_t k, const Output& out) const {
  paint(k, out, Remap::Cluster);
}

void Hierarchy::paint(std::uint32_t k, const Output& out, Remap remap) const {
  const PaintTarget target = paintTarget(*state_, k, out);
  const State& s = *state_;
  try {
    switch (remap) {
      case Remap::Cluster:
        return paintImage(s.tree, s.pixelRanks, k, target);
      case Remap::Nearest:
        return paintNearest(s.tree, s.pixelRanks, s.labs(), k, target);
    }
  } catch (const std::bad_alloc&) {
    throw OutOfMemory("not enough memory to paint", s.tree.leafCount);
  }
  invalid("unknown remap");
}

std::vector<Split> Hierarchy::splits() const {
  std::vector<Split> all;
  all.reserve(state_->tree.splitNode.size());
  for (std::uint32_t step = 0; step < state_->tree.splitNode.size(); ++step) {
    all.push_back(split(step));
  }
  return all;
}

Split Hierarchy::split(std::uint32_t step) const {
  checkStep(*state_, step);
  const SplitTree& t = state_->tree;
  const std::uint32_t node = t.splitNode[step];
  return {node, t.pixelsOf(node), colourOf(t.colour[t.leftOf(node)]),
          colourOf(t.colour[t.rightOf(node)]), t.costOf(node)};
}

std::string Hierarchy::pathLabel(std::uint32_t step) const {
  checkStep(*state_, step);
  return tavrel::pathLabel(state_->tree, state_->tree.splitNode[step]);
}

std::vector<double> Hierarchy::meanDeltaE(std::uint32_t kmax) const {
  return meanDeltaE(kmax, Remap::Cluster);
}

std::vector<double> Hierarchy::meanDeltaE(std::uint32_t kmax, Remap remap) const {
  checkK(*state_, kmax);
  switch (remap) {
    case Remap::Cluster:
      return tavrel::meanDeltaE(state_->tree, kmax);
    case Remap::Nearest:
      return nearestMeanDeltaE(state_->tree, state_->labs(), kmax);
  }
  invalid("unknown remap");
}

std::uint32_t Hierarchy::fewestColours(double maxMeanDeltaE) const {
  return fewestColours(maxMeanDeltaE, Remap::Cluster);
}

std::uint32_t Hierarchy::fewestColours(double maxMeanDeltaE, Remap remap) const {
  if (!(maxMeanDeltaE >= 0)) invalid("a negative or NaN target");
  switch (remap) {
    case Remap::Cluster:
      return tavrel::fewestColours(state_->tree, maxMeanDeltaE);
    case Remap::Nearest:
      return nearestFewestColours(state_->tree, state_->labs(), maxMeanDeltaE);
  }
  invalid("unknown remap");
}

std::vector<double> Hierarchy::linkage() const {
  const SplitTree& t = state_->tree;
  std::vector<double> rows;
  rows.reserve(4 * t.left.size());
  for (std::uint32_t m = 0; m < t.left.size(); ++m) {
    const std::uint32_t node = t.leafCount + m;
    rows.push_back(t.left[m]);
    rows.push_back(t.right[m]);
    rows.push_back(t.cost[m]);
    rows.push_back(t.endOf(node) - t.first[node]);
  }
  return rows;
}

std::vector<Colour> Hierarchy::leafColours() const {
  const SplitTree& t = state_->tree;
  std::vector<Colour> colours;
  colours.reserve(t.leafCount);
  for (std::uint32_t leaf = 0; leaf < t.leafCount; ++leaf)
    colours.push_back(colourOf(t.colour[leaf]));
  return colours;
}

std::size_t Hierarchy::memoryBytes() const noexcept {
  const State& s = *state_;
  const std::size_t lab =
      s.labReady.load(std::memory_order_acquire) ? s.lab.capacity() * sizeof(LabColor) : 0;
  return sizeof(State) + s.tree.memoryBytes() + s.pixelRanks.capacity() * 4 + lab;
}

}  // namespace tavrel
