// The inventory's lexical scan: one left-to-right pass over a str's storage that knows comments
// (-- and /* */, and # where text::hash_comment_at says it opens one), string literals, quoted
// identifiers, dollar-quoted bodies, batch separators and where statements
// start, and finds the heads of the objects a script defines (forms.hpp). Linear: every character
// is looked at a bounded number of times (a head's words are read once more when the head is
// parsed). Touches no Python object, so it runs with the GIL released.
#pragma once

#include "inventory/forms.hpp"
#include "regex/isa.hpp"
#include "regex/regex_simd.hpp"
#include "text/sqltext.hpp"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace tessera::inventory {

// What names an object given as IDENTIFIER('...') or IDENTIFIER($variable): a string's text, from
// after its opening quote to before its closing one (doubled quotes inside), or the variable or
// quoted name as written. All zero for every other name.
struct Called {
  size_t begin = 0, end = 0;
  bool string = false;
};

struct Object {
  Kind kind;
  Statement statement;
  bool routine;
  size_t name_begin, name_end;  // the name as written
  size_t first_line, last_line;
  size_t begin;       // where the first line starts
  size_t last_begin;  // where the last line starts
  Called called{};
};

// A line that begins a statement at the top nesting level: where a reader can pick up.
struct StatementStart {
  size_t line;
  size_t verb;  // where its first word starts
};

struct Inventory {
  std::vector<Object> objects;
  size_t total_lines = 0;
  // Filled only for planning.
  std::vector<StatementStart> starts;
  std::vector<size_t> line_begin;
};

namespace lex {

enum : unsigned char { kSpecial = 1, kWordStart = 2, kWord = 4, kBlank = 8, kBreak = 16, kParen = 32 };

// Latin-1 classes: the characters the main loop stops at, those that make up words, and the
// host's whitespace (str.isspace) and line boundaries (str.splitlines).
inline constexpr std::array<unsigned char, 256> kClasses = [] {
  std::array<unsigned char, 256> t{};
  for (unsigned c = 0; c < 256; ++c) {
    unsigned v = 0;
    const bool brk = (c >= 0x0A && c <= 0x0D) || (c >= 0x1C && c <= 0x1E) || c == 0x85;
    const bool space = (c >= 0x09 && c <= 0x0D) || (c >= 0x1C && c <= 0x20) || c == 0x85 || c == 0xA0;
    if (brk) v |= kBreak | kSpecial;
    if (space) v |= kBlank;
    for (const char* p = "'\"[`-/$;#"; *p; ++p)
      if (c == static_cast<unsigned char>(*p)) v |= kSpecial;
    if (c == '(' || c == ')') v |= kParen;
    const bool alpha = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' ||
                       (c >= 0xC0 && c != 0xD7 && c != 0xF7) || c == 0xAA || c == 0xB5 || c == 0xBA;
    if (alpha) v |= kWordStart | kWord;
    if ((c >= '0' && c <= '9') || c == '@' || c == '#' || c == '$') v |= kWord;
    t[c] = static_cast<unsigned char>(v);
  }
  return t;
}();

// Asked of nearly every character the line-by-line scan visits: kept inline in every loop.
template <class Ch>
__attribute__((always_inline)) inline unsigned char of(Ch c) noexcept {
  const Py_UCS4 u = static_cast<Py_UCS4>(c);
  if (u < 256) return kClasses[u];
  if (u == 0x2028 || u == 0x2029) return kSpecial | kBreak | kBlank;
  unsigned char v = Py_UNICODE_ISSPACE(u) ? kBlank : 0;
  if (Py_UNICODE_ISALPHA(u)) v |= kWordStart | kWord;
  else if (Py_UNICODE_ISALNUM(u)) v |= kWord;
  return v;
}

template <class Ch>
inline bool word_char(Ch c) noexcept {
  return of(c) & kWord;
}

template <class Ch>
inline Ch upper(Ch c) noexcept {
  return (c >= Ch('a') && c <= Ch('z')) ? Ch(c - 32) : c;
}

// s[b, e) spells the keyword, in any letter case.
template <class Ch>
inline bool is(const Ch* s, size_t b, size_t e, std::string_view keyword) noexcept {
  const size_t len = keyword.size();
  if (e - b != len) return false;
  for (size_t k = 0; k < len; ++k)
    if (upper(s[b + k]) != Ch(static_cast<unsigned char>(keyword[k]))) return false;
  return true;
}

template <class Ch>
inline bool space_not_break(Ch c) noexcept {
  return (of(c) & (kBlank | kBreak)) == kBlank;
}

// Whether s[i] stops the main loop: a line boundary, a quote or bracket, a comment's opener, a
// dollar, a semicolon, and with Parens a parenthesis. A lone minus or slash does not, nor a "#"
// that opens no comment.
template <bool Parens, class Ch>
inline bool stops(const Ch* s, size_t i, size_t n) noexcept {
  const unsigned char k = of(s[i]);
  if (Parens && (k & kParen)) return true;
  if (!(k & kSpecial)) return false;
  if (s[i] == Ch('-')) return i + 1 < n && s[i + 1] == Ch('-');
  if (s[i] == Ch('/')) return i + 1 < n && s[i + 1] == Ch('*');
  if (s[i] == Ch('#')) return text::hash_comment_at(s, i, n);
  return true;
}

#if defined(__SSE2__)
// The candidate stops among 16 one-byte characters, as a bit mask. Characters above Latin-1 reach
// here saturated to 0xFF and are sorted out by the caller, as is every "#".
template <bool Parens>
inline int candidates(__m128i v, __m128i next) noexcept {
  const __m128i zero = _mm_setzero_si128();
  auto in_range = [&](char low, char count) {
    return _mm_cmpeq_epi8(_mm_subs_epu8(_mm_sub_epi8(v, _mm_set1_epi8(low)), _mm_set1_epi8(count)), zero);
  };
  auto eq = [](__m128i x, char c) { return _mm_cmpeq_epi8(x, _mm_set1_epi8(c)); };
  __m128i hit = _mm_or_si128(in_range(0x0A, 3), in_range(0x1C, 2));  // line boundaries
  hit = _mm_or_si128(hit, _mm_or_si128(eq(v, static_cast<char>(0x85)), eq(v, '\'')));
  hit = _mm_or_si128(hit, _mm_or_si128(eq(v, '"'), eq(v, '$')));
  hit = _mm_or_si128(hit, _mm_or_si128(eq(v, ';'), _mm_or_si128(eq(v, '['), eq(v, '`'))));
  hit = _mm_or_si128(hit, eq(v, '#'));
  hit = _mm_or_si128(hit, _mm_and_si128(eq(v, '-'), eq(next, '-')));
  hit = _mm_or_si128(hit, _mm_and_si128(eq(v, '/'), eq(next, '*')));
  if (Parens) hit = _mm_or_si128(hit, in_range('(', 1));
  return _mm_movemask_epi8(hit);
}
#endif

// Index of the first character at or after i that stops the main loop (n when none).
template <bool Parens, class Ch>
inline size_t next_special(const Ch* s, size_t i, size_t n) noexcept {
#if defined(__SSE2__)
  if constexpr (sizeof(Ch) == 1) {
    for (; i + 17 <= n; i += 16) {
      const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i));
      const __m128i next = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i + 1));
      for (int mask = candidates<Parens>(v, next); mask; mask &= mask - 1) {
        const size_t at = i + static_cast<size_t>(__builtin_ctz(mask));
        if (s[at] != Ch('#') || text::hash_comment_at(s, at, n)) return at;
      }
    }
  } else if constexpr (sizeof(Ch) == 2) {
    const __m128i high = _mm_set1_epi8(static_cast<char>(0xFF));
    for (; i + 17 <= n; i += 16) {
      auto load = [&](size_t at) {
        return _mm_packus_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(s + at)),
                                _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + at + 8)));
      };
      const __m128i v = load(i);
      const __m128i next = load(i + 1);
      int mask = candidates<Parens>(v, next) | _mm_movemask_epi8(_mm_cmpeq_epi8(v, high));
      while (mask) {
        const size_t at = i + static_cast<size_t>(__builtin_ctz(mask));
        if (stops<Parens>(s, at, n)) return at;
        mask &= mask - 1;
      }
    }
  }
#endif
  for (; i < n; ++i)
    if (stops<Parens>(s, i, n)) return i;
  return n;
}

// Class masks of 64 characters, one bit per character, for the bulk path of the object scan. A CR
// followed by an LF counts as a blank and the LF as the line boundary, so that the pair is one.
struct Masks {
  uint64_t lines;    // line boundaries
  uint64_t blanks;   // space, tab, a CR before an LF
  uint64_t quotes;   // single quotes
  uint64_t events;   // what needs the one-by-one path outside a literal: " [ ` $ ; /, -- at its first
                     // minus, and a # that opens a comment
  uint64_t hazards;  // quotes right after a backslash, which may be escaped ones
  uint64_t initials;  // the letters a head or a batch separator starts with: A C G R in either case
  uint64_t closers;   // closing brackets
  uint64_t parity;    // the running parity of the quotes, each bit counting the quotes up to it
};

// The running parity of the quote bits, by doubling: each step xors in the parity of twice as many
// bits before.
__attribute__((always_inline)) inline uint64_t prefix_parity(uint64_t x) noexcept {
  x ^= x << 1;
  x ^= x << 2;
  x ^= x << 4;
  x ^= x << 8;
  x ^= x << 16;
  x ^= x << 32;
  return x;
}

// The classes each ISA path finds, before the pairs that need a neighbour are settled.
struct RawMasks {
  uint64_t lines, blanks, quotes, events, dashes, rare, initials;  // rare: see settle
};

