// Bit sets kept as arrays of 64-bit words: bit i is bit i % 64 of word i / 64.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tessera::rx::detail {

inline bool bit_at(const uint64_t* words, size_t i) { return (words[i >> 6] >> (i & 63)) & 1; }
inline void set_bit(uint64_t* words, size_t i) { words[i >> 6] |= uint64_t{1} << (i & 63); }
inline void clear_bit(uint64_t* words, size_t i) { words[i >> 6] &= ~(uint64_t{1} << (i & 63)); }

}  // namespace tessera::rx::detail
