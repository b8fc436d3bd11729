// agents.tessera._matcher: the native matcher on its own, for tests that compare it with `re` on any
// pattern and text. Not public API.
#include "python/module.hpp"
#include "python/py.hpp"
#include "regex/isa.hpp"
#include "regex/regex.hpp"

#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <vector>

namespace tessera::matcher {
namespace {

using py::Error;
using py::own;
using py::Ref;

constexpr long kAccepted = rx::IGNORECASE | rx::MULTILINE | rx::DOTALL;
constexpr long kUnicode = 32;  // re.UNICODE: implied for every str pattern, so harmless

struct State {
  PyObject* matcher_type;
  PyObject* set_type;
};

State& state_of(PyObject* module) { return *static_cast<State*>(PyModule_GetState(module)); }

struct MatcherObject {
  PyObject_HEAD
  rx::Pattern* pattern;
  PyObject* source;  // the pattern text
  long flags;
};

MatcherObject* as_matcher(PyObject* self) { return reinterpret_cast<MatcherObject*>(self); }

void require_str(PyObject* value, const char* what) {
  if (!PyUnicode_Check(value))
    py::raise_format(PyExc_TypeError, "%s must be str, not %.200s", what, Py_TYPE(value)->tp_name);
}

template <class F>
decltype(auto) over_text(PyObject* text, F&& f) {
  const py::Text view = py::Text::of(text);
  return view.visit([&](auto* chars, size_t n) {
    using Ch = std::remove_cv_t<std::remove_pointer_t<decltype(chars)>>;
    using Unit = std::conditional_t<sizeof(Ch) == 1, uint8_t, std::conditional_t<sizeof(Ch) == 2, uint16_t, uint32_t>>;
    return f(reinterpret_cast<const Unit*>(chars), n);
  });
}

Ref span(size_t b, size_t e) {
  Ref a = py::integer(static_cast<long long>(b));
  Ref z = py::integer(static_cast<long long>(e));
  return py::tuple({a.get(), z.get()});
}

std::vector<rx::Span> spans_of(const rx::Pattern& p, PyObject* text) {
  std::vector<rx::Span> out;
  over_text(text, [&](auto* chars, size_t n) {
    py::AllowThreads unlocked;
    p.find_all(chars, n, out);
  });
  return out;
}

// ---- Matcher ------------------------------------------------------------------------------------

PyObject* search(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return py::boundary([&]() -> Ref {
    if (nargs > 2) py::raise_format(PyExc_TypeError, "search() takes at most 2 arguments (%zd given)", nargs);
    PyObject* text = nargs > 0 ? args[0] : nullptr;
    PyObject* pos_object = nargs > 1 ? args[1] : nullptr;
    const Py_ssize_t nkw = kwnames ? PyTuple_GET_SIZE(kwnames) : 0;
    for (Py_ssize_t k = 0; k < nkw; ++k) {
      PyObject* name = PyTuple_GET_ITEM(kwnames, k);
      PyObject** slot = PyUnicode_CompareWithASCIIString(name, "text") == 0  ? &text
                        : PyUnicode_CompareWithASCIIString(name, "pos") == 0 ? &pos_object
                                                                             : nullptr;
      if (!slot) py::raise_format(PyExc_TypeError, "search() got an unexpected keyword argument '%U'", name);
      if (*slot) py::raise_format(PyExc_TypeError, "argument for search() given by name ('%U') and position", name);
      *slot = args[nargs + k];
    }
    if (!text) py::raise(PyExc_TypeError, "search() missing required argument 'text' (pos 1)");
    require_str(text, "text");
    Py_ssize_t pos = 0;
    if (pos_object) {
      pos = PyNumber_AsSsize_t(pos_object, PyExc_OverflowError);
      if (pos == -1 && PyErr_Occurred()) throw Error{};
    }
    const Py_ssize_t len = PyUnicode_GET_LENGTH(text);
    // As re.Pattern.search: a negative pos counts as 0, one beyond the text as its end.
    if (pos < 0) pos = 0;
    if (pos > len) pos = len;
    const rx::Pattern& p = *as_matcher(self)->pattern;
    std::optional<rx::Span> found = over_text(text, [&](auto* chars, size_t n) {
      py::AllowThreads unlocked;
      return p.search_span(chars, n, static_cast<size_t>(pos));
    });
    if (!found) return Ref::borrow(Py_None);
    return span(found->first, found->second);
  });
}

PyObject* findall_spans(PyObject* self, PyObject* text) {
  return py::boundary([&]() -> Ref {
    require_str(text, "text");
    std::vector<rx::Span> spans = spans_of(*as_matcher(self)->pattern, text);
    Ref out = own(PyList_New(static_cast<Py_ssize_t>(spans.size())));
    for (size_t i = 0; i < spans.size(); ++i)
      PyList_SET_ITEM(out.get(), static_cast<Py_ssize_t>(i), span(spans[i].first, spans[i].second).release());
    return out;
  });
}

PyObject* sub(PyObject* self, PyObject* text) {
  return py::boundary([&]() -> Ref {
    require_str(text, "text");
    std::vector<rx::Span> spans = spans_of(*as_matcher(self)->pattern, text);
    if (spans.empty()) return own(PyUnicode_Substring(text, 0, PyUnicode_GET_LENGTH(text)));
    return over_text(text, [&](auto* chars, size_t n) {
      using Unit = std::remove_cv_t<std::remove_pointer_t<decltype(chars)>>;
      std::vector<Unit> kept;
      kept.reserve(n);
      size_t at = 0;
      for (const rx::Span& s : spans) {
        kept.insert(kept.end(), chars + at, chars + s.first);
        at = s.second;
      }
      kept.insert(kept.end(), chars + at, chars + n);
      return py::str_from(kept.data(), kept.size());
    });
  });
}

PyObject* get_pattern(PyObject* self, void*) { return Py_NewRef(as_matcher(self)->source); }
PyObject* get_flags(PyObject* self, void*) { return PyLong_FromLong(as_matcher(self)->flags); }

PyObject* matcher_repr(PyObject* self) {
  return PyUnicode_FromFormat("_matcher.compile(%R, %ld)", as_matcher(self)->source, as_matcher(self)->flags);
}

void matcher_dealloc(PyObject* self) {
  PyTypeObject* type = Py_TYPE(self);
  delete as_matcher(self)->pattern;
  Py_XDECREF(as_matcher(self)->source);
  type->tp_free(self);
  Py_DECREF(type);
}

PyMethodDef matcher_methods[] = {
    {"search", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(search)), METH_FASTCALL | METH_KEYWORDS,
     "search(text, pos=0): the span of re.Pattern.search(text, pos), or None."},
    {"findall_spans", findall_spans, METH_O, "findall_spans(text): the spans of re.Pattern.finditer(text)."},
    {"sub", sub, METH_O, "sub(text): re.Pattern.sub('', text)."},
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef matcher_getset[] = {
    {"pattern", get_pattern, nullptr, "The pattern text.", nullptr},
    {"flags", get_flags, nullptr, "The flags it was compiled with.", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot matcher_slots[] = {
    {Py_tp_dealloc, reinterpret_cast<void*>(matcher_dealloc)},
    {Py_tp_methods, matcher_methods},
    {Py_tp_getset, matcher_getset},
    {Py_tp_repr, reinterpret_cast<void*>(matcher_repr)},
    {Py_tp_doc, const_cast<char*>("A pattern compiled by the native matcher.")},
    {0, nullptr},
};

PyType_Spec matcher_spec = {
    "agents.tessera._matcher.Matcher",
    sizeof(MatcherObject),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE | Py_TPFLAGS_DISALLOW_INSTANTIATION,
    matcher_slots,
};

// ---- MatcherSet ---------------------------------------------------------------------------------

struct SetObject {
  PyObject_HEAD
  rx::PatternSet* set;
  std::vector<rx::Pattern>* patterns;  // the set refers to their programs
  std::vector<bool>* findall;
};

SetObject* as_set(PyObject* self) { return reinterpret_cast<SetObject*>(self); }

PyObject* set_spans(PyObject* self, PyObject* text) {
  return py::boundary([&]() -> Ref {
    require_str(text, "text");
    const SetObject& o = *as_set(self);
    std::vector<std::vector<rx::Span>> spans;
    over_text(text, [&](auto* chars, size_t n) {
      py::AllowThreads unlocked;
      o.set->run_spans(chars, n, spans);
    });
    Ref out = own(PyList_New(static_cast<Py_ssize_t>(spans.size())));
    for (size_t i = 0; i < spans.size(); ++i) {
      Ref item;
      if ((*o.findall)[i]) {
        item = own(PyList_New(static_cast<Py_ssize_t>(spans[i].size())));
        for (size_t j = 0; j < spans[i].size(); ++j)
          PyList_SET_ITEM(item.get(), static_cast<Py_ssize_t>(j), span(spans[i][j].first, spans[i][j].second).release());
      } else {
        item = spans[i].empty() ? Ref::borrow(Py_None) : span(spans[i][0].first, spans[i][0].second);
      }
      PyList_SET_ITEM(out.get(), static_cast<Py_ssize_t>(i), item.release());
    }
    return out;
  });
}

// Starts allowed per pattern, as one bytes object per pattern (a nonzero byte at s allows s).
class MaskFilter final : public rx::PatternSet::StartFilter {
 public:
  explicit MaskFilter(std::vector<std::string_view> masks) : masks_(std::move(masks)) {}
  size_t next(size_t pattern, size_t pos) const override {
    const std::string_view m = masks_[pattern];
    for (size_t s = pos; s < m.size(); ++s)
      if (m[s] != 0) return s;
    return SIZE_MAX;
  }
  bool allows(size_t pattern, size_t pos) const override {
    const std::string_view m = masks_[pattern];
    return pos < m.size() && m[pos] != 0;
  }

 private:
  std::vector<std::string_view> masks_;
};

PyObject* set_first_where(PyObject* self, PyObject* const* args, Py_ssize_t nargs) {
  return py::boundary([&]() -> Ref {
    if (nargs != 2) py::raise(PyExc_TypeError, "first_where(text, allowed) takes 2 arguments");
    PyObject* text = args[0];
    require_str(text, "text");
    const SetObject& o = *as_set(self);
    Ref masks = own(PySequence_List(args[1]));
    if (PyList_GET_SIZE(masks.get()) != static_cast<Py_ssize_t>(o.findall->size()))
      py::raise(PyExc_ValueError, "allowed needs one bytes object per pattern");
    std::vector<std::string_view> views;
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(masks.get()); ++i) {
      PyObject* b = PyList_GET_ITEM(masks.get(), i);
      if (!PyBytes_Check(b)) py::raise(PyExc_TypeError, "allowed must hold bytes");
      views.emplace_back(PyBytes_AS_STRING(b), static_cast<size_t>(PyBytes_GET_SIZE(b)));
    }
    const MaskFilter filter(std::move(views));
    std::vector<std::vector<rx::Span>> spans;
    over_text(text, [&](auto* chars, size_t n) {
      py::AllowThreads unlocked;
      o.set->run_first_where(chars, n, filter, spans);
    });
    Ref out = own(PyList_New(static_cast<Py_ssize_t>(spans.size())));
    for (size_t i = 0; i < spans.size(); ++i) {
      Ref item = spans[i].empty() ? Ref::borrow(Py_None) : span(spans[i][0].first, spans[i][0].second);
      PyList_SET_ITEM(out.get(), static_cast<Py_ssize_t>(i), item.release());
    }
    return out;
  });
}

// The one-byte text the set would scan in place of a wide one, as a str, or None when it has none (a
// one-byte text is scanned as it is: itself).
PyObject* set_stand_in(PyObject* self, PyObject* text) {
  return py::boundary([&]() -> Ref {
    require_str(text, "text");
    const SetObject& o = *as_set(self);
    std::vector<uint8_t> copy;
    const bool found = over_text(text, [&](auto* chars, size_t n) {
      py::AllowThreads unlocked;
      if constexpr (sizeof(*chars) == 1) {
        copy.assign(chars, chars + n);
        return true;
      } else {
        return o.set->stand_in(chars, n, copy);
      }
    });
    if (!found) return Ref::borrow(Py_None);
    return own(PyUnicode_FromKindAndData(PyUnicode_1BYTE_KIND, copy.data(), PyUnicode_GET_LENGTH(text)));
  });
}

PyObject* set_layout(PyObject* self, PyObject*) {
  return py::boundary([&]() -> Ref {
    const rx::PatternSet::Layout layout = as_set(self)->set->layout();
    Ref groups = own(PyList_New(static_cast<Py_ssize_t>(layout.groups.size())));
    for (size_t i = 0; i < layout.groups.size(); ++i)
      PyList_SET_ITEM(groups.get(), static_cast<Py_ssize_t>(i), py::integer(static_cast<long>(layout.groups[i])).release());
    return own(Py_BuildValue("(OO)", layout.literal_scan ? Py_True : Py_False, groups.get()));
  });
}

void set_dealloc(PyObject* self) {
  PyTypeObject* type = Py_TYPE(self);
  delete as_set(self)->set;
  delete as_set(self)->patterns;
  delete as_set(self)->findall;
  type->tp_free(self);
  Py_DECREF(type);
}

PyMethodDef set_methods[] = {
    {"spans", set_spans, METH_O,
     "spans(text): per pattern, in one pass, the span of its first match (or None), or the list of its "
     "finditer spans for a pattern added with findall=True."},
    {"first_where", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(set_first_where)), METH_FASTCALL,
     "first_where(text, allowed): per first-match pattern, the span of its match at the least start s with "
     "allowed[i][s] nonzero (one bytes object per pattern), or None."},
    {"stand_in", set_stand_in, METH_O,
     "stand_in(text): the one-byte text every pattern matches as it matches text, with each character "
     "above U+00FF replaced by a Latin-1 one no pattern tells from it; None when there is none."},
    {"layout", set_layout, METH_NOARGS,
     "layout(): (literal_scan, members per group): whether the shared literal scan runs, and how many "
     "patterns or alternatives each group's pass scans for."},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot set_slots[] = {
    {Py_tp_dealloc, reinterpret_cast<void*>(set_dealloc)},
    {Py_tp_methods, set_methods},
    {Py_tp_doc, const_cast<char*>("Patterns scanned together in one pass by the native matcher.")},
    {0, nullptr},
};

PyType_Spec set_spec = {
    "agents.tessera._matcher.MatcherSet",
    sizeof(SetObject),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE | Py_TPFLAGS_DISALLOW_INSTANTIATION,
    set_slots,
};

// ---- module functions ---------------------------------------------------------------------------

long checked_flags(PyObject* value) {
  if (!PyLong_Check(value)) py::raise_format(PyExc_TypeError, "flags must be int, not %.200s", Py_TYPE(value)->tp_name);
  const long flags = PyLong_AsLong(value);
  if (flags == -1 && PyErr_Occurred()) throw Error{};
  if (flags & ~(kAccepted | kUnicode))
    py::raise_format(PyExc_ValueError,
                     "unsupported flags %ld: only re.IGNORECASE, re.MULTILINE and re.DOTALL are accepted", flags);
  return flags & kAccepted;
}

// What `re` refuses is refused with `re`'s own error; what it accepts and the engine does not support
// is a ValueError naming the construct and its offset.
rx::Pattern native_pattern(PyObject* pattern, long flags) {
  require_str(pattern, "pattern");
  Ref re = py::import("re");
  Ref re_compile = py::attr(re.get(), "compile");
  Ref flags_object = py::integer(flags);
  py::call(re_compile.get(), {pattern, flags_object.get()});
  std::u32string source = over_text(pattern, [](auto* chars, size_t n) {
    std::u32string out;
    out.reserve(n);
    for (size_t i = 0; i < n; ++i) out.push_back(static_cast<char32_t>(chars[i]));
    return out;
  });
  try {
    return rx::Pattern(source, static_cast<unsigned>(flags));
  } catch (const rx::CompileError& e) {
    py::raise_format(PyExc_ValueError, "%s", e.what());
  }
}

PyObject* compile_set(PyObject* module, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return py::boundary([&]() -> Ref {
    static const py::Signature sig{"compile_set", {"entries", "scan"}, 1, 0};
    std::array<PyObject*, 2> arg{};
    sig.parse(args, nargs, kwnames, arg);
    PyObject* entries = arg[0];
    rx::PatternSet::Scan scan = rx::PatternSet::Scan::Auto;
    if (arg[1] && arg[1] != Py_None) {
      if (!PyUnicode_Check(arg[1]))
        py::raise_format(PyExc_TypeError, "compile_set() argument 'scan' must be str or None, not %.200s",
                         Py_TYPE(arg[1])->tp_name);
      if (PyUnicode_CompareWithASCIIString(arg[1], "groups") == 0) {
        scan = rx::PatternSet::Scan::Groups;
      } else if (PyUnicode_CompareWithASCIIString(arg[1], "literal") == 0) {
        scan = rx::PatternSet::Scan::Literal;
      } else {
        py::raise_format(PyExc_ValueError, "unknown scan %R: 'groups', 'literal' or None", arg[1]);
      }
    }
    Ref seq = own(PySequence_Fast(entries, "compile_set() takes a sequence of (pattern, flags, findall) tuples"));
    const Py_ssize_t count = PySequence_Fast_GET_SIZE(seq.get());
    auto patterns = std::make_unique<std::vector<rx::Pattern>>();
    auto findall = std::make_unique<std::vector<bool>>();
    patterns->reserve(static_cast<size_t>(count));
    for (Py_ssize_t i = 0; i < count; ++i) {
      PyObject* entry = PySequence_Fast_GET_ITEM(seq.get(), i);
      if (!PyTuple_Check(entry) || PyTuple_GET_SIZE(entry) != 3)
        py::raise(PyExc_TypeError, "compile_set() takes a sequence of (pattern, flags, findall) tuples");
      const long flags = checked_flags(PyTuple_GET_ITEM(entry, 1));
      const int all = PyObject_IsTrue(PyTuple_GET_ITEM(entry, 2));
      if (all < 0) throw Error{};
      patterns->push_back(native_pattern(PyTuple_GET_ITEM(entry, 0), flags));
      findall->push_back(all == 1);
    }
    auto set = std::make_unique<rx::PatternSet>(scan);
    for (size_t i = 0; i < patterns->size(); ++i)
      set->add((*patterns)[i], (*findall)[i] ? rx::PatternSet::Mode::FindAll : rx::PatternSet::Mode::First);
    PyTypeObject* type = reinterpret_cast<PyTypeObject*>(state_of(module).set_type);
    PyObject* self = type->tp_alloc(type, 0);
    if (!self) throw Error{};
    as_set(self)->set = set.release();
    as_set(self)->patterns = patterns.release();
    as_set(self)->findall = findall.release();
    return Ref::steal(self);
  });
}

PyObject* compile(PyObject* module, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return py::boundary([&]() -> Ref {
    static const py::Signature sig{"compile", {"pattern", "flags"}, 2, 0};
    std::array<PyObject*, 2> arg{};
    if (nargs == 1 && !kwnames) {
      arg[0] = args[0];
    } else {
      sig.parse(args, nargs, kwnames, arg);
    }
    PyObject* pattern = arg[0];
    require_str(pattern, "pattern");
    const long flags = arg[1] ? checked_flags(arg[1]) : 0;
    auto compiled = std::make_unique<rx::Pattern>(native_pattern(pattern, flags));
    PyTypeObject* type = reinterpret_cast<PyTypeObject*>(state_of(module).matcher_type);
    PyObject* self = type->tp_alloc(type, 0);
    if (!self) throw Error{};
    as_matcher(self)->pattern = compiled.release();
    as_matcher(self)->source = Py_NewRef(pattern);
    as_matcher(self)->flags = flags;
    return Ref::steal(self);
  });
}

PyObject* force_isa(PyObject*, PyObject* name) {
  return py::boundary([&]() -> Ref {
    if (name == Py_None) {
      isa::automatic();
      return Ref::borrow(Py_None);
    }
    if (!PyUnicode_Check(name))
      py::raise_format(PyExc_TypeError, "force_isa() argument must be str or None, not %.200s", Py_TYPE(name)->tp_name);
    Py_ssize_t size = 0;
    const char* utf8 = PyUnicode_AsUTF8AndSize(name, &size);
    if (!utf8) throw Error{};
    switch (isa::force(std::string_view(utf8, static_cast<size_t>(size)))) {
      case isa::Forced::Ok:
        return Ref::borrow(Py_None);
      case isa::Forced::UnknownName:
        py::raise_format(PyExc_ValueError, "unknown instruction-set path %R", name);
      case isa::Forced::Unsupported:
        py::raise_format(PyExc_ValueError, "this CPU cannot run the %R path", name);
    }
    return Ref::borrow(Py_None);
  });
}

PyObject* available_isas(PyObject*, PyObject*) {
  return py::boundary([&]() -> Ref {
    std::vector<isa::Level> levels = isa::available();
    Ref out = own(PyList_New(static_cast<Py_ssize_t>(levels.size())));
    for (size_t i = 0; i < levels.size(); ++i)
      PyList_SET_ITEM(out.get(), static_cast<Py_ssize_t>(i), py::str(isa::name(levels[i])).release());
    return out;
  });
}

PyObject* current_isa(PyObject*, PyObject*) {
  return py::boundary([&]() -> Ref { return py::str(isa::name(isa::current())); });
}

PyMethodDef module_methods[] = {
    {"force_isa", force_isa, METH_O,
     "force_isa(name): scan on the named instruction-set path from now on; None restores the automatic choice."},
    {"available_isas", available_isas, METH_NOARGS, "available_isas(): the paths this CPU runs, slowest first."},
    {"current_isa", current_isa, METH_NOARGS, "current_isa(): the path scans take now."},
    {"compile", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(compile)), METH_FASTCALL | METH_KEYWORDS,
     "compile(pattern, flags=0): the pattern compiled by the native matcher."},
    {"compile_set", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(compile_set)),
     METH_FASTCALL | METH_KEYWORDS,
     "compile_set(entries, scan=None): (pattern, flags, findall) tuples scanned together, see MatcherSet.spans;\n"
     "scan 'groups' or 'literal' forces how patterns with a literal are found (None: by the set's size)."},
    {nullptr, nullptr, 0, nullptr},
};

int exec(PyObject* module) {
  // The other modules scan on the path forced here: they take this module's cell at load.
  PyObject* lent = py::boundary([&] {
    py::lend_isa_state(module);
    return Ref::borrow(Py_None);
  });
  if (lent == nullptr) return -1;
  Py_DECREF(lent);
  PyObject* type = PyType_FromModuleAndSpec(module, &matcher_spec, nullptr);
  if (!type) return -1;
  state_of(module).matcher_type = type;
  if (PyModule_AddObjectRef(module, "Matcher", type) < 0) return -1;
  PyObject* set_type = PyType_FromModuleAndSpec(module, &set_spec, nullptr);
  if (!set_type) return -1;
  state_of(module).set_type = set_type;
  if (PyModule_AddObjectRef(module, "MatcherSet", set_type) < 0) return -1;
  return 0;
}

int traverse(PyObject* module, visitproc visit, void* arg) {
  Py_VISIT(state_of(module).matcher_type);
  Py_VISIT(state_of(module).set_type);
  return 0;
}
int clear(PyObject* module) {
  Py_CLEAR(state_of(module).matcher_type);
  Py_CLEAR(state_of(module).set_type);
  return 0;
}
void free_module(void* module) { clear(static_cast<PyObject*>(module)); }

PyModuleDef_Slot slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(exec)},
    {Py_mod_multiple_interpreters, Py_MOD_MULTIPLE_INTERPRETERS_NOT_SUPPORTED},
    {0, nullptr},
};

PyModuleDef definition = {
    PyModuleDef_HEAD_INIT,
    "agents.tessera._matcher",
    "The native matcher on its own, for tests against re. Not public API.",
    sizeof(State),
    module_methods,
    slots,
    traverse,
    clear,
    free_module,
};

}  // namespace
}  // namespace tessera::matcher

PyMODINIT_FUNC PyInit__matcher() { return PyModuleDef_Init(&tessera::matcher::definition); }
