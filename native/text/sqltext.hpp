// Lexical pieces shared by the modules: the host's whitespace and line-boundary rules, the line
// split of str.splitlines, str.strip, and SQL comment removal. All of it works on a str's own
// storage (Py_UCS1/2/4) and calls no Python API beyond the pure character predicates, so it runs
// with the GIL released.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <type_traits>
#include <utility>
#include <vector>

#include "regex/regex_simd.hpp"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace tessera::text {

// str.isspace / str.strip / str.split whitespace, which is also re's \s.
inline bool is_space(Py_UCS4 c) noexcept { return Py_UNICODE_ISSPACE(c); }
// Every boundary str.splitlines breaks at (\r\n is handled by the splitter).
inline bool is_line_break(Py_UCS4 c) noexcept { return Py_UNICODE_ISLINEBREAK(c); }

// Class bits of the Latin-1 range, so that the common one-byte text never leaves a table lookup.
enum : unsigned char { kSpace = 1, kBreak = 2 };
inline const std::array<unsigned char, 256>& latin1_classes() noexcept {
  static const std::array<unsigned char, 256> table = [] {
    std::array<unsigned char, 256> t{};
    for (Py_UCS4 c = 0; c < 256; ++c)
      t[c] = static_cast<unsigned char>((is_space(c) ? kSpace : 0) | (is_line_break(c) ? kBreak : 0));
    return t;
  }();
  return table;
}
template <class Ch>
inline unsigned char classes(Ch c) noexcept {
  if (static_cast<Py_UCS4>(c) < 256) return latin1_classes()[static_cast<Py_UCS4>(c)];
  return static_cast<unsigned char>((is_space(c) ? kSpace : 0) | (is_line_break(c) ? kBreak : 0));
}

// Whether the "#" at s[i] opens a line comment, on the platforms that have one: it stands after a
// line start, a blank or ";" and is followed by neither a word character nor "#", ">", "-", "{", "@"
// or "$", so that temp tables (#t, ##t, #@t, #$t), JSON path operators (#>, #>>, #-), templates and
// the like stay code. Every reader of comments takes this one rule, so that they agree on what code is.
template <class Ch>
inline bool hash_comment_at(const Ch* s, size_t i, size_t n) noexcept {
  if (i > 0 && s[i - 1] != Ch(';') && !(classes(s[i - 1]) & kSpace)) return false;
  if (i + 1 >= n) return true;
  const Py_UCS4 next = s[i + 1];
  if (next < 128)
    return !((next >= '0' && next <= '9') || (next >= 'a' && next <= 'z') || (next >= 'A' && next <= 'Z') ||
             next == '_' || next == '#' || next == '>' || next == '-' || next == '{' || next == '@' ||
             next == '$');
  return !Py_UNICODE_ISALNUM(next);
}

// What closes Oracle's alternative-quoted literal q'<d>...<closer>' opened with delimiter d: a
// bracket's mate, any other delimiter itself.
template <class C>
constexpr C alternative_quote_closer(C d) noexcept {
  return d == C('[') ? C(']') : d == C('(') ? C(')') : d == C('{') ? C('}') : d == C('<') ? C('>') : d;
}

// Index of the first c at or after i (n when absent).
template <class Ch>
inline size_t find(const Ch* s, size_t i, size_t n, Ch c) noexcept {
  if constexpr (sizeof(Ch) == 1) {
    if (i >= n) return n;
    const void* p = std::memchr(s + i, c, n - i);
    return p ? static_cast<size_t>(static_cast<const Ch*>(p) - s) : n;
  } else {
#if defined(__SSE2__)
    if constexpr (sizeof(Ch) == 2) {  // no libc scan for 16-bit units: eight at a time
      const __m128i needle = _mm_set1_epi16(static_cast<short>(c));
      for (; i + 8 <= n; i += 8) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i));
        if (const int mask = _mm_movemask_epi8(_mm_cmpeq_epi16(v, needle)))
          return i + static_cast<size_t>(__builtin_ctz(mask)) / 2;
      }
    }
#endif
    while (i < n && s[i] != c) ++i;
    return i;
  }
}

// Index of the first of the ASCII characters a or b at or after i (n when neither occurs), for 1-, 2-
// and 4-byte storage alike, on the fastest instruction set the CPU offers (lines.cpp).
template <class Ch>
size_t find_either(const Ch* s, size_t i, size_t n, char a, char b) noexcept;

