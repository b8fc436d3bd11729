#include "python/module.hpp"

#include "regex/isa.hpp"

#include <frameobject.h>

#include <cstdlib>
#include <string>

namespace tessera::py {

// ---- names --------------------------------------------------------------------------------------

Ref intern(const char* name) { return own(PyUnicode_InternFromString(name)); }

Ref interned_tuple(std::span<const char* const> names) {
  Ref t = own(PyTuple_New(static_cast<Py_ssize_t>(names.size())));
  Py_ssize_t i = 0;
  for (const char* n : names) PyTuple_SET_ITEM(t.get(), i++, intern(n).release());
  return t;
}

Ref global(PyObject* module, PyObject* name) {
  PyObject* globals = PyModule_GetDict(module);  // borrowed
  if (globals == nullptr) throw Error{};
  PyObject* value = nullptr;
  if (PyDict_GetItemRef(globals, name, &value) < 0) throw Error{};
  if (value == nullptr) {
    PyObject* builtins = PyEval_GetBuiltins();  // borrowed
    if (builtins == nullptr || PyDict_GetItemRef(builtins, name, &value) < 0) throw Error{};
  }
  if (value != nullptr) return Ref::steal(value);
  // The interpreter's own wording (the name cut to 200 bytes) and its `name` attribute, which the
  // traceback's "Did you mean" hint reads.
  const char* shown = PyUnicode_AsUTF8(name);
  if (shown == nullptr) throw Error{};
  PyErr_Format(PyExc_NameError, "name '%.200s' is not defined", shown);
  PyObject* error = PyErr_GetRaisedException();
  if (error != nullptr && PyObject_SetAttrString(error, "name", name) < 0) PyErr_Clear();
  PyErr_SetRaisedException(error);
  throw Error{};
}

Ref global(PyObject* module, const char* name) { return global(module, intern(name).get()); }

namespace {

// builtins.__import__(name, globals, globals, fromlist, 0), as the import statements call it.
Ref import_statement(PyObject* globals, const char* name, PyObject* fromlist) {
  PyObject* builtins = PyEval_GetBuiltins();  // borrowed
  PyObject* raw = nullptr;
  if (builtins == nullptr || PyDict_GetItemStringRef(builtins, "__import__", &raw) < 0) throw Error{};
  if (raw == nullptr) raise(PyExc_ImportError, "__import__ not found");
  Ref import_function = Ref::steal(raw);
  Ref module_name = intern(name);
  Ref level = integer(0);
  PyObject* shown_globals = globals != nullptr ? globals : Py_None;
  return call(import_function.get(), {module_name.get(), shown_globals, shown_globals, fromlist, level.get()});
}

}  // namespace

Ref import(const char* name) { return import_statement(nullptr, name, Py_None); }

Ref import_module(PyObject* module, const char* name) {
  PyObject* globals = PyModule_GetDict(module);  // borrowed
  if (globals == nullptr) throw Error{};
  return import_statement(globals, name, Py_None);
}

Ref import_from(PyObject* package, PyObject* name) {
  PyObject* found = nullptr;
  if (PyObject_GetOptionalAttr(package, name, &found) != 0) {
    if (found == nullptr) throw Error{};
    return Ref::steal(found);
  }
  PyObject* raw_package_name = nullptr;
  if (PyObject_GetOptionalAttrString(package, "__name__", &raw_package_name) < 0) throw Error{};
  Ref package_name = Ref::steal(raw_package_name);
  if (package_name && !PyUnicode_Check(package_name.get())) package_name = Ref{};
  if (package_name) {
    Ref full = own(PyUnicode_FromFormat("%U.%U", package_name.get(), name));
    PyObject* submodule = PyImport_GetModule(full.get());
    if (submodule != nullptr) return Ref::steal(submodule);
    if (PyErr_Occurred()) throw Error{};
  }

  Ref shown = package_name ? package_name : str("<unknown module name>");
  Ref path;
  if (PyModule_Check(package)) {
    path = Ref::steal(PyModule_GetFilenameObject(package));
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
    int initializing = PyObject_GetOptionalAttrString(package, "__spec__", &raw_spec);
    Ref spec = Ref::steal(raw_spec);
    if (initializing > 0) {
      PyObject* raw_flag = nullptr;
      initializing = PyObject_GetOptionalAttrString(spec.get(), "_initializing", &raw_flag);
      Ref flag = Ref::steal(raw_flag);
      if (initializing > 0) initializing = PyObject_IsTrue(flag.get());
    }
    check(initializing);
    message = own(PyUnicode_FromFormat(initializing ? "cannot import name %R from partially initialized module %R "
                                                      "(most likely due to a circular import) (%S)"
                                                    : "cannot import name %R from %R (%S)",
                                       name, shown.get(), path.get()));
  }
  PyErr_SetImportError(message.get(), package_name.get(), path.get());
  // Carries the missing name for the host's "Did you mean" hint, as the interpreter's own error does.
  PyObject* error = PyErr_GetRaisedException();
  if (error != nullptr && PyObject_SetAttrString(error, "name_from", name) < 0) PyErr_Clear();
  PyErr_SetRaisedException(error);
  throw Error{};
}

std::vector<Ref> import_names(PyObject* module, const char* package, std::span<const char* const> names) {
  PyObject* globals = PyModule_GetDict(module);  // borrowed
  if (globals == nullptr) throw Error{};
  Ref fromlist = interned_tuple(names);
  Ref imported = import_statement(globals, package, fromlist.get());
  std::vector<Ref> values;
  values.reserve(names.size());
  for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(fromlist.get()); ++i)
    values.push_back(import_from(imported.get(), PyTuple_GET_ITEM(fromlist.get(), i)));
  return values;
}

