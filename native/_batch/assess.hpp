// One row of an estate report, worked out without the interpreter: what a worker thread computes for
// a file (or for a script handed over as bytes) while the GIL stays free for the writer.
#pragma once

#include "complexity/core.hpp"
#include "dialect_detect/detector.hpp"
#include "reference_curator/core.hpp"

#include <cstdint>
#include <string>

namespace tessera::batch {

struct Result {
  // Empty when the script was assessed; otherwise the one-line reason, and nothing else is set.
  std::string error;
  std::uint64_t bytes = 0;
  size_t total_lines = 0;
  complexity::Counts counts;
  complexity::Grade grade = complexity::Grade::Simple;
  complexity::Budget budget{};
  bool chunked = false;
  size_t sections = 0;
  curator::CategorySet categories = 0;
  int dialect = dialect_detect::kUndecided;  // the platform's index in the detector's table

  bool failed() const noexcept { return !error.empty(); }
};

// Compiles every matcher the rows need, so that a bad pattern fails the module's load.
void prepare();

// What a row is worked out with besides the modules' cores: the detector names the dialect, and
// without one the row leaves it undecided (the caller asks elsewhere).
struct Tools {
  const dialect_detect::Detector* detector = nullptr;
};

// The row of the file at `path` (a file-system path in its own bytes).
void assess_file(const char* path, const Tools& tools, Result& out);

// The row of a script given as the bytes a file would hold.
void assess_bytes(const char* data, size_t size, const Tools& tools, Result& out);

}  // namespace tessera::batch
