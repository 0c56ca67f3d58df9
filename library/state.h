// What a Hierarchy and a Cursor hold: the engine's split tree and pixel
// colour numbers, and the checks every call makes of its arguments.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "color/colour_difference.h"
#include "progression/painting.h"
#include "progression/split_tree.h"
#include "tavrel/tavrel.hpp"

namespace tavrel {

struct Hierarchy::State {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  SplitTree tree;
  std::vector<std::uint32_t> pixelRanks;  // leaf rank per pixel, row by row

  // Every rank's colour in CIELAB, made on the first call that paints or
  // measures by nearest colour; labReady says it is there to count.
  const std::vector<LabColor>& labs() const;
  mutable std::once_flag labOnce;
  mutable std::vector<LabColor> lab;
  mutable std::atomic<bool> labReady{false};
};

struct Cursor::State {
  std::shared_ptr<const Hierarchy::State> hierarchy;
  PixelOrder order;
  PaintTarget target;
  std::uint32_t k = 0;
};

// The buffer described by out, checked against the image and k: throws
// InvalidArgument for a null or too small buffer, a bad stride or format, or
// k beyond the colours or the index width.
PaintTarget paintTarget(const Hierarchy::State& state, std::uint32_t k, const Output& out);

// Throws InvalidArgument when k palette entries do not fit the format's index.
void checkIndexWidth(PaintFormat format, std::uint32_t k);

}  // namespace tavrel
