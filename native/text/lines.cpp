// Counting the lines that hold something other than whitespace, 64 characters at a time: each block
// becomes two bit masks (line boundaries, and characters that are not whitespace), and a line counts
// when the first of those events after its start is a non-space character. One addition finds, for
// every line start of the block at once, the first event after it (the carry runs through the
// whitespace in between, and on into the next block), so the count costs a few instructions per block
// and nothing per line.
#include "regex/isa.hpp"
#include "regex/regex_simd.hpp"
#include "text/sqltext.hpp"

#include <algorithm>
#include <bit>
#include <cstdint>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define TESSERA_TEXT_X86 1
#endif

namespace tessera::text {
namespace {

struct Masks {
  std::uint64_t breaks = 0;  // line boundaries of str.splitlines
  std::uint64_t ink = 0;     // characters that are not whitespace
};

template <class Ch>
Masks scalar_masks(const Ch* p, size_t m) noexcept {
  Masks k;
  for (size_t j = 0; j < m; ++j) {
    const Ch c = p[j];
    if (is_break_char(c))
      k.breaks |= std::uint64_t{1} << j;
    else if (!(classes(c) & kSpace))
      k.ink |= std::uint64_t{1} << j;
  }
  return k;
}

class Counter {
 public:
  // Blocks in text order; positions past the text's end have neither bit.
  void add(const Masks& k) noexcept {
    const std::uint64_t gaps = ~(k.breaks | k.ink);
    const std::uint64_t starts = (k.breaks << 1) | top_break_;
    top_break_ = k.breaks >> 63;
    // A start on whitespace carries through its run to the first event after it; a start on an event
    // is its own first event. The carry out of the block is a run still open at its end.
    const std::uint64_t a = starts & gaps;
    const std::uint64_t sum = a + gaps;
    const std::uint64_t with_carry = sum + carry_;
    carry_ = (sum < a) | (with_carry < sum);
    const std::uint64_t first_events = (with_carry | starts) & ~gaps;
    count_ += static_cast<size_t>(std::popcount(first_events & k.ink));
  }
  size_t count() const noexcept { return count_; }

