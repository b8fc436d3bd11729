// Internals of the matcher: the compiled program, its character tests, and the memoising backtracker.
//
// A pattern compiles to a small program (char test, assertion, prioritised split, jump, single-char loop,
// match) that is run by a backtracker. Every (loop or split state, position) is explored at most once per
// scan: a state that failed fails again whatever the start, so the visited set is shared by all start
// positions of a search and by the successive searches of a findall. That keeps every scan linear in the
// text, where `re` goes quadratic on unterminated `[^)]*` or `.*?` spans.
#pragma once
#include "bitset.hpp"
#include "regex.hpp"
#include "regex_simd.hpp"
#include "unicode.hpp"

#include <array>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace tessera::rx::detail {

// ---------------------------------------------------------------------------------------------------------
// Character predicates, exactly as the host's `re` evaluates them for str patterns.

struct CaseFix {
  char32_t lower;
  char32_t others[2];  // 0 = unused
};
extern const CaseFix kCaseFixes[];
extern const size_t kCaseFixCount;
const CaseFix* find_casefix(char32_t lower);  // nullptr when the code point has no extra equivalents

inline char32_t to_lower(char32_t ch) { return unicode::lower(ch); }
inline char32_t to_upper(char32_t ch) { return unicode::upper(ch); }
inline bool is_cased(char32_t ch) { return ch != to_lower(ch) || ch != to_upper(ch); }
inline bool slow_is_word(char32_t ch) { return unicode::is_word(ch); }
inline bool slow_is_space(char32_t ch) { return unicode::is_space(ch); }
inline bool slow_is_digit(char32_t ch) { return unicode::is_decimal(ch); }

// Latin-1 answers of the predicates, filled once from the interpreter's own tables.
struct Latin1 {
  uint8_t word[256];
};
const Latin1& latin1();

template <class Ch>
inline bool is_word(const Latin1& l, Ch ch) {
  if constexpr (sizeof(Ch) == 1) {
    return l.word[ch];
  } else {
    return ch < 256 ? l.word[ch] != 0 : slow_is_word(ch);
  }
}

enum class Cat : uint8_t { Digit, NotDigit, Space, NotSpace, Word, NotWord };

// An element of a compiled character set that its BMP map cannot hold.
struct SetTail {
  enum Kind : uint8_t { Literal, Range, RangeFold, Category } kind;
  Cat cat;
  char32_t lo, hi;
};

// One single-character test. `latin` caches the answer for every code point below 256, so Latin-1
// text never reaches the slow path.
struct CharTest {
  enum Kind : uint8_t {
    Lit,      // ch == alts[0]
    NotLit,   // ch != alts[0]
    Fold,     // lower(ch) is one of alts
    NotFold,  // lower(ch) is none of alts
    Any,      // ch != '\n'
    AnyAll,   // anything
    Set,      // a character class, see below
  } kind = Lit;
  uint8_t nalts = 0;
  char32_t alts[3] = {0, 0, 0};
  // Set: membership of x (x = lower(ch) when `fold`) in `ranges` or `tail`, inverted when `negate`.
  bool fold = false, negate = false;
  std::vector<std::pair<char32_t, char32_t>> ranges;  // sorted, disjoint, all below 0x10000
  std::vector<SetTail> tail;
  uint8_t latin[256] = {};
  // A set that is exactly one category (\w, \s, \d or a complement): lets callers reuse one
  // computation of the character's properties.
  int8_t pure_category = -1;

  bool slow(char32_t ch) const;
  void fill_latin();
  bool can_match_above_latin1() const { return !(kind == Lit && alts[0] < 256); }
  bool same_as(const CharTest& o) const;  // cheap structural equality, for de-duplicating prefilters

  template <class Ch>
  bool operator()(Ch ch) const {
    if constexpr (sizeof(Ch) == 1) {
      return latin[ch];
    } else {
      return ch < 256 ? latin[ch] != 0 : slow(ch);
    }
  }
};

// ---------------------------------------------------------------------------------------------------------
// Program

enum class Op : uint8_t {
  Char,      // test, then pc + 1
  Assert,    // zero-width condition `at`
  Split,     // try x, then y
  Jmp,       // x
  Star,      // greedy loop of one char test; continuation at pc + 1
  LazyStar,  // lazy loop of one char test; continuation at pc + 1
  Counted,   // bounded loop of one char test: x..y times, lazy when `lazy`; continuation at pc + 1
  Look,      // zero-width lookaround number x of the program
  Match,
};

enum class At : uint8_t { BeginText, BeginLine, End, EndLine, EndText, Boundary, NonBoundary };

struct Inst {
  Op op;
  At at = At::BeginText;
  uint32_t test = 0;   // Char, Star, LazyStar
  uint32_t x = 0, y = 0;  // Split, Jmp
  uint32_t state = 0;  // Split, Star, LazyStar: index in the visited set
  // Star, LazyStar: when the loop's run ends exactly at a few known characters (for LazyStar: also
  // where the continuation's first character can match), they are listed here so that the run is found
  // with a vectorised search. nstop < 0: no such list.
  int8_t nstop = -1;
  char32_t stop[3] = {0, 0, 0};
  // Star: the continuation starts with a char test that no char of the loop can pass, so only the
  // longest run can continue (as in `[^)]*\)`).
  bool only_longest = false;
  // Counted: lazy loop. Its states are `state` (entering the loop at a position) and `state + 1`
  // (the continuation at a position), both independent of where the attempt started.
  bool lazy = false;
  // Counted, Star: index in Program::cont_first of the Latin-1 characters the continuation can start
  // with, or -1 when it may start with anything (or match empty). Positions it can't start at are
  // skipped untried. A Star whose continuation opens with a char test uses that test instead.
  int32_t cont_first = -1;
};