// Settles what depends on a neighbour, the character after the block (s[i + 64]) included, into m.
// Each field is written once, from a register: a struct built aside and copied in goes through memory
// in halves the copy then reads whole, which stalls.
template <class Ch>
__attribute__((always_inline)) inline void settle(const Ch* s, size_t i, const RawMasks& r, Masks& m) noexcept {
  uint64_t lines = r.lines, blanks = r.blanks, hazards = 0, closers = 0;
  uint64_t events = r.events | (r.dashes & ((r.dashes >> 1) | (uint64_t{s[i + 64] == Ch('-')} << 63)));
  // One mask for CRs, closing brackets, backslashes, hashes and (on the AVX2 path) NELs, each settled
  // by a look at it and its neighbours: every further mask costs every block more than this loop
  // costs, even with a CR on each line of a CR LF script and the brackets of bracket-quoting ones.
  for (uint64_t rare = r.rare; rare; rare &= rare - 1) {
    const unsigned b = static_cast<unsigned>(__builtin_ctzll(rare));
    const Ch c = s[i + b];
    if (c == Ch(']')) {
      closers |= uint64_t{1} << b;
    } else if (c == Ch('\r')) {
      if (s[i + b + 1] == Ch('\n')) blanks |= uint64_t{1} << b;
      else lines |= uint64_t{1} << b;
    } else if (c == Ch(0x85)) {
      lines |= uint64_t{1} << b;
    } else if (c == Ch('#')) {
      // Mostly temp tables' names, in scripts that have them.
      if (text::hash_comment_at(s, i + b, i + 65)) events |= uint64_t{1} << b;
    } else if (c == Ch('|')) {
      // Shares a class with the backslash on the AVX2 path; a quote after it is an ordinary one.
    } else if (b < 63) {
      // A backslash, or a q that may open an alternative-quoted literal (q'[...]').
      hazards |= r.quotes & (uint64_t{1} << (b + 1));
    }
  }
  if (i > 0 && (s[i - 1] == Ch('\\') || s[i - 1] == Ch('q') || s[i - 1] == Ch('Q'))) hazards |= r.quotes & 1;
  m.lines = lines;
  m.blanks = blanks;
  m.quotes = r.quotes;
  m.events = events;
  m.hazards = hazards;
  m.initials = r.initials;
  m.closers = closers;
}

#if defined(__SSE2__)
// False when a character beyond Latin-1 is among the 64.
template <class Ch>
__attribute__((always_inline)) inline bool masks(const Ch* s, size_t i, Masks& m) noexcept {
  RawMasks r{};
  for (int part = 0; part < 4; ++part) {
    const Ch* p = s + i + 16 * part;
    __m128i v;
    if constexpr (sizeof(Ch) == 1) {
      v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    } else if constexpr (sizeof(Ch) == 2) {
      const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
      const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 8));
      const __m128i high = _mm_set1_epi16(static_cast<short>(0xFF00));
      const __m128i zero16 = _mm_setzero_si128();
      const __m128i narrow = _mm_and_si128(_mm_cmpeq_epi16(_mm_and_si128(a, high), zero16),
                                           _mm_cmpeq_epi16(_mm_and_si128(b, high), zero16));
      if (_mm_movemask_epi8(narrow) != 0xFFFF) return false;
      v = _mm_packus_epi16(a, b);
    } else {
      return false;
    }
    const __m128i zero = _mm_setzero_si128();
    auto in_range = [&](char low, char count) {
      return _mm_cmpeq_epi8(_mm_subs_epu8(_mm_sub_epi8(v, _mm_set1_epi8(low)), _mm_set1_epi8(count)), zero);
    };
    auto eq = [&](char c) { return _mm_cmpeq_epi8(v, _mm_set1_epi8(c)); };
    auto bits = [](__m128i x) { return static_cast<uint64_t>(static_cast<unsigned>(_mm_movemask_epi8(x))); };
    // LF, VT, FF and the separators; CRs are settled afterwards.
    const __m128i lines = _mm_or_si128(_mm_or_si128(in_range(0x0A, 2), in_range(0x1C, 2)), eq(static_cast<char>(0x85)));
    const __m128i blanks = _mm_or_si128(eq(' '), eq('\t'));
    __m128i events = _mm_or_si128(_mm_or_si128(eq('"'), eq('$')), _mm_or_si128(eq('['), eq('`')));
    events = _mm_or_si128(events, _mm_or_si128(eq(';'), eq('/')));
    const int shift = 16 * part;
    r.lines |= bits(lines) << shift;
    r.blanks |= bits(blanks) << shift;
    r.quotes |= bits(eq('\'')) << shift;
    r.events |= bits(events) << shift;
    r.dashes |= bits(eq('-')) << shift;
    r.rare |= bits(_mm_or_si128(_mm_or_si128(_mm_or_si128(eq('\r'), eq('\\')), _mm_or_si128(eq('#'), eq(']'))),
                                _mm_or_si128(eq('q'), eq('Q')))) << shift;
    const __m128i folded = _mm_or_si128(v, _mm_set1_epi8(0x20));
    auto folded_eq = [&](char c) { return _mm_cmpeq_epi8(folded, _mm_set1_epi8(c)); };
    r.initials |= bits(_mm_or_si128(_mm_or_si128(folded_eq('a'), folded_eq('c')), _mm_or_si128(folded_eq('g'), folded_eq('r')))) << shift;
  }
  settle(s, i, r, m);
  m.parity = prefix_parity(r.quotes);
  return true;
}
#else
template <class Ch>
inline bool masks(const Ch*, size_t, Masks&) noexcept {
  return false;
}
#endif

#ifdef TESSERA_SIMD_X86
// The same masks, 32 characters a step, each class found by table lookups of the character's low and
// high half-bytes (two tables of eight class bits each) instead of a compare per character looked
// for. A class bit survives both lookups only for the exact characters of its class:
//   first:  0: 0x0A-0x0C  1: 0x1C-0x1E  (line boundaries)  2: tab  3: space  (blanks)
//           4: " $ /  5: ; [  6: `  (events)  7: '  (quotes: the sign bit, read by one movemask)
//   second: 0: A C G a c g  1: R r  (initials)  2: -  3: CR  4: backslash q Q |  5: NEL  6: ]  7: #
// Text of any width whose block lies within Latin-1.
__attribute__((target("avx2"))) inline uint64_t bits32(__m256i v) noexcept {
  return static_cast<uint32_t>(_mm256_movemask_epi8(v));
}

// The characters whose class bits meet `which`.
__attribute__((target("avx2"))) inline uint64_t any(__m256i bits, char which) noexcept {
  return ~bits32(_mm256_cmpeq_epi8(_mm256_and_si256(bits, _mm256_set1_epi8(which)), _mm256_setzero_si256())) & 0xFFFFFFFFu;
}

template <class Ch>
__attribute__((target("avx2,pclmul"))) inline bool masks_avx2(const Ch* s, size_t i, Masks& m) noexcept {
  const __m256i low_table = _mm256_broadcastsi128_si256(
      _mm_setr_epi8(0x48, 0, 0x10, 0, 0x10, 0, 0, static_cast<char>(0x80), 0, 0x04, 0x01, 0x21, 0x03, 0x02, 0x02, 0x10));
  const __m256i high_table = _mm256_broadcastsi128_si256(
      _mm_setr_epi8(0x05, 0x02, static_cast<char>(0x98), 0x20, 0, 0x20, 0x40, 0, 0, 0, 0, 0, 0, 0, 0, 0));
  const __m256i low_table2 = _mm256_broadcastsi128_si256(
      _mm_setr_epi8(0, 0x11, 0x02, static_cast<char>(0x81), 0, 0x20, 0, 0x01, 0, 0, 0, 0, 0x10, 0x4C, 0, 0));
  const __m256i high_table2 = _mm256_broadcastsi128_si256(
      _mm_setr_epi8(0x08, 0, static_cast<char>(0x84), 0, 0x01, 0x52, 0x01, 0x12, 0x20, 0, 0, 0, 0, 0, 0, 0));
  const __m256i nibble = _mm256_set1_epi8(0x0F);
  const __m256i zero = _mm256_setzero_si256();
  __m256i high = zero;
  RawMasks r{};
#pragma GCC unroll 2
  for (int half = 0; half < 2; ++half) {
    const __m256i v = rx::detail::narrow32(s + i + 32 * half, high);
    const __m256i low = _mm256_and_si256(v, nibble);
    const __m256i high_nibble = _mm256_and_si256(_mm256_srli_epi16(v, 4), nibble);
    const __m256i bits = _mm256_and_si256(_mm256_shuffle_epi8(low_table, low), _mm256_shuffle_epi8(high_table, high_nibble));
    const __m256i bits2 =
        _mm256_and_si256(_mm256_shuffle_epi8(low_table2, low), _mm256_shuffle_epi8(high_table2, high_nibble));
    const int shift = 32 * half;
    r.lines |= any(bits, 0x03) << shift;
    r.blanks |= any(bits, 0x0C) << shift;
    r.quotes |= bits32(bits) << shift;
    r.events |= any(bits, 0x70) << shift;
    r.initials |= any(bits2, 0x03) << shift;
    r.dashes |= bits32(_mm256_slli_epi16(bits2, 5)) << shift;
    r.rare |= any(bits2, static_cast<char>(0xF8)) << shift;
  }
  if constexpr (sizeof(Ch) > 1) {
    const __m256i wide = sizeof(Ch) == 2 ? _mm256_set1_epi16(static_cast<short>(0xFF00)) : _mm256_set1_epi32(~0xFF);
    if (!_mm256_testz_si256(high, wide)) return false;
  }
  settle(s, i, r, m);
  // A carry-less multiply by all ones is the running parity.
  m.parity = static_cast<uint64_t>(
      _mm_cvtsi128_si64(_mm_clmulepi64_si128(_mm_cvtsi64_si128(static_cast<long long>(r.quotes)), _mm_set1_epi8(-1), 0)));
  return true;
}
#endif

}  // namespace lex

