// Exact, linear-time matcher for the host's `re` dialect (str patterns), used by the native modules so
// that no script text is ever handed to Python's `re`.
//
// The engine is plain C++: it includes no interpreter header. Its Unicode questions go through
// unicode.hpp, which whoever links the engine defines (the binding layer does so from the interpreter's
// own tables, so `\w`, `\s`, `\d` and IGNORECASE agree with `re` on every code point). Text is any of
// the three storage widths of a str: uint8_t, uint16_t or uint32_t code units, one per code point.
//
// Accepted syntax: literals and escapes (\a \f \n \r \t \v \\ \xhh \uhhhh \Uhhhhhhhh, octal), classes and
// ranges, \w \s \d \W \S \D, `.`, ^ $ \A \Z \b \B, alternation, capturing / named / non-capturing groups
// (captures are not reported), ? * + {m} {m,} {m,n} greedy and lazy, comments (?#...), and the
// lookarounds below; flags IGNORECASE, MULTILINE and DOTALL. Anything else (backreferences, inline flags,
// conditionals, atomic groups, possessive repeats, \N{...}, a repeat of a subpattern that can match
// the empty string) is refused with CompileError naming the construct and its offset in the pattern:
// never an approximation.
//
// Lookarounds: (?=...) (?!...) (?<=...) (?<!...), not nested. A lookbehind must have a fixed width (as
// in `re`). A lookahead's body must have a bounded width, except that it may open with one unbounded
// loop of a single character test, as in (?!\s*(standardSQL|legacySQL)\b).
//
// Cost. Let m be the size of the program, with counted repetitions of a subpattern expanded and a
// bounded loop of one character test {m,n} counted as n. A pattern whose program would pass 20,000
// instructions (counted repeats nested in counted repeats, mostly) is refused with CompileError
// "pattern too large", so m stays bounded. Every search, every findall and every pass of a PatternSet
// runs in O(m * len(text)) time, whatever the text:
//  - the backtracker memoises (state, position) for loop and alternation states; a state that failed at
//    a position fails there again whatever the start, so each is explored at most once per scan, and
//    the successive searches of a findall share the memo (no quadratic findall either);
//  - a bounded loop of one character test ([\s\S]{0,2000}?) memoises its entry and its continuation by
//    position, so overlapping windows from many starts try each continuation once; it also remembers
//    the runs of continuations already tried (or where the continuation cannot start) and how far its
//    test keeps passing, so a window walks only positions no earlier window reached: O(n) per loop,
//    not O(n * its bound);
//  - a lookaround's answer at a position depends on nothing else, so it is computed at most once per
//    position and scan; a bounded lookaround body costs O(its width * its size) to answer, and a
//    leading unbounded loop is answered through the recurrence H(q) = rest(q) or (loop(q) and H(q+1)).
// Memory: the memo keeps blocks of 64 positions from the current start onwards (all states), plus two
// bits per text position for each lookaround that is consulted.
//
// Compilation happens at module load with the GIL held; every const method may then run concurrently
// on any thread without the GIL (per-call scratch is thread-local, never stored in the objects).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string_view>
#include <utility>
#include <vector>

namespace tessera::rx {

inline constexpr unsigned IGNORECASE = 2, MULTILINE = 8, DOTALL = 16;  // same values as re

struct CompileError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

using Span = std::pair<size_t, size_t>;  // [begin, end) in code points

namespace detail {
struct Program;
struct SetImpl;
}  // namespace detail

class Pattern {
 public:
  Pattern(std::u32string_view source, unsigned flags);  // throws CompileError on syntax it does not support

  // Exact `re` semantics for a str pattern over text[0, n) (the whole string: \b, ^, $ and lookbehinds
  // see the real edges). Ch is uint8_t, uint16_t or uint32_t.
  template <class Ch> bool search(const Ch* text, size_t n) const;       // pattern.search(text) is not None
  // pattern.search(text, pos).span(); pos beyond the text is clamped to it, as `re` does
  template <class Ch> std::optional<Span> search_span(const Ch* text, size_t n, size_t pos = 0) const;
  template <class Ch> size_t count_all(const Ch* text, size_t n) const;  // len(pattern.findall(text))
  // end of pattern.match(text, pos)
  template <class Ch> std::optional<size_t> match(const Ch* text, size_t n, size_t pos = 0) const;
  // all spans of finditer, for substitution callers: appends (start, end) pairs
  template <class Ch>
  void find_all(const Ch* text, size_t n, std::vector<Span>& out) const;

