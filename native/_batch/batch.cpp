// agents.tessera._batch: the rows of an estate report, worked out by native threads that never take
// the GIL. The caller hands over (key, path) pairs and gets finished rows back in the same order,
// while the workers read, decode and scan the next files; only turning a finished row into Python
// objects happens under the GIL. At most a window of files is in flight, so memory follows the work
// in progress, not the size of the estate.
#include "_batch/assess.hpp"
#include "_batch/pool.hpp"
#include "python/module.hpp"
#include "python/py.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <chrono>
#include <cstring>
#include <deque>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace tessera::batch {
namespace {

using py::Error;
using py::own;
using py::Ref;

constexpr const char* kModuleName = "agents.tessera._batch";

// A row is the key the caller gave, then these values; a new column is added here and in values().
constexpr std::array<const char*, 19> kColumns = {
    "path",           "bytes",          "empty",
    "total_lines",    "effective_lines", "grade",
    "stored_proc_count", "complex_construct_count", "moderate_construct_count",
    "temp_table_count", "cte_count",      "analysis_turns",
    "conversion_turns", "audit_turns",    "chunked",
    "sections",       "categories",     "dialect",
    "error",
};
constexpr size_t kValueCount = kColumns.size() - 1;

// Where a column's value sits among a row's values (after the key).
constexpr size_t value_index(std::string_view name) {
  for (size_t i = 1; i < kColumns.size(); ++i)
    if (kColumns[i] == name) return i - 1;
  throw "no such column";
}
constexpr size_t kCategoriesValue = value_index("categories");
constexpr size_t kDialectValue = value_index("dialect");

// How often a wait for the workers comes back to run the interpreter's signal handlers, so that
// Ctrl-C stops a long batch promptly.
constexpr std::chrono::milliseconds kSignalCheck{50};

struct State : py::ModuleState {
  std::array<Ref, 3> grades;
  std::array<Ref, curator::kCategoryCount> names;          // in table order
  std::array<size_t, curator::kCategoryCount> alphabetical;  // table indices, sorted by name
  // An estate has few distinct category sets; each gets one tuple, shared by all its rows.
  std::unordered_map<curator::CategorySet, Ref> category_tuples;
  Ref columns;
  Ref rows_type;  // made from the module, so it refers back to it
  // Held so that the detector's runtime outlives every batch; each batch holds it too.
  Ref detector_module;
  const dialect_detect::Detector* detector = nullptr;
  bool dialect_column = false;  // fixed at load, as COLUMNS is
  std::vector<Ref> dialects;    // the column's value for each platform index
  Ref undecided;

