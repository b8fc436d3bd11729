// agents.tessera.dialect_detect: names the SQL platform a script was written for, with the evidence.
//
// Two kinds of evidence, both run on the native matcher with IGNORECASE | MULTILINE:
// - the markers of PLATFORM_MARKERS, taken from agents.tessera.dialect_signatures at load (so a host's
//   own dialect_probe and its platform constants are used as they are);
// - the lexicon of lexicon.hpp.
// A match counts only in its context (text/sqlcontext.hpp): markers of scope "comment" where the match
// starts inside a comment, everything else where it starts in code. An entry fires when its pattern
// matches at some position of the right context (pattern.search from that position); its first such
// match is its evidence. Each entry carries one fitted weight, added to each platform it names (weights.hpp,
// written by scripts/fit_dialect_weights.py); a platform's score is the sum of those weights over the
// fired entries that name it, where corroborating-only markers add to a platform only once other evidence has given
// it a score. The verdict names the best-scoring platform when its score reaches kMinScore, its share
// of the scores' softmax (the confidence) reaches kMinConfidence and at least kMinEntries entries back
// it; otherwise it is undecided.
#include "dialect_detect/detector.hpp"
#include "dialect_detect/lexicon.hpp"
#include "dialect_detect/weights.hpp"

#include "python/module.hpp"
#include "python/py.hpp"
#include "regex/bitset.hpp"
#include "regex/regex.hpp"
#include "text/sqlcontext.hpp"
#include "text/sqltext.hpp"
#include "text/textfile.hpp"
#include "text/view.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace tessera::dialect_detect {
namespace {

using py::Error;
using py::own;
using py::Ref;

constexpr const char* kModuleName = "agents.tessera.dialect_detect";
constexpr unsigned kFlags = rx::IGNORECASE | rx::MULTILINE;
constexpr size_t kEvidenceTextLimit = 80;

constexpr std::array<const char*, kPlatforms> kPlatformNames = {
    "PLATFORM_DATABRICKS", "PLATFORM_SNOWFLAKE", "PLATFORM_POSTGRESQL", "PLATFORM_MYSQL",    "PLATFORM_SQLSERVER",
    "PLATFORM_ORACLE",     "PLATFORM_REDSHIFT",  "PLATFORM_BIGQUERY",   "PLATFORM_TERADATA", "PLATFORM_HIVE",
};

// One piece of evidence the detector can find: a marker (first, in catalogue order) or a lexicon entry.
struct Entry {
  bool marker = false;
  bool comment_scope = false;
  bool corroborating = false;
  std::uint16_t platforms = 0;
  std::array<double, kPlatforms> weight{};  // towards each platform it names (0 for the others)
  std::optional<rx::Pattern> pattern;  // set at load
  Ref id;             // str
  Ref platform_tuple;  // the platform constants, in the entry's order
};

struct Runtime : py::ModuleState {
  std::vector<Entry> entries;
  size_t marker_count = 0;
  std::vector<bool> comment_scope;  // by entry, for the scan's context filter
  rx::PatternSet first_set;  // the markers alone, each for its first match (find_markers)
  rx::PatternSet all_set;    // every entry, each for its first match (detect_dialect)
  std::array<Ref, kPlatforms> platforms;
  Ref verdict_type, evidence_type;
  py::RecordMaker verdict_record, evidence_record;  // most of a small script's call went on __init__
  Ref marker_source, lexicon_source;
  Ref read_text, utf8, encoding_keyword;
  py::PathReader reader = py::PathReader::capture();
  // What other modules call (the _DETECTOR capsule points at `detector`).
  std::array<std::string, kPlatforms> platform_utf8;
  std::array<PlatformName, kPlatforms> platform_names{};
  Detector detector{};

