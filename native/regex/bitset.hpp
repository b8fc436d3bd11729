// Bit sets kept as arrays of 64-bit words: bit i is bit i % 64 of word i / 64.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>

namespace tessera::rx::detail {

inline bool bit_at(const uint64_t* words, size_t i) { return (words[i >> 6] >> (i & 63)) & 1; }
inline void set_bit(uint64_t* words, size_t i) { words[i >> 6] |= uint64_t{1} << (i & 63); }
inline void clear_bit(uint64_t* words, size_t i) { words[i >> 6] &= ~(uint64_t{1} << (i & 63)); }

// Sets (on) or clears the bits [from, to): a word at a time between the two ends.
inline void fill_bits(uint64_t* words, size_t from, size_t to, bool on) {
  if (from >= to) return;
  const size_t first = from >> 6, last = (to - 1) >> 6;
  const uint64_t head = ~uint64_t{0} << (from & 63), tail = ~uint64_t{0} >> (63 - ((to - 1) & 63));
  auto apply = [&](size_t w, uint64_t mask) { words[w] = on ? words[w] | mask : words[w] & ~mask; };
  if (first == last) return apply(first, head & tail);
  apply(first, head);
  std::fill(words + first + 1, words + last, on ? ~uint64_t{0} : 0);
  apply(last, tail);
}

}  // namespace tessera::rx::detail
