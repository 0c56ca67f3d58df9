// The engine's colour word: one 24-bit colour packed as R | G << 8 | B << 16,
// bits 24..31 zero.
#pragma once

#include <cstdint>

namespace tavrel {

using PackedColor = std::uint32_t;

}  // namespace tavrel