  // The record classes' generated methods hold the module's namespace, which holds the module.
  int traverse(visitproc visit, void* arg) override {
    Py_VISIT(verdict_type.get());
    Py_VISIT(evidence_type.get());
    if (const int r = verdict_record.traverse(visit, arg)) return r;
    return evidence_record.traverse(visit, arg);
  }
  void clear() override {
    verdict_type = Ref{};
    evidence_type = Ref{};
    verdict_record.clear();
    evidence_record.clear();
  }
};

const Runtime& runtime_of(PyObject* module) { return py::state_of<Runtime>(module); }

std::u32string code_points(PyObject* s) {
  if (!PyUnicode_Check(s)) py::raise(PyExc_TypeError, "a marker's pattern must be a str");
  const py::Text t = py::Text::of(s);
  return t.visit([](const auto* chars, size_t n) { return std::u32string(chars, chars + n); });
}

// The fitted weights of an entry; an entry they were not fitted for (a host's own catalogue) gets
// `fallback` towards each platform it names.
std::array<double, kPlatforms> weight_of(const std::unordered_map<std::string_view, const double*>& fitted,
                                        std::string_view id, std::uint16_t platforms, double fallback) {
  std::array<double, kPlatforms> w{};
  auto it = fitted.find(id);
  for (int p = 0; p < kPlatforms; ++p)
    if ((platforms >> p) & 1u) w[p] = it == fitted.end() ? fallback : it->second[p];
  return w;
}

// ---- the scan (no Python objects, GIL released) ----------------------------------------------------

struct Hit {
  size_t entry;
  size_t start, end;
  size_t line = 0;
};

struct Scan {
  std::vector<Hit> first_counting;  // per fired entry: its first match in the right context
  std::array<double, kPlatforms> scores{};
  std::array<int, kPlatforms> backing{};  // entries (not corroborating-only) that gave each platform weight
};

// Line numbers (1-based, by str.splitlines' boundaries) of the hits, which come sorted by start: the
// boundaries between one hit and the next are counted in bulk, as lines are short and hits far apart.
template <class Ch>
void number_lines(const Ch* s, size_t n, std::vector<Hit>& hits) {
  std::sort(hits.begin(), hits.end(), [](const Hit& a, const Hit& b) { return a.start < b.start; });
  size_t line = 1, pos = 0;
  for (Hit& h : hits) {
    line += text::count_line_breaks(s, pos, h.start, n);
    pos = h.start;
    h.line = line;
  }
}

// A fresh buffer per call costs more in page faults than in filling it: each thread keeps one per use
// (Use names it) for the scripts of common sizes, while a huge text gets its own, freed with it.
constexpr size_t kKeptBuffer = size_t{4} << 20;
constexpr size_t kKeptSpans = size_t{1} << 17;
template <class Use, class T>
std::vector<T>& kept_buffer(size_t n, std::vector<T>& own) {
  static thread_local std::vector<T> kept;
  return n <= kKeptBuffer ? kept : own;
}

// Runs scan(chars) over the set's one-byte stand-in of a wide text where it has one (a byte-order mark
// or a typographic quote makes most wide scripts wide, and the one-byte scanners are several times
// faster), else over the text itself. Positions are the same in both.
struct StandIn {};
template <class Ch, class Scan>
void on_narrowest(const rx::PatternSet& set, const Ch* s, size_t n, Scan&& scan) {
  if constexpr (sizeof(Ch) > 1) {
    std::vector<std::uint8_t> own;
    std::vector<std::uint8_t>& copy = kept_buffer<StandIn>(n, own);
    if (set.stand_in(s, n, copy)) return scan(static_cast<const std::uint8_t*>(copy.data()));
  }
  scan(s);
}

// An entry's match counts only where it starts in the entry's context (and before the end: no entry
// matches the empty string there).
// Most starts the scan asks about are already in the right context: those are answered from two bit
// maps by position (code, comment), and only the others search the spans for the next one. Bits rather
// than a byte per position: filling them is a word per 64 characters, and they stay in cache.
class ContextFilter final : public rx::PatternSet::StartFilter {
 public:
  ContextFilter(const Runtime& rt, const std::vector<text::Span>& spans, size_t n)
      : rt_(rt), spans_(spans), n_(n) {
    const size_t words = n / 64 + 1;
    std::vector<std::uint64_t>& bits = kept_buffer<ContextFilter>(n, own_bits_);
    if (bits.size() < 2 * words) bits.resize(2 * words);
    code_ = bits.data();
    comment_ = code_ + words;
    std::fill(code_, code_ + words, ~std::uint64_t{0});
    std::fill(comment_, comment_ + words, 0);
    for (const text::Span& sp : spans) {
      rx::detail::fill_bits(code_, sp.begin, sp.end, false);
      if (sp.kind == text::Region::Comment) rx::detail::fill_bits(comment_, sp.begin, sp.end, true);
    }
  }
  size_t next(size_t entry, size_t pos) const override {
    if (pos >= n_) return SIZE_MAX;
    if (allows(entry, pos)) return pos;
    const size_t at = text::next_in(spans_, pos, wanted(entry), n_);
    return at < n_ ? at : SIZE_MAX;
  }
  bool allows(size_t entry, size_t pos) const override {
    return pos < n_ && rx::detail::bit_at(rt_.comment_scope[entry] ? comment_ : code_, pos);
  }

