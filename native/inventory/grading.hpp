// Each object graded by the complexity core on exactly its lines, as classify_sql grades them once
// joined into a str of their own. Touches no Python object, so it runs with the GIL released.
//
// The script's comment-free text is made once, one byte a character, and each object is graded on
// its piece of it: the piece is the object's own comment-free text wherever the script's comments
// and the object's agree, which they do unless a comment of the script crosses the object's first
// or last line boundary (a line comment running past its end excepted, which both cut there). An
// object whose piece would hold a character beyond Latin-1, or across whose edges a comment runs,
// is graded from its own lines as they stand.
//
// A str of its own would be stored in the narrowest width that holds its characters, and the
// complexity core runs markedly faster on narrow storage. A script is often wide for one character
// that no object holds (a byte-order mark, a name in a header comment), so an object graded from its
// own lines whose lines fit a narrower width is graded on a narrowed copy: the characters, and hence
// the counts, are the same.
#pragma once

#include "complexity/core.hpp"
#include "inventory/scanner.hpp"
#include "text/sqltext.hpp"
#include "text/view.hpp"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <memory>
#include <vector>

namespace tessera::inventory {

namespace grading {

// Storage for narrowed copies that a thread keeps from one object, and one call, to the next.
template <class To>
class Buffer {
 public:
  To* get(size_t n) {
    if (n > capacity_ || !data_) {
      // Never empty, so that even an empty copy is handed on as a real address.
      capacity_ = std::max<size_t>(n, 1);
      data_ = std::make_unique_for_overwrite<To[]>(capacity_);
    }
    return data_.get();
  }
  // Storage grown past this by an unusually large object is given back after the call.
  void trim() {
    if (capacity_ > (size_t{1} << 22)) {
      data_.reset();
      capacity_ = 0;
    }
  }

 private:
  std::unique_ptr<To[]> data_;
  size_t capacity_ = 0;
};

struct Scratch {
  Buffer<std::uint8_t> stripped;  // the script's comment-free text
  std::vector<size_t> wide;       // where it holds a character beyond Latin-1
  Buffer<std::uint8_t> one;       // an object's lines, narrowed
  Buffer<std::uint16_t> two;

  // Gives back what an unusually large script or object made grow.
  void release() {
    stripped.trim();
    one.trim();
    two.trim();
    if (wide.capacity() > 4096) std::vector<size_t>().swap(wide);
  }
};

inline Scratch& scratch() {
  thread_local Scratch instance;
  return instance;
}

// Copies s[0, n) into `out`, each character as a To. A character that does not fit a To goes to
// wide(i, c, out[i]), which either writes a stand-in and returns true or returns false: then so does
// this, and `out` holds nothing of use.
template <class To, class Ch, class Wide>
bool narrow_into(const Ch* s, size_t n, To* out, Wide&& wide) {
  static_assert(sizeof(To) < sizeof(Ch));
  for (size_t i = 0;; ++i) {
    i += text::narrow_prefix(s + i, n - i, out + i);
    if (i >= n) return true;
    if (!wide(i, static_cast<uint32_t>(s[i]), out[i])) return false;
  }
}

template <class To, class Ch>
bool narrow_into(const Ch* s, size_t n, To* out) {
  return narrow_into(s, n, out, [](size_t, uint32_t, To&) { return false; });
}

// The counts of classify_sql for s[0, n), on the narrowest storage that holds it.
template <class Ch>
complexity::Counts count_narrowest(const Ch* s, size_t n, Scratch& scratch) {
  if constexpr (sizeof(Ch) > 1) {
    std::uint8_t* one = scratch.one.get(n);
    if (narrow_into(s, n, one)) return complexity::count(text::view_of(one, n));
  }
  if constexpr (sizeof(Ch) > 2) {
    std::uint16_t* two = scratch.two.get(n);
    if (narrow_into(s, n, two)) return complexity::count(text::view_of(two, n));
  }
  return complexity::count(text::view_of(s, n));
}

// The script's comment-free text (text::for_each_kept), one byte a character, with where each kept
// stretch of the script lies in it.
class Stripped {
 public:
  template <class Ch>
  Stripped(const Ch* s, size_t n, Scratch& scratch) : wide_(scratch.wide) {
    wide_.clear();
    if constexpr (sizeof(Ch) == 1) {
      // Each stretch is copied as soon as the search has passed over it, while it is still in the
      // cache; the first only once a second one shows that the script has comments at all: a
      // script without them is its own comment-free text.
      std::uint8_t* out = nullptr;
      size_t size = 0;
      text::for_each_kept(s, n, [&](size_t from, size_t to) {
        if (!kept_.empty()) {
          if (!out) {
            out = scratch.stripped.get(n);
            std::copy(s + kept_[0].from, s + kept_[0].to, out);
          }
          std::copy(s + from, s + to, out + size);
        }
        kept_.push_back({from, to, size, to < n && s[to] == Ch('-')});
        size += to - from;
      });
      text_ = out ? out : s;
    } else {
      // Wide storage is narrowed as the comment openers are looked for, so that it is read once.
      std::uint8_t* out = scratch.stripped.get(n);
      text_ = out;
      size_t size = 0, copied_to = 0;  // out[0, size) holds the kept characters of s before copied_to
      auto copy = [&](size_t from, size_t to) {
        if (from >= to) return;
        narrow_into(s + from, to - from, out + size, [&](size_t i, uint32_t, std::uint8_t& c) {
          wide_.push_back(size + i);
          c = 0;
          return true;
        });
        size += to - from;
        copied_to = to;
      };
      auto find_opener = [&](size_t from, size_t i) -> size_t {
        copy(std::max(copied_to, from), i);
        while (i < n) {
          const size_t done = text::narrow_until_pair(s + i, n - i, n - i, out + size, "--", "/*");
          size += done;
          copied_to = i += done;
          if (i >= n || s[i] == Ch('-') || s[i] == Ch('/')) break;
          copy(i, i + 1);  // a character beyond Latin-1
          ++i;
        }
        return i;
      };
      text::for_each_kept(
          s, n,
          [&](size_t from, size_t to) {
            const size_t at = size - (std::max(copied_to, from) - from);
            copy(std::max(copied_to, from), to);
            kept_.push_back({from, to, at, to < n && s[to] == Ch('-')});
          },
          find_opener);
    }
  }