 private:
  std::uint64_t top_break_ = 1;  // the text itself starts a line
  std::uint64_t carry_ = 0;
  size_t count_ = 0;
};

// The line boundaries that end in s[from, to): every boundary character there but the "\r" of a "\r\n",
// which the pair's "\n" stands for.
template <class Ch>
size_t count_breaks_scalar(const Ch* s, size_t from, size_t to, size_t n) noexcept {
  size_t count = 0;
  for (size_t i = from; i < to; ++i)
    count += is_break_char(s[i]) && !(s[i] == Ch('\r') && i + 1 < n && s[i + 1] == Ch('\n'));
  return count;
}

template <class Ch>
size_t count_scalar(const Ch* s, size_t n) noexcept {
  Counter counter;
  for (size_t i = 0; i < n; i += 64) counter.add(scalar_masks(s + i, std::min<size_t>(64, n - i)));
  return counter.count();
}

// Whether s[j], s[j + 1] is the pair a or the pair b, where s[j + 1] exists only below `avail`.
template <class Ch>
inline bool pair_at(const Ch* s, size_t j, size_t avail, const char* a, const char* b) noexcept {
  return j + 1 < avail && ((s[j] == Ch(a[0]) && s[j + 1] == Ch(a[1])) || (s[j] == Ch(b[0]) && s[j + 1] == Ch(b[1])));
}

template <class Ch>
size_t narrow_until_pair_scalar(const Ch* s, size_t k, size_t avail, Py_UCS1* out, const char* a,
                                const char* b) noexcept {
  size_t i = 0;
  for (; i < k; ++i) {
    const Ch c = s[i];
    if (c > 0xFF || pair_at(s, i, avail, a, b)) break;
    out[i] = static_cast<Py_UCS1>(c);
  }
  return i;
}

template <class Ch>
size_t find_pair_scalar(const Ch* s, size_t i, size_t n, const char* a, const char* b) noexcept {
  for (; i + 1 < n; ++i)
    if (pair_at(s, i, n, a, b)) return i;
  return n;
}

#ifdef TESSERA_TEXT_X86

// ---- SSE2: 16 characters per vector, narrowed to bytes ---------------------------------------------

inline __m128i in_range(__m128i v, char lo, char count) {
  return _mm_cmpeq_epi8(_mm_subs_epu8(_mm_sub_epi8(v, _mm_set1_epi8(lo)), _mm_set1_epi8(static_cast<char>(count - 1))),
                        _mm_setzero_si128());
}

// The same for two-byte lanes.
inline __m128i in_range16(__m128i v, short lo, short count) {
  return _mm_cmpeq_epi16(_mm_subs_epu16(_mm_sub_epi16(v, _mm_set1_epi16(lo)), _mm_set1_epi16(static_cast<short>(count - 1))),
                         _mm_setzero_si128());
}

// The line boundaries among 16 one-byte characters (the Latin-1 answers of str.splitlines).
inline __m128i breaks16(__m128i v) {
  return _mm_or_si128(_mm_or_si128(in_range(v, 0x0A, 4), in_range(v, 0x1C, 3)),
                      _mm_cmpeq_epi8(v, _mm_set1_epi8(static_cast<char>(0x85))));
}

// Bits of 16 one-byte characters: (breaks, spaces) in the Latin-1 range.
inline void classify16(__m128i v, std::uint32_t& breaks, std::uint32_t& spaces) {
  const __m128i nel = _mm_cmpeq_epi8(v, _mm_set1_epi8(static_cast<char>(0x85)));
  const __m128i brk = breaks16(v);
  const __m128i spc = _mm_or_si128(_mm_or_si128(in_range(v, 0x09, 5), in_range(v, 0x1C, 5)),
                                   _mm_or_si128(nel, _mm_cmpeq_epi8(v, _mm_set1_epi8(static_cast<char>(0xA0)))));
  breaks = static_cast<std::uint32_t>(_mm_movemask_epi8(brk));
  spaces = static_cast<std::uint32_t>(_mm_movemask_epi8(spc));
}

// 16 characters as bytes; `high` collects bits of characters above U+00FF, whose byte is meaningless.
template <class Ch>
inline __m128i narrow16(const Ch* p, __m128i& high) {
  if constexpr (sizeof(Ch) == 1) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  } else if constexpr (sizeof(Ch) == 2) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 8));
    high = _mm_or_si128(high, _mm_or_si128(a, b));
    return _mm_packus_epi16(a, b);
  } else {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 4));
    const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 8));
    const __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 12));
    high = _mm_or_si128(high, _mm_or_si128(_mm_or_si128(a, b), _mm_or_si128(c, d)));
    // Code points are below 2**31, so the signed pack keeps every value up to 0xFF exact.
    return _mm_packus_epi16(_mm_packs_epi32(a, b), _mm_packs_epi32(c, d));
  }
}

template <class Ch>
inline bool any_high(__m128i high) {
  if constexpr (sizeof(Ch) == 1) {
    return false;
  } else {
    const __m128i mask = sizeof(Ch) == 2 ? _mm_set1_epi16(static_cast<short>(0xFF00)) : _mm_set1_epi32(~0xFF);
    return _mm_movemask_epi8(_mm_cmpeq_epi8(_mm_and_si128(high, mask), _mm_setzero_si128())) != 0xFFFF;
  }
}

