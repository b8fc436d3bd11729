// agents.tessera.reference_curator: names the construct categories a SQL script uses, and cuts the
// conversion knowledge documents down to the sections those categories call for.
//
// The body does what a Python module body would: `import re`, `import structlog`, the logger, the
// four title tables, the fourteen compiled category patterns, then the three functions, bound in
// that order. The category patterns exist twice, both made from the one table of core.hpp: as the
// host's `re.Pattern` objects that callers can read, and as the native matcher's program that the
// scripts go to.
#include "reference_curator/core.hpp"

#include "python/module.hpp"
#include "python/py.hpp"
#include "text/sqltext.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <type_traits>
#include <unordered_map>
#include <utility>
#include <vector>

namespace tessera::curator {
namespace {

using py::Error;
using py::own;
using py::Ref;

// ---- the tables -------------------------------------------------------------------------------

struct TitleRow {
  const char* category;
  std::array<const char*, 3> titles;  // unused slots are null
};

constexpr TitleRow kMappingSections[] = {
    {"date_function", {"Date Functions"}},
    {"window_function", {"Window Functions"}},
    {"null_handling", {"NULL Semantics (CRITICAL)", "NULL Handling"}},
    {"string_ops", {"String Functions", "String Collation"}},
    {"cursor", {"Cursor Patterns"}},
    {"cte", {"CTE / Subqueries"}},
    {"json_ops", {"JSON Operations"}},
    {"type_cast", {"Data Type Mapping with Gotchas", "Type Casting"}},
    {"stored_proc", {"Stored Procedures & Functions"}},
    {"merge", {"Control Flow"}},
    {"temp_table", {"Data Structures"}},
    {"join", {"Joins"}},
    {"aggregation", {"Aggregations"}},
    {"query", {"Queries & Filters"}},
};

constexpr TitleRow kGotchaSections[] = {
    {"date_function",
     {"1. DATEDIFF Argument Order Reversed", "6. months_between Returns DOUBLE Not INT",
      "7. date_sub with Negative Goes FORWARD"}},
    {"window_function", {"4. Window Frame RANGE Includes Duplicates"}},
    {"null_handling",
     {"3. NULL Ordering in ORDER BY", "10. BIT Column NULL Handling", "9. COUNT(*) vs COUNT(col) with NULLs"}},
    {"string_ops", {"2. Case-Sensitive String Comparison"}},
    {"cursor", {"8. Python UDF 50-100x Slower Than Native F.xxx"}},
    {"type_cast", {"5. Decimal Arithmetic Precision Loss"}},
};

constexpr std::array<const char*, 2> kAlwaysMapping = {"Data Type Mapping with Gotchas", "NULL Semantics (CRITICAL)"};
// The gotchas list keeps nothing unasked: its always-included list is empty.

// ---- per-module state ---------------------------------------------------------------------------

// Everything the functions read; built by the body, never changed afterwards, so the matcher parts
// can be used from any thread without the GIL.
struct State : py::ModuleState {
  std::array<Ref, kCategoryCount> category_names;  // the keys of _CATEGORY_PATTERNS, in table order
  Ref mapping_sections;                             // the exposed dicts and lists themselves
  Ref gotcha_sections;
  Ref always_mapping;
  Ref always_gotchas;
  Ref lower;  // "lower", interned
  Ref event;  // "knowledge_selected"