// Copies s[0, k) to out as bytes up to the first character above U+00FF or the first start of the ASCII
// pair a or b (its second character may lie past k, below avail >= k); returns how many it copied (k
// when there is neither). For 2- and 4-byte storage (lines.cpp).
template <class Ch>
size_t narrow_until_pair(const Ch* s, size_t k, size_t avail, Py_UCS1* out, const char* a, const char* b) noexcept;

// Index of the first j >= i where s[j], s[j + 1] are the two ASCII characters a[0], a[1] or b[0], b[1]
// (n when neither pair occurs), for 1-, 2- and 4-byte storage alike (lines.cpp).
template <class Ch>
size_t find_pair(const Ch* s, size_t i, size_t n, const char* a, const char* b) noexcept;

// A set of at most eight ASCII characters, as find_among looks for them: a bit per member in a table
// by low nibble and one by high nibble, whose entries for a byte share a bit exactly when the byte is
// a member, so that a vector of characters is tested with two table lookups whatever the members.
class AsciiSet {
 public:
  // `members`: NUL-terminated, one to eight ASCII characters.
  explicit constexpr AsciiSet(const char* members) noexcept {
    for (int k = 0; k < 8 && members[k]; ++k) {
      const auto c = static_cast<unsigned char>(members[k]);
      lo_[c & 15] |= static_cast<std::uint8_t>(1u << k);
      hi_[c >> 4] |= static_cast<std::uint8_t>(1u << k);
    }
  }
  bool contains(Py_UCS4 c) const noexcept { return c < 128 && (lo_[c & 15] & hi_[c >> 4]) != 0; }
  const std::uint8_t* by_low_nibble() const noexcept { return lo_; }
  const std::uint8_t* by_high_nibble() const noexcept { return hi_; }

 private:
  alignas(16) std::uint8_t lo_[16]{};
  alignas(16) std::uint8_t hi_[16]{};  // nothing for 0x8_ to 0xF_: the members are ASCII
};

// Index of the first character at or after i that is a member of `set` (n when none occurs), for 1-, 2-
// and 4-byte storage alike (lines.cpp).
template <class Ch>
size_t find_among(const Ch* s, size_t i, size_t n, const AsciiSet& set) noexcept;

template <class Ch>
inline size_t find_ascii(const Ch* s, size_t i, size_t n, char c) noexcept {
  if constexpr (sizeof(Ch) == 1) {
    if (i >= n) return n;
    const void* p = std::memchr(s + i, c, n - i);
    return p ? static_cast<size_t>(static_cast<const Ch*>(p) - s) : n;
  } else {
    return find_either(s, i, n, c, c);
  }
}

// The comment-free text: every "--" up to (not including) the next line feed removed first, then
// every "/*" up to the nearest following "*/" in what is left. Done in one pass: a block comment's
// end is searched with the line comments inside it already skipped, which is exactly the text the
// second substitution would see (removing a line comment leaves a line feed or the end of the text
// behind it, so no new "/*" or "*/" can form across it). Once a "/*" finds no end, no later one
// can, and only line comments are removed from there on.
//
// Calls keep(from, to) for the stretches of s that stay, in order; together they are the
// comment-free text. A comment (and nothing else) lies between consecutive stretches.
//
// In wide storage, the next comment opener at or after i of the stretch that began at `from` (or any
// "-" or "/" before it) is asked of find_opener(from, i), which may read what it passes over on the
// way (every character of it stays).
template <class Ch, class Keep, class FindOpener>
void for_each_kept(const Ch* s, size_t n, Keep&& keep, FindOpener&& find_opener) {
  bool blocks = true;
  size_t from = 0;  // start of the stretch kept so far: only a comment ends it
  size_t i = 0;
  while (i < n) {
    const size_t j = sizeof(Ch) > 1 && blocks ? find_opener(from, i)
                                               : find_pair(s, i, n, "--", blocks ? "/*" : "--");
    if (j + 1 >= n) {
      keep(from, n);
      return;
    }
    const bool line_comment = s[j] == Ch('-') && s[j + 1] == Ch('-');
    const bool block_comment = !line_comment && s[j] == Ch('/') && s[j + 1] == Ch('*');
    if (!line_comment && !block_comment) {
      i = j + 1;
      continue;
    }
    if (line_comment) {
      keep(from, j);
      from = i = find_ascii(s, j + 2, n, '\n');
      continue;
    }
    size_t k = j + 2;
    bool closed = false;
    while ((k = find_pair(s, k, n, "*/", "--")) < n) {
      if (s[k] == Ch('*')) {
        closed = true;
        break;
      }
      k = find_ascii(s, k + 2, n, '\n');
    }
    if (closed) {
      keep(from, j);
      from = i = k + 2;
    } else {
      blocks = false;  // resume at the unclosed "/*", which stays in the text
      i = j + 1;
    }
  }
}

