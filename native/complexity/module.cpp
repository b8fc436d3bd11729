// agents.tessera.complexity: grades a SQL script (SIMPLE / MODERATE / COMPLEX, with the counts behind
// the grade) and derives the agent's turn budgets from those counts.
//
// The body binds what a Python module of the same content would bind, in the same order: its imports,
// `logger`, the four pattern tables as real `re.Pattern` objects, `SQLComplexity`, `ComplexityResult`,
// `classify_sql`, `classify_sql_file`, then the reading-strategy names. The `re` objects are only shown
// to the host; classification runs on a native compilation of the very same pattern texts, over the
// str's own storage, with the GIL released.
#include "complexity/complexity.hpp"

#include "python/module.hpp"
#include "python/py.hpp"
#include "regex/regex.hpp"
#include "text/sqltext.hpp"

#include <array>
#include <memory>
#include <string>
#include <vector>

namespace tessera::complexity {
namespace {

using py::Error;
using py::own;
using py::Ref;

// What the entry points need on every call, made once per load: the native patterns and the interned
// names of the globals, fields and event keys, so that a call on a short script costs little more than
// the record's own construction.
struct Runtime : py::ModuleState {
  Ref sql_complexity = py::intern("SQLComplexity");
  Ref complexity_result = py::intern("ComplexityResult");
  Ref classify_sql = py::intern("classify_sql");
  Ref logger = py::intern("logger");
  Ref debug = py::intern("debug");
  Ref read_text = py::intern("read_text");
  Ref event = py::intern("sql_classified");
  Ref utf8 = py::intern("utf-8");
  std::array<Ref, 3> grades = {py::intern("SIMPLE"), py::intern("MODERATE"), py::intern("COMPLEX")};
  Ref event_fields =
      py::interned_tuple({"complexity", "effective_lines", "complex_constructs", "moderate_constructs", "stored_procs"});
  Ref encoding_keyword = py::interned_tuple({"encoding"});
  // ComplexityResult(**fields), for the record class made at load without the interpreted __init__.
  py::RecordMaker record;
  py::PathReader reader = py::PathReader::capture();

