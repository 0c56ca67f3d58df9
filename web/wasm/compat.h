// Included first into every source of the WebAssembly build (see build.sh).
// The libc++ of Debian's emscripten 3.1.6 has <bit> without std::bit_cast;
// the compiler's builtin does the same, so the engine keeps its standard
// spelling and the gap is bridged here, in one place, for this build only.
#pragma once

#ifdef __cplusplus
#include <bit>
#include <type_traits>

#if !defined(__cpp_lib_bit_cast)
namespace std {
template <class To, class From>
requires(sizeof(To) == sizeof(From) && is_trivially_copyable_v<To> &&
         is_trivially_copyable_v<From>) constexpr To bit_cast(const From& from) noexcept {
  return __builtin_bit_cast(To, from);
}
}  // namespace std
#endif
#endif