template <class Ch>
size_t count_sse2(const Ch* s, size_t n) noexcept {
  Counter counter;
  size_t i = 0;
  for (; i + 64 <= n; i += 64) {
    __m128i high = _mm_setzero_si128();
    std::uint64_t breaks = 0, spaces = 0;
    for (int q = 0; q < 4; ++q) {
      std::uint32_t b, sp;
      classify16(narrow16(s + i + 16 * q, high), b, sp);
      breaks |= std::uint64_t{b} << (16 * q);
      spaces |= std::uint64_t{sp} << (16 * q);
    }
    counter.add(any_high<Ch>(high) ? scalar_masks(s + i, 64) : Masks{breaks, ~(spaces | breaks)});
  }
  if (i < n) counter.add(scalar_masks(s + i, n - i));
  return counter.count();
}

// ---- AVX2: 32 characters per vector ----------------------------------------------------------------

// Both classes of 32 characters from two nibble lookups: the class bits of a byte are those its low
// nibble's entry and its high nibble's entry share. Line boundaries: 0A-0D, 1C-1E, 85; whitespace:
// those, 09, 1F, 20 and A0 (the Latin-1 answers of str.splitlines and str.isspace).
enum : char { kBreak0 = 1, kBreak1 = 2, kNel = 4, kSpace0 = 8, kSpace1 = 16, kSpace2 = 32 };
constexpr char kBreakBits = kBreak0 | kBreak1 | kNel, kSpaceBits = kSpace0 | kSpace1 | kSpace2 | kNel;

// Every CPU with AVX2 has POPCNT, which the plain x86-64 build cannot assume.
template <class Ch>
__attribute__((target("avx2,popcnt"))) size_t count_avx2(const Ch* s, size_t n) noexcept {
  const __m256i lo_table = _mm256_broadcastsi128_si256(_mm_setr_epi8(
      kSpace2, 0, 0, 0, 0, kNel, 0, 0, 0, kSpace0, kBreak0 | kSpace0, kBreak0 | kSpace0,
      kBreak0 | kSpace0 | kBreak1 | kSpace1, kBreak0 | kSpace0 | kBreak1 | kSpace1, kBreak1 | kSpace1, kSpace1));
  const __m256i hi_table = _mm256_broadcastsi128_si256(_mm_setr_epi8(
      kBreak0 | kSpace0, kBreak1 | kSpace1, kSpace2, 0, 0, 0, 0, 0, kNel, 0, kSpace2, 0, 0, 0, 0, 0));
  const __m256i nibble = _mm256_set1_epi8(0x0F), zero = _mm256_setzero_si256();
  const __m256i break_bits = _mm256_set1_epi8(kBreakBits), space_bits = _mm256_set1_epi8(kSpaceBits);
  Counter counter;
  size_t i = 0;
  for (; i + 64 <= n; i += 64) {
    __m256i high = _mm256_setzero_si256();
    std::uint64_t breaks = 0, spaces = 0;
    for (int q = 0; q < 2; ++q) {
      const __m256i v = rx::detail::narrow32(s + i + 32 * q, high);
      const __m256i cls = _mm256_and_si256(_mm256_shuffle_epi8(lo_table, _mm256_and_si256(v, nibble)),
                                           _mm256_shuffle_epi8(hi_table, _mm256_and_si256(_mm256_srli_epi16(v, 4), nibble)));
      const auto not_break = static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(_mm256_and_si256(cls, break_bits), zero)));
      const auto not_space = static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(_mm256_and_si256(cls, space_bits), zero)));
      breaks |= std::uint64_t{~not_break} << (32 * q);
      spaces |= std::uint64_t{~not_space} << (32 * q);
    }
    bool high_seen = false;
    if constexpr (sizeof(Ch) > 1) {
      const __m256i mask =
          sizeof(Ch) == 2 ? _mm256_set1_epi16(static_cast<short>(0xFF00)) : _mm256_set1_epi32(~0xFF);
      high_seen = !_mm256_testz_si256(high, mask);
    }
    counter.add(high_seen ? scalar_masks(s + i, 64) : Masks{breaks, ~(spaces | breaks)});
  }
  if (i < n) counter.add(scalar_masks(s + i, n - i));
  return counter.count();
}

