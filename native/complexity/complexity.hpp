#pragma once
#include "common/py.hpp"
#include "common/textfile.hpp"
namespace tessera::complexity {
// Called by the module body after classify_sql_file is bound: binds _SECTION_DELIMITERS, FileReadingStrategy
// and plan_reading_strategy. Throws py::Error on failure.
void add_reading_strategy(PyObject* module);
// The module's reader of script files, made at load.
const py::PathReader& path_reader(PyObject* module);
}