  int traverse(visitproc visit, void* arg) override { return record.traverse(visit, arg); }
  void clear() override { record.clear(); }
};

const Runtime& runtime_of(PyObject* module) { return py::state_of<Runtime>(module); }

}  // namespace

// ---- shared with the planner ------------------------------------------------------------------------

Ref compile_table(PyObject* module, std::span<const PatternText> patterns) {
  Ref compile = py::attr(py::global(module, "re").get(), "compile");
  Ref table = own(PyList_New(0));
  for (const PatternText& p : patterns) {
    Ref flags = py::integer(p.flags);
    Ref compiled = py::call(compile.get(), {py::str(p.text).get(), flags.get()});
    py::check(PyList_Append(table.get(), compiled.get()));
  }
  return table;
}

Ref size(size_t v) { return own(PyLong_FromSize_t(v)); }

Ref function(PyMethodDef* def, PyObject* module) {
  Ref module_name = py::str(kModuleName);
  return own(PyCFunction_NewEx(def, module, module_name.get()));
}

const py::PathReader& path_reader(PyObject* module) { return runtime_of(module).reader; }

namespace {

// callable(*positional, **dict(zip(kwnames, keyword_values)))
template <size_t N>
Ref vectorcall(PyObject* callable, std::array<PyObject*, N> stack, size_t positional, PyObject* kwnames) {
  // Slot 0 is scratch space that lets the callee prepend a bound self without copying.
  return own(PyObject_Vectorcall(callable, stack.data() + 1, (positional) | PY_VECTORCALL_ARGUMENTS_OFFSET, kwnames));
}

Ref classify_text(PyObject* module, PyObject* sql_content) {
  py::require_exact(sql_content, &PyUnicode_Type, "sql_content");
  const Runtime& rt = runtime_of(module);
  const py::Text text = py::Text::of(sql_content);
  Classification verdict;
  {
    py::AllowThreads unlocked;
    verdict = classify(text);
  }
  const Counts& c = verdict.counts;
  const auto grade = static_cast<size_t>(verdict.grade);

  Ref member = own(PyObject_GetAttr(py::global(module, rt.sql_complexity.get()).get(), rt.grades[grade].get()));
  Ref effective_lines = size(c.effective_lines);
  Ref stored_procs = size(c.stored_procs);
  Ref complex = size(c.complex);
  Ref moderate = size(c.moderate);
  Ref temp_tables = size(c.temp_tables);
  Ref ctes = size(c.ctes);
  PyObject* fields[] = {member.get(),   effective_lines.get(), stored_procs.get(), complex.get(),
                        moderate.get(), temp_tables.get(),     ctes.get()};
  Ref result = rt.record.make(py::global(module, rt.complexity_result.get()).get(), fields);
  // logger.debug(event, **fields), the logger read at call time like any module global.
  Ref logger = py::global(module, rt.logger.get());
  std::array<PyObject*, 7> stack = {logger.get(),  rt.event.get(), member.get(),     effective_lines.get(),
                                    complex.get(), moderate.get(), stored_procs.get()};
  own(PyObject_VectorcallMethod(rt.debug.get(), stack.data(), 2 | PY_VECTORCALL_ARGUMENTS_OFFSET,
                                rt.event_fields.get()));
  return result;
}

PyObject* classify_sql(PyObject* module, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return py::boundary([&] {
    PyObject* sql_content = nullptr;
    py::Signature{"classify_sql", {"sql_content"}, 1, 0}.parse(args, nargs, kwnames, {&sql_content, 1});
    return classify_text(module, sql_content);
  });
}

PyObject* classify_sql_file(PyObject* module, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return py::boundary([&] {
    PyObject* sql_path = nullptr;
    py::Signature{"classify_sql_file", {"sql_path"}, 1, 0}.parse(args, nargs, kwnames, {&sql_path, 1});
    const Runtime& rt = runtime_of(module);
    Ref content = rt.reader.try_read(sql_path);
    if (!content) {
      std::array<PyObject*, 2> stack = {sql_path, rt.utf8.get()};
      content = own(PyObject_VectorcallMethod(rt.read_text.get(), stack.data(), 1 | PY_VECTORCALL_ARGUMENTS_OFFSET,
                                              rt.encoding_keyword.get()));
    }
    // Through the module global, as the body's own function would call it.
    return vectorcall<2>(py::global(module, rt.classify_sql.get()).get(), {nullptr, content.get()}, 1, nullptr);
  });
}

// ---- turn budgets -----------------------------------------------------------------------------------
//
// The formulas run on whatever the fields hold, with the host's number rules, so a record built by hand
// with odd values behaves as the same formulas written in Python would. Exact ints that are far from
// overflow take a C path with the same results.

constexpr long long kFastLimit = 1LL << 52;

bool small_int(PyObject* o, long long& v) {
  if (!PyLong_CheckExact(o)) return false;
  int overflow = 0;
  v = PyLong_AsLongLongAndOverflow(o, &overflow);
  if (v == -1 && PyErr_Occurred()) throw Error{};
  return overflow == 0 && v > -kFastLimit && v < kFastLimit;
}

// A number of the host's, with the host's own arithmetic and comparisons, for the budget formulas.
struct HostNumber {
  Ref value;
  HostNumber(long long v) : value(py::integer(v)) {}  // NOLINT: the formulas' constants convert implicitly
  explicit HostNumber(Ref v) : value(std::move(v)) {}
};

HostNumber floor_div(const HostNumber& a, const HostNumber& b) {
  return HostNumber(own(PyNumber_FloorDivide(a.value.get(), b.value.get())));
}
HostNumber mul(const HostNumber& a, const HostNumber& b) {
  return HostNumber(own(PyNumber_Multiply(a.value.get(), b.value.get())));
}
HostNumber add(const HostNumber& a, const HostNumber& b) {
  return HostNumber(own(PyNumber_Add(a.value.get(), b.value.get())));
}
bool compare(const HostNumber& a, const HostNumber& b, int op) {
  const int result = PyObject_RichCompareBool(a.value.get(), b.value.get(), op);
  py::check(result);
  return result != 0;
}
bool less(const HostNumber& a, const HostNumber& b) { return compare(a, b, Py_LT); }
bool positive(const HostNumber& a) { return compare(a, HostNumber(0), Py_GT); }

// The declared `int` result: ints pass, other numbers are truncated by int(), anything else is refused.
Ref as_int(Ref result) {
  if (PyLong_CheckExact(result.get())) return result;
  if (PyNumber_Check(result.get())) return own(PyNumber_Long(result.get()));
  py::raise_format(PyExc_TypeError, "Expected %.200s, got %.200s", "int", Py_TYPE(result.get())->tp_name);
}

PyObject* analysis_property(PyObject*, PyObject* record) {
  return py::boundary([&] {
    Ref lines = py::attr(record, "effective_lines");
    Ref constructs = py::attr(record, "complex_construct_count");
    long long l = 0, k = 0;
    if (small_int(lines.get(), l) && small_int(constructs.get(), k)) return py::integer(analysis_turns(l, k));
    return as_int(analysis_turns(HostNumber(lines), HostNumber(constructs)).value);
  });
}

PyObject* conversion_property(PyObject*, PyObject* record) {
  return py::boundary([&] {
    Ref lines = py::attr(record, "effective_lines");
    Ref constructs = py::attr(record, "complex_construct_count");
    Ref procs = py::attr(record, "stored_proc_count");
    long long l = 0, k = 0, p = 0;
    if (small_int(lines.get(), l) && small_int(constructs.get(), k) && small_int(procs.get(), p))
      return py::integer(conversion_turns(l, k, p));
    return as_int(conversion_turns(HostNumber(lines), HostNumber(constructs), HostNumber(procs)).value);
  });
}

PyObject* audit_property(PyObject*, PyObject*) {
  return py::boundary([] { return py::integer(kAuditTurns); });
}

PyMethodDef analysis_def = {"recommended_analysis_turns", analysis_property, METH_O,
                            "Agent turns for analysing the script: 3 to 8."};
PyMethodDef conversion_def = {"recommended_conversion_turns", conversion_property, METH_O,
                              "Agent turns for converting the script: 9 to 40."};
PyMethodDef audit_def = {"recommended_audit_turns", audit_property, METH_O, "Agent turns for the audit: always 3."};

PyMethodDef classify_sql_def = {
    "classify_sql", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(classify_sql)),
    METH_FASTCALL | METH_KEYWORDS,
    "classify_sql($module, /, sql_content)\n--\n\n"
    "Grade a SQL script by its constructs, size and stored procedures."};
PyMethodDef classify_sql_file_def = {
    "classify_sql_file", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(classify_sql_file)),
    METH_FASTCALL | METH_KEYWORDS,
    "classify_sql_file($module, /, sql_path)\n--\n\n"
    "Grade the SQL file at sql_path, read whole as UTF-8."};