// ---- finding one of two ASCII characters -------------------------------------------------------------

template <class Ch>
size_t find_either_sse2(const Ch* s, size_t i, size_t n, char a, char b) noexcept {
  const __m128i va = _mm_set1_epi8(a), vb = _mm_set1_epi8(b);
  for (; i + 16 <= n; i += 16) {
    // Narrowed characters above U+00FF become 0x00 or 0xFF, never an ASCII character looked for.
    __m128i high = _mm_setzero_si128();
    const __m128i v = narrow16(s + i, high);
    const int hits = _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(v, va), _mm_cmpeq_epi8(v, vb)));
    if (hits) return i + static_cast<size_t>(std::countr_zero(static_cast<unsigned>(hits)));
  }
  for (; i < n; ++i)
    if (s[i] == Ch(a) || s[i] == Ch(b)) return i;
  return n;
}

// ---- finding one of two ASCII pairs ------------------------------------------------------------------

// The byte at p[k] as narrow16 and narrow32 give it, but for pairs only: 0 for any wider character.
template <class Ch>
inline char pair_byte(const Ch* p, size_t k) {
  const Py_UCS4 c = p[k];
  return static_cast<char>(c > 0xFF ? 0 : c);
}

// The second characters of the pairs that begin at v's 16 characters p[0, 16): v moved one place
// on, with p[16] coming in last. Wide storage is not read a second time for them.
template <class Ch>
inline __m128i next16(const Ch* p, __m128i v) {
  if constexpr (sizeof(Ch) == 1) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 1));
  } else {
    return _mm_or_si128(_mm_srli_si128(v, 1), _mm_slli_si128(_mm_cvtsi32_si128(pair_byte(p, 16) & 0xFF), 15));
  }
}

template <class Ch>
__attribute__((target("avx2"))) inline __m256i next32(const Ch* p, __m256i v) {
  if constexpr (sizeof(Ch) == 1) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 1));
  } else {
    // [v's high half, p[32]], then each lane shifted by one byte with the next lane's first byte in.
    const __m256i on = _mm256_permute2x128_si256(v, _mm256_set1_epi8(pair_byte(p, 32)), 0x21);
    return _mm256_alignr_epi8(on, v, 1);
  }
}

// The characters at i and at i + 1 are narrowed and compared separately: a lone "-" or "/", common in
// code, then costs nothing, where a search for single characters would stop at each one.
template <class Ch>
size_t find_pair_sse2(const Ch* s, size_t i, size_t n, const char* a, const char* b) noexcept {
  const __m128i a0 = _mm_set1_epi8(a[0]), a1 = _mm_set1_epi8(a[1]), b0 = _mm_set1_epi8(b[0]), b1 = _mm_set1_epi8(b[1]);
  for (; i + 17 <= n; i += 16) {
    __m128i high = _mm_setzero_si128();
    const __m128i v = narrow16(s + i, high), w = next16(s + i, v);
    const __m128i hit = _mm_or_si128(_mm_and_si128(_mm_cmpeq_epi8(v, a0), _mm_cmpeq_epi8(w, a1)),
                                     _mm_and_si128(_mm_cmpeq_epi8(v, b0), _mm_cmpeq_epi8(w, b1)));
    if (const int bits = _mm_movemask_epi8(hit)) return i + static_cast<size_t>(std::countr_zero(static_cast<unsigned>(bits)));
  }
  return find_pair_scalar(s, i, n, a, b);
}