template <class Ch, class Keep>
void for_each_kept(const Ch* s, size_t n, Keep&& keep) {
  for_each_kept(s, n, keep, [&](size_t, size_t i) { return find_pair(s, i, n, "--", "/*"); });
}

// A growable array of plain characters whose new room is left unfilled: every character is
// written once, by the copy that puts it there.
template <class T>
class CharBuffer {
 public:
  size_t size() const { return size_; }
  const T* data() const { return data_.get(); }
  T* data() { return data_.get(); }
  void reserve(size_t k) {
    if (k <= cap_) return;
    std::unique_ptr<T[]> grown(new T[k]);
    if (size_) std::memcpy(grown.get(), data_.get(), size_ * sizeof(T));
    data_ = std::move(grown);
    cap_ = k;
  }
  // Room for k more characters at the end, returned for the caller to fill; size() counts them.
  T* extend(size_t k) {
    if (size_ + k > cap_) reserve(std::max(size_ + k, cap_ * 2));
    size_ += k;
    return data_.get() + size_ - k;
  }
  void shrink(size_t k) { size_ = k; }
  void erase_front(size_t k) {
    std::memmove(data_.get(), data_.get() + k, (size_ - k) * sizeof(T));
    size_ -= k;
  }

 private:
  std::unique_ptr<T[]> data_;
  size_t size_ = 0, cap_ = 0;
};

// Copies p[0, k) to out, each character as a To, up to the first character that does not fit a To;
// returns how many it copied (k when all of them fit). Many characters a step where the copy is to
// bytes, where most of the time goes.
template <class To, class Ch>
size_t narrow_prefix(const Ch* p, size_t k, To* out) noexcept {
  if constexpr (sizeof(To) == 1 && sizeof(Ch) > 1) {
    return rx::detail::narrow_latin1(p, 0, k, out);
  } else {
    size_t i = 0;
    constexpr Py_UCS4 kMax = static_cast<To>(~To{0});
    for (; i < k && static_cast<Py_UCS4>(p[i]) <= kMax; ++i) out[i] = static_cast<To>(p[i]);
    return i;
  }
}

// Characters copied out of a text of `Ch` storage, held one byte each while all of them are below
// U+0100, as after the comments of a script whose only wide characters sit in comments: what is left
// is scanned as one-byte text, a quarter of the memory of four-byte storage. The first wider character
// turns the copy to `Ch` storage for good.
template <class Ch>
class NarrowingCopy {
 public:
  size_t size() const { return wide() ? wide_.size() : narrow_.size(); }
  void reserve(size_t k) { wide() ? wide_.reserve(k) : narrow_.reserve(k); }
  bool is_narrow() const { return !wide(); }
  // Appends p[0, k) up to its first character above U+00FF while the copy is one byte a character;
  // returns how many it appended (k when none is, 0 once the copy is wide).
  size_t append_narrow(const Ch* p, size_t k) {
    return append_narrowed(k, [&](Py_UCS1* out) { return narrow_prefix(p, k, out); });
  }
  // As append_narrow, stopping also before the first ASCII pair a or b (see narrow_until_pair).
  size_t append_narrow_until(const Ch* p, size_t k, size_t avail, const char* a, const char* b) {
    if constexpr (sizeof(Ch) == 1) {
      return 0;
    } else {
      return append_narrowed(k, [&](Py_UCS1* out) { return narrow_until_pair(p, k, avail, out, a, b); });
    }
  }
  void append(const Ch* p, size_t k) {
    const size_t done = append_narrow(p, k);
    if (done == k) return;
    if (!wide()) widen();
    std::memcpy(wide_.extend(k - done), p + done, (k - done) * sizeof(Ch));
  }
  void erase_front(size_t k) { wide() ? wide_.erase_front(k) : narrow_.erase_front(k); }
  // f(chars, size) over the copy in the storage it has now (const Py_UCS1* or const Ch*).
  template <class F>
  decltype(auto) visit(F&& f) const {
    if constexpr (sizeof(Ch) > 1) {
      if (!is_wide_) return f(narrow_.data(), narrow_.size());
    }
    return f(wide_.data(), wide_.size());
  }