// The parsed head of a defining statement.
struct Head {
  Kind kind;
  Statement statement;
  bool routine;
  size_t verb_end;
  size_t name_begin, name_end;
  Called called;
};

#define Hot __attribute__((always_inline)) inline

// Fast: the bulk path compiled for CPUs with AVX2 (and so POPCNT and BMI), see scan() below.
template <class Ch, bool Plan, bool Fast = false>
class Scanner {
 public:
  Scanner(const Ch* s, size_t n) : s_(s), n_(n) {
    if (Plan) out_.line_begin.push_back(0);
  }

  // The bulk path (run, chunk and what they ask of every block) is forced inline, so that scan_fast
  // compiles it for its own instruction set; the one-by-one path stays out of line, shared.
  Hot Inventory run() {
    size_t i = head(0, true, true);
    size_t slow_until = 0;
    while (i < n_) {
      if (!Plan && !pending_) {
        if (i >= slow_until) {
          const size_t j = chunk(i);
          if (j != npos) {
            i = j;
            continue;
          }
          slow_until = i + kChunk;
          if (literal_) {
            literal_ = false;
            i = rest_of_literal(i);
            continue;
          }
          if (comment_) {  // a line comment the bulk path left open
            comment_ = false;
            i = text::find_line_break(s_, i, n_);
            continue;
          }
        }
        // Leaving the bulk path at a line's head: the one-by-one path takes the head from here.
        if (at_head_) {
          at_head_ = false;
          i = head(i, true, false);
          continue;
        }
      }
      i = pending_ ? next_special_or_word(i) : lex::next_special<Plan>(s_, i, n_);
      if (i >= n_) break;
      i = event(i);
    }
    pending_ = false;
    settle_code();
    if (open_) close(code_line_, code_begin_);
    out_.total_lines = (line_begin_ == n_) ? line_ - 1 : line_;
    if (Plan && out_.line_begin.size() > out_.total_lines) out_.line_begin.resize(out_.total_lines);
    return std::move(out_);
  }

 private:
  // The character at i stops the main loop: deals with it, returns where the loop goes on.
  size_t event(size_t i) {
    const Ch c = s_[i];
    if (text::is_break_char(c)) {
      i = newline(i);
      size_t q = i;
      while (q < n_ && (s_[q] == Ch(' ') || s_[q] == Ch('\t'))) ++q;
      if (!Plan && q < n_ && plain_line_start(s_[q])) {
        mark_code();
        return q;
      }
      return head(i, true, false);
    }
    switch (static_cast<Py_UCS4>(c)) {
      case '\'':
      case '"':
        i = quoted(i);
        break;
      case '[':
        i = identifier(i, Ch(']'));
        break;
      case '`':
        i = identifier(i, Ch('`'));
        break;
      case '-':
        i = (i + 1 < n_ && s_[i + 1] == Ch('-')) ? text::find_line_break(s_, i + 2, n_) : i + 1;
        break;
      case '#':
        // Otherwise a temp table's name, which a waiting ALTER takes as a word.
        i = text::hash_comment_at(s_, i, n_) ? text::find_line_break(s_, i + 1, n_) : pending_ ? word_end(i) : i + 1;
        break;
      case '/':
        if (const size_t code = executable_comment(i); code != npos) {
          i = code;
        } else if (i + 1 < n_ && s_[i + 1] == Ch('*')) {
          const size_t line = line_;
          i = block_comment(i);
          // Code after a comment that began on an earlier line is the first on its line.
          if (line_ != line) i = head(i, false, false);
        } else {
          ++i;
        }
        break;
      case '$':
        i = dollar(i);
        break;
      case '(':
        ++depth_;
        ++pending_depth_;
        ++i;
        break;
      case ')':
        if (depth_ > 0) --depth_;
        if (pending_depth_ > 0) --pending_depth_;
        ++i;
        break;
      case ';':
        semicolon(i);
        i = head(i + 1, false, true);
        break;
      default:  // a word, looked at only while an ALTER waits for its body
        i = pending_word(i);
        break;
    }
    return i;
  }


  // ---- the bulk path --------------------------------------------------------------------------------

  static constexpr size_t kChunk = 64;

  // Without a popcnt instruction in the baseline, the builtin becomes a library call.
  Hot bool block_masks(size_t i, lex::Masks& m) {
#ifdef TESSERA_SIMD_X86
    if constexpr (Fast) return lex::masks_avx2(s_, i, m);
#endif
    return lex::masks(s_, i, m);
  }
  Hot bool block_masks(size_t i) { return block_masks(i, block_); }

  Hot static size_t ones(uint64_t x) noexcept {
    if constexpr (Fast) return static_cast<size_t>(__builtin_popcountll(x));
    // Without a popcnt instruction in the baseline, the builtin becomes a library call.
    x -= (x >> 1) & 0x5555555555555555ULL;
    x = (x & 0x3333333333333333ULL) + ((x >> 2) & 0x3333333333333333ULL);
    x = (x + (x >> 4)) & 0x0F0F0F0F0F0F0F0FULL;
    return static_cast<size_t>((x * 0x0101010101010101ULL) >> 56);
  }

  Hot static uint64_t below(unsigned bit) noexcept { return bit >= 64 ? ~uint64_t{0} : (uint64_t{1} << bit) - 1; }

  // Where the bulk path stands in the lines: the line count, where the current line starts, and the
  // last code (see lines_in_chunk).
  struct Lines {
    size_t line, begin, code_at;
  };

  // Accounts for the lines of the chunk at `base` whose boundaries lie in bits [from, to): the line
  // count and where the current line starts; and the last code among `code` (the first non-blank
  // character of a line, a closing quote), whose line is worked out only when an object needs it.
  // Without branches: whether a block holds a boundary or code is data, not a pattern.
  Hot static void lines_in_chunk(Lines& at, size_t base, const lex::Masks& m, uint64_t code, unsigned from, unsigned to) {
    const uint64_t span = below(to) & ~below(from);
    const uint64_t codes = code & span;
    const size_t last_code = base + 63u - static_cast<unsigned>(__builtin_clzll(codes | 1));
    at.code_at = codes ? last_code : at.code_at;
    const uint64_t breaks = m.lines & span;
    at.line += ones(breaks);
    const size_t begin = base + 64u - static_cast<unsigned>(__builtin_clzll(breaks | 1));
    at.begin = breaks ? begin : at.begin;
  }
  Hot void lines_in_chunk(size_t base, const lex::Masks& m, uint64_t code, unsigned from, unsigned to) {
    Lines at{line_, line_begin_, code_at_};
    lines_in_chunk(at, base, m, code, from, to);
    line_ = at.line;
    line_begin_ = at.begin;
    code_at_ = at.code_at;
  }

  // For each character from bit `from` on, whether a single-quoted literal is open after it, given
  // whether one is open before bit `from`: the parity of the quotes since `from`. A doubled quote
  // inside a literal closes and reopens it, which leaves it open, as it should.
  Hot static uint64_t open_after(const lex::Masks& m, unsigned from, bool open) noexcept {
    const bool flip = open != (from > 0 && ((m.parity >> (from - 1)) & 1));
    return m.parity ^ (uint64_t{0} - uint64_t{flip});
  }

  // What a block holds from bit `pos` on, up to its next event, given whether a literal is open before
  // `pos`, the first non-blank character of each line (firsts) and the quotes followed by another.
  struct Segment {
    uint64_t after;   // a literal is open after the character (from pos on)
    uint64_t before;  // ...before it
    uint64_t plain;   // a line's first character, outside a literal and no event: a word or the like
    uint64_t code;    // code for the last line holding some (from pos on)
    unsigned stop;    // the first event outside a literal, or hazard, from pos on (64 when none)
  };

  Hot static Segment segment(const lex::Masks& m, unsigned pos, bool literal, uint64_t firsts, uint64_t doubled) noexcept {
    const uint64_t after = open_after(m, pos, literal);
    const uint64_t before = (after << 1) | uint64_t{literal};
    const uint64_t in_literal = (before | after) & ~below(pos);
    const uint64_t plain = firsts & ~in_literal & ~m.events;
    // Code, for the last line holding some: a line's first character outside a literal (a quote
    // that opens one included), and a quote that closes one. A doubled quote inside a literal is
    // neither, wherever it stands: a literal left open to the end of the text has no code after
    // its opening quote.
    const uint64_t code = (plain | (firsts & m.quotes & ~before) | (m.quotes & before & ~doubled)) & ~below(pos);
    const uint64_t ahead = ((m.events & ~in_literal) | m.hazards) & ~below(pos);
    return {after, before, plain, code, ahead ? static_cast<unsigned>(__builtin_ctzll(ahead)) : 64u};
  }

  // The line boundary that ends the line comment (-- or #) opening at bit `open` of the current
  // block, when the block holds it (0 otherwise).
  Hot static unsigned comment_end(const lex::Masks& m, unsigned open) noexcept {
    const uint64_t lines = m.lines & ~below(open + 1);
    return lines ? static_cast<unsigned>(__builtin_ctzll(lines)) : 0u;
  }

