// agents.tessera.complexity, reading side: the exposed section-delimiter table, the FileReadingStrategy
// record with the instruction text it renders, and plan_reading_strategy, which cuts a long SQL file
// into line ranges for an agent whose file tool reads by offset and limit.
//
// The planner reads the file as the path object's read_text would (directly, for the host's own
// paths; through read_text itself for anything else), then does all of its line work
// in one pass over the str's storage with the GIL released: line split, strip, the two boundary tests,
// and the section arithmetic. Only the result record and its hint strings are built under the GIL.
#include "complexity/complexity.hpp"

#include "python/py.hpp"
#include "regex/regex.hpp"
#include "text/sqltext.hpp"

#include <array>
#include <string>

namespace tessera::complexity {
namespace {

using py::Error;
using py::own;
using py::Ref;

template <class Ch>
Ref hint_text(const Ch* s, const Section& section) {
  if (section.block_lines == 0) return py::str_from(s + section.hint_begin, section.hint_size);
  return own(PyUnicode_FromFormat("SQL block (%zu lines)", section.block_lines));
}

Ref plan_file(PyObject* module, PyObject* sql_path) {
  Ref content = path_reader(module).try_read(sql_path);
  if (!content) {
    Ref read_text = py::attr(sql_path, "read_text");
    Ref encoding = py::str("utf-8");
    content = py::call(read_text.get(), {}, {{"encoding", encoding.get()}});
  }
  if (!PyUnicode_Check(content.get())) {
    // The lines are those of the text's splitlines: something without one fails as it would there.
    py::attr(content.get(), "splitlines");
    py::raise_format(PyExc_TypeError, "read_text() should return str, not %.200s", Py_TYPE(content.get())->tp_name);
  }

  return py::Text::of(content.get()).visit([&](const auto* s, size_t n) {
    Plan p;
    {
      py::AllowThreads unlocked;
      p = plan_reading(text::view_of(s, n));
    }
    Ref total = size(p.total_lines);
    Ref first_read = size(p.first_read);
    Ref sections = own(PyTuple_New(static_cast<Py_ssize_t>(p.sections.size())));
    for (size_t i = 0; i < p.sections.size(); ++i) {
      const Section& section = p.sections[i];
      Ref start = size(section.start);
      Ref end = size(section.end);
      Ref hint = hint_text(s, section);
      PyTuple_SET_ITEM(sections.get(), static_cast<Py_ssize_t>(i), py::tuple({start.get(), end.get(), hint.get()}).release());
    }
    if (p.chunked) {
      Ref count = size(p.sections.size());
      py::log_debug(module, "reading_strategy",
                    {{"total_lines", total.get()}, {"sections", count.get()}, {"first_read", first_read.get()}});
    }
    Ref record_type = py::global(module, "FileReadingStrategy");
    return py::call(record_type.get(), {py::boolean(p.chunked).get(), total.get(), first_read.get(), sections.get()});
  });
}

PyObject* plan_reading_strategy(PyObject* module, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return py::boundary([&] {
    PyObject* sql_path = nullptr;
    py::Signature{"plan_reading_strategy", {"sql_path"}, 1, 0}.parse(args, nargs, kwnames, {&sql_path, 1});
    return plan_file(module, sql_path);
  });
}

// ---- the instruction text ---------------------------------------------------------------------------

// f"{value}": the host's format() with an empty format string (plain decimal for ints, strs as they are).
Ref text_of(PyObject* value) {
  Ref empty = own(PyUnicode_New(0, 0));
  return own(PyObject_Format(value, empty.get()));
}

// `start, end, hint = entry` with the interpreter's own unpacking rules and messages.
std::array<Ref, 3> unpack3(PyObject* entry) {
  std::array<Ref, 3> out;
  if ((PyTuple_CheckExact(entry) || PyList_CheckExact(entry)) && Py_SIZE(entry) == 3) {
    PyObject** items = PySequence_Fast_ITEMS(entry);
    for (size_t i = 0; i < 3; ++i) out[i] = Ref::borrow(items[i]);
    return out;
  }
  PyObject* raw_iterator = PyObject_GetIter(entry);
  if (raw_iterator == nullptr) {
    if (PyErr_ExceptionMatches(PyExc_TypeError) && Py_TYPE(entry)->tp_iter == nullptr && !PySequence_Check(entry)) {
      PyErr_Clear();
      py::raise_format(PyExc_TypeError, "cannot unpack non-iterable %.200s object", Py_TYPE(entry)->tp_name);
    }
    throw Error{};
  }
  Ref iterator = Ref::steal(raw_iterator);
  for (size_t i = 0; i < 3; ++i) {
    out[i] = Ref::steal(PyIter_Next(iterator.get()));
    if (!out[i]) {
      if (PyErr_Occurred()) throw Error{};
      py::raise_format(PyExc_ValueError, "not enough values to unpack (expected %d, got %d)", 3, static_cast<int>(i));
    }
  }
  Ref extra = Ref::steal(PyIter_Next(iterator.get()));
  if (extra) py::raise_format(PyExc_ValueError, "too many values to unpack (expected %d)", 3);
  if (PyErr_Occurred()) throw Error{};
  return out;
}

Ref instructions(PyObject* record, PyObject* sql_path) {
  py::require_exact(sql_path, &PyUnicode_Type, "sql_path");
  const int chunked = PyObject_IsTrue(py::attr(record, "should_chunk").get());
  py::check(chunked);
  if (!chunked) return own(PyUnicode_FromFormat("Read the complete SQL file at `%U` using the Read tool.", sql_path));

  Ref lines = own(PyList_New(0));
  auto append = [&](Ref line) { py::check(PyList_Append(lines.get(), line.get())); };
  append(own(PyUnicode_FromFormat("This is a %U-line SQL file. Read it strategically:",
                                  text_of(py::attr(record, "total_lines").get()).get())));
  append(own(PyUnicode_FromFormat(
      "1. Read lines 1-%U to understand structure (SET statements, parameters, procedure signature).",
      text_of(py::attr(record, "first_read_lines").get()).get())));
  append(py::str("2. Then read each logical section:"));
  Ref iterator = own(PyObject_GetIter(py::attr(record, "section_boundaries").get()));
  while (Ref entry = Ref::steal(PyIter_Next(iterator.get()))) {
    const auto [start, end, hint] = unpack3(entry.get());
    Ref start_text = text_of(start.get());
    Ref end_text = text_of(end.get());
    Ref hint_shown = text_of(hint.get());
    append(own(PyUnicode_FromFormat("   - Lines %U-%U: %U", start_text.get(), end_text.get(), hint_shown.get())));
  }
  if (PyErr_Occurred()) throw Error{};
  append(py::str("\nUse the Read tool with offset and limit parameters. Do NOT try to read the entire file in one "
                 "Read call."));
  Ref separator = py::str("\n");
  return own(PyUnicode_Join(separator.get(), lines.get()));
}

PyObject* format_reading_instructions(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return py::boundary([&] {
    std::array<PyObject*, 2> argv{};
    py::Signature{"format_reading_instructions", {"self", "sql_path"}, 2, 0}.parse(args, nargs, kwnames, argv);
    return instructions(argv[0], argv[1]);
  });
}

PyMethodDef plan_reading_strategy_def = {
    "plan_reading_strategy", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(plan_reading_strategy)),
    METH_FASTCALL | METH_KEYWORDS,
    "plan_reading_strategy($module, /, sql_path)\n--\n\n"
    "Plan how an agent reads the SQL file at sql_path: whole when it has at most 500 lines, otherwise\n"
    "lines 1-150 first and then up to five sections cut at GO lines and procedure or function heads."};

PyMethodDef format_reading_instructions_def = {
    "format_reading_instructions",
    reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(format_reading_instructions)),
    METH_FASTCALL | METH_KEYWORDS,
    "format_reading_instructions(self, sql_path)\n--\n\n"
    "The text that tells the agent how to read the file shown as sql_path, following this plan."};

}  // namespace

void add_reading_strategy(PyObject* module) {
  py::bind(module, "_SECTION_DELIMITERS", compile_table(module, kSectionDelimiters));

  Ref method = py::instance_method(&format_reading_instructions_def, module);
  py::bind(module, "FileReadingStrategy",
           py::frozen_dataclass(kModuleName, "FileReadingStrategy",
                                {{"should_chunk", "bool"},
                                 {"total_lines", "int"},
                                 {"first_read_lines", "int"},
                                 {"section_boundaries", "tuple[tuple[int, int, str], ...]"}},
                                {{"format_reading_instructions", method.get()}}));

  py::bind(module, "plan_reading_strategy", function(&plan_reading_strategy_def, module));
}

}  // namespace tessera::complexity
