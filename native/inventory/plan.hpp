// The object-aware reading plan: after the same first read as the complexity module's plan, one
// section per object where it fits the reader's limit, longer objects cut at statement starts, and
// the lines outside objects folded into the section that follows them (or standing alone when
// they are many). Every line after the first read lands in exactly one section.
#pragma once

#include "inventory/scanner.hpp"

#include <algorithm>
#include <cstddef>
#include <vector>

namespace tessera::inventory {

inline constexpr size_t kWholeFileLimit = 500;  // as the complexity module's plan
inline constexpr size_t kFirstRead = 150;
inline constexpr size_t kSmallestLimit = 50;
inline constexpr size_t kDefaultLimit = 1500;
// Lines outside objects up to this share of the limit go with the object after them, even when
// that object then has to be cut: a few lines of SET and GO are no section of their own.
inline constexpr size_t kLeadInShare = 4;

struct PlannedSection {
  size_t start, end;
  static constexpr size_t kNone = static_cast<size_t>(-1);
  size_t object = kNone;  // index into the inventory's objects, or kNone outside objects
  size_t part = 1, parts = 1;
  bool continued = false;     // the object began inside the first read
  size_t statement = kNone;   // where the statement that opens this part starts
};

struct ReadingPlan {
  size_t total_lines = 0;
  size_t first_read = 0;
  std::vector<PlannedSection> sections;
};

namespace detail {

// Cuts lines [a, b] into pieces of at most `limit` lines and about even length, each after the
// first starting on a statement (after line `floor`); failing that, at the limit.
inline void cut(const Inventory& inv, size_t a, size_t b, size_t floor, size_t limit, PlannedSection proto,
                std::vector<PlannedSection>& out) {
  const size_t first_piece = out.size();
  const auto& starts = inv.starts;
  auto statement_on = [&](size_t line) {
    auto it = std::lower_bound(starts.begin(), starts.end(), line,
                               [](const StatementStart& s, size_t l) { return s.line < l; });
    return (it != starts.end() && it->line == line) ? it->verb : PlannedSection::kNone;
  };
  size_t s = a;
  while (b - s + 1 > limit) {
    // Pieces of even length are aimed at; the statement start nearest that aim is taken.
    const size_t remaining = b - s + 1;
    const size_t pieces = (remaining + limit - 1) / limit;
    const size_t aim = s + (remaining + pieces - 1) / pieces;
    const size_t reach = s + limit;  // the furthest line the next piece may start on
    const size_t lowest = std::max(s, floor) + 1;
    size_t next = reach;
    auto it = std::lower_bound(starts.begin(), starts.end(), aim,
                               [](const StatementStart& st, size_t l) { return st.line < l; });
    size_t best_distance = static_cast<size_t>(-1);
    if (it != starts.end() && it->line <= reach) {
      next = it->line;
      best_distance = it->line - aim;
    }
    if (it != starts.begin()) {
      const size_t line = std::prev(it)->line;
      if (line >= lowest && aim - line < best_distance) next = line;
    }
    if (next < lowest) next = reach;
    PlannedSection piece = proto;
    piece.start = s;
    piece.end = next - 1;
    out.push_back(piece);
    s = next;
  }
  PlannedSection piece = proto;
  piece.start = s;
  piece.end = b;
  out.push_back(piece);
  const size_t parts = out.size() - first_piece;
  for (size_t k = first_piece; k < out.size(); ++k) {
    out[k].part = k - first_piece + 1;
    out[k].parts = parts;
    out[k].statement = statement_on(out[k].start);
  }
}

}  // namespace detail

// `inv` must come from a planning scan (statement starts and line starts filled).
inline ReadingPlan plan_reading(const Inventory& inv, size_t limit) {
  ReadingPlan p;
  const size_t total = inv.total_lines;
  p.total_lines = total;
  p.first_read = std::min(total <= kWholeFileLimit ? total : kFirstRead, limit);
  if (total <= p.first_read) return p;

  size_t cursor = p.first_read + 1;
  for (size_t k = 0; k < inv.objects.size(); ++k) {
    const Object& o = inv.objects[k];
    if (o.last_line < cursor) continue;
    const size_t body = std::max(o.first_line, cursor);
    size_t from = body;
    if (cursor < body) {
      const size_t gap = body - cursor;
      if (gap + (o.last_line - body + 1) <= limit || gap <= limit / kLeadInShare) {
        from = cursor;
      } else {
        detail::cut(inv, cursor, body - 1, cursor, limit, PlannedSection{}, p.sections);
      }
    }
    PlannedSection proto;
    proto.object = k;
    proto.continued = o.first_line < body;
    detail::cut(inv, from, o.last_line, body, limit, proto, p.sections);
    cursor = o.last_line + 1;
  }
  if (cursor <= total) {
    PlannedSection* last = p.sections.empty() ? nullptr : &p.sections.back();
    if (last != nullptr && last->object != PlannedSection::kNone && last->end + 1 == cursor &&
        total - last->start + 1 <= limit) {
      last->end = total;
    } else {
      detail::cut(inv, cursor, total, cursor, limit, PlannedSection{}, p.sections);
    }
  }
  return p;
}

}  // namespace tessera::inventory
