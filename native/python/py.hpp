// The thin C++ layer over the CPython C API that every tessera module is written against:
// owned references, error propagation by exception, argument checks worded as the host words them,
// multi-phase module loading, and construction of the host's own record and enumeration types.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include "text/view.hpp"

#include <cstddef>
#include <initializer_list>
#include <new>
#include <span>
#include <stdexcept>
#include <string_view>
#include <utility>

namespace tessera::py {

// Thrown when a Python exception is already set; unwinding releases every Ref on the way out and the
// boundary wrapper hands the exception to the interpreter untouched.
struct Error {};

// An owned (strong) reference. Copying takes a new reference, moving transfers it.
class Ref {
 public:
  Ref() noexcept = default;
  static Ref steal(PyObject* o) noexcept { return Ref(o); }
  static Ref borrow(PyObject* o) noexcept { return Ref(Py_XNewRef(o)); }
  Ref(const Ref& other) noexcept : p_(Py_XNewRef(other.p_)) {}
  Ref(Ref&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
  Ref& operator=(Ref other) noexcept {
    std::swap(p_, other.p_);
    return *this;
  }
  ~Ref() { Py_XDECREF(p_); }

  PyObject* get() const noexcept { return p_; }
  PyObject* release() noexcept { return std::exchange(p_, nullptr); }
  explicit operator bool() const noexcept { return p_ != nullptr; }

 private:
  explicit Ref(PyObject* o) noexcept : p_(o) {}
  PyObject* p_ = nullptr;
};

// Takes ownership of a new reference returned by the C API, throwing when the call failed.
inline Ref own(PyObject* o) {
  if (o == nullptr) throw Error{};
  return Ref::steal(o);
}
inline void check(int status) {
  if (status < 0) throw Error{};
}
[[noreturn]] inline void raise(PyObject* type, const char* message) {
  PyErr_SetString(type, message);
  throw Error{};
}
template <class... Args>
[[noreturn]] void raise_format(PyObject* type, const char* format, Args... args) {
  PyErr_Format(type, format, args...);
  throw Error{};
}

// Runs a C++ body at an API boundary: exceptions become Python exceptions, nothing escapes into C.
template <class F>
PyObject* boundary(F&& body) noexcept {
  try {
    return body().release();
  } catch (const Error&) {
    return nullptr;
  } catch (const std::bad_alloc&) {
    return PyErr_NoMemory();
  } catch (const std::exception& e) {
    PyErr_SetString(PyExc_SystemError, e.what());
    return nullptr;
  }
}

// Releases the GIL for its lifetime. Only code that touches no Python object (except the storage of
// objects kept alive by the caller) may run inside.
class AllowThreads {
 public:
  AllowThreads() noexcept : state_(PyEval_SaveThread()) {}
  ~AllowThreads() { PyEval_RestoreThread(state_); }
  AllowThreads(const AllowThreads&) = delete;
  AllowThreads& operator=(const AllowThreads&) = delete;

