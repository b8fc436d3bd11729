// Pattern parser. Follows the host's `re` parser step by step for the syntax we accept, so that the
// tree (and therefore the IGNORECASE behaviour of what compiles from it) is the same; everything we
// don't implement is refused with CompileError rather than approximated.
#include "regex_ast.hpp"

#include <algorithm>
#include <cstdio>
#include <string>

namespace tessera::rx::detail {

bool Node::same_item(const Node& o) const {
  if (kind != o.kind) return false;
  switch (kind) {
    case Literal:
    case NotLiteral:
      return ch == o.ch;
    case In:
      return set == o.set;
    case Any:
      return true;
    case At:
      return at == o.at;
    default:
      return false;  // groups, branches and repeats compare by identity in `re`
  }
}

namespace {

std::string describe(char32_t c) {
  if (c >= 0x20 && c < 0x7F) return std::string(1, static_cast<char>(c));
  char buf[16];
  std::snprintf(buf, sizeof buf, "\\U%08X", static_cast<unsigned>(c));
  return buf;
}

bool is_digit(char32_t c) { return c >= U'0' && c <= U'9'; }
bool is_octdigit(char32_t c) { return c >= U'0' && c <= U'7'; }
bool is_hexdigit(char32_t c) {
  return is_digit(c) || (c >= U'a' && c <= U'f') || (c >= U'A' && c <= U'F');
}
bool is_ascii_letter(char32_t c) { return (c >= U'a' && c <= U'z') || (c >= U'A' && c <= U'Z'); }

Node make(Node::Kind k) {
  Node n;
  n.kind = k;
  return n;
}
Node literal(char32_t c) {
  Node n = make(Node::Literal);
  n.ch = c;
  return n;
}
Node category(Cat c) {
  Node n = make(Node::In);
  n.set.push_back({SetItem::Category, 0, 0, c});
  return n;
}
Node at(AtKind k) {
  Node n = make(Node::At);
  n.at = k;
  return n;
}

template <class T>
void uniq(std::vector<T>& v) {
  std::vector<T> out;
  for (const T& x : v)
    if (std::find(out.begin(), out.end(), x) == out.end()) out.push_back(x);
  v.swap(out);
}

class Parser {
 public:
  Parser(std::u32string_view s, unsigned flags) : s_(s), flags_(flags) { advance(); }

  Parsed run() {
    Seq seq = parse_sub(0);
    if (!next_.none) refuse("unbalanced parenthesis", tell());
    return {std::move(seq), flags_};
  }

 private:
  // A token is one character or a backslash and the character after it, as in `re`.
  struct Tok {
    bool none = true;
    bool esc = false;
    char32_t c = 0;
    bool is(char32_t ch) const { return !none && !esc && c == ch; }
  };

  void advance() {
    if (index_ >= s_.size()) {
      next_ = Tok{};
      return;
    }
    char32_t c = s_[index_];
    if (c == U'\\') {
      if (index_ + 1 >= s_.size()) refuse("bad escape (end of pattern)", tell());
      next_ = Tok{false, true, s_[index_ + 1]};
      index_ += 2;
    } else {
      next_ = Tok{false, false, c};
      index_ += 1;
    }
  }
  Tok get() {
    Tok t = next_;
    advance();
    return t;
  }
  bool match(char32_t c) {
    if (next_.is(c)) {
      advance();
      return true;
    }
    return false;
  }
  size_t tell() const { return index_ - (next_.none ? 0 : next_.esc ? 2 : 1); }
  void seek(size_t i) {
    index_ = i;
    advance();
  }
  // Up to `count` plain characters satisfying `pred` (escaped tokens never qualify).
  std::u32string get_while(size_t count, bool (*pred)(char32_t)) {
    std::u32string out;
    while (out.size() < count && !next_.none && !next_.esc && pred(next_.c)) out += get().c;
    return out;
  }

  uint32_t to_int(const std::u32string& digits, int base) const {
    uint64_t v = 0;
    for (char32_t d : digits) {
      int x = is_digit(d) ? d - U'0' : (d | 0x20) - U'a' + 10;
      v = v * base + x;
      if (v > 0xFFFFFFFFull) refuse("the repetition number is too large", tell());
    }
    return static_cast<uint32_t>(v);
  }

