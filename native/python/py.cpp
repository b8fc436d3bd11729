#include "python/py.hpp"

#include "python/module.hpp"

#include <string>
#include <vector>

namespace tessera::py {

Ref call(PyObject* callable, std::initializer_list<PyObject*> args,
         std::initializer_list<std::pair<const char*, PyObject*>> kwargs) {
  std::vector<PyObject*> stack;
  stack.reserve(args.size() + kwargs.size() + 1);
  stack.push_back(nullptr);  // lets vectorcall prepend a bound self without copying
  for (PyObject* a : args) stack.push_back(a);
  Ref kwnames;
  if (kwargs.size() != 0) {
    kwnames = own(PyTuple_New(static_cast<Py_ssize_t>(kwargs.size())));
    Py_ssize_t i = 0;
    for (const auto& [name, value] : kwargs) {
      PyTuple_SET_ITEM(kwnames.get(), i++, own(PyUnicode_InternFromString(name)).release());
      stack.push_back(value);
    }
  }
  return own(PyObject_Vectorcall(callable, stack.data() + 1,
                                 static_cast<size_t>(args.size()) | PY_VECTORCALL_ARGUMENTS_OFFSET,
                                 kwnames.get()));
}

// ---- arguments ----------------------------------------------------------------------------------

namespace {

[[noreturn]] void wrong_count(const char* function, Py_ssize_t expected, Py_ssize_t given) {
  raise_format(PyExc_TypeError, "%.200s() takes %.8s %zd positional argument%.1s (%zd given)", function,
               "exactly", expected, expected == 1 ? "" : "s", given);
}

}  // namespace

void Signature::parse(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames, std::span<PyObject*> out) const {
  const auto total = static_cast<Py_ssize_t>(names.size());
  const char* const* name = names.begin();
  for (auto& slot : out) slot = nullptr;

  const Py_ssize_t nkw = kwnames ? PyTuple_GET_SIZE(kwnames) : 0;
  if (nkw == 0) {
    if (nargs != positional) wrong_count(function, positional, nargs);
    if (required_keyword_only > 0)
      raise_format(PyExc_TypeError, "%s() needs keyword-only argument %s", function, name[positional]);
    for (Py_ssize_t i = 0; i < nargs; ++i) out[i] = args[i];
    return;
  }

  if (nargs > positional) wrong_count(function, positional, nargs);
  for (Py_ssize_t i = 0; i < nargs; ++i) out[i] = args[i];
  // Keywords are taken in the order given; the first one that can't be placed decides the error.
  for (Py_ssize_t k = 0; k < nkw; ++k) {
    PyObject* key = PyTuple_GET_ITEM(kwnames, k);
    Py_ssize_t found = -1;
    for (Py_ssize_t i = 0; i < total && found < 0; ++i)
      if (PyUnicode_CompareWithASCIIString(key, name[i]) == 0) found = i;
    if (found < 0) raise_format(PyExc_TypeError, "%s() got an unexpected keyword argument '%U'", function, key);
    if (found < nargs)
      raise_format(PyExc_TypeError, "%s() got multiple values for keyword argument '%U'", function, key);
    out[found] = args[nargs + k];
  }
  for (Py_ssize_t i = nargs; i < positional; ++i)
    if (out[i] == nullptr) wrong_count(function, positional, i);
  for (Py_ssize_t i = positional; i < positional + required_keyword_only; ++i)
    if (out[i] == nullptr) raise_format(PyExc_TypeError, "%s() needs keyword-only argument %s", function, name[i]);
}

void require_exact(PyObject* value, PyTypeObject* type, const char* name) {
  if (Py_IS_TYPE(value, type)) return;
  raise_format(PyExc_TypeError, "Argument '%.200s' has incorrect type (expected %.200s, got %.200s)", name,
               type->tp_name, Py_TYPE(value)->tp_name);
}

// ---- the host's record and enumeration types ----------------------------------------------------

Ref frozen_dataclass(const char* module_name, const char* qualname,
                     std::initializer_list<std::pair<const char*, const char*>> annotations,
                     std::initializer_list<std::pair<const char*, PyObject*>> members) {
  Ref ns = own(PyDict_New());
  Ref module = str(module_name);
  Ref qual = str(qualname);
  check(PyDict_SetItemString(ns.get(), "__module__", module.get()));
  check(PyDict_SetItemString(ns.get(), "__qualname__", qual.get()));
  Ref ann = own(PyDict_New());
  for (const auto& [field, text] : annotations) check(PyDict_SetItemString(ann.get(), field, str(text).get()));
  check(PyDict_SetItemString(ns.get(), "__annotations__", ann.get()));
  for (const auto& [name, value] : members) check(PyDict_SetItemString(ns.get(), name, value));

  Ref bases = own(PyTuple_New(0));
  Ref cls = call(reinterpret_cast<PyObject*>(&PyType_Type), {qual.get(), bases.get(), ns.get()});
  Ref dataclasses = import("dataclasses");
  Ref dataclass = attr(dataclasses.get(), "dataclass");
  Ref decorate = call(dataclass.get(), {}, {{"frozen", Py_True}});
  return call(decorate.get(), {cls.get()});
}

RecordMaker::RecordMaker(Ref type, bool by_keyword) : type_(std::move(type)), by_keyword_(by_keyword) {
  init_name_ = own(PyUnicode_InternFromString("__init__"));
  init_ = attr(type_.get(), "__init__");
  fields_ = attr(type_.get(), "__match_args__");
}

Ref RecordMaker::make(PyObject* cls, PyObject* const* values) const {
  const Py_ssize_t count = PyTuple_GET_SIZE(fields_.get());
  if (cls != nullptr && cls == type_.get()) {
    auto* type = reinterpret_cast<PyTypeObject*>(cls);
    PyObject* init = nullptr;
    if (type->tp_new == PyBaseObject_Type.tp_new && PyDict_GetItemRef(type->tp_dict, init_name_.get(), &init) >= 0) {
      const bool original = init == init_.get();
      Py_XDECREF(init);
      if (original) {
        Ref record = own(type->tp_alloc(type, 0));
        for (Py_ssize_t i = 0; i < count; ++i)
          check(PyObject_GenericSetAttr(record.get(), PyTuple_GET_ITEM(fields_.get(), i), values[i]));
        return record;
      }
    }
    if (PyErr_Occurred()) throw Error{};
  }
  if (by_keyword_) return own(PyObject_Vectorcall(cls, values, 0, fields_.get()));
  return own(PyObject_Vectorcall(cls, values, static_cast<size_t>(count), nullptr));
}

Ref str_enum(const char* module_name, const char* qualname,
             std::initializer_list<std::pair<const char*, const char*>> members) {
  Ref enum_module = import("enum");
  Ref base = attr(enum_module.get(), "StrEnum");
  Ref items = own(PyList_New(0));
  for (const auto& [name, value] : members) {
    Ref pair = tuple({str(name).get(), str(value).get()});
    check(PyList_Append(items.get(), pair.get()));
  }
  Ref module = str(module_name);
  Ref qual = str(qualname);
  // The functional API keeps declaration order and sets __module__/__qualname__ as a class
  // statement would, so pickling and repr name the right place.
  return call(base.get(), {qual.get(), items.get()}, {{"module", module.get()}, {"qualname", qual.get()}});
}

Ref property(PyMethodDef* getter, PyObject* module) {
  Ref fget = own(PyCFunction_NewEx(getter, module, nullptr));
  return call(reinterpret_cast<PyObject*>(&PyProperty_Type), {fget.get()});
}

Ref instance_method(PyMethodDef* def, PyObject* module) {
  Ref function = own(PyCFunction_NewEx(def, module, nullptr));
  return own(PyInstanceMethod_New(function.get()));
}

void log_debug(PyObject* module, const char* event, std::initializer_list<std::pair<const char*, PyObject*>> fields) {
  Ref logger = global(module, "logger");
  Ref debug = attr(logger.get(), "debug");
  Ref name = str(event);
  call(debug.get(), {name.get()}, fields);
}

}  // namespace tessera::py