  int traverse(visitproc visit, void* arg) override {
    Py_VISIT(rows_type.get());
    Py_VISIT(detector_module.get());
    return 0;
  }
  void clear() override {
    rows_type = Ref{};
    detector = nullptr;
    detector_module = Ref{};
  }
  // Whether a row carries this value: the dialect only when the detector answers it.
  bool carries(size_t value) const noexcept { return value != kDialectValue || dialect_column; }
};

State& state_of(PyObject* module) { return py::state_of<State>(module); }

Ref categories_of(State& st, curator::CategorySet set) {
  if (auto found = st.category_tuples.find(set); found != st.category_tuples.end()) return found->second;
  Ref names = own(PyTuple_New(std::popcount(set)));
  Py_ssize_t at = 0;
  for (size_t index : st.alphabetical)
    if (set & (curator::CategorySet{1} << index)) PyTuple_SET_ITEM(names.get(), at++, Py_NewRef(st.names[index].get()));
  st.category_tuples.emplace(set, names);
  return names;
}

Ref size(size_t v) { return own(PyLong_FromSize_t(v)); }

std::array<Ref, kValueCount> values(State& st, const Result& r) {
  std::array<Ref, kValueCount> v;
  if (r.failed()) {
    for (size_t i = 0; i + 1 < kValueCount; ++i) v[i] = Ref::borrow(Py_None);
    v.back() = own(PyUnicode_DecodeUTF8(r.error.data(), static_cast<Py_ssize_t>(r.error.size()), "replace"));
    return v;
  }
  const complexity::Counts& c = r.counts;
  v[0] = own(PyLong_FromUnsignedLongLong(r.bytes));
  v[1] = py::boolean(r.bytes == 0);
  v[2] = size(r.total_lines);
  v[3] = size(c.effective_lines);
  v[4] = st.grades[static_cast<size_t>(r.grade)];
  v[5] = size(c.stored_procs);
  v[6] = size(c.complex);
  v[7] = size(c.moderate);
  v[8] = size(c.temp_tables);
  v[9] = size(c.ctes);
  v[10] = py::integer(r.budget.analysis);
  v[11] = py::integer(r.budget.conversion);
  v[12] = py::integer(r.budget.audit);
  v[13] = py::boolean(r.chunked);
  v[14] = size(r.sections);
  v[15] = categories_of(st, r.categories);
  if (st.dialect_column) v[16] = r.dialect >= 0 ? st.dialects[static_cast<size_t>(r.dialect)] : st.undecided;
  v[17] = Ref::borrow(Py_None);
  return v;
}

// Waits for `job` without the GIL, coming back for the signal handlers now and then; a handler that
// raises (KeyboardInterrupt, say) ends the wait with its exception.
void await(Pool& pool, Pool::Job& job) {
  for (;;) {
    bool done;
    {
      py::AllowThreads unlocked;
      done = pool.wait(job, kSignalCheck);
    }
    if (done) return;
    if (PyErr_CheckSignals() < 0) throw Error{};
  }
}

size_t jobs_argument(PyObject* value) {
  if (value == nullptr) return 1;
  // Any positive number is a valid request (the workers are capped anyway), however large.
  const Py_ssize_t jobs = PyNumber_AsSsize_t(value, nullptr);
  if (jobs == -1 && PyErr_Occurred()) throw Error{};
  if (jobs < 1) py::raise(PyExc_ValueError, "jobs must be at least 1");
  return static_cast<size_t>(jobs);
}

// One worker or none: a single job runs on the caller's thread, one file at a time.
std::unique_ptr<Pool> pool_for(size_t jobs) { return std::make_unique<Pool>(jobs > 1 ? Pool::workers_for(jobs) : 0); }

// ---- rows of files --------------------------------------------------------------------------------

struct FileJob final : Pool::Job {
  std::string path;
  const Tools* tools;
  Result result;
  Ref key;  // touched only under the GIL

  void run() noexcept override { assess_file(path.c_str(), *tools, result); }
};

// What the workers of one batch use, kept alive by the batch itself whatever becomes of the module.
struct Kit {
  Ref detector_module;
  Tools tools;

