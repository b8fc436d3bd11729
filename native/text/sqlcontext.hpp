// Where a SQL script's comments and literals lie, read the same way whatever platform wrote it, so
// that evidence found inside them can be told from evidence in code.
//
// One left-to-right pass over the string's own storage, recognising:
// - "--" to the end of the line: a comment on every platform.
// - "/*" to the nearest "*/": a comment. Several platforms let block comments nest; we never nest,
//   because a stray "/*" inside a comment (a path glob, a commented-out opener) is far more common in
//   real scripts than a deliberate nested comment, and the nesting reading turns the whole rest of
//   the file into a comment when it is wrong, while the flat reading only exposes the tail of one.
//   An unclosed "/*" runs to the end of the text.
// - "#" to the end of the line, where "#" stands after a line start, blank or ";" and is followed by
//   neither a word character nor "#", ">", "-", "{", "@" or "$" (text::hash_comment_at): the comment
//   of the platforms that have one, without taking temp tables (#t, ##t, #$t), JSON path operators
//   (#>, #>>, #-) or templates. The "#" itself stays code, as the line comment's syntax is itself
//   evidence; the rest is comment.
// - "//" to the end of the line, unless a ":" stands right before it (a URL): a comment.
// - '...' with '' inside: a literal, as are E'...' (backslash escapes) and q'[...]' (the closing
//   bracket or repeated delimiter, then a quote). "..." and `...` with doubled delimiters inside:
//   literals too (quoted names and, on some platforms, strings). An unclosed one runs to the end.
// - $$...$$ and $tag$...$tag$ bodies: literal when a LANGUAGE clause of the statement names a
//   language other than SQL (JavaScript, Python, Java, Scala, Perl, Tcl...), code otherwise, since
//   procedural SQL bodies are the platform's own code. The delimiters are code.
// A literal's opening delimiter (and an E or q prefix) is code, its contents and closing delimiter are
// not: a match that starts at the quote, such as a quoted-name pattern, is a code match.
#pragma once

#include "text/sqltext.hpp"

#include <algorithm>
#include <array>
#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <cstdint>
#include <vector>

