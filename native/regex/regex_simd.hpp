// Vectorised "find the next occurrence of one of a few characters" over 1-, 2- and 4-byte text.
// Comment bodies, `.*` runs and `[^)]*` runs end at one known character, and finding it 16 bytes at a
// time is what keeps those spans cheap. SSE2 is part of every x86-64; elsewhere the scalar loop runs.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace tessera::rx::detail {

// First p in [from, n) with t[p] equal to one of c[0..k) (1 <= k <= 3), else n.
template <class Ch>
inline size_t find_any(const Ch* t, size_t from, size_t n, const char32_t* c, int k) {
  size_t p = from;
  if constexpr (sizeof(Ch) == 1) {
    if (k == 1) {
      if (c[0] > 0xFF) return n;
      const void* hit = std::memchr(t + p, static_cast<int>(c[0]), n - p);
      return hit ? static_cast<size_t>(static_cast<const Ch*>(hit) - t) : n;
    }
  }
#if defined(__SSE2__)
  constexpr size_t kLanes = 16 / sizeof(Ch);
  auto splat = [](char32_t v) {
    if constexpr (sizeof(Ch) == 1) {
      return _mm_set1_epi8(static_cast<char>(v > 0xFF ? 0 : v));
    } else if constexpr (sizeof(Ch) == 2) {
      return _mm_set1_epi16(static_cast<short>(v > 0xFFFF ? 0 : v));
    } else {
      return _mm_set1_epi32(static_cast<int>(v));
    }
  };
  auto eq = [](__m128i a, __m128i b) {
    if constexpr (sizeof(Ch) == 1) {
      return _mm_cmpeq_epi8(a, b);
    } else if constexpr (sizeof(Ch) == 2) {
      return _mm_cmpeq_epi16(a, b);
    } else {
      return _mm_cmpeq_epi32(a, b);
    }
  };
  // A needle that cannot occur in this width is replaced by a duplicate of the first one.
  const Ch limit = static_cast<Ch>(~Ch{0});
  char32_t v0 = c[0], v1 = k > 1 ? c[1] : c[0], v2 = k > 2 ? c[2] : c[0];
  if (sizeof(Ch) < 4) {
    if (v1 > limit) v1 = v0;
    if (v2 > limit) v2 = v0;
  }
  const __m128i n0 = splat(v0), n1 = splat(v1), n2 = splat(v2);
  const bool v0_ok = sizeof(Ch) == 4 || v0 <= limit;
  while (p + kLanes <= n) {
    const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(t + p));
    __m128i hit = _mm_or_si128(_mm_or_si128(eq(x, n0), eq(x, n1)), eq(x, n2));
    unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(hit));
    if (mask) {
      for (;;) {
        const unsigned bit = static_cast<unsigned>(__builtin_ctz(mask));
        const size_t q = p + bit / sizeof(Ch);
        const char32_t ch = t[q];
        if ((v0_ok && ch == v0) || (k > 1 && ch == c[1]) || (k > 2 && ch == c[2])) return q;
        mask &= ~((1u << ((bit / sizeof(Ch) + 1) * sizeof(Ch))) - 1);
        if (!mask) break;
      }
    }
    p += kLanes;
  }
#endif
  for (; p < n; ++p) {
    const char32_t ch = t[p];
    for (int i = 0; i < k; ++i)
      if (ch == c[i]) return p;
  }
  return n;
}

}  // namespace tessera::rx::detail
