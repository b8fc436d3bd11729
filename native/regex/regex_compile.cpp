// Compiler from the parse tree to a program, plus the start analysis the scanners use to skip positions
// where a pattern cannot begin.
#include <algorithm>
#include <bit>
#include <climits>
#include <cstring>
#include <bitset>
#include <tuple>
#include <unordered_map>

#include "regex_ast.hpp"

namespace tessera::rx::detail {

const Latin1& latin1() {
  static const Latin1 tables = [] {
    Latin1 l{};
    for (char32_t c = 0; c < 256; ++c) l.word[c] = slow_is_word(c);
    return l;
  }();
  return tables;
}

const CaseFix* find_casefix(char32_t lower) {
  const CaseFix* end = kCaseFixes + kCaseFixCount;
  const CaseFix* it =
      std::lower_bound(kCaseFixes, end, lower, [](const CaseFix& f, char32_t c) { return f.lower < c; });
  return it != end && it->lower == lower ? it : nullptr;
}

namespace {

bool in_category(Cat cat, char32_t ch) {
  switch (cat) {
    case Cat::Digit: return slow_is_digit(ch);
    case Cat::NotDigit: return !slow_is_digit(ch);
    case Cat::Space: return slow_is_space(ch);
    case Cat::NotSpace: return !slow_is_space(ch);
    case Cat::Word: return slow_is_word(ch);
    case Cat::NotWord: return !slow_is_word(ch);
  }
  return false;
}

}  // namespace

bool CharTest::slow(char32_t ch) const {
  switch (kind) {
    case Lit: return ch == alts[0];
    case NotLit: return ch != alts[0];
    case Fold:
    case NotFold: {
      const char32_t lo = to_lower(ch);
      bool hit = false;
      for (uint8_t i = 0; i < nalts; ++i) hit = hit || lo == alts[i];
      return hit == (kind == Fold);
    }
    case Any: return ch != U'\n';
    case AnyAll: return true;
    case Set: {
      const char32_t x = fold ? to_lower(ch) : ch;
      bool in = false;
      auto r = std::upper_bound(ranges.begin(), ranges.end(), x,
                                [](char32_t v, const std::pair<char32_t, char32_t>& p) { return v < p.first; });
      if (r != ranges.begin() && x <= std::prev(r)->second) in = true;
      for (size_t i = 0; !in && i < tail.size(); ++i) {
        const SetTail& t = tail[i];
        switch (t.kind) {
          case SetTail::Literal: in = x == t.lo; break;
          case SetTail::Range: in = t.lo <= x && x <= t.hi; break;
          case SetTail::RangeFold: {
            const char32_t up = to_upper(x);
            in = (t.lo <= x && x <= t.hi) || (t.lo <= up && up <= t.hi);
            break;
          }
          case SetTail::Category: in = in_category(t.cat, x); break;
        }
      }
      return in != negate;
    }
  }
  return false;
}

void CharTest::fill_latin() {
  for (char32_t c = 0; c < 256; ++c) latin[c] = slow(c);
}

bool CharTest::same_as(const CharTest& o) const {
  if (kind != o.kind || nalts != o.nalts || fold != o.fold || negate != o.negate) return false;
  if (!std::equal(alts, alts + 3, o.alts)) return false;
  if (ranges != o.ranges || tail.size() != o.tail.size()) return false;
  for (size_t i = 0; i < tail.size(); ++i) {
    const SetTail &a = tail[i], &b = o.tail[i];
    if (a.kind != b.kind || a.lo != b.lo || a.hi != b.hi || a.cat != b.cat) return false;
  }
  return true;
}

namespace {

constexpr size_t kMaxProgram = 20000;
// A bounded loop of one character test with at least this many optional iterations becomes one
// Counted instruction instead of a chain of alternatives (whose memo would cost a state per iteration).
constexpr uint32_t kCountedFrom = 2;

void finish_sub(Program& p);

// The host's compiler turns a literal into an exact compare, or under IGNORECASE (for a cased
// character) into a compare of lower(ch) against the literal's lowercase and its extra equivalents.
CharTest literal_test(char32_t c, bool negated, bool icase) {
  CharTest t;
  if (!icase || !is_cased(c)) {
    t.kind = negated ? CharTest::NotLit : CharTest::Lit;
    t.nalts = 1;
    t.alts[0] = c;
    return t;
  }
  const char32_t lo = to_lower(c);
  t.kind = negated ? CharTest::NotFold : CharTest::Fold;
  t.alts[t.nalts++] = lo;
  if (const CaseFix* f = find_casefix(lo))
    for (char32_t o : f->others)
      if (o) t.alts[t.nalts++] = o;
  return t;
}

// A set as the host's charset optimiser builds it: a BMP map of (lowercased, under IGNORECASE)
// members, with what does not fit the map left as tail items; when a cased member was seen the whole
// set is tested against lower(ch). Oddities such as a non-BMP literal in an IGNORECASE set (kept
// unlowered, so it never matches) are reproduced on purpose.
CharTest set_test(const std::vector<SetItem>& items, bool icase) {
  CharTest t;
  t.kind = CharTest::Set;
  auto map = std::make_unique<std::bitset<0x10000>>();
  // Sets are compiled by the hundred at load and most hold a few ASCII letters: the runs are read
  // back up to the highest member only, not over the whole plane.
  size_t top = 0;
  auto mark = [&](char32_t c) {
    map->set(c);
    top = std::max<size_t>(top, c + size_t{1});
  };
  bool hascased = false;
  auto add_fold = [&](char32_t lo) {  // false when the lowercase does not fit the map
    if (lo >= 0x10000) return false;
    mark(lo);
    if (const CaseFix* f = find_casefix(lo))
      for (char32_t o : f->others)
        if (o) mark(o);
    return true;
  };
  for (const SetItem& it : items) {
    switch (it.kind) {
      case SetItem::Negate:
        t.negate = true;
        break;
      case SetItem::Literal:
        if (icase) {
          if (add_fold(to_lower(it.lo))) {
            hascased = hascased || is_cased(it.lo);
          } else {
            t.tail.push_back({SetTail::Literal, Cat::Digit, it.lo, it.lo});
            hascased = true;
          }
        } else if (it.lo < 0x10000) {
          mark(it.lo);
        } else {
          t.tail.push_back({SetTail::Literal, Cat::Digit, it.lo, it.lo});
        }
        break;
      case SetItem::Range:
        if (icase) {
          bool overflow = false;
          for (char32_t c = it.lo; c <= it.hi; ++c) {
            if (!add_fold(to_lower(c))) {
              overflow = true;
              break;
            }
          }
          if (overflow) {
            t.tail.push_back({SetTail::RangeFold, Cat::Digit, it.lo, it.hi});
            hascased = true;
          } else if (!hascased) {
            for (char32_t c = it.lo; c <= it.hi && !hascased; ++c) hascased = is_cased(c);
          }
        } else {
          for (char32_t c = it.lo; c <= it.hi && c < 0x10000; ++c) mark(c);
          if (it.hi >= 0x10000) t.tail.push_back({SetTail::Range, Cat::Digit, it.lo, it.hi});
        }
        break;
      case SetItem::Category:
        t.tail.push_back({SetTail::Category, it.cat, 0, 0});
        break;
    }
  }
  t.fold = icase && hascased;
  if (!t.negate && !t.fold && t.tail.size() == 1 && t.tail[0].kind == SetTail::Category &&
      map->none())
    t.pure_category = static_cast<int8_t>(t.tail[0].cat);
  for (size_t c = 0; c < top;) {
    if (!map->test(c)) {
      ++c;
      continue;
    }
    size_t e = c;
    while (e + 1 < top && map->test(e + 1)) ++e;
    t.ranges.push_back({static_cast<char32_t>(c), static_cast<char32_t>(e)});
    c = e + 1;
  }
  return t;
}

bool nullable(const Seq& seq);
bool nullable(const Node& n) {
  switch (n.kind) {
    case Node::Literal:
    case Node::NotLiteral:
    case Node::In:
    case Node::Any:
      return false;
    case Node::At:
    case Node::Look:
      return true;
    case Node::Group:
      return nullable(n.body);
    case Node::Branch:
      return std::any_of(n.alts.begin(), n.alts.end(), [](const Seq& s) { return nullable(s); });
    case Node::Repeat:
      return n.min == 0 || nullable(n.body);
  }
  return true;
}
bool nullable(const Seq& seq) {
  return std::all_of(seq.begin(), seq.end(), [](const Node& n) { return nullable(n); });
}

// The least and greatest number of characters a match can span (kMaxRepeat: unbounded), as `re`
// computes them for the fixed-width rule of lookbehinds.
std::pair<uint64_t, uint64_t> width(const Seq& seq);
std::pair<uint64_t, uint64_t> width(const Node& n) {
  constexpr uint64_t inf = kMaxRepeat;
  switch (n.kind) {
    case Node::Literal:
    case Node::NotLiteral:
    case Node::In:
    case Node::Any:
      return {1, 1};
    case Node::At:
    case Node::Look:
      return {0, 0};
    case Node::Group:
      return width(n.body);
    case Node::Branch: {
      uint64_t lo = inf, hi = 0;
      for (const Seq& a : n.alts) {
        auto [l, h] = width(a);
        lo = std::min(lo, l);
        hi = std::max(hi, h);
      }
      return {lo, hi};
    }
    case Node::Repeat: {
      auto [l, h] = width(n.body);
      const uint64_t hi = n.max == kMaxRepeat && h ? inf : std::min(inf, h * n.max);
      return {std::min(inf, l * n.min), hi};
    }
  }
  return {0, inf};
}
std::pair<uint64_t, uint64_t> width(const Seq& seq) {
  uint64_t lo = 0, hi = 0;
  for (const Node& n : seq) {
    auto [l, h] = width(n);
    lo = std::min<uint64_t>(kMaxRepeat, lo + l);
    hi = std::min<uint64_t>(kMaxRepeat, hi + h);
  }
  return {lo, hi};
}

bool is_char_node(const Node& n) {
  return n.kind == Node::Literal || n.kind == Node::NotLiteral || n.kind == Node::In || n.kind == Node::Any;
}

class Builder {
 public:
  Builder(Program& p, unsigned flags) : p_(p), flags_(flags) {}

