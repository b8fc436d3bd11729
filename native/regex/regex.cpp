// Pattern and PatternSet: the scanners that drive the backtracker over a whole text.
//
// One left-to-right pass serves any number of patterns: at each position a few table lookups (the
// characters at offsets 0..2 and the one before) select the patterns that can start there, and only
// those are tried. Search-mode patterns leave the pass once they matched; count-mode patterns follow
// findall's rules (resume at the end of the previous match, no empty match twice at one position).
#include "regex.hpp"

#include <algorithm>
#include <bit>
#include <cstring>
#include <mutex>

#include "regex_impl.hpp"
#include "standin.hpp"
#include "regex/trigrams.hpp"
#include "regex/isa.hpp"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

namespace tessera::rx {
namespace detail {

void Memo::grow(size_t blk) {
  const size_t need = blk - lo_ + 1;
  size_t cap = std::max<size_t>(16, cap_);
  while (cap < 2 * need) cap *= 2;
  std::vector<uint64_t> rows(cap * stride_, 0);
  for (size_t r = 0; r < cap_; ++r) {
    const uint64_t* row = &rows_[r * stride_];
    if ((row[0] >> 40) != epoch_) continue;
    const size_t b = row[0] & ((uint64_t{1} << 40) - 1);
    if (b < lo_) continue;
    std::memcpy(&rows[(b & (cap - 1)) * stride_], row, stride_ * sizeof(uint64_t));
  }
  rows_.swap(rows);
  cap_ = cap;
  last_blk_ = SIZE_MAX;
}

Scratch& scratch() {
  thread_local Scratch s;
  return s;
}

namespace {

// Buckets for the block filter. A bucket accepts the product of its patterns' low-nibble and
// high-nibble sets at each offset, so patterns are grouped by equal first-character nibbles; patterns
// that need a non-word character before them get buckets of their own (the filter applies that test
// per bucket). Patterns that can only start at position 0 stay out: the block loop never sees it.
void assign_buckets(Prefilter& pf, const std::vector<const Program*>& members) {
  uint16_t lo_set[3][64] = {};
  uint8_t hi_set[3][64] = {};
  for (size_t b = 0; b < members.size(); ++b) {
    for (int k = 0; k < 3; ++k) {
      const auto& f = members[b]->start.follow[k];
      for (int c = 0; c < 128; ++c) {
        if (f.any || f.latin[c]) {
          lo_set[k][b] |= static_cast<uint16_t>(1u << (c & 15));
          hi_set[k][b] |= static_cast<uint8_t>(1u << (c >> 4));
        }
      }
    }
  }
  const uint64_t bucketed = pf.all & ~pf.rule_bot;
  const uint64_t wr = bucketed & pf.rule_nonword;
  const int nwr = !wr ? 0 : (bucketed & ~wr) ? 6 : 8;
  uint16_t key_lo[8] = {};
  uint8_t key_hi[8] = {};
  int used[2] = {0, 0};
  for (uint64_t m = bucketed; m; m &= m - 1) {
    const int b = std::countr_zero(m);
    const bool w = (wr >> b) & 1;
    const int base = w ? 0 : nwr, size = w ? nwr : 8 - nwr;
    int& count = used[w ? 0 : 1];
    int j = -1;
    for (int q = base; q < base + count; ++q)
      if (key_lo[q] == lo_set[0][b] && key_hi[q] == hi_set[0][b]) j = q;
    if (j < 0 && count < size) {
      j = base + count++;
      key_lo[j] = lo_set[0][b];
      key_hi[j] = hi_set[0][b];
    }
    if (j < 0) j = base + b % size;
    if (!w) pf.not_word_rule_buckets |= static_cast<uint8_t>(1u << j);
    for (int k = 0; k < 3; ++k) {
      for (int x = 0; x < 16; ++x) {
        if ((lo_set[k][b] >> x) & 1) pf.nibbles[b][k][x] |= static_cast<uint8_t>(1u << j);
        if (x < 8 && ((hi_set[k][b] >> x) & 1)) pf.nibbles[b][3 + k][x] |= static_cast<uint8_t>(1u << j);
      }
    }
  }
}

}  // namespace

void build_prefilter(Prefilter& pf, const std::vector<const Program*>& members) {
  pf = Prefilter{};
  const Latin1& lat = latin1();
  for (size_t b = 0; b < members.size(); ++b) {
    const Program& p = *members[b];
    const uint64_t bit = uint64_t{1} << b;
    pf.all |= bit;
    for (int k = 0; k < 3; ++k) {
      const auto& f = p.start.follow[k];
      if (f.any) {
        pf.any[k] |= bit;
        for (auto& m : pf.table[k]) m |= bit;
        continue;
      }
      for (int c = 0; c < 256; ++c)
        if (f.latin[c]) pf.table[k][c] |= bit;
      if (!f.hi_tests.empty()) pf.hi_possible[k] |= bit;
      for (uint32_t id : f.hi_tests) {
        const CharTest* t = &p.tests[id];
        if (t->kind == CharTest::Fold && std::all_of(t->alts, t->alts + t->nalts, [](char32_t a) { return a < 256; })) {
          for (uint8_t a = 0; a < t->nalts; ++a) pf.fold_latin[k][t->alts[a]] |= bit;
          continue;
        }
        auto same = std::find_if(pf.hi[k].begin(), pf.hi[k].end(),
                                 [&](const auto& e) { return e.first->same_as(*t); });
        if (same != pf.hi[k].end()) {
          same->second |= bit;
        } else {
          pf.hi[k].push_back({t, bit});
        }
      }
    }
    switch (p.start.lead) {
      case StartInfo::PrevNonWord: pf.rule_nonword |= bit; break;
      case StartInfo::PrevWord: pf.rule_word |= bit; break;
      case StartInfo::BeginLine: pf.rule_bol |= bit; break;
      case StartInfo::BeginText: pf.rule_bot |= bit; break;
      case StartInfo::None: break;
    }
  }
  for (int c = 0; c < 256; ++c) {
    uint64_t m = pf.all & ~pf.rule_bot;
    if (c != '\n') m &= ~pf.rule_bol;
    m &= ~(lat.word[c] ? pf.rule_nonword : pf.rule_word);
    pf.prev[c] = m;
  }
  pf.prev_start = pf.all & ~pf.rule_word;

  assign_buckets(pf, members);

  int firsts = 0;
  for (int c = 0; c < 256; ++c) {
    if (!pf.table[0][c]) continue;
    if (firsts < 3) pf.first_chars[firsts] = static_cast<char32_t>(c);
    ++firsts;
  }
  pf.sparse = firsts >= 1 && firsts <= 3 && pf.hi_possible[0] == 0 && pf.any[0] == 0;
  pf.nfirst = pf.sparse ? firsts : 0;
}

namespace {

// ---------------------------------------------------------------------------------------------------------
// Block filter: 16 positions at a time, a nibble-table lookup per byte (one table pair per offset 0..2)
// answers "may a pattern of bucket j start here", for 8 buckets of patterns; patterns that start with
// \b before a word character additionally need a non-word character before. It only ever
// over-approximates (any character >= 0x80 counts as a possible match), and every position it lets
// through gets the exact scalar check.

struct BlockTables {
  alignas(16) uint8_t lo[3][16];
  alignas(16) uint8_t hi[3][16];
  alignas(16) uint8_t not_word_rule[16];  // buckets that don't need a non-word character before

  void build(const Prefilter& pf, uint64_t active) {
    uint64_t acc[12] = {};
    for (uint64_t m = active & ~pf.rule_bot; m; m &= m - 1) {
      uint64_t part[12];
      std::memcpy(part, pf.nibbles[std::countr_zero(m)], sizeof part);
      for (int w = 0; w < 12; ++w) acc[w] |= part[w];
    }
    std::memcpy(lo, acc, sizeof lo);
    std::memcpy(hi, acc + 6, sizeof hi);
    std::memset(not_word_rule, pf.not_word_rule_buckets, sizeof not_word_rule);
  }
};

#if defined(__x86_64__) || defined(__i386__)
#define TESSERA_RX_BLOCKS 1

bool have_sse41() { return isa::current() >= isa::Level::SSE41; }

// ASCII word characters for nibble_lookup, one bit per high nibble: exact for ASCII, "not word" above.
alignas(16) constexpr uint8_t kWordLo[16] = {0xA8, 0xF8, 0xF8, 0xF8, 0xF8, 0xF8, 0xF8, 0xF8,
                                             0xF8, 0xF8, 0xF0, 0x50, 0x50, 0x50, 0x50, 0x70};
alignas(16) constexpr uint8_t kWordHi[16] = {0x01, 0x02, 0x04, 0x08, 0x10, 0x20, 0x40, 0x80, 0, 0, 0, 0, 0, 0, 0, 0};

// 16 consecutive characters as bytes; anything above 0xFF becomes 0xFF.
template <class Ch>
__attribute__((target("sse4.1"))) inline __m128i bytes16(const Ch* p) {
  if constexpr (sizeof(Ch) == 1) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  } else if constexpr (sizeof(Ch) == 2) {
    const __m128i cap = _mm_set1_epi16(0xFF);
    const __m128i a = _mm_min_epu16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)), cap);
    const __m128i b = _mm_min_epu16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 8)), cap);
    return _mm_packus_epi16(a, b);
  } else {
    const __m128i cap = _mm_set1_epi32(0xFF);
    const __m128i a = _mm_min_epu32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)), cap);
    const __m128i b = _mm_min_epu32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 4)), cap);
    const __m128i c = _mm_min_epu32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 8)), cap);
    const __m128i d = _mm_min_epu32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 12)), cap);
    return _mm_packus_epi16(_mm_packus_epi32(a, b), _mm_packus_epi32(c, d));
  }
}

__attribute__((target("sse4.1"))) inline __m128i nibble_lookup(__m128i x, const uint8_t* lo, const uint8_t* hi) {
  const __m128i low = _mm_and_si128(x, _mm_set1_epi8(0x0F));
  const __m128i high = _mm_and_si128(_mm_srli_epi16(x, 4), _mm_set1_epi8(0x0F));
  return _mm_and_si128(_mm_shuffle_epi8(_mm_load_si128(reinterpret_cast<const __m128i*>(lo)), low),
                       _mm_shuffle_epi8(_mm_load_si128(reinterpret_cast<const __m128i*>(hi)), high));
}

// Scans blocks of 16 positions from i (i >= 16) while the block and the next one lie inside [0, end);
// returns the start of the first block with candidates (their bits in *mask), or the first block not
// scanned (with *mask = 0). Each block is converted to bytes once; the windows at offsets -1, 1 and 2
// are spliced from neighbouring blocks.
template <class Ch>
__attribute__((target("sse4.1"))) size_t scan_blocks(const BlockTables& bt, const Ch* t, size_t i, size_t end,
                                                     uint32_t* mask) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i nwr = _mm_load_si128(reinterpret_cast<const __m128i*>(bt.not_word_rule));
  __m128i b0 = bytes16(t + i - 16), b1 = bytes16(t + i);
  for (; i + 32 <= end; i += 16) {
    const __m128i b2 = bytes16(t + i + 16);
    const __m128i cp = _mm_alignr_epi8(b1, b0, 15);
    const __m128i c1 = _mm_alignr_epi8(b2, b1, 1);
    const __m128i c2 = _mm_alignr_epi8(b2, b1, 2);
    const __m128i prev_nonword = _mm_cmpeq_epi8(nibble_lookup(cp, kWordLo, kWordHi), zero);
    __m128i f0 = _mm_and_si128(nibble_lookup(b1, bt.lo[0], bt.hi[0]), _mm_or_si128(prev_nonword, nwr));
    f0 = _mm_or_si128(f0, _mm_cmplt_epi8(b1, zero));
    const __m128i f1 = _mm_or_si128(nibble_lookup(c1, bt.lo[1], bt.hi[1]), _mm_cmplt_epi8(c1, zero));
    const __m128i f2 = _mm_or_si128(nibble_lookup(c2, bt.lo[2], bt.hi[2]), _mm_cmplt_epi8(c2, zero));
    const __m128i f = _mm_and_si128(_mm_and_si128(f0, f1), f2);
    const uint32_t m = ~static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(f, zero))) & 0xFFFFu;
    if (m) {
      *mask = m;
      return i;
    }
    b0 = b1;
    b1 = b2;
  }
  *mask = 0;
  return i;
}

