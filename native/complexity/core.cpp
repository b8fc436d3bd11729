#include "complexity/core.hpp"

#include "regex/regex.hpp"
#include "text/sqltext.hpp"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <memory>
#include <string>
#include <vector>

namespace tessera::complexity {
namespace {

std::u32string widen(const char* ascii) {
  std::u32string out;
  for (const char* p = ascii; *p; ++p) out.push_back(static_cast<char32_t>(static_cast<unsigned char>(*p)));
  return out;
}

// ---- grading ----------------------------------------------------------------------------------------

// The CTE and temp-table entries of the moderate table are the two counters' patterns (the temp-table
// pattern has no letters, so its case flag changes nothing): a counter's find-all count says whether
// its entry matches, and the entry is not scanned for a second time.
constexpr size_t kCteEntry = 0, kTempTableEntry = 1;
static_assert(kModeratePatterns[kCteEntry].text == kCtePattern.text);
static_assert(kModeratePatterns[kTempTableEntry].text == kTempTablePattern.text);

// The patterns in one set, so the comment-free text is scanned once: the construct tables only ask
// whether each entry matches anywhere, the three counters ask for find-all counts.
class Classifier {
 public:
  Classifier() {
    for (const auto& p : kComplexPatterns) add(p, rx::PatternSet::Mode::Search);
    for (size_t i = 0; i < kModeratePatterns.size(); ++i)
      if (i != kCteEntry && i != kTempTableEntry) add(kModeratePatterns[i], rx::PatternSet::Mode::Search);
    searched_ = set_.size();
    add(kStoredProcPattern, rx::PatternSet::Mode::Count);
    add(kTempTablePattern, rx::PatternSet::Mode::Count);
    add(kCtePattern, rx::PatternSet::Mode::Count);
  }

  template <class Ch>
  Counts run(const Ch* s, size_t n) const {
    return tally<Ch>([&](auto&& window) {
      text::for_each_comment_free_window(s, n, text::comment_free_window_limit(n),
                                        text::CutAfterParen{}, window);
    });
  }

  // The same for a text that is comment-free already, in one window: there is no copy to bound, and
  // each further window would be a pass of its own.
  template <class Ch>
  Counts run_comment_free(const Ch* s, size_t n) const {
    return tally<Ch>([&](auto&& window) { window(s, n); });
  }

  // The counts over the windows that for_each_window hands, in order, to the function it is given.
  template <class Ch, class Windows>
  Counts tally(Windows&& for_each_window) const {
    std::vector<size_t> hits(set_.size()), window_hits;
    // The construct tables ask only whether an entry matches: one found in a window is not looked for
    // in the next ones.
    rx::PatternSet::Pieces pieces(set_);
    const size_t searched = searched_;
    size_t lines = 0, windows = 0;
    for_each_window([&](const auto* w, size_t m) {
      ++windows;
      lines += text::count_nonblank_lines(w, m);
      set_.run(w, m, window_hits, pieces);
      for (size_t i = 0; i < hits.size(); ++i) hits[i] += window_hits[i];
    });
    Counts c;
    // Every cut falls inside a line (between two visible characters), which both windows counted.
    c.effective_lines = lines - (windows - 1);
    size_t i = 0;
    for (; i < kComplexPatterns.size(); ++i) c.complex += hits[i] != 0;
    for (; i < searched; ++i) c.moderate += hits[i] != 0;
    c.stored_procs = hits[i++];
    c.temp_tables = hits[i++];
    c.ctes = hits[i++];
    c.moderate += (c.temp_tables != 0) + (c.ctes != 0);
    return c;
  }

  // Windows end only where no match of the 27 patterns can span (text::cut_after_paren): of the
  // patterns' pieces only the CTE pattern's "\)" takes a ")", and what must follow it (\s*AS) cannot
  // begin with punctuation; "\b" is false at the cut in the window as in the whole text, and no
  // pattern looks behind or at line ends. So each window has exactly the matches the whole text has
  // there, and a find-all that resumes at the cut resumes where it would in the whole text.

 private:
  void add(const PatternText& p, rx::PatternSet::Mode mode) {
    patterns_.push_back(std::make_unique<rx::Pattern>(widen(p.text), p.flags));
    set_.add(*patterns_.back(), mode);
  }

  std::vector<std::unique_ptr<rx::Pattern>> patterns_;  // outlives set_, which may refer to them
  rx::PatternSet set_;
  size_t searched_ = 0;  // the set's first entries: the construct tables' Search patterns
};

// Compiled once, on first use; immutable afterwards, so concurrent callers share it without locking.
const Classifier& classifier() {
  static const Classifier instance;
  return instance;
}

// ---- reading plans ----------------------------------------------------------------------------------

// The planner's own boundary tests. They are applied to one stripped line at a time, anchored at its
// start, so unlike the delimiter table they need no MULTILINE, and views and triggers don't cut a file.
constexpr PatternText kBatchSeparator = {R"(^GO\s*$)", rx::IGNORECASE};
constexpr PatternText kRoutineHead = {R"(^CREATE\s+(?:OR\s+ALTER\s+)?(?:PROC|PROCEDURE|FUNCTION)\b)", rx::IGNORECASE};

struct BoundaryTests {
  rx::Pattern separator{widen(kBatchSeparator.text), kBatchSeparator.flags};
  rx::Pattern head{widen(kRoutineHead.text), kRoutineHead.flags};

  // The stripped line is handed over as a text of its own, so that `$` and `\b` see its edges and not
  // the neighbouring characters of the file.
  template <class Ch>
  bool match(const Ch* line, size_t n) const {
    const Ch c = line[0];
    if (c == Ch('G') || c == Ch('g')) return separator.match(line, n).has_value();
    return head.match(line, n).has_value();
  }