  explicit Kit(const State& st) : detector_module(st.detector_module), tools{st.detector} {
    // Only a module torn down at exit has a column without its detector.
    if (st.dialect_column && st.detector == nullptr) py::raise(PyExc_RuntimeError, "the batch module has been cleared");
  }
};

struct Batch {
  Ref module;
  Kit kit;
  Ref source;  // the items' iterator; empty once it is exhausted
  std::deque<std::unique_ptr<FileJob>> in_flight;
  size_t window = 1;
  // Raised by the items' iterator (or a bad item): raised in turn once the rows before it are out.
  Ref pending_error;
  // Declared last so that it goes first: its workers are joined before the jobs they hold are freed.
  std::unique_ptr<Pool> pool;
};

struct RowsObject {
  PyObject_HEAD
  Batch* batch;
};

// Takes items until the window is full; the new files go to the workers in one hand-over.
void top_up(Batch& b) {
  std::vector<Pool::Job*> fresh;
  try {
    while (b.source && b.in_flight.size() < b.window) {
      Ref item = Ref::steal(PyIter_Next(b.source.get()));
      if (!item) {
        if (PyErr_Occurred()) throw Error{};
        b.source = Ref{};
        break;
      }
      if (!PyTuple_Check(item.get()) || PyTuple_GET_SIZE(item.get()) != 2)
        py::raise_format(PyExc_TypeError, "items must be (key, path) pairs, not %.200s", Py_TYPE(item.get())->tp_name);
      PyObject* source = PyTuple_GET_ITEM(item.get(), 1);
      auto job = std::make_unique<FileJob>();
      job->tools = &b.kit.tools;
      job->key = Ref::borrow(PyTuple_GET_ITEM(item.get(), 0));
      if (PyBytes_Check(source)) {
        const char* path = PyBytes_AS_STRING(source);
        const auto length = static_cast<size_t>(PyBytes_GET_SIZE(source));
        if (std::strlen(path) != length) py::raise(PyExc_ValueError, "embedded null byte");
        job->path.assign(path, length);
      } else if (PyUnicode_Check(source)) {
        // A reason known already (a folder that could not be listed): the row carries it.
        Py_ssize_t length = 0;
        const char* reason = PyUnicode_AsUTF8AndSize(source, &length);
        if (reason == nullptr) throw Error{};
        job->result.error.assign(reason, static_cast<size_t>(length));
        if (job->result.error.empty()) py::raise(PyExc_ValueError, "a reason must not be empty");
        job->done.store(true, std::memory_order_relaxed);
      } else {
        py::raise_format(PyExc_TypeError, "a path must be bytes (or a str reason), not %.200s",
                         Py_TYPE(source)->tp_name);
      }
      if (!job->done.load(std::memory_order_relaxed)) fresh.push_back(job.get());
      b.in_flight.push_back(std::move(job));
    }
  } catch (const Error&) {
    // Whatever is in flight is handed over, so that the rows before the failing item still come.
    b.pending_error = Ref::steal(PyErr_GetRaisedException());
    b.source = Ref{};
  } catch (...) {
    b.pool->submit(fresh);
    b.source = Ref{};
    throw;
  }
  b.pool->submit(fresh);
}

Ref next_row(RowsObject* self) {
  if (self->batch == nullptr) return {};
  Batch& b = *self->batch;
  // Topped up at half empty, not after every row: one hand-over to the workers per many files.
  if (b.source && b.in_flight.size() <= b.window / 2) top_up(b);
  if (b.in_flight.empty()) {
    if (b.pending_error) {
      PyErr_SetRaisedException(b.pending_error.release());
      throw Error{};
    }
    return {};
  }
  FileJob& head = *b.in_flight.front();
  await(*b.pool, head);
  const std::unique_ptr<FileJob> job = std::move(b.in_flight.front());
  b.in_flight.pop_front();

  State& st = state_of(b.module.get());
  std::array<Ref, kValueCount> v = values(st, job->result);
  Ref row = own(PyTuple_New(PyTuple_GET_SIZE(st.columns.get())));
  Py_ssize_t at = 0;
  PyTuple_SET_ITEM(row.get(), at++, job->key.release());
  for (size_t i = 0; i < kValueCount; ++i)
    if (st.carries(i)) PyTuple_SET_ITEM(row.get(), at++, v[i].release());
  return row;
}

// Stops the workers (each finishes the file it is on) and forgets the files not yet started.
void finish(RowsObject* self) {
  Batch* b = std::exchange(self->batch, nullptr);
  if (b == nullptr) return;
  {
    py::AllowThreads unlocked;
    b->pool.reset();
  }
  delete b;
}

PyObject* rows_next(PyObject* self) {
  return py::boundary([&] { return next_row(reinterpret_cast<RowsObject*>(self)); });
}

void rows_dealloc(PyObject* self) {
  PyTypeObject* type = Py_TYPE(self);
  finish(reinterpret_cast<RowsObject*>(self));
  type->tp_free(self);
  Py_DECREF(type);
}

PyObject* rows_close(PyObject* self, PyObject*) {
  finish(reinterpret_cast<RowsObject*>(self));
  Py_RETURN_NONE;
}

PyObject* rows_workers(PyObject* self, void*) {
  const Batch* b = reinterpret_cast<RowsObject*>(self)->batch;
  return PyLong_FromSize_t(b != nullptr ? b->pool->threads() : 0);
}

PyMethodDef rows_methods[] = {
    {"close", rows_close, METH_NOARGS, "Stop: the workers finish the file each is on, the rest is dropped."},
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef rows_getset[] = {
    {"workers", rows_workers, nullptr, "Worker threads of this batch (0: the rows are worked out as they are asked for).",
     nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot rows_slots[] = {
    {Py_tp_dealloc, reinterpret_cast<void*>(rows_dealloc)},
    {Py_tp_iter, reinterpret_cast<void*>(PyObject_SelfIter)},
    {Py_tp_iternext, reinterpret_cast<void*>(rows_next)},
    {Py_tp_methods, rows_methods},
    {Py_tp_getset, rows_getset},
    {Py_tp_doc, const_cast<char*>("The rows of a batch of files, in the order of its items.")},
    {0, nullptr},
};

PyType_Spec rows_spec = {
    "agents.tessera._batch.Rows",
    sizeof(RowsObject),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_DISALLOW_INSTANTIATION,
    rows_slots,
};

PyObject* assess_paths(PyObject* module, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return py::boundary([&] {
    std::array<PyObject*, 2> arg;
    py::Signature{"assess_paths", {"items", "jobs"}, 1, 0}.parse(args, nargs, kwnames, arg);
    const size_t jobs = jobs_argument(arg[1]);
    Ref source = own(PyObject_GetIter(arg[0]));
    State& st = state_of(module);
    auto* type = reinterpret_cast<PyTypeObject*>(st.rows_type.get());
    Ref rows = own(type->tp_alloc(type, 0));
    auto batch = std::make_unique<Batch>(Ref::borrow(module), Kit(st));
    batch->source = std::move(source);
    batch->pool = pool_for(jobs);
    // Enough files queued that no worker waits while the caller writes rows, few enough that the
    // queue costs nothing next to the scripts being read.
    const size_t workers = batch->pool->threads();
    batch->window = workers == 0 ? 1 : std::min<size_t>(std::max<size_t>(64, 32 * workers), 4096);
    reinterpret_cast<RowsObject*>(rows.get())->batch = batch.release();
    return rows;
  });
}

// ---- rows of buffers ------------------------------------------------------------------------------

// A buffer of the caller's, held (and so kept alive and unmoved) for the lifetime of this object.
class Buffer {
 public:
  Buffer() = default;
  ~Buffer() {
    if (held_) PyBuffer_Release(&view_);
  }
  Buffer(const Buffer&) = delete;
  Buffer& operator=(const Buffer&) = delete;

  void take(PyObject* object, const char* name) {
    if (PyObject_GetBuffer(object, &view_, PyBUF_SIMPLE) < 0) {
      if (PyErr_ExceptionMatches(PyExc_TypeError) || PyErr_ExceptionMatches(PyExc_BufferError)) {
        PyErr_Clear();
        py::raise_format(PyExc_TypeError, "%s must be a contiguous buffer, not %.200s", name, Py_TYPE(object)->tp_name);
      }
      throw Error{};
    }
    held_ = true;
  }
  const char* data() const noexcept { return static_cast<const char*>(view_.buf); }
  size_t size() const noexcept { return static_cast<size_t>(view_.len); }

 private:
  Py_buffer view_{};
  bool held_ = false;
};

struct Entries {
  const char* data;
  const char* offsets;
  const unsigned char* validity;  // null: every entry is valid
  size_t width;                   // of an offset: 4 or 8 bytes
  size_t first;                   // the array's own offset, in entries

  long long offset(size_t i) const noexcept {
    if (width == 4) {
      std::int32_t v;
      std::memcpy(&v, offsets + i * 4, 4);
      return v;
    }
    std::int64_t v;
    std::memcpy(&v, offsets + i * 8, 8);
    return v;
  }
  bool valid(size_t i) const noexcept { return validity == nullptr || (validity[i >> 3] >> (i & 7)) & 1; }
};

struct RangeJob final : Pool::Job {
  const Entries* entries;
  const Tools* tools;
  size_t begin, end;
  Result* out;

  void run() noexcept override {
    for (size_t i = begin; i < end; ++i) {
      const size_t at = entries->first + i;
      if (!entries->valid(at)) {
        out[i].error = "null";
        continue;
      }
      const long long from = entries->offset(at);
      const long long to = entries->offset(at + 1);
      assess_bytes(entries->data + from, static_cast<size_t>(to - from), *tools, out[i]);
    }
  }
};

PyObject* assess_buffers(PyObject* module, PyObject* args, PyObject* kwargs) {
  return py::boundary([&]() -> Ref {
    static const char* keywords[] = {"data", "offsets", "validity", "offsets_64", "offset", "length", "jobs", nullptr};
    PyObject *data_object = nullptr, *offsets_object = nullptr, *validity_object = Py_None, *length_object = Py_None;
    PyObject* jobs_object = nullptr;
    int offsets_64 = 0;
    Py_ssize_t first = 0;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "OO|O$pnOO:assess_buffers", const_cast<char**>(keywords),
                                     &data_object, &offsets_object, &validity_object, &offsets_64, &first,
                                     &length_object, &jobs_object))
      throw Error{};
    const size_t jobs = jobs_argument(jobs_object);

    Buffer data, offsets, validity;
    data.take(data_object, "data");
    offsets.take(offsets_object, "offsets");
    if (validity_object != Py_None) validity.take(validity_object, "validity");

    const size_t width = offsets_64 ? 8 : 4;
    if (offsets.size() % width != 0)
      py::raise_format(PyExc_ValueError, "offsets holds %zu bytes, not a whole number of %zu-byte offsets",
                       offsets.size(), width);
    const size_t count = offsets.size() / width;
    if (first < 0) py::raise(PyExc_ValueError, "offset must not be negative");
    size_t length;
    if (length_object == Py_None) {
      if (count < static_cast<size_t>(first) + 1) py::raise(PyExc_ValueError, "offsets is too short for the offset");
      length = count - static_cast<size_t>(first) - 1;
    } else {
      const Py_ssize_t given = PyNumber_AsSsize_t(length_object, PyExc_OverflowError);
      if (given == -1 && PyErr_Occurred()) throw Error{};
      if (given < 0) py::raise(PyExc_ValueError, "length must not be negative");
      length = static_cast<size_t>(given);
      if (count < static_cast<size_t>(first) + length + 1)
        py::raise_format(PyExc_ValueError, "offsets holds %zu offsets, fewer than offset + length + 1", count);
    }
    const Entries entries{data.data(), offsets.data(),
                          validity_object == Py_None ? nullptr : reinterpret_cast<const unsigned char*>(validity.data()),
                          width, static_cast<size_t>(first)};
    if (entries.validity != nullptr && validity.size() * 8 < static_cast<size_t>(first) + length)
      py::raise(PyExc_ValueError, "validity holds fewer bits than offset + length");
    // Checked whole before any worker starts: an entry outside the data would be read out of bounds.
    for (size_t i = 0; i < length; ++i) {
      const long long from = entries.offset(entries.first + i), to = entries.offset(entries.first + i + 1);
      if (from < 0 || to < from || static_cast<unsigned long long>(to) > data.size())
        py::raise_format(PyExc_ValueError, "entry %zu spans bytes %lld to %lld of a %zu-byte data buffer", i, from,
                         to, data.size());
    }

    std::vector<Result> results(length);
    std::deque<RangeJob> ranges;
    const Kit kit(state_of(module));
    {
      const std::unique_ptr<Pool> pool = pool_for(jobs);
      const size_t parts = std::max<size_t>(1, pool->threads() * 8);
      const size_t step = std::clamp<size_t>(length / parts, 1, 256);
      for (size_t begin = 0; begin < length; begin += step) {
        RangeJob& job = ranges.emplace_back();
        job.entries = &entries;
        job.tools = &kit.tools;
        job.begin = begin;
        job.end = std::min(length, begin + step);
        job.out = results.data();
      }
      std::vector<Pool::Job*> all;
      for (RangeJob& job : ranges) all.push_back(&job);
      pool->submit(all);
      for (RangeJob& job : ranges) await(*pool, job);
    }

    State& st = state_of(module);
    Ref columns = own(PyDict_New());
    std::array<Ref, kValueCount> lists;
    for (size_t c = 0; c < kValueCount; ++c) {
      if (!st.carries(c)) continue;
      lists[c] = own(PyList_New(static_cast<Py_ssize_t>(length)));
      py::check(PyDict_SetItemString(columns.get(), kColumns[c + 1], lists[c].get()));
    }
    for (size_t i = 0; i < length; ++i) {
      std::array<Ref, kValueCount> v = values(st, results[i]);
      if (v[kCategoriesValue].get() != Py_None) v[kCategoriesValue] = own(PySequence_List(v[kCategoriesValue].get()));
      for (size_t c = 0; c < kValueCount; ++c)
        if (lists[c]) PyList_SET_ITEM(lists[c].get(), static_cast<Py_ssize_t>(i), v[c].release());
    }
    return columns;
  });
}

PyObject* workers_for(PyObject*, PyObject* value) {
  return py::boundary([&] { return size(Pool::workers_for(jobs_argument(value))); });
}

PyMethodDef functions[] = {
    {"assess_paths", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(assess_paths)),
     METH_FASTCALL | METH_KEYWORDS,
     "assess_paths(items, *, jobs=1)\n--\n\n"
     "The report rows of the files named by items, (key, path) pairs, in the items' order."},
    {"assess_buffers", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(assess_buffers)),
     METH_VARARGS | METH_KEYWORDS,
     "assess_buffers(data, offsets, validity=None, *, offsets_64=False, offset=0, length=None, jobs=1)\n--\n\n"
     "The report columns of the scripts held by a binary or string array's buffers."},
    {"workers_for", workers_for, METH_O,
     "workers_for(jobs, /)\n--\n\nThe worker threads a batch asked for `jobs` runs: at most four per core."},
    {nullptr, nullptr, 0, nullptr},
};