bool have_avx2() { return isa::current() >= isa::Level::AVX2; }

// 32 consecutive characters as bytes, in order; anything above 0xFF becomes 0xFF.
template <class Ch>
__attribute__((target("avx2"))) inline __m256i bytes32(const Ch* p) {
  if constexpr (sizeof(Ch) == 1) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
  } else if constexpr (sizeof(Ch) == 2) {
    const __m256i cap = _mm256_set1_epi16(0xFF);
    const __m256i a = _mm256_min_epu16(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)), cap);
    const __m256i b = _mm256_min_epu16(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 16)), cap);
    // The pack works within 128-bit lanes; the permutation puts the quarters back in text order.
    return _mm256_permute4x64_epi64(_mm256_packus_epi16(a, b), 0xD8);
  } else {
    const __m256i cap = _mm256_set1_epi32(0xFF);
    const __m256i a = _mm256_min_epu32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)), cap);
    const __m256i b = _mm256_min_epu32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 8)), cap);
    const __m256i c = _mm256_min_epu32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 16)), cap);
    const __m256i d = _mm256_min_epu32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 24)), cap);
    const __m256i bytes = _mm256_packus_epi16(_mm256_packus_epi32(a, b), _mm256_packus_epi32(c, d));
    return _mm256_permutevar8x32_epi32(bytes, _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7));
  }
}

__attribute__((target("avx2"))) inline __m256i nibble_lookup32(__m256i x, const uint8_t* lo, const uint8_t* hi) {
  const __m256i low = _mm256_and_si256(x, _mm256_set1_epi8(0x0F));
  const __m256i high = _mm256_and_si256(_mm256_srli_epi16(x, 4), _mm256_set1_epi8(0x0F));
  const __m256i lo_table = _mm256_broadcastsi128_si256(_mm_load_si128(reinterpret_cast<const __m128i*>(lo)));
  const __m256i hi_table = _mm256_broadcastsi128_si256(_mm_load_si128(reinterpret_cast<const __m128i*>(hi)));
  return _mm256_and_si256(_mm256_shuffle_epi8(lo_table, low), _mm256_shuffle_epi8(hi_table, high));
}

// scan_blocks with 32 positions per step; the windows at offsets -1, 1 and 2 are loaded where they
// lie rather than spliced, which in-lane shuffles can't do across the middle of a register.
template <class Ch>
__attribute__((target("avx2"))) size_t scan_blocks32(const BlockTables& bt, const Ch* t, size_t i, size_t end,
                                                     uint32_t* mask) {
  const __m256i zero = _mm256_setzero_si256();
  const __m256i nwr = _mm256_broadcastsi128_si256(_mm_load_si128(reinterpret_cast<const __m128i*>(bt.not_word_rule)));
  for (; i + 48 <= end; i += 32) {
    const __m256i b1 = bytes32(t + i);
    const __m256i cp = bytes32(t + i - 1);
    const __m256i c1 = bytes32(t + i + 1);
    const __m256i c2 = bytes32(t + i + 2);
    const __m256i prev_nonword = _mm256_cmpeq_epi8(nibble_lookup32(cp, kWordLo, kWordHi), zero);
    __m256i f0 = _mm256_and_si256(nibble_lookup32(b1, bt.lo[0], bt.hi[0]), _mm256_or_si256(prev_nonword, nwr));
    f0 = _mm256_or_si256(f0, _mm256_cmpgt_epi8(zero, b1));
    const __m256i f1 = _mm256_or_si256(nibble_lookup32(c1, bt.lo[1], bt.hi[1]), _mm256_cmpgt_epi8(zero, c1));
    const __m256i f2 = _mm256_or_si256(nibble_lookup32(c2, bt.lo[2], bt.hi[2]), _mm256_cmpgt_epi8(zero, c2));
    const __m256i f = _mm256_and_si256(_mm256_and_si256(f0, f1), f2);
    const uint32_t m = ~static_cast<uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(f, zero)));
    if (m) {
      *mask = m;
      return i;
    }
  }
  *mask = 0;
  return i;
}
#endif

template <class Ch>
class Scanner {
 public:
  Scanner(const Prefilter& pf, const Ch* t, size_t n) : pf_(pf), t_(t), n_(n) {
    if constexpr (sizeof(Ch) > 1) {
      Scratch& s = scratch();
      if (s.hi_cache.empty()) s.hi_cache.resize(Scratch::kHiCache);
      if (++s.hi_gen == 0) {
        for (auto& e : s.hi_cache) e.gen = 0;
        s.hi_gen = 1;
      }
      cache_ = s.hi_cache.data();
      gen_ = s.hi_gen;
    }
  }

  // Calls try_at(i, mask) for positions i (0..n), in order, where some active pattern may start;
  // try_at returns the next position worth scanning (> i) and may clear bits of `active`. The scan
  // stops once no pattern is active.
  template <class F>
  void run(uint64_t& active, F&& try_at, size_t from = 0) const {
    if ((pf_.all & ~(pf_.rule_bol | pf_.rule_bot)) == 0) {
      // Every pattern starts at a line start (or only at 0): visit just those, newline to newline.
      const char32_t nl = U'\n';
      size_t i = from;
      if (i > 0 && t_[i - 1] != '\n') i = find_any(t_, i, n_, &nl, 1) + 1;
      while (i <= n_ && active) {
        const uint64_t m = candidates(i) & active;
        size_t next = m ? try_at(i, m) : i + 1;
        if (next > n_) break;
        if (next > 0 && t_[next - 1] != '\n') next = find_any(t_, next, n_, &nl, 1) + 1;
        i = next;
      }
      return;
    }
    if (pf_.sparse) {
      // Nothing can start at the end: every pattern needs a first character.
      for (size_t i = next_first(from); i < n_ && active;) {
        const uint64_t m = candidates(i) & active;
        i = next_first(m ? try_at(i, m) : i + 1);
      }
      return;
    }
    size_t i = from;
#ifdef TESSERA_RX_BLOCKS
    {
      if (n_ >= 64 && have_sse41()) {
        // The first 16 positions go through the exact check, then whole blocks.
        while (i < 16 && active) {
          const uint64_t m = candidates(i) & active;
          i = m ? try_at(i, m) : i + 1;
        }
        // Tables built for a superset of the active patterns stay correct, only less selective, so
        // they are rebuilt only now and then as patterns leave.
        BlockTables bt;
        uint64_t built = 0;
        size_t built_at = 0;
        const bool avx2 = have_avx2();
        while (active && i >= 16 && i + 32 <= n_) {
          if (active != built && (built == 0 || i - built_at >= 1024)) {
            bt.build(pf_, active);
            built = active;
            built_at = i;
          }
          uint32_t mask = 0;
          size_t width = 16;
          if (avx2) {
            i = scan_blocks32(bt, t_, i, n_, &mask);
            width = 32;
          }
          if (!mask) {
            // The wide scan stops further from the end; the narrow one takes the rest.
            i = scan_blocks(bt, t_, i, n_, &mask);
            width = 16;
            if (!mask) break;
          }
          const size_t block_end = i + width;
          size_t next = block_end;
          bool jumped = false;  // an attempt resumes past the half it started in
          // The candidates of a block, sixteen positions at a time.
          for (size_t half = 0; half < width / 16 && !jumped; ++half) {
            uint32_t part = (mask >> (16 * half)) & 0xFFFFu;
            if (!part) continue;
            const size_t base = i + 16 * half;
            // Many candidates usually means text in another script: classify each character of the
            // window once instead of four times.
            uint64_t exact[16];
            // More than four candidates: four clearings of the lowest bit leave some (no popcount
            // instruction in the baseline build).
            uint32_t rest = part;
            for (int drop = 0; drop < 4; ++drop) rest &= rest - 1;
            const bool whole = rest != 0;
            if (whole) {
              window(base, exact);
              uint32_t live = 0;
              for (unsigned p = 0; p < 16; ++p) live |= static_cast<uint32_t>((exact[p] & active) != 0) << p;
              part &= live;
            }
            while (part) {
              const size_t pos = base + static_cast<size_t>(std::countr_zero(part));
              part &= part - 1;
              const uint64_t m = (whole ? exact[pos - base] : candidates(pos)) & active;
              if (!m) continue;
              const size_t resume = try_at(pos, m);
              if (resume >= base + 16) {
                next = resume;
                jumped = true;
                break;
              }
              if (resume > pos + 1) part &= ~((1u << (resume - base)) - 1);
            }
          }
          i = next;
        }
      }
    }
#endif
    while (i < n_ && active) {
      if (i == 0 || i + 2 >= n_) {
        const uint64_t m = candidates(i) & active;
        i = m ? try_at(i, m) : i + 1;
        continue;
      }
      const Ch c0 = t_[i], cp = t_[i - 1], c1 = t_[i + 1], c2 = t_[i + 2];
      uint64_t m;
      if (sizeof(Ch) == 1 || ((c0 | cp | c1 | c2) >> 8) == 0) {
        m = pf_.table[0][c0] & pf_.prev[cp] & pf_.table[1][c1] & pf_.table[2][c2];
      } else {
        m = candidates(i);
      }
      m &= active;
      i = m ? try_at(i, m) : i + 1;
    }
    if (i == n_ && active) {
      const uint64_t m = candidates(n_) & active;
      if (m) try_at(n_, m);
    }
  }

 private:

  size_t next_first(size_t i) const {
    return i >= n_ ? n_ : find_any(t_, i, n_, pf_.first_chars, pf_.nfirst);
  }

  __attribute__((always_inline)) const Scratch::HiClass& hi_class(char32_t c) const {
    Scratch::HiClass& e = cache_[c & (Scratch::kHiCache - 1)];
    if (e.ch != c || e.gen != gen_) classify(e, c);
    return e;
  }

  __attribute__((noinline)) void classify(Scratch::HiClass& e, char32_t c) const {
    {
      e.ch = c;
      e.gen = gen_;
      e.word = slow_is_word(c);
      const char32_t lower = to_lower(c);
      int space = -1, digit = -1;  // computed when first needed
      auto category = [&](Cat cat) {
        switch (cat) {
          case Cat::Word: return e.word;
          case Cat::NotWord: return !e.word;
          case Cat::Space:
          case Cat::NotSpace:
            if (space < 0) space = slow_is_space(c);
            return (space == 1) == (cat == Cat::Space);
          case Cat::Digit:
          case Cat::NotDigit:
            if (digit < 0) digit = slow_is_digit(c);
            return (digit == 1) == (cat == Cat::Digit);
        }
        return false;
      };
      for (int k = 0; k < 3; ++k) {
        uint64_t m = pf_.any[k] | (lower < 256 ? pf_.fold_latin[k][lower] : 0);
        for (const auto& [test, bits] : pf_.hi[k]) {
          if ((m & bits) == bits) continue;
          const bool hit =
              test->pure_category >= 0 ? category(static_cast<Cat>(test->pure_category)) : test->slow(c);
          if (hit) m |= bits;
        }
        e.m[k] = m;
      }
    }
  }

