// Reading a script the way the host's `path.read_text(encoding="utf-8")` does, without its layers of
// file objects. On the large scripts that get reading plans, those layers cost several times what the
// planning itself costs, so the planner and the file grader take this path when they can.
#pragma once

#include "python/py.hpp"

namespace tessera::py {

class PathReader {
 public:
  // Takes the host's concrete path class and its reading methods as they stand at load.
  static PathReader capture();

  // The file's text, exactly as read_text(encoding="utf-8") would give it, when `path` is a plain
  // path of the host's pathlib whose reading methods are still pathlib's own. An empty Ref means
  // "not taken": a different object, or a name that does not exist or is a directory; the caller
  // then calls read_text itself, which announces and fails as the host does. Once the file has been
  // announced to the audit hooks, a failure to open, read or decode it raises read_text's own error.
  Ref try_read(PyObject* path) const;

 private:
  Ref path_type_;
  Ref read_text_;
  Ref open_;
};

}  // namespace tessera::py
