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

  template <class Ch>
  CategorySet run(const Ch* s, size_t n) const {
    std::vector<Ch> stripped;
    if (text::strip_comments(s, n, stripped)) {
      s = stripped.data();
      n = stripped.size();
    }
    std::vector<size_t> hits;
    set_.run(s, n, hits);
    CategorySet found = 0;
    for (size_t i = 0; i < kCategoryCount; ++i) found |= static_cast<CategorySet>(hits[i] != 0) << i;
    return found;
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