  uint64_t at_offset(int k, size_t j) const {
    if (j >= n_) return pf_.any[k];
    const Ch c = t_[j];
    if (sizeof(Ch) == 1 || c < 256) return pf_.table[k][c];
    return hi_class(c).m[k];
  }

  uint64_t prev_ok(size_t i) const {
    uint64_t m;
    if (i == 0) {
      m = pf_.prev_start;
    } else {
      const Ch p = t_[i - 1];
      if (sizeof(Ch) == 1 || p < 256) {
        m = pf_.prev[p];
      } else {
        m = pf_.all & ~pf_.rule_bot & ~pf_.rule_bol & ~(hi_class(p).word ? pf_.rule_nonword : pf_.rule_word);
      }
    }
    // The word rules were derived from the Latin-1 first characters only; beyond Latin-1 the attempt
    // checks \b itself.
    if (i < n_ && t_[i] >= 256) m |= pf_.rule_nonword | pf_.rule_word;
    return m;
  }

  uint64_t candidates(size_t i) const {
    return at_offset(0, i) & prev_ok(i) & at_offset(1, i + 1) & at_offset(2, i + 2);
  }

  // candidates() for positions i..i+15 (needs t[i-1] .. t[i+17]).
  void window(size_t i, uint64_t out[16]) const {
    uint64_t m[3][19], prev[19];
    bool hi[19];
    for (size_t j = 0; j < 19; ++j) {
      const Ch c = t_[i - 1 + j];
      hi[j] = sizeof(Ch) > 1 && c >= 256;
      if (!hi[j]) {
        for (int k = 0; k < 3; ++k) m[k][j] = pf_.table[k][c];
        prev[j] = pf_.prev[c];
      } else {
        const Scratch::HiClass& e = hi_class(c);
        for (int k = 0; k < 3; ++k) m[k][j] = e.m[k];
        prev[j] = pf_.all & ~pf_.rule_bot & ~pf_.rule_bol & ~(e.word ? pf_.rule_nonword : pf_.rule_word);
      }
    }
    const uint64_t rules = pf_.rule_nonword | pf_.rule_word;
    for (size_t p = 0; p < 16; ++p)
      out[p] = m[0][p + 1] & (prev[p] | (hi[p + 1] ? rules : 0)) & m[1][p + 2] & m[2][p + 3];
  }

  const Prefilter& pf_;
  const Ch* t_;
  size_t n_;
  Scratch::HiClass* cache_ = nullptr;
  uint32_t gen_ = 0;
};

// findall bookkeeping for one pattern: where the next search starts, and the rule that an empty match
// is followed by a search that may not return an empty match at the same position.
struct FindAllState {
  size_t next = 0;

  // Runs the attempt at i (i >= next) and reports every match it produces through emit(start, end).
  template <class Ch, class Emit>
  void attempt(const Program& p, const Ch* t, size_t n, size_t i, Memo& memo, FrameStack& stack,
               Emit&& emit, size_t through = SIZE_MAX) {
    memo.set_floor(i);
    std::optional<size_t> e = execute(p, t, n, i, false, memo, stack, through);
    if (!e) return;
    emit(i, *e);
    memo.forget(*e);
    next = *e;
    if (*e != i) return;
    // Empty match: the next search starts here and must advance.
    std::optional<size_t> e2 = execute(p, t, n, i, true, memo, stack);
    if (!e2) return;
    emit(i, *e2);
    memo.forget(*e2);
    next = *e2;
  }
};

template <class Ch, class Emit>
void find_all_impl(const Program& p, const Ch* t, size_t n, Emit&& emit) {
  Scratch& s = scratch();
  if (s.memos.empty()) s.memos.resize(1);
  Memo& memo = s.memos[0];
  memo.begin(p.nstates);
  FindAllState st;
  Requirement req;
  uint64_t active = 1;
  Scanner<Ch>(p.solo, t, n).run(active, [&](size_t i, uint64_t) {
    if (!req.still_possible(p, t, n, i)) {
      active = 0;
      return n + 1;
    }
    st.attempt(p, t, n, i, memo, s.stack, emit);
    return std::max(i + 1, st.next);
  });
  memo.trim();
}

}  // namespace
}  // namespace detail

using namespace detail;

Pattern::Pattern(std::u32string_view source, unsigned flags) : prog_(compile(source, flags)) {}

template <class Ch>
bool Pattern::search(const Ch* text, size_t n) const {
  const Program& p = *prog_;
  Scratch& s = scratch();
  if (s.memos.empty()) s.memos.resize(1);
  Memo& memo = s.memos[0];
  memo.begin(p.nstates);
  uint64_t active = 1;
  bool found = false;
  Requirement req;
  Scanner<Ch>(p.solo, text, n).run(active, [&](size_t i, uint64_t) {
    memo.set_floor(i);
    if (!req.still_possible(p, text, n, i)) {
      active = 0;
    } else if (execute(p, text, n, i, false, memo, s.stack)) {
      found = true;
      active = 0;
    }
    return i + 1;
  });
  memo.trim();
  return found;
}

template <class Ch>
std::optional<Span> Pattern::search_span(const Ch* text, size_t n, size_t pos) const {
  const Program& p = *prog_;
  pos = std::min(pos, n);
  Scratch& s = scratch();
  if (s.memos.empty()) s.memos.resize(1);
  Memo& memo = s.memos[0];
  memo.begin(p.nstates);
  uint64_t active = 1;
  std::optional<Span> found;
  Requirement req;
  Scanner<Ch>(p.solo, text, n).run(
      active,
      [&](size_t i, uint64_t) {
        memo.set_floor(i);
        if (!req.still_possible(p, text, n, i)) {
          active = 0;
        } else if (std::optional<size_t> e = execute(p, text, n, i, false, memo, s.stack)) {
          found = Span{i, *e};
          active = 0;
        }
        return i + 1;
      },
      pos);
  memo.trim();
  return found;
}

template <class Ch>
size_t Pattern::count_all(const Ch* text, size_t n) const {
  size_t count = 0;
  find_all_impl(*prog_, text, n, [&](size_t, size_t) { ++count; });
  return count;
}

template <class Ch>
void Pattern::find_all(const Ch* text, size_t n, std::vector<std::pair<size_t, size_t>>& out) const {
  find_all_impl(*prog_, text, n, [&](size_t b, size_t e) { out.emplace_back(b, e); });
}

template <class Ch>
std::optional<size_t> Pattern::match(const Ch* text, size_t n, size_t pos) const {
  const Program& p = *prog_;
  pos = std::min(pos, n);  // as re clamps pos to the string length
  Scratch& s = scratch();
  if (s.memos.empty()) s.memos.resize(1);
  Memo& memo = s.memos[0];
  memo.begin(p.nstates);
  memo.set_floor(pos);
  std::optional<size_t> e = execute(p, text, n, pos, false, memo, s.stack);
  memo.trim();
  return e;
}

// ---------------------------------------------------------------------------------------------------------