// What a scanner may assume before trying a start position (all derived conservatively).
struct StartInfo {
  // How the leading assertion constrains the character before the start.
  enum Lead : uint8_t { None, PrevNonWord, PrevWord, BeginLine, BeginText } lead = None;
  // Characters that can stand at offsets 0, 1, 2 of a match. `any` means unconstrained, including a
  // match that ends before that offset.
  struct Follow {
    bool any = false;
    std::array<uint8_t, 256> latin{};
    std::vector<uint32_t> hi_tests;  // tests that may accept a code point >= 256
  } follow[3];
};

// Per-position filter for up to 64 patterns scanned together: bit b of a mask stands for pattern b.
// A position is tried for pattern b only if the characters at offsets 0..2 and the one before allow it.
struct Prefilter {
  uint64_t all = 0;
  uint64_t table[3][256] = {};  // offset k, Latin-1 char -> patterns that accept it there
  uint64_t any[3] = {};         // patterns unconstrained at offset k (also past the end of the text)
  std::vector<std::pair<const CharTest*, uint64_t>> hi[3];  // tests to run for a char >= 256
  // Case-insensitive literals whose equivalents are all Latin-1 (the keywords' letters) accept a char
  // >= 256 only through its lowercase: one lookup by lower(ch) answers all of them.
  uint64_t fold_latin[3][256] = {};
  uint64_t hi_possible[3] = {};  // patterns that may accept some char >= 256 at offset k
  uint64_t prev[256] = {};  // previous char (Latin-1) -> patterns whose leading assertion allows it
  uint64_t prev_start = 0;  // patterns allowed at position 0
  uint64_t rule_nonword = 0, rule_word = 0, rule_bol = 0, rule_bot = 0;
  // Few possible first characters, all Latin-1: scan for them instead of testing every position.
  bool sparse = false;
  int nfirst = 0;
  char32_t first_chars[3] = {0, 0, 0};
  // The vectorised block filter (see regex.cpp) puts each pattern in one of 8 buckets; this is the
  // pattern's share of the filter's nibble tables (low nibble tables for offsets 0..2, then high).
  alignas(16) uint8_t nibbles[64][6][16] = {};
  uint8_t not_word_rule_buckets = 0;
};

struct Program;
void build_prefilter(Prefilter& pf, const std::vector<const Program*>& members);

// A lookaround, answered at a position p. Its body is run as `rest` (a program of bounded width):
// behind: rest matches at p - width; ahead: rest matches at p, or, with a leading loop of the char test
// `lead` at least `lead_min` times, at some q >= p + lead_min up to where that loop's run from p ends.
struct LookInfo {
  bool behind = false, negate = false;
  uint32_t width = 0;
  int32_t lead = -1;  // test index in the owning program, or -1
  uint32_t lead_min = 0;
  std::shared_ptr<const Program> rest;
};

