// A row: what the engine keeps of each live cluster between merges, its
// cheapest partner among the older live clusters. The merge queue orders the
// rows, the partner index fills them, the stale-row helper fills them ahead
// of the loop. Why a row stays a lower bound until its partner goes, and is
// exact while the partner lives, is in docs/engine.md.
#pragma once

#include <cstdint>
#include <limits>

namespace tavrel::engine {

constexpr double kInfinity = std::numeric_limits<double>::infinity();
// No cluster: an empty row's partner, an empty slot's owner.
constexpr std::uint32_t kNone = std::numeric_limits<std::uint32_t>::max();

// The cheapest older partner of one cluster; among equal costs the newer
// partner. Keeping more partners per row would repair a row without a search
// when its best one is merged away, but every search must then find more;
// on photos one partner measured cheapest overall.
struct Row {
  double cost = kInfinity;
  std::uint32_t partner = kNone;

  bool empty() const { return partner == kNone; }
  void offer(double c, std::uint32_t y) {
    if (c < cost || (c == cost && y > partner)) {
      cost = c;
      partner = y;
    }
  }
  // The cost a candidate must not exceed to enter the row.
  double limit() const { return cost; }
};

}  // namespace tavrel::engine