namespace detail {

// How common, in real SQL, the text is that a window of three run characters keys: the sum over the
// sequences it stands for, by the measured counts of trigrams.hpp (1 for a rare one). The window is
// given by each character's fold classes; UINT64_MAX when it stands for too many keys to list.
uint64_t trigram_cost(const uint64_t (&cls)[3][4]) {
  constexpr int kSymbols = sizeof(kTrigramAlphabet) - 1;
  static const std::vector<uint32_t> weight = [] {
    std::vector<uint32_t> w(kSymbols * kSymbols * kSymbols, 1);
    auto index = [](char c) { return static_cast<int>(std::strchr(kTrigramAlphabet, c) - kTrigramAlphabet); };
    for (int i = 0; i < kTrigramCount; ++i) {
      const char* e = kTrigrams + 4 * i;
      w[(index(e[0]) * kSymbols + index(e[1])) * kSymbols + index(e[2])] = uint32_t{1} << (e[3] - 'A');
    }
    return w;
  }();
  auto symbol = [](uint32_t c) -> char {
    if ((c >= 'a' && c <= 'z') || std::strchr("_@().,", static_cast<int>(c)) != nullptr) return static_cast<char>(c);
    if (c >= '0' && c <= '9') return '0';
    if (std::strchr(" \t\n\r\f\v", static_cast<int>(c)) != nullptr) return ' ';
    return '?';
  };
  uint64_t symbols[3] = {};
  uint64_t keys = 1;
  for (int k = 0; k < 3; ++k) {
    uint64_t classes = 0;
    for (uint32_t c = 1; c < 256; ++c)
      if (bit_at(cls[k], c)) {
        ++classes;
        symbols[k] |= uint64_t{1} << (std::strchr(kTrigramAlphabet, symbol(c)) - kTrigramAlphabet);
      }
    keys *= classes;
  }
  if (keys > 4096) return UINT64_MAX;
  uint64_t cost = 0;
  for (uint64_t a = symbols[0]; a; a &= a - 1)
    for (uint64_t b = symbols[1]; b; b &= b - 1)
      for (uint64_t c = symbols[2]; c; c &= c - 1)
        cost += weight[(std::countr_zero(a) * kSymbols + std::countr_zero(b)) * kSymbols + std::countr_zero(c)];
  return cost;
}

// The fold classes of a run's character `i` as a key may hold them: a literal's own, or those of a
// test of a few classes that is no literal, such as the blank after a keyword (`AS\s+OF` has `as␣`,
// far rarer than `as`, which every `CAST` and `@DatabaseName` holds); a superset there, class 0
// standing for the characters beyond Latin-1 it accepts.
bool key_classes(const Program& p, const Program::Factor& fa, size_t i, uint64_t* out) {
  constexpr int kMostClasses = 16;  // each multiplies the key's entries
  if (i >= fa.tests.size()) return false;
  const CharTest& test = p.tests[fa.tests[i]];
  if (test_classes(test, out) && !(out[0] & 1)) return true;
  std::fill(out, out + 4, 0);
  add_accepted_classes(test, out);
  return std::popcount(out[0]) + std::popcount(out[1]) + std::popcount(out[2]) + std::popcount(out[3]) <= kMostClasses;
}

// The window of three characters of a run that real SQL has least often: the factor's pair extended
// by the character after it, or else by the one before, unless another window of the run is rarer (a
// key hit costs a check, and a common keyword's hits most of the scan). `three` false: the run has no
// such window, and its pair (fa.key) is the key.
struct KeyWindow {
  uint32_t at = 0;
  bool three = false;
  uint64_t cost = UINT64_MAX;
};
KeyWindow key_window(const Program& p, const Program::Factor& fa) {
  KeyWindow best{fa.key};
  auto consider = [&](size_t i) {
    uint64_t w[3][4];
    for (size_t k = 0; k < 3; ++k)
      if (!key_classes(p, fa, i + k, w[k])) return;
    const uint64_t cost = trigram_cost(w);
    if (cost == UINT64_MAX || (best.three && cost >= best.cost)) return;
    best = KeyWindow{static_cast<uint32_t>(i), true, cost};
  };
  consider(fa.key);
  if (!best.three && fa.key > 0) consider(fa.key - 1);
  for (size_t i = 0; i + 3 <= fa.tests.size(); ++i) consider(i);
  return best;
}

// Among a program's factor and its runs that reach back over a loop's gap, the one with the rarest key.
std::pair<const Program::Factor*, KeyWindow> rarest_key(const Program& p) {
  const Program::Factor* pick = &p.factor;
  KeyWindow window = key_window(p, *pick);
  for (const Program::Factor& gap : p.gapped)
    if (const KeyWindow w = key_window(p, gap); w.three && (!window.three || w.cost < window.cost)) {
      window = w;
      pick = &gap;
    }
  return {pick, window};
}

// Whether the parts a program is spelled out into (Program::spelled_probes) are found through rarer
// keys, all together, than the whole.
bool parts_are_rarer(const Program& whole) {
  if (whole.spelled_probes.empty() || whole.factor.tests.empty()) return false;
  const KeyWindow own = rarest_key(whole).second;
  uint64_t parts = 0;
  for (const auto& part : whole.spelled_probes) {
    const KeyWindow w = rarest_key(*part).second;
    if (!w.three) return false;
    parts += w.cost;
  }
  return !own.three || parts < own.cost;
}

struct SetImpl {
  struct Entry {
    std::shared_ptr<const Program> prog;
    PatternSet::Mode mode;
  };
  // What the pass scans: a pattern itself, or one alternative (probe) of a Search pattern.
  struct Member {
    const Program* prog;  // owned through entries[owner]
    size_t owner;
    bool probe, counting;
  };
  // Search members with a factor (Program::Factor) are found through the shared literal scan instead
  // of a group's pass. Their keys (the fold classes of two or three adjacent characters of the factor,
  // three hashed to 16 bits) index two tables; bits says which keys occur at all.
  struct Keyed {
    uint32_t slot;  // index in factored
    uint32_t at;    // where the key starts in the factor's run
    // The classes themselves (a << 16 | b << 8 | c for three): a common trigram of the text that
    // shares a hashed key with a rare one is turned away here, before its run is read.
    uint32_t classes;
  };
  struct KeyTable {
    explicit KeyTable(size_t words) : bits(words, 0) {}
    std::vector<uint64_t> bits;
    std::vector<std::pair<uint32_t, Keyed>> pending;  // (key, entry), in the order added
    // A key's entries are found by its rank among the keys present: the keys before its word of
    // `bits`, plus those below it in that word. A table by key would be 256 KB, read at random.
    std::vector<uint32_t> rank;   // per word of bits
    std::vector<uint32_t> start;  // entries[start[r], start[r + 1]) have the key of rank r
    std::vector<Keyed> entries;
    bool has(uint32_t key) const { return bit_at(bits.data(), key); }
    uint32_t rank_of(uint32_t key) const { return rank[key >> 6] + ones(bits[key >> 6] & ((uint64_t{1} << (key & 63)) - 1)); }
    // The build may not assume the popcnt instruction, and the library call costs more than this.
    static uint32_t ones(uint64_t x) {
      x -= (x >> 1) & 0x5555555555555555u;
      x = (x & 0x3333333333333333u) + ((x >> 2) & 0x3333333333333333u);
      x = (x + (x >> 4)) & 0x0f0f0f0f0f0f0f0fu;
      return static_cast<uint32_t>((x * 0x0101010101010101u) >> 56);
    }
    void add(uint32_t key, Keyed e) {
      set_bit(bits.data(), key);
      pending.push_back({key, e});
    }
    // Sorts the keys added into the lookup arrays, once per set.
    void index() {
      rank.assign(bits.size(), 0);
      uint32_t keys = 0;
      for (size_t w = 0; w < bits.size(); ++w) {
        rank[w] = keys;
        keys += ones(bits[w]);
      }
      start.assign(keys + 1, 0);
      for (const auto& [k, x] : pending) ++start[rank_of(k) + 1];
      for (size_t r = 0; r < keys; ++r) start[r + 1] += start[r];
      entries.assign(pending.size(), Keyed{});
      std::vector<uint32_t> fill(start.begin(), start.end() - 1);
      for (const auto& [k, x] : pending) entries[fill[rank_of(k)]++] = x;
    }
    std::pair<const Keyed*, const Keyed*> of(uint32_t key) const {
      const uint32_t r = rank_of(key);
      return {entries.data() + start[r], entries.data() + start[r + 1]};
    }
#ifdef TESSERA_RX_BLOCKS
    // `of` where the instruction is there (the vector scan's machines).
    __attribute__((target("popcnt"))) std::pair<const Keyed*, const Keyed*> of_popcnt(uint32_t key) const {
      const uint64_t below = bits[key >> 6] & ((uint64_t{1} << (key & 63)) - 1);
      const uint32_t r = rank[key >> 6] + static_cast<uint32_t>(_mm_popcnt_u64(below));
      return {entries.data() + start[r], entries.data() + start[r + 1]};
    }
#endif
    static bool has(const uint64_t* bits, uint32_t key) { return bit_at(bits, key); }
  };
  // The keys each factored member is indexed by (by slot: keys_of[key_start[f], key_start[f + 1]),
  // once per entry), so that a pass can stop looking up a key once every member it indexes has left.
  struct KeyRef {
    uint32_t key;
    uint32_t rank;
    uint32_t table;    // 0: pairs, 1: triples
    uint32_t classes;  // Keyed::classes
  };
  std::vector<uint32_t> key_start;
  std::vector<KeyRef> keys_of;
  void index_members() {
    key_start.assign(factored.size() + 1, 0);
    const KeyTable* tables[2] = {&pairs, &triples};
    for (const KeyTable* t : tables)
      for (const auto& [k, x] : t->pending) ++key_start[x.slot + 1];
    for (size_t f = 0; f < factored.size(); ++f) key_start[f + 1] += key_start[f];
    keys_of.assign(key_start.back(), KeyRef{});
    std::vector<uint32_t> fill(key_start.begin(), key_start.end() - 1);
    for (uint32_t i = 0; i < 2; ++i)
      for (const auto& [k, x] : tables[i]->pending)
        keys_of[fill[x.slot]++] = KeyRef{k, tables[i]->rank_of(k), i, x.classes};
  }
  // The dialect tables' 900 hashed keys take one bit in 70, so a large script's common trigrams hit
  // them a few thousand times in vain (Keyed::classes turns those away). 18 bits cut that by three
  // quarters and took no measurable time off a call.
  static constexpr int kTripleBits = 16;
  // The triples' key for three classes a << 16 | b << 8 | c (a pair's key is its classes a << 8 | b).
  static uint32_t hash3(uint32_t abc) { return (abc * 2654435761u) >> (32 - kTripleBits); }
  // The vector stage's one lookup per position where the text is ASCII (and ascii_classes holds, so
  // the classes there are ASCII too): a word per pair of classes, at a << 7 | b, saying whether the
  // pair is a key (kPairKey), whether it is a key only where a word starts at it (kPairWordStart: each
  // of its runs needs a non-word character right before it, as `\b` before a keyword asks, so the
  // `et` of every SET and GETDATE is no hit), a bit per third class (third_bit) for whether a triple
  // a, b, c may be a key, and whether all those triples are keys only where a word starts
  // (kThirdsWordStart). One gather per eight positions where the two tables took two; the triples'
  // own bits still decide.
  static constexpr uint32_t kPairKey = 1u << 31, kPairWordStart = 1u << 30, kThirdsWordStart = 1u << 29;
  static constexpr uint32_t kThirdBits = 29;
  static constexpr uint32_t third_bit(uint32_t c) { return 1u << std::min(c & 31, kThirdBits - 1); }
  // Where pair key `ab` (classes a << 8 | b) sits in ascii_keys, UINT32_MAX when a class is no ASCII.
  static constexpr uint32_t ascii_pair(uint32_t ab) {
    return (ab >> 8) < 128 && (ab & 255) < 128 ? (ab >> 8) << 7 | (ab & 255) : UINT32_MAX;
  }
  std::vector<uint32_t> ascii_keys;
  std::vector<uint32_t> ascii_triples;  // the triple keys' classes a << 16 | b << 8 | c, all three ASCII, sorted
  // Whether an entry's run can only occur where a word starts at its key: its pattern's leading
  // assertion judges the character right before the key and turns away every ASCII word character.
  bool needs_word_start(const Keyed& e) const {
    const Run& run = runs[e.slot];
    if (e.at != 0 || run.offset != 0 || !run.lead) return false;
    for (uint32_t c = 0; c < 128; ++c)
      if (((c | 32) >= 'a' && (c | 32) <= 'z') || (c >= '0' && c <= '9') || c == '_')
        if (in(sets[run.lead], c)) return false;
    return true;
  }
  void index_ascii() {
    if (!ascii_classes) return;
    ascii_keys.assign(size_t{1} << 14, 0);
    for (const auto& [k, x] : pairs.pending)
      if (const uint32_t at = ascii_pair(k); at != UINT32_MAX)
        ascii_keys[at] |= needs_word_start(x) ? kPairWordStart : kPairKey;
    std::vector<bool> anywhere(ascii_keys.size());
    for (const auto& [k, x] : triples.pending)
      if (const uint32_t at = ascii_pair(x.classes >> 8); at != UINT32_MAX && (x.classes & 255) < 128) {
        ascii_keys[at] |= third_bit(x.classes & 255);
        if (!needs_word_start(x)) anywhere[at] = true;
        ascii_triples.push_back(x.classes);
      }
    for (size_t at = 0; at < ascii_keys.size(); ++at)
      if ((ascii_keys[at] & (kThirdsWordStart - 1)) && !anywhere[at]) ascii_keys[at] |= kThirdsWordStart;
    std::sort(ascii_triples.begin(), ascii_triples.end());
    ascii_triples.erase(std::unique(ascii_triples.begin(), ascii_triples.end()), ascii_triples.end());
  }
  // The third-class bits of pair `ab` in `keys` again, from the triples still set in `triple_bits`.
  void refresh_thirds(uint32_t* keys, const uint64_t* triple_bits, uint32_t ab) const {
    const uint32_t at = ascii_pair(ab);
    if (at == UINT32_MAX) return;
    uint32_t thirds = 0;
    for (auto it = std::lower_bound(ascii_triples.begin(), ascii_triples.end(), ab << 8);
         it != ascii_triples.end() && (*it >> 8) == ab; ++it)
      if (bit_at(triple_bits, hash3(*it))) thirds |= third_bit(*it & 255);
    keys[at] = (keys[at] & (kPairKey | kPairWordStart | kThirdsWordStart)) | thirds;
  }
  std::vector<size_t> factored;  // member indices
  std::vector<const Program::Factor*> factor_of;  // by slot: the run it is found by
  // The factors' runs, flattened so that checking a key hit reads one small table rather than the
  // member's program (a few cache misses per hit, most hits failing): per run character, the Latin-1
  // characters its test accepts; wider ones go to the test itself.
  struct RunChar {
    uint64_t latin[4];
    const CharTest* test;
  };
  // What must follow a run for a match to pass through it (Program::Factor::skip and after), flattened
  // like the run. An occurrence followed by anything else makes no attempt, and moves no member's
  // watermark: the starts it would have tried can match only through another occurrence.
  // A set of Latin-1 characters, as four words of bits.
  using Latin = std::array<uint64_t, 4>;
  static bool in(const Latin& set, uint32_t c) { return bit_at(set.data(), c); }
  // What the check of an occurrence reads, one cache line a run: most occurrences fail here, and the
  // scan's hits land on runs all over the set. The character sets a run names are kept once each in
  // `sets` (few are distinct: blanks, word characters, a keyword's next letter), by index, 0 for none.
  struct alignas(64) Run {
    uint32_t len = 0;
    // A run at a fixed offset from the start, whose pattern's leading assertion (\b before a word
    // character, mostly) judges the character before that start, as the member's own prefilter would:
    // it turns away a keyword inside a longer word before its run is read. `lead` is the set of
    // Latin-1 characters it allows there, `lead_at_start` whether the text's start will do.
    uint32_t offset = 0;
    uint16_t lead = 0;
    bool lead_at_start = false;
    bool single = false;  // keyed by one character (Program::single)
    // What must follow the run for a match to pass through it (Program::Factor::skip and after): the
    // characters of a loop right after it (`skip`), then those possible at the next `constrained`
    // offsets. An occurrence followed by anything else makes no attempt, and moves no member's
    // watermark: the starts it would have tried can match only through another occurrence.
    uint16_t skip = 0;
    uint16_t next[3] = {};
    uint8_t constrained = 0;
    bool line_end = false;  // Program::Factor::line_end
    // The Latin-1 characters that may stand right before the run when no match can start at it (the
    // consumers that may hand over to its first character, Program::back_pred), 0 for any: `%` or `w`
    // before the `TYPE` of `\w%(?:ROW)?TYPE\b`, against every other TYPE of a script.
    uint16_t prior = 0;
    // Most run characters accept exactly the Latin-1 characters of one fold class (a letter in
    // either case): bit x of `by_class` says the x-th does, and `cls[x]` is that class. Those are
    // checked against the text's class, without reading the run's tables.
    static constexpr uint32_t kInline = 16;
    uint16_t by_class = 0;
    uint8_t cls[kInline] = {};
    uint32_t first = 0;     // run_chars[first, first + len)
    size_t max_offset = 0;  // the factor's, kept here to spare reading the program at every occurrence
    // The member's, likewise: an alternative (probe) of pattern `owner` leaves once another
    // alternative has matched where none of its later starts can come before.
    uint32_t owner = 0;
    bool probe = false;
  };
  static_assert(sizeof(Run) == 64);
  std::vector<Latin> sets = std::vector<Latin>(1);
  uint16_t intern(const Latin& set) {
    for (size_t i = 1; i < sets.size(); ++i)
      if (sets[i] == set) return static_cast<uint16_t>(i);
    sets.push_back(set);
    return static_cast<uint16_t>(sets.size() - 1);
  }
  // Whether the text around a run at [at, e) may go on as the pattern requires. A character beyond
  // Latin-1, or a long stretch of the loop's characters, is left to the attempt.
  template <class Ch>
  bool allows(const Run& run, const Ch* t, size_t n, size_t at, size_t e) const {
    if (run.prior) {
      if (at == 0) return false;
      const Ch c = t[at - 1];
      if ((sizeof(Ch) == 1 || c < 256) && !in(sets[run.prior], c)) return false;
    }
    size_t r = e;
    if (run.skip) {
      const Latin& loop = sets[run.skip];
      const size_t lim = std::min(n, e + 64);
      for (; r < lim; ++r) {
        const Ch c = t[r];
        if (sizeof(Ch) > 1 && c >= 256) return true;
        if (!in(loop, c)) break;
        if (run.line_end && c == '\n') return true;  // the loop may stop right before it
      }
      if (r == lim && lim < n) return true;
    }
    if (run.line_end && r < n && t[r] != '\n') return false;
    for (uint32_t k = 0; k < run.constrained; ++k) {
      if (r + k >= n) return false;
      const Ch c = t[r + k];
      if (sizeof(Ch) > 1 && c >= 256) return true;
      if (!in(sets[run.next[k]], c)) return false;
    }
    return true;
  }
  std::vector<RunChar> run_chars;
  std::vector<Run> runs;  // by slot
  KeyTable pairs{(1u << 16) / 64}, triples{(1u << kTripleBits) / 64};
  uint8_t lat_class[256] = {};
  const uint64_t* class_pages = nullptr;  // wide_class_pages, asked in the scan without a call
  bool ascii_classes = true;  // an ASCII character's class is its ASCII lowercase (the vector path)
  struct Group {
    std::vector<size_t> members;  // member indices; bit b of the group's masks is members[b]
    Prefilter pf;
  };
  // Patterns that can only start at a line start are grouped apart, so that their pass visits line
  // starts only; the others share the block filter.
  struct Layout {
    std::vector<Group> groups;
    size_t open[2] = {SIZE_MAX, SIZE_MAX};
  };
  // The literal scan looks at every character, at a fixed cost of a few nanoseconds each, where one
  // group's pass skips most of the text by its block filter: it pays only where it saves several
  // groups' passes. So members are grouped as if there were no literal scan (`plain`), and the members
  // the scan cannot take are grouped again on their own (`rest`); the pass picks by how many members
  // the scan takes.
  static constexpr size_t kLiteralScanMin = 65;
  std::vector<Entry> entries;
  std::vector<Member> members;
  Layout plain, rest;
  bool has_probes = false;