  void seq(const Seq& s) {
    for (const Node& n : s) node(n);
  }

  uint32_t emit(Inst in) {
    if (p_.code.size() >= kMaxProgram) throw CompileError("pattern too large");
    p_.code.push_back(in);
    return static_cast<uint32_t>(p_.code.size() - 1);
  }
  uint32_t here() const { return static_cast<uint32_t>(p_.code.size()); }

 private:
  bool icase() const { return flags_ & IGNORECASE; }

  uint32_t test_for(const Node& n) {
    CharTest t;
    switch (n.kind) {
      case Node::Literal: t = literal_test(n.ch, false, icase()); break;
      case Node::NotLiteral: t = literal_test(n.ch, true, icase()); break;
      case Node::In: t = set_test(n.set, icase()); break;
      default: t.kind = (flags_ & DOTALL) ? CharTest::AnyAll : CharTest::Any; break;
    }
    // Expanded repetitions ask for the same test many times: found by a hash of its fields, and only
    // a new one pays for its table.
    uint64_t h = (uint64_t{t.kind} << 56) ^ (uint64_t{t.nalts} << 48) ^ (uint64_t{t.fold} << 47) ^
                 (uint64_t{t.negate} << 46) ^ (t.ranges.size() << 32) ^ t.tail.size();
    for (char32_t a : t.alts) h = h * 1000003u ^ a;
    for (const auto& [lo, hi] : t.ranges) h = (h * 1000003u ^ lo) * 1000003u ^ hi;
    auto [from, to] = known_tests_.equal_range(h);
    for (auto it = from; it != to; ++it)
      if (p_.tests[it->second].same_as(t)) return it->second;
    t.fill_latin();
    p_.tests.push_back(std::move(t));
    known_tests_.emplace(h, static_cast<uint32_t>(p_.tests.size() - 1));
    return static_cast<uint32_t>(p_.tests.size() - 1);
  }

  uint32_t new_state() { return p_.nstates++; }

  void node(const Node& n) {
    switch (n.kind) {
      case Node::Literal:
      case Node::NotLiteral:
      case Node::In:
      case Node::Any: {
        Inst in{Op::Char};
        in.test = test_for(n);
        emit(in);
        break;
      }
      case Node::At: {
        Inst in{Op::Assert};
        const bool ml = flags_ & MULTILINE;
        switch (n.at) {
          case AtKind::Beginning: in.at = ml ? At::BeginLine : At::BeginText; break;
          case AtKind::BeginningString: in.at = At::BeginText; break;
          case AtKind::End: in.at = ml ? At::EndLine : At::End; break;
          case AtKind::EndString: in.at = At::EndText; break;
          case AtKind::Boundary: in.at = At::Boundary; break;
          case AtKind::NonBoundary: in.at = At::NonBoundary; break;
        }
        emit(in);
        break;
      }
      case Node::Group:
        seq(n.body);
        break;
      case Node::Branch: {
        std::vector<uint32_t> exits;
        for (size_t i = 0; i < n.alts.size(); ++i) {
          if (i + 1 == n.alts.size()) {
            seq(n.alts[i]);
            break;
          }
          Inst sp{Op::Split};
          sp.state = new_state();
          const uint32_t at = emit(sp);
          p_.code[at].x = at + 1;
          seq(n.alts[i]);
          exits.push_back(emit(Inst{Op::Jmp}));
          p_.code[at].y = here();
        }
        for (uint32_t e : exits) p_.code[e].x = here();
        break;
      }
      case Node::Repeat:
        repeat(n);
        break;
      case Node::Look:
        look(n);
        break;
    }
  }

  void look(const Node& n) {
    LookInfo L;
    L.behind = n.behind;
    L.negate = n.negate;
    auto [lo, hi] = width(n.body);
    Seq rest = n.body;
    if (n.behind) {
      if (lo != hi) refuse("look-behind requires fixed-width pattern", n.offset);
      L.width = static_cast<uint32_t>(lo);
    } else if (hi >= kMaxRepeat) {
      // Only one leading unbounded loop of a single character test is answered in linear time.
      if (!rest.empty() && rest[0].kind == Node::Repeat && rest[0].max == kMaxRepeat && rest[0].body.size() == 1 &&
          is_char_node(rest[0].body[0])) {
        L.lead = static_cast<int32_t>(test_for(rest[0].body[0]));
        L.lead_min = rest[0].min;
        rest.erase(rest.begin());
      }
      if (width(rest).second >= kMaxRepeat)
        refuse("a lookahead whose body is unbounded beyond one leading single-character loop is not supported",
               n.offset);
    }
    auto sub = std::make_shared<Program>();
    sub->lat = p_.lat;
    Builder b(*sub, flags_);
    b.seq(rest);
    b.emit(Inst{Op::Match});
    finish_sub(*sub);
    L.rest = std::move(sub);
    Inst in{Op::Look};
    in.x = static_cast<uint32_t>(p_.looks.size());
    p_.looks.push_back(std::move(L));
    emit(in);
  }

