#include "standin.hpp"

#include <algorithm>
#include <bit>
#include <cstring>
#include <unordered_map>
#include <unordered_set>

#include "bitset.hpp"
#include "regex_simd.hpp"

namespace tessera::rx::detail {

void StandIns::build(const std::vector<const Program*>& programs) {
  // Equal tests answer alike: one bit each is enough. Buckets by a few fields keep the comparisons
  // few in a catalogue of thousands of tests.
  tests_.clear();
  bounds_.clear();
  std::unordered_map<uint64_t, std::vector<const CharTest*>> buckets;
  std::unordered_set<const Program*> seen;
  std::vector<const Program*> todo(programs.begin(), programs.end());
  while (!todo.empty()) {
    const Program* p = todo.back();
    todo.pop_back();
    if (!p || !seen.insert(p).second) continue;
    for (const CharTest& t : p->tests) {
      // Any answer of an uncased character changes only where it passes a character a test names,
      // or the end of a range.
      for (uint8_t i = 0; i < t.nalts; ++i) bounds_.insert(bounds_.end(), {t.alts[i], t.alts[i] + 1});
      for (const auto& [lo, hi] : t.ranges) bounds_.insert(bounds_.end(), {lo, hi + 1});
      for (const SetTail& tail : t.tail) {
        if (tail.kind == SetTail::Literal) bounds_.insert(bounds_.end(), {tail.lo, tail.lo + 1});
        if (tail.kind == SetTail::Range || tail.kind == SetTail::RangeFold) bounds_.insert(bounds_.end(), {tail.lo, tail.hi + 1});
      }
      const uint64_t key = (uint64_t{t.kind} << 56) ^ (uint64_t{t.alts[0]} << 24) ^ (uint64_t{t.fold} << 23) ^
                           (uint64_t{t.negate} << 22) ^ (t.ranges.size() << 8) ^ t.tail.size();
      auto& bucket = buckets[key];
      if (std::none_of(bucket.begin(), bucket.end(), [&](const CharTest* o) { return o->same_as(t); })) {
        bucket.push_back(&t);
        tests_.push_back(&t);
      }
    }
    for (const LookInfo& l : p->looks) todo.push_back(l.rest.get());
    for (const auto* held : {&p->probes, &p->spelled, &p->alternatives})
      for (const auto& q : *held) todo.push_back(q.get());
  }
  std::sort(bounds_.begin(), bounds_.end());
  bounds_.erase(std::unique(bounds_.begin(), bounds_.end()), bounds_.end());
  words_ = tests_.size() / 64 + 1;
  classes_.clear();
  reps_.clear();
  std::vector<uint64_t> sig(words_);
  // ASCII characters first (NUL last): the literal scan takes 32 positions at a time only where all
  // of them are ASCII, and a control character is what SQL text has least of.
  for (int k = 1; k <= 256; ++k) {
    const char32_t c = static_cast<char32_t>(k & 0xFF);
    if (c == '\n') continue;
    signature(c, sig.data());
    bool known = false;
    for (size_t x = 0; x < reps_.size() && !known; ++x)
      known = std::equal(sig.begin(), sig.end(), classes_.begin() + static_cast<std::ptrdiff_t>(x * words_));
    if (known) continue;
    classes_.insert(classes_.end(), sig.begin(), sig.end());
    reps_.push_back(static_cast<uint8_t>(c));
  }
}

void StandIns::signature(char32_t c, uint64_t* out) const {
  std::fill(out, out + words_, 0);
  for (size_t k = 0; k < tests_.size(); ++k)
    if ((*tests_[k])(c)) set_bit(out, k);
  if (slow_is_word(c)) set_bit(out, tests_.size());
}

uint64_t StandIns::key(char32_t c) const {
  const uint64_t at = static_cast<uint64_t>(std::upper_bound(bounds_.begin(), bounds_.end(), c) - bounds_.begin());
  return at << 3 | uint64_t{slow_is_word(c)} << 2 | uint64_t{slow_is_space(c)} << 1 | uint64_t{slow_is_digit(c)};
}

int StandIns::pick(char32_t c) const {
  uint64_t local[16];
  std::vector<uint64_t> heap;
  uint64_t* sig = local;
  if (words_ > 16) {
    heap.resize(words_);
    sig = heap.data();
  }
  signature(c, sig);
  for (size_t x = 0; x < reps_.size(); ++x)
    if (std::equal(sig, sig + words_, classes_.begin() + static_cast<std::ptrdiff_t>(x * words_))) return reps_[x];
  return -1;
}

namespace {

// The stand-in worked out for a wide character during one call (`call` tags the entries of the
// current call; the others are free).
struct Picked {
  char32_t ch = 0;
  uint16_t call = 0;
  int16_t to = -1;
};

}  // namespace

template <class Ch>
bool StandIns::copy(const Ch* t, size_t n, std::vector<uint8_t>& out) const {
  static_assert(sizeof(Ch) > 1);
  if (out.size() < n) out.resize(n);
  uint8_t* o = out.data();
  // Open addressing, so that every distinct character is worked out once however they fall; at most
  // half full. The keys of uncased characters met, with their stand-ins, beside it.
  static constexpr size_t kSlots = 16384;
  thread_local std::vector<Picked> picked(kSlots);
  thread_local std::unordered_map<uint64_t, int16_t> keyed;
  thread_local uint16_t call = 0;
  if (++call == 0) {
    std::fill(picked.begin(), picked.end(), Picked{});
    call = 1;
  }
  keyed.clear();
  // A signature costs one evaluation per test, a key about four: allowed one evaluation for every
  // two characters of the text (little against a scan of it), and a few distinct characters in any
  // case.
  const size_t per_signature = tests_.size() + 1;
  constexpr size_t kPerKey = 4;
  size_t budget = n / 2 + 16 * (per_signature + kPerKey), distinct = 0;
  auto spend = [&](size_t cost) {
    if (budget < cost) return false;
    budget -= cost;
    return true;
  };
  // Runs of Latin-1 characters go to the vector copy; wide characters, often several in a row in
  // prose of another script, are taken one by one.
  for (size_t i = narrow_latin1(t, 0, n, o); i < n; i = i < n && t[i] < 256 ? narrow_latin1(t, i, n, o) : i) {
    const char32_t c = t[i];
    size_t at = (c * 2654435761u) >> (32 - std::countr_zero(kSlots));
    while (picked[at].call == call && picked[at].ch != c) at = (at + 1) & (kSlots - 1);
    Picked& slot = picked[at];
    if (slot.call != call) {
      if (++distinct > kSlots / 2) return false;
      int to;
      if (uncased(c)) {
        if (!spend(kPerKey)) return false;
        const uint64_t k = key(c);
        auto it = keyed.find(k);
        if (it == keyed.end()) {
          if (!spend(per_signature)) return false;
          it = keyed.emplace(k, static_cast<int16_t>(pick(c))).first;
        }
        to = it->second;
      } else {
        if (!spend(per_signature)) return false;
        to = pick(c);
      }
      slot = {c, call, static_cast<int16_t>(to)};
    }
    if (slot.to < 0) return false;
    o[i++] = static_cast<uint8_t>(slot.to);
  }
  return true;
}

template bool StandIns::copy<uint16_t>(const uint16_t*, size_t, std::vector<uint8_t>&) const;
template bool StandIns::copy<uint32_t>(const uint32_t*, size_t, std::vector<uint8_t>&) const;

}  // namespace tessera::rx::detail