template <class Ch>
__attribute__((target("avx2"))) size_t find_pair_avx2(const Ch* s, size_t i, size_t n, const char* a,
                                                      const char* b) noexcept {
  const __m256i a0 = _mm256_set1_epi8(a[0]), a1 = _mm256_set1_epi8(a[1]);
  const __m256i b0 = _mm256_set1_epi8(b[0]), b1 = _mm256_set1_epi8(b[1]);
  for (; i + 33 <= n; i += 32) {
    __m256i high = _mm256_setzero_si256();
    const __m256i v = rx::detail::narrow32(s + i, high), w = next32(s + i, v);
    const __m256i hit = _mm256_or_si256(_mm256_and_si256(_mm256_cmpeq_epi8(v, a0), _mm256_cmpeq_epi8(w, a1)),
                                        _mm256_and_si256(_mm256_cmpeq_epi8(v, b0), _mm256_cmpeq_epi8(w, b1)));
    if (const auto bits = static_cast<unsigned>(_mm256_movemask_epi8(hit))) return i + std::countr_zero(bits);
  }
  return find_pair_sse2(s, i, n, a, b);
}

// One read of the wide storage both copies and searches: the bytes are packed anyway to be compared,
// so storing them costs one more instruction per 16 characters.
template <class Ch>
size_t narrow_until_pair_sse2(const Ch* s, size_t k, size_t avail, Py_UCS1* out, const char* a,
                              const char* b) noexcept {
  const __m128i a0 = _mm_set1_epi8(a[0]), a1 = _mm_set1_epi8(a[1]), b0 = _mm_set1_epi8(b[0]), b1 = _mm_set1_epi8(b[1]);
  size_t i = 0;
  for (; i + 16 <= k && i + 17 <= avail; i += 16) {
    __m128i high = _mm_setzero_si128();
    const __m128i v = narrow16(s + i, high);
    if (any_high<Ch>(high)) break;
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), v);
    const __m128i w = next16(s + i, v);
    const __m128i hit = _mm_or_si128(_mm_and_si128(_mm_cmpeq_epi8(v, a0), _mm_cmpeq_epi8(w, a1)),
                                     _mm_and_si128(_mm_cmpeq_epi8(v, b0), _mm_cmpeq_epi8(w, b1)));
    if (const int bits = _mm_movemask_epi8(hit)) return i + static_cast<size_t>(std::countr_zero(static_cast<unsigned>(bits)));
  }
  return i + narrow_until_pair_scalar(s + i, k - i, avail - i, out + i, a, b);
}

template <class Ch>
__attribute__((target("avx2"))) size_t narrow_until_pair_avx2(const Ch* s, size_t k, size_t avail, Py_UCS1* out,
                                                              const char* a, const char* b) noexcept {
  const __m256i a0 = _mm256_set1_epi8(a[0]), a1 = _mm256_set1_epi8(a[1]);
  const __m256i b0 = _mm256_set1_epi8(b[0]), b1 = _mm256_set1_epi8(b[1]);
  const __m256i wide =
      sizeof(Ch) == 2 ? _mm256_set1_epi16(static_cast<short>(0xFF00)) : _mm256_set1_epi32(~0xFF);
  size_t i = 0;
  for (; i + 32 <= k && i + 33 <= avail; i += 32) {
    __m256i high = _mm256_setzero_si256();
    const __m256i v = rx::detail::narrow32(s + i, high);
    if (!_mm256_testz_si256(high, wide)) break;
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + i), v);
    const __m256i w = next32(s + i, v);
    const __m256i hit = _mm256_or_si256(_mm256_and_si256(_mm256_cmpeq_epi8(v, a0), _mm256_cmpeq_epi8(w, a1)),
                                        _mm256_and_si256(_mm256_cmpeq_epi8(v, b0), _mm256_cmpeq_epi8(w, b1)));
    if (const auto bits = static_cast<unsigned>(_mm256_movemask_epi8(hit))) return i + std::countr_zero(bits);
  }
  return i + narrow_until_pair_sse2(s + i, k - i, avail - i, out + i, a, b);
}


// ---- counting line boundaries -------------------------------------------------------------------------