  // Bodies that can match empty are refused: `re` stops such loops by rules of its own that a plain
  // program would not reproduce.
  void repeat(const Node& n) {
    if (nullable(n.body)) throw CompileError("repeat of a subpattern that can match the empty string");
    const bool single = n.body.size() == 1 && is_char_node(n.body[0]);
    if (single && n.max != kMaxRepeat && n.max - n.min >= kCountedFrom) {
      Inst in{Op::Counted};
      in.test = test_for(n.body[0]);
      in.x = n.min;
      in.y = n.max;
      in.lazy = !n.greedy;
      in.state = p_.nstates;
      p_.nstates += 2;
      emit(in);
      return;
    }
    for (uint32_t i = 0; i < n.min; ++i) {
      seq(n.body);
      if (here() >= kMaxProgram) throw CompileError("pattern too large");
    }
    if (n.max == kMaxRepeat) {
      if (single) {
        Inst in{n.greedy ? Op::Star : Op::LazyStar};
        in.test = test_for(n.body[0]);
        in.state = new_state();
        emit(in);
        return;
      }
      Inst sp{Op::Split};
      sp.state = new_state();
      const uint32_t loop = emit(sp);
      seq(n.body);
      Inst back{Op::Jmp};
      back.x = loop;
      emit(back);
      // greedy: body first; lazy: leave first
      p_.code[loop].x = n.greedy ? loop + 1 : here();
      p_.code[loop].y = n.greedy ? here() : loop + 1;
      return;
    }
    // Up to max - min more iterations, nested so that each is only tried after the previous one.
    std::vector<uint32_t> splits;
    for (uint32_t i = n.min; i < n.max; ++i) {
      Inst sp{Op::Split};
      sp.state = new_state();
      splits.push_back(emit(sp));
      seq(n.body);
    }
    for (uint32_t s : splits) {
      p_.code[s].x = n.greedy ? s + 1 : here();
      p_.code[s].y = n.greedy ? here() : s + 1;
    }
  }