  // The closing bracket of the bracketed name opening at bit `open` of the current block, when the
  // block settles it on the same line (0 otherwise: no closer in the block, a line boundary first, or
  // a doubled closer, which the one-by-one path follows).
  Hot static unsigned bracket_end(const lex::Masks& m, unsigned open) noexcept {
    const uint64_t closers = m.closers & ~below(open + 1);
    if (!closers) return 0;
    const unsigned close = static_cast<unsigned>(__builtin_ctzll(closers));
    if (close == 63 || ((m.closers >> (close + 1)) & 1) || (m.lines & below(close) & ~below(open + 1))) return 0;
    return close;
  }

  // Where the bracketed name opening at bit `open` of the block at i ends, one past its closer, when
  // the closer lies a little beyond the block, on the same line, and is not doubled; npos otherwise.
  // Names that straddle a block edge are common enough in bracket-quoting scripts that leaving the
  // bulk path for each of them costs more than this short look.
  Hot size_t bracket_beyond(const lex::Masks& m, size_t i, unsigned open) const {
    if ((m.closers | m.lines) & ~below(open + 1)) return npos;
    const size_t limit = std::min(n_, i + 2 * kChunk);
    for (size_t k = i + kChunk; k < limit; ++k) {
      const Ch c = s_[k];
      if (c == Ch(']')) return k + 1 < n_ && s_[k + 1] == Ch(']') ? npos : k + 1;
      if (text::is_break_char(c)) return npos;
    }
    return npos;
  }

  // Whether one of the candidates, bits of the block at i, opens a head or a batch separator.
  Hot bool holds_head(uint64_t candidates, size_t i) const {
    bool head = false;
    for (; !head && candidates; candidates &= candidates - 1) {
      const size_t p = i + static_cast<unsigned>(__builtin_ctzll(candidates));
      head = head_word(p, lex::upper(s_[p]));
    }
    return head;
  }

  // Whether the word at p, a line's first, whose first letter is u in upper case, is the one word
  // that letter can open a head or a batch separator with: CREATE, ALTER, REPLACE or GO, in any
  // case. Most lines opening with those letters open other words (AND, CASE, RETURN, GOTO).
  Hot bool head_word(size_t p, Ch u) const {
    const std::string_view word = u == Ch('C') ? "CREATE" : u == Ch('A') ? "ALTER" : u == Ch('R') ? "REPLACE" : "GO";
    const size_t end = p + word.size();
    if (end > n_ || (end < n_ && lex::word_char(s_[end]))) return false;
    return lex::is(s_, p, end, word);
  }

 public:
  // Most blocks hold nothing but lines, blanks, words, whole literals, bracketed names and line
  // comments: no other event outside a literal, and no line that opens with a head or a batch
  // separator. For those only the line count, where the current line starts, where the last code
  // stands and what is left open carry on: they are passed over here, their state kept in registers,
  // and the scan stops where the first block holds more (that block's masks left in block_, for chunk
  // to take it from there) or at a block the masks can't classify.
  Hot size_t quiet_blocks(size_t i) {
    bool literal = literal_, at_head = at_head_, comment = comment_;
    Lines at{line_, line_begin_, code_at_};
    lex::Masks m;
    for (;;) {
      // Most blocks are one segment from their first character to their last, with no line that
      // opens with a head or a batch separator. Their loop is kept free of calls, so that its state
      // and the masks' constants stay in registers; a block that holds more goes to busy_block.
      bool busy = false;
      for (; i + kChunk + 1 <= n_ && block_masks(i, m); i += kChunk) {
        if (comment) {
          busy = true;
          break;
        }
        const uint64_t starts = (m.lines << 1) | uint64_t{at_head};
        uint64_t sum;
        const bool carry = __builtin_add_overflow(m.blanks, starts, &sum);
        const uint64_t firsts = sum & ~m.blanks & ~m.lines;
        const uint64_t doubled = (m.quotes >> 1) | (uint64_t{s_[i + kChunk] == Ch('\'')} << 63);
        const Segment g = segment(m, 0, literal, firsts, doubled);
        if (g.stop < 64 || holds_head(g.plain & m.initials, i)) {
          busy = true;
          break;
        }
        lines_in_chunk(at, i, m, g.code, 0, 64);
        literal = g.after >> 63;
        at_head = !literal && (carry || (m.lines >> 63));
      }
      if (!busy) break;
      Quiet q{literal, at_head, comment, false, at};
      if constexpr (Fast) i = busy_block_fast(*this, i, m, q);
      else i = busy_block(i, m, q);
      literal = q.literal;
      at_head = q.at_head;
      comment = q.comment;
      at = q.at;
      if (q.stopped) break;
      i += kChunk;
    }
    literal_ = literal;
    at_head_ = at_head;
    comment_ = comment;
    line_ = at.line;
    line_begin_ = at.begin;
    code_at_ = at.code_at;
    return i;
  }

  // What quiet_blocks carries from one block to the next, and whether it stops.
  struct Quiet {
    bool literal, at_head, comment, stopped;
    Lines at;
  };

  // A block of quiet_blocks' other than the plainest: the segments up to its events, each line
  // comment and bracketed name passed over in bulk as chunk does. Sets q.stopped where chunk has to
  // take over (block_ then holds the block's masks), and returns where that is; otherwise where the
  // block loop's next step is to be taken from, less a block.
  Hot size_t busy_block(size_t i, const lex::Masks& m, Quiet& q) {
    unsigned pos = 0;
    if (q.comment) {
      // A line comment running on through a block without a line boundary: nothing in it counts.
      if (!m.lines) return i;
      q.comment = false;
      pos = static_cast<unsigned>(__builtin_ctzll(m.lines));
    }
    const uint64_t starts = (m.lines << 1) | uint64_t{q.at_head};
    uint64_t sum;
    const bool carry = __builtin_add_overflow(m.blanks, starts, &sum);
    const uint64_t firsts = sum & ~m.blanks & ~m.lines;
    const uint64_t doubled = (m.quotes >> 1) | (uint64_t{s_[i + kChunk] == Ch('\'')} << 63);
    for (Segment g = segment(m, pos, q.literal, firsts, doubled);; g = segment(m, pos, q.literal, firsts, doubled)) {
      bool quiet = !holds_head(g.plain & m.initials & below(g.stop) & ~below(pos), i);
      // Passed over in bulk as chunk does: a line comment, and a bracketed name closed on its line.
      const size_t p = i + g.stop;
      unsigned next = 0;
      bool bracket = false;
      size_t beyond = npos;  // after a bracketed name that closes past the block
      if (quiet && g.stop < 64) {
        if ((g.before >> g.stop) & 1) {
          quiet = false;
        } else if (s_[p] == Ch('-') || s_[p] == Ch('#')) {
          next = comment_end(m, g.stop);
          q.comment = next == 0;
        } else if (s_[p] == Ch('[') && p >= unclosed_until_ &&
                   ((next = bracket_end(m, g.stop)) != 0 || (beyond = bracket_beyond(m, i, g.stop)) != npos)) {
          bracket = true;
          ++next;
        } else {
          quiet = false;
        }
      }
      if (!quiet) {
        // The rest of the block, from this segment's start, is chunk's.
        block_ = m;
        block_base_ = i;
        if (pos > 0) q.at_head = false;
        q.stopped = true;
        return i + pos;
      }
      lines_in_chunk(q.at, i, m, g.code, pos, g.stop);
      if (g.stop == 64) {
        q.literal = g.after >> 63;
        q.at_head = !q.literal && (carry || (m.lines >> 63));
        break;
      }
      if (bracket && ((firsts >> g.stop) & 1)) q.at.code_at = p;
      q.literal = false;
      if (q.comment) {
        q.at_head = false;
        break;
      }
      if (beyond != npos) {
        // The next block starts right after the name, mid-line: the loop's step takes it there.
        q.at_head = false;
        return beyond - kChunk;
      }
      pos = next;
    }
    return i;
  }

