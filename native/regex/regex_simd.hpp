// Vectorised "find the next occurrence of one of a few characters" over 1-, 2- and 4-byte text.
// Comment bodies, `.*` runs and `[^)]*` runs end at one known character, and finding it 16 bytes at a
// time is what keeps those spans cheap. SSE2 is part of every x86-64, AVX2 is taken where the CPU has
// it (isa.hpp); elsewhere the scalar loop runs.
#pragma once
#include "isa.hpp"

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define TESSERA_SIMD_X86 1
#endif

namespace tessera::rx::detail {

#ifdef TESSERA_SIMD_X86
// 32 characters of any width as 32 bytes, in order. A character above U+00FF becomes 0x00 or 0xFF
// (signed saturation, then unsigned), so compared with a byte from 0x01 to 0xFE it never matches;
// `high` collects the wide characters' bits for callers that must know whether any occurred.
template <class Ch>
__attribute__((target("avx2"))) inline __m256i narrow32(const Ch* p, __m256i& high) {
  if constexpr (sizeof(Ch) == 1) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
  } else if constexpr (sizeof(Ch) == 2) {
    const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
    const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 16));
    high = _mm256_or_si256(high, _mm256_or_si256(a, b));
    // The pack works within 128-bit lanes; the permutation puts the four quarters back in order.
    return _mm256_permute4x64_epi64(_mm256_packus_epi16(a, b), 0xD8);
  } else {
    const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
    const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 8));
    const __m256i c = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 16));
    const __m256i d = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 24));
    high = _mm256_or_si256(high, _mm256_or_si256(_mm256_or_si256(a, b), _mm256_or_si256(c, d)));
    const __m256i bytes = _mm256_packus_epi16(_mm256_packs_epi32(a, b), _mm256_packs_epi32(c, d));
    return _mm256_permutevar8x32_epi32(bytes, _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7));
  }
}

// First p in [from, n) with t[p] equal to a, b or c, each from 0x01 to 0xFE, else n: 32 characters
// a step in every width, where comparing in the text's own width would take 8 four-byte ones.
template <class Ch>
__attribute__((target("avx2"))) size_t find_bytes_avx2(const Ch* t, size_t p, size_t n, char a, char b, char c) {
  const __m256i va = _mm256_set1_epi8(a), vb = _mm256_set1_epi8(b), vc = _mm256_set1_epi8(c);
  for (; p + 32 <= n; p += 32) {
    __m256i high = _mm256_setzero_si256();
    const __m256i v = narrow32(t + p, high);
    const __m256i hit = _mm256_or_si256(_mm256_or_si256(_mm256_cmpeq_epi8(v, va), _mm256_cmpeq_epi8(v, vb)),
                                        _mm256_cmpeq_epi8(v, vc));
    if (const auto bits = static_cast<unsigned>(_mm256_movemask_epi8(hit))) return p + std::countr_zero(bits);
  }
  for (; p < n; ++p)
    if (t[p] == Ch(static_cast<unsigned char>(a)) || t[p] == Ch(static_cast<unsigned char>(b)) ||
        t[p] == Ch(static_cast<unsigned char>(c)))
      return p;
  return n;
}
#endif

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
#ifdef TESSERA_SIMD_X86
  if (n - p >= 64) {
    const char32_t c1 = k > 1 ? c[1] : c[0], c2 = k > 2 ? c[2] : c[0];
    auto narrow = [](char32_t v) { return v - 1 < 0xFE; };
    if (narrow(c[0]) && narrow(c1) && narrow(c2) && isa::current() >= isa::Level::AVX2)
      return find_bytes_avx2(t, p, n, static_cast<char>(c[0]), static_cast<char>(c1), static_cast<char>(c2));
  }
#endif
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

// Copies t[i, n) of a 2- or 4-byte text to out[i, n) while its characters are Latin-1; returns where
// the first wider one stands (or n). 32 characters a step with AVX2, 16 with SSE2.
template <class Ch>
size_t narrow_latin1_scalar(const Ch* t, size_t i, size_t n, uint8_t* out) noexcept {
  for (; i < n && t[i] < 256; ++i) out[i] = static_cast<uint8_t>(t[i]);
  return i;
}

#if defined(__SSE2__)
template <class Ch>
size_t narrow_latin1_sse2(const Ch* t, size_t i, size_t n, uint8_t* out) noexcept {
  const __m128i zero = _mm_setzero_si128();
  for (; i + 16 <= n; i += 16) {
    const __m128i* p = reinterpret_cast<const __m128i*>(t + i);
    __m128i bytes;
    if constexpr (sizeof(Ch) == 2) {
      const __m128i a = _mm_loadu_si128(p), b = _mm_loadu_si128(p + 1);
      const __m128i high = _mm_and_si128(_mm_or_si128(a, b), _mm_set1_epi16(static_cast<short>(0xFF00)));
      if (_mm_movemask_epi8(_mm_cmpeq_epi8(high, zero)) != 0xFFFF) break;
      bytes = _mm_packus_epi16(a, b);
    } else {
      const __m128i a = _mm_loadu_si128(p), b = _mm_loadu_si128(p + 1), c = _mm_loadu_si128(p + 2),
                    d = _mm_loadu_si128(p + 3);
      const __m128i all = _mm_or_si128(_mm_or_si128(a, b), _mm_or_si128(c, d));
      const __m128i high = _mm_and_si128(all, _mm_set1_epi32(static_cast<int>(0xFFFFFF00u)));
      if (_mm_movemask_epi8(_mm_cmpeq_epi8(high, zero)) != 0xFFFF) break;
      // Every lane is below 256: the signed packs keep them as they are.
      bytes = _mm_packus_epi16(_mm_packs_epi32(a, b), _mm_packs_epi32(c, d));
    }
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), bytes);
  }
  return narrow_latin1_scalar(t, i, n, out);
}
#endif

#ifdef TESSERA_SIMD_X86
template <class Ch>
__attribute__((target("avx2"))) size_t narrow_latin1_avx2(const Ch* t, size_t i, size_t n, uint8_t* out) noexcept {
  const __m256i wide = sizeof(Ch) == 2 ? _mm256_set1_epi16(static_cast<short>(0xFF00))
                                       : _mm256_set1_epi32(static_cast<int>(0xFFFFFF00u));
  for (; i + 32 <= n; i += 32) {
    __m256i high = _mm256_setzero_si256();
    const __m256i bytes = narrow32(t + i, high);
    if (!_mm256_testz_si256(high, wide)) break;
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + i), bytes);
  }
  return narrow_latin1_scalar(t, i, n, out);
}
#endif

template <class Ch>
size_t narrow_latin1(const Ch* t, size_t i, size_t n, uint8_t* out) noexcept {
  static_assert(sizeof(Ch) > 1);
#ifdef TESSERA_SIMD_X86
  if (isa::current() >= isa::Level::AVX2) return narrow_latin1_avx2(t, i, n, out);
#endif
#if defined(__SSE2__)
  if (isa::current() >= isa::Level::SSE2) return narrow_latin1_sse2(t, i, n, out);
#endif
  return narrow_latin1_scalar(t, i, n, out);
}

}  // namespace tessera::rx::detail