 private:
  bool wide() const { return sizeof(Ch) == 1 || is_wide_; }

  // The one-byte characters so far, moved to `Ch` storage.
  void widen() {
    const size_t k = narrow_.size();
    wide_.reserve(std::max<size_t>(k * 2, 1024));
    Ch* out = wide_.extend(k);
    const Py_UCS1* in = narrow_.data();
    size_t i = 0;
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    for (; i + 16 <= k; i += 16) {
      const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i));
      const __m128i lo = _mm_unpacklo_epi8(v, zero), hi = _mm_unpackhi_epi8(v, zero);
      if constexpr (sizeof(Ch) == 2) {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), lo);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i + 8), hi);
      } else {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm_unpacklo_epi16(lo, zero));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i + 4), _mm_unpackhi_epi16(lo, zero));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i + 8), _mm_unpacklo_epi16(hi, zero));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i + 12), _mm_unpackhi_epi16(hi, zero));
      }
    }
#endif
    for (; i < k; ++i) out[i] = in[i];
    narrow_ = {};
    is_wide_ = true;
  }

  // Room for k more bytes, filled by narrow(out), which says how many it wrote; the rest is given back.
  template <class Narrow>
  size_t append_narrowed(size_t k, Narrow&& narrow) {
    if (wide()) return 0;
    const size_t at = narrow_.size();
    const size_t done = narrow(narrow_.extend(k));
    if (done < k) narrow_.shrink(at + done);
    return done;
  }

  CharBuffer<Py_UCS1> narrow_;
  CharBuffer<Ch> wide_;
  bool is_wide_ = false;
};

// The window size of for_each_comment_free_window for a script of n characters: a fifth of it (8,192
// characters at least), so that extra memory stays a small share of the script's, and windows are as
// large as that allows (each window is a pass of its own).
inline size_t comment_free_window_limit(size_t n) { return std::max<size_t>(n / 5, 8192); }

// A cut of the comment-free text between w[p - 1] and w[p] that the grading and category patterns
// cannot match across (see their modules): after a ")" followed by ASCII punctuation.
template <class Ch>
inline bool cut_after_paren(const Ch* w, size_t p) {
  const auto next = static_cast<Py_UCS4>(w[p]);
  const bool word = (next >= '0' && next <= '9') || ((next | 0x20) >= 'a' && (next | 0x20) <= 'z') || next == '_';
  return w[p - 1] == Ch(')') && next > 0x20 && next < 0x7F && !word;
}

// cut_after_paren for for_each_comment_free_window, which looks for such cuts only where a ")" stands.
struct CutAfterParen {
  static constexpr char kAfter = ')';
  template <class Ch>
  bool operator()(const Ch* w, size_t p) const {
    return cut_after_paren(w, p);
  }
};

// Index of the last c in s[begin, end) (end when absent).
template <class Ch>
inline size_t rfind_ascii(const Ch* s, size_t begin, size_t end, char c) noexcept {
  if constexpr (sizeof(Ch) == 1) {
    if (begin >= end) return end;
    const void* p = memrchr(s + begin, c, end - begin);
    return p ? static_cast<size_t>(static_cast<const Ch*>(p) - s) : end;
  } else {
    for (size_t q = end; q > begin;)
      if (s[--q] == Ch(c)) return q;
    return end;
  }
}