  PatternSet::Scan scan = PatternSet::Scan::Auto;
  size_t paired = 0;  // factored members found by a pair; the others, by one rare character, do not count

  bool literal_scan() const {
    if (scan == PatternSet::Scan::Auto) return paired >= kLiteralScanMin;
    return scan == PatternSet::Scan::Literal;
  }
  const std::vector<Group>& groups() const { return literal_scan() ? rest.groups : plain.groups; }

  void group(Layout& layout, size_t member) {
    const auto lead = members[member].prog->start.lead;
    const int cls = lead == StartInfo::BeginLine || lead == StartInfo::BeginText;
    if (layout.open[cls] == SIZE_MAX || layout.groups[layout.open[cls]].members.size() == 64) {
      layout.open[cls] = layout.groups.size();
      layout.groups.emplace_back();
    }
    layout.groups[layout.open[cls]].members.push_back(member);
  }

  // What the pass reads and only the whole set determines: the prefilters of the layout it takes and
  // the key tables' lookup arrays. Made at the first pass, once, whichever thread gets there first,
  // rather than again at every added pattern.
  struct Once {
    std::once_flag flag;
    Once() = default;
    Once(const Once&) {}  // a copy of the set prepares its own
    Once& operator=(const Once&) { return *this; }
  };
  StandIns stand_ins;
  mutable Once prepared;
  void prepare() const {
    std::call_once(prepared.flag, [this] {
      SetImpl& self = const_cast<SetImpl&>(*this);  // only here, once, before any pass reads it
      for (Group& g : self.literal_scan() ? self.rest.groups : self.plain.groups) {
        std::vector<const Program*> progs;
        for (size_t e : g.members) progs.push_back(members[e].prog);
        build_prefilter(g.pf, progs);
      }
      for (KeyTable* t : {&self.pairs, &self.triples})
        if (!t->pending.empty()) t->index();
      self.index_members();
      self.index_ascii();
      std::vector<const Program*> whole;
      for (const Entry& e : entries) whole.push_back(e.prog.get());
      self.stand_ins.build(whole);
    });
  }

  // Where a member is scanned: in the groups' passes without the literal scan (`plain`) and in the
  // literal scan or else the remaining groups (`rest`); or only in the one or the other.
  enum class Only { Both, Groups, Literal };