// Lanes of v (16 bytes of characters) that count as line boundaries: every boundary character but the
// "\r" of a "\r\n" (w holds the characters after v's), so that a pair counts once, at its "\n".
template <class Ch>
inline __m128i counted_breaks16(__m128i v, __m128i w) {
  if constexpr (sizeof(Ch) == 1) {
    const __m128i crlf = _mm_and_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8('\r')), _mm_cmpeq_epi8(w, _mm_set1_epi8('\n')));
    return _mm_andnot_si128(crlf, breaks16(v));
  } else {
    const __m128i brk = _mm_or_si128(_mm_or_si128(in_range16(v, 0x0A, 4), in_range16(v, 0x1C, 3)),
                                     _mm_or_si128(in_range16(v, 0x2028, 2), _mm_cmpeq_epi16(v, _mm_set1_epi16(0x85))));
    const __m128i crlf = _mm_and_si128(_mm_cmpeq_epi16(v, _mm_set1_epi16('\r')), _mm_cmpeq_epi16(w, _mm_set1_epi16('\n')));
    return _mm_andnot_si128(crlf, brk);
  }
}

// The lanes count in bytes (one byte each, or a byte pair), summed every 255 blocks before they can
// overflow: one subtraction per block rather than a mask extraction and a population count.
template <class Ch>
size_t count_breaks_sse2(const Ch* s, size_t i, size_t to, size_t n) noexcept {
  constexpr size_t kLanes = 16 / sizeof(Ch);
  // A block reads the character after it as well, so blocks stop before the text's last one.
  const size_t stop = std::min(to, n - 1);
  size_t count = 0;
  while (i + kLanes <= stop) {
    __m128i acc = _mm_setzero_si128();
    for (int k = 0; k < 255 && i + kLanes <= stop; ++k, i += kLanes) {
      const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i));
      const __m128i w = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i + 1));
      acc = _mm_sub_epi8(acc, counted_breaks16<Ch>(v, w));
    }
    // A two-byte lane holds its count twice, once in each byte.
    const __m128i sums = _mm_sad_epu8(acc, _mm_setzero_si128());
    const size_t both = static_cast<size_t>(_mm_cvtsi128_si64(sums)) + static_cast<size_t>(_mm_cvtsi128_si64(_mm_unpackhi_epi64(sums, sums)));
    count += both / sizeof(Ch);
  }
  return count + count_breaks_scalar(s, i, to, n);
}

// in_range and in_range16 on 32 bytes.
__attribute__((target("avx2"))) inline __m256i in_range32(__m256i v, char lo, char count) {
  return _mm256_cmpeq_epi8(_mm256_subs_epu8(_mm256_sub_epi8(v, _mm256_set1_epi8(lo)), _mm256_set1_epi8(static_cast<char>(count - 1))),
                           _mm256_setzero_si256());
}
__attribute__((target("avx2"))) inline __m256i in_range32x16(__m256i v, short lo, short count) {
  return _mm256_cmpeq_epi16(
      _mm256_subs_epu16(_mm256_sub_epi16(v, _mm256_set1_epi16(lo)), _mm256_set1_epi16(static_cast<short>(count - 1))),
      _mm256_setzero_si256());
}

template <class Ch>
__attribute__((target("avx2"))) inline __m256i counted_breaks32(__m256i v, __m256i w) {
  if constexpr (sizeof(Ch) == 1) {
    const __m256i brk = _mm256_or_si256(_mm256_or_si256(in_range32(v, 0x0A, 4), in_range32(v, 0x1C, 3)),
                                        _mm256_cmpeq_epi8(v, _mm256_set1_epi8(static_cast<char>(0x85))));
    const __m256i crlf =
        _mm256_and_si256(_mm256_cmpeq_epi8(v, _mm256_set1_epi8('\r')), _mm256_cmpeq_epi8(w, _mm256_set1_epi8('\n')));
    return _mm256_andnot_si256(crlf, brk);
  } else {
    const __m256i brk = _mm256_or_si256(_mm256_or_si256(in_range32x16(v, 0x0A, 4), in_range32x16(v, 0x1C, 3)),
                                        _mm256_or_si256(in_range32x16(v, 0x2028, 2), _mm256_cmpeq_epi16(v, _mm256_set1_epi16(0x85))));
    const __m256i crlf =
        _mm256_and_si256(_mm256_cmpeq_epi16(v, _mm256_set1_epi16('\r')), _mm256_cmpeq_epi16(w, _mm256_set1_epi16('\n')));
    return _mm256_andnot_si256(crlf, brk);
  }
}