  // The tables are the very objects the module exposes, which a caller may make refer back to it.
  int traverse(visitproc visit, void* arg) override {
    Py_VISIT(mapping_sections.get());
    Py_VISIT(gotcha_sections.get());
    Py_VISIT(always_mapping.get());
    Py_VISIT(always_gotchas.get());
    return 0;
  }
  void clear() override {
    mapping_sections = Ref{};
    gotcha_sections = Ref{};
    always_mapping = Ref{};
    always_gotchas = Ref{};
  }
};

const State& state_of(PyObject* module) { return py::state_of<State>(module); }

// ---- loading helpers ----------------------------------------------------------------------------

Ref title_list(const TitleRow& row) {
  Ref list = own(PyList_New(0));
  for (const char* title : row.titles)
    if (title != nullptr) py::check(PyList_Append(list.get(), py::intern(title).get()));
  return list;
}

template <std::size_t N>
Ref title_table(const TitleRow (&rows)[N]) {
  Ref table = own(PyDict_New());
  for (const TitleRow& row : rows)
    py::check(PyDict_SetItem(table.get(), py::intern(row.category).get(), title_list(row).get()));
  return table;
}

// ---- detect_construct_categories --------------------------------------------------------------

const py::Signature kDetectSignature{"detect_construct_categories", {"sql_content"}, 1, 0};

PyObject* detect_construct_categories(PyObject* module, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return py::boundary([&] {
    std::array<PyObject*, 1> arg;
    kDetectSignature.parse(args, nargs, kwnames, arg);
    py::require_exact(arg[0], &PyUnicode_Type, "sql_content");
    const State& state = state_of(module);

    const py::Text text = py::Text::of(arg[0]);
    CategorySet found;
    {
      py::AllowThreads unlocked;
      found = detect_categories(text);
    }

    Ref categories = own(PySet_New(nullptr));
    for (size_t i = 0; i < kCategoryCount; ++i)
      if ((found >> i) & 1) py::check(PySet_Add(categories.get(), state.category_names[i].get()));
    return categories;
  });
}

// ---- sections ------------------------------------------------------------------------------------

// One non-blank section of a document: its stripped bounds, the bounds of its header text, and its
// word count (the same stripped or not).
struct Section {
  size_t begin, end;
  size_t header_begin, header_end;
  size_t words;
};

// Cuts s[0, n) before every "## " that starts a line ("\n" alone starts one, as for a MULTILINE "^")
// and collects the sections that are not blank. Returns the word count of the whole text, which is
// the sum over the sections because every cut follows a line feed and so never splits a word.
template <class Ch>
size_t split_sections(const Ch* s, size_t n, bool count, std::vector<Section>& out) {
  size_t total = 0;
  auto close = [&](size_t from, size_t to) {
    const size_t words = count ? text::count_words(s + from, to - from) : 0;
    total += words;
    const auto [begin, end] = text::strip(s, from, to);
    if (begin == end) return;
    const size_t line_end = text::find(s, begin, end, Ch('\n'));
    size_t after_hashes = begin;
    while (after_hashes < line_end && s[after_hashes] == Ch('#')) ++after_hashes;
    const auto [header_begin, header_end] = text::strip(s, after_hashes, line_end);
    out.push_back({begin, end, header_begin, header_end, words});
  };
  size_t start = 0;
  for (size_t i = text::find(s, 0, n, Ch('\n')); i < n; i = text::find(s, i + 1, n, Ch('\n'))) {
    const size_t p = i + 1;
    if (p + 3 <= n && s[p] == Ch('#') && s[p + 1] == Ch('#') && s[p + 2] == Ch(' ')) {
      close(start, p);
      start = p;
    }
  }
  close(start, n);
  return total;
}

// The requested titles of one call. Each title is lower-cased with its own `lower` method the first
// time it is tested and never again, in the set's own iteration order, so that a title that is no
// string fails exactly when it is first reached; the set is iterated afresh for every section, so
// changing it meanwhile is caught by the set's iterator as it would be in a loop over it.
class Titles {
 public:
  Titles(PyObject* headers, PyObject* lower_name) : headers_(headers), lower_name_(lower_name) {}

  bool match(PyObject* header_lower) {
    Ref iterator = own(PyObject_GetIter(headers_));
    while (PyObject* raw = PyIter_Next(iterator.get())) {
      Ref title = Ref::steal(raw);
      PyObject* title_lower = lowered(title);
      int found = PySequence_Contains(header_lower, title_lower);
      py::check(found);
      if (found == 0) {
        found = PySequence_Contains(title_lower, header_lower);
        py::check(found);
      }
      if (found != 0) return true;
    }
    if (PyErr_Occurred()) throw Error{};
    return false;
  }

 private:
  PyObject* lowered(const Ref& title) {
    auto found = cache_.find(title.get());
    if (found != cache_.end()) return found->second.second.get();
    Ref lower = own(PyObject_CallMethodNoArgs(title.get(), lower_name_));
    // The title is kept alive with its entry, so its address can't be reused by another object.
    auto [entry, _] = cache_.emplace(title.get(), std::make_pair(title, std::move(lower)));
    return entry->second.second.get();
  }