  // \x, \u, \U: exactly 2, 4 or 8 hex digits.
  char32_t hex_escape(char32_t kind) {
    const size_t want = kind == U'x' ? 2 : kind == U'u' ? 4 : 8;
    std::u32string d = get_while(want, is_hexdigit);
    if (d.size() != want) refuse("incomplete escape \\" + describe(kind), tell());
    uint32_t v = to_int(d, 16);
    if (v > 0x10FFFF) refuse("bad escape \\U", tell());
    return v;
  }

  // Escapes that mean the same inside and outside a set, or nullopt.
  std::optional<char32_t> simple_escape(char32_t c) {
    switch (c) {
      case U'a': return 7;
      case U'f': return 12;
      case U'n': return 10;
      case U'r': return 13;
      case U't': return 9;
      case U'v': return 11;
      case U'\\': return U'\\';
      default: return std::nullopt;
    }
  }
  static std::optional<Cat> category_escape(char32_t c) {
    switch (c) {
      case U'd': return Cat::Digit;
      case U'D': return Cat::NotDigit;
      case U's': return Cat::Space;
      case U'S': return Cat::NotSpace;
      case U'w': return Cat::Word;
      case U'W': return Cat::NotWord;
      default: return std::nullopt;
    }
  }

  // Escape inside a character set: a literal or a category item.
  SetItem class_escape(char32_t c) {
    const size_t where = tell() - 2;
    if (c == U'b') return {SetItem::Literal, 8, 0};
    if (auto v = simple_escape(c)) return {SetItem::Literal, *v, 0};
    if (auto cat = category_escape(c)) return {SetItem::Category, 0, 0, *cat};
    if (c == U'x' || c == U'u' || c == U'U') return {SetItem::Literal, hex_escape(c), 0};
    if (c == U'N') refuse("named character escapes are not supported", where);
    if (is_octdigit(c)) {
      std::u32string d(1, c);
      d += get_while(2, is_octdigit);
      uint32_t v = to_int(d, 8);
      if (v > 0377) refuse("octal escape value outside of range 0-0o377", tell());
      return {SetItem::Literal, v, 0};
    }
    if (is_digit(c) || is_ascii_letter(c)) refuse("bad escape \\" + describe(c), where);
    return {SetItem::Literal, c, 0};
  }

  // Escape outside a set.
  Node escape(char32_t c) {
    const size_t where = tell() - 2;
    switch (c) {
      case U'A': return at(AtKind::BeginningString);
      case U'Z': return at(AtKind::EndString);
      case U'b': return at(AtKind::Boundary);
      case U'B': return at(AtKind::NonBoundary);
      default: break;
    }
    if (auto cat = category_escape(c)) return category(*cat);
    if (auto v = simple_escape(c)) return literal(*v);
    if (c == U'x' || c == U'u' || c == U'U') return literal(hex_escape(c));
    if (c == U'N') refuse("named character escapes are not supported", where);
    if (c == U'0') {
      std::u32string d(1, c);
      d += get_while(2, is_octdigit);
      return literal(to_int(d, 8));
    }
    if (is_digit(c)) {
      // Three octal digits make an octal escape; anything else is a group reference.
      if (!next_.none && !next_.esc && is_digit(next_.c)) {
        char32_t c2 = get().c;
        if (is_octdigit(c) && is_octdigit(c2) && !next_.none && !next_.esc && is_octdigit(next_.c)) {
          char32_t c3 = get().c;
          uint32_t v = to_int(std::u32string{c, c2, c3}, 8);
          if (v > 0377) refuse("octal escape value outside of range 0-0o377", tell());
          return literal(v);
        }
      }
      refuse("group references are not supported", where);
    }
    if (is_ascii_letter(c)) refuse("bad escape \\" + describe(c), where);
    return literal(c);
  }