// Takes the detector of dialect_detect, or, when there is none that this module can use (a host whose
// dialect_probe that module cannot load, or a dialect_detect without a detector of this version),
// leaves the dialect column out of COLUMNS for the caller to fill in. Only an Exception is swallowed:
// an interrupt during the import still stops the load.
void take_detector(PyObject* module, State& st) {
  try {
    Ref detector_module = py::import_names(module, "agents.tessera", {"dialect_detect"})[0];
    Ref capsule = py::attr(detector_module.get(), "_DETECTOR");
    const auto* detector =
        static_cast<const dialect_detect::Detector*>(PyCapsule_GetPointer(capsule.get(), dialect_detect::kDetectorCapsule));
    if (detector == nullptr) throw Error{};
    if (detector->version != dialect_detect::kDetectorVersion || detector->size < sizeof(dialect_detect::Detector))
      return;
    for (size_t p = 0; p < detector->platform_count; ++p) {
      const dialect_detect::PlatformName& name = detector->platforms[p];
      st.dialects.push_back(own(PyUnicode_DecodeUTF8(name.utf8, static_cast<Py_ssize_t>(name.size), "surrogatepass")));
    }
    st.undecided = py::intern("undecided");
    st.detector_module = std::move(detector_module);
    st.detector = detector;
    st.dialect_column = true;
  } catch (const Error&) {
    if (!PyErr_ExceptionMatches(PyExc_Exception)) throw;
    PyErr_Clear();
    st.dialects.clear();
  }
}

