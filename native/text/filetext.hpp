// Reading a script file and decoding it as the host's text stream would (UTF-8, strict, universal
// newlines, a byte-order mark kept as U+FEFF), without the interpreter, so that worker threads can do
// it with the GIL released. Failures come back as the one-line reasons the command reports.
#pragma once

#include "text/view.hpp"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tessera::text {

// Universal newlines: "\r\n" and a lone "\r" each become "\n". Doing it on the bytes is the same as
// doing it on the text, since in UTF-8 those bytes never occur inside another character.
void translate_newlines(std::string& bytes);

// The offset of the first byte of the first sequence the host's strict UTF-8 decoder refuses
// (overlong forms, surrogates and code points past U+10FFFF included), or npos when all is valid.
inline constexpr size_t kValid = static_cast<size_t>(-1);
size_t first_invalid_utf8(const char* bytes, size_t n) noexcept;

// The reason given for bytes that are not UTF-8: "not valid UTF-8 (byte 0xe9 at offset 11)".
std::string invalid_utf8_reason(unsigned char byte, size_t offset);

// Code points of valid UTF-8 in the narrowest of the host's widths that holds them all. Keeps its
// storage from one text to the next, so a worker does not fault in fresh pages for every file.
class Decoder {
 public:
  // `bytes` must be valid UTF-8. The view points into `bytes` itself when it is all ASCII, else into
  // this decoder: it stays valid until the next call or until either is changed.
  View decode(const std::string& bytes);
  // Gives back storage grown past `limit` by an unusually large text.
  void trim(size_t limit);

 private:
  std::vector<std::uint16_t> wide2_;
  std::vector<std::uint32_t> wide4_;
  std::vector<std::uint8_t> narrow_;
};

// An open file descriptor, closed when it goes out of scope.
class Descriptor {
 public:
  explicit Descriptor(int fd) noexcept : fd_(fd) {}
  ~Descriptor();
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const noexcept { return fd_; }

 private:
  int fd_;
};

// Reads what is left of `fd` into `out`, whose size becomes the bytes read; `expected` is the size
// fstat gave. Returns 0, or the errno of the read that failed. An interrupted read is retried when
// `retry_interrupted`, else it fails with EINTR, for a caller that must let the host run its signal
// handlers first.
int read_rest(int fd, size_t expected, std::string& out, bool retry_interrupted);

// The outcome of reading one file. `reason` is empty on success.
struct FileRead {
  std::uint64_t size = 0;  // as fstat gives it when the file was opened
  std::string reason;
};

// Reads the regular file at `path` whole into `out` (opened without blocking, so that a FIFO named
// like a script does not hang the batch). Reasons are the system's own message with its first letter
// lowered ("no such file or directory", "is a directory"), or "not a regular file".
FileRead read_file(const char* path, std::string& out);

}  // namespace tessera::text