namespace tessera::text {

enum class Region : std::uint8_t { Code = 0, Comment = 1, Literal = 2 };

struct Span {
  size_t begin, end;  // [begin, end)
  Region kind;
};

namespace context_detail {

template <class Ch>
inline bool is_word(Ch c) noexcept {
  const Py_UCS4 u = c;
  if (u < 128) return (u >= '0' && u <= '9') || (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || u == '_';
  return Py_UNICODE_ISALNUM(u);
}

template <class Ch>
inline Py_UCS4 lower(Ch c) noexcept {
  const Py_UCS4 u = c;
  return (u >= 'A' && u <= 'Z') ? u + 32 : u;
}

// s[i, i+len(word)) equals the lower-case ASCII word, ignoring case, as a whole word.
template <class Ch>
inline bool word_at(const Ch* s, size_t i, size_t n, const char* word) noexcept {
  size_t k = 0;
  for (; word[k] != 0; ++k)
    if (i + k >= n || lower(s[i + k]) != static_cast<unsigned char>(word[k])) return false;
  if (i > 0 && is_word(s[i - 1])) return false;
  return i + k >= n || !is_word(s[i + k]);
}

// The language a LANGUAGE clause at `at` names is SQL or procedural SQL (or none is named).
template <class Ch>
inline bool names_sql_language(const Ch* s, size_t at, size_t n) noexcept {
  size_t i = at + 8;
  while (i < n && (s[i] == ' ' || s[i] == '\t' || s[i] == '\r' || s[i] == '\n' || s[i] == '\'' || s[i] == '"')) ++i;
  static const char* const foreign[] = {"javascript", "js", "python", "java", "scala", "plpythonu", "plpython3u",
                                        "plpython2u", "plperl", "plperlu", "pltcl", "pltclu", "plv8", "plr"};
  for (const char* name : foreign)
    if (word_at(s, i, n, name)) return false;
  return true;
}

// Whether a dollar-quoted body opened at `open` and closed at [close, close_end) holds SQL: the nearest
// LANGUAGE clause after the closer (before the statement's ";" or the next "$"), else the last one in
// the 500 characters before the opener, after the previous ";" and after `floor` (the end of the
// previous body), so that no character is looked at twice and a run of bodies stays linear.
template <class Ch>
inline bool dollar_body_is_sql(const Ch* s, size_t n, size_t open, size_t close_end, size_t floor) noexcept {
  for (size_t i = close_end; i < n && i < close_end + 200 && s[i] != Ch(';') && s[i] != Ch('$'); ++i)
    if (word_at(s, i, n, "language")) return names_sql_language(s, i, n);
  size_t from = open > 500 ? open - 500 : 0;
  if (from < floor) from = floor;
  for (size_t i = open; i-- > from;) {
    if (s[i] == Ch(';')) break;
    if (word_at(s, i, n, "language")) return names_sql_language(s, i, n);
  }
  return true;
}

// Every "$tag$" and "$$" of the text by its tag, in text order, so that the closer of an opener is one
// lookup rather than a scan (a scan per unclosed opener would make the pass quadratic).
template <class Ch>
class DollarIndex {
 public:
  DollarIndex(const Ch* s, size_t n) {
    for (size_t i = find(s, 0, n, Ch('$')); i < n; i = find(s, i + 1, n, Ch('$'))) {
      const size_t end = delimiter_end(s, n, i);
      if (end == i + 2) {
        plain_.push_back(i);
      } else if (end != 0) {
        at_[key(s, i, end)].push_back(i);
      }
    }
  }
  // The first occurrence of the delimiter s[open, open_end) at or after `from`, or n.
  size_t next(const Ch* s, size_t open, size_t open_end, size_t from, size_t n) const {
    if (open_end == open + 2) return first_from(plain_, from, n);
    auto it = at_.find(key(s, open, open_end));
    return it == at_.end() ? n : first_from(it->second, from, n);
  }
  // The end of a "$tag$" delimiter starting at i, or 0.
  static size_t delimiter_end(const Ch* s, size_t n, size_t i) {
    size_t k = i + 1;
    if (k < n && is_word(s[k]) && !(s[k] >= Ch('0') && s[k] <= Ch('9')))
      while (k < n && is_word(s[k])) ++k;
    return k < n && s[k] == Ch('$') ? k + 1 : 0;
  }

 private:
  static std::u32string key(const Ch* s, size_t from, size_t to) { return std::u32string(s + from, s + to); }
  static size_t first_from(const std::vector<size_t>& at, size_t from, size_t n) {
    auto pos = std::lower_bound(at.begin(), at.end(), from);
    return pos == at.end() ? n : *pos;
  }

  // "$$", by far the commonest, apart: a text of them would otherwise cost a string and a map lookup each.
  std::vector<size_t> plain_;
  std::map<std::u32string, std::vector<size_t>> at_;
};

template <class Ch>
inline size_t line_end(const Ch* s, size_t i, size_t n) noexcept {
  return find_line_break(s, i, n);
}

// Characters at which something may open.
inline constexpr char kOpeners[] = "-/#'\"`$";
inline constexpr AsciiSet kOpenerSet{kOpeners};
inline const std::array<bool, 128>& openers() noexcept {
  static const std::array<bool, 128> table = [] {
    std::array<bool, 128> t{};
    for (const char* c = kOpeners; *c; ++c) t[static_cast<unsigned char>(*c)] = true;
    return t;
  }();
  return table;
}

}  // namespace context_detail

// The comment and literal spans of s[0, n), in text order, not overlapping. Everything else is code.
template <class Ch>
void scan_context(const Ch* s, size_t n, std::vector<Span>& out) {
  using namespace context_detail;
  out.clear();
  const auto& open = openers();
  size_t sql_dollar_close = static_cast<size_t>(-1);  // where the closer of a SQL dollar body stands
  size_t sql_dollar_len = 0;
  size_t body_floor = 0;  // end of the last dollar-quoted body
  std::optional<DollarIndex<Ch>> dollars;  // built at the first opener
  size_t i = 0;
  while (i < n) {
    const Py_UCS4 c = s[i];
    if (c >= 128 || !open[c]) {
      // Most of a script opens nothing: past a few characters, skipped many at a time (a text dense
      // with openers, such as comment lines, stays on the short steps).
      const size_t near = std::min(n, i + 8);
      while (++i < near && (static_cast<Py_UCS4>(s[i]) >= 128 || !open[s[i]])) {
      }
      if (i == near) i = find_among(s, i, n, kOpenerSet);
      continue;
    }
    const Py_UCS4 next = i + 1 < n ? static_cast<Py_UCS4>(s[i + 1]) : 0;
    switch (c) {
      case '-':
        if (next == '-') {
          const size_t end = line_end(s, i, n);
          out.push_back({i, end, Region::Comment});
          i = end;
          continue;
        }
        break;
      case '/':
        if (next == '*') {
          size_t k = i + 2;
          while (k + 1 < n && !(s[k] == Ch('*') && s[k + 1] == Ch('/'))) {
            k = find(s, k + 1, n, Ch('*'));
          }
          const size_t end = k + 1 < n ? k + 2 : n;
          out.push_back({i, end, Region::Comment});
          i = end;
          continue;
        }
        if (next == '/' && (i == 0 || s[i - 1] != Ch(':'))) {
          const size_t end = line_end(s, i, n);
          out.push_back({i, end, Region::Comment});
          i = end;
          continue;
        }
        break;
      case '#': {
        if (hash_comment_at(s, i, n)) {
          const size_t end = line_end(s, i, n);
          if (end > i + 1) out.push_back({i + 1, end, Region::Comment});
          i = end;
          continue;
        }
        break;
      }
      case '\'': {
        const Py_UCS4 p1 = i > 0 ? lower(s[i - 1]) : 0;
        const bool p2_free = i < 2 || !is_word(s[i - 2]);
        const bool p2_n = i >= 2 && lower(s[i - 2]) == 'n' && (i < 3 || !is_word(s[i - 3]));
        size_t end = n;
        if (p1 == 'q' && (p2_free || p2_n) && i + 1 < n) {
          const Py_UCS4 d = next;
          const Py_UCS4 closer = alternative_quote_closer(d);
          for (size_t k = i + 2; k + 1 < n; ++k)
            if (static_cast<Py_UCS4>(s[k]) == closer && s[k + 1] == Ch('\'')) {
              end = k + 2;
              break;
            }
        } else {
          const bool escapes = p1 == 'e' && p2_free;
          // Most literals are a few characters long, and the step-by-step loop ends them soonest; the
          // long ones (dynamic SQL, whole statements in quotes) are where most literal text is, and
          // there the quotes are searched many characters at a time, past the first 16 characters and
          // whenever a search found one less than 16 on (so that a text dense with doubled quotes
          // stays mostly on the short steps).
          size_t k = i + 1;
          for (size_t near = std::min(n, k + 16); k < n;) {
            if (k >= near) {
              const size_t from = k;
              k = escapes ? find_either(s, k, n, '\'', '\\') : find_ascii(s, k, n, '\'');
              if (k >= n) break;
              if (k - from < 16) near = std::min(n, k + 16);
            }
            const Py_UCS4 ch = s[k];
            if (escapes && ch == '\\') {
              k += 2;
            } else if (ch == '\'') {
              if (k + 1 < n && s[k + 1] == Ch('\'')) {
                k += 2;
              } else {
                end = k + 1;
                break;
              }
            } else {
              ++k;
            }
          }
        }
        out.push_back({i + 1, end, Region::Literal});
        i = end;
        continue;
      }
      case '"':
      case '`': {
        size_t end = n;
        size_t k = i + 1;
        while (true) {
          k = find(s, k, n, Ch(c));
          if (k >= n) break;
          if (k + 1 < n && s[k + 1] == Ch(c)) {
            k += 2;
            continue;
          }
          end = k + 1;
          break;
        }
        out.push_back({i + 1, end, Region::Literal});
        i = end;
        continue;
      }
      case '$': {
        if (i == sql_dollar_close) {
          i += sql_dollar_len;
          body_floor = i;
          continue;
        }
        if (i > 0 && (is_word(s[i - 1]) || s[i - 1] == Ch('$'))) break;
        const size_t open_end = DollarIndex<Ch>::delimiter_end(s, n, i);
        if (open_end == 0) break;
        if (!dollars) dollars.emplace(s, n);
        const size_t len = open_end - i;
        const size_t close = dollars->next(s, i, open_end, open_end, n);
        if (close >= n) {
          i = open_end;
          continue;
        }
        if (dollar_body_is_sql(s, n, i, close + len, body_floor)) {
          sql_dollar_close = close;
          sql_dollar_len = len;
          i = open_end;
        } else {
          if (close > open_end) out.push_back({open_end, close, Region::Literal});
          i = close + len;
          body_floor = i;
        }
        continue;
      }
      default:
        break;
    }
    ++i;
  }
}

// The region holding position `pos`, looked up in the spans of scan_context.
inline Region region_at(const std::vector<Span>& spans, size_t pos) noexcept {
  size_t lo = 0, hi = spans.size();
  while (lo < hi) {
    const size_t mid = (lo + hi) / 2;
    if (spans[mid].end <= pos)
      lo = mid + 1;
    else
      hi = mid;
  }
  return lo < spans.size() && spans[lo].begin <= pos ? spans[lo].kind : Region::Code;
}

// The first position at or after `pos` in a region of kind `wanted` (n when none).
inline size_t next_in(const std::vector<Span>& spans, size_t pos, Region wanted, size_t n) noexcept {
  size_t lo = 0, hi = spans.size();
  while (lo < hi) {
    const size_t mid = (lo + hi) / 2;
    if (spans[mid].end <= pos)
      lo = mid + 1;
    else
      hi = mid;
  }
  // spans[lo] is the first span ending after pos.
  if (wanted == Region::Code) {
    while (lo < spans.size() && spans[lo].begin <= pos) {
      pos = spans[lo].end;
      ++lo;
    }
    return pos < n ? pos : n;
  }
  for (; lo < spans.size(); ++lo)
    if (spans[lo].kind == wanted) return spans[lo].begin > pos ? spans[lo].begin : pos;
  return n;
}

}  // namespace tessera::text
