#include "_batch/assess.hpp"

#include "text/filetext.hpp"

#include <new>

namespace tessera::batch {
namespace {

// Beyond this a worker hands back the memory of an unusually large script rather than keep it for
// the next, small, one.
constexpr size_t kKeptBuffer = size_t{8} << 20;

// One per thread: each worker reads and decodes into storage it reuses from file to file.
struct Scratch {
  std::string bytes;
  text::Decoder decoder;

  ~Scratch() = default;
  void trim() {
    if (bytes.capacity() > kKeptBuffer) std::string().swap(bytes);
    decoder.trim(kKeptBuffer);
  }
};

Scratch& scratch() {
  thread_local Scratch instance;
  return instance;
}

void analyse(text::View view, const Tools& tools, Result& out) {
  const complexity::Classification c = complexity::classify(view);
  out.counts = c.counts;
  out.grade = c.grade;
  out.budget = complexity::budget_of(c.counts);
  const complexity::Plan plan = complexity::plan_reading(view);
  out.total_lines = plan.total_lines;
  out.chunked = plan.chunked;
  out.sections = plan.sections.size();
  out.categories = curator::detect_categories(view);
  if (const dialect_detect::Detector* d = tools.detector) {
    out.dialect = d->platform_index(d->context, view.kind, view.data, view.size);
    if (out.dialect == dialect_detect::kDetectorFailed) throw std::bad_alloc();
  }
}

// `bytes` holds the script as read; checked, translated and decoded in place.
void assess_scratch(Scratch& s, const Tools& tools, Result& out) {
  const size_t bad = text::first_invalid_utf8(s.bytes.data(), s.bytes.size());
  if (bad != text::kValid) {
    // The offset is the one in the bytes as given, before line ends were translated.
    out.error = text::invalid_utf8_reason(static_cast<unsigned char>(s.bytes[bad]), bad);
    return;
  }
  text::translate_newlines(s.bytes);
  analyse(s.decoder.decode(s.bytes), tools, out);
}

// A script too large for memory is one failed row, as the per-file path reports it; the rest of the
// estate goes on.
template <class F>
void guarded(Result& out, F&& body) {
  Scratch& s = scratch();
  try {
    body(s);
  } catch (const std::bad_alloc&) {
    out = Result{};
    out.error = "analysis failed: MemoryError: ";
  }
  s.trim();
}

}  // namespace

void prepare() {
  complexity::prepare();
  curator::prepare();
}

void assess_file(const char* path, const Tools& tools, Result& out) {
  guarded(out, [&](Scratch& s) {
    text::FileRead read = text::read_file(path, s.bytes);
    if (!read.reason.empty()) {
      out.error = std::move(read.reason);
      return;
    }
    out.bytes = read.size;
    assess_scratch(s, tools, out);
  });
}

void assess_bytes(const char* data, size_t size, const Tools& tools, Result& out) {
  guarded(out, [&](Scratch& s) {
    s.bytes.assign(data, size);
    out.bytes = size;
    assess_scratch(s, tools, out);
  });
}

}  // namespace tessera::batch