// ---- the module body --------------------------------------------------------------------------------

void build(PyObject* module) {
  py::bind(module, "re", py::import_module(module, "re"));
  py::bind(module, "dataclass", py::import_names(module, "dataclasses", {"dataclass"})[0]);
  py::bind(module, "StrEnum", py::import_names(module, "enum", {"StrEnum"})[0]);
  py::bind(module, "Path", py::import_names(module, "pathlib", {"Path"})[0]);
  py::bind(module, "structlog", py::import_module(module, "structlog"));
  py::bind(module, "logger", py::call(py::attr(py::global(module, "structlog").get(), "get_logger").get(), {}));

  py::bind(module, "_COMPLEX_PATTERNS", compile_table(module, kComplexPatterns));
  py::bind(module, "_MODERATE_PATTERNS", compile_table(module, kModeratePatterns));
  py::bind(module, "_STORED_PROC_PATTERN",
           Ref::borrow(PyList_GET_ITEM(compile_table(module, {&kStoredProcPattern, 1}).get(), 0)));
  py::bind(module, "_COMMENT_PATTERNS", compile_table(module, kCommentPatterns));

  Runtime& runtime = py::install_state<Runtime>(module);
  prepare();

  py::bind(module, "SQLComplexity",
           py::str_enum(kModuleName, "SQLComplexity",
                        {{"SIMPLE", "simple"}, {"MODERATE", "moderate"}, {"COMPLEX", "complex"}}));
  Ref analysis = py::property(&analysis_def, module);
  Ref conversion = py::property(&conversion_def, module);
  Ref audit = py::property(&audit_def, module);
  Ref record_type = py::frozen_dataclass(kModuleName, "ComplexityResult",
                                         {{"complexity", "SQLComplexity"},
                                          {"effective_lines", "int"},
                                          {"stored_proc_count", "int"},
                                          {"complex_construct_count", "int"},
                                          {"moderate_construct_count", "int"},
                                          {"temp_table_count", "int"},
                                          {"cte_count", "int"}},
                                         {{"recommended_analysis_turns", analysis.get()},
                                          {"recommended_conversion_turns", conversion.get()},
                                          {"recommended_audit_turns", audit.get()}});
  runtime.record = py::RecordMaker(record_type, true);
  py::bind(module, "ComplexityResult", record_type);
  py::bind(module, "classify_sql", function(&classify_sql_def, module));
  py::bind(module, "classify_sql_file", function(&classify_sql_file_def, module));

  add_reading_strategy(module);
}

py::ModuleDefinition definition({
    "complexity",
    kModuleName,
    "SQL complexity grading, agent turn budgets and reading plans for large SQL files.",
    __FILE__,
    build,
});

}  // namespace
}  // namespace tessera::complexity

PyMODINIT_FUNC PyInit_complexity() { return tessera::complexity::definition.init(); }
