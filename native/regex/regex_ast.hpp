// Parse tree of a pattern. It mirrors the tree the host's `re` parser builds (same node kinds, same
// rewrites such as the common-prefix factoring of alternatives and single-character alternations turned
// into sets), because `re` compiles sets and literals differently under IGNORECASE and we must match
// whatever it matches.
#pragma once
#include "regex_impl.hpp"

namespace tessera::rx::detail {

inline constexpr uint32_t kMaxRepeat = 0xFFFFFFFFu;  // "no upper bound"

enum class AtKind : uint8_t { Beginning, BeginningString, End, EndString, Boundary, NonBoundary };

struct SetItem {
  enum Kind : uint8_t { Negate, Literal, Range, Category } kind;
  char32_t lo = 0, hi = 0;  // Literal: lo; Range: lo..hi
  Cat cat = Cat::Digit;
  bool operator==(const SetItem& o) const {
    return kind == o.kind && lo == o.lo && hi == o.hi && (kind != Category || cat == o.cat);
  }
};

struct Node;
using Seq = std::vector<Node>;

struct Node {
  enum Kind : uint8_t { Literal, NotLiteral, In, Any, At, Branch, Group, Repeat, Look } kind;
  char32_t ch = 0;            // Literal, NotLiteral
  std::vector<SetItem> set;   // In
  AtKind at = AtKind::Beginning;
  std::vector<Seq> alts;      // Branch
  Seq body;                   // Group, Repeat, Look
  uint32_t min = 0, max = 0;  // Repeat
  bool greedy = true;         // Repeat
  bool capture = false;       // Group
  bool behind = false, negate = false;  // Look
  size_t offset = 0;          // where the construct starts in the pattern, for error messages

  // The equality `re` uses when it factors a common first item out of alternatives: by value for
  // characters, sets and assertions, by identity (never equal here) for everything else.
  bool same_item(const Node& o) const;
};

struct Parsed {
  Seq seq;
  unsigned flags;
};

Parsed parse(std::u32string_view source, unsigned flags);  // throws CompileError

// "<what> at position <offset>", the form `re` gives its own errors.
[[noreturn]] void refuse(const std::string& what, size_t offset);

}  // namespace tessera::rx::detail