struct Program {
  std::vector<Inst> code;
  std::vector<LookInfo> looks;
  std::vector<CharTest> tests;
  uint32_t nstates = 0;
  // code[0, prefix_end) holds char tests, assertions and greedy loops that need no backtracking (see
  // prefix_holds); 0 when such a prefix says no more than a set's filter.
  uint32_t prefix_end = 0;
  bool prefix_is_whole = false;  // the prefix is all of it, and its matches are never empty
  // The prefix's opening instructions that a set's filter has settled already at any position it lets
  // through in one-byte text (a leading \b and up to three char tests: the filter's exact check reads
  // the character before and those at offsets 0..2), and the characters they take.
  uint32_t settled_pc = 0, settled_chars = 0;
  const Latin1* lat = nullptr;
  StartInfo start;
  // A character every match contains (as an exact literal), or -1. Once it no longer occurs after the
  // scan position, the pattern cannot match again and leaves the scan.
  int32_t required = -1;
  // A run of consecutive char tests every match passes through (a keyword, typically), found by
  // searching for the characters its `anchor`-th test accepts (all of them, at most 3) and checking
  // the rest around each hit. Once no run occurs after the scan position, the pattern leaves the scan.
  std::vector<uint32_t> run;
  uint32_t anchor = 0;
  int nanchor = 0;
  char32_t anchor_chars[3] = {0, 0, 0};
  // Where a required run stands from the match start, and what the characters between the start and
  // the run can be: every one of them passes some char test before the run (`wide`: some test may
  // pass a code point >= 256). An occurrence of the run thus rules out the starts behind the last
  // character before it that no such test passes.
  struct Reach {
    size_t min_offset = 0, max_offset = 0;  // max_offset SIZE_MAX: unbounded
    std::array<uint8_t, 256> before{};
    bool wide = false;
  };
  Reach run_reach;
  Prefilter solo;  // this pattern scanned alone
  // For an alternation: one program per alternative. The leftmost start of the whole is the least
  // leftmost start of the alternatives, and the whole run there gives its span.
  std::vector<std::shared_ptr<const Program>> probes;
  // A pattern or probe with no literal of its own that holds an alternation of keywords
  // (`\b(?:DATETIME|TIME)_(?:ADD|SUB)`, `\b(STL|SVV)_`): the same program spelled out over that
  // alternation, one program per keyword, each with its literal (a part without one spelled out once
  // more). A set on the literal scan finds these instead.
  std::vector<std::shared_ptr<const Program>> spelled;
  // Where the whole's own literal was preferred to probes (`\bSET\s+(NAMES|SQL_MODE)` has `SET`): the
  // whole spelled out over its first alternation all the same, each part with a literal. A set on the
  // literal scan takes these as probes instead when their keys are rarer in real SQL than the whole's.
  std::vector<std::shared_ptr<const Program>> spelled_probes;
  // The same alternatives where they are not probes (the whole's literal was the better one): each has
  // a required run, and once none of those runs occurs any more, neither can a match.
  std::vector<std::shared_ptr<const Program>> alternatives;
  std::vector<std::array<uint8_t, 256>> cont_first;
  // Other required runs (keywords after a span, typically), checked like `run` once it is found: a
  // pattern whose later keyword never occurs leaves the scan without trying the earlier one's hits.
  struct Run {
    std::vector<uint32_t> tests;
    uint32_t anchor = 0;
    int nanchor = 0;
    char32_t chars[3] = {0, 0, 0};
    Reach reach;
  };
  static constexpr size_t kMoreRuns = 3;
  std::vector<Run> more_runs;
  // How many characters of look-ahead for the required literals one fruitless attempt pays for, as a
  // power of two: the search itself is cheap, what costs is stopping at each occurrence of an anchor
  // character, about an attempt each, so the commoner the anchors the later a scan takes it.
  uint8_t lookahead_log2 = 7;
  // A run of consecutive char tests every match passes through, with the bounds of its offset from the
  // match start, for a PatternSet's shared literal scan: a set finds the pair of adjacent tests
  // tests[key], tests[key + 1] by their fold classes (fold_class), checks the whole run, and then only
  // starts in [run start - max_offset, run start - min_offset] can match. Empty when no run has two
  // adjacent tests that accept a few known characters only.
  // Its Reach: so that a run far from the start need not look further back than the last character
  // none of the tests before it accepts.
  struct Factor : Reach {
    std::vector<uint32_t> tests;
    uint32_t key = 0;
    long score = 0;  // the expected cost of its occurrences, lower is better
    // The run's first instruction, and whether `tests` starts one character before it (gapped).
    uint32_t pc = 0;
    bool gap = false;
    // The consumers (see back_pred) that may take the run's first character; 0 when unknown.
    uint64_t back_first = 0;
    // What must follow the run for a match to pass through it: the characters a loop right after it
    // accepts (`skip`, a test index, or -1), then the characters possible at offsets 0..2 of the rest
    // (`after`, as StartInfo::follow; `skip` accepts none of after[0]'s Latin-1 ones). Most
    // occurrences of a common keyword (`SET @x`, `FROM dbo.t`) are followed by nothing the pattern
    // allows there, so they need no attempt at all.
    int32_t skip = -1;
    StartInfo::Follow after[3];
    // The rest, past `skip`, opens with a line or text end (`$`): an occurrence followed by neither a
    // newline nor the text's end, skip aside, cannot match (`/` of `/*` for a line of its own).
    bool line_end = false;
    // The fold classes the character right after tests[key] can have (all of them when unknown): a
    // rare character alone (Program::single) is looked up with these after it, not with every one.
    uint64_t next_classes[4] = {~uint64_t{0}, ~uint64_t{0}, ~uint64_t{0}, ~uint64_t{0}};
  };
  Factor factor;
  // For a pattern without such a pair: one rare character (`@`, `[`, `#`...) every match passes
  // through, as the run's tests[key] alone; a set that already runs the literal scan finds it there
  // too (by its fold class and any character after it) rather than in a pass of its own.
  Factor single;
  // The runs that follow a loop every match enters (`\s+` before `OF`), each extended back by one
  // character of that loop: the character right before the run is always one the loop accepts, so
  // a key may span the gap (`␣of`), far rarer than the keyword alone. A set on the literal scan may
  // find the pattern through one of these instead of `factor`.
  std::vector<Factor> gapped;
  // Walking back from a run to the starts that may reach it, by the character consumers (Char and
  // loop instructions; at most 64, else back_pred is empty and no such walk is made), each a bit:
  // back_pred[i], those that may hand over to consumer i right after taking a character;
  // back_test[i], consumer i's test; back_start, those the start reaches before taking any.
  // Assertions and lookarounds are taken to hold, so a start it rules out never matches.
  std::vector<uint64_t> back_pred;
  std::vector<uint32_t> back_test;
  uint64_t back_start = 0;
};

// A byte standing for a character under case folding: its lowercase when that is Latin-1, the Latin-1
// character IGNORECASE equates it with otherwise (U+017F and 's'), else 0 ("some other character").
// Whatever the mapping, a test's classes are the classes of the characters it accepts, so a character
// a test accepts always has one of the test's classes.
uint8_t fold_class(char32_t c);
// A bit set (bitset.hpp) of the pages p of 256 code points beyond Latin-1 that hold a character
// whose fold class may not be 0: a few dozen characters, on three pages. Text in another script asks
// for the class of every character, and nearly all of them are settled by this bit alone.
const uint64_t* wide_class_pages();
inline bool on_class_page(const uint64_t* pages, uint32_t c) { return bit_at(pages, c >> 8); }
// The classes of the characters a Lit or Fold test accepts, as a 256-bit set; false for other tests.
bool test_classes(const CharTest& t, uint64_t out[4]);
// Adds the fold classes of every character `t` accepts (a superset: a test that may accept some
// character beyond Latin-1 also adds class 0, which the others share).
void add_accepted_classes(const CharTest& t, uint64_t out[4]);

std::shared_ptr<const Program> compile(std::u32string_view source, unsigned flags);

// ---------------------------------------------------------------------------------------------------------
// Visited set of (state, position). Positions are grouped in blocks of 64 (one bit each, one word per
// state), and blocks live in a ring indexed by block number: attempts only move forward from their
// start, so blocks behind the current start are dead and their slots get reused; the ring grows when
// one attempt reaches further than it holds. Each block carries a tag (call epoch and block number), so
// starting a new call or reusing a slot never needs a bulk clear.

class Memo {
 public:
  void begin(uint32_t nstates) {
    const size_t stride = size_t{1} + (nstates ? nstates : 1);
    if (stride != stride_) {
      stride_ = stride;
      rows_.clear();
      cap_ = 0;
      epoch_ = 0;
    }
    if (++epoch_ >= (uint64_t{1} << 23)) {
      std::fill(rows_.begin(), rows_.end(), 0);
      epoch_ = 1;
    }
    lo_ = 0;
    last_blk_ = SIZE_MAX;
    for (auto& l : looks_) l.ready = false;
    if (hints_.size() < nstates) hints_.resize(nstates);
    ++mark_gen_;
    ++call_gen_;
  }
  // Attempts from now on start at `lo` or later.
  void set_floor(size_t lo) { lo_ = lo >> 6; }

