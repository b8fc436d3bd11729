// The answers of agents.tessera.complexity without the interpreter: the counts and grade of a script,
// its turn budgets, and the reading plan of a long file. Nothing here touches a Python object, so any
// module (or any thread, without the GIL) can ask, as long as the text's storage stays alive.
#pragma once

#include "regex/regex.hpp"
#include "text/view.hpp"

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace tessera::complexity {

// ---- the pattern tables -----------------------------------------------------------------------------

// A pattern as the module writes it once: the text and flags of the exposed `re` object, which the
// native matcher compiles from the very same text.
struct PatternText {
  const char* text;
  unsigned flags;
};

inline constexpr unsigned kI = rx::IGNORECASE;

inline constexpr std::array<PatternText, 15> kComplexPatterns = {{
    {R"(\bCURSOR\b)", kI},
    {R"(\bDECLARE\s+\w+\s+CURSOR\b)", kI},
    {R"(\bEXEC(?:UTE)?\s*\()", kI},
    {R"(\bsp_executesql\b)", kI},
    {R"(\bDYNAMIC\b)", kI},
    {R"(\bBEGIN\s+TRY\b)", kI},
    {R"(\bBEGIN\s+CATCH\b)", kI},
    {R"(\bMERGE\b)", kI},
    {R"(\bOPENXML\b)", kI},
    {R"(\bhierarchyid\b)", kI},
    {R"(\bgeography\b)", kI},
    {R"(\bgeometry\b)", kI},
    {R"(\bFOR\s+XML\b)", kI},
    {R"(\bOPENJSON\b)", kI},
    {R"(\bLINKED\s+SERVER\b)", kI},
}};

inline constexpr std::array<PatternText, 9> kModeratePatterns = {{
    {R"(\bWITH\s+\w+\s*(?:\([^)]*\))?\s*AS\s*\()", kI},
    {R"(#\w+)", kI},
    {R"(\bCREATE\s+TABLE\b)", kI},
    {R"(\bWHILE\b)", kI},
    {R"(\bIF\s+EXISTS\b)", kI},
    {R"(\bCASE\s+WHEN\b)", kI},
    {R"(\bOVER\s*\()", kI},
    {R"(\bPIVOT\b)", kI},
    {R"(\bUNPIVOT\b)", kI},
}};

inline constexpr PatternText kStoredProcPattern = {R"(\bCREATE\s+(?:OR\s+ALTER\s+)?PROC(?:EDURE)?\b)", kI};

// Only exposed: the native comment stripper implements these two substitutions directly.
inline constexpr std::array<PatternText, 2> kCommentPatterns = {{
    {R"(--.*$)", rx::MULTILINE},
    {R"(/\*.*?\*/)", rx::DOTALL},
}};

// The two counters share their text with the CTE and temp-table entries of the moderate table; the
// temp-table counter is case-sensitive (it has no letters, so this changes nothing but the flags).
inline constexpr PatternText kTempTablePattern = {kModeratePatterns[1].text, 0};
inline constexpr PatternText kCtePattern = {kModeratePatterns[0].text, kI};

// Shown to the host as compiled `re` objects and read by nothing in this module.
inline constexpr std::array<PatternText, 5> kSectionDelimiters = {{
    {R"(^\s*GO\s*$)", rx::IGNORECASE | rx::MULTILINE},
    {R"(^\s*CREATE\s+(?:OR\s+ALTER\s+)?(?:PROC|PROCEDURE|FUNCTION|VIEW|TRIGGER)\b)", rx::IGNORECASE | rx::MULTILINE},
    {R"(^--\s*={3,})", rx::MULTILINE},
    {R"(^--\s*-{3,})", rx::MULTILINE},
    {R"(^--\s*Section\s+\d)", rx::IGNORECASE | rx::MULTILINE},
}};

// ---- grading ----------------------------------------------------------------------------------------

struct Counts {
  size_t effective_lines = 0;  // non-blank lines once comments are removed
  size_t complex = 0;          // distinct complex constructs
  size_t moderate = 0;         // distinct moderate constructs
  size_t stored_procs = 0;
  size_t temp_tables = 0;
  size_t ctes = 0;
};

// In the order of the host's enumeration members.
enum class Grade : std::uint8_t { Simple, Moderate, Complex };

// A script is complex past any of these...
inline constexpr size_t kComplexAboveLines = 300;
inline constexpr size_t kComplexAboveProcs = 1;
// ...and moderate past any of these, or with exactly this many procedures.
inline constexpr size_t kModerateAboveLines = 50;
inline constexpr size_t kModerateAboveConstructs = 2;
inline constexpr size_t kModerateProcs = 1;

constexpr Grade grade_of(const Counts& c) noexcept {
  if (c.complex > 0 || c.effective_lines > kComplexAboveLines || c.stored_procs > kComplexAboveProcs)
    return Grade::Complex;
  if (c.moderate > kModerateAboveConstructs || c.effective_lines > kModerateAboveLines ||
      c.stored_procs == kModerateProcs)
    return Grade::Moderate;
  return Grade::Simple;
}

// Compiles the matchers now rather than on first use, so that a module can fail its load instead.
void prepare();

// The counts of classify_sql. Extra memory stays under a fifth of the text's own size (8192
// characters at least): the comment-free text is scanned in windows, never copied whole.
Counts count(text::View text);
// The same counts for a text that has been through classify_sql's comment removal already (a piece
// of a larger comment-free text, say): nothing more is removed.
Counts count_comment_free(text::View comment_free);

struct Classification {
  Counts counts;
  Grade grade;
};
inline Classification classify(text::View text) {
  const Counts c = count(text);
  return {c, grade_of(c)};
}

// ---- turn budgets -----------------------------------------------------------------------------------
//
// Each formula is written once, over any number type that offers floor_div, mul, add, less and
// positive (found by argument-dependent lookup, or the long long versions below), so the exact-integer
// path and the path that runs the host's own number protocol on hand-built records cannot drift apart.
// The steps run in the order the host's expression evaluates them, which decides which error a bad
// field value raises first.

constexpr long long floor_div(long long a, long long b) noexcept {
  long long q = a / b;
  if (a % b != 0 && ((a < 0) != (b < 0))) --q;
  return q;
}
constexpr long long mul(long long a, long long b) noexcept { return a * b; }
constexpr long long add(long long a, long long b) noexcept { return a + b; }
constexpr bool less(long long a, long long b) noexcept { return a < b; }
constexpr bool positive(long long a) noexcept { return a > 0; }

// min(a, b) as the host computes it: the first argument unless the second compares smaller.
template <class Num>
Num min_of(Num a, Num b) {
  return less(b, a) ? b : a;
}

inline constexpr long long kAuditTurns = 3;

template <class Num>
Num analysis_turns(const Num& effective_lines, const Num& complex_constructs) {
  const Num chunk_turns = min_of(floor_div(effective_lines, Num(300)), Num(3));
  const Num construct_turns = min_of(complex_constructs, Num(2));
  const Num total = add(add(Num(3), chunk_turns), construct_turns);
  return min_of(total, Num(8));
}

template <class Num>
Num conversion_turns(const Num& effective_lines, const Num& complex_constructs, const Num& stored_procs) {
  const Num line_turns = mul(floor_div(effective_lines, Num(100)), Num(2));
  const Num construct_turns = mul(complex_constructs, Num(2));
  const Num proc_turns = Num(positive(stored_procs) ? 3 : 0);
  Num total = add(Num(5), line_turns);
  total = add(total, construct_turns);
  total = add(total, proc_turns);
  total = add(total, Num(4));
  return min_of(total, Num(40));
}

struct Budget {
  long long analysis;
  long long conversion;
  long long audit;
};
inline Budget budget_of(const Counts& c) {
  const auto lines = static_cast<long long>(c.effective_lines);
  const auto complex = static_cast<long long>(c.complex);
  return {analysis_turns(lines, complex), conversion_turns(lines, complex, static_cast<long long>(c.stored_procs)),
          kAuditTurns};
}

// ---- reading plans ----------------------------------------------------------------------------------

struct Section {
  size_t start;  // 1-based first and last line of the section
  size_t end;
  // The hint is either a piece of the text (the stripped line cut to 50 characters: hint_size code
  // points from hint_begin) or, when block_lines is non-zero, the text "SQL block (N lines)".
  size_t hint_begin = 0;
  size_t hint_size = 0;
  size_t block_lines = 0;
};

struct Plan {
  size_t total_lines = 0;
  size_t first_read = 0;
  bool chunked = false;
  std::vector<Section> sections;
};

// The plan of plan_reading_strategy for a file's text, in which every line after the first read
// belongs to a section.
Plan plan_reading(text::View text);

}  // namespace tessera::complexity