  // Both tests open with a letter that nothing but its own two ASCII cases folds to (G, C), so most
  // lines are settled by their first non-space character without stripping them or running a test.
  template <class Ch>
  static bool may_match(Ch first) {
    return first == Ch('G') || first == Ch('g') || first == Ch('C') || first == Ch('c');
  }
};

const BoundaryTests& boundary_tests() {
  static const BoundaryTests tests;
  return tests;
}

constexpr size_t kWholeFileLimit = 500;
constexpr size_t kLinesPerSection = 300;
constexpr size_t kFewestSections = 2;
constexpr size_t kMostSections = 5;
constexpr size_t kFirstRead = 150;
constexpr size_t kSmallestSection = 20;
constexpr size_t kHintChars = 50;

template <class Ch>
Plan plan(const Ch* s, size_t n) {
  const BoundaryTests& tests = boundary_tests();
  std::vector<size_t> line_begin;
  std::vector<size_t> majors;
  text::for_each_line(s, n, [&](size_t begin, size_t end) {
    line_begin.push_back(begin);
    size_t first = begin;
    // Indentation is mostly blanks and tabs; the general whitespace test only sees what follows them.
    while (first < end && (s[first] == Ch(' ') || s[first] == Ch('\t'))) ++first;
    while (first < end && (text::classes(s[first]) & text::kSpace)) ++first;
    if (first == end || !tests.may_match(s[first])) return;
    const auto [b, e] = text::strip(s, first, end);
    if (tests.match(s + b, e - b)) majors.push_back(line_begin.size());
  });

  Plan p;
  const size_t total = line_begin.size();
  p.total_lines = total;
  p.first_read = total;
  if (total <= kWholeFileLimit) return p;
  p.chunked = true;

  const size_t target = std::clamp(total / kLinesPerSection, kFewestSections, kMostSections);
  if (majors.size() > target) {
    const size_t step = std::max<size_t>(1, majors.size() / target);
    for (size_t i = 0; i < target; ++i) majors[i] = majors[i * step];
    majors.resize(target);
  }
  // A lone structural line says nothing about where the rest of the file divides.
  if (majors.size() <= 1) {
    const size_t chunk = total / target;
    majors.clear();
    for (size_t i = 1; i < target; ++i) majors.push_back(chunk * i);
  }

  std::vector<size_t> edges;
  edges.reserve(majors.size() + 2);
  edges.push_back(1);
  edges.insert(edges.end(), majors.begin(), majors.end());
  edges.push_back(total);
  std::sort(edges.begin(), edges.end());
  edges.erase(std::unique(edges.begin(), edges.end()), edges.end());

  const size_t first_read = std::min(kFirstRead, total);
  p.first_read = first_read;

  auto hinted = [&](size_t start, size_t end) {
    Section section{start, end};
    const size_t index = start - 1;
    if (start >= 1 && index < total) {
      const size_t begin = line_begin[index];
      const size_t stop = text::find_line_break(s, begin, n);
      const auto [b, e] = text::strip(s, begin, stop);
      const size_t size = std::min(e - b, kHintChars);
      const bool comment = size >= 2 && s[b] == Ch('-') && s[b + 1] == Ch('-');
      if (size > 0 && !comment) {
        section.hint_begin = b;
        section.hint_size = size;
        return section;
      }
    }
    section.block_lines = end - start + 1;
    return section;
  };

  // A pair too short to stand alone still has to be read: it joins the section before it, or, when
  // there is none yet, the next pair starts where it started. Every line after the first read thus
  // belongs to a section. (The last pair ends at total_lines >= 501, so a carried start always lands.)
  bool carried = false;
  size_t carried_start = 0;
  for (size_t i = 0; i + 1 < edges.size(); ++i) {
    size_t start = edges[i];
    const size_t end = edges[i + 1];
    if (end <= first_read) continue;
    if (start < first_read) start = first_read + 1;
    if (carried) {
      start = carried_start;
      carried = false;
    }
    if (end - start < kSmallestSection) {
      if (!p.sections.empty()) {
        p.sections.back().end = end;
      } else {
        carried = true;
        carried_start = start;
      }
      continue;
    }
    p.sections.push_back(hinted(start, end));
  }

  // Too many sections: merge the neighbouring pair with the smallest combined span, the earliest on a
  // tie. The merged section keeps its first half's hint as it was.
  while (p.sections.size() > target) {
    size_t min_span = std::numeric_limits<size_t>::max();  // no span reaches it
    size_t min_index = 0;
    for (size_t i = 0; i + 1 < p.sections.size(); ++i) {
      const size_t span = p.sections[i + 1].end - p.sections[i].start;
      if (span < min_span) {
        min_span = span;
        min_index = i;
      }
    }
    p.sections[min_index].end = p.sections[min_index + 1].end;
    p.sections.erase(p.sections.begin() + static_cast<std::ptrdiff_t>(min_index) + 1);
  }
  return p;
}

}  // namespace

void prepare() {
  classifier();
  boundary_tests();
}

Counts count(text::View text) {
  return text.visit([](const auto* s, size_t n) { return classifier().run(s, n); });
}

Counts count_comment_free(text::View comment_free) {
  return comment_free.visit([](const auto* s, size_t n) { return classifier().run_comment_free(s, n); });
}

Plan plan_reading(text::View text) {
  return text.visit([](const auto* s, size_t n) { return plan(s, n); });
}

}  // namespace tessera::complexity