  // The object's comment-free text, when it is the piece of this one between the script's positions
  // begin (a line's start) and end (a line's end); false otherwise.
  bool piece(size_t begin, size_t end, text::View& out) const {
    size_t from, to;
    bool line_comment;
    if (!at(begin, from, line_comment)) return false;
    // An object's comment-free text ends where its last line does: past it only a line comment of
    // the script may go on.
    if (!at(end, to, line_comment) && !line_comment) return false;
    const auto wide = std::lower_bound(wide_.begin(), wide_.end(), from);
    if (wide != wide_.end() && *wide < to) return false;
    out = text::view_of(text_ + from, to - from);
    return true;
  }

 private:
  struct Stretch {
    size_t from, to;    // s[from, to) is kept...
    size_t at;          // ...as text_[at, at + to - from)
    bool line_comment;  // and what is removed after it is a line comment
  };

  // Where the script's position p falls in text_; false when p lies inside a removed comment (not
  // at its first character), and then `where` is where the comment starts, and `line_comment` says
  // whether it is one.
  bool at(size_t p, size_t& where, bool& line_comment) const {
    // The last stretch that starts at or before p (the first one starts at 0).
    const auto k = std::prev(std::upper_bound(kept_.begin(), kept_.end(), p,
                                              [](size_t q, const Stretch& x) { return q < x.from; }));
    where = k->at + (std::min(p, k->to) - k->from);
    if (p <= k->to) return true;
    line_comment = k->line_comment;
    return false;
  }

  const std::uint8_t* text_ = nullptr;
  std::vector<Stretch> kept_;
  std::vector<size_t>& wide_;  // positions in text_ of characters beyond Latin-1 (held as 0)
};

}  // namespace grading

// The counts of each object of `inv` (found in s[0, n)), in order: classify_sql's counts for the
// object's lines as they stand in the file, up to the end of its last line (its line break left out).
template <class Ch>
std::vector<complexity::Counts> grade(const Ch* s, size_t n, const Inventory& inv) {
  grading::Scratch& scratch = grading::scratch();
  std::vector<complexity::Counts> counts;
  counts.reserve(inv.objects.size());
  if (!inv.objects.empty()) {
    const grading::Stripped stripped(s, n, scratch);
    for (const Object& o : inv.objects) {
      const size_t end = text::find_line_break(s, o.last_begin, n);
      text::View piece;
      counts.push_back(stripped.piece(o.begin, end, piece) ? complexity::count_comment_free(piece)
                                                            : grading::count_narrowest(s + o.begin, end - o.begin, scratch));
    }
  }
  scratch.release();
  return counts;
}

}  // namespace tessera::inventory
