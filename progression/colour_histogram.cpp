#include "progression/colour_histogram.h"

namespace tavrel {
namespace {

// Open addressing from a 24-bit colour to its index; key 0 marks a free slot,
// so keys are stored as colour + 1.
class ColourTable {
 public:
  ColourTable() : keys_(1024, 0), values_(1024, 0), mask_(1023) {}

  // Returns the index of the colour, adding it as `next` when it is new.
  std::uint32_t findOrAdd(PackedColor colour, std::uint32_t next, bool* added) {
    std::uint32_t key = colour + 1;
    std::size_t slot = hash(key) & mask_;
    while (keys_[slot] != 0) {
      if (keys_[slot] == key) {
        *added = false;
        return values_[slot];
      }
      slot = (slot + 1) & mask_;
    }
    keys_[slot] = key;
    values_[slot] = next;
    *added = true;
    if (++size_ * 2 > keys_.size()) grow();
    return next;
  }

 private:
  static std::size_t hash(std::uint32_t key) {
    return static_cast<std::size_t>((key * 0x9E3779B97F4A7C15ull) >> 20);
  }

  void grow() {
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

  std::vector<std::uint32_t> keys_;
  std::vector<std::uint32_t> values_;
  std::size_t mask_;
  std::size_t size_ = 0;
};

}  // namespace

ColourHistogram collectColours(ImageBuffer* image, bool keepPixelIds) {
  ColourHistogram histogram;
  const std::uint32_t width = image->width;
  const std::uint32_t height = image->height;
  if (keepPixelIds) histogram.pixelIds.resize(static_cast<std::size_t>(width) * height);

  ColourTable table;
  std::size_t pixel = 0;
  for (std::uint32_t y = 1; y <= height; ++y) {
    const std::uint8_t* line = wholeColourLine(image, y);
    for (std::uint32_t x = 1; x <= width; ++x, ++pixel) {
      PackedColor colour;
      if (line) {
        const std::uint8_t* p = line + 4 * static_cast<std::size_t>(x - 1);
        colour = p[0] | (p[1] << 8) | (static_cast<PackedColor>(p[2]) << 16);
      } else {
        colour = getColorPixel(image, x, y);
      }
      bool added;
      std::uint32_t id =
          table.findOrAdd(colour, static_cast<std::uint32_t>(histogram.colours.size()), &added);
      if (added) {
        histogram.colours.push_back(colour);
        histogram.counts.push_back(0);
      }
      ++histogram.counts[id];
      if (keepPixelIds) histogram.pixelIds[pixel] = id;
    }
  }
  return histogram;
}

}  // namespace tavrel