  // Scans 64 characters from i a mask at a time: lines are counted and their first characters
  // tested in bulk, single-quoted literals are followed by the parity of their quotes, and only
  // head candidates and the first character outside a literal that needs the one-by-one path are
  // visited. Returns where the scan goes on, or npos when the chunk holds a character the masks
  // can't classify. A literal still open at the chunk's end is left to the next one (literal_).
  Hot size_t chunk(size_t i) {
    // The masks of a block serve every return into it: after an event the scan goes on from the
    // event's end, mostly inside the same block.
    if (block_base_ == npos || i < block_base_ || i >= block_base_ + kChunk) {
      const size_t from = i;
      if constexpr (Fast) i = quiet_fast(*this, i);
      else if constexpr (!Plan) i = quiet_blocks(i);
      if (block_base_ == npos || i < block_base_ || i >= block_base_ + kChunk) {
        // Blocks passed over count as progress even when the next one has to go one by one.
        if (i + kChunk + 1 > n_ || !block_masks(i)) return i != from ? i : npos;
        block_base_ = i;
      }
    }
    const unsigned from = static_cast<unsigned>(i - block_base_);
    i = block_base_;
    const lex::Masks& m = block_;
    const uint64_t lines = m.lines & ~below(from);
    // The first non-blank character after each line boundary (or after `from`, when that is at the
    // head of a line): adding the start bits to the blank runs carries each to the run's end.
    const uint64_t starts = (lines << 1) | (at_head_ ? uint64_t{1} << from : 0u);
    uint64_t sum;
    const bool carry = __builtin_add_overflow(m.blanks, starts, &sum);
    const uint64_t firsts = sum & ~m.blanks & ~m.lines;
    // The quote after each quote: a quote followed by another closes no literal.
    const uint64_t doubled = (m.quotes >> 1) | (uint64_t{s_[i + kChunk] == Ch('\'')} << 63);
    bool literal = literal_;
    literal_ = false;
    at_head_ = false;
    unsigned start = from;
    if (comment_) {
      const uint64_t ends = lines;
      if (ends == 0) return i + kChunk;
      comment_ = false;
      start = static_cast<unsigned>(__builtin_ctzll(ends));
    }
    unsigned done = start;
    // Up to each event, the line heads are taken from the masks; the event itself goes the
    // one-by-one way, and the scan goes on in the same block as long as the event ends inside it.
    for (unsigned pos = start;;) {
      const Segment g = segment(m, pos, literal, firsts, doubled);
      const uint64_t code = g.code;
      const unsigned stop = g.stop;
      // Only a line opening with one of these letters can hold a head or a batch separator.
      uint64_t candidates = g.plain & m.initials & below(stop) & ~below(pos);
      while (candidates) {
        const unsigned bit = static_cast<unsigned>(__builtin_ctzll(candidates));
        candidates &= candidates - 1;
        const size_t p = i + bit;
        const Ch u = lex::upper(s_[p]);
        if (!head_word(p, u)) continue;  // its code is counted with the rest of the block's
        lines_in_chunk(i, m, code, done, bit);
        done = bit;
        if (u == Ch('G')) {
          const size_t end = batch_separator(line_begin_);
          if (end != npos) {
            batch_end();
            return end;  // the line's boundary, or the end of the text
          }
          mark_code();
          continue;
        }
        const bool line_had_code = code_on_line();
        const LastCode previous = last_code();
        mark_code();
        const size_t next = statement(p, false, line_had_code, previous);
        if (pending_) return next;
      }
      lines_in_chunk(i, m, code, done, stop);
      if (stop == 64) {
        literal_ = g.after >> 63;
        // Still at a line's head after the chunk: a boundary last, or only blanks since one.
        at_head_ = !literal_ && (carry || ((m.lines >> 63) & 1));
        return i + kChunk;
      }
      const size_t p = i + stop;
      size_t next;
      if ((g.before >> stop) & 1) {
        // A quote after a backslash inside a literal: the literal is followed one by one from here.
        next = rest_of_literal(p);
      } else if (s_[p] == Ch('-') || s_[p] == Ch('#')) {  // only the first minus of a pair is an event
        // A line comment is passed over here: nothing in it counts. One that runs past the block
        // ends at the first line boundary of a later one.
        const unsigned end = comment_end(m, stop);
        if (end == 0) {
          comment_ = true;
          return i + kChunk;
        }
        next = i + end;
      } else if (s_[p] == Ch('[') && p >= unclosed_until_ && bracket_end(m, stop) != 0) {
        // A bracketed name closed in the block; opening a line, it is the line's code.
        if ((firsts >> stop) & 1) code_at_ = p;
        next = i + bracket_end(m, stop) + 1;
      } else if ((firsts >> stop) & 1) {
        // An event that opens a line (a comment, a quoted name) is where a statement may start.
        return head(p, true, false);
      } else {
        next = event(p);
        if (pending_) return next;
      }
      if (next >= i + kChunk) return next;
      pos = done = static_cast<unsigned>(next - i);
      literal = false;
    }
  }

  // ---- lines ------------------------------------------------------------------------------------

  // The last code before the current position. Where the bulk path found it (at), its line and
  // line start are worked out only when an object needs them, counted back from the current line.
  struct LastCode {
    size_t at, line, begin;
  };

  LastCode last_code() const { return {code_at_, code_line_, code_begin_}; }

  bool code_on_line() const { return code_at_ != npos ? code_at_ >= line_begin_ : code_line_ == line_; }

  // Once per such code at most, over the lines between it and the current one.
  void resolve(LastCode& c) const {
    if (c.at == npos) return;
    size_t lines = 0;
    for (size_t p = c.at; (p = text::find_line_break(s_, p, line_begin_)) < line_begin_; ++p) {
      if (s_[p] == Ch('\r') && p + 1 < n_ && s_[p + 1] == Ch('\n')) ++p;
      ++lines;
    }
    size_t begin = c.at;
    while (begin > 0 && !text::is_break_char(s_[begin - 1])) --begin;
    c = {npos, line_ - lines, begin};
  }

  void settle_code() {
    LastCode c = last_code();
    resolve(c);
    code_line_ = c.line;
    code_begin_ = c.begin;
    code_at_ = npos;
  }

  // s_[i] is a line boundary: the position after it (CR LF is one boundary).
  size_t newline(size_t i) {
    if (s_[i] == Ch('\r') && i + 1 < n_ && s_[i + 1] == Ch('\n')) ++i;
    ++line_;
    previous_line_begin_ = line_begin_;
    line_begin_ = i + 1;
    if (Plan) out_.line_begin.push_back(line_begin_);
    return i + 1;
  }

  // Counts the line boundaries in s_[i, end).
  void lines_through(size_t i, size_t end) {
    while ((i = text::find_line_break(s_, i, end)) < end) i = newline(i);
  }

  // Most lines open with a word that can start neither a head nor a batch separator: when only
  // objects are looked for, nothing more needs doing for them.
  static bool plain_line_start(Ch c) noexcept {
    if (!(lex::of(c) & lex::kWordStart)) return false;
    const Ch u = lex::upper(c);
    return u != Ch('C') && u != Ch('A') && u != Ch('R') && u != Ch('G');
  }

  void mark_code() {
    code_at_ = npos;
    // A literal that runs to a final line break ends on the line before it: no line follows.
    if (line_begin_ >= n_ && line_ > 1) {
      code_line_ = line_ - 1;
      code_begin_ = previous_line_begin_;
      return;
    }
    code_line_ = line_;
    code_begin_ = line_begin_;
  }

  // A line holding only GO (or GO and a count), or only a slash: where a batch ends. The end of
  // the line when it is one, else npos.
  size_t batch_separator(size_t p) const {
    while (p < n_ && lex::space_not_break(s_[p])) ++p;
    if (p >= n_) return npos;
    size_t q;
    if (p + 1 < n_ && lex::upper(s_[p]) == Ch('G') && lex::upper(s_[p + 1]) == Ch('O')) {
      q = p + 2;
      if (q < n_ && lex::word_char(s_[q])) return npos;
      while (q < n_ && lex::space_not_break(s_[q])) ++q;
      while (q < n_ && s_[q] >= Ch('0') && s_[q] <= Ch('9')) ++q;
      while (q < n_ && lex::space_not_break(s_[q])) ++q;
      if (q + 1 < n_ && s_[q] == Ch('-') && s_[q + 1] == Ch('-')) q = text::find_line_break(s_, q, n_);
    } else if (s_[p] == Ch('/')) {
      q = p + 1;
      while (q < n_ && lex::space_not_break(s_[q])) ++q;
    } else {
      return npos;
    }
    return (q >= n_ || text::is_break_char(s_[q])) ? q : npos;
  }

  // From a place where a statement may start (a line's start, after a semicolon, after a comment
  // that spanned lines): skips blank and comment lines and batch separators, and looks at the
  // first code. Returns where the main loop goes on.
  size_t head(size_t p, bool line_start, bool after_semicolon) {
    while (true) {
      if (line_start) {
        const size_t end = batch_separator(p);
        if (end != npos) {
          batch_end();
          if (end >= n_) return n_;
          p = newline(end);
          continue;
        }
      }
      line_start = false;
      while (p < n_ && lex::space_not_break(s_[p])) ++p;
      if (p >= n_) return n_;
      const Ch c = s_[p];
      const unsigned char k = lex::of(c);
      if (text::is_break_char(c)) {
        p = newline(p);
        line_start = true;
        continue;
      }
      if (c == Ch('-') && p + 1 < n_ && s_[p + 1] == Ch('-')) {
        p = text::find_line_break(s_, p + 2, n_);
        continue;
      }
      if (c == Ch('#') && text::hash_comment_at(s_, p, n_)) {
        p = text::find_line_break(s_, p + 1, n_);
        continue;
      }
      if (c == Ch('/') && p + 1 < n_ && s_[p + 1] == Ch('*')) {
        const size_t code = executable_comment(p);
        p = code != npos ? code : block_comment(p);
        continue;
      }
      const bool line_had_code = code_on_line();
      const LastCode previous = last_code();
      mark_code();
      if (!(k & lex::kWordStart)) return p;
      return statement(p, after_semicolon, line_had_code, previous);
    }
  }

  // ---- literals and comments ----------------------------------------------------------------------

  size_t quoted(size_t i) {
    if (s_[i] == Ch('\'')) {
      if (const size_t end = alternative_literal(i); end != npos) return end;
    }
    return literal(s_[i], i, i + 1);
  }

  // Oracle's alternative quoting, q'[it's]' (or nq'...'), which the quotes inside don't close: where
  // the literal whose quote is at i ends, after the delimiter's mate ([ ( { < close with ] ) } >, any
  // other delimiter with itself) and a quote; npos when no q opens one there. An unclosed one runs
  // to the end of the text.
  size_t alternative_literal(size_t i) {
    if (i == 0 || i + 1 >= n_ || (s_[i - 1] != Ch('q') && s_[i - 1] != Ch('Q'))) return npos;
    const size_t q = i - 1;
    if (q > 0 && lex::word_char(s_[q - 1]) &&
        ((s_[q - 1] != Ch('n') && s_[q - 1] != Ch('N')) || (q > 1 && lex::word_char(s_[q - 2]))))
      return npos;
    const Ch d = s_[i + 1];
    if (lex::of(d) & lex::kBlank) return npos;  // no delimiter Oracle allows
    const Ch close = text::alternative_quote_closer(d);
    size_t end = n_;
    for (size_t k = i + 2; k + 1 < n_; ++k) {
      if (s_[k] == close && s_[k + 1] == Ch('\'')) {
        end = k + 2;
        break;
      }
    }
    lines_through(i + 1, end);
    if (end < n_) mark_code();
    return end;
  }

