// Painting an image of the progression into a caller's buffer: from scratch
// in one pass over the pixels' colour numbers, or one cluster at a time
// through the pixels sorted by their colour's rank in the tree.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "progression/split_tree.h"

namespace tavrel {

enum class PaintFormat : std::uint8_t { Rgb, Rgba, Index8, Index16, Index32 };

unsigned bytesPerPixel(PaintFormat format);
inline bool isIndexFormat(PaintFormat format) {
  return format != PaintFormat::Rgb && format != PaintFormat::Rgba;
}

// A buffer of height rows, rowStride bytes apart; the bytes between rows are
// never written. Index formats hold palette entries in native byte order.
struct PaintTarget {
  std::uint8_t* data = nullptr;
  std::size_t rowStride = 0;
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  PaintFormat format = PaintFormat::Rgb;
};

// The colours of the image for k in palette order.
std::vector<PackedColor> paletteOf(const SplitTree& tree, std::uint32_t k);

// Paints the image for k from its pixels' colour numbers (leaf ids).
void paintImage(const SplitTree& tree, const std::vector<std::uint32_t>& pixelIds, std::uint32_t k,
                const PaintTarget& target);

// Paints every pixel with the value of its rank: a packed colour (alpha in
// the top byte for RGBA) or a palette entry, as the target's format takes.
// pixelRanks holds the ranks of the target's pixels, row by row.
void paintRankValues(const std::uint32_t* pixelRanks, const std::uint32_t* value,
                     const PaintTarget& target);

// The pixels in the order of their colour's rank: every node's pixels are
// one contiguous run, from its first pixel on.
class PixelOrder {
 public:
  PixelOrder(const SplitTree& tree, const std::vector<std::uint32_t>& pixelRanks);

  // Paints the pixels of `node` with `value`: a colour for the RGB formats,
  // a palette entry for the index formats.
  void paint(const SplitTree& tree, std::uint32_t node, std::uint32_t value,
             const PaintTarget& target) const;

  std::size_t memoryBytes() const { return small_.capacity() * 4 + large_.capacity() * 8; }

 private:
  // Pixel numbers fit 32 bits below 2^32 pixels.
  std::vector<std::uint32_t> small_;
  std::vector<std::uint64_t> large_;
};

}  // namespace tavrel
