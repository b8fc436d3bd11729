#include "reference_curator/core.hpp"

#include "regex/regex.hpp"
#include "text/sqltext.hpp"

#include <memory>
#include <string>
#include <vector>

namespace tessera::curator {
namespace {

class Detector {
 public:
  Detector() {
    for (const Category& c : kCategories) {
      std::u32string source;
      for (const char* p = c.pattern; *p; ++p) source.push_back(static_cast<unsigned char>(*p));
      patterns_.push_back(std::make_unique<rx::Pattern>(source, rx::IGNORECASE));
      set_.add(*patterns_.back(), rx::PatternSet::Mode::Search);
    }
  }

  // The comment-free text is scanned in windows, as grading scans it, so that no copy of the whole
  // script is made; a category found in one window is not looked for in the next ones. Windows end
  // only where no match can span (text::cut_after_paren): of the patterns' pieces only the CTE
  // pattern's "\)" takes a ")", and what must follow it (\s*AS) cannot begin with punctuation; "\b"
  // is false at the cut in the window as in the whole text, and no pattern looks behind or at line
  // ends.
  template <class Ch>
  CategorySet run(const Ch* s, size_t n) const {
    std::vector<size_t> hits;
    std::vector<char> found(kCategoryCount, 0);
    rx::PatternSet::Pieces pieces(set_);
    text::for_each_comment_free_window(s, n, text::comment_free_window_limit(n),
                                      text::CutAfterParen{},
                                      [&](const auto* w, size_t m) {
      set_.run(w, m, hits, pieces);
      for (size_t i = 0; i < kCategoryCount; ++i) found[i] |= hits[i] != 0;
    });
    CategorySet categories = 0;
    for (size_t i = 0; i < kCategoryCount; ++i) categories |= static_cast<CategorySet>(found[i] != 0) << i;
    return categories;
  }

 private:
  std::vector<std::unique_ptr<rx::Pattern>> patterns_;  // outlives set_, which refers to them
  rx::PatternSet set_;
};

// Compiled once, on first use; immutable afterwards, so concurrent callers share it without locking.
const Detector& detector() {
  static const Detector instance;
  return instance;
}

}  // namespace

void prepare() { detector(); }

CategorySet detect_categories(text::View text) {
  return text.visit([](const auto* s, size_t n) { return detector().run(s, n); });
}

}  // namespace tessera::curator