  // A single-quoted literal the bulk path followed up to j, still open there. Where it opened
  // matters only to a backslash right after the opening quote, and j is past that.
  size_t rest_of_literal(size_t j) { return literal(Ch('\''), 0, j); }

  // The literal that the quote q at i opens, from j on (its lines before j counted already).
  size_t literal(Ch q, size_t i, size_t j) {
    const size_t counted = j;
    while (true) {
      const size_t k = text::find(s_, j, n_, q);
      if (k >= n_) {
        lines_through(counted, n_);
        return n_;
      }
      if (k + 1 < n_ && s_[k + 1] == q) {  // doubled: the quote itself
        j = k + 2;
        continue;
      }
      // A backslash escape ('it\'s') in the dialects that have them: a quote right after a
      // backslash and right before a letter or digit can't be a closing one. A closing quote
      // after a backslash ('C:\') is followed by an operator, a space or a bracket.
      if (s_[k - 1] == Ch('\\') && k - 1 > i && k + 1 < n_ && (lex::of(s_[k + 1]) & lex::kWord)) {
        j = k + 1;
        continue;
      }
      lines_through(counted, k);
      mark_code();
      return k + 1;
    }
  }

  // [name] or `name`, which never span lines; a lone opener is just a character. A failed search
  // is remembered, so that a line of openers is not searched again from each of them.
  size_t identifier(size_t i, Ch close) {
    if (i < unclosed_until_) return i + 1;
    size_t k = i + 1;
    for (; k < n_; ++k) {
      const Ch c = s_[k];
      if (c == close) {
        if (close == Ch(']') && k + 1 < n_ && s_[k + 1] == close) {
          ++k;
          continue;
        }
        return k + 1;
      }
      if (text::is_break_char(c)) break;
    }
    unclosed_until_ = k;
    return i + 1;
  }

  // A comment that MySQL runs as code (/*!50003 CREATE*/), as its dump tool writes the heads of
  // views and triggers: where its code starts, past the version; npos for any other character.
  // Its closing */ is passed over as code that means nothing.
  size_t executable_comment(size_t i) const {
    if (i + 2 >= n_ || s_[i] != Ch('/') || s_[i + 1] != Ch('*') || s_[i + 2] != Ch('!')) return npos;
    i += 3;
    while (i < n_ && s_[i] >= Ch('0') && s_[i] <= Ch('9')) ++i;
    return i;
  }

  size_t block_comment(size_t i) {
    size_t j = i + 2, end = n_;
    while ((j = text::find(s_, j, n_, Ch('*'))) < n_) {
      if (j + 1 < n_ && s_[j + 1] == Ch('/')) {
        end = j + 2;
        break;
      }
      ++j;
    }
    lines_through(i + 2, end);
    return end;
  }

  // $$ ... $$ or $tag$ ... $tag$, the body of a routine in several dialects.
  size_t dollar(size_t i) {
    if (i > 0 && lex::word_char(s_[i - 1])) return i + 1;
    size_t j = i + 1;
    if (j < n_ && (lex::of(s_[j]) & lex::kWordStart)) {
      while (j < n_ && (lex::of(s_[j]) & lex::kWord) && s_[j] != Ch('$')) ++j;
    }
    if (j >= n_ || s_[j] != Ch('$')) return i + 1;
    const size_t tag = j - i + 1;  // both dollars included
    if (tag > kLongestTag) return i + 1;
    size_t k = j + 1, end = n_, body_end = n_;
    while ((k = text::find(s_, k, n_, Ch('$'))) < n_) {
      if (k + tag <= n_ && std::equal(s_ + i, s_ + i + tag, s_ + k)) {
        body_end = k;
        end = k + tag;
        break;
      }
      ++k;
    }
    lines_through(j + 1, body_end);
    mark_code();
    if (open_ && cur_.routine) dollar_body_ = true;
    return end;
  }

  // ---- statements and objects -----------------------------------------------------------------------

  size_t word_end(size_t p) const {
    while (p < n_ && lex::word_char(s_[p])) ++p;
    return p;
  }

  // The next token after p: whitespace, line breaks and comments skipped. Reads only.
  size_t next_token(size_t p) const {
    while (p < n_) {
      const Ch c = s_[p];
      if (lex::of(c) & lex::kBlank) {
        ++p;
      } else if ((c == Ch('-') && p + 1 < n_ && s_[p + 1] == Ch('-')) || (c == Ch('#') && text::hash_comment_at(s_, p, n_))) {
        p = text::find_line_break(s_, p + 1, n_);
      } else if (const size_t code = executable_comment(p); code != npos) {
        p = code;
      } else if (c == Ch('*') && p + 1 < n_ && s_[p + 1] == Ch('/')) {
        p += 2;  // the end of an executable comment, whose content was read as code
      } else if (c == Ch('/') && p + 1 < n_ && s_[p + 1] == Ch('*')) {
        size_t j = p + 2;
        while ((j = text::find(s_, j, n_, Ch('*'))) < n_ && !(j + 1 < n_ && s_[j + 1] == Ch('/'))) ++j;
        p = j >= n_ ? n_ : j + 2;
      } else {
        break;
      }
    }
    return p;
  }

  // The word at p if it starts one: its end, else p.
  size_t keyword_at(size_t p) const {
    if (p >= n_ || !(lex::of(s_[p]) & lex::kWordStart)) return p;
    return word_end(p);
  }

  // A schema-qualified name: parts in brackets, double quotes, backticks or bare, joined by dots.
  // Returns false when no name stands at p.
  bool name_at(size_t p, size_t& begin, size_t& end, Called& called) const {
    begin = p;
    end = p;
    called = {};
    if (const size_t e = keyword_at(p); e > p && lex::is(s_, p, e, "IDENTIFIER")) {
      end = identifier_call_end(e, called);
      if (end != npos) return true;
      end = p;
      called = {};
    }
    size_t parts = 0;
    bool bare_only = true;
    while (p < n_) {
      const Ch c = s_[p];
      size_t q = p;
      if (c == Ch('[') || c == Ch('"') || c == Ch('`')) {
        q = quoted_part_end(p, c == Ch('[') ? Ch(']') : c);
        if (q == npos) return parts > 0;
        bare_only = false;
      } else if (lex::word_char(c)) {
        q = bare_part_end(p);
      } else if (c != Ch('.') || parts == 0) {
        break;
      }
      if (q > p) {
        ++parts;
        end = q;
      }
      size_t r = q;
      while (r < n_ && lex::space_not_break(s_[r])) ++r;
      if (r >= n_ || s_[r] != Ch('.')) break;
      p = r + 1;
      while (p < n_ && lex::space_not_break(s_[p])) ++p;
    }
    if (parts == 0) return false;
    if (parts == 1 && bare_only)
      for (const std::string_view word : kNotNames)
        if (lex::is(s_, begin, end, word)) return false;
    return true;
  }

  // Where the quoted name part (or string) opening at p ends, one past the `close` that closes it on
  // its line (a doubled one stands for itself); npos when none does.
  size_t quoted_part_end(size_t p, Ch close) const {
    for (size_t q = p + 1; q < n_ && !text::is_break_char(s_[q]); ++q) {
      if (s_[q] != close) continue;
      if (q + 1 < n_ && s_[q + 1] == close) {
        ++q;
        continue;
      }
      return q + 1;
    }
    return npos;
  }

  // The end of a bare name part at p: word characters, and ${variable} placeholders that a client
  // substitutes before the script runs (${env}_sales, db_${day}), closed on their line.
  size_t bare_part_end(size_t p) const {
    for (;;) {
      p = word_end(p);
      if (p + 1 >= n_ || s_[p] != Ch('{') || s_[p - 1] != Ch('$')) return p;
      size_t close = p + 1;
      while (close < n_ && s_[close] != Ch('}') && !text::is_break_char(s_[close])) ++close;
      if (close >= n_ || s_[close] != Ch('}')) return p - 1;
      p = close + 1;
    }
  }

  // IDENTIFIER('name') or IDENTIFIER($variable), a name given as a string or a variable: where the
  // call whose name ends at p ends, when it closes on its line, and what names the object in
  // `called`; npos otherwise.
  size_t identifier_call_end(size_t p, Called& called) const {
    auto blanks = [&](size_t q) {
      while (q < n_ && lex::space_not_break(s_[q])) ++q;
      return q;
    };
    size_t q = blanks(p);
    if (q >= n_ || s_[q] != Ch('(')) return npos;
    q = blanks(q + 1);
    const size_t from = q;
    if (q < n_ && (s_[q] == Ch('\'') || s_[q] == Ch('"'))) {
      q = quoted_part_end(q, s_[q]);
      if (q == npos) return npos;
      called.string = s_[from] == Ch('\'');
    } else {
      while (q < n_ && (lex::word_char(s_[q]) || s_[q] == Ch(':') || s_[q] == Ch('.'))) ++q;
      if (q == from) return npos;
    }
    called.begin = called.string ? from + 1 : from;
    called.end = called.string ? q - 1 : q;
    q = blanks(q);
    return q < n_ && s_[q] == Ch(')') ? q + 1 : npos;
  }

