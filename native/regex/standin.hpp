// One-byte stand-ins for wide text (PatternSet::stand_in).
//
// Every question a program asks of a character is one of its char tests (`.` included), or whether it
// is a word character (\b, \B), or whether it is "\n" (^ and $ under MULTILINE, $ before a final
// newline). A character above U+00FF can therefore be
// replaced by any Latin-1 character that answers all of those questions as it does, and the text that
// results matches exactly as the original: same spans, at the same positions. The one-byte scanners are
// several times faster than the wide ones, and most wide scripts are wide for one byte-order mark or a
// typographic quote, so the copy pays for itself many times over.
//
// The answers of a character to a set's tests form its signature, one bit per distinct test. Those of
// the 256 Latin-1 characters are computed once per set; a wide character's, once per call and
// distinct character (few in real text).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "regex_impl.hpp"

namespace tessera::rx::detail {

class StandIns {
 public:
  // The tests of the programs, and of every program they hold (lookaround bodies, alternatives,
  // spelled-out keywords): whatever the scanners may run over the text.
  void build(const std::vector<const Program*>& programs);

  // Writes the stand-in of t[0, n) to out[0, n) (out grows to n when shorter); false when some
  // character has none, or when working the wide characters out would cost more than a scan of the
  // original (text of many distinct wide characters). Ch is uint16_t or uint32_t.
  template <class Ch>
  bool copy(const Ch* t, size_t n, std::vector<uint8_t>& out) const;

 private:
  // The Latin-1 character that stands for c (c >= 256), or -1 when none does.
  int pick(char32_t c) const;
  // What decides every answer of a character without case (lower and upper case are itself, as for
  // the letters of most scripts, symbols and marks): where it falls among the characters and range
  // ends the tests name (`bounds_`), and whether it is a word, space or digit character. Thousands of
  // distinct ideographs have a handful of keys, and need a signature each only once.
  static bool uncased(char32_t c) { return to_lower(c) == c && to_upper(c) == c; }
  uint64_t key(char32_t c) const;
  std::vector<char32_t> bounds_;
  // Bit k of word k / 64 of a signature: the answer of tests_[k]; the last bit past the tests is the
  // word test.
  void signature(char32_t c, uint64_t* out) const;
  std::vector<const CharTest*> tests_;
  size_t words_ = 1;
  // The distinct signatures of the Latin-1 characters that may stand in ("\n" may not: the line
  // tests see it alone), words_ each, and the character standing for each.
  std::vector<uint64_t> classes_;
  std::vector<uint8_t> reps_;
};

}  // namespace tessera::rx::detail