void build(PyObject* module) {
  prepare();
  State& state = py::install_state<State>(module);
  const char* grades[] = {"simple", "moderate", "complex"};
  for (size_t i = 0; i < 3; ++i) state.grades[i] = py::intern(grades[i]);
  for (size_t i = 0; i < curator::kCategoryCount; ++i) {
    state.names[i] = py::intern(curator::kCategories[i].name);
    state.alphabetical[i] = i;
  }
  std::sort(state.alphabetical.begin(), state.alphabetical.end(), [](size_t a, size_t b) {
    return std::strcmp(curator::kCategories[a].name, curator::kCategories[b].name) < 0;
  });
  take_detector(module, state);
  std::vector<Ref> names{py::intern(kColumns[0])};
  for (size_t i = 0; i < kValueCount; ++i)
    if (state.carries(i)) names.push_back(py::intern(kColumns[i + 1]));
  state.columns = own(PyTuple_New(static_cast<Py_ssize_t>(names.size())));
  for (size_t i = 0; i < names.size(); ++i)
    PyTuple_SET_ITEM(state.columns.get(), static_cast<Py_ssize_t>(i), names[i].release());
  state.rows_type = own(PyType_FromModuleAndSpec(module, &rows_spec, nullptr));
  py::bind(module, "COLUMNS", state.columns);
  py::bind(module, "Rows", state.rows_type);
  py::check(PyModule_AddFunctions(module, functions));
}

py::ModuleDefinition definition({
    "_batch",
    kModuleName,
    "Report rows of whole estates, worked out on native threads.",
    __FILE__,
    build,
});

}  // namespace
}  // namespace tessera::batch

PyMODINIT_FUNC PyInit__batch() { return tessera::batch::definition.init(); }