template <class Ch>
__attribute__((target("avx2"))) size_t count_breaks_avx2(const Ch* s, size_t i, size_t to, size_t n) noexcept {
  constexpr size_t kLanes = 32 / sizeof(Ch);
  const size_t stop = std::min(to, n - 1);
  size_t count = 0;
  while (i + kLanes <= stop) {
    __m256i acc = _mm256_setzero_si256();
    for (int k = 0; k < 255 && i + kLanes <= stop; ++k, i += kLanes) {
      const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s + i));
      const __m256i w = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s + i + 1));
      acc = _mm256_sub_epi8(acc, counted_breaks32<Ch>(v, w));
    }
    const __m256i sums = _mm256_sad_epu8(acc, _mm256_setzero_si256());
    const __m128i half = _mm_add_epi64(_mm256_castsi256_si128(sums), _mm256_extracti128_si256(sums, 1));
    count += (static_cast<size_t>(_mm_cvtsi128_si64(half)) + static_cast<size_t>(_mm_extract_epi64(half, 1))) / sizeof(Ch);
  }
  return count + count_breaks_sse2(s, i, to, n);
}

#endif

}  // namespace

template <class Ch>
size_t narrow_until_pair(const Ch* s, size_t k, size_t avail, Py_UCS1* out, const char* a, const char* b) noexcept {
#ifdef TESSERA_TEXT_X86
  const isa::Level level = isa::current();
  if (level >= isa::Level::AVX2) return narrow_until_pair_avx2(s, k, avail, out, a, b);
  if (level >= isa::Level::SSE2) return narrow_until_pair_sse2(s, k, avail, out, a, b);
#endif
  return narrow_until_pair_scalar(s, k, avail, out, a, b);
}

template size_t narrow_until_pair(const std::uint16_t*, size_t, size_t, Py_UCS1*, const char*, const char*) noexcept;
template size_t narrow_until_pair(const std::uint32_t*, size_t, size_t, Py_UCS1*, const char*, const char*) noexcept;

template <class Ch>
size_t find_either(const Ch* s, size_t i, size_t n, char a, char b) noexcept {
#ifdef TESSERA_TEXT_X86
  const isa::Level level = isa::current();
  if (level >= isa::Level::AVX2) return rx::detail::find_bytes_avx2(s, i, n, a, b, b);
  if (level >= isa::Level::SSE2) return find_either_sse2(s, i, n, a, b);
#endif
  for (; i < n; ++i)
    if (s[i] == Ch(a) || s[i] == Ch(b)) return i;
  return n;
}

template size_t find_either(const std::uint8_t*, size_t, size_t, char, char) noexcept;
template size_t find_either(const std::uint16_t*, size_t, size_t, char, char) noexcept;
template size_t find_either(const std::uint32_t*, size_t, size_t, char, char) noexcept;

template <class Ch>
size_t find_among_scalar(const Ch* s, size_t i, size_t n, const AsciiSet& set) noexcept {
  for (; i < n; ++i)
    if (set.contains(s[i])) return i;
  return n;
}

