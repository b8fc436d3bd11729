// agents.tessera.dialect_signatures: builds PLATFORM_MARKERS from the catalogue table at load.
//
// The record type and the platform constants belong to agents.tessera.dialect_probe, so the body does
// what a Python module body starting with `from agents.tessera.dialect_probe import Marker, ...` and
// continuing with one `Marker(...)` call per entry would do: the same import, the same name lookups, the
// same errors. That keeps a host's own dialect_probe (including one that imports this module back while
// it loads) working exactly as it would against a pure-Python catalogue.
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

// The import statement's own lookup: through builtins.__import__, so that a host hook sees it.
Ref import_probe(PyObject* globals, PyObject* fromlist) {
  PyObject* builtins = PyEval_GetBuiltins();  // borrowed
  PyObject* import_func = nullptr;
  if (builtins == nullptr || PyDict_GetItemStringRef(builtins, "__import__", &import_func) < 0) throw Error{};
  if (import_func == nullptr) py::raise(PyExc_ImportError, "__import__ not found");
  Ref hook = Ref::steal(import_func);
  Ref name = py::str(kProbeModule);
  Ref level = py::integer(0);
  return py::call(hook.get(), {name.get(), globals, globals, fromlist, level.get()});
}

// `from module import name` for one name, with the interpreter's fallback to a submodule already in
// sys.modules and its ImportError (message, name, path and name_from).
Ref import_from(PyObject* module, PyObject* name) {
  PyObject* found = nullptr;
  if (PyObject_GetOptionalAttr(module, name, &found) != 0) {
    if (found == nullptr) throw Error{};
    return Ref::steal(found);
  }
  PyObject* raw_package = nullptr;
  if (PyObject_GetOptionalAttrString(module, "__name__", &raw_package) < 0) throw Error{};
  Ref package = Ref::steal(raw_package);
  if (package && !PyUnicode_Check(package.get())) package = Ref{};
  if (package) {
    Ref full = own(PyUnicode_FromFormat("%U.%U", package.get(), name));
    PyObject* submodule = PyImport_GetModule(full.get());
    if (submodule != nullptr) return Ref::steal(submodule);
    if (PyErr_Occurred()) throw Error{};
  }

  Ref shown = package ? package : py::str("<unknown module name>");
  Ref path;
  if (PyModule_Check(module)) {
    path = Ref::steal(PyModule_GetFilenameObject(module));
    if (!path) {
      if (!PyErr_ExceptionMatches(PyExc_SystemError)) throw Error{};
      PyErr_Clear();  // the module has no __file__
    }
  }
  Ref message;
  if (!path || !PyUnicode_Check(path.get())) {
    path = Ref{};
    message = own(PyUnicode_FromFormat("cannot import name %R from %R (unknown location)", name, shown.get()));
  } else {
    PyObject* raw_spec = nullptr;
    int initializing = PyObject_GetOptionalAttrString(module, "__spec__", &raw_spec);
    Ref spec = Ref::steal(raw_spec);
    if (initializing > 0) {
      PyObject* raw_flag = nullptr;
      initializing = PyObject_GetOptionalAttrString(spec.get(), "_initializing", &raw_flag);
      Ref flag = Ref::steal(raw_flag);
      if (initializing > 0) initializing = PyObject_IsTrue(flag.get());
    }
    py::check(initializing);
    message = own(PyUnicode_FromFormat(initializing ? "cannot import name %R from partially initialized module %R "
                                                      "(most likely due to a circular import) (%S)"
                                                    : "cannot import name %R from %R (%S)",
                                       name, shown.get(), path.get()));
  }
  PyErr_SetImportError(message.get(), package.get(), path.get());
  // Carries the missing name for the host's "Did you mean" hint, as the interpreter's own error does.
  PyObject* error = PyErr_GetRaisedException();
  if (error != nullptr && PyObject_SetAttrString(error, "name_from", name) < 0) PyErr_Clear();
  PyErr_SetRaisedException(error);
  throw Error{};
}

