// How a tessera extension module is defined and how its body talks to the interpreter, written once
// for every module: the module definition with its per-module state (owned, traversed, cleared and
// freed here), the single-initialisation guard, the traceback entry of a failed load, and the name
// operations of a module body (global lookup, the import statements, interned names), each with the
// interpreter's own semantics and messages.
#pragma once

#include "python/py.hpp"

#include <initializer_list>
#include <memory>
#include <span>
#include <utility>
#include <vector>

namespace tessera::py {

// ---- names --------------------------------------------------------------------------------------

Ref intern(const char* name);

// A tuple of interned names (keyword names of a vectorcall, a fromlist).
Ref interned_tuple(std::span<const char* const> names);
inline Ref interned_tuple(std::initializer_list<const char*> names) {
  return interned_tuple(std::span<const char* const>(names.begin(), names.size()));
}

// A global as a module body or one of its functions sees it: the module's namespace, then builtins;
// a missing one raises the interpreter's NameError, with its `name` attribute set.
Ref global(PyObject* module, PyObject* name);
Ref global(PyObject* module, const char* name);

// `import name` at module level (the package itself, not bound): through builtins.__import__, so
// that a host's import hook, or a missing or broken package, acts on the module as on a Python one.
Ref import_module(PyObject* module, const char* name);

// `from package import name` for one name of an already imported package, with the interpreter's
// fallback to a submodule in sys.modules and its ImportError (message, name, path, name_from).
Ref import_from(PyObject* package, PyObject* name);

// `from package import a, b, ...`: one __import__ call with the fromlist, then each name in order.
// Returns the values in the order of `names`.
std::vector<Ref> import_names(PyObject* module, const char* package, std::span<const char* const> names);
inline std::vector<Ref> import_names(PyObject* module, const char* package, std::initializer_list<const char*> names) {
  return import_names(module, package, std::span<const char* const>(names.begin(), names.size()));
}

// Binds module.name = value, as an assignment in the module body does.
void bind(PyObject* module, const char* name, const Ref& value);

// ---- the instruction-set path ---------------------------------------------------------------------

// `_matcher` lends its cell of the forced path (regex/isa.hpp) as this capsule, and applies
// TESSERA_ISA to it: a value that cannot be honoured fails its import.
inline constexpr const char* kIsaCapsule = "agents.tessera._matcher._isa_state";
void lend_isa_state(PyObject* module);

// Every other module takes that cell at load, importing `_matcher` if need be, so that forcing a path
// there switches this module too. Without `_matcher` the module keeps a cell of its own, set from
// TESSERA_ISA. Runs before each module body (ModuleDefinition does it).
void share_isa_state();

// ---- the module definition ----------------------------------------------------------------------

// A module's own data, made by its body and owned by the module object: destroyed when the module is
// freed or its load fails. References that can reach back to the module (classes it made, say) must
// be reported by traverse and dropped by clear, or a module that is no longer used is never freed.
struct ModuleState {
  virtual ~ModuleState() = default;
  virtual int traverse(visitproc, void*) { return 0; }
  virtual void clear() {}
};

struct ModuleSpec {
  const char* short_name;          // "complexity": named by the re-initialisation error
  const char* dotted_name;         // "agents.tessera.complexity"
  const char* doc;
  const char* source_file;         // shown in the traceback entry of a failed load
  void (*body)(PyObject* module);  // fills the module; throws Error (or a C++ exception) on failure
};

// A module definition for multi-phase init. The body runs once per process: executing a second module
// object from the same definition is refused, as the modules keep process-wide compiled tables; a
// failed load leaves no trace, so a later import starts afresh. Define one at namespace scope and
// return init() from PyInit_<name>.
class ModuleDefinition {
 public:
  explicit ModuleDefinition(const ModuleSpec& spec) noexcept;
  ModuleDefinition(const ModuleDefinition&) = delete;
  ModuleDefinition& operator=(const ModuleDefinition&) = delete;

  PyObject* init() noexcept { return PyModuleDef_Init(&def_); }

 private:
  static int exec(PyObject* module) noexcept;
  static int traverse(PyObject* module, visitproc visit, void* arg) noexcept;
  static int clear(PyObject* module) noexcept;
  static void free(void* module) noexcept;
  static ModuleDefinition* of(PyObject* module) noexcept;

  PyModuleDef def_;  // first: the interpreter hands it back, and `of` recovers the definition from it
  PyModuleDef_Slot slots_[4];
  ModuleSpec spec_;
  PyObject* loaded_ = nullptr;  // the module object the body ran for, while it lives
};

namespace detail {
ModuleState*& state_slot(PyObject* module) noexcept;
}

// Makes the module's state (replacing any), owned by the module from now on.
template <class S, class... Args>
S& install_state(PyObject* module, Args&&... args) {
  auto made = std::make_unique<S>(std::forward<Args>(args)...);
  S& state = *made;
  delete std::exchange(detail::state_slot(module), made.release());
  return state;
}

// The state the module's body installed; only for modules whose body installs one.
template <class S>
S& state_of(PyObject* module) noexcept {
  return static_cast<S&>(*detail::state_slot(module));
}

}  // namespace tessera::py
