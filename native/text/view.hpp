// A read-only view of a text's storage in the host's three widths (1, 2 or 4 bytes per code point),
// so that code outside the binding layer can take any string without knowing the interpreter.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tessera::text {

struct View {
  int kind;          // bytes per code point: 1, 2 or 4 (the same numbers as the host's string kinds)
  const void* data;
  size_t size;       // in code points

  // Calls f(const CharT* chars, size_t size) with the character type of the storage.
  template <class F>
  decltype(auto) visit(F&& f) const {
    switch (kind) {
      case 1:
        return f(static_cast<const std::uint8_t*>(data), size);
      case 2:
        return f(static_cast<const std::uint16_t*>(data), size);
      default:
        return f(static_cast<const std::uint32_t*>(data), size);
    }
  }
};

template <class Ch>
inline View view_of(const Ch* chars, size_t size) noexcept {
  static_assert(sizeof(Ch) == 1 || sizeof(Ch) == 2 || sizeof(Ch) == 4);
  return {static_cast<int>(sizeof(Ch)), chars, size};
}

}  // namespace tessera::text