  // Marks (state, pos); false when it was already marked.
  bool visit(uint32_t state, size_t pos) {
    uint64_t& w = block(pos >> 6)[1 + state];
    const uint64_t bit = uint64_t{1} << (pos & 63);
    if (w & bit) return false;
    w |= bit;
    return true;
  }

  // Marks positions a..b for `state`, stopping at the first one already marked; returns that position,
  // or b + 1 when none was.
  size_t mark_run(uint32_t state, size_t a, size_t b) {
    size_t p = a;
    while (p <= b) {
      uint64_t& w = block(p >> 6)[1 + state];
      const unsigned lo_bit = p & 63;
      const unsigned hi_bit = static_cast<unsigned>(std::min<size_t>(63, lo_bit + (b - p)));
      const uint64_t range = (~uint64_t{0} << lo_bit) & (~uint64_t{0} >> (63 - hi_bit));
      const uint64_t seen = w & range;
      if (seen) {
        const unsigned first = static_cast<unsigned>(__builtin_ctzll(seen));
        w |= range & ((uint64_t{1} << first) - 1);
        return (p & ~size_t{63}) + first;
      }
      w |= range;
      p = (p | 63) + 1;
    }
    return b + 1;
  }

  // What a bounded loop (Counted, whose continuation marks live in state + 1) has learnt during a call,
  // so that the many overlapping windows of [\s\S]{0,2000} tried from successive starts don't walk the
  // same positions again: runs of continuation positions with nothing left to try (marked, or where
  // the continuation cannot start), and a run of characters that pass the loop's test. Marks only
  // grow between begin() and forget(), which retire the first. Two runs of positions are kept because
  // a greedy loop fills a new one downwards from above the old one until they meet.
  struct LoopHint {
    uint64_t mark_gen = 0, run_gen = 0;
    size_t a[2] = {0, 0}, b[2] = {0, 0};  // positions [a[k], b[k]) are done
    size_t from = 0, end = 0;             // t[from, end) all pass the test
    bool closed = false;                  // and the test fails at end (or end is the end of the text)
  };
  // End of the done run holding pos, or pos when none is known.
  size_t done_through(uint32_t state, size_t pos) const {
    const LoopHint& h = hints_[state];
    if (h.mark_gen != mark_gen_) return pos;
    for (int k = 0; k < 2; ++k)
      if (h.a[k] <= pos && pos < h.b[k]) return h.b[k];
    return pos;
  }
  // Start of the done run holding pos, or pos + 1 when none is known.
  size_t done_from(uint32_t state, size_t pos) const {
    const LoopHint& h = hints_[state];
    if (h.mark_gen != mark_gen_) return pos + 1;
    for (int k = 0; k < 2; ++k)
      if (h.a[k] <= pos && pos < h.b[k]) return h.a[k];
    return pos + 1;
  }
  // Records that continuations [x, y) of the loop owning `state` have nothing left to try.
  void note_done(uint32_t state, size_t x, size_t y) {
    LoopHint& h = hints_[state];
    if (h.mark_gen != mark_gen_) {
      h.mark_gen = mark_gen_;
      h.a[0] = h.b[0] = h.a[1] = h.b[1] = 0;
    }
    int k = 0;
    if (!(x <= h.b[0] && h.a[0] <= y && h.b[0] > h.a[0])) {
      k = 1;
      if (!(x <= h.b[1] && h.a[1] <= y && h.b[1] > h.a[1])) {
        h.a[1] = x;
        h.b[1] = y;
        // Keep the newer run in slot 0 only when the old one is empty.
        if (h.b[0] == h.a[0]) std::swap(h.a[0], h.a[1]), std::swap(h.b[0], h.b[1]);
        return;
      }
    }
    h.a[k] = std::min(h.a[k], x);
    h.b[k] = std::max(h.b[k], y);
    const int o = 1 - k;
    if (h.b[o] > h.a[o] && h.a[o] <= h.b[k] && h.a[k] <= h.b[o]) {
      h.a[0] = std::min(h.a[k], h.a[o]);
      h.b[0] = std::max(h.b[k], h.b[o]);
      h.a[1] = h.b[1] = 0;
    }
  }
  // The first r in [pos, limit) whose character fails `ct`, else limit (limit <= n). A scan moving
  // forward extends the run it knows instead of starting again, so successive windows cost their
  // new characters only.
  template <class Ch>
  size_t run_until(uint32_t state, const CharTest& ct, const Ch* t, size_t n, size_t pos, size_t limit) {
    if (ct.kind == CharTest::AnyAll) return limit;
    LoopHint& h = hints_[state];
    size_t r;
    if (h.run_gen == call_gen_ && h.from <= pos && pos <= h.end) {
      if (h.closed || h.end >= limit) return std::min(h.end, limit);
      r = h.end;
    } else {
      h.run_gen = call_gen_;
      h.from = pos;
      r = pos;
    }
    while (r < limit && ct(t[r])) ++r;
    h.end = r;
    h.closed = r < limit || r == n;
    return r;
  }

  // Drops the marks at `pos`: after a match ending there, the states on the successful path (all at or
  // before `pos`) did not fail and must be explorable by the next search, which starts at `pos`.
  void forget(size_t pos) {
    const size_t blk = pos >> 6;
    if (cap_ == 0 || blk - lo_ >= cap_) return;
    uint64_t* row = &rows_[(blk & (cap_ - 1)) * stride_];
    if (row[0] != ((epoch_ << 40) | blk)) return;
    const uint64_t keep = ~(uint64_t{1} << (pos & 63));
    for (size_t s = 1; s < stride_; ++s) row[s] &= keep;
    ++mark_gen_;
  }