void bind(PyObject* module, const char* name, const Ref& value) {
  check(PyObject_SetAttrString(module, name, value.get()));
}

// ---- the instruction-set path ---------------------------------------------------------------------

namespace {

// TESSERA_ISA, a testing aid, picks the scanners' instruction-set path for the whole process; a value
// that can't be honoured fails the import rather than testing another path than the one asked for.
void apply_isa_environment() {
  switch (isa::apply_environment()) {
    case isa::Forced::Ok:
      return;
    case isa::Forced::UnknownName:
      raise_format(PyExc_ValueError, "TESSERA_ISA=%s names no instruction-set path (generic, sse2, sse4.1, avx2, auto)",
                   std::getenv("TESSERA_ISA"));
    case isa::Forced::Unsupported:
      raise_format(PyExc_ValueError, "TESSERA_ISA=%s names an instruction-set path this CPU cannot run",
                   std::getenv("TESSERA_ISA"));
  }
}

}  // namespace

void lend_isa_state(PyObject* module) {
  apply_isa_environment();
  check(PyModule_Add(module, "_isa_state", PyCapsule_New(&isa::own_state(), kIsaCapsule, nullptr)));
}

void share_isa_state() {
  // The lending module, held for good: the cell lives in its code, and a module loaded later takes
  // the same path as the ones before it.
  static PyObject* lender = nullptr;
  if (lender != nullptr) return;
  PyObject* module = PyImport_ImportModule("agents.tessera._matcher");
  if (module == nullptr) {
    if (!PyErr_ExceptionMatches(PyExc_ImportError)) throw Error{};
    PyErr_Clear();
    apply_isa_environment();
    return;
  }
  auto* cell = static_cast<isa::State*>(PyCapsule_Import(kIsaCapsule, 0));
  if (cell == nullptr) {
    Py_DECREF(module);
    throw Error{};
  }
  isa::adopt(*cell);
  lender = module;
}

// ---- the module definition ----------------------------------------------------------------------

namespace detail {

ModuleState*& state_slot(PyObject* module) noexcept {
  return *static_cast<ModuleState**>(PyModule_GetState(module));
}

}  // namespace detail

namespace {

// Adds a traceback entry naming the failed load, as the host does for a failing module body.
void add_traceback_entry(const char* function, const char* file) {
  PyObject* raised = PyErr_GetRaisedException();
  PyObject* globals = PyDict_New();
  PyCodeObject* code = globals ? PyCode_NewEmpty(file, function, 1) : nullptr;
  PyFrameObject* frame = code ? PyFrame_New(PyThreadState_Get(), code, globals, nullptr) : nullptr;
  Py_XDECREF(code);
  Py_XDECREF(globals);
  if (frame == nullptr) {
    // Keep the original error in front; the failure to decorate it is secondary.
    PyErr_Clear();
    PyErr_SetRaisedException(raised);
    return;
  }
  PyErr_SetRaisedException(raised);
  PyTraceBack_Here(frame);
  Py_DECREF(frame);
}

void drop_state(PyObject* module) noexcept {
  if (PyModule_GetState(module) != nullptr) delete std::exchange(detail::state_slot(module), nullptr);
}

}  // namespace

ModuleDefinition::ModuleDefinition(const ModuleSpec& spec) noexcept
    : def_{PyModuleDef_HEAD_INIT,
           spec.dotted_name,
           spec.doc,
           sizeof(ModuleState*),
           nullptr,
           slots_,
           &ModuleDefinition::traverse,
           &ModuleDefinition::clear,
           &ModuleDefinition::free},
      slots_{{Py_mod_exec, reinterpret_cast<void*>(&ModuleDefinition::exec)},
             {Py_mod_multiple_interpreters, Py_MOD_MULTIPLE_INTERPRETERS_NOT_SUPPORTED},
             {Py_mod_gil, Py_MOD_GIL_USED},
             {0, nullptr}},
      spec_(spec) {}

ModuleDefinition* ModuleDefinition::of(PyObject* module) noexcept {
  return reinterpret_cast<ModuleDefinition*>(PyModule_GetDef(module));
}

int ModuleDefinition::exec(PyObject* module) noexcept {
  ModuleDefinition* self = of(module);
  if (self->loaded_ == module) return 0;  // the same module object executed again: nothing to redo
  if (self->loaded_ != nullptr) {
    PyErr_Format(PyExc_RuntimeError, "Module '%s' has already been imported. Re-initialisation is not supported.",
                 self->spec_.short_name);
    return -1;
  }
  self->loaded_ = module;
  PyObject* done = boundary([&] {
    share_isa_state();
    self->spec_.body(module);
    return Ref::borrow(Py_None);
  });
  if (done != nullptr) {
    Py_DECREF(done);
    return 0;
  }
  self->loaded_ = nullptr;
  drop_state(module);
  const std::string entry = std::string("init ") + self->spec_.dotted_name;
  add_traceback_entry(entry.c_str(), self->spec_.source_file);
  return -1;
}

int ModuleDefinition::traverse(PyObject* module, visitproc visit, void* arg) noexcept {
  if (PyModule_GetState(module) == nullptr) return 0;
  ModuleState* state = detail::state_slot(module);
  return state != nullptr ? state->traverse(visit, arg) : 0;
}

int ModuleDefinition::clear(PyObject* module) noexcept {
  if (PyModule_GetState(module) == nullptr) return 0;
  if (ModuleState* state = detail::state_slot(module)) state->clear();
  return 0;
}

void ModuleDefinition::free(void* raw) noexcept {
  auto* module = static_cast<PyObject*>(raw);
  drop_state(module);
  ModuleDefinition* self = of(module);
  if (self->loaded_ == module) self->loaded_ = nullptr;
}

}  // namespace tessera::py
