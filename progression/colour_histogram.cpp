#include "progression/colour_histogram.h"

#include <utility>

namespace tavrel {
namespace {

std::size_t hash(std::uint32_t key) {
  return static_cast<std::size_t>((key * 0x9E3779B97F4A7C15ull) >> 20);
}

}  // namespace

HistogramBuilder::HistogramBuilder(std::size_t pixels)
    : keys_(1024, 0), values_(1024, 0), mask_(1023) {
  // Reserved, not filled: the pages are touched as the pixels are counted,
  // so a large image has no long silent start.
  histogram_.pixelIds.reserve(pixels);
  keepIds_ = pixels > 0;
}

std::uint32_t HistogramBuilder::find(PackedColor colour) {
  const std::uint32_t key = colour + 1;
  std::size_t slot = hash(key) & mask_;
  while (keys_[slot] != 0) {
    if (keys_[slot] == key) return values_[slot];
    slot = (slot + 1) & mask_;
  }
  const std::uint32_t id = static_cast<std::uint32_t>(histogram_.colours.size());
  histogram_.colours.push_back(colour);
  histogram_.counts.push_back(0);
  keys_[slot] = key;
  values_[slot] = id;
  if (histogram_.colours.size() * 2 > keys_.size()) grow();
  return id;
}

void HistogramBuilder::grow() {
  std::vector<std::uint32_t> oldKeys(keys_.size() * 2, 0);
  std::vector<std::uint32_t> oldValues(values_.size() * 2, 0);
  oldKeys.swap(keys_);
  oldValues.swap(values_);
  mask_ = keys_.size() - 1;
  for (std::size_t i = 0; i < oldKeys.size(); ++i) {
    if (oldKeys[i] == 0) continue;
    std::size_t slot = hash(oldKeys[i]) & mask_;
    while (keys_[slot] != 0) slot = (slot + 1) & mask_;
    keys_[slot] = oldKeys[i];
    values_[slot] = oldValues[i];
  }
}

void HistogramBuilder::add(const std::uint8_t* pixels, std::size_t count, unsigned bytesPerPixel) {
  // A run of one colour, as in flat areas, is looked up once.
  PackedColor last = 0xFFFFFFFFu;
  std::uint32_t lastId = 0;
  for (std::size_t i = 0; i < count; ++i, pixels += bytesPerPixel) {
    const PackedColor colour =
        pixels[0] | (pixels[1] << 8) | (static_cast<PackedColor>(pixels[2]) << 16);
    if (colour != last) {
      last = colour;
      lastId = find(colour);
    }
    ++histogram_.counts[lastId];
    if (keepIds_) histogram_.pixelIds.push_back(lastId);
  }
}

}  // namespace tavrel
