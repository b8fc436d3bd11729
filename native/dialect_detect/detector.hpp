// The detector as another module calls it: a table of plain functions handed over in a capsule
// (`agents.tessera.dialect_detect._DETECTOR`), so that a batch can name each script's platform on its
// own threads, without the GIL and without a Python string per script. Nothing here needs the
// interpreter; the table and the runtime behind it live as long as the dialect_detect module does, so
// a user keeps a reference to that module for as long as it calls in.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tessera::dialect_detect {

inline constexpr const char* kDetectorCapsule = "agents.tessera.dialect_detect._DETECTOR";

// Raised when a field changes meaning; fields are only ever added at the end, which `size` tells.
inline constexpr std::uint32_t kDetectorVersion = 1;

// What platform_index gives besides a platform's index.
inline constexpr int kUndecided = -1;
inline constexpr int kDetectorFailed = -2;  // out of memory: the caller fails the script as analysis would

struct PlatformName {
  const char* utf8;  // str() of the platform constant, encoded with surrogatepass so that any str survives
  size_t size;
};

struct Detector {
  std::uint32_t version;
  std::uint32_t size;  // sizeof(Detector) as the exporting module was built
  const void* context;
  // The platform detect_dialect would name for the text of `size` code points at `data`, stored `kind`
  // bytes each (1, 2 or 4, in the narrowest kind that holds the text, as the interpreter stores it):
  // its index in `platforms`, kUndecided or kDetectorFailed. Safe on any thread, GIL or not; never
  // throws.
  int (*platform_index)(const void* context, int kind, const void* data, size_t size);
  size_t platform_count;
  const PlatformName* platforms;
};

}  // namespace tessera::dialect_detect