// Calls f(chars, size) for consecutive windows of the comment-free text, in order; together they
// are all of it. A window ends only at a position p of the comment-free text where cut(chars, p)
// holds (0 < p < size: the cut falls between chars[p - 1] and chars[p], and chars[p - 1] is always
// the character Cut::kAfter, as for CutAfterParen), so a caller whose patterns cannot match across
// such a cut sees, window by window, what it would see in the whole text, without the whole text
// ever being copied: windows are scanned in place while nothing has been
// removed, and are otherwise copied into a buffer of about `limit` characters, which grows only
// where the text offers no cut. A copied window may come in one-byte storage (NarrowingCopy), so
// f and cut take the characters of either width.
template <class Ch, class Cut, class F>
void for_each_comment_free_window(const Ch* s, size_t n, size_t limit, Cut&& cut, F&& f) {
  size_t verbatim_end = 0;
  bool copying = false;
  NarrowingCopy<Ch> buffer;
  size_t uncut = 0;  // no cut in buffer at the positions 1 .. uncut-1
  // The last cut of w[0, m) at a position from `from` on, else 0: looked for at the occurrences of
  // the one character a cut follows (Cut::kAfter), from the end back.
  auto last_cut = [&](const auto* w, size_t m, size_t from) -> size_t {
    const size_t lo = std::max<size_t>(from, 1);
    for (size_t end = m > lo ? m - 1 : 0; end >= lo;) {
      const size_t q = rfind_ascii(w, lo - 1, end, std::remove_cvref_t<Cut>::kAfter);
      if (q == end) break;
      if (cut(w, q + 1)) return q + 1;
      end = q;
    }
    return 0;
  };
  auto flush = [&]() -> bool {
    const size_t c = buffer.visit([&](const auto* w, size_t m) {
      const size_t at = last_cut(w, m, uncut);
      if (at > 0) f(w, at);
      return at;
    });
    if (c > 0) buffer.erase_front(c);
    uncut = buffer.size();
    return c > 0;
  };
  auto start_copying = [&] {
    copying = true;
    // What precedes the first removal is scanned in place up to its last cut.
    const size_t c = last_cut(s, verbatim_end, 1);
    if (c > 0) f(s, c);
    buffer.reserve(std::max(limit, verbatim_end - c));
    buffer.append(s + c, verbatim_end - c);
    uncut = buffer.size();
  };
  // The first wider character turns the copy wide: what comes before it is scanned first, one byte
  // a character, up to its last cut, so that only the rest of the window is held wide.
  auto append = [&](const Ch* q, size_t k) {
    if (!buffer.is_narrow()) return buffer.append(q, k);
    const size_t done = buffer.append_narrow(q, k);
    if (done == k) return;
    flush();
    buffer.append(q + done, k - done);
  };
  // How many of `left` characters the copy takes before it is due to be flushed: all of them when
  // it holds no cut yet, and the window grows.
  auto room = [&](size_t left) -> size_t {
    if (buffer.size() >= limit && !flush()) return left;
    return buffer.size() < limit ? std::min(left, limit - buffer.size()) : left;
  };
  auto copy = [&](size_t from, size_t to) {
    while (from < to) {
      const size_t take = room(to - from);
      append(s + from, take);
      from += take;
    }
  };
  size_t copied_to = 0;  // the copy holds the kept characters of s before this position
  // While the copy is one byte a character, the search for comment openers in wide storage copies
  // what it passes over, so that the wide storage is read once and not twice.
  auto find_opener = [&](size_t from, size_t i) -> size_t {
    if (!copying || !buffer.is_narrow()) return find_pair(s, i, n, "--", "/*");
    copy(std::max(copied_to, from), i);
    copied_to = i;
    while (i < n && buffer.is_narrow()) {
      const size_t k = std::min(room(n - i), limit);  // a growing window takes no more than it keeps
      const size_t done = buffer.append_narrow_until(s + i, k, n - i, "--", "/*");
      copied_to = i += done;
      if (done < k) {
        if (s[i] == Ch('-') || s[i] == Ch('/')) return i;
        break;  // a wider character, which copy() turns the copy wide for
      }
    }
    return find_pair(s, i, n, "--", "/*");
  };
  for_each_kept(
      s, n,
      [&](size_t from, size_t to) {
        if (!copying && from == verbatim_end) {
          verbatim_end = to;
          return;
        }
        if (!copying) start_copying();
        copy(std::max(copied_to, from), to);
        copied_to = to;
      },
      find_opener);
  if (!copying) {
    f(s, verbatim_end);
    return;
  }
  buffer.visit([&](const auto* w, size_t m) { f(w, m); });
}

// The line boundaries of str.splitlines, spelled out so a scan can test many characters at once:
// U+000A..U+000D, U+001C..U+001E, U+0085, U+2028 and U+2029 (exactly Py_UNICODE_ISLINEBREAK).
template <class Ch>
inline bool is_break_char(Ch c) noexcept {
  const Py_UCS4 u = c;
  return u - 0x0Au <= 3u || u - 0x1Cu <= 2u || u == 0x85u || u - 0x2028u <= 1u;
}

