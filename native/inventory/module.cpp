// agents.tessera.inventory: the objects a SQL script defines (procedures, functions, views,
// triggers, tables and the rest), where each one stands, how hard each one is to convert, and a
// reading plan cut along them.
//
// The scan (scanner.hpp) and the plan arithmetic (plan.hpp) run natively over the str's own
// storage with the GIL released; records, names and hints are built afterwards under the GIL.
// Each object is graded by the complexity module's own core on exactly its lines, in place and in the
// same GIL-free stretch as the scan, so an object's grade is by construction the grade classify_sql
// gives those lines.
#include "inventory/grading.hpp"
#include "inventory/plan.hpp"
#include "inventory/scanner.hpp"

#include "complexity/core.hpp"
#include "python/module.hpp"
#include "python/py.hpp"
#include "text/sqltext.hpp"
#include "text/textfile.hpp"

#include <array>
#include <string>
#include <vector>

namespace tessera::inventory {
namespace {

using py::Error;
using py::own;
using py::Ref;

constexpr const char* kModuleName = "agents.tessera.inventory";
constexpr size_t kHintChars = 50;

struct State : py::ModuleState {
  py::PathReader reader = py::PathReader::capture();
  // The records, built without their interpreted __init__ while the classes are those of the load.
  py::RecordMaker object_record, graded_record, result_record;

  int traverse(visitproc visit, void* arg) override {
    for (const py::RecordMaker* maker : {&object_record, &graded_record, &result_record})
      if (const int status = maker->traverse(visit, arg)) return status;
    return 0;
  }
  void clear() override {
    object_record.clear();
    graded_record.clear();
    result_record.clear();
  }
};

const State& state_of(PyObject* module) { return py::state_of<State>(module); }

const py::PathReader& reader_of(PyObject* module) { return state_of(module).reader; }

Ref size(size_t v) { return own(PyLong_FromSize_t(v)); }

Ref global(PyObject* module, const char* name) { return py::global(module, name); }

// ---- arguments --------------------------------------------------------------------------------------

// (first, second=default) with the messages the host gives for a function of that shape.
struct TwoArgs {
  const char* function;
  const char* first;
  const char* second;