  bool kind_at(size_t& p, bool alter, bool replace, Head& h) const {
    const size_t e = keyword_at(p);
    if (e == p) return false;
    for (const KindForm& form : kKindForms) {
      if (!lex::is(s_, p, e, form.words[0])) continue;
      size_t after = e;
      if (!form.words[1].empty()) {
        const size_t q = next_token(e);
        const size_t qe = keyword_at(q);
        if (qe == q || !lex::is(s_, q, qe, form.words[1])) continue;
        after = qe;
      }
      if (form.kind == kNoObject) return false;
      if (alter && std::find(std::begin(kAlterKinds), std::end(kAlterKinds), form.kind) == std::end(kAlterKinds))
        return false;
      if (replace &&
          std::find(std::begin(kReplaceKinds), std::end(kReplaceKinds), form.kind) == std::end(kReplaceKinds))
        return false;
      h.kind = form.kind;
      h.routine = form.routine;
      p = after;
      return true;
    }
    return false;
  }

  // The head of a defining statement whose first word is s_[p, verb_end).
  bool parse_head(size_t p, size_t verb_end, Head& h) const {
    h.verb_end = verb_end;
    size_t q = next_token(verb_end);
    bool alter = false, replace = false;
    if (lex::is(s_, p, verb_end, "CREATE")) {
      h.statement = kCreate;
      size_t e = keyword_at(q);
      if (lex::is(s_, q, e, "OR")) {
        q = next_token(e);
        e = keyword_at(q);
        bool found = false;
        for (const OrForm& form : kOrForms) {
          if (lex::is(s_, q, e, form.word)) {
            h.statement = form.statement;
            found = true;
          }
        }
        if (!found) return false;
        q = next_token(e);
      }
      for (bool more = true; more;) {
        more = false;
        e = keyword_at(q);
        if (const size_t clause = assigned_clause(q, e); clause != q) {
          q = next_token(clause);
          more = true;
          continue;
        }
        for (const std::string_view modifier : kModifiers) {
          if (lex::is(s_, q, e, modifier)) {
            // SET TABLE is a modifier; SET on its own is not a kind.
            q = next_token(e);
            more = true;
            break;
          }
        }
      }
    } else if (lex::is(s_, p, verb_end, "ALTER")) {
      h.statement = kAlter;
      alter = true;
    } else if (lex::is(s_, p, verb_end, "REPLACE")) {
      h.statement = kCreateOrReplace;
      replace = true;
    } else {
      return false;
    }
    if (!kind_at(q, alter, replace, h)) return false;
    q = next_token(q);
    size_t e = keyword_at(q);
    // An index built without locking its table.
    if (h.kind == kIndex && lex::is(s_, q, e, "CONCURRENTLY")) {
      q = next_token(e);
      e = keyword_at(q);
    }
    if (lex::is(s_, q, e, "IF")) {
      const size_t not_begin = next_token(e);
      const size_t not_end = keyword_at(not_begin);
      const size_t exists_begin = next_token(not_end);
      const size_t exists_end = keyword_at(exists_begin);
      if (lex::is(s_, not_begin, not_end, "NOT") && lex::is(s_, exists_begin, exists_end, "EXISTS")) {
        q = next_token(exists_end);
        e = keyword_at(q);
      }
    }
    // A schema created for a role without a name of its own is named after the role.
    if (h.kind == kSchema && lex::is(s_, q, e, "AUTHORIZATION")) q = next_token(e);
    return name_at(q, h.name_begin, h.name_end, h.called);
  }

  // Where a clause at q (a word ending at e) ends when it is one that may stand between CREATE and
  // the kind with a value: ALGORITHM = word, DEFINER = user, SQL SECURITY word; q when it is none.
  size_t assigned_clause(size_t q, size_t e) const {
    if (e == q) return q;
    if (lex::is(s_, q, e, "SQL")) {
      const size_t b = next_token(e), be = keyword_at(b);
      if (!lex::is(s_, b, be, "SECURITY")) return q;
      const size_t v = next_token(be), ve = keyword_at(v);
      return ve > v ? ve : q;
    }
    if (std::none_of(std::begin(kAssignedModifiers), std::end(kAssignedModifiers),
                     [&](std::string_view word) { return lex::is(s_, q, e, word); }))
      return q;
    size_t v = next_token(e);
    if (v >= n_ || s_[v] != Ch('=')) return q;
    v = next_token(v + 1);
    // A user: name@host with either part bare or quoted, or CURRENT_USER, with or without ().
    size_t end = user_part(v);
    if (end == v) return q;
    if (end < n_ && s_[end] == Ch('@')) {
      const size_t host = user_part(end + 1);
      if (host == end + 1) return q;
      end = host;
    }
    if (lex::is(s_, v, end, "CURRENT_USER")) {
      const size_t open = next_token(end);
      const size_t close = open < n_ && s_[open] == Ch('(') ? next_token(open + 1) : n_;
      if (close < n_ && s_[close] == Ch(')')) end = close + 1;
    }
    return end;
  }

  // The end of a user's or host's name at p, quoted on one line or bare (`%` and dots allowed); p
  // when none stands there.
  size_t user_part(size_t p) const {
    if (p >= n_) return p;
    const Ch c = s_[p];
    if (c == Ch('`') || c == Ch('\'') || c == Ch('"')) {
      const size_t end = quoted_part_end(p, c);
      return end != npos ? end : p;
    }
    size_t q = p;
    while (q < n_ && (lex::word_char(s_[q]) || s_[q] == Ch('%') || s_[q] == Ch('.'))) ++q;
    return q;
  }

  // The first code of a statement, a word, at the top nesting level.
  size_t statement(size_t p, bool after_semicolon, bool line_had_code, LastCode previous) {
    const size_t e = word_end(p);
    if (Plan && depth_ == 0) {
      const size_t verbs = std::size(kStatementVerbs) - (after_semicolon ? 0 : kAfterSemicolonOnly);
      const Ch initial = lex::upper(s_[p]);
      for (size_t k = 0; k < verbs; ++k) {
        if (initial != Ch(kStatementVerbs[k][0])) continue;
        if (lex::is(s_, p, e, kStatementVerbs[k]) && (after_semicolon || !set_clause(p, e))) {
          if (out_.starts.empty() || out_.starts.back().line != line_) out_.starts.push_back({line_, p});
          break;
        }
      }
    }
    const Ch first = lex::upper(s_[p]);
    if (first != Ch('C') && first != Ch('A') && first != Ch('R')) return p;
    Head h;
    if (!parse_head(p, e, h)) return p;
    // Another object's head inside a routine's body is part of the body, unless it is a routine
    // itself; and a head that shares its line with code of the open object stays in that object.
    if (open_ && line_had_code) return e;
    if (open_ && cur_.routine && !h.routine &&
        !((ended_before(line_begin_) || delimiter_since(cur_.begin, line_begin_)) && !temporary(h)))
      return e;
    if (line_ <= closed_through_) return e;
    Object o{h.kind, h.statement, h.routine, h.name_begin, h.name_end, line_, 0, line_begin_, line_begin_, h.called};
    if (h.statement == kAlter) {
      // ALTER PROCEDURE p RENAME TO q; defines nothing: wait for the body.
      pending_ = true;
      pending_object_ = o;
      resolve(previous);
      pending_line_ = previous.line;
      pending_begin_ = previous.begin;
      pending_depth_ = 0;
      after_execute_ = false;
      return e;
    }
    resolve(previous);
    start(o, previous.line, previous.begin);
    return e;
  }

  // Whether the statement before the line starting at p closed a routine's body in the dialects
  // that end one with a semicolon rather than a batch separator: its last code line is unindented,
  // ends with a semicolon and opens with END, a closing parenthesis or quote, or the routine's own
  // head (a one-statement function), or holds only the semicolon (a client's DELIMITER directive
  // ends it too: delimiter_since). Blank and line-comment lines are passed over. In a script not cut
  // into batches, so are a few unindented one-line statements and client commands between that line
  // and p (CALL p();, GRANT ...;, .IF ERRORCODE <> 0 THEN .QUIT 8): the script's own work after the
  // routine. An END before them must then close the routine, not a block inside it (END IF;).
  bool ended_before(size_t p) const {
    size_t statements = 0;
    while (p > 0) {
      size_t e = p - 1;  // the boundary ending the previous line
      if (e > 0 && s_[e] == Ch('\n') && s_[e - 1] == Ch('\r')) --e;
      size_t b = e;
      while (b > 0 && !text::is_break_char(s_[b - 1])) --b;
      p = b;
      const auto [sb, se] = text::strip(s_, b, e);
      if (sb == se || (se - sb >= 2 && s_[sb] == Ch('-') && s_[sb + 1] == Ch('-'))) continue;
      if (s_[sb] == Ch('#') && text::hash_comment_at(s_, sb, n_)) continue;
      const size_t we = word_end(sb);
      const bool between = !batches_ && sb == b && statements < kStatementsAfterRoutine;
      if (between && s_[sb] == Ch('.')) {
        ++statements;
        continue;
      }
      if (sb != b || s_[se - 1] != Ch(';')) return false;
      const Ch c = s_[sb];
      // A semicolon alone ends a routine without a body of its own (a handler in a stage's file).
      if (se - sb == 1 || c == Ch(')') || c == Ch('\'') || c == Ch('"')) return true;
      if (lex::is(s_, sb, we, "END")) return statements == 0 || !block_end(we);
      if (lex::is(s_, sb, we, "CREATE") || lex::is(s_, sb, we, "REPLACE")) return true;
      if (!between) return false;
      ++statements;
    }
    return false;
  }

  // Whether the END that ends at p closes a block inside a routine (END IF, END LOOP, ...).
  bool block_end(size_t p) const {
    const size_t q = next_token(p), e = keyword_at(q);
    for (const std::string_view block : {"IF", "LOOP", "CASE", "WHILE", "REPEAT", "FOR"})
      if (lex::is(s_, q, e, block)) return true;
    return false;
  }