  void add_member(const Member& m, Only only = Only::Both) {
    // A pattern without a pair is found by one rare character (`@`, `[`, `$`), keyed with the classes
    // that may follow it, so that no member needs a group's pass of its own over the whole text.
    const bool single = m.prog->factor.tests.empty();
    const auto [pick, window] = single ? std::pair{&m.prog->single, KeyWindow{m.prog->single.key}} : rarest_key(*m.prog);
    const Program::Factor& fa = *pick;
    const size_t index = members.size();
    members.push_back(m);
    if (only != Only::Literal) group(plain, index);
    if (only == Only::Groups) return;
    if (!m.counting && !fa.tests.empty()) {
      if (factored.empty()) {
        for (int c = 0; c < 256; ++c) lat_class[c] = fold_class(static_cast<char32_t>(c));
        class_pages = wide_class_pages();
        for (int c = 0; c < 128; ++c)
          if (lat_class[c] != ((c >= 'A' && c <= 'Z') ? c + 32 : c)) ascii_classes = false;
      }
      const uint32_t slot = static_cast<uint32_t>(factored.size());
      factored.push_back(index);
      factor_of.push_back(&fa);
      if (!single && only == Only::Both) ++paired;
      Run& run = runs.emplace_back();
      run.first = static_cast<uint32_t>(run_chars.size());
      run.len = static_cast<uint32_t>(fa.tests.size());
      run.single = single;
      run.max_offset = fa.max_offset;
      run.owner = static_cast<uint32_t>(m.owner);
      run.probe = m.probe;
      auto latin = [](auto&& accepts) {
        Latin set{};
        for (uint32_t c = 0; c < 256; ++c)
          if (accepts(c)) set_bit(set.data(), c);
        return set;
      };
      const Prefilter& solo = m.prog->solo;
      if (fa.min_offset == fa.max_offset && fa.min_offset < UINT32_MAX &&
          ((solo.rule_nonword | solo.rule_word | solo.rule_bol | solo.rule_bot) & 1)) {
        run.lead = intern(latin([&](uint32_t c) { return (solo.prev[c] & 1) != 0; }));
        run.lead_at_start = solo.prev_start & 1;
        run.offset = static_cast<uint32_t>(fa.min_offset);
      }
      run.line_end = fa.line_end;
      const Program& pr = *m.prog;
      if (fa.back_first && !pr.back_pred.empty() && !(fa.back_first & pr.back_start)) {
        uint64_t prev = 0;
        for (uint64_t b = fa.back_first; b; b &= b - 1) prev |= pr.back_pred[std::countr_zero(b)];
        run.prior = intern(latin([&](uint32_t c) {
          for (uint64_t b = prev; b; b &= b - 1)
            if (pr.tests[pr.back_test[std::countr_zero(b)]].latin[c]) return true;
          return false;
        }));
      }
      if (fa.skip >= 0) {
        const CharTest& loop = m.prog->tests[static_cast<uint32_t>(fa.skip)];
        run.skip = intern(latin([&](uint32_t c) { return loop.latin[c] != 0; }));
      }
      while (run.constrained < 3 && !fa.after[run.constrained].any) {
        const StartInfo::Follow& follow = fa.after[run.constrained];
        run.next[run.constrained++] = intern(latin([&](uint32_t c) { return follow.latin[c] != 0; }));
      }
      for (uint32_t id : fa.tests) {
        RunChar rc{{0, 0, 0, 0}, &m.prog->tests[id]};
        for (int c = 0; c < 256; ++c)
          if (rc.test->latin[c]) set_bit(rc.latin, c);
        const uint32_t x = static_cast<uint32_t>(run_chars.size()) - run.first;
        if (x < Run::kInline) {
          // The class of some accepted character, then whether the accepted ones are that class's.
          int k = -1;
          for (int c = 0; c < 256 && k < 0; ++c)
            if (rc.test->latin[c]) k = lat_class[c];
          bool same = k >= 0;
          for (int c = 0; c < 256 && same; ++c) same = (rc.test->latin[c] != 0) == (lat_class[c] == k);
          if (same) {
            run.by_class |= static_cast<uint16_t>(1u << x);
            run.cls[x] = static_cast<uint8_t>(k);
          }
        }
        run_chars.push_back(rc);
      }
      uint64_t cls[3][4];
      auto classes = [&](size_t i, uint64_t* out) {
        return i < fa.tests.size() && test_classes(m.prog->tests[fa.tests[i]], out) && !(out[0] & 1);
      };
      // The window's classes as key_classes gives them (a blank after a keyword included).
      const uint32_t at = window.at;
      const bool three = window.three;
      for (uint32_t k = 0; k < (three ? 3u : 2u); ++k) key_classes(*m.prog, fa, at + k, cls[k]);
      auto each = [](const uint64_t* set, auto&& fn) {
        for (uint32_t c = 0; c < 256; ++c)
          if (bit_at(set, c)) fn(c);
      };
      auto pair = [&](uint32_t ab, uint32_t from) { pairs.add(ab, Keyed{slot, from, ab}); };
      if (single) {
        // The character with each class that may follow it; at the text's last character, with
        // class 0 (which every test that may accept something beyond Latin-1 has).
        classes(fa.key, cls[0]);
        each(cls[0], [&](uint32_t a) { each(fa.next_classes, [&](uint32_t b) { pair(a << 8 | b, fa.key); }); });
        return;
      }
      each(cls[0], [&](uint32_t a) {
        each(cls[1], [&](uint32_t b) {
          if (!three) return pair(a << 8 | b, at);
          each(cls[2], [&](uint32_t c) {
            const uint32_t abc = a << 16 | b << 8 | c;
            triples.add(hash3(abc), Keyed{slot, at, abc});
          });
        });
      });
      return;
    }
    group(rest, index);
  }
};

#ifdef TESSERA_RX_BLOCKS
__attribute__((target("avx2"))) inline __m256i ascii_lower32(__m256i v) {
  const __m256i upper =
      _mm256_and_si256(_mm256_cmpgt_epi8(v, _mm256_set1_epi8('A' - 1)), _mm256_cmpgt_epi8(_mm256_set1_epi8('Z' + 1), v));
  return _mm256_or_si256(v, _mm256_and_si256(upper, _mm256_set1_epi8(0x20)));
}

// Bit i set where lane i of `one_or_zero` is 1.
__attribute__((target("avx2"))) inline uint64_t lanes8(__m256i one_or_zero) {
  return static_cast<uint64_t>(_mm256_movemask_ps(_mm256_castsi256_ps(_mm256_slli_epi32(one_or_zero, 31))));
}

// The positions q..q+31 at which the literal scan may find a key (bit j for q + j): the pair (low
// half) and the triple (high half) of fold classes starting there, by SetImpl::ascii_keys, eight at a
// time. Needs t[q - 1, q + 34). The classes are ASCII lowercase here (SetImpl::ascii_classes); a block
// with any other character leaves every position to the exact lookups of both tables.
template <class Ch>
__attribute__((target("avx2"))) uint64_t key_candidates32(const uint32_t* keys, const Ch* t) {
  const __m256i v0 = bytes32(t), v1 = bytes32(t + 1), v2 = bytes32(t + 2);
  if (_mm256_movemask_epi8(_mm256_or_si256(_mm256_or_si256(v0, v1), v2))) return ~uint64_t{0};
  const __m256i l0 = ascii_lower32(v0), l1 = ascii_lower32(v1), l2 = ascii_lower32(v2);
  // 0xFF where no ASCII word character stands before (one beyond ASCII counts as a word start here).
  const __m256i starts =
      _mm256_cmpeq_epi8(nibble_lookup32(bytes32(t - 1), kWordLo, kWordHi), _mm256_setzero_si256());
  const __m256i one = _mm256_set1_epi32(1), low5 = _mm256_set1_epi32(31);
  const __m256i top = _mm256_set1_epi32(SetImpl::kThirdBits - 1);
  uint64_t mask = 0;
  for (int half = 0; half < 2; ++half) {
    const __m128i h0 = half ? _mm256_extracti128_si256(l0, 1) : _mm256_castsi256_si128(l0);
    const __m128i h1 = half ? _mm256_extracti128_si256(l1, 1) : _mm256_castsi256_si128(l1);
    const __m128i h2 = half ? _mm256_extracti128_si256(l2, 1) : _mm256_castsi256_si128(l2);
    const __m128i hs = half ? _mm256_extracti128_si256(starts, 1) : _mm256_castsi256_si128(starts);
    for (int quarter = 0; quarter < 2; ++quarter) {
      const __m256i a = _mm256_cvtepu8_epi32(quarter ? _mm_srli_si128(h0, 8) : h0);
      const __m256i b = _mm256_cvtepu8_epi32(quarter ? _mm_srli_si128(h1, 8) : h1);
      const __m256i c = _mm256_cvtepu8_epi32(quarter ? _mm_srli_si128(h2, 8) : h2);
      const __m256i at_start = _mm256_and_si256(_mm256_cvtepu8_epi32(quarter ? _mm_srli_si128(hs, 8) : hs), one);
      const __m256i w =
          _mm256_i32gather_epi32(reinterpret_cast<const int*>(keys), _mm256_or_si256(_mm256_slli_epi32(a, 7), b), 4);
      const __m256i pair =
          _mm256_or_si256(_mm256_srli_epi32(w, 31), _mm256_and_si256(_mm256_srli_epi32(w, 30), at_start));
      const __m256i anywhere = _mm256_andnot_si256(_mm256_srli_epi32(w, 29), one);
      const __m256i third = _mm256_min_epu32(_mm256_and_si256(c, low5), top);
      const __m256i triple = _mm256_and_si256(_mm256_and_si256(_mm256_srlv_epi32(w, third), one),
                                              _mm256_or_si256(anywhere, at_start));
      const int at = 16 * half + 8 * quarter;
      mask |= lanes8(pair) << at | lanes8(triple) << (32 + at);
    }
  }
  return mask;
}
#endif

// Whether a pattern scanned alone (its solo prefilter, bit 0) may start at i: its first three
// characters and the one before. Characters beyond Latin-1 are left to the attempt.
template <class Ch>
bool may_start(const Prefilter& pf, const Ch* t, size_t n, size_t i) {
  for (size_t k = 0; k < 3; ++k) {
    if (i + k >= n) {
      if (!(pf.any[k] & 1)) return false;
      continue;
    }
    const Ch c = t[i + k];
    if ((sizeof(Ch) == 1 || c < 256) && !(pf.table[k][c] & 1)) return false;
  }
  if (i == 0) return pf.prev_start & 1;
  const Ch before = t[i - 1];
  if (sizeof(Ch) > 1 && (before >= 256 || (i < n && t[i] >= 256))) return true;
  return pf.prev[before] & 1;
}

// The shared literal scan of the factored members: one left-to-right pass looks up each pair of
// adjacent characters by fold class; a hit whose whole run checks out lets its member try the starts
// its offset bounds allow, in increasing order and each at most once (a watermark per member), with
// the member's memo shared by all its tries. A start no run occurrence allows cannot match (every
// match contains one), so the first start that matches is the pattern's leftmost match.
template <class Ch, class Filter, class Found>
void factor_pass(const SetImpl& s, const Ch* t, size_t n, const Filter& filter,
                 const std::vector<size_t>& probe_first, Found&& found) {
  const size_t count = s.factored.size();
  if (count == 0 || n == 0) return;
  Scratch& sc = scratch();
  if (sc.memos.size() < count) sc.memos.resize(count);
  // Most members of a large set never get a hit in a short text: their memo, look-ahead state and
  // program are touched only at their first attempt, so a call costs little more than its hits.
  std::vector<size_t> watermark(count, 0);
  std::vector<char> done(count, 0);     // 1: left the scan
  std::vector<char> started(count, 0);  // its memo has begun this call
  std::vector<uint32_t> req_of(count, UINT32_MAX);  // its Requirement in reqs, once it needs one
  std::vector<Requirement> reqs;
  std::vector<uint32_t> tries(count, 0);
  size_t left = count;
  // The keys still worth looking up: the tables' own bits until a member leaves, then a copy of
  // them from which a key is dropped once every member it indexes has left (evidence found early in
  // a script, such as a variable's `@`, would otherwise be looked up at every later occurrence). A
  // short text does not pay for the copy.
  constexpr size_t kPruneFrom = 16384;
  // Members from which the scan starts its lookups' loads ahead (the dialect tables have 800; the
  // complexity module's, 27).
  constexpr size_t kWarmFrom = 128;
  const uint64_t* bits[2] = {s.pairs.bits.data(), s.triples.bits.data()};
  const uint32_t* ascii_keys = s.ascii_keys.data();
  std::vector<uint64_t> live_bits;
  std::vector<uint32_t> live_ascii;
  std::vector<uint32_t> live[2];
  auto finish = [&](size_t f) {
    done[f] = 1;
    --left;
    if (started[f]) sc.memos[f].trim();
    if (n < kPruneFrom) return;
    if (live_bits.empty()) {
      live_bits.reserve(s.pairs.bits.size() + s.triples.bits.size());
      live_bits.assign(s.pairs.bits.begin(), s.pairs.bits.end());
      live_bits.insert(live_bits.end(), s.triples.bits.begin(), s.triples.bits.end());
      bits[0] = live_bits.data();
      bits[1] = live_bits.data() + s.pairs.bits.size();
      const SetImpl::KeyTable* tables[2] = {&s.pairs, &s.triples};
      for (int i = 0; i < 2; ++i) {
        const std::vector<uint32_t>& st = tables[i]->start;
        live[i].resize(st.empty() ? 0 : st.size() - 1);
        for (size_t r = 0; r + 1 < st.size(); ++r) live[i][r] = st[r + 1] - st[r];
      }
      if (!s.ascii_keys.empty()) {
        live_ascii = s.ascii_keys;
        ascii_keys = live_ascii.data();
      }
    }
    for (uint32_t k = s.key_start[f]; k < s.key_start[f + 1]; ++k) {
      const SetImpl::KeyRef& ref = s.keys_of[k];
      if (--live[ref.table][ref.rank] != 0) continue;
      clear_bit(live_bits.data() + (ref.table ? s.pairs.bits.size() : 0), ref.key);
      if (live_ascii.empty()) continue;
      if (ref.table == 1) {
        s.refresh_thirds(live_ascii.data(), bits[1], ref.classes >> 8);
      } else if (const uint32_t at = SetImpl::ascii_pair(ref.key); at != UINT32_MAX) {
        live_ascii[at] &= ~(SetImpl::kPairKey | SetImpl::kPairWordStart);
      }
    }
  };
  auto requirement = [&](size_t f) -> Requirement& {
    if (req_of[f] == UINT32_MAX) {
      req_of[f] = static_cast<uint32_t>(reqs.size());
      reqs.emplace_back();
    }
    return reqs[req_of[f]];
  };
  // A character or keyword every match contains that no longer occurs at or after `from`: no match
  // is left. Looking ahead for it costs a scan of its own, worth it only for a pattern whose literal
  // keeps occurring without a match (text made of the one keyword).
  auto hopeless = [&](size_t f, const Program& p, size_t from) {
    // Past the first thousand, every 32nd fruitless try looks again: a pattern of many alternatives
    // asks each of them whether it still occurs.
    return ++tries[f] > 1024 && tries[f] % 32 == 1 &&
           (!requirement(f).still_possible(p, t, n, from) || !requirement(f).some_alternative_possible(p, t, n, from));
  };
  // Walks back from the occurrence of fa's run at run_at (Program::back_pred) to a start in [lo, hi]
  // that may reach it, where the filter allows the pattern to start; true also when the walk is not
  // made. The walks of a call share a budget of
  // steps proportional to the text, so that they stay linear whatever the text.
  size_t back_budget = n / 4 + 4096;
  auto reaches_back = [&](const Program& p, size_t owner, const Program::Factor& fa, size_t run_at, size_t lo,
                          size_t hi) {
    if (!fa.back_first || p.back_pred.empty()) return true;
    uint64_t x = fa.back_first;  // the consumers that may take the character at r
    for (size_t r = run_at;; --r) {
      if ((x & p.back_start) && r <= hi && may_start(p.solo, t, n, r) && filter.allows(owner, r)) return true;
      if (r == lo) return false;
      if (back_budget == 0) return true;
      --back_budget;
      uint64_t prev = 0;
      for (uint64_t b = x; b; b &= b - 1) prev |= p.back_pred[std::countr_zero(b)];
      const Ch c = t[r - 1];
      x = 0;
      for (uint64_t b = prev; b; b &= b - 1) {
        const int i = std::countr_zero(b);
        if (p.tests[p.back_test[i]](c)) x |= uint64_t{1} << i;
      }
      if (!x) return false;
    }
  };
  auto attempt = [&](size_t f, size_t run_at) {
    const SetImpl::Member& me = s.members[s.factored[f]];
    const Program& p = *me.prog;
    const Program::Factor& fa = *s.factor_of[f];
    if (run_at < fa.min_offset) return;
    size_t hi = run_at - fa.min_offset;
    size_t lo = fa.max_offset > run_at ? 0 : run_at - fa.max_offset;
    lo = std::max(lo, watermark[f]);
    if (lo > hi) return;
    // A wide window (a keyword after an unbounded opening) is tried only when some start in it can
    // reach this occurrence; when none can, it makes no attempt and moves no watermark, as an
    // occurrence that cannot continue.
    if (hi - lo > 16 && !reaches_back(p, me.owner, fa, run_at, lo, hi)) {
      if (hopeless(f, p, lo)) finish(f);
      return;
    }
    watermark[f] = hi + 1;
    if (hi - lo > 16) {
      // Every character between the start and the run passes a test before it.
      size_t back = run_at;
      while (back > lo) {
        const Ch c = t[back - 1];
        if ((sizeof(Ch) == 1 || c < 256) ? !fa.before[c] : !fa.wide) break;
        --back;
      }
      if (back > hi) return;
      lo = back;
    }
    // Another alternative of the same pattern already matched no later: this one cannot do better.
    if (me.probe && probe_first[me.owner] <= lo) return finish(f);
    if (hopeless(f, p, lo)) return finish(f);
    Memo& memo = sc.memos[f];
    if (!started[f]) {
      started[f] = 1;
      memo.begin(p.nstates);
    }
    const Prefilter& pf = p.solo;
    if (pf.rule_bot & 1) {
      if (lo > 0) return;
      hi = 0;
    }
    const char32_t newline = U'\n';
    for (size_t st = lo; st <= hi; ++st) {
      // A literal far from the start (after a `^\s*`, say) leaves a wide range: walk it by line starts
      // or by the possible first characters where the pattern says so.
      if (pf.rule_bol & 1) {
        if (st > 0 && t[st - 1] != '\n') st = find_any(t, st, std::min(n, hi), &newline, 1) + 1;
        if (st > hi) return;
      } else if (pf.sparse) {
        st = find_any(t, st, std::min(n, hi + 1), pf.first_chars, pf.nfirst);
        if (st > hi || st >= n) return;
      }
      if (!may_start(pf, t, n, st)) continue;
      const size_t allowed = filter.next(me.owner, st);
      if (allowed != st) {
        if (allowed == SIZE_MAX) return finish(f);  // no start left anywhere
        if (allowed > hi) return;
        st = allowed - 1;
        continue;
      }
      // Most starts of a window fail in the pattern's opening, which needs no backtracking (`@\w+\s+`
      // of a variable that is only assigned to).
      if (prefix_end_at(p, t, n, st) == SIZE_MAX) continue;
      memo.set_floor(st);
      if (std::optional<size_t> e = execute(p, t, n, st, false, memo, sc.stack)) {
        found(me, st, *e);
        return finish(f);
      }
    }
  };
  auto cls = [&](Ch c) -> uint32_t {
    if (sizeof(Ch) == 1 || c < 256) return s.lat_class[c];
    if (!on_class_page(s.class_pages, c)) return 0u;
    return fold_class(c);
  };
  auto check = [&](const SetImpl::Keyed* e, const SetImpl::Keyed* end, uint32_t classes, size_t q) {
    for (; e < end; ++e) {
      const size_t f = e->slot;
      if (e->classes != classes || done[f] || q < e->at) continue;
      const SetImpl::Run& run = s.runs[f];
      const size_t run_at = q - e->at;
      // As attempt's own test, but before the run is read: most occurrences of a keyword that an
      // alternative shares with others come after one of those has matched (`FROM #t` of
      // `\b(?:FROM|JOIN|INTO)\s+#`), and this one's leaving lets its keys leave the scan.
      if (run.probe && run.max_offset <= run_at && probe_first[run.owner] <= run_at - run.max_offset) {
        finish(f);
        continue;
      }
      if (run_at + run.len > n) continue;
      if (run.lead) {
        // As may_start judges the one start this occurrence allows.
        if (run_at < run.offset) continue;
        const size_t st = run_at - run.offset;
        if (st == 0) {
          if (!run.lead_at_start) continue;
        } else {
          const Ch before = t[st - 1];
          if ((sizeof(Ch) == 1 || (before < 256 && (st >= n || t[st] < 256))) && !SetImpl::in(s.sets[run.lead], before))
            continue;
        }
      }
      const SetImpl::RunChar* rc = s.run_chars.data() + run.first;
      size_t x = 0;
      for (; x < run.len; ++x) {
        const Ch c = t[run_at + x];
        bool ok;
        if (sizeof(Ch) > 1 && c >= 256)
          ok = (*rc[x].test)(c);
        else if (x < SetImpl::Run::kInline && ((run.by_class >> x) & 1))
          ok = s.lat_class[c] == run.cls[x];
        else
          ok = bit_at(rc[x].latin, c);
        if (!ok) break;
      }
      if (x < run.len) continue;
      if (s.allows(run, t, n, run_at, run_at + run.len)) {
        attempt(f, run_at);
        continue;
      }
      // No match passes through this occurrence; later ones start past its window at the least.
      const size_t from = run.max_offset < run_at ? run_at - run.max_offset : 0;
      if (hopeless(f, *s.members[s.factored[f]].prog, std::max(from, watermark[f]))) finish(f);
    }
  };
  // The entries keyed by `classes` in table `kt` while their key is live, none otherwise.
  auto live_entries = [&](const SetImpl::KeyTable& kt, uint32_t classes, bool popcnt = false) {
    const bool triple = &kt == &s.triples;
    const uint32_t key = triple ? SetImpl::hash3(classes) : classes;
    using Range = std::pair<const SetImpl::Keyed*, const SetImpl::Keyed*>;
    if (!SetImpl::KeyTable::has(bits[triple], key)) return Range{nullptr, nullptr};
#ifdef TESSERA_RX_BLOCKS
    if (popcnt) return kt.of_popcnt(key);
#endif
    (void)popcnt;
    return kt.of(key);
  };
  // The members keyed by `classes` in table `kt`, checked at q.
  auto look = [&](const SetImpl::KeyTable& kt, uint32_t classes, size_t q, bool popcnt = false) {
    const auto [from, to] = live_entries(kt, classes, popcnt);
    if (from != to) check(from, to, classes, q);
  };
  const bool any_pairs = !s.pairs.pending.empty(), any_triples = !s.triples.pending.empty();
  size_t q = 0;
#ifdef TESSERA_RX_BLOCKS
  if (s.ascii_classes && !s.ascii_keys.empty() && have_avx2()) {
    // Blocks of 32 positions, each candidate then looked up as below, in the same order. The first
    // block sees a blank before the text, as a word starts at its start.
    Ch first[35];
    if (n >= 34) {
      first[0] = Ch(' ');
      std::copy(t, t + 34, first + 1);
    }
    // The candidates of a block's `hits` (from position `at`), in the lookups' order: fn(table,
    // classes, position) for the pair, then the triple, at each position.
    auto each_candidate = [&](uint64_t hits, size_t at, auto&& fn) {
      for (uint32_t m = static_cast<uint32_t>(hits | hits >> 32); m && left; m &= m - 1) {
        const int j = std::countr_zero(m);
        const size_t p = at + static_cast<size_t>(j);
        const uint32_t a = cls(t[p]), b = cls(t[p + 1]);
        if ((hits >> j) & 1) fn(s.pairs, a << 8 | b, p);
        if ((hits >> (32 + j)) & 1) fn(s.triples, a << 16 | b << 8 | cls(t[p + 2]), p);
      }
    };
    // A hit's lookup is a chain of loads (its key's rank, its entries, their runs) that mostly miss
    // the first-level cache in a large set. So the candidates are found two blocks ahead, and their
    // entries start loading; a block ahead, with those entries at hand, the runs they name do; and
    // the lookups of a block, made in the same order as ever, find them there. Hits found ahead of
    // keys that have left since are turned away by the lookup, as any hit of a key no longer live.
    // A small set's tables stay in that cache: there the early loads would only cost their loops.
    const bool warm_ahead = count >= kWarmFrom;
    // A block beyond ASCII makes every position a candidate (key_candidates32): loading ahead for
    // each would only walk the block three times over.
    constexpr uint64_t kEvery = ~uint64_t{0};
    auto warm_entries = [&](const SetImpl::KeyTable& kt, uint32_t classes, size_t) {
      if (const auto [from, to] = live_entries(kt, classes, true); from != to) __builtin_prefetch(from);
    };
    auto warm_runs = [&](const SetImpl::KeyTable& kt, uint32_t classes, size_t) {
      const auto [from, to] = live_entries(kt, classes, true);
      for (const SetImpl::Keyed* e = from; e < to; ++e) __builtin_prefetch(&s.runs[e->slot]);
    };
    uint64_t hits = q + 34 <= n ? key_candidates32(ascii_keys, first + 1) : 0;
    uint64_t next_hits = q + 66 <= n ? key_candidates32(ascii_keys, t + 32) : 0;
    if (warm_ahead && next_hits != kEvery) each_candidate(next_hits, 32, warm_entries);
    while (q + 34 <= n && left) {
      const size_t next = q + 32, after = q + 64;
      const uint64_t after_hits = after + 34 <= n ? key_candidates32(ascii_keys, t + after) : 0;
      if (warm_ahead) {
        if (after_hits != kEvery) each_candidate(after_hits, after, warm_entries);
        if (next_hits != kEvery) each_candidate(next_hits, next, warm_runs);
      }
      each_candidate(hits, q, [&](const SetImpl::KeyTable& kt, uint32_t classes, size_t p) {
        look(kt, classes, p, true);
      });
      q = next;
      hits = next_hits;
      next_hits = after_hits;
    }
  }
#endif
  uint32_t c0 = q < n ? cls(t[q]) : 0, c1 = q + 1 < n ? cls(t[q + 1]) : 0;
  for (; q + 1 < n && left; ++q) {
    const uint32_t c2 = q + 2 < n ? cls(t[q + 2]) : 0;
    if (any_pairs) look(s.pairs, c0 << 8 | c1, q);
    if (any_triples && q + 2 < n) look(s.triples, c0 << 16 | c1 << 8 | c2, q);
    c0 = c1;
    c1 = c2;
  }
  // A single character's key at the last character: with class 0 after it, like a pair at the end.
  if (any_pairs && left) look(s.pairs, cls(t[n - 1]) << 8, n - 1);
  for (size_t f = 0; f < count; ++f)
    if (!done[f] && started[f]) sc.memos[f].trim();
}

// Every start allowed.
struct AnyStart {
  size_t next(size_t, size_t pos) const { return pos; }
  bool allows(size_t, size_t) const { return true; }
};

// Every start allowed, but none to the patterns an earlier piece of the text found (they leave the
// pass before it starts); the members' fruitless tries carry over from piece to piece.
struct AcrossPieces {
  const std::vector<char>& found;
  std::vector<uint32_t>& tries;
  size_t next(size_t pattern, size_t pos) const { return found[pattern] ? SIZE_MAX : pos; }
  bool allows(size_t pattern, size_t) const { return !found[pattern]; }
  bool skips(size_t pattern) const { return found[pattern] != 0; }
};

}  // namespace detail