  std::array<PyObject*, 2> parse(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) const {
    std::array<PyObject*, 2> out{};
    if (nargs > 2)
      py::raise_format(PyExc_TypeError, "%.200s() takes %.8s %zd positional argument%.1s (%zd given)", function,
                       "at most", Py_ssize_t{2}, "s", nargs);
    for (Py_ssize_t i = 0; i < nargs; ++i) out[static_cast<size_t>(i)] = args[i];
    const Py_ssize_t nkw = kwnames ? PyTuple_GET_SIZE(kwnames) : 0;
    for (Py_ssize_t k = 0; k < nkw; ++k) {
      PyObject* key = PyTuple_GET_ITEM(kwnames, k);
      size_t slot;
      if (PyUnicode_CompareWithASCIIString(key, first) == 0) {
        slot = 0;
      } else if (PyUnicode_CompareWithASCIIString(key, second) == 0) {
        slot = 1;
      } else {
        py::raise_format(PyExc_TypeError, "%s() got an unexpected keyword argument '%U'", function, key);
      }
      if (static_cast<Py_ssize_t>(slot) < nargs)
        py::raise_format(PyExc_TypeError, "%s() got multiple values for keyword argument '%U'", function, key);
      out[slot] = args[nargs + k];
    }
    if (out[0] == nullptr)
      py::raise_format(PyExc_TypeError, "%.200s() takes %.8s %zd positional argument%.1s (%zd given)", function,
                       "at least", Py_ssize_t{1}, "", nargs);
    return out;
  }
};

size_t section_limit(PyObject* value) {
  if (value == nullptr) return kDefaultLimit;
  if (!PyLong_Check(value))
    py::raise_format(PyExc_TypeError, "Argument '%.200s' has incorrect type (expected %.200s, got %.200s)",
                     "max_section_lines", "int", Py_TYPE(value)->tp_name);
  int overflow = 0;
  const long long v = PyLong_AsLongLongAndOverflow(value, &overflow);
  if (v == -1 && PyErr_Occurred()) throw Error{};
  if (overflow < 0 || (overflow == 0 && v < static_cast<long long>(kSmallestLimit)))
    py::raise_format(PyExc_ValueError, "max_section_lines must be at least %zu, got %S", kSmallestLimit, value);
  return overflow > 0 ? static_cast<size_t>(-1) / 4 : static_cast<size_t>(v);
}

// The file's text as classify_sql_file reads it: read_text(encoding="utf-8").
Ref read_script(PyObject* module, PyObject* path) {
  Ref content = reader_of(module).try_read(path);
  if (content) return content;
  Ref read_text = py::attr(path, "read_text");
  Ref encoding = py::str("utf-8");
  return py::call(read_text.get(), {}, {{"encoding", encoding.get()}});
}

// ---- records ----------------------------------------------------------------------------------------

// The object's name as written, without its brackets, quotes and backticks, and without blanks
// around dots; for IDENTIFIER('...'), the name its string holds, and for IDENTIFIER($variable), the
// variable.
template <class Ch>
Ref unquoted(const Ch* s, const Object& o) {
  const bool called = o.called.end != 0;
  const size_t b = called ? o.called.begin : o.name_begin, e = called ? o.called.end : o.name_end;
  const Ch quote = o.called.string ? Ch('\'') : Ch(0);  // a string's quote, doubled inside it
  std::vector<Py_UCS4> out;
  out.reserve(e - b);
  size_t i = b;
  while (i < e) {
    const Ch c = s[i];
    if (quote && c == quote) {
      out.push_back(c);
      i += (i + 1 < e && s[i + 1] == quote) ? 2 : 1;
    } else if (c == Ch('[') || c == Ch('"') || c == Ch('`')) {
      const Ch close = c == Ch('[') ? Ch(']') : c;
      for (++i; i < e; ++i) {
        if (s[i] == close) {
          if (i + 1 < e && s[i + 1] == close) {
            out.push_back(s[i++]);
            continue;
          }
          ++i;
          break;
        }
        out.push_back(s[i]);
      }
    } else if (text::classes(c) & text::kSpace) {
      ++i;
    } else {
      out.push_back(c);
      ++i;
    }
  }
  return own(PyUnicode_FromKindAndData(PyUnicode_4BYTE_KIND, out.data(), static_cast<Py_ssize_t>(out.size())));
}

struct Records {
  const py::RecordMaker& maker;
  Ref kind_type;
  Ref object_type;
  std::array<Ref, kStatementCount> statements;
  std::array<Ref, kKindCount> kinds;  // ObjectKind(value), asked once a call for each kind met

  explicit Records(PyObject* module)
      : maker(state_of(module).object_record), kind_type(global(module, "ObjectKind")), object_type(global(module, "SqlObject")) {
    for (size_t k = 0; k < kStatementCount; ++k) statements[k] = py::str(kStatementValues[k]);
  }

  template <class Ch>
  Ref object(const Ch* s, const Object& o) {
    Ref& kind = kinds[o.kind];
    if (!kind) kind = own(PyObject_CallOneArg(kind_type.get(), py::str(kKindValues[o.kind]).get()));
    Ref name = unquoted(s, o);
    Ref raw = py::str_from(s + o.name_begin, o.name_end - o.name_begin);
    Ref first = size(o.first_line);
    Ref last = size(o.last_line);
    PyObject* fields[] = {kind.get(), name.get(), raw.get(), statements[o.statement].get(), first.get(), last.get()};
    return maker.make(object_type.get(), fields);
  }
};

template <class Ch>
Inventory scan_unlocked(const Ch* s, size_t n, bool plan) {
  py::AllowThreads unlocked;
  return scan(s, n, plan);
}

Ref objects_of(PyObject* module, PyObject* text, bool line_by_line = false) {
  py::require_exact(text, &PyUnicode_Type, "text");
  return py::Text::of(text).visit([&](const auto* s, size_t n) {
    const Inventory inv = scan_unlocked(s, n, line_by_line);
    Records records(module);
    Ref list = own(PyList_New(static_cast<Py_ssize_t>(inv.objects.size())));
    for (size_t k = 0; k < inv.objects.size(); ++k)
      PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(k), records.object(s, inv.objects[k]).release());
    return list;
  });
}

PyObject* find_objects(PyObject* module, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return py::boundary([&] {
    PyObject* text = nullptr;
    py::Signature{"find_objects", {"text"}, 1, 0}.parse(args, nargs, kwnames, {&text, 1});
    Ref list = objects_of(module, text);
    Ref count = size(static_cast<size_t>(PyList_GET_SIZE(list.get())));
    py::log_debug(module, "objects_found", {{"objects", count.get()}});
    return list;
  });
}

// The inventory as the planner's scan finds it, visiting every line rather than taking the lines
// a mask at a time: the two must agree, and the tests hold them to it.
PyObject* find_objects_line_by_line(PyObject* module, PyObject* text) {
  return py::boundary([&] { return objects_of(module, text, true); });
}

PyObject* find_objects_file(PyObject* module, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return py::boundary([&] {
    PyObject* path = nullptr;
    py::Signature{"find_objects_file", {"path"}, 1, 0}.parse(args, nargs, kwnames, {&path, 1});
    Ref content = read_script(module, path);
    Ref function = global(module, "find_objects");
    return own(PyObject_CallOneArg(function.get(), content.get()));
  });
}

// ---- grades -----------------------------------------------------------------------------------------

// ComplexityResult(**fields) for counts of the complexity core, as classify_sql builds it. The
// module globals are read once a call, as a Python loop over the objects would read them.
class Results {
 public:
  explicit Results(PyObject* module)
      : maker_(state_of(module).result_record),
        grade_type_(global(module, "SQLComplexity")),
        result_type_(global(module, "ComplexityResult")) {}

