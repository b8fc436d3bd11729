// Exact, linear-time matcher for the host's `re` dialect (str patterns), used by the native modules so
// that no script text is ever handed to Python's `re`.
//
// Compilation happens at module load with the GIL held; every const method may then run concurrently
// on any thread without the GIL (per-call scratch is thread-local, never stored in the objects).
#pragma once
#include <Python.h>  // Py_UCS1/2/4 and the Py_UNICODE_IS*/TOLOWER predicates

#include <cstddef>
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

namespace detail {
struct Program;
struct SetImpl;
}  // namespace detail

class Pattern {
 public:
  Pattern(std::u32string_view source, unsigned flags);  // throws CompileError on syntax it does not support

  // Exact `re` semantics for a str pattern over text[0, n) (the whole string: \b, ^, $ see the real edges).
  template <class Ch> bool search(const Ch* text, size_t n) const;       // pattern.search(text) is not None
  template <class Ch> size_t count_all(const Ch* text, size_t n) const;  // len(pattern.findall(text))
  // end of pattern.match(text, pos)
  template <class Ch> std::optional<size_t> match(const Ch* text, size_t n, size_t pos = 0) const;
  // all spans of finditer, for substitution callers: appends (start, end) pairs
  template <class Ch>
  void find_all(const Ch* text, size_t n, std::vector<std::pair<size_t, size_t>>& out) const;

 private:
  friend class PatternSet;
  std::shared_ptr<const detail::Program> prog_;
};

// Many patterns over one text, in one left-to-right pass.
class PatternSet {
 public:
  enum class Mode { Search, Count };

  PatternSet();
  ~PatternSet();
  PatternSet(const PatternSet&);
  PatternSet& operator=(const PatternSet&);
  PatternSet(PatternSet&&) noexcept;
  PatternSet& operator=(PatternSet&&) noexcept;

  size_t add(const Pattern& p, Mode m);  // returns the pattern's index; call before run
  // out.size() becomes the number of added patterns; out[i] = 1/0 for Search ("does it match anywhere"),
  // the number of non-overlapping findall matches for Count.
  template <class Ch> void run(const Ch* text, size_t n, std::vector<size_t>& out) const;

 private:
  std::unique_ptr<detail::SetImpl> impl_;
};

}  // namespace tessera::rx