  // Whether a line in [from, to) (line starts) is a client's DELIMITER directive: it stands only
  // between statements, so a routine open before it has ended, whatever statements follow it (a
  // dump's SET and DROP lines before the next table). Each line is looked at once per scan.
  bool delimiter_since(size_t from, size_t to) {
    for (size_t p = std::max(from, delimiters_checked_to_); p < to;) {
      size_t q = p;
      while (q < to && lex::space_not_break(s_[q])) ++q;
      if (lex::is(s_, q, word_end(q), "DELIMITER")) {
        delimiters_checked_to_ = std::max(delimiters_checked_to_, p);
        return true;
      }
      p = text::find_line_break(s_, q, n_);
      if (p < n_ && s_[p] == Ch('\r') && p + 1 < n_ && s_[p + 1] == Ch('\n')) ++p;
      ++p;
    }
    delimiters_checked_to_ = std::max(delimiters_checked_to_, to);
    return false;
  }

  // SET at the start of a line continues an UPDATE unless a variable or a session option follows.
  bool set_clause(size_t p, size_t e) const {
    if (!lex::is(s_, p, e, "SET")) return false;
    const size_t q = next_token(e);
    if (q < n_ && s_[q] == Ch('@')) return false;
    const size_t qe = keyword_at(q);
    for (const std::string_view option : kSessionOptions)
      if (lex::is(s_, q, qe, option)) return false;
    return true;
  }

  // A temporary table (#name) is always the run-time work of the routine around it.
  bool temporary(const Head& h) const { return s_[h.name_begin] == Ch('#') || s_[h.name_begin] == Ch('@'); }

  size_t next_special_or_word(size_t i) const {
    for (; i < n_; ++i) {
      const unsigned char k = lex::of(s_[i]);
      if (k & (lex::kSpecial | lex::kParen)) return i;
      if ((k & lex::kWordStart) && !(i > 0 && lex::word_char(s_[i - 1]))) return i;
    }
    return n_;
  }

  size_t pending_word(size_t i) {
    if (!(lex::of(s_[i]) & lex::kWord)) return i + 1;
    const size_t e = word_end(i);
    if (!pending_ || pending_depth_ != 0) return e;
    const bool as = lex::is(s_, i, e, "AS");
    bool body = false;
    for (const std::string_view word : kBodyWords) body = body || lex::is(s_, i, e, word);
    if (body && !(as && after_execute_)) {
      pending_ = false;
      start(pending_object_, pending_line_, pending_begin_);
      return e;
    }
    after_execute_ = lex::is(s_, i, e, "EXECUTE") || lex::is(s_, i, e, "EXEC");
    return e;
  }

  void start(const Object& o, size_t previous_line, size_t previous_begin) {
    pending_ = false;
    if (open_) close(previous_line, previous_begin);
    cur_ = o;
    open_ = true;
    dollar_body_ = false;
  }

  // The open object ends on `last` (its last line with code), never before its first line.
  void close(size_t last, size_t last_begin) {
    if (last < cur_.first_line) {
      last = cur_.first_line;
      last_begin = cur_.begin;
    }
    cur_.last_line = last;
    cur_.last_begin = last_begin;
    out_.objects.push_back(cur_);
    closed_through_ = last;
    open_ = false;
  }

  // The semicolon at p ends a statement.
  void semicolon(size_t p) {
    if (pending_depth_ == 0) pending_ = false;
    // A table, view or index ends with its statement, and so does a routine whose body was
    // dollar-quoted, or a function or trigger whose whole statement stands on its head's line:
    // what follows is the script's own work, not part of the object.
    if (open_ && (dollar_body_ || !cur_.routine || one_line_routine(p))) close(line_, line_begin_);
  }

  // Whether the open object is a function or trigger that the semicolon at p, on the line of its
  // head, ends: a function defined by a class, a string or an expression (AS 'com.acme.Udf',
  // AS (x + 1)), a trigger that runs one statement or calls a function (FOR EACH ROW SET ...,
  // EXECUTE FUNCTION f()); with every parenthesis after the name closed and no BEGIN that would open
  // a body of statements. A trigger whose body follows AS, and a procedure's body even on one line,
  // run on to the batch's end.
  bool one_line_routine(size_t p) {
    if ((cur_.kind != kFunction && cur_.kind != kTrigger) || line_ != cur_.first_line || p < cur_.name_end)
      return false;
    // Read once over the whole head line, however many semicolons it holds: each goes on from the
    // last.
    HeadLine& h = head_line_;
    if (h.object != cur_.begin) h = {cur_.begin, cur_.name_end};
    for (size_t& i = h.at; i < p && !h.body; ++i) {
      const Ch c = s_[i];
      if (c == Ch('\'') || c == Ch('"') || c == Ch('`')) {
        const size_t end = text::find(s_, i + 1, p, c);
        if (end >= p) h.body = true;  // not a literal the scan saw closed: leave it be
        i = end;
      } else if (c == Ch('(')) {
        ++h.depth;
      } else if (c == Ch(')')) {
        if (h.depth-- == 0) h.body = true;
      } else if ((lex::of(c) & lex::kWordStart) && !lex::word_char(s_[i - 1])) {
        const size_t e = word_end(i);
        h.body = lex::is(s_, i, e, "BEGIN");
        h.as = h.as || lex::is(s_, i, e, "AS");
        if (lex::is(s_, i, e, "EXECUTE")) {
          const size_t k = next_token(e), ke = keyword_at(k);
          h.calls = h.calls || lex::is(s_, k, ke, "FUNCTION") || lex::is(s_, k, ke, "PROCEDURE");
        }
        i = e - 1;
      }
    }
    // AS in a trigger opens its body (or names a transition table, where it calls a function).
    return !h.body && h.depth == 0 && (cur_.kind == kFunction || !h.as || h.calls);
  }

  void batch_end() {
    batches_ = true;
    pending_ = false;
    depth_ = 0;
    settle_code();
    if (open_) close(code_line_, code_begin_);
  }

  static constexpr size_t npos = static_cast<size_t>(-1);
  // Longer tags are not taken as tags, which bounds the work of comparing one at every dollar.
  static constexpr size_t kLongestTag = 66;

  const Ch* s_;
  size_t n_;
  Inventory out_;

  size_t line_ = 1, line_begin_ = 0, previous_line_begin_ = 0;
  size_t code_line_ = 0, code_begin_ = 0;  // the last line holding code, and where it starts...
  size_t code_at_ = npos;                   // ...unless the bulk path found later code here
  size_t depth_ = 0;          // parentheses, followed only when planning
  size_t pending_depth_ = 0;  // parentheses since a pending ALTER's head
  size_t unclosed_until_ = 0;
  size_t closed_through_ = 0;  // the last line of the last object closed
  size_t delimiters_checked_to_ = 0;  // lines before this hold no DELIMITER directive
  bool batches_ = false;              // a batch separator has been met
  // How many one-line statements ended_before passes over, which bounds its walk back.
  static constexpr size_t kStatementsAfterRoutine = 16;
  // How far one_line_routine has read the head line of the object that starts at `object`.
  struct HeadLine {
    size_t object = npos, at = 0, depth = 0;
    bool as = false, calls = false, body = false;  // body: it can't end on this line
  } head_line_;

  bool open_ = false;
  Object cur_{};
  bool dollar_body_ = false;

  bool at_head_ = false;  // the bulk path resumes at the head of a line
  bool literal_ = false;  // the bulk path left a single-quoted literal open
  bool comment_ = false;  // the bulk path left a line comment open
  lex::Masks block_{};
  size_t block_base_ = npos;

  bool pending_ = false;
  Object pending_object_{};
  size_t pending_line_ = 0, pending_begin_ = 0;
  bool after_execute_ = false;
};

#undef Hot

#ifdef TESSERA_SIMD_X86
// The object scan with its bulk path compiled for AVX2, POPCNT and BMI: that path is mostly bit
// arithmetic on the block masks, which the plain x86-64 baseline spells out at length. Its masks
// take the quotes' running parity from a carry-less multiply.
// The quiet blocks' loop with the masks made in it: flattened, so that their constants stay in
// registers from one block to the next instead of being set up for each.
template <class Ch>
__attribute__((target("avx2,pclmul,popcnt,bmi,bmi2,lzcnt"), flatten)) size_t quiet_fast(Scanner<Ch, false, true>& scanner,
                                                                                          size_t i) {
  return scanner.quiet_blocks(i);
}

// The quiet blocks' other blocks, out of that loop, so that they don't crowd its registers.
template <class Ch>
__attribute__((target("avx2,pclmul,popcnt,bmi,bmi2,lzcnt"), noinline)) size_t busy_block_fast(
    Scanner<Ch, false, true>& scanner, size_t i, const lex::Masks& m, typename Scanner<Ch, false, true>::Quiet& q) {
  return scanner.busy_block(i, m, q);
}

template <class Ch>
__attribute__((target("avx2,pclmul,popcnt,bmi,bmi2,lzcnt"))) Inventory scan_fast(const Ch* s, size_t n) {
  return Scanner<Ch, false, true>(s, n).run();
}
#endif

template <class Ch>
Inventory scan(const Ch* s, size_t n, bool plan) {
  if (plan) return Scanner<Ch, true>(s, n).run();
#ifdef TESSERA_SIMD_X86
  // A virtual machine may show AVX2 and hide the carry-less multiply.
  static const bool clmul = __builtin_cpu_supports("pclmul");
  if (isa::current() >= isa::Level::AVX2 && clmul) return scan_fast(s, n);
#endif
  return Scanner<Ch, false>(s, n).run();
}

}  // namespace tessera::inventory