  // A long unterminated span can leave a large ring behind; don't keep it for the thread's lifetime.
  void trim() {
    if (rows_.size() > (size_t{1} << 17)) {
      std::vector<uint64_t>().swap(rows_);
      cap_ = 0;
      last_blk_ = SIZE_MAX;
    }
    for (auto& l : looks_)
      if (l.known.size() > (size_t{1} << 14)) l = LookAnswers{};
  }

  // Answers of lookaround `i` by position for the current call (two bits per position of a text of
  // n characters): known, and the answer.
  struct LookAnswers {
    bool ready = false;
    std::vector<uint64_t> known, value;
    int get(size_t p) const { return bit_at(known.data(), p) ? int(bit_at(value.data(), p)) : -1; }
    void set(size_t p, bool v) {
      set_bit(known.data(), p);
      if (v) set_bit(value.data(), p);
    }
  };
  LookAnswers& look(size_t i, size_t n) {
    if (looks_.size() <= i) looks_.resize(i + 1);
    LookAnswers& l = looks_[i];
    if (!l.ready) {
      l.known.assign(n / 64 + 1, 0);
      l.value.assign(n / 64 + 1, 0);
      l.ready = true;
    }
    return l;
  }

 private:
  uint64_t* block(size_t blk) {
    if (blk == last_blk_) return last_row_;  // most visits of an attempt fall in one block
    if (blk - lo_ >= cap_) grow(blk);
    uint64_t* row = &rows_[(blk & (cap_ - 1)) * stride_];
    const uint64_t tag = (epoch_ << 40) | blk;
    if (row[0] != tag) {
      row[0] = tag;
      std::memset(row + 1, 0, (stride_ - 1) * sizeof(uint64_t));
    }
    last_blk_ = blk;
    last_row_ = row;
    return row;
  }
  void grow(size_t blk);

  std::vector<uint64_t> rows_;  // cap_ blocks of stride_ words: tag, then one word per state
  size_t cap_ = 0, stride_ = 0;
  uint64_t epoch_ = 0;
  size_t lo_ = 0;  // first live block
  size_t last_blk_ = SIZE_MAX;
  uint64_t* last_row_ = nullptr;
  std::vector<LookAnswers> looks_;
  std::vector<LoopHint> hints_;  // by state; only the entry states of Counted loops use theirs
  uint64_t mark_gen_ = 0, call_gen_ = 0;
};

// Tracks, for a scan moving forward, where the pattern's required character and runs occur ahead, and
// so from which start on a match is still possible.
struct Requirement {
  // The least start >= i at which a match is still possible as far as the required literals tell
  // (i itself when nothing rules it out), SIZE_MAX when none is. Calls come with i not decreasing.
  // With `walk`, a run's occurrence also rules out the starts behind it (a scan back over the
  // characters before it, worth it where attempts are dear); else only the run's absence counts.
  template <class Ch>
  size_t next_start(const Program& p, const Ch* t, size_t n, size_t i, bool walk = true) {
    if (p.required >= 0) {
      if (next < i) {
        const char32_t c = static_cast<char32_t>(p.required);
        next = find_any(t, i, n, &c, 1);
      }
      if (next >= n) return SIZE_MAX;
    }
    size_t from = i;
    if (p.nanchor > 0) {
      from = std::max(from, main.start(p, p.run, p.anchor, p.anchor_chars, p.nanchor, p.run_reach, t, n, i, walk));
      if (from == SIZE_MAX) return from;
    }
    for (size_t r = 0; r < p.more_runs.size(); ++r) {
      const Program::Run& run = p.more_runs[r];
      from = std::max(from, more[r].start(p, run.tests, run.anchor, run.chars, run.nanchor, run.reach, t, n, i, walk));
      if (from == SIZE_MAX) return from;
    }
    return from;
  }
  template <class Ch>
  bool still_possible(const Program& p, const Ch* t, size_t n, size_t i) {
    return next_start(p, t, n, i, false) != SIZE_MAX;
  }

  // One required run: its first occurrence where a match from the scan position could have it, and
  // the least start that occurrence (or any later one) leaves possible.
  struct Ahead {
    bool known = false;
    size_t at = 0;     // SIZE_MAX: none
    size_t from = 0;
    template <class Ch>
    size_t start(const Program& p, const std::vector<uint32_t>& run, uint32_t anchor, const char32_t* chars, int nchars,
                 const Program::Reach& reach, const Ch* t, size_t n, size_t i, bool walk) {
      const size_t lowest = i > n - std::min(n, reach.min_offset) ? n : i + reach.min_offset;
      if (!known || (at != SIZE_MAX && at < lowest)) {
        known = true;
        at = find_run(p, run, anchor, chars, nchars, t, n, lowest);
        if (at == SIZE_MAX) return at;
        // A start s <= at has every character of [s, at) passed by a test before the run, and lies
        // within max_offset of the occurrence it uses (this one or a later one).
        const size_t floor = reach.max_offset >= at ? i : std::max(i, at - reach.max_offset);
        size_t k = walk ? at : floor;
        while (k > floor) {
          const Ch c = t[k - 1];
          if ((sizeof(Ch) == 1 || c < 256) ? !reach.before[c] : !reach.wide) break;
          --k;
        }
        from = k;
      }
      return at == SIZE_MAX ? at : std::max(from, i);
    }
  };
  size_t next = 0;  // position of the next required character found so far (valid while >= the scan position)
  Ahead main, more[Program::kMoreRuns];

  // Whether the required run of some alternative (Program::alternatives) still occurs at or after i.
  template <class Ch>
  bool some_alternative_possible(const Program& p, const Ch* t, size_t n, size_t i) {
    const size_t k = p.alternatives.size();
    if (k == 0) return true;
    if (next_alt.empty()) {
      next_alt.assign(k, 0);
      alt_known.assign(k, 0);
    }
    for (size_t a = 0; a < k; ++a) {
      const Program& alt = *p.alternatives[a];
      if (!alt_known[a] || (next_alt[a] != SIZE_MAX && next_alt[a] < i)) {
        next_alt[a] = find_run(alt, alt.run, alt.anchor, alt.anchor_chars, alt.nanchor, t, n, i);
        alt_known[a] = 1;
      }
      if (next_alt[a] != SIZE_MAX) return true;
    }
    return false;
  }
  std::vector<size_t> next_alt;  // per alternative: where its run occurs next (SIZE_MAX: nowhere)
  std::vector<char> alt_known;