 private:
  friend class PatternSet;
  std::shared_ptr<const detail::Program> prog_;
};

// Many patterns over one text, in one left-to-right pass: at each position a few table lookups pick the
// patterns that can start there, and only those are tried; a pattern that has given all it can leaves
// the pass. So a catalogue of a few hundred patterns costs about one scan, not one per pattern.
//
// Search patterns that contain a literal every match passes through (a keyword, `::`, `@@`: two
// adjacent case-folded characters at least, outside lookarounds) skip that pass: one shared scan looks
// up every pair of adjacent characters by fold class (IGNORECASE equivalents beyond Latin-1 included,
// such as U+212A for 'k' and U+017F for 's'), and an occurrence of a pattern's literal makes it try
// only the starts whose offset to the literal the pattern allows, each start once, in increasing
// order, sharing one memo; so the first start that matches is exactly pattern.search's, a pattern
// whose literal never occurs costs nothing, and the scan stays O(m * n). An occurrence is tried only
// when the characters after it (past a loop the rest of the pattern cannot start with) are ones the
// pattern allows there, and, far from the start, only when some start the filter allows can reach it
// (walking back over what the pattern's opening accepts); one that is not leaves the starts it would
// have tried to later occurrences. A literal's key may take in the blank a `\s+` puts right before or
// after it (`as␣`, `␣of`), and an alternation of keywords (`SET\s+(NAMES|SQL_MODE)`) may be found
// through each spelled-out keyword's key where those are rarer than the whole's own. In
// a set on that scan, a pattern with no such pair is found by one rare character every match contains
// (`#`, `@`, `[`, `$`...), looked up with the classes of the characters that may follow it, and a
// pattern or alternative without a literal that holds an alternation of keywords (inside a group too)
// by one program per keyword.
class PatternSet {
 public:
  // Search: does it match anywhere; its first match (pattern.search). Count: every finditer match.
  enum class Mode { Search, Count, First = Search, FindAll = Count };
  // How Search patterns with a literal are found: by the shared literal scan, or in the groups' passes
  // with the others. Auto takes the literal scan for sets large enough to need several groups, where
  // it replaces their passes; tests force each path to hold both to the same answers. Chosen when the
  // set is made, so that adding patterns builds only the layout the set will scan with.
  enum class Scan { Auto, Groups, Literal };

  explicit PatternSet(Scan how = Scan::Auto);
  ~PatternSet();
  PatternSet(const PatternSet&);
  PatternSet& operator=(const PatternSet&);
  PatternSet(PatternSet&&) noexcept;
  PatternSet& operator=(PatternSet&&) noexcept;

  size_t add(const Pattern& p, Mode m);  // returns the pattern's index; call before run
  size_t size() const;

  // How a pass is laid out: whether the literal scan runs, and how many members (patterns, or
  // alternatives of one) each group's pass scans for. Every group is one more pass over the text and
  // every member one more look-ahead, so tests hold the modules' tables to the layout they expect.
  struct Layout {
    bool literal_scan = false;
    std::vector<size_t> groups;
  };
  Layout layout() const;

  // out.size() becomes the number of added patterns; out[i] = 1/0 for Search ("does it match anywhere"),
  // the number of non-overlapping findall matches for Count.
  template <class Ch> void run(const Ch* text, size_t n, std::vector<size_t>& out) const;
  // What the passes over consecutive pieces of one text (windows, each a call of its own) carry from
  // piece to piece: a Search pattern found in one piece is not looked for in the later ones (it counts
  // 0 there), and a pattern tried in vain in earlier pieces looks ahead for its keywords at once.
  class Pieces {
   public:
    explicit Pieces(const PatternSet& set);

   private:
    friend class PatternSet;
    std::vector<char> found;     // per added pattern
    std::vector<uint32_t> tries;  // per member of the groups' passes
  };
  // run() over one piece of a text.
  template <class Ch>
  void run(const Ch* text, size_t n, std::vector<size_t>& out, Pieces& pieces) const;

  // The same pass, reporting spans: spans.size() becomes the number of added patterns, and spans[i]
  // holds, for a Search (First) pattern, the span of pattern.search(text) or nothing; for a Count
  // (FindAll) pattern, the spans of pattern.finditer(text) in order.
  template <class Ch> void run_spans(const Ch* text, size_t n, std::vector<std::vector<Span>>& spans) const;

  // Where a Search pattern's match may start: next(i, pos) is the least position >= pos at which
  // pattern i may start, or SIZE_MAX when none is left; allows(i, pos) whether it may start at pos.
  // Either may be asked about any position in any order (the pass walks back from a keyword to the
  // starts that may reach it), so neither may keep state from call to call.
  class StartFilter {
   public:
    virtual size_t next(size_t pattern, size_t pos) const = 0;
    virtual bool allows(size_t pattern, size_t pos) const { return next(pattern, pos) == pos; }

   protected:
    ~StartFilter() = default;
  };
  // The same pass under a filter: spans[i] holds, for a Search pattern, the span of its match at the
  // least allowed start s at which pattern.match(text, s) succeeds (what repeated searches from the next
  // allowed position would end on), or nothing; Count patterns report nothing here.
  template <class Ch>
  void run_first_where(const Ch* text, size_t n, const StartFilter& filter,
                       std::vector<std::vector<Span>>& spans) const;

  // A one-byte copy of a 2- or 4-byte text (Ch uint16_t or uint32_t) on which every member matches as
  // on the text itself: the characters below U+0100 as they are, and each one above replaced by a
  // Latin-1 character that no test of any member tells from it (no class, literal or case-folded
  // literal, `.`, lookaround, nor the word test of \b). Positions are unchanged, so spans, start
  // filters and the pieces of a text carry over. Writes it to out[0, n), growing out when it is
  // shorter, and returns true; false when some character has no such stand-in (or the text has too
  // many distinct wide characters to be worth it): then only the text itself will do.
  template <class Ch>
  bool stand_in(const Ch* text, size_t n, std::vector<uint8_t>& out) const;

 private:
  template <class Ch, class Filter, class Report>
  void pass(const Ch* text, size_t n, const Filter& filter, Report&& report) const;
  std::unique_ptr<detail::SetImpl> impl_;
};

}  // namespace tessera::rx