  Node parse_set() {
    std::vector<SetItem> set;
    const bool negate = match(U'^');
    for (;;) {
      Tok t = get();
      if (t.none) refuse("unterminated character set", tell());
      if (t.is(U']') && !set.empty()) break;
      SetItem first = t.esc ? class_escape(t.c) : SetItem{SetItem::Literal, t.c, 0};
      if (match(U'-')) {
        Tok u = get();
        if (u.none) refuse("unterminated character set", tell());
        if (u.is(U']')) {
          set.push_back(first);
          set.push_back({SetItem::Literal, U'-', 0});
          break;
        }
        SetItem second = u.esc ? class_escape(u.c) : SetItem{SetItem::Literal, u.c, 0};
        if (first.kind != SetItem::Literal || second.kind != SetItem::Literal || second.lo < first.lo)
          refuse("bad character range", tell());
        set.push_back({SetItem::Range, first.lo, second.lo});
      } else {
        set.push_back(first);
      }
    }
    uniq(set);
    if (set.size() == 1 && set[0].kind == SetItem::Literal) {
      Node n = make(negate ? Node::NotLiteral : Node::Literal);
      n.ch = set[0].lo;
      return n;
    }
    if (negate) set.insert(set.begin(), SetItem{SetItem::Negate, 0, 0});
    Node n = make(Node::In);
    n.set = std::move(set);
    return n;
  }

  // Applies a quantifier that starts at `here` (the token `q` already consumed) to the last item.
  // Returns false when `{` turns out to be a literal.
  bool parse_repeat(Seq& seq, Tok q, size_t here) {
    uint32_t min = 0, max = kMaxRepeat;
    if (q.c == U'?') {
      max = 1;
    } else if (q.c == U'+') {
      min = 1;
    } else if (q.c == U'{') {
      if (next_.is(U'}')) {
        seq.push_back(literal(U'{'));
        return false;
      }
      std::u32string lo = get_while(SIZE_MAX, is_digit), hi;
      if (match(U',')) {
        hi = get_while(SIZE_MAX, is_digit);
      } else {
        hi = lo;
      }
      if (!match(U'}')) {
        seq.push_back(literal(U'{'));
        seek(here);
        return false;
      }
      if (!lo.empty()) {
        min = to_int(lo, 10);
        if (min >= kMaxRepeat) refuse("the repetition number is too large", tell());
      }
      if (!hi.empty()) {
        max = to_int(hi, 10);
        if (max >= kMaxRepeat) refuse("the repetition number is too large", tell());
        if (max < min) refuse("min repeat greater than max repeat", tell());
      }
    }
    if (seq.empty() || seq.back().kind == Node::At) refuse("nothing to repeat", here - 1);
    if (seq.back().kind == Node::Repeat) refuse("multiple repeat", here - 1);
    Node item = std::move(seq.back());
    seq.pop_back();
    Node r = make(Node::Repeat);
    r.min = min;
    r.max = max;
    if (item.kind == Node::Group && !item.capture) {
      r.body = std::move(item.body);
    } else {
      r.body.push_back(std::move(item));
    }
    if (match(U'?')) {
      r.greedy = false;
    } else if (next_.is(U'+')) {
      refuse("possessive repeats are not supported", tell());
    }
    seq.push_back(std::move(r));
    return true;
  }

  void parse_group(Seq& seq) {
    const size_t start = tell() - 1;  // the opening parenthesis
    bool capture = true;
    if (match(U'?')) {
      Tok c = get();
      if (c.none) refuse("unexpected end of pattern", tell());
      if (c.is(U'P')) {
        if (!match(U'<')) refuse("named backreferences and ?P extensions are not supported", start);
        std::u32string name;
        for (;;) {
          Tok t = get();
          if (t.none) refuse("missing >, unterminated name", tell());
          if (t.is(U'>')) break;
          if (t.esc) refuse("bad character in group name", tell());
          name += t.c;
        }
        // re accepts any identifier; we accept the ASCII ones, which are all that matter here.
        bool ok = !name.empty() && !is_digit(name[0]);
        for (char32_t ch : name) ok = ok && (is_ascii_letter(ch) || is_digit(ch) || ch == U'_');
        if (!ok) refuse("bad character in group name", tell());
        if (std::find(names_.begin(), names_.end(), name) != names_.end())
          refuse("redefinition of group name", tell());
        names_.push_back(name);
      } else if (c.is(U':')) {
        capture = false;
      } else if (c.is(U'#')) {
        for (;;) {
          if (next_.none) refuse("missing ), unterminated comment", tell());
          if (get().is(U')')) break;
        }
        return;
      } else if (c.is(U'=') || c.is(U'!') || c.is(U'<')) {
        Node look = make(Node::Look);
        look.offset = start;
        if (c.is(U'<')) {
          Tok d = get();
          if (d.none) refuse("unexpected end of pattern", tell());
          if (!d.is(U'=') && !d.is(U'!')) refuse("unknown extension ?<" + describe(d.c), start + 1);
          look.behind = true;
          look.negate = d.is(U'!');
        } else {
          look.negate = c.is(U'!');
        }
        if (nested_look_) refuse("a lookaround inside a lookaround is not supported", start);
        nested_look_ = true;
        look.body = parse_sub(1);
        nested_look_ = false;
        if (!match(U')')) refuse("missing ), unterminated subpattern", start);
        seq.push_back(std::move(look));
        return;
      } else {
        refuse("inline flags, conditionals and atomic groups are not supported", start);
      }
    }
    Node g = make(Node::Group);
    g.capture = capture;
    g.body = parse_sub(1);
    if (!match(U')')) refuse("missing ), unterminated subpattern", tell());
    seq.push_back(std::move(g));
  }