PatternSet::PatternSet(Scan how) : impl_(std::make_unique<SetImpl>()) { impl_->scan = how; }
PatternSet::~PatternSet() = default;
PatternSet::PatternSet(const PatternSet& o) : impl_(std::make_unique<SetImpl>(*o.impl_)) {}
PatternSet& PatternSet::operator=(const PatternSet& o) {
  if (this != &o) impl_ = std::make_unique<SetImpl>(*o.impl_);
  return *this;
}
PatternSet::PatternSet(PatternSet&&) noexcept = default;
PatternSet& PatternSet::operator=(PatternSet&&) noexcept = default;

size_t PatternSet::add(const Pattern& p, Mode m) {
  SetImpl& s = *impl_;
  const size_t idx = s.entries.size();
  s.entries.push_back({p.prog_, m});
  const Program& prog = *p.prog_;
  if (m == Mode::Search && !prog.probes.empty()) {
    s.has_probes = true;
    for (const auto& probe : prog.probes) {
      if (probe->spelled.empty()) {
        s.add_member({probe.get(), idx, true, false});
        continue;
      }
      // The groups' passes take the probe, the literal scan its spelled-out programs.
      s.add_member({probe.get(), idx, true, false}, SetImpl::Only::Groups);
      for (const auto& part : probe->spelled) s.add_member({part.get(), idx, true, false}, SetImpl::Only::Literal);
    }
  } else if (m == Mode::Search && !prog.spelled.empty()) {
    // As a probe's spelled-out programs: the literal scan finds the least start among them, and the
    // whole pattern gives the span there.
    s.has_probes = true;
    s.add_member({&prog, idx, false, false}, SetImpl::Only::Groups);
    for (const auto& part : prog.spelled) s.add_member({part.get(), idx, true, false}, SetImpl::Only::Literal);
  } else if (m == Mode::Search && parts_are_rarer(prog)) {
    // The same, the whole counted as it would be alone, so that the choice of scan stays the same.
    s.has_probes = true;
    s.add_member({&prog, idx, false, false}, SetImpl::Only::Groups);
    for (const auto& part : prog.spelled_probes) s.add_member({part.get(), idx, true, false}, SetImpl::Only::Literal);
    ++s.paired;
  } else {
    s.add_member({&prog, idx, false, m == Mode::Count});
  }
  return idx;
}