 private:
  text::Region wanted(size_t entry) const { return rt_.comment_scope[entry] ? text::Region::Comment : text::Region::Code; }
  const Runtime& rt_;
  const std::vector<text::Span>& spans_;
  size_t n_;
  std::vector<std::uint64_t> own_bits_;
  std::uint64_t* code_ = nullptr;
  std::uint64_t* comment_ = nullptr;
};

template <class Ch>
Scan scan(const Runtime& rt, const Ch* s, size_t n) {
  Scan out;
  // The spans are kept from call to call too, unless a text of countless literals made them many.
  std::vector<text::Span> own_spans;
  std::vector<text::Span>& spans = kept_buffer<text::Span>(n, own_spans);
  text::scan_context(s, n, spans);
  std::vector<std::vector<rx::Span>> found;
  const ContextFilter filter(rt, spans, n);
  on_narrowest(rt.all_set, s, n, [&](const auto* chars) { rt.all_set.run_first_where(chars, n, filter, found); });
  for (size_t e = 0; e < found.size(); ++e)
    if (!found[e].empty()) out.first_counting.push_back({e, found[e].front().first, found[e].front().second});
  for (int pass = 0; pass < 2; ++pass) {
    std::array<double, kPlatforms> base = out.scores;
    for (const Hit& h : out.first_counting) {
      const Entry& entry = rt.entries[h.entry];
      if (entry.corroborating != (pass == 1)) continue;
      for (int p = 0; p < kPlatforms; ++p)
        if ((entry.platforms >> p) & 1u) {
          if (entry.corroborating && base[p] <= 0) continue;
          out.scores[p] += entry.weight[p];
          if (!entry.corroborating && entry.weight[p] > 0) ++out.backing[p];
        }
    }
  }
  number_lines(s, n, out.first_counting);
  if (spans.capacity() > kKeptSpans) spans = std::vector<text::Span>{};
  return out;
}

// The verdict a scan comes to, for detect_dialect and the exported detector alike: one function, so
// that the two can never disagree.
struct Decision {
  std::array<int, kPlatforms> order;  // best score first; ties keep the table's order
  double confidence;
  bool decided;
};

Decision decide(const Scan& sc) {
  Decision d;
  for (int p = 0; p < kPlatforms; ++p) d.order[p] = p;
  std::stable_sort(d.order.begin(), d.order.end(), [&](int a, int b) { return sc.scores[a] > sc.scores[b]; });
  const double top = sc.scores[d.order[0]], second = sc.scores[d.order[1]];
  double total = 0;
  for (double v : sc.scores) total += std::exp(v - top);
  d.confidence = 1.0 / total;
  d.decided = top >= kMinScore && d.confidence >= kMinConfidence && top > second && sc.backing[d.order[0]] >= kMinEntries;
  return d;
}

int platform_index(const void* context, int kind, const void* data, size_t size) {
  try {
    const Runtime& rt = *static_cast<const Runtime*>(context);
    const Decision d = text::View{kind, data, size}.visit([&](const auto* s, size_t n) { return decide(scan(rt, s, n)); });
    return d.decided ? d.order[0] : kUndecided;
  } catch (...) {
    // Nothing may cross into the caller's module: its C++ runtime is not this one.
    return kDetectorFailed;
  }
}

// ---- Python entry points ----------------------------------------------------------------------------

Ref to_float(double v) { return own(PyFloat_FromDouble(v)); }

double rounded(double v) { return std::round(v * 10000.0) / 10000.0; }

Ref find_markers_impl(PyObject* module, PyObject* text) {
  py::require_exact(text, &PyUnicode_Type, "text");
  const Runtime& rt = runtime_of(module);
  const py::Text t = py::Text::of(text);
  std::vector<std::vector<rx::Span>> spans;
  {
    py::AllowThreads unlocked;
    t.visit([&](const auto* s, size_t n) {
      on_narrowest(rt.first_set, s, n, [&](const auto* chars) { rt.first_set.run_spans(chars, n, spans); });
    });
  }
  Ref result = own(PyDict_New());
  for (size_t m = 0; m < spans.size(); ++m) {
    if (spans[m].empty()) continue;
    Ref start = own(PyLong_FromSize_t(spans[m].front().first));
    Ref end = own(PyLong_FromSize_t(spans[m].front().second));
    Ref pair = py::tuple({start.get(), end.get()});
    py::check(PyDict_SetItem(result.get(), rt.entries[m].id.get(), pair.get()));
  }
  return result;
}

Ref detect_impl(PyObject* module, PyObject* text) {
  py::require_exact(text, &PyUnicode_Type, "text");
  const Runtime& rt = runtime_of(module);
  const py::Text t = py::Text::of(text);
  Scan sc;
  {
    py::AllowThreads unlocked;
    sc = t.visit([&](const auto* s, size_t n) { return scan(rt, s, n); });
  }

  const Decision d = decide(sc);
  const std::array<int, kPlatforms>& order = d.order;
  const double second = sc.scores[order[1]];
  const double confidence = d.confidence;
  const bool decided = d.decided;

  Ref platform = decided ? rt.platforms[order[0]] : Ref::borrow(Py_None);
  Ref runner_up = second > 0 ? rt.platforms[order[1]] : Ref::borrow(Py_None);
  Ref conf = to_float(rounded(confidence));
  Ref scores = own(PyDict_New());
  for (int p = 0; p < kPlatforms; ++p) py::check(PyDict_SetItem(scores.get(), rt.platforms[p].get(), to_float(rounded(sc.scores[p])).get()));

  // An entry's weight as evidence: towards the verdict when it names it, else its largest.
  auto shown_weight = [&](const Entry& e) {
    if (decided && ((e.platforms >> order[0]) & 1u)) return e.weight[order[0]];
    return *std::max_element(e.weight.begin(), e.weight.end());
  };
  std::vector<Hit>& hits = sc.first_counting;
  std::stable_sort(hits.begin(), hits.end(), [&](const Hit& a, const Hit& b) {
    const double wa = shown_weight(rt.entries[a.entry]), wb = shown_weight(rt.entries[b.entry]);
    if (wa != wb) return wa > wb;
    return a.start < b.start;
  });
  const Py_ssize_t length = PyUnicode_GET_LENGTH(text);
  Ref evidence = own(PyTuple_New(static_cast<Py_ssize_t>(hits.size())));
  for (size_t i = 0; i < hits.size(); ++i) {
    const Hit& h = hits[i];
    const Entry& entry = rt.entries[h.entry];
    const size_t cut = std::min(h.end, h.start + kEvidenceTextLimit);
    Ref matched = own(PyUnicode_Substring(text, static_cast<Py_ssize_t>(h.start), std::min<Py_ssize_t>(length, static_cast<Py_ssize_t>(cut))));
    Ref line = own(PyLong_FromSize_t(h.line));
    Ref weight = to_float(rounded(shown_weight(entry)));
    PyObject* const fields[] = {(entry.marker ? rt.marker_source : rt.lexicon_source).get(), entry.id.get(),
                                entry.platform_tuple.get(), line.get(), matched.get(), weight.get()};
    Ref record = rt.evidence_record.make(rt.evidence_type.get(), fields);
    PyTuple_SET_ITEM(evidence.get(), static_cast<Py_ssize_t>(i), record.release());
  }

  PyObject* const fields[] = {platform.get(), conf.get(), runner_up.get(), scores.get(), evidence.get()};
  Ref verdict = rt.verdict_record.make(rt.verdict_type.get(), fields);
  py::log_debug(module, "dialect_detected", {{"platform", platform.get()}, {"confidence", conf.get()}});
  return verdict;
}

PyObject* find_markers(PyObject* module, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return py::boundary([&] {
    PyObject* text = nullptr;
    py::Signature{"find_markers", {"text"}, 1, 0}.parse(args, nargs, kwnames, {&text, 1});
    return find_markers_impl(module, text);
  });
}

PyObject* detect_dialect(PyObject* module, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return py::boundary([&] {
    PyObject* text = nullptr;
    py::Signature{"detect_dialect", {"text"}, 1, 0}.parse(args, nargs, kwnames, {&text, 1});
    return detect_impl(module, text);
  });
}

PyObject* detect_dialect_file(PyObject* module, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return py::boundary([&] {
    PyObject* path = nullptr;
    py::Signature{"detect_dialect_file", {"path"}, 1, 0}.parse(args, nargs, kwnames, {&path, 1});
    const Runtime& rt = runtime_of(module);
    Ref content = rt.reader.try_read(path);
    if (!content) {
      std::array<PyObject*, 2> stack = {path, rt.utf8.get()};
      content = own(PyObject_VectorcallMethod(rt.read_text.get(), stack.data(), 1 | PY_VECTORCALL_ARGUMENTS_OFFSET,
                                              rt.encoding_keyword.get()));
    }
    // Through the module global, as a Python body's own function would call it.
    Ref detect = py::attr(module, "detect_dialect");
    return py::call(detect.get(), {content.get()});
  });
}

// The lexicon as the host sees it: (id, platforms, pattern) triples, for tools and tests.
Ref lexicon_table(const Runtime& rt) {
  Ref out = own(PyTuple_New(kLexiconSize));
  for (int i = 0; i < kLexiconSize; ++i) {
    const Entry& e = rt.entries[rt.marker_count + static_cast<size_t>(i)];
    Ref pattern = py::str(kLexicon[i].pattern);
    PyTuple_SET_ITEM(out.get(), i, py::tuple({e.id.get(), e.platform_tuple.get(), pattern.get()}).release());
  }
  return out;
}

PyMethodDef find_markers_def = {
    "find_markers", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(find_markers)),
    METH_FASTCALL | METH_KEYWORDS,
    "find_markers($module, /, text)\n--\n\n"
    "Each marker of PLATFORM_MARKERS that matches text, with the span of its first match, in catalogue order."};