// Index of the first line boundary at or after i (n when none). SSE2 tests 16 one-byte or 8 two-byte
// characters per step; lines are long compared to that, so most steps find nothing.
template <class Ch>
inline size_t find_line_break(const Ch* s, size_t i, size_t n) noexcept {
#if defined(__SSE2__)
  if constexpr (sizeof(Ch) == 1) {
    const __m128i zero = _mm_setzero_si128();
    for (; i + 16 <= n; i += 16) {
      const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i));
      const __m128i a = _mm_subs_epu8(_mm_sub_epi8(v, _mm_set1_epi8(0x0A)), _mm_set1_epi8(3));
      const __m128i b = _mm_subs_epu8(_mm_sub_epi8(v, _mm_set1_epi8(0x1C)), _mm_set1_epi8(2));
      const __m128i hit = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(a, zero), _mm_cmpeq_epi8(b, zero)),
                                       _mm_cmpeq_epi8(v, _mm_set1_epi8(static_cast<char>(0x85))));
      if (const int mask = _mm_movemask_epi8(hit)) return i + static_cast<size_t>(__builtin_ctz(mask));
    }
  } else if constexpr (sizeof(Ch) == 2) {
    const __m128i zero = _mm_setzero_si128();
    for (; i + 8 <= n; i += 8) {
      const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i));
      const __m128i a = _mm_subs_epu16(_mm_sub_epi16(v, _mm_set1_epi16(0x0A)), _mm_set1_epi16(3));
      const __m128i b = _mm_subs_epu16(_mm_sub_epi16(v, _mm_set1_epi16(0x1C)), _mm_set1_epi16(2));
      const __m128i c = _mm_subs_epu16(_mm_sub_epi16(v, _mm_set1_epi16(0x2028)), _mm_set1_epi16(1));
      const __m128i hit = _mm_or_si128(
          _mm_or_si128(_mm_cmpeq_epi16(a, zero), _mm_cmpeq_epi16(b, zero)),
          _mm_or_si128(_mm_cmpeq_epi16(c, zero), _mm_cmpeq_epi16(v, _mm_set1_epi16(0x85))));
      if (const int mask = _mm_movemask_epi8(hit)) return i + static_cast<size_t>(__builtin_ctz(mask)) / 2;
    }
  }
#endif
  while (i < n && !is_break_char(s[i])) ++i;
  return i;
}

// How many line boundaries of str.splitlines end in s[from, to), for 1-, 2- and 4-byte storage (lines.cpp):
// a "\r\n" counts once, at its "\n" (s[to] is read to tell a "\r" at to - 1, where to < n). Counts of
// consecutive ranges add up, and 1 + count_line_breaks(s, 0, p, n) is the line of position p, the
// "\n" of a "\r\n" being on the line the pair ends.
template <class Ch>
size_t count_line_breaks(const Ch* s, size_t from, size_t to, size_t n) noexcept;

// Calls f(begin, end) for every line of str.splitlines() (ends not kept; a final break adds no
// empty line; empty text has no lines).
template <class Ch, class F>
void for_each_line(const Ch* s, size_t n, F&& f) {
  size_t start = 0;
  for (size_t i = 0; (i = find_line_break(s, i, n)) < n; ++i) {
    f(start, i);
    if (s[i] == Ch('\r') && i + 1 < n && s[i + 1] == Ch('\n')) ++i;
    start = i + 1;
  }
  if (start < n) f(start, n);
}

// str.strip() of s[begin, end): the trimmed bounds.
template <class Ch>
std::pair<size_t, size_t> strip(const Ch* s, size_t begin, size_t end) noexcept {
  while (begin < end && (classes(s[begin]) & kSpace)) ++begin;
  while (end > begin && (classes(s[end - 1]) & kSpace)) --end;
  return {begin, end};
}

// Number of lines of str.splitlines() that are not empty after str.strip(), for 1-, 2- and 4-byte
// storage (lines.cpp).
template <class Ch>
size_t count_nonblank_lines(const Ch* s, size_t n) noexcept;

// Number of maximal runs of non-whitespace, as len(str.split()) counts them.
template <class Ch>
size_t count_words(const Ch* s, size_t n) noexcept {
  const auto& latin1 = latin1_classes();  // hoisted: the static's guard would otherwise sit in the loop
  size_t count = 0;
  bool in_word = false;
  for (size_t i = 0; i < n; ++i) {
    const Py_UCS4 c = s[i];
    const bool space = (c < 256 ? latin1[c] : classes(s[i])) & kSpace;
    count += !space & !in_word;
    in_word = !space;
  }
  return count;
}

}  // namespace tessera::text
