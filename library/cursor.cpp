// The cursor: the image for k in the caller's buffer, moved forward by
// repainting the pixels of each split cluster through the pixel order.
#include <new>
#include <string>

#include "library/state.h"

namespace tavrel {
namespace {

// Brings the target from the image for k to the one for k + 1.
void applyStep(const Cursor::State& c, std::uint32_t step) {
  const SplitTree& t = c.hierarchy->tree;
  const std::uint32_t node = t.splitNode[step];
  const std::uint32_t left = t.leftOf(node), right = t.rightOf(node);
  if (isIndexFormat(c.target.format)) {
    // The left child keeps the split cluster's entry; the right one is new.
    c.order.paint(t, right, step + 1, c.target);
  } else {
    // RGBA pixels carry alpha 255, as painting from scratch writes them.
    const std::uint32_t alpha = c.target.format == PaintFormat::Rgba ? 0xFF000000u : 0;
    c.order.paint(t, left, t.colour[left] | alpha, c.target);
    c.order.paint(t, right, t.colour[right] | alpha, c.target);
  }
}

}  // namespace

Cursor::Cursor(const Hierarchy& hierarchy, std::uint32_t k, const Output& out) {
  const Hierarchy::State& h = *hierarchy.state_;
  const PaintTarget target = paintTarget(h, k, out);
  try {
    state_ = std::make_unique<State>(
        State{hierarchy.state_, PixelOrder(h.tree, h.pixelRanks), target, k});
  } catch (const std::bad_alloc&) {
    throw OutOfMemory("not enough memory for the cursor", h.tree.leafCount);
  }
  paintImage(h.tree, h.pixelRanks, k, target);
}

Cursor::~Cursor() = default;
Cursor::Cursor(Cursor&&) noexcept = default;
Cursor& Cursor::operator=(Cursor&&) noexcept = default;

std::uint32_t Cursor::k() const noexcept {
  return state_ ? state_->k : 0;
}

bool Cursor::next() {
  if (state_->k >= state_->hierarchy->tree.leafCount) return false;
  advanceTo(state_->k + 1);
  return true;
}

void Cursor::advanceTo(std::uint32_t k) {
  State& c = *state_;
  const SplitTree& t = c.hierarchy->tree;
  if (k < c.k || k > t.leafCount) {
    throw InvalidArgument("k = " + std::to_string(k) + " outside " + std::to_string(c.k) + " .. " +
                          std::to_string(t.leafCount));
  }
  checkIndexWidth(c.target.format, k);
  // Where the splits to replay touch much of the image, one pass from
  // scratch writes each pixel once, in order.
  std::uint64_t replay = 0;
  for (std::uint32_t step = c.k - 1; step + 1 < k; ++step) replay += t.pixelsOf(t.splitNode[step]);
  if (replay > t.totalPixels() / 2) {
    paintImage(t, c.hierarchy->pixelRanks, k, c.target);
  } else {
    for (std::uint32_t step = c.k - 1; step + 1 < k; ++step) applyStep(c, step);
  }
  c.k = k;
}

}  // namespace tavrel