  Seq parse_seq() {
    Seq seq;
    for (;;) {
      if (next_.none || next_.is(U'|') || next_.is(U')')) break;
      const size_t here_before = tell();
      Tok t = get();
      if (t.esc) {
        seq.push_back(escape(t.c));
        continue;
      }
      switch (t.c) {
        case U'[':
          seq.push_back(parse_set());
          break;
        case U'?':
        case U'*':
        case U'+':
        case U'{':
          parse_repeat(seq, t, here_before + 1);
          break;
        case U'.':
          seq.push_back(make(Node::Any));
          break;
        case U'(':
          parse_group(seq);
          break;
        case U'^':
          seq.push_back(at(AtKind::Beginning));
          break;
        case U'$':
          seq.push_back(at(AtKind::End));
          break;
        default:
          seq.push_back(literal(t.c));
          break;
      }
    }
    // Non-capturing groups dissolve into the sequence.
    Seq out;
    out.reserve(seq.size());
    for (Node& n : seq) {
      if (n.kind == Node::Group && !n.capture) {
        for (Node& m : n.body) out.push_back(std::move(m));
      } else {
        out.push_back(std::move(n));
      }
    }
    return out;
  }

  Seq parse_sub(int nested) {
    std::vector<Seq> items;
    items.push_back(parse_seq());
    while (match(U'|')) items.push_back(parse_seq());
    (void)nested;
    if (items.size() == 1) return std::move(items[0]);

    Seq out;
    // Move a first item shared by every alternative out of the branch.
    for (;;) {
      bool common = true;
      for (const Seq& it : items) {
        if (it.empty() || !it[0].same_item(items[0][0])) {
          common = false;
          break;
        }
      }
      if (!common) break;
      out.push_back(items[0][0]);
      for (Seq& it : items) it.erase(it.begin());
    }
    // Alternatives that are all single literals or plain sets become one set.
    std::vector<SetItem> set;
    bool all_chars = true;
    for (const Seq& it : items) {
      if (it.size() != 1) {
        all_chars = false;
        break;
      }
      const Node& n = it[0];
      if (n.kind == Node::Literal) {
        set.push_back({SetItem::Literal, n.ch, 0});
      } else if (n.kind == Node::In && n.set[0].kind != SetItem::Negate) {
        set.insert(set.end(), n.set.begin(), n.set.end());
      } else {
        all_chars = false;
        break;
      }
    }
    if (all_chars) {
      uniq(set);
      Node n = make(Node::In);
      n.set = std::move(set);
      out.push_back(std::move(n));
      return out;
    }
    Node b = make(Node::Branch);
    b.alts = std::move(items);
    out.push_back(std::move(b));
    return out;
  }

  std::u32string_view s_;
  unsigned flags_;
  size_t index_ = 0;
  Tok next_;
  std::vector<std::u32string> names_;
  bool nested_look_ = false;
};

}  // namespace

Parsed parse(std::u32string_view source, unsigned flags) { return Parser(source, flags).run(); }

void refuse(const std::string& what, size_t offset) {
  throw CompileError(what + " at position " + std::to_string(offset));
}

}  // namespace tessera::rx::detail