  template <class Ch>
  static size_t find_run(const Program& p, const std::vector<uint32_t>& run, uint32_t anchor,
                         const char32_t* chars, int nchars, const Ch* t, size_t n, size_t i) {
    const size_t k = run.size(), j = anchor;
    if (n < k || i > n - k) return SIZE_MAX;
    for (size_t a = i + j;;) {
      a = find_any(t, a, n - (k - 1 - j), chars, nchars);
      if (a >= n - (k - 1 - j)) return SIZE_MAX;
      const size_t s = a - j;
      size_t x = 0;
      while (x < k && p.tests[run[x]](t[s + x])) ++x;
      if (x == k) return s;
      ++a;
    }
  }
};

struct Frame {
  enum Kind : uint32_t { Try, GreedyBack, LazyNext, CountedBack, CountedNext } kind;
  uint32_t pc;
  // Try: where to resume; GreedyBack, CountedBack: next continuation to try; LazyNext: loop position;
  // CountedNext: the continuation position that just failed
  size_t pos;
  size_t lo;  // GreedyBack, CountedBack: lowest continuation position; CountedNext: highest
};

// The backtracking stack; pushes stay inline, growth does not.
class FrameStack {
 public:
  void clear() { top_ = 0; }
  bool empty() const { return top_ == 0; }
  Frame& back() { return data_[top_ - 1]; }
  void pop_back() { --top_; }
  void push_back(const Frame& f) {
    if (top_ == data_.size()) grow();
    data_[top_++] = f;
  }

 private:
  __attribute__((noinline)) void grow() { data_.resize(std::max<size_t>(64, 2 * data_.size())); }
  std::vector<Frame> data_;
  size_t top_ = 0;
};

// Per-thread scratch: one visited set per pattern being scanned, and one backtracking stack.
struct Scratch {
  std::vector<Memo> memos;
  FrameStack stack;
  // For the bodies of lookarounds, which run while an attempt of the outer pattern is suspended.
  Memo look_memo;
  FrameStack look_stack;
  // What the scanners learnt about characters >= 256 (which patterns accept them at offsets 0..2, and
  // whether they are word characters), so that text in other scripts is classified once per distinct
  // character rather than at every position. Direct-mapped; `gen` ties an entry to one scan.
  struct HiClass {
    char32_t ch = 0;
    uint32_t gen = 0;
    bool word = false;
    uint64_t m[3] = {0, 0, 0};
  };
  static constexpr size_t kHiCache = 4096;
  std::vector<HiClass> hi_cache;
  uint32_t hi_gen = 0;
};
Scratch& scratch();

// ---------------------------------------------------------------------------------------------------------
// The backtracker. Runs one attempt at `start`; returns the match end.

template <class Ch>
inline bool check_at(const Latin1& lat, At at, const Ch* t, size_t n, size_t pos) {
  switch (at) {
    case At::BeginText:
      return pos == 0;
    case At::BeginLine:
      return pos == 0 || t[pos - 1] == '\n';
    case At::End:
      return pos == n || (pos + 1 == n && t[pos] == '\n');
    case At::EndLine:
      return pos == n || t[pos] == '\n';
    case At::EndText:
      return pos == n;
    case At::Boundary:
    case At::NonBoundary: {
      if (n == 0) return false;  // re: neither \b nor \B matches in an empty string
      const bool before = pos > 0 && is_word(lat, t[pos - 1]);
      const bool after = pos < n && is_word(lat, t[pos]);
      return (before != after) == (at == At::Boundary);
    }
  }
  return false;
}

// With `through` (not SIZE_MAX), the attempt at start is known to get through the program's prefix to
// there (prefix_end_at), and resumes there rather than taking the prefix again.
template <class Ch>
std::optional<size_t> execute(const Program& P, const Ch* t, size_t n, size_t start, bool must_advance,
                              Memo& memo, FrameStack& stack, size_t through = SIZE_MAX);

// Where the attempt at pos gets through the program's prefix (Program::prefix_end), SIZE_MAX when it
// fails there, and execute need not be called; with prefix_is_whole, that is where its match ends. No
// marks, no stack: each loop of the prefix takes its whole run. With from_pc, the instructions before
// it are known to hold, and pos is where they leave the attempt.
template <class Ch>
size_t prefix_end_at(const Program& P, const Ch* t, size_t n, size_t pos, uint32_t from_pc = 0) {
  for (uint32_t pc = from_pc; pc < P.prefix_end; ++pc) {
    const Inst& in = P.code[pc];
    if (in.op == Op::Assert) {
      if (!check_at(*P.lat, in.at, t, n, pos)) return SIZE_MAX;
    } else if (in.op == Op::Char) {
      if (pos >= n || !P.tests[in.test](t[pos])) return SIZE_MAX;
      ++pos;
    } else {
      const CharTest& ct = P.tests[in.test];
      while (pos < n && ct(t[pos])) ++pos;
    }
  }
  return pos;
}

