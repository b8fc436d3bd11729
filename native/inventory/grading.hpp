// Each object graded by the complexity core on exactly its lines, as classify_sql grades them once
// joined into a str of their own. Touches no Python object, so it runs with the GIL released.
//
// A str of its own would be stored in the narrowest width that holds its characters, and the
// complexity core runs markedly faster on narrow storage. A script is often wide for one character
// that no object holds (a byte-order mark, a name in a header comment), so an object whose lines
// fit a narrower width is graded on a narrowed copy: the characters, and hence the counts, are the
// same.
#pragma once

#include "complexity/core.hpp"
#include "inventory/scanner.hpp"
#include "text/sqltext.hpp"
#include "text/view.hpp"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace tessera::inventory {

namespace grading {

// Storage for narrowed copies that a thread keeps from one object, and one call, to the next.
template <class To>
class Buffer {
 public:
  To* get(size_t n) {
    if (n > capacity_ || !data_) {
      // Never empty, so that even an empty copy is handed on as a real address.
      capacity_ = std::max<size_t>(n, 1);
      data_ = std::make_unique_for_overwrite<To[]>(capacity_);
    }
    return data_.get();
  }
  // Storage grown past this by an unusually large object is given back after the call.
  void trim() {
    if (capacity_ > (size_t{1} << 22)) {
      data_.reset();
      capacity_ = 0;
    }
  }

 private:
  std::unique_ptr<To[]> data_;
  size_t capacity_ = 0;
};

struct Scratch {
  Buffer<std::uint8_t> one;
  Buffer<std::uint16_t> two;
};

inline Scratch& scratch() {
  thread_local Scratch instance;
  return instance;
}

// Copies s[0, n) into `out`, each character as a To, unless one of them does not fit a To: then
// false, and `out` holds nothing of use. One pass, a block at a time: the characters are or-ed
// together while they are copied, and the block is checked once.
template <class To, class Ch>
bool narrow_into(const Ch* s, size_t n, To* out) noexcept {
  static_assert(sizeof(To) < sizeof(Ch));
  constexpr uint32_t kMax = static_cast<To>(~To{0});
  constexpr size_t kBlock = 64;
  size_t i = 0;
  for (; i + kBlock <= n; i += kBlock) {
    uint32_t seen = 0;
#if defined(__SSE2__)
    if constexpr (sizeof(Ch) == 2 && sizeof(To) == 1) {
      __m128i any = _mm_setzero_si128();
      for (size_t k = 0; k < kBlock; k += 16) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i + k));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i + k + 8));
        any = _mm_or_si128(any, _mm_or_si128(a, b));
        // Saturation only alters characters above 0xFF, and those fail the block below.
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i + k), _mm_packus_epi16(a, b));
      }
      // Any high byte set in a lane means a character above 0xFF.
      seen = _mm_movemask_epi8(_mm_cmpeq_epi8(_mm_srli_epi16(any, 8), _mm_setzero_si128())) == 0xFFFF ? 0 : kMax + 1;
    } else
#endif
    {
      for (size_t k = 0; k < kBlock; ++k) {
        seen |= s[i + k];
        out[i + k] = static_cast<To>(s[i + k]);
      }
    }
    if (seen > kMax) return false;
  }
  uint32_t seen = 0;
  for (; i < n; ++i) {
    seen |= s[i];
    out[i] = static_cast<To>(s[i]);
  }
  return seen <= kMax;
}

// The counts of classify_sql for s[0, n), on the narrowest storage that holds it.
template <class Ch>
complexity::Counts count_narrowest(const Ch* s, size_t n, Scratch& scratch) {
  if constexpr (sizeof(Ch) > 1) {
    std::uint8_t* one = scratch.one.get(n);
    if (narrow_into(s, n, one)) return complexity::count(text::view_of(one, n));
  }
  if constexpr (sizeof(Ch) > 2) {
    std::uint16_t* two = scratch.two.get(n);
    if (narrow_into(s, n, two)) return complexity::count(text::view_of(two, n));
  }
  return complexity::count(text::view_of(s, n));
}

}  // namespace grading

// The counts of each object of `inv` (found in s[0, n)), in order: classify_sql's counts for the
// object's lines as they stand in the file, up to the end of its last line (its line break left out).
template <class Ch>
std::vector<complexity::Counts> grade(const Ch* s, size_t n, const Inventory& inv) {
  grading::Scratch& scratch = grading::scratch();
  std::vector<complexity::Counts> counts;
  counts.reserve(inv.objects.size());
  for (const Object& o : inv.objects) {
    const size_t end = text::find_line_break(s, o.last_begin, n);
    counts.push_back(grading::count_narrowest(s + o.begin, end - o.begin, scratch));
  }
  scratch.one.trim();
  scratch.two.trim();
  return counts;
}

}  // namespace tessera::inventory