  PyObject* headers_;
  PyObject* lower_name_;
  std::unordered_map<PyObject*, std::pair<Ref, Ref>> cache_;
};

template <class Dst, class Src>
void copy_chars(Dst* to, const Src* from, size_t n) noexcept {
  if constexpr (std::is_same_v<Dst, Src>) {
    std::memcpy(to, from, n * sizeof(Src));
  } else {
    for (size_t i = 0; i < n; ++i) to[i] = static_cast<Dst>(from[i]);
  }
}

// The chosen sections joined by one empty line, built as one new str in its narrowest storage.
Ref join_sections(PyObject* full_text, const std::vector<Section>& sections, const std::vector<size_t>& chosen) {
  if (chosen.empty()) return own(PyUnicode_New(0, 0));
  const Py_ssize_t full_size = PyUnicode_GET_LENGTH(full_text);
  if (chosen.size() == 1 && sections[chosen[0]].begin == 0 &&
      sections[chosen[0]].end == static_cast<size_t>(full_size))
    return Ref::borrow(full_text);  // nothing cut, nothing stripped: the text itself

  const py::Text source = py::Text::of(full_text);
  size_t length = 2 * (chosen.size() - 1);
  for (size_t i : chosen) length += sections[i].end - sections[i].begin;
  Py_UCS4 max_char = 127;
  if (!PyUnicode_IS_ASCII(full_text)) {
    max_char = source.visit([&](auto* s, size_t) {
      // Only the storage width depends on the widest character, and the source's own width is the
      // most the result can need: a character that calls for it settles the question.
      constexpr Py_UCS4 kSettles = sizeof(*s) == 1 ? 0x80 : sizeof(*s) == 2 ? 0x100 : 0x10000;
      Py_UCS4 widest = 0;
      for (size_t i : chosen)
        for (size_t k = sections[i].begin; k < sections[i].end && widest < kSettles; ++k)
          widest = std::max<Py_UCS4>(widest, s[k]);
      return widest;
    });
  }
  Ref joined = own(PyUnicode_New(static_cast<Py_ssize_t>(length), max_char));
  void* target = PyUnicode_DATA(joined.get());
  const int target_kind = PyUnicode_KIND(joined.get());
  source.visit([&](auto* s, size_t) {
    auto fill = [&](auto* to) {
      using Dst = std::remove_pointer_t<decltype(to)>;
      bool first = true;
      for (size_t i : chosen) {
        if (!first) {
          *to++ = Dst('\n');
          *to++ = Dst('\n');
        }
        first = false;
        const size_t count = sections[i].end - sections[i].begin;
        copy_chars(to, s + sections[i].begin, count);
        to += count;
      }
    };
    switch (target_kind) {
      case PyUnicode_1BYTE_KIND:
        fill(static_cast<Py_UCS1*>(target));
        break;
      case PyUnicode_2BYTE_KIND:
        fill(static_cast<Py_UCS2*>(target));
        break;
      default:
        fill(static_cast<Py_UCS4*>(target));
        break;
    }
  });
  return joined;
}

struct Extracted {
  Ref text;
  size_t selected_words = 0;  // of the result
  size_t full_words = 0;      // of the whole document (only when asked to count)
};

Extracted extract(const State& state, PyObject* full_text, PyObject* headers, bool count) {
  Extracted result;
  const py::Text view = py::Text::of(full_text);
  if (PySet_GET_SIZE(headers) == 0 || view.size == 0) {
    if (count && view.size != 0) {
      py::AllowThreads unlocked;
      result.full_words = view.visit([](auto* s, size_t n) { return text::count_words(s, n); });
    }
    result.text = own(PyUnicode_New(0, 0));
    return result;
  }

  std::vector<Section> sections;
  {
    py::AllowThreads unlocked;
    result.full_words = view.visit([&](auto* s, size_t n) { return split_sections(s, n, count, sections); });
  }

  Titles titles(headers, state.lower.get());
  std::vector<size_t> chosen;
  for (size_t i = 0; i < sections.size(); ++i) {
    Ref header = own(PyUnicode_Substring(full_text, static_cast<Py_ssize_t>(sections[i].header_begin),
                                         static_cast<Py_ssize_t>(sections[i].header_end)));
    Ref header_lower = own(PyObject_CallMethodNoArgs(header.get(), state.lower.get()));
    if (titles.match(header_lower.get())) {
      chosen.push_back(i);
      result.selected_words += sections[i].words;
    }
  }
  result.text = join_sections(full_text, sections, chosen);
  return result;
}

const py::Signature kExtractSignature{"extract_sections", {"full_text", "headers"}, 2, 0};

PyObject* extract_sections(PyObject* module, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return py::boundary([&] {
    std::array<PyObject*, 2> arg;
    kExtractSignature.parse(args, nargs, kwnames, arg);
    py::require_exact(arg[0], &PyUnicode_Type, "full_text");
    py::require_exact(arg[1], &PySet_Type, "headers");
    return extract(state_of(module), arg[0], arg[1], false).text;
  });
}

// ---- select_knowledge ----------------------------------------------------------------------------

// set.update(table.get(category, [])), one title at a time.
void add_titles(PyObject* table, PyObject* category, PyObject* titles) {
  PyObject* raw = nullptr;
  py::check(PyDict_GetItemRef(table, category, &raw));
  if (raw == nullptr) return;
  Ref listed = Ref::steal(raw);
  Ref iterator = own(PyObject_GetIter(listed.get()));
  while (PyObject* title = PyIter_Next(iterator.get())) {
    Ref held = Ref::steal(title);
    py::check(PySet_Add(titles, held.get()));
  }
  if (PyErr_Occurred()) throw Error{};
}

// round((1 - selected / max(full, 1)) * 100) with the host's float arithmetic and its
// round-half-to-even; word counts stay far below 2**53, so both operands convert exactly and the
// quotient is the correctly rounded one the host's int division gives.
long long reduction_pct(size_t selected, size_t full) {
  const double ratio = static_cast<double>(selected) / static_cast<double>(std::max<size_t>(full, 1));
  const double value = (1.0 - ratio) * 100.0;
  double rounded = std::round(value);
  if (std::fabs(value - rounded) == 0.5) rounded = 2.0 * std::round(value / 2.0);
  return static_cast<long long>(rounded);
}

const py::Signature kSelectSignature{
    "select_knowledge", {"categories", "full_mapping", "full_gotchas", "full_limitations"}, 1, 2};

PyObject* select_knowledge(PyObject* module, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return py::boundary([&] {
    std::array<PyObject*, 4> arg;
    kSelectSignature.parse(args, nargs, kwnames, arg);
    PyObject* categories = arg[0];
    py::require_exact(categories, &PySet_Type, "categories");
    py::require_exact(arg[1], &PyUnicode_Type, "full_mapping");
    py::require_exact(arg[2], &PyUnicode_Type, "full_gotchas");
    Ref limitations = arg[3] != nullptr ? Ref::borrow(arg[3]) : own(PyUnicode_New(0, 0));
    py::require_exact(limitations.get(), &PyUnicode_Type, "full_limitations");
    const State& state = state_of(module);

    Ref mapping_headers = own(PySet_New(state.always_mapping.get()));
    Ref gotcha_headers = own(PySet_New(state.always_gotchas.get()));
    {
      Ref iterator = own(PyObject_GetIter(categories));
      while (PyObject* raw = PyIter_Next(iterator.get())) {
        Ref category = Ref::steal(raw);
        add_titles(state.mapping_sections.get(), category.get(), mapping_headers.get());
        add_titles(state.gotcha_sections.get(), category.get(), gotcha_headers.get());
      }
      if (PyErr_Occurred()) throw Error{};
    }

    Extracted mapping = extract(state, arg[1], mapping_headers.get(), true);
    Extracted gotchas = extract(state, arg[2], gotcha_headers.get(), true);
    const size_t token_estimate = mapping.selected_words + gotchas.selected_words;
    const size_t full_estimate = mapping.full_words + gotchas.full_words;

    // logger.debug is looked up before its arguments are evaluated, as in a call expression.
    Ref logger = py::global(module, "logger");
    Ref debug = py::attr(logger.get(), "debug");
    Ref sorted_categories = own(PySequence_List(categories));
    py::check(PyList_Sort(sorted_categories.get()));
    Ref mapping_sections = py::integer(PySet_GET_SIZE(mapping_headers.get()));
    Ref gotcha_sections = py::integer(PySet_GET_SIZE(gotcha_headers.get()));
    Ref tokens = py::integer(static_cast<long long>(token_estimate));
    Ref full_tokens = py::integer(static_cast<long long>(full_estimate));
    Ref reduction = py::integer(reduction_pct(token_estimate, full_estimate));
    py::call(debug.get(), {state.event.get()},
             {{"categories", sorted_categories.get()},
              {"mapping_sections", mapping_sections.get()},
              {"gotcha_sections", gotcha_sections.get()},
              {"token_estimate", tokens.get()},
              {"full_tokens", full_tokens.get()},
              {"reduction_pct", reduction.get()}});

    Ref selection = own(PyDict_New());
    py::check(PyDict_SetItemString(selection.get(), "mapping", mapping.text.get()));
    py::check(PyDict_SetItemString(selection.get(), "gotchas", gotchas.text.get()));
    py::check(PyDict_SetItemString(selection.get(), "limitations", limitations.get()));
    return selection;
  });
}

// ---- the module ----------------------------------------------------------------------------------

template <PyObject* (*F)(PyObject*, PyObject* const*, Py_ssize_t, PyObject*)>
PyCFunction as_cfunction() {
  return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(F));
}

PyMethodDef kFunctions[] = {
    {"detect_construct_categories", as_cfunction<detect_construct_categories>(),
     METH_FASTCALL | METH_KEYWORDS,
     "detect_construct_categories($module, /, sql_content)\n--\n\n"
     "The construct categories whose patterns occur in the SQL text outside its comments."},
    {"select_knowledge", as_cfunction<select_knowledge>(),
     METH_FASTCALL | METH_KEYWORDS,
     "select_knowledge($module, /, categories, *, full_mapping, full_gotchas, full_limitations='')\n--\n\n"
     "The mapping, gotchas and limitations texts cut down to what the categories need; logs "
     "\"knowledge_selected\"."},
    {"extract_sections", as_cfunction<extract_sections>(),
     METH_FASTCALL | METH_KEYWORDS,
     "extract_sections($module, /, full_text, headers)\n--\n\n"
     "The level-2 sections of a Markdown text whose titles match one of the requested titles."},
    {nullptr, nullptr, 0, nullptr},
};

void build(PyObject* module) {
  State* state = &py::install_state<State>(module);

  py::bind(module, "re", py::import_module(module, "re"));
  py::bind(module, "structlog", py::import_module(module, "structlog"));
  {
    Ref structlog = py::global(module, "structlog");
    Ref get_logger = py::attr(structlog.get(), "get_logger");
    py::bind(module, "logger", py::call(get_logger.get(), {}));
  }

  state->mapping_sections = title_table(kMappingSections);
  py::bind(module, "CONSTRUCT_TO_MAPPING_SECTIONS", state->mapping_sections);
  state->gotcha_sections = title_table(kGotchaSections);
  py::bind(module, "CONSTRUCT_TO_GOTCHA_SECTIONS", state->gotcha_sections);
  state->always_mapping = own(PyList_New(0));
  for (const char* title : kAlwaysMapping) py::check(PyList_Append(state->always_mapping.get(), py::intern(title).get()));
  py::bind(module, "ALWAYS_INCLUDE_MAPPING", state->always_mapping);
  state->always_gotchas = own(PyList_New(0));
  py::bind(module, "ALWAYS_INCLUDE_GOTCHAS", state->always_gotchas);

  Ref patterns = own(PyDict_New());
  for (size_t i = 0; i < kCategoryCount; ++i) {
    state->category_names[i] = py::intern(kCategories[i].name);
    Ref re_module = py::global(module, "re");
    Ref compile = py::attr(re_module.get(), "compile");
    Ref source = py::str(kCategories[i].pattern);
    Ref re_again = py::global(module, "re");
    Ref ignorecase = py::attr(re_again.get(), "IGNORECASE");
    Ref compiled = py::call(compile.get(), {source.get(), ignorecase.get()});
    py::check(PyDict_SetItem(patterns.get(), state->category_names[i].get(), compiled.get()));
  }
  prepare();
  py::bind(module, "_CATEGORY_PATTERNS", patterns);

  state->lower = py::intern("lower");
  state->event = py::intern("knowledge_selected");
  py::check(PyModule_AddFunctions(module, kFunctions));
}

py::ModuleDefinition definition({
    "reference_curator",
    "agents.tessera.reference_curator",
    "Construct categories of a SQL script, and the knowledge-document sections they call for.",
    __FILE__,
    build,
});

}  // namespace
}  // namespace tessera::curator

PyMODINIT_FUNC PyInit_reference_curator() { return tessera::curator::definition.init(); }