// A module-level name lookup: the module's namespace, then builtins.
Ref load_name(PyObject* globals, PyObject* name) {
  PyObject* value = nullptr;
  if (PyDict_GetItemRef(globals, name, &value) < 0) throw Error{};
  if (value == nullptr) {
    PyObject* builtins = PyEval_GetBuiltins();
    if (builtins == nullptr || PyDict_GetItemRef(builtins, name, &value) < 0) throw Error{};
  }
  if (value == nullptr) {
    PyErr_Format(PyExc_NameError, "name '%U' is not defined", name);
    PyObject* error = PyErr_GetRaisedException();
    if (error != nullptr && PyObject_SetAttrString(error, "name", name) < 0) PyErr_Clear();
    PyErr_SetRaisedException(error);
    throw Error{};
  }
  return Ref::steal(value);
}

Ref keyword_names(std::initializer_list<const char*> names) {
  Ref t = own(PyTuple_New(static_cast<Py_ssize_t>(names.size())));
  Py_ssize_t i = 0;
  for (const char* n : names) PyTuple_SET_ITEM(t.get(), i++, own(PyUnicode_InternFromString(n)).release());
  return t;
}

void build(PyObject* module) {
  PyObject* globals = PyModule_GetDict(module);  // borrowed
  if (globals == nullptr) throw Error{};

  std::array<Ref, kImportedNames.size()> names;
  Ref fromlist = own(PyTuple_New(static_cast<Py_ssize_t>(names.size())));
  for (std::size_t i = 0; i < names.size(); ++i) {
    names[i] = own(PyUnicode_InternFromString(kImportedNames[i]));
    PyTuple_SET_ITEM(fromlist.get(), static_cast<Py_ssize_t>(i), Ref(names[i]).release());
  }
  {
    Ref probe = import_probe(globals, fromlist.get());
    for (const Ref& name : names) {
      Ref value = import_from(probe.get(), name.get());
      py::check(PyDict_SetItem(globals, name.get(), value.get()));
    }
  }

  const Ref plain = keyword_names({"id", "platforms", "confidence", "pattern"});
  const Ref with_scope = keyword_names({"id", "platforms", "confidence", "pattern", "scope"});
  const Ref with_flag = keyword_names({"id", "platforms", "confidence", "pattern", "corroborating_only"});
  const Ref high = py::str("high");
  const Ref medium = py::str("medium");
  const Ref comment = py::str("comment");
  const Ref& marker_name = names[0];

  std::vector<Ref> records;
  records.reserve(kCatalogueSize);
  for (const Entry& entry : kCatalogue) {
    Ref marker = load_name(globals, marker_name.get());
    Py_ssize_t count = 0;
    while (count < kMaxPlatformsPerEntry && entry.platforms[count] != NO_PLATFORM) ++count;
    Ref platforms = own(PyList_New(count));
    for (Py_ssize_t i = 0; i < count; ++i)
      PyList_SET_ITEM(platforms.get(), i, load_name(globals, names[entry.platforms[i]].get()).release());

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
  py::check(PyDict_SetItemString(globals, "PLATFORM_MARKERS", catalogue.get()));
}

constexpr py::ModuleSpec kSpec = {
    "dialect_signatures",
    "agents.tessera.dialect_signatures",
    __FILE__,
    build,
};

PyObject* g_loaded = nullptr;

int exec(PyObject* module) { return py::exec_module(module, kSpec, g_loaded); }
void free_module(void* module) { py::forget_module(module, g_loaded); }

PyModuleDef_Slot slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(exec)},
    {Py_mod_multiple_interpreters, Py_MOD_MULTIPLE_INTERPRETERS_NOT_SUPPORTED},
    {0, nullptr},
};

PyModuleDef definition = {
    PyModuleDef_HEAD_INIT,
    "agents.tessera.dialect_signatures",
    "The catalogue of SQL dialect markers: PLATFORM_MARKERS.",
    0,
    nullptr,
    slots,
    nullptr,
    nullptr,
    free_module,
};

}  // namespace
}  // namespace tessera::dialect

PyMODINIT_FUNC PyInit_dialect_signatures() { return PyModuleDef_Init(&tessera::dialect::definition); }
