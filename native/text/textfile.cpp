#include "text/textfile.hpp"

#include "text/filetext.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

namespace tessera::py {
namespace {

constexpr int kOpenFlags = O_RDONLY | O_CLOEXEC;  // what io.open uses for mode "r"
constexpr size_t kKeptBuffer = size_t{8} << 20;

enum class Read { Ok, NotTaken, Failed };

// Whether the name is worth opening directly: something that exists and is not a directory. What
// fails here is left to read_text, which announces its own attempt and raises its own error.
bool worth_opening(const char* name) {
  struct stat st;
  return ::stat(name, &st) == 0 && !S_ISDIR(st.st_mode);
}

// The whole file. Failed leaves errno set; an interrupted call is NotTaken, so that read_text runs
// the signal handlers where the host would.
Read slurp(const char* name, std::string& out) {
  text::Descriptor fd(::open(name, kOpenFlags));
  if (fd.get() < 0) return errno == EINTR ? Read::NotTaken : Read::Failed;
  struct stat st;
  if (::fstat(fd.get(), &st) != 0 || S_ISDIR(st.st_mode)) return Read::NotTaken;
  if (const int error = text::read_rest(fd.get(), st.st_size > 0 ? static_cast<size_t>(st.st_size) : 0, out, false)) {
    errno = error;
    return error == EINTR ? Read::NotTaken : Read::Failed;
  }
  return Read::Ok;
}

// The attribute as the class defines it (a plain function), or an empty Ref.
Ref class_attr(PyObject* type, const char* name) {
  PyObject* value = PyObject_GetAttrString(type, name);
  if (value == nullptr) PyErr_Clear();
  return Ref::steal(value);
}

}  // namespace

PathReader PathReader::capture() {
  Ref pathlib = import("pathlib");
  PathReader reader;
  // Path() makes the concrete class of this platform; only that exact class is read directly.
  reader.path_type_ = Ref::borrow(reinterpret_cast<PyObject*>(Py_TYPE(py::call(attr(pathlib.get(), "Path").get(), {}).get())));
  reader.read_text_ = attr(reader.path_type_.get(), "read_text");
  reader.open_ = attr(reader.path_type_.get(), "open");
  return reader;
}

Ref PathReader::try_read(PyObject* path) const {
  if (!path_type_ || reinterpret_cast<PyObject*>(Py_TYPE(path)) != path_type_.get()) return {};
  // read_text goes through the class's open; either one replaced (a test double, say) must be called.
  if (class_attr(path_type_.get(), "read_text").get() != read_text_.get() ||
      class_attr(path_type_.get(), "open").get() != open_.get())
    return {};

  Ref name = own(PyOS_FSPath(path));
  if (!PyUnicode_Check(name.get())) return {};
  PyObject* encoded_raw = nullptr;
  if (!PyUnicode_FSConverter(name.get(), &encoded_raw)) {
    PyErr_Clear();
    return {};
  }
  Ref encoded = Ref::steal(encoded_raw);

  if (!worth_opening(PyBytes_AS_STRING(encoded.get()))) return {};
  // The host announces every file to the audit hooks before it opens it, and a hook may refuse (or
  // act on the file first). From here on every failure is raised as read_text raises it, so that
  // the attempt is announced once.
  check(PySys_Audit("open", "Osi", name.get(), "r", kOpenFlags));

  // Kept from call to call on each thread (up to a size) so that its pages are not faulted in afresh
  // for every script of an estate.
  thread_local std::string bytes;
  Read outcome;
  int error = 0;
  {
    AllowThreads unlocked;
    outcome = slurp(PyBytes_AS_STRING(encoded.get()), bytes);
    error = errno;
    if (outcome == Read::Ok) text::translate_newlines(bytes);
  }
  struct Trim {
    ~Trim() {
      if (bytes.capacity() > kKeptBuffer) std::string().swap(bytes);
    }
  } trim;
  if (outcome == Read::NotTaken) return {};
  if (outcome == Read::Failed) {
    errno = error;
    PyErr_SetFromErrnoWithFilenameObject(PyExc_OSError, name.get());
    throw Error{};
  }
  PyObject* text = PyUnicode_DecodeUTF8(bytes.data(), static_cast<Py_ssize_t>(bytes.size()), "strict");
  if (text != nullptr) return Ref::steal(text);
  if (!PyErr_ExceptionMatches(PyExc_UnicodeDecodeError)) throw Error{};
  // read_text decodes the bytes before it translates newlines, so its error shows the file's own
  // bytes and positions in them: decode those (read again) for the same error.
  PyErr_Clear();
  std::string raw;
  {
    AllowThreads unlocked;
    outcome = slurp(PyBytes_AS_STRING(encoded.get()), raw);
  }
  if (outcome != Read::Ok) return {};
  text = PyUnicode_DecodeUTF8(raw.data(), static_cast<Py_ssize_t>(raw.size()), "strict");
  if (text == nullptr) throw Error{};
  Py_DECREF(text);  // the file changed meanwhile and now reads well: read_text decides
  return {};
}

}  // namespace tessera::py