  Program& p_;
  unsigned flags_;
  std::unordered_multimap<uint64_t, uint32_t> known_tests_;  // hash of a test's fields -> its index
};

// Characters on which a loop test fails, when they are a short explicit list.
bool fail_chars(const CharTest& t, std::vector<char32_t>& out) {
  switch (t.kind) {
    case CharTest::Any: out.push_back(U'\n'); return true;
    case CharTest::NotLit: out.push_back(t.alts[0]); return true;
    case CharTest::AnyAll: return true;
    default: return false;
  }
}

// Fills the stop lists of the single-char loops (see Inst::stop).
void plan_loops(Program& p) {
  for (uint32_t pc = 0; pc < p.code.size(); ++pc) {
    Inst& in = p.code[pc];
    if (in.op != Op::Star && in.op != Op::LazyStar) continue;
    if (in.op == Op::Star && p.code[pc + 1].op == Op::Char) {
      const CharTest& loop = p.tests[in.test];
      const CharTest& first = p.tests[p.code[pc + 1].test];
      in.only_longest = first.kind == CharTest::Lit && !loop.slow(first.alts[0]);
    }
    std::vector<char32_t> stop;
    if (!fail_chars(p.tests[in.test], stop)) continue;
    if (in.op == Op::LazyStar) {
      const Inst& c = p.code[pc + 1];
      if (c.op != Op::Char) continue;
      const CharTest& first = p.tests[c.test];
      if (first.kind != CharTest::Lit) continue;
      if (std::find(stop.begin(), stop.end(), first.alts[0]) == stop.end()) stop.push_back(first.alts[0]);
      if (stop.empty()) continue;
    }
    in.nstop = static_cast<int8_t>(stop.size());
    std::copy(stop.begin(), stop.end(), in.stop);
  }
}

// Visits once each instruction reachable from the start without passing instruction `blocked`; the walk
// stops when visit(pc) returns false.
template <class Visit>
void walk_from_start(const Program& p, uint32_t blocked, Visit&& visit) {
  std::vector<char> seen(p.code.size(), 0);
  std::vector<uint32_t> todo{0};
  while (!todo.empty()) {
    const uint32_t pc = todo.back();
    todo.pop_back();
    if (pc == blocked || seen[pc]) continue;
    seen[pc] = 1;
    if (!visit(pc)) return;
    const Inst& in = p.code[pc];
    switch (in.op) {
      case Op::Match: break;
      case Op::Jmp: todo.push_back(in.x); break;
      case Op::Split:
        todo.push_back(in.x);
        todo.push_back(in.y);
        break;
      default: todo.push_back(pc + 1); break;
    }
  }
}

bool reaches_match_without(const Program& p, uint32_t blocked) {
  bool reached = false;
  walk_from_start(p, blocked, [&](uint32_t pc) { return !(reached = p.code[pc].op == Op::Match); });
  return reached;
}

// What the literal choices below all ask of a program's code, worked out once per program: the
// instructions some jump lands on (one more entry, for the end), and the char tests every match
// passes (Match cannot be reached without them). Empty for programs too long to analyse.
struct Shape {
  std::vector<char> target, required;
  explicit Shape(const Program& p) {
    if (p.code.size() > 2000) return;
    target.assign(p.code.size() + 1, 0);
    for (const Inst& in : p.code) {
      if (in.op == Op::Jmp || in.op == Op::Split) {
        target[in.x] = 1;
        if (in.op == Op::Split) target[in.y] = 1;
      }
    }
    required.assign(p.code.size(), 0);
    for (uint32_t pc = 0; pc < p.code.size(); ++pc)
      required[pc] = p.code[pc].op == Op::Char && !reaches_match_without(p, pc);
  }
  bool analysed() const { return !target.empty(); }
};

// Picks a literal every match must contain, preferring punctuation, which is rarer than letters.
void find_required(Program& p, const Shape& shape) {
  if (!shape.analysed()) return;
  int32_t best = -1;
  for (uint32_t pc = 0; pc < p.code.size(); ++pc) {
    const Inst& in = p.code[pc];
    if (in.op != Op::Char) continue;
    const CharTest& t = p.tests[in.test];
    if (t.kind != CharTest::Lit) continue;
    const bool punct = !slow_is_word(t.alts[0]) && !slow_is_space(t.alts[0]);
    if (best >= 0 && (!punct || !slow_is_word(static_cast<char32_t>(best)))) continue;
    if (!shape.required[pc]) continue;
    best = static_cast<int32_t>(t.alts[0]);
  }
  p.required = best;
}

// Punctuation rare enough in SQL to find a pattern by alone (Program::single): variables, quoted
// names, temp tables, parameters; not `.`, `(`, `,` or a letter, which are everywhere.
bool rare_alone(const CharTest& t) {
  uint64_t cls[4];
  if (!test_classes(t, cls) || (cls[0] & 1)) return false;
  int count = 0;
  for (int c = 1; c < 256; ++c) {
    if (!bit_at(cls, c)) continue;
    if (c >= 128 || !std::strchr("@#$[]`\"{}:!?%^&|~\\/", c) || ++count > 3) return false;
  }
  return count > 0;
}

// Rough share (per mille) of a character in SQL scripts, to pick the rarest anchor for a required run.
int frequency(char32_t c) {
  static const char* const kLetters = "etaoinsrlcdumphfgbywvkxqjz";
  static const int kShare[] = {90, 70, 65, 60, 60, 60, 60, 55, 40, 35, 35, 30, 25, 25, 25, 20, 15, 15, 15, 12, 10, 8, 6, 3, 2, 2};
  if (c < 128) {
    const char lower = static_cast<char>(c | 0x20);
    if (lower >= 'a' && lower <= 'z') {
      for (int i = 0; kLetters[i]; ++i)
        if (kLetters[i] == lower) return kShare[i];
    }
    switch (c) {
      case ' ': return 150;
      case '\n': case '\t': case '\r': return 30;
      case '(': case ')': case ',': case '_': return 15;
      case '.': case '@': return 10;
      case '-': return 40;  // comments, and their ruler lines (a run of them is a hit at each character)
      case '=': case '\'': case '[': case ']': return 8;
      default: break;
    }
    if (c >= '0' && c <= '9') return 10;
    return 3;
  }
  return 1;
}

// Code points >= 256 whose lowercase is below 256 (Kelvin sign, dotted capital I and a few more),
// taken once from the Unicode adapter: with the Latin-1 table of a test they give every character a
// case-insensitive letter accepts.
// Also the code points >= 256 whose fold class is not 0 ("some other character"): those, and the
// ones whose lowercase IGNORECASE equates with a Latin-1 character (U+017F), in the same walk.
struct WideTables {
  std::vector<std::pair<char32_t, char32_t>> to_latin_lower;
  std::vector<char32_t> with_class;
  std::array<uint64_t, (0x110000 >> 8) / 64> class_pages{};  // see wide_class_pages
};
const WideTables& wide_tables() {
  static const WideTables tables = [] {
    std::vector<char32_t> latin_others;  // lowercases >= 256 with a Latin-1 equivalent
    for (size_t i = 0; i < kCaseFixCount; ++i)
      for (char32_t other : kCaseFixes[i].others)
        if (kCaseFixes[i].lower >= 256 && other != 0 && other < 256) latin_others.push_back(kCaseFixes[i].lower);
    WideTables out;
    for (char32_t c = 256; c < 0x110000; ++c) {
      const char32_t lo = to_lower(c);
      if (lo < 256) {
        out.to_latin_lower.push_back({c, lo});
        out.with_class.push_back(c);
      } else if (std::find(latin_others.begin(), latin_others.end(), lo) != latin_others.end()) {
        out.with_class.push_back(c);
      }
    }
    for (const char32_t c : out.with_class) set_bit(out.class_pages.data(), c >> 8);
    return out;
  }();
  return tables;
}
const std::vector<std::pair<char32_t, char32_t>>& wide_to_latin_lower() { return wide_tables().to_latin_lower; }

// The class of a lowercase code point (see fold_class).
uint8_t class_of_lower(char32_t lower) {
  if (lower < 256) return static_cast<uint8_t>(lower);
  if (const CaseFix* fix = find_casefix(lower))
    for (char32_t other : fix->others)
      if (other != 0 && other < 256) return static_cast<uint8_t>(other);
  return 0;
}

// Fold classes are gathered as 256-bit sets of four words.
void add_class(uint64_t set[4], uint8_t c) { set_bit(set, c); }
bool has_class(const uint64_t set[4], uint8_t c) { return bit_at(set, c); }

}  // namespace

const uint64_t* wide_class_pages() { return wide_tables().class_pages.data(); }

uint8_t fold_class(char32_t c) {
  // The few wide characters with a class are known, and the rest need no case mapping at all.
  if (c >= 256) {
    const WideTables& wide = wide_tables();
    if (!on_class_page(wide.class_pages.data(), c)) return 0;
    if (!std::binary_search(wide.with_class.begin(), wide.with_class.end(), c)) return 0;
  }
  return class_of_lower(to_lower(c));
}

bool test_classes(const CharTest& t, uint64_t out[4]) {
  std::fill(out, out + 4, 0);
  if (t.kind == CharTest::Lit) {
    add_class(out, fold_class(t.alts[0]));
    return true;
  }
  if (t.kind == CharTest::Set) {
    // A few characters, all Latin-1 (`['"]`, `[rb]`): membership of the character (or, folding, of
    // its lowercase) in ranges below 256 admits beyond Latin-1 only characters whose lowercase is one
    // of them, whose class is then that character's own.
    if (t.negate || !t.tail.empty() || t.ranges.empty() || t.ranges.back().second >= 256) return false;
    int count = 0;
    for (int c = 0; c < 256; ++c) {
      const uint8_t cls = fold_class(static_cast<char32_t>(c));
      if (t.latin[c] && !has_class(out, cls)) {
        if (++count > 4) return false;
        add_class(out, cls);
      }
    }
    return count > 0;
  }
  if (t.kind != CharTest::Fold) return false;
  // A character passes when its lowercase is one of alts, so its class is that alternative's.
  for (uint8_t a = 0; a < t.nalts; ++a) add_class(out, class_of_lower(t.alts[a]));
  return true;
}

void add_accepted_classes(const CharTest& t, uint64_t out[4]) {
  for (int c = 0; c < 256; ++c)
    if (t.latin[c]) add_class(out, fold_class(static_cast<char32_t>(c)));
  if (!t.can_match_above_latin1()) return;
  add_class(out, 0);
  for (char32_t w : wide_tables().with_class)
    if (t.slow(w)) add_class(out, fold_class(w));
}

namespace {

// Every character test `t` accepts, when they are known to be few (a literal, or a case-insensitive one
// whose cases are all Latin-1).
bool enumerate_chars(const CharTest& t, std::vector<char32_t>& out) {
  out.clear();
  if (t.kind == CharTest::Lit) {
    out.push_back(t.alts[0]);
    return true;
  }
  if (t.kind != CharTest::Fold || std::any_of(t.alts, t.alts + t.nalts, [](char32_t a) { return a >= 256; }))
    return false;
  for (char32_t c = 0; c < 256; ++c)
    if (t.latin[c]) out.push_back(c);
  for (const auto& [wide, lo] : wide_to_latin_lower())
    if (std::find(t.alts, t.alts + t.nalts, lo) != t.alts + t.nalts) out.push_back(wide);
  return true;
}

// Every character test `t` accepts, when there are at most 3 of them.
bool accepted_chars(const CharTest& t, std::vector<char32_t>& out) {
  return enumerate_chars(t, out) && out.size() <= 3;
}

// Whether no character passes both tests, when one of them accepts few enough to check each, or they
// are \s and \w or \d (no whitespace character is alphanumeric).
bool disjoint(const CharTest& a, const CharTest& b) {
  auto cat = [](const CharTest& t) { return t.pure_category < 0 ? -1 : t.pure_category; };
  auto word_like = [&](const CharTest& t) {
    return cat(t) == static_cast<int>(Cat::Word) || cat(t) == static_cast<int>(Cat::Digit);
  };
  const int space = static_cast<int>(Cat::Space);
  if ((cat(a) == space && word_like(b)) || (cat(b) == space && word_like(a))) return true;
  std::vector<char32_t> chars;
  if (enumerate_chars(a, chars)) return std::none_of(chars.begin(), chars.end(), [&](char32_t c) { return b(c); });
  if (enumerate_chars(b, chars)) return std::none_of(chars.begin(), chars.end(), [&](char32_t c) { return a(c); });
  return false;
}

// Program::settled_pc: the filter lets a position through in one-byte text only when the character
// before it passes the start's lead rule and those at offsets 0..2 are in the start's follow sets, so
// the prefix's leading \b (with word characters only after it) and its first char tests, where their
// Latin-1 sets are exactly those follow sets, hold already.
void settle_prefix(Program& p) {
  uint32_t pc = 0;
  if (pc < p.prefix_end && p.code[pc].op == Op::Assert && p.code[pc].at == At::Boundary &&
      p.start.lead == StartInfo::PrevNonWord)
    ++pc;
  uint32_t chars = 0;
  for (; chars < 3 && pc < p.prefix_end && p.code[pc].op == Op::Char; ++pc, ++chars) {
    const StartInfo::Follow& f = p.start.follow[chars];
    const CharTest& test = p.tests[p.code[pc].test];
    bool same = !f.any;
    for (int c = 0; same && c < 256; ++c) same = (f.latin[c] != 0) == (test.latin[c] != 0);
    if (!same) break;
  }
  p.settled_pc = chars > 0 ? pc : 0;
  p.settled_chars = chars;
}

// Program::prefix_end: the opening instructions that decide an attempt without a choice. A greedy loop
// is one of them only when the char test after it takes none of the characters it takes (giving
// back a character cannot help) or the pattern ends after it, and when the first char test of the pattern takes none either, so
// that no other attempt starts inside its run and runs are not scanned twice over.
void find_prefix(Program& p) {
  const CharTest* first = nullptr;
  size_t chars = 0;
  bool loops = false;
  uint32_t pc = 0;
  for (; pc < p.code.size(); ++pc) {
    const Inst& in = p.code[pc];
    if (in.op == Op::Char) {
      if (!first) first = &p.tests[in.test];
      ++chars;
      continue;
    }
    if (in.op == Op::Assert) continue;
    if (in.op != Op::Star || !first || pc + 1 >= p.code.size()) break;
    const CharTest& loop = p.tests[in.test];
    const Inst& after = p.code[pc + 1];
    // A loop at the end takes its whole run, as the greedy loop does.
    const bool ends = after.op == Op::Match;
    if (!disjoint(loop, *first) || !(ends || (after.op == Op::Char && disjoint(loop, p.tests[after.test])))) break;
    loops = true;
  }
  // The set's filter has seen the first three characters already.
  p.prefix_end = chars > 3 || loops ? pc : 0;
  p.prefix_is_whole = p.prefix_end > 0 && chars > 0 && p.code[pc].op == Op::Match;
  settle_prefix(p);
}

std::pair<size_t, size_t> offset_bounds(const Program& p, uint32_t target);
void chars_before(const Program& p, uint32_t target, Program::Reach& r);

Program::Reach reach_of(const Program& p, uint32_t target) {
  Program::Reach r;
  std::tie(r.min_offset, r.max_offset) = offset_bounds(p, target);
  chars_before(p, target, r);
  return r;
}

// Picks the run of required consecutive char tests with the rarest searchable anchor.
void find_required_run(Program& p, const Shape& shape) {
  if (!shape.analysed()) return;
  const std::vector<char>& target = shape.target;
  const std::vector<char>& required = shape.required;
  int best_score = INT32_MAX;
  std::vector<char32_t> chars;
  std::vector<std::pair<int, Program::Run>> runs;  // every run's best anchor, by score
  for (uint32_t pc = 0; pc < p.code.size();) {
    if (!required[pc]) {
      ++pc;
      continue;
    }
    uint32_t end = pc + 1;
    while (end < p.code.size() && required[end] && !target[end]) ++end;
    int run_score = INT32_MAX;
    Program::Run run;
    bool reached = false;  // run.reach is worked out, once for the run
    auto reach = [&]() -> const Program::Reach& {
      if (!reached) run.reach = reach_of(p, pc);
      reached = true;
      return run.reach;
    };
    for (uint32_t a = pc; a < end; ++a) {
      if (!accepted_chars(p.tests[p.code[a].test], chars)) continue;
      int score = 0;
      for (char32_t c : chars) score += frequency(c);
      score = score * 8 / static_cast<int>(std::min<uint32_t>(end - pc, 8));  // longer runs verify better
      if (score < run_score) {
        run_score = score;
        run.tests.clear();
        for (uint32_t x = pc; x < end; ++x) run.tests.push_back(p.code[x].test);
        run.anchor = a - pc;
        run.nanchor = static_cast<int>(chars.size());
        std::copy(chars.begin(), chars.end(), run.chars);
      }
      if (score >= best_score) continue;
      // best_score <= run_score, so `run` has just been set to this very anchor.
      best_score = score;
      p.run = run.tests;
      p.anchor = run.anchor;
      p.nanchor = run.nanchor;
      std::copy(run.chars, run.chars + run.nanchor, p.anchor_chars);
      p.run_reach = reach();
    }
    if (run.nanchor > 0 && end - pc >= 3) {
      reach();
      runs.emplace_back(run_score, std::move(run));
    }
    pc = end;
  }
  std::stable_sort(runs.begin(), runs.end(), [](const auto& x, const auto& y) { return x.first < y.first; });
  for (auto& [score, run] : runs) {
    if (p.more_runs.size() == Program::kMoreRuns) break;
    if (run.tests == p.run && run.anchor == p.anchor) continue;
    p.more_runs.push_back(std::move(run));
  }
  // Anchors in about a thousand characters, from every search the look-ahead makes; with none, an attempt
  // costs about as much as scanning 128 characters.
  int per_mille = 8;
  if (p.required >= 0) per_mille += frequency(static_cast<char32_t>(p.required));
  for (int a = 0; a < p.nanchor; ++a) per_mille += frequency(p.anchor_chars[a]);
  for (const Program::Run& run : p.more_runs)
    for (int a = 0; a < run.nanchor; ++a) per_mille += frequency(run.chars[a]);
  p.lookahead_log2 = static_cast<uint8_t>(std::bit_width(static_cast<unsigned>(1024 / per_mille)) - 1);
}

// Bounds of the number of characters consumed on the way from the start to instruction `target`, over
// every path that reaches it (its first arrival: paths are not followed through it). A loop before it
// makes the upper bound SIZE_MAX.
std::pair<size_t, size_t> offset_bounds(const Program& p, uint32_t target) {
  constexpr size_t kInf = SIZE_MAX;
  const size_t n = p.code.size();
  std::vector<size_t> lo(n, kInf), hi(n, 0);
  std::vector<char> reached(n, 0);
  lo[0] = 0;
  reached[0] = 1;
  auto add = [](size_t a, size_t b) { return a > kInf - b ? kInf : a + b; };
  for (size_t round = 0;; ++round) {
    bool changed = false;
    for (uint32_t pc = 0; pc < n; ++pc) {
      if (!reached[pc] || pc == target) continue;
      const Inst& in = p.code[pc];
      auto edge = [&](uint32_t to, size_t wlo, size_t whi) {
        const size_t l = add(lo[pc], wlo), h = add(hi[pc], whi);
        if (!reached[to] || l < lo[to] || h > hi[to]) changed = true;
        lo[to] = reached[to] ? std::min(lo[to], l) : l;
        hi[to] = reached[to] ? std::max(hi[to], h) : h;
        reached[to] = 1;
      };
      switch (in.op) {
        case Op::Char: edge(pc + 1, 1, 1); break;
        case Op::Assert:
        case Op::Look: edge(pc + 1, 0, 0); break;
        case Op::Jmp: edge(in.x, 0, 0); break;
        case Op::Split:
          edge(in.x, 0, 0);
          edge(in.y, 0, 0);
          break;
        case Op::Star:
        case Op::LazyStar: edge(pc + 1, 0, kInf); break;
        case Op::Counted: edge(pc + 1, in.x, in.y); break;
        case Op::Match: break;
      }
    }
    if (!changed) break;
    // Every cycle consumes characters (no repeat of an empty-matching body compiles), so bounds still
    // growing after n rounds come from a loop: unbounded.
    if (round > n) {
      hi[target] = kInf;
      break;
    }
  }
  return {lo[target], hi[target]};
}

// Reach::before: the characters the char tests reachable from the start without passing `target` accept.
void chars_before(const Program& p, uint32_t target, Program::Reach& f) {
  f.before.fill(0);
  f.wide = false;
  walk_from_start(p, target, [&](uint32_t pc) {
    const Inst& in = p.code[pc];
    if (in.op == Op::Char || in.op == Op::Star || in.op == Op::LazyStar || in.op == Op::Counted) {
      const CharTest& t = p.tests[in.test];
      for (int c = 0; c < 256; ++c) f.before[c] |= t.latin[c];
      f.wide = f.wide || t.can_match_above_latin1();
    }
    return true;
  });
}

void follow_from(const Program& p, std::vector<uint32_t> states, StartInfo::Follow (&follow)[3]);

// Factor::skip and Factor::after for a run that ends before instruction `end`. A loop right after the
// run is passed over only when what follows it cannot start with a character it accepts: the rest
// then starts exactly where the loop's characters end.
void plan_after(const Program& p, uint32_t end, Program::Factor& f) {
  // Each of these holds only before a newline or at the text's end.
  auto line_end = [&](uint32_t pc) {
    const Inst& a = p.code[pc];
    return a.op == Op::Assert && (a.at == At::EndLine || a.at == At::End || a.at == At::EndText);
  };
  const Inst& in = p.code[end];
  if (in.op == Op::Star || in.op == Op::LazyStar) {
    follow_from(p, {end + 1}, f.after);
    const CharTest& loop = p.tests[in.test];
    bool disjoint = true;
    for (int c = 0; c < 256; ++c) disjoint = disjoint && !(loop.latin[c] && f.after[0].latin[c]);
    if (disjoint) {
      f.skip = static_cast<int32_t>(in.test);
      f.line_end = line_end(end + 1);
      return;
    }
    for (auto& a : f.after) a = StartInfo::Follow{};
  }
  follow_from(p, {end}, f.after);
  f.line_end = line_end(end);
}

// Factor::next_classes, from the run's next test or else from what follows the run.
void next_classes(const Program& p, Program::Factor& f) {
  uint64_t cls[4] = {0, 0, 0, 0};
  if (f.key + 1 < f.tests.size()) {
    add_accepted_classes(p.tests[f.tests[f.key + 1]], cls);
  } else if (f.line_end) {
    // The loop's characters, then a newline or the text's end (class 0, as the scan looks up the
    // last character).
    if (f.skip >= 0) add_accepted_classes(p.tests[static_cast<uint32_t>(f.skip)], cls);
    add_class(cls, fold_class(U'\n'));
    add_class(cls, 0);
  } else {
    if (f.skip >= 0 || f.after[0].any) return;
    for (int c = 0; c < 256; ++c)
      if (f.after[0].latin[c]) add_class(cls, fold_class(static_cast<char32_t>(c)));
    for (uint32_t id : f.after[0].hi_tests) add_accepted_classes(p.tests[id], cls);
  }
  std::copy(cls, cls + 4, f.next_classes);
}

// Picks the rarest pair of adjacent case-folded literals inside a required run (see Program::Factor);
// with `single`, the rarest lone character among the few rare ones (Program::single).
void find_factor(Program& p, const Shape& shape, bool single) {
  if (!shape.analysed()) return;
  Program::Factor& out = single ? p.single : p.factor;
  const std::vector<char>& target = shape.target;
  const std::vector<char>& required = shape.required;
  auto rarity = [&](uint32_t test) {
    uint64_t cls[4];
    if (!test_classes(p.tests[test], cls) || (cls[0] & 1)) return -1;
    int sum = 0;
    for (int c = 1; c < 256; ++c)
      if (bit_at(cls, c)) sum += frequency(static_cast<char32_t>(c));
    return sum;
  };
  long best = -1;
  for (uint32_t pc = 0; pc < p.code.size();) {
    if (!required[pc]) {
      ++pc;
      continue;
    }
    uint32_t end = pc + 1;
    while (end < p.code.size() && !target[end] && required[end]) ++end;
    bool analysed = false;
    size_t lo = 0, hi = 0;
    Program::Factor candidate;
    // One character of a loop every path to the run passes through (`X X*`, as `X+` compiles)
    // stands right before it.
    if (!single && pc >= 2 && end - pc >= 2 && !target[pc] && !target[pc - 1] && required[pc - 2] &&
        p.code[pc - 1].op == Op::Star && p.tests[p.code[pc - 1].test].same_as(p.tests[p.code[pc - 2].test])) {
      Program::Factor gap;
      std::tie(gap.min_offset, gap.max_offset) = offset_bounds(p, pc);
      if (gap.min_offset > 0) {
        --gap.min_offset;
        if (gap.max_offset != SIZE_MAX) --gap.max_offset;
        chars_before(p, pc, gap);
        gap.tests.push_back(p.code[pc - 1].test);
        for (uint32_t x = pc; x < end; ++x) gap.tests.push_back(p.code[x].test);
        gap.key = 1;
        gap.pc = pc;
        gap.gap = true;
        plan_after(p, end, gap);
        p.gapped.push_back(std::move(gap));
      }
    }
    for (uint32_t a = pc; a + (single ? 0 : 1) < end; ++a) {
      const int r0 = rarity(p.code[a].test);
      const int r1 = single ? (rare_alone(p.tests[p.code[a].test]) ? 1 : -1) : r0 < 0 ? -1 : rarity(p.code[a + 1].test);
      if (r0 < 0 || r1 < 0) continue;
      if (!analysed) {
        std::tie(lo, hi) = offset_bounds(p, pc);
        chars_before(p, pc, candidate);
        analysed = true;
      }
      long score = static_cast<long>(r0) * r1 * 8 / std::min<uint32_t>(end - pc, 8);
      // Each occurrence makes the pattern try the starts up to hi - lo apart from it. A literal after
      // an unbounded loop (`\s+`) walks back over the characters that loop accepts: cheap when they
      // are a few (spaces), a long walk when they include letters.
      if (hi != SIZE_MAX) {
        score *= static_cast<long>(std::min<size_t>(hi - lo, 63) + 1);
      } else {
        const auto wide = std::count_if(candidate.before.begin(), candidate.before.end(), [](uint8_t b) { return b != 0; });
        score *= wide <= 16 ? 4 : 64;
      }
      if (best >= 0 && score >= best) continue;
      best = score;
      candidate.tests.clear();
      for (uint32_t x = pc; x < end; ++x) candidate.tests.push_back(p.code[x].test);
      candidate.key = a - pc;
      candidate.pc = pc;
      candidate.min_offset = lo;
      candidate.max_offset = hi;
      candidate.score = score;
      out = candidate;
      plan_after(p, end, out);
      if (single) next_classes(p, out);
    }
    pc = end;
  }
}

// ---------------------------------------------------------------------------------------------------------
// Start analysis: which characters can stand at offsets 0..2 of a match, and what the leading
// assertion says about the character before the start.

struct Closure {
  std::vector<uint32_t> consumers;  // Char / Star / LazyStar instructions reachable without consuming
  bool match = false;
};

Closure closure(const Program& p, const std::vector<uint32_t>& from) {
  Closure c;
  std::vector<char> seen(p.code.size(), 0);
  std::vector<uint32_t> todo(from);
  while (!todo.empty()) {
    const uint32_t pc = todo.back();
    todo.pop_back();
    if (seen[pc]) continue;
    seen[pc] = 1;
    const Inst& in = p.code[pc];
    switch (in.op) {
      case Op::Char: c.consumers.push_back(pc); break;
      case Op::Star:
      case Op::LazyStar:
      case Op::Counted:
        c.consumers.push_back(pc);
        todo.push_back(pc + 1);
        break;
      case Op::Assert:
      case Op::Look:
        todo.push_back(pc + 1);  // conservatively assumed to hold
        break;
      case Op::Jmp: todo.push_back(in.x); break;
      case Op::Split:
        todo.push_back(in.x);
        todo.push_back(in.y);
        break;
      case Op::Match: c.match = true; break;
    }
  }
  return c;
}

// The Latin-1 characters the continuation of the greedy loop at `loop` can start with; false when it
// may match empty. A later loop over the same class that never gives back, reached through jumps and
// splits alone (`\s*(?:\(...\))?\s*AS`), adds none of that class: taken from any position the first
// loop gives back to, it runs on to where the first loop's run ends and goes on from there alone, as
// it did (or could not) from the longest run, tried first.
bool star_continuation(const Program& p, uint32_t loop, std::array<uint8_t, 256>& table) {
  const uint32_t own = p.code[loop].test;
  std::vector<char> seen(2 * p.code.size(), 0);
  std::vector<std::pair<uint32_t, bool>> todo{{loop + 1, true}};  // (pc, reached by jumps and splits)
  auto add = [&](const Inst& in) {
    const CharTest& t = p.tests[in.test];
    for (int ch = 0; ch < 256; ++ch) table[ch] |= t.latin[ch];
  };
  while (!todo.empty()) {
    const auto [pc, plain] = todo.back();
    todo.pop_back();
    if (seen[2 * pc + plain]) continue;
    seen[2 * pc + plain] = 1;
    const Inst& in = p.code[pc];
    switch (in.op) {
      case Op::Char: add(in); break;
      case Op::Star:
        if (!(plain && in.only_longest && in.test == own)) add(in);
        todo.push_back({pc + 1, false});
        break;
      case Op::LazyStar:
      case Op::Counted:
        add(in);
        todo.push_back({pc + 1, false});
        break;
      case Op::Assert:
      case Op::Look: todo.push_back({pc + 1, false}); break;  // conservatively assumed to hold
      case Op::Jmp: todo.push_back({in.x, plain}); break;
      case Op::Split:
        todo.push_back({in.x, plain});
        todo.push_back({in.y, plain});
        break;
      case Op::Match: return false;
    }
  }
  return true;
}

// The continuation tables of the bounded loops and of the greedy loops whose continuation does not
// open with a char test of its own (see Inst::cont_first).
void plan_counted(Program& p) {
  for (uint32_t pc = 0; pc < p.code.size(); ++pc) {
    Inst& in = p.code[pc];
    std::array<uint8_t, 256> table{};
    if (in.op == Op::Star && !in.only_longest && p.code[pc + 1].op != Op::Char) {
      if (!star_continuation(p, pc, table)) continue;
    } else if (in.op == Op::Counted) {
      const Closure c = closure(p, {pc + 1});
      if (c.match) continue;
      for (uint32_t x : c.consumers) {
        const CharTest& t = p.tests[p.code[x].test];
        for (int ch = 0; ch < 256; ++ch) table[ch] |= t.latin[ch];
      }
    } else {
      continue;
    }
    in.cont_first = static_cast<int32_t>(p.cont_first.size());
    p.cont_first.push_back(table);
  }
}

// Characters that can stand at offsets 0..2 of what the instructions `states` go on to match.
void follow_from(const Program& p, std::vector<uint32_t> states, StartInfo::Follow (&follow)[3]) {
  bool ended = false;
  for (auto& f : follow) {
    Closure c = closure(p, states);
    ended = ended || c.match;
    f.any = ended;
    std::vector<uint32_t> next;
    for (uint32_t pc : c.consumers) {
      const Inst& in = p.code[pc];
      const CharTest& t = p.tests[in.test];
      for (int ch = 0; ch < 256; ++ch) f.latin[ch] |= t.latin[ch];
      if (t.can_match_above_latin1() &&
          std::find(f.hi_tests.begin(), f.hi_tests.end(), in.test) == f.hi_tests.end())
        f.hi_tests.push_back(in.test);
      next.push_back(in.op == Op::Char ? pc + 1 : pc);
    }
    states = std::move(next);
  }
}

void analyse(Program& p) {
  follow_from(p, {0}, p.start.follow);
  uint32_t pc = 0;
  while (p.code[pc].op == Op::Jmp) pc = p.code[pc].x;
  const Inst& first = p.code[pc];
  if (first.op != Op::Assert) return;
  switch (first.at) {
    case At::BeginText: p.start.lead = StartInfo::BeginText; break;
    case At::BeginLine: p.start.lead = StartInfo::BeginLine; break;
    case At::Boundary: {
      const auto& f0 = p.start.follow[0];
      if (f0.any) break;
      bool all_word = true, all_nonword = true;
      for (int ch = 0; ch < 256; ++ch) {
        if (!f0.latin[ch]) continue;
        if (p.lat->word[ch]) {
          all_nonword = false;
        } else {
          all_word = false;
        }
      }
      // A word character at the start: \b holds exactly when the one before is not a word character.
      if (all_word) p.start.lead = StartInfo::PrevNonWord;
      else if (all_nonword) p.start.lead = StartInfo::PrevWord;
      break;
    }
    default:
      break;
  }
}

}  // namespace

namespace {

// Program::back_pred and the factors' back_first.
void plan_back(Program& p) {
  std::vector<int> bit(p.code.size(), -1);
  std::vector<uint32_t> consumers;
  for (uint32_t pc = 0; pc < p.code.size(); ++pc) {
    const Op op = p.code[pc].op;
    if (op != Op::Char && op != Op::Star && op != Op::LazyStar && op != Op::Counted) continue;
    if (consumers.size() == 64) return;
    bit[pc] = static_cast<int>(consumers.size());
    consumers.push_back(pc);
  }
  auto bits = [&](const Closure& c) {
    uint64_t out = 0;
    for (uint32_t pc : c.consumers) out |= uint64_t{1} << bit[pc];
    return out;
  };
  p.back_pred.assign(consumers.size(), 0);
  for (uint32_t j : consumers) {
    p.back_test.push_back(p.code[j].test);
    // After taking a character a loop may take another; a single test hands over to what follows.
    const uint64_t next = bits(closure(p, {p.code[j].op == Op::Char ? j + 1 : j}));
    for (uint64_t b = next; b; b &= b - 1) p.back_pred[std::countr_zero(b)] |= uint64_t{1} << bit[j];
  }
  p.back_start = bits(closure(p, {0}));
  auto first = [&](Program::Factor& f) {
    if (f.tests.empty()) return;
    const int a = bit[f.pc - (f.gap ? 2 : 0)], b = f.gap ? bit[f.pc - 1] : a;
    if (a >= 0 && b >= 0) f.back_first = (uint64_t{1} << a) | (uint64_t{1} << b);
  };
  first(p.factor);
  first(p.single);
  for (Program::Factor& f : p.gapped) first(f);
}

std::shared_ptr<Program> build(const Seq& seq, unsigned flags) {
  auto p = std::make_shared<Program>();
  p->lat = &latin1();
  Builder b(*p, flags);
  b.seq(seq);
  b.emit(Inst{Op::Match});
  plan_loops(*p);
  plan_counted(*p);
  const Shape shape(*p);
  find_required(*p, shape);
  find_required_run(*p, shape);
  find_factor(*p, shape, false);
  if (p->factor.tests.empty()) find_factor(*p, shape, true);
  plan_back(*p);
  analyse(*p);
  find_prefix(*p);
  build_prefilter(p->solo, {p.get()});
  return p;
}

// The first alternation of a sequence (a capturing group that holds only one counts too: captures are
// not reported): its alternatives, and each spelled out with the items before and after it. The
// leftmost start of the whole is the least leftmost start of the spelled-out sequences, and every
// match contains a match of some bare alternative. Empty when there is none.
struct SpelledOut {
  std::vector<Seq> whole, bare;
};
SpelledOut spelled_out(const Seq& seq) {
  SpelledOut out;
  for (size_t k = 0; k < seq.size(); ++k) {
    const Node& n = seq[k];
    const std::vector<Seq>* alts = nullptr;
    if (n.kind == Node::Branch) alts = &n.alts;
    if (n.kind == Node::Group && n.body.size() == 1 && n.body[0].kind == Node::Branch) alts = &n.body[0].alts;
    if (alts == nullptr) continue;
    if (alts->size() > 16) return out;
    for (const Seq& alt : *alts) {
      Seq whole(seq.begin(), seq.begin() + static_cast<std::ptrdiff_t>(k));
      whole.insert(whole.end(), alt.begin(), alt.end());
      whole.insert(whole.end(), seq.begin() + static_cast<std::ptrdiff_t>(k) + 1, seq.end());
      out.whole.push_back(std::move(whole));
      out.bare.push_back(alt);
    }
    return out;
  }
  return out;
}

// The same sequence with every group's items in its place: captures are not reported, so a group
// matters only for what it holds, and an alternation inside one (`\b(STL|SVV)_`, which the common
// prefix factoring leaves as `S` then `TL|VV` in a capturing group) becomes one of the sequence's own.
Seq inlined(const Seq& seq) {
  Seq out;
  for (const Node& n : seq) {
    if (n.kind == Node::Group) {
      Seq body = inlined(n.body);
      out.insert(out.end(), body.begin(), body.end());
    } else {
      out.push_back(n);
    }
  }
  return out;
}

// Program::spelled for a sequence without a literal of its own: its first alternation spelled out,
// and a part still without one spelled out again, `depth` times at most. Empty unless every part has a
// literal and there are at most `budget` of them.
std::vector<std::shared_ptr<const Program>> spell(const Seq& seq, unsigned flags, int depth, size_t& budget) {
  const Seq flat = inlined(seq);
  const auto k = std::find_if(flat.begin(), flat.end(), [](const Node& n) { return n.kind == Node::Branch; });
  if (k == flat.end() || k->alts.size() > budget) return {};
  std::vector<std::shared_ptr<const Program>> out;
  for (const Seq& alt : k->alts) {
    Seq whole(flat.begin(), k);
    whole.insert(whole.end(), alt.begin(), alt.end());
    whole.insert(whole.end(), k + 1, flat.end());
    std::shared_ptr<Program> part = build(whole, flags);
    if (part->factor.tests.empty()) {
      if (depth == 0) return {};
      std::vector<std::shared_ptr<const Program>> more = spell(whole, flags, depth - 1, budget);
      if (more.empty()) return {};
      out.insert(out.end(), more.begin(), more.end());
      continue;
    }
    if (budget == 0) return {};
    --budget;
    out.push_back(std::move(part));
  }
  return out;
}

void spell(Program& p, const Seq& seq, unsigned flags) {
  size_t budget = 32;
  if (p.factor.tests.empty()) p.spelled = spell(seq, flags, 1, budget);
}

// Program::alternatives from the bare alternatives, when each has a required run to look ahead for.
void attach_alternatives(Program& p, const std::vector<Seq>& bare, unsigned flags) {
  std::vector<std::shared_ptr<const Program>> alts;
  for (const Seq& alt : bare) {
    if (alt.empty()) return;
    alts.push_back(build(alt, flags));
    if (alts.back()->nanchor == 0) return;
  }
  p.alternatives = std::move(alts);
}

}  // namespace

std::shared_ptr<const Program> compile(std::u32string_view source, unsigned flags) {
  constexpr unsigned kUnicode = 32;
  if (flags & ~(IGNORECASE | MULTILINE | DOTALL | kUnicode)) throw CompileError("unsupported flags");
  for (char32_t c : source)
    if (c > 0x10FFFF) throw CompileError("invalid code point in pattern");
  Parsed parsed = parse(source, flags);
  std::shared_ptr<Program> p = build(parsed.seq, flags);
  // A pattern that is an alternation also gets one program per alternative: each has start
  // conditions of its own (a keyword after \b, a line start), much sharper than their union.
  if (parsed.seq.size() == 1 && parsed.seq[0].kind == Node::Branch && parsed.seq[0].alts.size() <= 16) {
    for (const Seq& alt : parsed.seq[0].alts) {
      std::shared_ptr<Program> probe = build(alt, flags);
      const SpelledOut spelled = spelled_out(alt);
      attach_alternatives(*probe, spelled.bare, flags);
      spell(*probe, alt, flags);
      p->probes.push_back(std::move(probe));
    }
    return p;
  }
  // An alternation with items around it (`\b(LEN|CHARINDEX)\s*\(`, where the shared `\b` was moved
  // out) has no literal every match contains, or only a common one (`\bSET\s+(NAMES|SQL_MODE)`), but
  // each of its alternatives with those items has one of its own.
  const SpelledOut spelled = spelled_out(parsed.seq);
  std::vector<std::shared_ptr<Program>> alts;
  long worst = 0;
  for (const Seq& alt : spelled.whole) {
    alts.push_back(build(alt, flags));
    worst = alts.back()->factor.tests.empty() ? LONG_MAX : std::max(worst, alts.back()->factor.score);
  }
  if (!alts.empty() && (p->factor.tests.empty() || worst < p->factor.score)) {
    for (size_t a = 0; a < alts.size(); ++a) spell(*alts[a], spelled.whole[a], flags);
    p->probes.assign(alts.begin(), alts.end());
  } else {
    attach_alternatives(*p, spelled.bare, flags);
    spell(*p, parsed.seq, flags);
    if (!alts.empty() && worst != LONG_MAX && p->spelled.empty()) p->spelled_probes.assign(alts.begin(), alts.end());
  }
  return p;
}

namespace {
void finish_sub(Program& p) {
  plan_loops(p);
  plan_counted(p);
}
}  // namespace

}  // namespace tessera::rx::detail
