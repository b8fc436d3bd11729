#include "text/filetext.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <type_traits>

namespace tessera::text {
namespace {

// The host words an OSError with strerror's text; the command lowers its first letter.
std::string reason_of(int error) {
  char buffer[256];
  // The GNU strerror_r returns its text (not always in the buffer); it is thread-safe where
  // strerror is not.
  const char* text = strerror_r(error, buffer, sizeof buffer);
  std::string reason(text);
  if (!reason.empty() && reason[0] >= 'A' && reason[0] <= 'Z') reason[0] = static_cast<char>(reason[0] - 'A' + 'a');
  return reason;
}

bool all_ascii(const char* p, size_t n) noexcept {
  size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    std::uint64_t word;
    std::memcpy(&word, p + i, 8);
    if (word & 0x8080808080808080ULL) return false;
  }
  for (; i < n; ++i)
    if (static_cast<unsigned char>(p[i]) & 0x80) return false;
  return true;
}

bool continuation(unsigned char c) noexcept { return (c & 0xC0) == 0x80; }

}  // namespace

Descriptor::~Descriptor() {
  if (fd_ >= 0) ::close(fd_);
}

int read_rest(int fd, size_t expected, std::string& out, bool retry_interrupted) {
  // One byte more than the size, so that a file that has not grown is read to its end in one call.
  out.resize(expected > 0 ? expected + 1 : 8192);
  size_t used = 0;
  for (;;) {
    if (used == out.size()) out.resize(out.size() * 2);
    const ssize_t got = ::read(fd, out.data() + used, out.size() - used);
    if (got < 0) {
      if (errno == EINTR && retry_interrupted) continue;
      return errno;
    }
    if (got == 0) break;
    used += static_cast<size_t>(got);
  }
  out.resize(used);
  return 0;
}

void translate_newlines(std::string& bytes) {
  char* const begin = bytes.data();
  char* const end = begin + bytes.size();
  char* cr = static_cast<char*>(std::memchr(begin, '\r', bytes.size()));
  if (cr == nullptr) return;
  char* out = cr;
  const char* in = cr;
  // Runs of other bytes move as blocks: a CR LF file has a carriage return on every line.
  while (in != end) {
    *out++ = '\n';
    ++in;
    if (in != end && *in == '\n') ++in;
    const char* next = static_cast<const char*>(std::memchr(in, '\r', static_cast<size_t>(end - in)));
    const char* stop = next != nullptr ? next : end;
    std::memmove(out, in, static_cast<size_t>(stop - in));
    out += stop - in;
    in = stop;
  }
  bytes.resize(static_cast<size_t>(out - begin));
}

size_t first_invalid_utf8(const char* bytes, size_t n) noexcept {
  const auto* s = reinterpret_cast<const unsigned char*>(bytes);
  size_t i = 0;
  while (i < n) {
    // Long ASCII stretches go eight bytes at a time.
    if (i + 8 <= n) {
      std::uint64_t word;
      std::memcpy(&word, s + i, 8);
      if ((word & 0x8080808080808080ULL) == 0) {
        i += 8;
        continue;
      }
    }
    const unsigned char c = s[i];
    if (c < 0x80) {
      ++i;
      continue;
    }
    // The second byte's range depends on the lead: that is what rules out overlong forms, surrogates
    // (ED A0..BF) and code points past U+10FFFF (F4 90..).
    unsigned char low = 0x80, high = 0xBF;
    size_t length;
    if (c >= 0xC2 && c <= 0xDF) {
      length = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
      length = 3;
      if (c == 0xE0) low = 0xA0;
      if (c == 0xED) high = 0x9F;
    } else if (c >= 0xF0 && c <= 0xF4) {
      length = 4;
      if (c == 0xF0) low = 0x90;
      if (c == 0xF4) high = 0x8F;
    } else {
      return i;
    }
    if (i + 1 >= n || s[i + 1] < low || s[i + 1] > high) return i;
    for (size_t k = 2; k < length; ++k)
      if (i + k >= n || !continuation(s[i + k])) return i;
    i += length;
  }
  return kValid;
}

std::string invalid_utf8_reason(unsigned char byte, size_t offset) {
  char buffer[96];
  std::snprintf(buffer, sizeof buffer, "not valid UTF-8 (byte 0x%02x at offset %zu)", byte, offset);
  return buffer;
}

View Decoder::decode(const std::string& bytes) {
  const char* p = bytes.data();
  const size_t n = bytes.size();
  if (all_ascii(p, n)) return {1, p, n};

  // First the widest code point, which settles the width, then the code points themselves.
  const auto* s = reinterpret_cast<const unsigned char*>(p);
  unsigned char widest_lead = 0;
  size_t count = 0;
  for (size_t i = 0; i < n; ++count) {
    const unsigned char c = s[i];
    i += c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
    if (c > widest_lead) widest_lead = c;
  }
  // Leads C2 and C3 give U+0080..U+00FF, which still fit one byte.
  const int kind = widest_lead >= 0xF0 ? 4 : widest_lead >= 0xC4 ? 2 : 1;

  auto fill = [&](auto& out) {
    out.resize(count);
    size_t o = 0;
    for (size_t i = 0; i < n;) {
      const unsigned char c = s[i];
      std::uint32_t cp;
      if (c < 0x80) {
        cp = c;
        i += 1;
      } else if (c < 0xE0) {
        cp = (std::uint32_t{c} & 0x1F) << 6 | (s[i + 1] & 0x3F);
        i += 2;
      } else if (c < 0xF0) {
        cp = (std::uint32_t{c} & 0x0F) << 12 | (std::uint32_t{s[i + 1]} & 0x3F) << 6 | (s[i + 2] & 0x3F);
        i += 3;
      } else {
        cp = (std::uint32_t{c} & 0x07) << 18 | (std::uint32_t{s[i + 1]} & 0x3F) << 12 |
             (std::uint32_t{s[i + 2]} & 0x3F) << 6 | (s[i + 3] & 0x3F);
        i += 4;
      }
      out[o++] = static_cast<typename std::remove_reference_t<decltype(out)>::value_type>(cp);
    }
    return View{static_cast<int>(sizeof(out[0])), out.data(), count};
  };
  if (kind == 1) return fill(narrow_);
  if (kind == 2) return fill(wide2_);
  return fill(wide4_);
}

void Decoder::trim(size_t limit) {
  if (narrow_.capacity() > limit) std::vector<std::uint8_t>().swap(narrow_);
  if (wide2_.capacity() * 2 > limit) std::vector<std::uint16_t>().swap(wide2_);
  if (wide4_.capacity() * 4 > limit) std::vector<std::uint32_t>().swap(wide4_);
}

FileRead read_file(const char* path, std::string& out) {
  FileRead result;
  out.clear();
  Descriptor fd(::open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (fd.get() < 0) {
    result.reason = reason_of(errno);
    return result;
  }
  struct stat st;
  if (::fstat(fd.get(), &st) != 0) {
    result.reason = reason_of(errno);
    return result;
  }
  if (S_ISDIR(st.st_mode)) {
    result.reason = reason_of(EISDIR);
    return result;
  }
  if (!S_ISREG(st.st_mode)) {
    result.reason = "not a regular file";
    return result;
  }
  result.size = static_cast<std::uint64_t>(st.st_size);
  if (const int error = read_rest(fd.get(), static_cast<size_t>(st.st_size), out, true)) {
    result.reason = reason_of(error);
    out.clear();
  }
  return result;
}

}  // namespace tessera::text
