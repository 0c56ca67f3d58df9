#include "progression/painting.h"

#include <cstring>

namespace tavrel {
namespace {

template <PaintFormat F>
inline void put(std::uint8_t* at, std::uint32_t value) {
  if constexpr (F == PaintFormat::Rgb) {
    at[0] = static_cast<std::uint8_t>(value);
    at[1] = static_cast<std::uint8_t>(value >> 8);
    at[2] = static_cast<std::uint8_t>(value >> 16);
  } else if constexpr (F == PaintFormat::Rgba) {
    std::memcpy(at, &value, 4);  // R, G, B, A on a little-endian machine
  } else if constexpr (F == PaintFormat::Index8) {
    at[0] = static_cast<std::uint8_t>(value);
  } else if constexpr (F == PaintFormat::Index16) {
    const std::uint16_t v = static_cast<std::uint16_t>(value);
    std::memcpy(at, &v, 2);
  } else {
    std::memcpy(at, &value, 4);
  }
}

// Calls body(F) with the format as a constant, so each loop is compiled for it.
template <class Body>
void withFormat(PaintFormat format, Body&& body) {
  switch (format) {
    case PaintFormat::Rgb:
      return body.template operator()<PaintFormat::Rgb>();
    case PaintFormat::Rgba:
      return body.template operator()<PaintFormat::Rgba>();
    case PaintFormat::Index8:
      return body.template operator()<PaintFormat::Index8>();
    case PaintFormat::Index16:
      return body.template operator()<PaintFormat::Index16>();
    case PaintFormat::Index32:
      return body.template operator()<PaintFormat::Index32>();
  }
}

// What every rank is painted with in the image for k: its cluster's colour
// (with alpha 255 for RGBA), or its cluster's palette entry.
std::vector<std::uint32_t> rankValues(const SplitTree& tree, std::uint32_t k, PaintFormat format) {
  std::vector<std::uint32_t> values(tree.leafCount);
  if (k == tree.leafCount) {
    // Every leaf its own cluster: one pass over the ranks, without walking
    // the splits to find each leaf's entry.
    for (std::uint32_t r = 0; r < k; ++r) {
      values[r] = isIndexFormat(format)         ? tree.leafEntry[r]
                  : format == PaintFormat::Rgba ? tree.colour[tree.leafAt[r]] | 0xFF000000u
                                                : tree.colour[tree.leafAt[r]];
    }
    return values;
  }
  const std::vector<std::uint32_t> nodes = entryNodes(tree, k);
  for (std::uint32_t e = 0; e < k; ++e) {
    const std::uint32_t value = isIndexFormat(format)         ? e
                                : format == PaintFormat::Rgba ? tree.colour[nodes[e]] | 0xFF000000u
                                                              : tree.colour[nodes[e]];
    std::fill(values.begin() + tree.first[nodes[e]], values.begin() + tree.endOf(nodes[e]), value);
  }
  return values;
}

template <class Index, PaintFormat F>
void paintRun(const Index* order, std::size_t count, std::uint32_t value, const PaintTarget& t) {
  constexpr std::size_t bytes = F == PaintFormat::Rgb       ? 3
                                : F == PaintFormat::Rgba    ? 4
                                : F == PaintFormat::Index8  ? 1
                                : F == PaintFormat::Index16 ? 2
                                                            : 4;
  std::uint8_t* data = t.data;
  if (t.rowStride == t.width * bytes) {
    for (std::size_t i = 0; i < count; ++i) put<F>(data + order[i] * bytes, value);
  } else {
    for (std::size_t i = 0; i < count; ++i) {
      const std::uint64_t p = order[i];
      put<F>(data + (p / t.width) * t.rowStride + (p % t.width) * bytes, value);
    }
  }
}

}  // namespace

unsigned bytesPerPixel(PaintFormat format) {
  switch (format) {
    case PaintFormat::Rgb:
      return 3;
    case PaintFormat::Index8:
      return 1;
    case PaintFormat::Index16:
      return 2;
    default:
      return 4;
  }
}

std::vector<PackedColor> paletteOf(const SplitTree& tree, std::uint32_t k) {
  std::vector<PackedColor> palette;
  palette.reserve(k);
  palette.push_back(tree.colour[tree.root()]);
  for (std::uint32_t step = 0; step + 1 < k; ++step) {
    const std::uint32_t node = tree.splitNode[step];
    palette[tree.splitEntry[step]] = tree.colour[tree.leftOf(node)];
    palette.push_back(tree.colour[tree.rightOf(node)]);
  }
  return palette;
}

void paintImage(const SplitTree& tree, const std::vector<std::uint32_t>& pixelRanks,
                std::uint32_t k, const PaintTarget& target) {
  // Indices for k = leafCount are stored with the tree; no table to build.
  if (k == tree.leafCount && isIndexFormat(target.format)) {
    paintRankValues(pixelRanks.data(), tree.leafEntry.data(), target);
  } else {
    paintRankValues(pixelRanks.data(), rankValues(tree, k, target.format).data(), target);
  }
}

void paintRankValues(const std::uint32_t* pixelRanks, const std::uint32_t* value,
                     const PaintTarget& target) {
  withFormat(target.format, [&]<PaintFormat F>() {
    const unsigned bytes = bytesPerPixel(F);
    const std::uint32_t* rank = pixelRanks;
    for (std::uint32_t y = 0; y < target.height; ++y) {
      std::uint8_t* row = target.data + y * target.rowStride;
      std::uint32_t x = 0;
      if constexpr (F == PaintFormat::Rgb) {
        // One 4-byte store a pixel, its fourth byte overwritten by the next
        // pixel; the row's last pixel is written byte by byte.
        for (; x + 1 < target.width; ++x, row += 3) std::memcpy(row, &value[*rank++], 4);
      }
      for (; x < target.width; ++x, row += bytes) put<F>(row, value[*rank++]);
    }
  });
}

PixelOrder::PixelOrder(const SplitTree& tree, const std::vector<std::uint32_t>& pixelRanks) {
  // A counting sort: each rank's pixels go where its pixels start.
  std::vector<std::uint64_t> next(tree.pixelsBefore.begin(), tree.pixelsBefore.end() - 1);
  const std::size_t pixels = pixelRanks.size();
  if (pixels <= (std::uint64_t{1} << 32)) {
    small_.resize(pixels);
    for (std::size_t p = 0; p < pixels; ++p) {
      small_[next[pixelRanks[p]]++] = static_cast<std::uint32_t>(p);
    }
  } else {
    large_.resize(pixels);
    for (std::size_t p = 0; p < pixels; ++p) large_[next[pixelRanks[p]]++] = p;
  }
}

void PixelOrder::paint(const SplitTree& tree, std::uint32_t node, std::uint32_t value,
                       const PaintTarget& target) const {
  const std::uint64_t begin = tree.firstPixelOf(node);
  const std::size_t count = tree.pixelsOf(node);
  withFormat(target.format, [&]<PaintFormat F>() {
    if (large_.empty()) {
      paintRun<std::uint32_t, F>(small_.data() + begin, count, value, target);
    } else {
      paintRun<std::uint64_t, F>(large_.data() + begin, count, value, target);
    }
  });
}

}  // namespace tavrel
