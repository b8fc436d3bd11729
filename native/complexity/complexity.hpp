// What the two halves of agents.tessera.complexity share: grading (module.cpp) and reading plans
// (planner.cpp).
#pragma once

#include "complexity/core.hpp"
#include "python/module.hpp"
#include "python/py.hpp"
#include "text/textfile.hpp"

#include <span>
#include <string>

namespace tessera::complexity {

inline constexpr const char* kModuleName = "agents.tessera.complexity";

// [re.compile(text, flags) for each pattern], as the exposed tables hold them.
py::Ref compile_table(PyObject* module, std::span<const PatternText> patterns);

py::Ref size(size_t v);

// A module-level function of this module.
py::Ref function(PyMethodDef* def, PyObject* module);

// Called by the module body after classify_sql_file is bound: binds _SECTION_DELIMITERS,
// FileReadingStrategy and plan_reading_strategy. Throws py::Error on failure.
void add_reading_strategy(PyObject* module);

// The module's reader of script files, made at load.
const py::PathReader& path_reader(PyObject* module);

}  // namespace tessera::complexity