// Whether the body of lookaround `i` (negation not applied) matches at `pos`. Each answer is computed
// once per position and call, so a lookaround adds O(n * its cost) to a scan however often it is asked.
template <class Ch>
bool look_body_matches(const Program& P, uint32_t i, const Ch* t, size_t n, size_t pos, Memo& memo) {
  const LookInfo& L = P.looks[i];
  Memo::LookAnswers& ans = memo.look(i, n);
  Scratch& s = scratch();
  auto rest_at = [&](size_t q) {
    s.look_memo.begin(L.rest->nstates);
    s.look_memo.set_floor(q);
    return execute(*L.rest, t, n, q, false, s.look_memo, s.look_stack).has_value();
  };
  if (L.behind) {
    if (pos < L.width) return false;
    const int known = ans.get(pos);
    if (known >= 0) return known == 1;
    const bool v = rest_at(pos - L.width);
    ans.set(pos, v);
    return v;
  }
  if (L.lead < 0) {
    const int known = ans.get(pos);
    if (known >= 0) return known == 1;
    const bool v = rest_at(pos);
    ans.set(pos, v);
    return v;
  }
  // With a leading loop: the body matches at pos iff the loop takes lead_min chars and then
  // H(q) = rest(q) or (loop(t[q]) and H(q + 1)) holds at q = pos + lead_min. The answers stored are H's.
  const CharTest& loop = P.tests[static_cast<uint32_t>(L.lead)];
  size_t q = pos;
  for (uint32_t k = 0; k < L.lead_min; ++k, ++q)
    if (q >= n || !loop(t[q])) return false;
  // Walk right until H is known or decided, then fill the positions walked, right to left.
  size_t r = q;
  bool v = false;
  for (;;) {
    const int known = ans.get(r);
    if (known >= 0) {
      v = known == 1;
      break;
    }
    if (rest_at(r)) {
      v = true;
      ans.set(r, true);
      break;
    }
    if (r >= n || !loop(t[r])) {
      v = false;
      ans.set(r, false);
      break;
    }
    ++r;
  }
  for (size_t x = r; x > q;) ans.set(--x, v);
  return v;
}