 private:
  PyThreadState* state_;
};

// ---- small conveniences -------------------------------------------------------------------------

inline Ref str(std::string_view s) { return own(PyUnicode_FromStringAndSize(s.data(), static_cast<Py_ssize_t>(s.size()))); }
inline Ref integer(long long v) { return own(PyLong_FromLongLong(v)); }
inline Ref boolean(bool v) { return Ref::borrow(v ? Py_True : Py_False); }
// `import name` through builtins.__import__, as the interpreter does it (see module.hpp).
Ref import(const char* name);
inline Ref attr(PyObject* o, const char* name) { return own(PyObject_GetAttrString(o, name)); }
inline Ref tuple(std::initializer_list<PyObject*> items) {
  Ref t = own(PyTuple_New(static_cast<Py_ssize_t>(items.size())));
  Py_ssize_t i = 0;
  for (PyObject* item : items) PyTuple_SET_ITEM(t.get(), i++, Py_NewRef(item));
  return t;
}
inline Ref list(std::initializer_list<PyObject*> items) {
  Ref l = own(PyList_New(static_cast<Py_ssize_t>(items.size())));
  Py_ssize_t i = 0;
  for (PyObject* item : items) PyList_SET_ITEM(l.get(), i++, Py_NewRef(item));
  return l;
}
// Calls callable(*args, **{names[i]: kwvalues[i]}) with the keywords in the given order.
Ref call(PyObject* callable, std::initializer_list<PyObject*> args,
         std::initializer_list<std::pair<const char*, PyObject*>> kwargs = {});

// ---- the storage of a str -----------------------------------------------------------------------

// A read-only view of a str's own storage. Valid while the str is alive; usable without the GIL.
struct Text : text::View {
  static Text of(PyObject* s) noexcept {
    return {{static_cast<int>(PyUnicode_KIND(s)), PyUnicode_DATA(s), static_cast<size_t>(PyUnicode_GET_LENGTH(s))}};
  }
};

// A new str from code points of any width; the host picks the narrowest storage.
template <class Ch>
Ref str_from(const Ch* chars, size_t size) {
  constexpr int kind = sizeof(Ch) == 1 ? PyUnicode_1BYTE_KIND : sizeof(Ch) == 2 ? PyUnicode_2BYTE_KIND : PyUnicode_4BYTE_KIND;
  return own(PyUnicode_FromKindAndData(kind, chars, static_cast<Py_ssize_t>(size)));
}

// ---- arguments ----------------------------------------------------------------------------------

// The signature of a module-level function taking METH_FASTCALL | METH_KEYWORDS. Positional
// parameters (which may also be passed by keyword) come first and are all required; then the
// keyword-only ones, the required before the optional. Messages and the order of the checks are
// the host's, so callers see the same TypeError whichever implementation they run against.
struct Signature {
  const char* function;
  std::initializer_list<const char*> names;
  Py_ssize_t positional;            // leading names that may be given by position
  Py_ssize_t required_keyword_only; // the keyword-only names that follow them and must be given

  // Fills out[i] with borrowed references (nullptr for an optional parameter left out).
  void parse(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames, std::span<PyObject*> out) const;
};

// Refuses anything but an object of exactly `type` (no subclass, no None).
void require_exact(PyObject* value, PyTypeObject* type, const char* name);

// ---- the host's record and enumeration types ----------------------------------------------------

// A class built by the host's `dataclasses.dataclass(frozen=True)`, so that equality, hashing, repr
// and the frozen-instance error are the real ones. `annotations` pairs field names with their
// annotation texts, in declaration order. `members` are extra class attributes (properties,
// methods) put into the class namespace before the decorator runs.
Ref frozen_dataclass(const char* module_name, const char* qualname,
                     std::initializer_list<std::pair<const char*, const char*>> annotations,
                     std::initializer_list<std::pair<const char*, PyObject*>> members = {});

// Records of a frozen_dataclass class built as its generated __init__ builds them (object.__setattr__
// of each field, in order) without the interpreted frame, which is most of a small record's cost: only
// while the class asked for is the one captured at load and keeps the __new__ and the __init__ it was
// made with. Any other class the host has put in place gets the ordinary call, with the fields by
// keyword or by position as the host's own code passes them.
class RecordMaker {
 public:
  RecordMaker() = default;
  // The fields are the class's own, in order (its __match_args__, which the decorator writes from
  // the fields), so that they are named in one place: the class's annotations.
  RecordMaker(Ref type, bool by_keyword);
  // cls(values...), values holding one value per field.
  Ref make(PyObject* cls, PyObject* const* values) const;
  // The class's generated methods hold the namespace of the module that made it.
  int traverse(visitproc visit, void* arg) const {
    Py_VISIT(type_.get());
    Py_VISIT(init_.get());
    return 0;
  }
  void clear() {
    type_ = Ref{};
    init_ = Ref{};
  }

 private:
  Ref type_, init_, fields_, init_name_;
  bool by_keyword_ = false;
};

// An `enum.StrEnum` subclass with the given (name, value) members, in order.
Ref str_enum(const char* module_name, const char* qualname,
             std::initializer_list<std::pair<const char*, const char*>> members);

// property(fget) around a C getter (receives the instance).
Ref property(PyMethodDef* getter, PyObject* module);

// An unbound function that binds like a method of a Python class when found through an instance.
Ref instance_method(PyMethodDef* def, PyObject* module);

// logger.debug(event, **fields) with the fields in the given order; `logger` is read as the module's
// global each call, as in a function of the module.
void log_debug(PyObject* module, const char* event, std::initializer_list<std::pair<const char*, PyObject*>> fields);

}  // namespace tessera::py