PyMethodDef detect_dialect_def = {
    "detect_dialect", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(detect_dialect)),
    METH_FASTCALL | METH_KEYWORDS,
    "detect_dialect($module, /, text)\n--\n\n"
    "The platform a SQL script was written for (or None when the evidence is too weak or too mixed)."};
PyMethodDef detect_dialect_file_def = {
    "detect_dialect_file", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(detect_dialect_file)),
    METH_FASTCALL | METH_KEYWORDS,
    "detect_dialect_file($module, /, path)\n--\n\n"
    "detect_dialect of the file at path, read whole as UTF-8."};

Ref function(PyMethodDef* def, PyObject* module) {
  Ref module_name = py::str(kModuleName);
  return own(PyCFunction_NewEx(def, module, module_name.get()));
}

// ---- the module body ----------------------------------------------------------------------------------

Ref optional_attr(PyObject* o, const char* name) {
  PyObject* value = nullptr;
  if (PyObject_GetOptionalAttrString(o, name, &value) < 0) throw Error{};
  return Ref::steal(value);
}

void build(PyObject* module) {
  py::bind(module, "dataclass", py::attr(py::import("dataclasses").get(), "dataclass"));
  py::bind(module, "Path", py::attr(py::import("pathlib").get(), "Path"));
  Ref structlog = py::import("structlog");
  py::bind(module, "structlog", structlog);
  py::bind(module, "logger", py::call(py::attr(structlog.get(), "get_logger").get(), {}));

  Runtime* rt = &py::install_state<Runtime>(module);
  // As `from agents.tessera.dialect_probe import PLATFORM_...` and `from ...dialect_signatures import
  // PLATFORM_MARKERS` would take them, whichever probe the host has installed.
  std::vector<Ref> constants = py::import_names(module, "agents.tessera.dialect_probe", kPlatformNames);
  for (int p = 0; p < kPlatforms; ++p) rt->platforms[p] = constants[p];
  Ref catalogue = py::import_names(module, "agents.tessera.dialect_signatures", {"PLATFORM_MARKERS"})[0];
  Ref markers = own(PySequence_List(catalogue.get()));

  std::unordered_map<std::string_view, const double*> fitted;
  for (const WeightRow& row : kWeights) fitted.emplace(row.id, row.weight);

  auto platform_tuple = [&](std::uint16_t mask) {
    std::vector<PyObject*> items;
    for (int p = 0; p < kPlatforms; ++p)
      if ((mask >> p) & 1u) items.push_back(rt->platforms[p].get());
    Ref t = own(PyTuple_New(static_cast<Py_ssize_t>(items.size())));
    for (size_t i = 0; i < items.size(); ++i) PyTuple_SET_ITEM(t.get(), static_cast<Py_ssize_t>(i), Py_NewRef(items[i]));
    return t;
  };

  const Py_ssize_t count = PyList_GET_SIZE(markers.get());
  for (Py_ssize_t i = 0; i < count; ++i) {
    PyObject* marker = PyList_GET_ITEM(markers.get(), i);
    Entry e;
    e.marker = true;
    e.id = py::attr(marker, "id");
    if (!PyUnicode_Check(e.id.get())) py::raise(PyExc_TypeError, "a marker's id must be a str");
    Ref listed = own(PySequence_List(py::attr(marker, "platforms").get()));
    std::vector<PyObject*> kept;
    for (Py_ssize_t k = 0; k < PyList_GET_SIZE(listed.get()); ++k) {
      PyObject* item = PyList_GET_ITEM(listed.get(), k);
      for (int p = 0; p < kPlatforms; ++p) {
        const int same = PyObject_RichCompareBool(item, rt->platforms[p].get(), Py_EQ);
        if (same < 0) throw Error{};
        if (same) {
          e.platforms |= static_cast<std::uint16_t>(1u << p);
          kept.push_back(item);
          break;
        }
      }
    }
    e.platform_tuple = own(PyTuple_New(static_cast<Py_ssize_t>(kept.size())));
    for (size_t k = 0; k < kept.size(); ++k) PyTuple_SET_ITEM(e.platform_tuple.get(), static_cast<Py_ssize_t>(k), Py_NewRef(kept[k]));
    Ref scope = optional_attr(marker, "scope");
    if (scope && PyUnicode_Check(scope.get())) e.comment_scope = PyUnicode_CompareWithASCIIString(scope.get(), "comment") == 0;
    Ref corroborating = optional_attr(marker, "corroborating_only");
    if (corroborating) {
      const int truth = PyObject_IsTrue(corroborating.get());
      if (truth < 0) throw Error{};
      e.corroborating = truth != 0;
    }
    Ref confidence = optional_attr(marker, "confidence");
    const bool medium = confidence && PyUnicode_Check(confidence.get()) &&
                        PyUnicode_CompareWithASCIIString(confidence.get(), "medium") == 0;
    Py_ssize_t id_size = 0;
    const char* id_text = PyUnicode_AsUTF8AndSize(e.id.get(), &id_size);
    if (id_text == nullptr) throw Error{};
    // A marker the weights were not fitted for (a host's own catalogue) gets a modest default.
    e.weight = weight_of(fitted, std::string_view(id_text, static_cast<size_t>(id_size)), e.platforms, medium ? 0.5 : 1.0);
    try {
      e.pattern.emplace(code_points(py::attr(marker, "pattern").get()), kFlags);
    } catch (const rx::CompileError& err) {
      py::raise_format(PyExc_ValueError, "marker %U: %s", e.id.get(), err.what());
    }
    rt->entries.push_back(std::move(e));
  }
  rt->marker_count = rt->entries.size();

  for (const LexiconEntry& lex : kLexicon) {
    Entry e;
    e.id = py::str(lex.id);
    e.platforms = lex.platforms;
    e.platform_tuple = platform_tuple(lex.platforms);
    e.weight = weight_of(fitted, lex.id, lex.platforms, 0.0);
    std::u32string source;
    for (const char* c = lex.pattern; *c; ++c) source.push_back(static_cast<unsigned char>(*c));
    try {
      e.pattern.emplace(source, kFlags);
    } catch (const rx::CompileError& err) {
      py::raise_format(PyExc_ValueError, "lexicon entry %s: %s", lex.id, err.what());
    }
    rt->entries.push_back(std::move(e));
  }
  for (size_t i = 0; i < rt->entries.size(); ++i) {
    rt->comment_scope.push_back(rt->entries[i].comment_scope);
    if (i < rt->marker_count) rt->first_set.add(*rt->entries[i].pattern, rx::PatternSet::Mode::First);
    rt->all_set.add(*rt->entries[i].pattern, rx::PatternSet::Mode::First);
  }

  rt->marker_source = py::str("marker");
  rt->lexicon_source = py::str("lexicon");
  rt->read_text = py::str("read_text");
  rt->utf8 = py::str("utf-8");
  rt->encoding_keyword = py::tuple({py::str("encoding").get()});

  rt->evidence_type = py::frozen_dataclass(kModuleName, "Evidence",
                                           {{"source", "str"},
                                            {"id", "str"},
                                            {"platforms", "tuple[str, ...]"},
                                            {"line", "int"},
                                            {"text", "str"},
                                            {"weight", "float"}});
  rt->verdict_type = py::frozen_dataclass(kModuleName, "DialectVerdict",
                                          {{"platform", "str | None"},
                                           {"confidence", "float"},
                                           {"runner_up", "str | None"},
                                           {"scores", "dict[str, float]"},
                                           {"evidence", "tuple[Evidence, ...]"}});
  rt->evidence_record = py::RecordMaker(rt->evidence_type, true);
  rt->verdict_record = py::RecordMaker(rt->verdict_type, true);
  py::bind(module, "Evidence", rt->evidence_type);
  py::bind(module, "DialectVerdict", rt->verdict_type);
  py::bind(module, "_LEXICON", lexicon_table(*rt));

  for (int p = 0; p < kPlatforms; ++p) {
    // surrogatepass: a host's platform constant may be any str, and must come back as the same one.
    Ref encoded = own(PyUnicode_AsEncodedString(own(PyObject_Str(rt->platforms[p].get())).get(), "utf-8", "surrogatepass"));
    rt->platform_utf8[p].assign(PyBytes_AS_STRING(encoded.get()), static_cast<size_t>(PyBytes_GET_SIZE(encoded.get())));
    rt->platform_names[p] = {rt->platform_utf8[p].data(), rt->platform_utf8[p].size()};
  }
  rt->detector = {kDetectorVersion, sizeof(Detector), rt, platform_index, kPlatforms, rt->platform_names.data()};
  py::bind(module, "_DETECTOR", own(PyCapsule_New(&rt->detector, kDetectorCapsule, nullptr)));

  py::bind(module, "find_markers", function(&find_markers_def, module));
  py::bind(module, "detect_dialect", function(&detect_dialect_def, module));
  py::bind(module, "detect_dialect_file", function(&detect_dialect_file_def, module));
}

py::ModuleDefinition definition({
    "dialect_detect",
    kModuleName,
    "Names the SQL platform a script was written for, and shows why.\n\n"
    "detect_dialect(text) weighs two kinds of evidence: the markers of PLATFORM_MARKERS and a lexicon of\n"
    "functions, types, keywords, statement forms, quoting, variable styles and batch separators documented\n"
    "for one platform or a few. A match counts only in its context: markers of scope \"comment\" inside\n"
    "comments, all other evidence in code, never in comments or string literals. Each entry that counts\n"
    "adds its weight to every platform it names; corroborating-only markers add only to platforms that\n"
    "other evidence has already scored. The weights are smoothed log-likelihood ratios fitted on labelled\n"
    "scripts, shrunk towards a small prior for entries seen in few files. The best platform is named when\n"
    "its score and its softmax share (the confidence) reach the calibrated thresholds; otherwise the\n"
    "verdict is undecided (platform None).",
    __FILE__,
    build,
});

}  // namespace
}  // namespace tessera::dialect_detect

PyMODINIT_FUNC PyInit_dialect_detect() { return tessera::dialect_detect::definition.init(); }