template <class Ch>
std::optional<size_t> execute(const Program& P, const Ch* t, size_t n, size_t start, bool must_advance,
                              Memo& memo, FrameStack& stack, size_t through) {
  const Inst* code = P.code.data();
  const CharTest* tests = P.tests.data();
  const Latin1& lat = *P.lat;
  stack.clear();
  // The prefix has no choice to come back to: its loops take their whole runs, as it did.
  uint32_t pc = through == SIZE_MAX ? 0 : P.prefix_end;
  size_t pos = through == SIZE_MAX ? start : through;
  size_t counted_hi = 0;  // a lazy Counted's last continuation position, for counted_lazy

  // First continuation position <= q (and >= lo) whose first char test can pass; a continuation
  // that starts with a failing char test fails at once, so it is skipped without being tried.
  // `cont` follows its Star, whose table serves when the continuation opens otherwise (as `\w+\s*AS`
  // giving back a word's letters one at a time, where only an A may follow).
  auto first_viable_down = [&](uint32_t cont, size_t q, size_t lo) -> size_t {
    const Inst& c = code[cont];
    if (c.op != Op::Char) {
      const int32_t table = code[cont - 1].cont_first;
      if (table < 0) return q;
      const uint8_t* viable = P.cont_first[static_cast<uint32_t>(table)].data();
      for (;;) {
        if (q >= n || (sizeof(Ch) > 1 && t[q] >= 256) || viable[t[q]]) return q;
        if (q == lo) return SIZE_MAX;
        --q;
      }
    }
    const CharTest& ct = tests[c.test];
    for (;;) {
      if (q < n && ct(t[q])) return q;
      if (q == lo) return SIZE_MAX;
      --q;
    }
  };

  // Greedy Counted `ci`: the highest continuation in [lo, q] not tried yet (and marked now), or
  // SIZE_MAX. Runs already done are jumped over, positions the continuation can't start at are
  // passed (and noted done) untried.
  auto counted_down = [&](const Inst& ci, size_t q, size_t lo) -> size_t {
    const uint8_t* viable =
        ci.cont_first >= 0 ? P.cont_first[static_cast<uint32_t>(ci.cont_first)].data() : nullptr;
    for (;;) {
      const size_t a = memo.done_from(ci.state, q);
      if (a <= q) {
        if (a <= lo) return SIZE_MAX;
        q = a - 1;
        continue;
      }
      if (viable && q < n && (sizeof(Ch) == 1 || t[q] < 256) && !viable[t[q]]) {
        memo.note_done(ci.state, q, q + 1);
      } else {
        const bool fresh = memo.visit(ci.state + 1, q);
        memo.note_done(ci.state, q, q + 1);
        if (fresh) return q;
      }
      if (q == lo) return SIZE_MAX;
      --q;
    }
  };

  for (;;) {
    const Inst& in = code[pc];
    switch (in.op) {
      case Op::Char:
        if (pos < n && tests[in.test](t[pos])) {
          ++pos;
          ++pc;
          continue;
        }
        goto fail;
      case Op::Assert:
        if (check_at(lat, in.at, t, n, pos)) {
          ++pc;
          continue;
        }
        goto fail;
      case Op::Jmp:
        pc = in.x;
        continue;
      case Op::Split:
        if (!memo.visit(in.state, pos)) goto fail;
        stack.push_back({Frame::Try, in.y, pos, 0});
        pc = in.x;
        continue;
      case Op::Star: {
        // Loop state L(q): consume one more char and go to L(q + 1), else continue at q. Run the chain
        // of consumptions (marking each L(q), and stopping at one already explored), then try the
        // continuations from the longest down. The run is scanned in chunks so that a chain which
        // runs into explored states costs no more than the states it marks.
        if (!memo.visit(in.state, pos)) goto fail;
        const CharTest& ct = tests[in.test];
        size_t q = pos;
        if (q < n && ct(t[q])) for (;;) {
          const size_t lim = std::min(n, q + 256);
          size_t r = q;
          if (in.nstop >= 0) {
            r = in.nstop ? find_any(t, q, lim, in.stop, in.nstop) : lim;
          } else {
            while (r < lim && ct(t[r])) ++r;
          }
          const size_t seen = memo.mark_run(in.state, q + 1, r);
          if (seen <= r) {
            q = seen - 1;
            break;
          }
          q = r;
          if (r < lim || r == n) break;
        }
        const size_t v = first_viable_down(pc + 1, q, in.only_longest ? q : pos);
        if (v == SIZE_MAX) goto fail;
        if (v > pos && !in.only_longest) stack.push_back({Frame::GreedyBack, pc + 1, v - 1, pos});
        pc = pc + 1;
        pos = v;
        continue;
      }
      case Op::LazyStar: {
        if (!memo.visit(in.state, pos)) goto fail;
        goto lazy_try;
      }
      case Op::Look:
        if (look_body_matches(P, in.x, t, n, pos, memo) != P.looks[in.x].negate) {
          ++pc;
          continue;
        }
        goto fail;
      case Op::Counted: {
        if (!memo.visit(in.state, pos)) goto fail;
        const CharTest& ct = tests[in.test];
        const size_t lo = pos + in.x;
        for (; pos < lo; ++pos)
          if (pos >= n || !ct(t[pos])) goto fail;
        const size_t cap = std::min(n, pos - in.x + in.y);
        if (in.lazy) {
          counted_hi = cap;
          goto counted_lazy;
        }
        const size_t r = memo.run_until(in.state, ct, t, n, pos, cap);
        const size_t q = counted_down(in, r, lo);
        if (q == SIZE_MAX) goto fail;
        if (q > lo) stack.push_back({Frame::CountedBack, pc, q - 1, lo});
        pos = q;
        ++pc;
        continue;
      }
      case Op::Match:
        if (must_advance && pos == start) goto fail;
        return pos;
    }

  counted_lazy: {
    // pc is a lazy Counted and `pos` a continuation position it may stop at: the first continuation
    // not tried before goes first, the rest stays on the stack.
    const Inst& in = code[pc];
    const CharTest& ct = tests[in.test];
    const size_t hi = counted_hi;
    const uint8_t* viable = in.cont_first >= 0 ? P.cont_first[static_cast<uint32_t>(in.cont_first)].data() : nullptr;
    for (;;) {
      // Continuations in [pos, b) have nothing left to try: skip them, as far as the loop reaches.
      const size_t b = memo.done_through(in.state, pos);
      if (b > pos) {
        if (memo.run_until(in.state, ct, t, n, pos, hi) < b) goto fail;
        pos = b;
      }
      if (viable) {
        // The loop can stop at any of [pos, lim]; those where the continuation can't start are done.
        const size_t lim = memo.run_until(in.state, ct, t, n, pos, hi);
        size_t x = pos;
        while (x <= lim && x < n && (sizeof(Ch) == 1 || t[x] < 256) && !viable[t[x]]) ++x;
        if (x > pos) {
          memo.note_done(in.state, pos, x);
          if (x > lim) goto fail;
          pos = x;
          continue;
        }
      }
      const bool fresh = memo.visit(in.state + 1, pos);
      memo.note_done(in.state, pos, pos + 1);
      if (fresh) {
        stack.push_back({Frame::CountedNext, pc, pos, hi});
        ++pc;
        break;
      }
      if (pos >= hi || !ct(t[pos])) goto fail;
      ++pos;
    }
    continue;
  }

  lazy_try: {
    // pc is a LazyStar whose state at `pos` is marked: try the continuation first, else one more char.
    // When the continuation starts with a char test, positions where that test fails are skipped in
    // one sweep (their loop states still get marked).
    const Inst& ls = code[pc];
    const Inst& c = code[pc + 1];
    if (c.op == Op::Char) {
      const CharTest& ct = tests[ls.test];
      const CharTest& first = tests[c.test];
      for (;;) {
        const size_t lim = std::min(n, pos + 256);
        size_t x = pos;
        if (ls.nstop >= 0) {
          x = find_any(t, pos, lim, ls.stop, ls.nstop);
        } else {
          while (x < lim && !first(t[x]) && ct(t[x])) ++x;
        }
        if (memo.mark_run(ls.state, pos + 1, x) <= x) goto fail;
        pos = x;
        if (x < lim || x == n) break;
      }
      if (!(pos < n && first(t[pos]))) goto fail;
    }
    stack.push_back({Frame::LazyNext, pc, pos, 0});
    pc = pc + 1;
    continue;
  }

  fail:
    for (;;) {
      if (stack.empty()) return std::nullopt;
      Frame& f = stack.back();
      switch (f.kind) {
        case Frame::Try:
          pc = f.pc;
          pos = f.pos;
          stack.pop_back();
          break;
        case Frame::GreedyBack: {
          const size_t v = first_viable_down(f.pc, f.pos, f.lo);
          if (v == SIZE_MAX) {
            stack.pop_back();
            continue;
          }
          pc = f.pc;
          pos = v;
          if (v > f.lo) {
            f.pos = v - 1;
          } else {
            stack.pop_back();
          }
          break;
        }
        case Frame::CountedBack: {
          const size_t lo = f.lo;
          const size_t q = counted_down(code[f.pc], f.pos, lo);
          if (q == SIZE_MAX) {
            stack.pop_back();
            continue;
          }
          pc = f.pc + 1;
          pos = q;
          if (q > lo) {
            f.pos = q - 1;
          } else {
            stack.pop_back();
          }
          break;
        }
        case Frame::CountedNext: {
          const Inst& ci = code[f.pc];
          const size_t q = f.pos, hi = f.lo;
          pc = f.pc;
          stack.pop_back();
          if (q < hi && tests[ci.test](t[q])) {
            pos = q + 1;
            counted_hi = hi;
            goto counted_lazy;
          }
          continue;
        }
        case Frame::LazyNext: {
          const Inst& ls = code[f.pc];
          const size_t p = f.pos;
          pc = f.pc;
          stack.pop_back();
          if (p < n && tests[ls.test](t[p]) && memo.visit(ls.state, p + 1)) {
            pos = p + 1;
            goto lazy_try;
          }
          continue;
        }
      }
      break;
    }
  }
}

}  // namespace tessera::rx::detail