size_t PatternSet::size() const { return impl_->entries.size(); }

PatternSet::Layout PatternSet::layout() const {
  Layout out;
  out.literal_scan = impl_->literal_scan();
  for (const SetImpl::Group& g : impl_->groups()) out.groups.push_back(g.members.size());
  return out;
}

// A member's look-ahead for its required literals scans the rest of the text once; it is taken once the
// member's attempts would have paid for that scan (Program::lookahead_log2). Until then attempts go on;
// from then on the literals' next occurrences rule out the starts before them at no further cost.

// report(index, begin, end) for every match found: the first one of a Search pattern, every findall
// match of a Count pattern, in text order per pattern.
template <class Ch, class Filter, class Report>
void PatternSet::pass(const Ch* text, size_t n, const Filter& filter, Report&& report) const {
  const SetImpl& s = *impl_;
  s.prepare();
  Scratch& sc = scratch();
  // The least start at which some alternative of a probed pattern matched.
  std::vector<size_t> probe_first(s.has_probes ? s.entries.size() : 0, SIZE_MAX);
  if (s.literal_scan())
    factor_pass(s, text, n, filter, probe_first, [&](const SetImpl::Member& me, size_t from, size_t to) {
      if (me.probe) {
        probe_first[me.owner] = std::min(probe_first[me.owner], from);
      } else {
        report(me.owner, from, to);
      }
    });
  for (const SetImpl::Group& g : s.groups()) {
    const size_t k = g.members.size();
    if (sc.memos.size() < k) sc.memos.resize(k);
    const SetImpl::Member* mem[64];
    FindAllState fa[64];
    Requirement req[64];
    uint32_t tries[64] = {};
    uint64_t searching = 0;  // active search-mode patterns: they may start anywhere
    for (size_t b = 0; b < k; ++b) {
      if constexpr (requires { filter.tries; }) tries[b] = filter.tries[g.members[b]];
      mem[b] = &s.members[g.members[b]];
      sc.memos[b].begin(mem[b]->prog->nstates);
      if (!mem[b]->counting) searching |= uint64_t{1} << b;
    }
    uint64_t active = g.pf.all;
    auto leave = [&](int b) {
      active &= ~(uint64_t{1} << b);
      searching &= ~(uint64_t{1} << b);
    };
    if constexpr (requires { filter.skips(size_t{0}); }) {
      for (size_t b = 0; b < k; ++b)
        if (filter.skips(mem[b]->owner)) leave(static_cast<int>(b));
    }
    Scanner<Ch>(g.pf, text, n).run(active, [&](size_t i, uint64_t m) {
      while (m) {
        const int b = std::countr_zero(m);
        m &= m - 1;
        if (!(active >> b & 1)) continue;
        const SetImpl::Member& me = *mem[b];
        if (me.probe && probe_first[me.owner] <= i) {
          leave(b);
          continue;
        }
        if (++tries[b] > (n - i) >> me.prog->lookahead_log2) {
          const size_t from = req[b].next_start(*me.prog, text, n, i);
          if (from == SIZE_MAX) {
            leave(b);
            continue;
          }
          if (from > i) continue;
        }
        // Most fruitless attempts fail in the pattern's opening keywords, which need no backtracking.
        const size_t through = sizeof(Ch) == 1 ? prefix_end_at(*me.prog, text, n, i + me.prog->settled_chars,
                                                                me.prog->settled_pc)
                                               : prefix_end_at(*me.prog, text, n, i);
        if (through == SIZE_MAX) continue;
        if (me.counting) {
          if (i < fa[b].next) continue;
          if (me.prog->prefix_is_whole) {
            report(me.owner, i, through);
            fa[b].next = through;
            continue;
          }
          fa[b].attempt(*me.prog, text, n, i, sc.memos[b], sc.stack,
                        [&](size_t from, size_t to) { report(me.owner, from, to); }, through);
          continue;
        }
        if (filter.next(me.owner, i) != i) continue;
        sc.memos[b].set_floor(i);
        std::optional<size_t> e = execute(*me.prog, text, n, i, false, sc.memos[b], sc.stack, through);
        if (!e) continue;
        if (!me.probe) {
          report(me.owner, i, *e);
          leave(b);
          continue;
        }
        // The other alternatives of the same pattern can only match further on.
        probe_first[me.owner] = std::min(probe_first[me.owner], i);
        for (size_t x = 0; x < k; ++x)
          if (mem[x]->probe && mem[x]->owner == me.owner) leave(static_cast<int>(x));
      }
      // With only count-mode patterns left, jump to the first position one of them may resume at.
      if (searching) return i + 1;
      size_t next = SIZE_MAX;
      for (uint64_t a = active; a; a &= a - 1) next = std::min(next, fa[std::countr_zero(a)].next);
      return std::max(i + 1, next);
    });
    for (size_t b = 0; b < k; ++b) {
      sc.memos[b].trim();
      if constexpr (requires { filter.tries; }) filter.tries[g.members[b]] = tries[b];
    }
  }
  for (size_t owner = 0; owner < probe_first.size(); ++owner) {
    const size_t at = probe_first[owner];
    if (at == SIZE_MAX) continue;
    const Program& whole = *s.entries[owner].prog;
    if (sc.memos.empty()) sc.memos.resize(1);
    Memo& memo = sc.memos[0];
    memo.begin(whole.nstates);
    memo.set_floor(at);
    if (std::optional<size_t> e = execute(whole, text, n, at, false, memo, sc.stack)) report(owner, at, *e);
    memo.trim();
  }
}

template <class Ch>
void PatternSet::run(const Ch* text, size_t n, std::vector<size_t>& out) const {
  out.assign(impl_->entries.size(), 0);
  pass(text, n, AnyStart{}, [&](size_t index, size_t, size_t) { ++out[index]; });
}

PatternSet::Pieces::Pieces(const PatternSet& set)
    : found(set.impl_->entries.size(), 0), tries(set.impl_->members.size(), 0) {}

template <class Ch>
void PatternSet::run(const Ch* text, size_t n, std::vector<size_t>& out, Pieces& pieces) const {
  out.assign(impl_->entries.size(), 0);
  pass(text, n, AcrossPieces{pieces.found, pieces.tries}, [&](size_t index, size_t, size_t) { ++out[index]; });
  for (size_t i = 0; i < out.size(); ++i)
    if (out[i] && impl_->entries[i].mode == Mode::Search) pieces.found[i] = 1;
}

template <class Ch>
void PatternSet::run_spans(const Ch* text, size_t n, std::vector<std::vector<Span>>& spans) const {
  spans.resize(impl_->entries.size());
  for (auto& v : spans) v.clear();
  pass(text, n, AnyStart{}, [&](size_t index, size_t from, size_t to) { spans[index].emplace_back(from, to); });
}

template <class Ch>
void PatternSet::run_first_where(const Ch* text, size_t n, const StartFilter& filter,
                                 std::vector<std::vector<Span>>& spans) const {
  spans.resize(impl_->entries.size());
  for (auto& v : spans) v.clear();
  pass(text, n, filter, [&](size_t index, size_t from, size_t to) {
    if (impl_->entries[index].mode == Mode::Search) spans[index].emplace_back(from, to);
  });
}

template <class Ch>
bool PatternSet::stand_in(const Ch* text, size_t n, std::vector<uint8_t>& out) const {
  impl_->prepare();
  return impl_->stand_ins.copy(text, n, out);
}
template bool PatternSet::stand_in<uint16_t>(const uint16_t*, size_t, std::vector<uint8_t>&) const;
template bool PatternSet::stand_in<uint32_t>(const uint32_t*, size_t, std::vector<uint8_t>&) const;

#define TESSERA_RX_INSTANTIATE(Ch)                                                                 \
  template bool Pattern::search<Ch>(const Ch*, size_t) const;                                      \
  template std::optional<Span> Pattern::search_span<Ch>(const Ch*, size_t, size_t) const;           \
  template void PatternSet::run_spans<Ch>(const Ch*, size_t, std::vector<std::vector<Span>>&) const; \
  template size_t Pattern::count_all<Ch>(const Ch*, size_t) const;                                 \
  template std::optional<size_t> Pattern::match<Ch>(const Ch*, size_t, size_t) const;              \
  template void Pattern::find_all<Ch>(const Ch*, size_t, std::vector<std::pair<size_t, size_t>>&) \
      const;                                                                                       \
  template void PatternSet::run<Ch>(const Ch*, size_t, std::vector<size_t>&) const;              \
  template void PatternSet::run<Ch>(const Ch*, size_t, std::vector<size_t>&, Pieces&) const;       \
  template void PatternSet::run_first_where<Ch>(const Ch*, size_t, const StartFilter&,            \
                                                std::vector<std::vector<Span>>&) const;

TESSERA_RX_INSTANTIATE(uint8_t)
TESSERA_RX_INSTANTIATE(uint16_t)
TESSERA_RX_INSTANTIATE(uint32_t)
#undef TESSERA_RX_INSTANTIATE

}  // namespace tessera::rx