#ifdef TESSERA_TEXT_X86
template <class Ch>
__attribute__((target("avx2"))) size_t find_among_avx2(const Ch* s, size_t i, size_t n, const AsciiSet& set) noexcept {
  const __m256i lo = _mm256_broadcastsi128_si256(_mm_load_si128(reinterpret_cast<const __m128i*>(set.by_low_nibble())));
  const __m256i hi = _mm256_broadcastsi128_si256(_mm_load_si128(reinterpret_cast<const __m128i*>(set.by_high_nibble())));
  const __m256i nibble = _mm256_set1_epi8(0x0F), zero = _mm256_setzero_si256();
  for (; i + 32 <= n; i += 32) {
    // Narrowed characters above U+00FF become 0x00 or 0xFF, neither of them ASCII nor a member.
    __m256i high = _mm256_setzero_si256();
    const __m256i v = rx::detail::narrow32(s + i, high);
    const __m256i shared = _mm256_and_si256(_mm256_shuffle_epi8(lo, _mm256_and_si256(v, nibble)),
                                            _mm256_shuffle_epi8(hi, _mm256_and_si256(_mm256_srli_epi16(v, 4), nibble)));
    const auto none = static_cast<unsigned>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(shared, zero)));
    if (none != ~0u) return i + std::countr_zero(~none);
  }
  return find_among_scalar(s, i, n, set);
}
#endif

template <class Ch>
size_t find_among(const Ch* s, size_t i, size_t n, const AsciiSet& set) noexcept {
#ifdef TESSERA_TEXT_X86
  if (isa::current() >= isa::Level::AVX2) return find_among_avx2(s, i, n, set);
#endif
  return find_among_scalar(s, i, n, set);
}

template size_t find_among(const std::uint8_t*, size_t, size_t, const AsciiSet&) noexcept;
template size_t find_among(const std::uint16_t*, size_t, size_t, const AsciiSet&) noexcept;
template size_t find_among(const std::uint32_t*, size_t, size_t, const AsciiSet&) noexcept;

template <class Ch>
size_t find_pair(const Ch* s, size_t i, size_t n, const char* a, const char* b) noexcept {
#ifdef TESSERA_TEXT_X86
  const isa::Level level = isa::current();
  if (level >= isa::Level::AVX2) return find_pair_avx2(s, i, n, a, b);
  if (level >= isa::Level::SSE2) return find_pair_sse2(s, i, n, a, b);
#endif
  return find_pair_scalar(s, i, n, a, b);
}

template size_t find_pair(const std::uint8_t*, size_t, size_t, const char*, const char*) noexcept;
template size_t find_pair(const std::uint16_t*, size_t, size_t, const char*, const char*) noexcept;
template size_t find_pair(const std::uint32_t*, size_t, size_t, const char*, const char*) noexcept;

template <class Ch>
size_t count_nonblank_lines(const Ch* s, size_t n) noexcept {
#ifdef TESSERA_TEXT_X86
  const isa::Level level = isa::current();
  if (level >= isa::Level::AVX2) return count_avx2(s, n);
  if (level >= isa::Level::SSE2) return count_sse2(s, n);
#endif
  return count_scalar(s, n);
}

template size_t count_nonblank_lines(const std::uint8_t*, size_t) noexcept;
template size_t count_nonblank_lines(const std::uint16_t*, size_t) noexcept;
template size_t count_nonblank_lines(const std::uint32_t*, size_t) noexcept;

template <class Ch>
size_t count_line_breaks(const Ch* s, size_t from, size_t to, size_t n) noexcept {
  if (from >= to) return 0;
#ifdef TESSERA_TEXT_X86
  if constexpr (sizeof(Ch) <= 2) {
    const isa::Level level = isa::current();
    if (level >= isa::Level::AVX2) return count_breaks_avx2(s, from, to, n);
    if (level >= isa::Level::SSE2) return count_breaks_sse2(s, from, to, n);
  }
#endif
  return count_breaks_scalar(s, from, to, n);
}

template size_t count_line_breaks(const std::uint8_t*, size_t, size_t, size_t) noexcept;
template size_t count_line_breaks(const std::uint16_t*, size_t, size_t, size_t) noexcept;
template size_t count_line_breaks(const std::uint32_t*, size_t, size_t, size_t) noexcept;

}  // namespace tessera::text