  Ref operator()(const complexity::Counts& c) {
    static constexpr const char* kGrades[] = {"SIMPLE", "MODERATE", "COMPLEX"};
    const auto g = static_cast<size_t>(complexity::grade_of(c));
    if (!grades_[g]) grades_[g] = py::attr(grade_type_.get(), kGrades[g]);
    Ref effective = size(c.effective_lines), procs = size(c.stored_procs), complex = size(c.complex);
    Ref moderate = size(c.moderate), temp = size(c.temp_tables), ctes = size(c.ctes);
    PyObject* values[] = {grades_[g].get(), effective.get(), procs.get(),  complex.get(),
                          moderate.get(),   temp.get(),      ctes.get()};
    return maker_.make(result_type_.get(), values);
  }

 private:
  const py::RecordMaker& maker_;
  Ref grade_type_;
  Ref result_type_;
  std::array<Ref, 3> grades_;
};

PyObject* grade_objects(PyObject* module, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return py::boundary([&] {
    PyObject* text = nullptr;
    py::Signature{"grade_objects", {"text"}, 1, 0}.parse(args, nargs, kwnames, {&text, 1});
    py::require_exact(text, &PyUnicode_Type, "text");
    Ref graded_type = global(module, "GradedObject");
    const py::RecordMaker& graded = state_of(module).graded_record;
    Ref list = py::Text::of(text).visit([&](const auto* s, size_t n) {
      Inventory inv;
      std::vector<complexity::Counts> counts;
      {
        py::AllowThreads unlocked;
        inv = scan(s, n, false);
        counts = grade(s, n, inv);
      }
      Records records(module);
      Results results(module);
      Ref out = own(PyList_New(static_cast<Py_ssize_t>(inv.objects.size())));
      for (size_t k = 0; k < inv.objects.size(); ++k) {
        Ref object = records.object(s, inv.objects[k]);
        Ref result = results(counts[k]);
        PyObject* fields[] = {object.get(), result.get()};
        PyList_SET_ITEM(out.get(), static_cast<Py_ssize_t>(k), graded.make(graded_type.get(), fields).release());
      }
      return out;
    });
    Ref count = size(static_cast<size_t>(PyList_GET_SIZE(list.get())));
    py::log_debug(module, "objects_graded", {{"objects", count.get()}});
    return list;
  });
}

// ---- reading plans ----------------------------------------------------------------------------------

// Line `line` (1-based) stripped, cut to the hint length; empty for a blank or comment line.
template <class Ch>
std::vector<Py_UCS4> line_text(const Ch* s, size_t n, const Inventory& inv, size_t line) {
  std::vector<Py_UCS4> out;
  const size_t begin = inv.line_begin[line - 1];
  const auto [b, e] = text::strip(s, begin, text::find_line_break(s, begin, n));
  if (e - b >= 2 && s[b] == Ch('-') && s[b + 1] == Ch('-')) return out;
  for (size_t i = b; i < e && out.size() < kHintChars; ++i) out.push_back(s[i]);
  return out;
}

// The statement that starts at `verb`, blanks folded, cut to the hint length; when its first line
// holds no more than its first word, the next line's first words join it (INSERT / #target).
template <class Ch>
std::vector<Py_UCS4> statement_text(const Ch* s, size_t n, size_t verb) {
  std::vector<Py_UCS4> out;
  size_t words = 0, breaks = 0;
  bool blank = false;
  for (size_t i = verb; i < n && out.size() < kHintChars; ++i) {
    const Ch c = s[i];
    if (text::is_break_char(c)) {
      if (words >= 2 || ++breaks > 1) break;
      blank = true;
      continue;
    }
    if (c == Ch('-') && i + 1 < n && s[i + 1] == Ch('-')) {
      i = text::find_line_break(s, i, n) - 1;
      continue;
    }
    if (text::classes(c) & text::kSpace) {
      blank = true;
      continue;
    }
    if (blank && !out.empty()) out.push_back(' ');
    if (blank || out.empty()) ++words;
    blank = false;
    out.push_back(c);
  }
  if (out.size() > kHintChars) out.resize(kHintChars);
  return out;
}

Ref from_points(const std::vector<Py_UCS4>& v) {
  return own(PyUnicode_FromKindAndData(PyUnicode_4BYTE_KIND, v.data(), static_cast<Py_ssize_t>(v.size())));
}

template <class Ch>
Ref hint(const Ch* s, size_t n, const Inventory& inv, const PlannedSection& section) {
  std::vector<Py_UCS4> detail;
  if (section.statement != PlannedSection::kNone) {
    detail = statement_text(s, n, section.statement);
  } else {
    for (size_t line = section.start; line <= section.end && detail.empty() && line < section.start + 50; ++line)
      detail = line_text(s, n, inv, line);
  }
  Ref detail_text = from_points(detail);
  if (section.object == PlannedSection::kNone) {
    if (detail.empty()) return py::str("outside any object");
    return own(PyUnicode_FromFormat("outside any object: %U", detail_text.get()));
  }
  const Object& o = inv.objects[section.object];
  Ref name = unquoted(s, o);
  Ref label = own(PyUnicode_FromFormat(section.continued ? "%s %U, continued" : "%s %U", kKindValues[o.kind], name.get()));
  if (section.parts == 1) return label;
  Ref numbered = own(PyUnicode_FromFormat("%U, part %zu of %zu", label.get(), section.part, section.parts));
  if ((section.part == 1 && !section.continued) || detail.empty()) return numbered;
  return own(PyUnicode_FromFormat("%U: %U", numbered.get(), detail_text.get()));
}

Ref plan_of(PyObject* module, PyObject* text, size_t limit) {
  py::require_exact(text, &PyUnicode_Type, "text");
  return py::Text::of(text).visit([&](const auto* s, size_t n) {
    Inventory inv;
    ReadingPlan p;
    {
      py::AllowThreads unlocked;
      inv = scan(s, n, true);
      p = plan_reading(inv, limit);
    }
    Ref sections = own(PyTuple_New(static_cast<Py_ssize_t>(p.sections.size())));
    for (size_t k = 0; k < p.sections.size(); ++k) {
      const PlannedSection& section = p.sections[k];
      Ref start = size(section.start);
      Ref end = size(section.end);
      Ref text_hint = hint(s, n, inv, section);
      PyTuple_SET_ITEM(sections.get(), static_cast<Py_ssize_t>(k),
                       py::tuple({start.get(), end.get(), text_hint.get()}).release());
    }
    Ref total = size(p.total_lines);
    Ref first_read = size(p.first_read);
    Ref count = size(p.sections.size());
    py::log_debug(module, "object_reading_plan",
                  {{"total_lines", total.get()}, {"sections", count.get()}, {"first_read", first_read.get()}});
    Ref record_type = global(module, "ObjectReadingPlan");
    return py::call(record_type.get(), {total.get(), first_read.get(), sections.get()});
  });
}

PyObject* plan_object_reading(PyObject* module, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return py::boundary([&] {
    const auto argv = TwoArgs{"plan_object_reading", "text", "max_section_lines"}.parse(args, nargs, kwnames);
    py::require_exact(argv[0], &PyUnicode_Type, "text");
    return plan_of(module, argv[0], section_limit(argv[1]));
  });
}

PyObject* plan_object_reading_file(PyObject* module, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return py::boundary([&] {
    const auto argv = TwoArgs{"plan_object_reading_file", "path", "max_section_lines"}.parse(args, nargs, kwnames);
    const size_t limit = section_limit(argv[1]);
    Ref content = read_script(module, argv[0]);
    return plan_of(module, content.get(), limit);
  });
}

// f"{value}", as the complexity module's instructions write their numbers and hints.
Ref text_of(PyObject* value) {
  Ref empty = own(PyUnicode_New(0, 0));
  return own(PyObject_Format(value, empty.get()));
}

Ref instructions(PyObject* plan, PyObject* file_path) {
  py::require_exact(file_path, &PyUnicode_Type, "file_path");
  Ref sections = py::attr(plan, "sections");
  Ref items = own(PySequence_Tuple(sections.get()));
  if (PyTuple_GET_SIZE(items.get()) == 0)
    return own(PyUnicode_FromFormat("Read the complete SQL file at `%U` using the Read tool.", file_path));

  Ref lines = own(PyList_New(0));
  auto append = [&](Ref line) { py::check(PyList_Append(lines.get(), line.get())); };
  append(own(PyUnicode_FromFormat("This is a %U-line SQL file. Read it strategically, one object at a time:",
                                  text_of(py::attr(plan, "total_lines").get()).get())));
  append(own(PyUnicode_FromFormat(
      "1. Read lines 1-%U to understand structure (SET statements, parameters, procedure signature).",
      text_of(py::attr(plan, "first_read_lines").get()).get())));
  append(py::str("2. Then read each section; each holds one object, or one part of a long one:"));
  for (Py_ssize_t k = 0; k < PyTuple_GET_SIZE(items.get()); ++k) {
    PyObject* entry = PyTuple_GET_ITEM(items.get(), k);
    Ref triple = own(PySequence_Tuple(entry));
    const Py_ssize_t got = PyTuple_GET_SIZE(triple.get());
    if (got < 3) py::raise_format(PyExc_ValueError, "not enough values to unpack (expected 3, got %zd)", got);
    if (got > 3) py::raise_format(PyExc_ValueError, "too many values to unpack (expected 3)");
    append(own(PyUnicode_FromFormat("   - Lines %U-%U: %U", text_of(PyTuple_GET_ITEM(triple.get(), 0)).get(),
                                    text_of(PyTuple_GET_ITEM(triple.get(), 1)).get(),
                                    text_of(PyTuple_GET_ITEM(triple.get(), 2)).get())));
  }
  append(py::str("\nUse the Read tool with offset and limit parameters. Do NOT try to read the entire file in one "
                 "Read call."));
  Ref separator = py::str("\n");
  return own(PyUnicode_Join(separator.get(), lines.get()));
}

PyObject* format_object_reading_instructions(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return py::boundary([&] {
    std::array<PyObject*, 2> argv{};
    py::Signature{"format_object_reading_instructions", {"plan", "file_path"}, 2, 0}.parse(args, nargs, kwnames,
                                                                                          argv);
    return instructions(argv[0], argv[1]);
  });
}

// ---- the module -------------------------------------------------------------------------------------

#define FASTCALL(f) reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(f)), METH_FASTCALL | METH_KEYWORDS

PyMethodDef find_objects_def = {"find_objects", FASTCALL(find_objects),
                                "find_objects($module, /, text)\n--\n\n"
                                "The objects the SQL text defines, in order of appearance."};
PyMethodDef find_objects_file_def = {"find_objects_file", FASTCALL(find_objects_file),
                                     "find_objects_file($module, /, path)\n--\n\n"
                                     "The objects the SQL file at path defines, read whole as UTF-8."};
PyMethodDef grade_objects_def = {"grade_objects", FASTCALL(grade_objects),
                                 "grade_objects($module, /, text)\n--\n\n"
                                 "Each object of the SQL text with the grade classify_sql gives its lines."};
PyMethodDef plan_object_reading_def = {
    "plan_object_reading", FASTCALL(plan_object_reading),
    "plan_object_reading($module, /, text, max_section_lines=1500)\n--\n\n"
    "A reading plan whose sections follow the objects and hold at most max_section_lines lines."};
PyMethodDef plan_object_reading_file_def = {
    "plan_object_reading_file", FASTCALL(plan_object_reading_file),
    "plan_object_reading_file($module, /, path, max_section_lines=1500)\n--\n\n"
    "plan_object_reading on the SQL file at path, read whole as UTF-8."};
PyMethodDef line_by_line_def = {"_find_objects_line_by_line", find_objects_line_by_line, METH_O,
                                "find_objects by the planner's line-by-line scan."};
PyMethodDef format_def = {"format_object_reading_instructions", FASTCALL(format_object_reading_instructions),
                          "format_object_reading_instructions($module, /, plan, file_path)\n--\n\n"
                          "The text that tells the agent how to read the file shown as file_path by the plan."};

Ref function(PyMethodDef* def, PyObject* module) {
  Ref module_name = py::str(kModuleName);
  return own(PyCFunction_NewEx(def, module, module_name.get()));
}

void build(PyObject* module) {
  py::bind(module, "dataclass", py::attr(py::import("dataclasses").get(), "dataclass"));
  py::bind(module, "StrEnum", py::attr(py::import("enum").get(), "StrEnum"));
  py::bind(module, "Path", py::attr(py::import("pathlib").get(), "Path"));
  Ref structlog = py::import("structlog");
  py::bind(module, "structlog", structlog);
  const auto complexity = py::import_names(module, "agents.tessera.complexity", {"ComplexityResult", "SQLComplexity"});
  py::bind(module, "ComplexityResult", complexity[0]);
  py::bind(module, "SQLComplexity", complexity[1]);
  py::bind(module, "logger", py::call(py::attr(structlog.get(), "get_logger").get(), {}));
  complexity::prepare();
  State& state = py::install_state<State>(module);
  state.result_record = py::RecordMaker(complexity[0], true);

  py::bind(module, "ObjectKind",
           py::str_enum(kModuleName, "ObjectKind",
                        {{"PROCEDURE", "procedure"},
                         {"FUNCTION", "function"},
                         {"VIEW", "view"},
                         {"TRIGGER", "trigger"},
                         {"TABLE", "table"},
                         {"INDEX", "index"},
                         {"SCHEMA", "schema"},
                         {"SEQUENCE", "sequence"},
                         {"TYPE", "type"},
                         {"PACKAGE", "package"},
                         {"PACKAGE_BODY", "package_body"},
                         {"MACRO", "macro"},
                         {"OTHER", "other"}}));
  Ref object_type = py::frozen_dataclass(kModuleName, "SqlObject",
                                         {{"kind", "ObjectKind"},
                                          {"name", "str"},
                                          {"raw_name", "str"},
                                          {"statement", "str"},
                                          {"first_line", "int"},
                                          {"last_line", "int"}});
  state.object_record = py::RecordMaker(object_type, false);
  py::bind(module, "SqlObject", object_type);
  Ref graded_type =
      py::frozen_dataclass(kModuleName, "GradedObject", {{"object", "SqlObject"}, {"result", "ComplexityResult"}});
  state.graded_record = py::RecordMaker(graded_type, false);
  py::bind(module, "GradedObject", graded_type);
  py::bind(module, "ObjectReadingPlan",
           py::frozen_dataclass(kModuleName, "ObjectReadingPlan",
                                {{"total_lines", "int"},
                                 {"first_read_lines", "int"},
                                 {"sections", "tuple[tuple[int, int, str], ...]"}}));
  py::bind(module, "find_objects", function(&find_objects_def, module));
  py::bind(module, "find_objects_file", function(&find_objects_file_def, module));
  py::bind(module, "grade_objects", function(&grade_objects_def, module));
  py::bind(module, "plan_object_reading", function(&plan_object_reading_def, module));
  py::bind(module, "plan_object_reading_file", function(&plan_object_reading_file_def, module));
  py::bind(module, "format_object_reading_instructions", function(&format_def, module));
  py::bind(module, "_find_objects_line_by_line", function(&line_by_line_def, module));
}

py::ModuleDefinition definition({
    "inventory",
    kModuleName,
    "The objects a SQL script defines, each graded, and reading plans cut along them.",
    __FILE__,
    build,
});

}  // namespace
}  // namespace tessera::inventory

PyMODINIT_FUNC PyInit_inventory() { return tessera::inventory::definition.init(); }
