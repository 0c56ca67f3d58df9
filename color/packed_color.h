// One colour as the engine passes it around: a single 32-bit word, so that
// colour tables stay small and a colour compares and hashes as one integer.
#pragma once

#include <cstdint>

namespace tavrel {

// A 24-bit colour R | G << 8 | B << 16, bits 24..31 zero.
using PackedColor = std::uint32_t;

}  // namespace tavrel
