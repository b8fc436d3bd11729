// The matcher linked alone, without the interpreter: it must build and answer from nothing but its own
// sources and a Unicode adapter. This adapter knows ASCII only, which is all these cases need.
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "regex/regex.hpp"
#include "regex/unicode.hpp"

namespace tessera::rx::unicode {
bool is_word(char32_t c) { return c == U'_' || (c < 128 && std::isalnum(static_cast<int>(c))); }
bool is_space(char32_t c) { return c == U' ' || (c >= 9 && c <= 13) || (c >= 0x1C && c <= 0x1F); }
bool is_decimal(char32_t c) { return c >= U'0' && c <= U'9'; }
char32_t lower(char32_t c) { return c >= U'A' && c <= U'Z' ? c + 32 : c; }
char32_t upper(char32_t c) { return c >= U'a' && c <= U'z' ? c - 32 : c; }
}  // namespace tessera::rx::unicode

namespace {

using tessera::rx::Pattern;
using tessera::rx::PatternSet;
using tessera::rx::Span;

int failures = 0;

void expect(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "FAILED: %s\n", what);
    ++failures;
  }
}

std::u32string u32(const char* s) { return std::u32string(s, s + std::char_traits<char>::length(s)); }

template <class Ch>
std::vector<Ch> as(const char* s) {
  std::vector<Ch> out;
  for (const char* p = s; *p; ++p) out.push_back(static_cast<Ch>(static_cast<unsigned char>(*p)));
  return out;
}

template <class Ch>
void spans_in_every_width() {
  const Pattern keyword(u32(R"(\bOPTIMIZE\b[\s\S]{0,20}?\bZORDER\b)"), tessera::rx::IGNORECASE);
  auto text = as<Ch>("optimize t zorder; OPTIMIZE x                          ZORDER");
  std::vector<Span> all;
  keyword.find_all(text.data(), text.size(), all);
  expect(all.size() == 1 && all[0] == Span{0, 17}, "bounded lazy span, all widths");

  const Pattern look(u32(R"((?<!AS )\bENUM\s*\()"), tessera::rx::IGNORECASE);
  auto t2 = as<Ch>("AS ENUM( enum (");
  auto s = look.search_span(t2.data(), t2.size());
  expect(s && *s == Span{9, 15}, "negative lookbehind");
  expect(!look.search_span(t2.data(), t2.size(), 10), "search from pos");
}

void pattern_sets() {
  Pattern a(u32(R"(\bSELECT\b)"), tessera::rx::IGNORECASE), b(u32(R"(^--.*$)"), tessera::rx::MULTILINE),
      c(u32(R"(x|(?=\s*;))"), 0);
  PatternSet set;
  set.add(a, PatternSet::Mode::First);
  set.add(b, PatternSet::Mode::FindAll);
  set.add(c, PatternSet::Mode::First);
  auto text = as<uint8_t>("-- one\nselect 1 ;\n-- two");
  std::vector<std::vector<Span>> spans;
  set.run_spans(text.data(), text.size(), spans);
  expect(spans.size() == 3, "one entry per pattern");
  expect(spans[0] == std::vector<Span>{{7, 13}}, "first match of a search pattern");
  expect(spans[1] == (std::vector<Span>{{0, 6}, {18, 24}}), "every match of a findall pattern");
  expect(spans[2] == std::vector<Span>{{15, 15}}, "alternatives scanned apart, then the whole at the least start");
}

void stand_ins() {
  const Pattern keyword(u32(R"(\bSELECT\b)"), tessera::rx::IGNORECASE), mark(u32(R"(\ufeff)"), 0);
  PatternSet set, marked;
  set.add(keyword, PatternSet::Mode::First);
  marked.add(keyword, PatternSet::Mode::First);
  marked.add(mark, PatternSet::Mode::First);
  auto text = as<uint16_t>("?select 1");
  text[0] = 0xFEFF;
  std::vector<uint8_t> copy;
  expect(set.stand_in(text.data(), text.size(), copy) && copy.size() >= text.size(), "a mark no test names");
  std::vector<std::vector<Span>> wide, narrow;
  set.run_spans(text.data(), text.size(), wide);
  set.run_spans(copy.data(), text.size(), narrow);
  expect(wide == narrow && wide[0] == std::vector<Span>{{1, 7}}, "the copy matches as the text");
  expect(!marked.stand_in(text.data(), text.size(), copy), "a test that names the mark");
}

void refusals() {
  for (const char* bad : {R"((a)\1)", R"(x(?=a*b*))", R"(a++)"}) {
    try {
      Pattern p(u32(bad), 0);
      expect(false, bad);
    } catch (const tessera::rx::CompileError& e) {
      expect(std::string(e.what()).find(" at position ") != std::string::npos, "refusal names the offset");
    }
  }
}

void linear_lookahead() {
  // Quadratic without the shared answers: every blank asks a lookahead whose loop runs to the end.
  std::vector<uint8_t> text(400000, ' ');
  text.push_back('y');
  const Pattern p(u32(R"((?!\s*x)\s)"), 0);
  expect(p.count_all(text.data(), text.size()) == 400000, "unterminated lookahead runs");
}

}  // namespace

int main() {
  spans_in_every_width<uint8_t>();
  spans_in_every_width<uint16_t>();
  spans_in_every_width<uint32_t>();
  pattern_sets();
  stand_ins();
  refusals();
  linear_lookahead();
  if (failures) return 1;
  std::puts("engine test: all passed");
  return 0;
}
