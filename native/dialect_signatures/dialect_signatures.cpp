// agents.tessera.dialect_signatures: builds PLATFORM_MARKERS from the catalogue table at load.
//
// The record type and the platform constants belong to agents.tessera.dialect_probe, so the body does
// what a Python module body starting with `from agents.tessera.dialect_probe import Marker, ...` and
// continuing with one `Marker(...)` call per entry would do: the same import, the same name lookups, the
// same errors. That keeps a host's own dialect_probe (including one that imports this module back while
// it loads) working exactly as it would against a pure-Python catalogue.
#include "python/module.hpp"
#include "python/py.hpp"
#include "dialect_signatures/catalogue.hpp"

#include <array>
#include <vector>

namespace tessera::dialect {
namespace {

using py::Error;
using py::own;
using py::Ref;

constexpr const char* kProbeModule = "agents.tessera.dialect_probe";

// Taken in this order; a platform's enumerator is its index here.
constexpr std::array<const char*, 1 + kPlatformCount> kImportedNames = {
    "Marker",
    "PLATFORM_DATABRICKS",
    "PLATFORM_SNOWFLAKE",
    "PLATFORM_POSTGRESQL",
    "PLATFORM_MYSQL",
    "PLATFORM_SQLSERVER",
    "PLATFORM_ORACLE",
    "PLATFORM_REDSHIFT",
    "PLATFORM_BIGQUERY",
    "PLATFORM_TERADATA",
    "PLATFORM_HIVE",
};
static_assert(DATABRICKS == 1 && HIVE == kPlatformCount);

void build(PyObject* module) {

  std::array<Ref, kImportedNames.size()> names;
  for (std::size_t i = 0; i < names.size(); ++i) names[i] = py::intern(kImportedNames[i]);
  {
    std::vector<Ref> values = py::import_names(module, kProbeModule, kImportedNames);
    for (std::size_t i = 0; i < names.size(); ++i) py::bind(module, kImportedNames[i], values[i]);
  }

  const Ref plain = py::interned_tuple({"id", "platforms", "confidence", "pattern"});
  const Ref with_scope = py::interned_tuple({"id", "platforms", "confidence", "pattern", "scope"});
  const Ref with_flag = py::interned_tuple({"id", "platforms", "confidence", "pattern", "corroborating_only"});
  const Ref high = py::str("high");
  const Ref medium = py::str("medium");
  const Ref comment = py::str("comment");
  const Ref& marker_name = names[0];

  std::vector<Ref> records;
  records.reserve(kCatalogueSize);
  for (const Entry& entry : kCatalogue) {
    Ref marker = py::global(module, marker_name.get());
    Py_ssize_t count = 0;
    while (count < kMaxPlatformsPerEntry && entry.platforms[count] != NO_PLATFORM) ++count;
    Ref platforms = own(PyList_New(count));
    for (Py_ssize_t i = 0; i < count; ++i)
      PyList_SET_ITEM(platforms.get(), i, py::global(module, names[entry.platforms[i]].get()).release());

    Ref id = py::str(entry.id);
    Ref pattern = py::str(entry.pattern);
    // Slot 0 is scratch space that lets the callee prepend a bound self without copying.
    std::array<PyObject*, 6> stack = {nullptr, id.get(), platforms.get(),
                                      (entry.confidence == HIGH ? high : medium).get(), pattern.get(), nullptr};
    PyObject* kwnames = plain.get();
    switch (entry.extra) {
      case PLAIN:
        break;
      case SCOPE_COMMENT:
        stack[5] = comment.get();
        kwnames = with_scope.get();
        break;
      case CORROBORATING:
      case NOT_CORROBORATING:
        stack[5] = entry.extra == CORROBORATING ? Py_True : Py_False;
        kwnames = with_flag.get();
        break;
    }
    records.push_back(own(PyObject_Vectorcall(marker.get(), stack.data() + 1, PY_VECTORCALL_ARGUMENTS_OFFSET, kwnames)));
  }

  Ref catalogue = own(PyList_New(static_cast<Py_ssize_t>(records.size())));
  for (std::size_t i = 0; i < records.size(); ++i)
    PyList_SET_ITEM(catalogue.get(), static_cast<Py_ssize_t>(i), records[i].release());
  py::bind(module, "PLATFORM_MARKERS", catalogue);
}

py::ModuleDefinition definition({
    "dialect_signatures",
    "agents.tessera.dialect_signatures",
    "The catalogue of SQL dialect markers: PLATFORM_MARKERS.",
    __FILE__,
    build,
});

}  // namespace
}  // namespace tessera::dialect

PyMODINIT_FUNC PyInit_dialect_signatures() { return tessera::dialect::definition.init(); }
