#include "regex/isa.hpp"

#include <atomic>
#include <cstdlib>

namespace tessera::isa {
namespace {

constexpr Level kLevels[] = {Level::Generic, Level::SSE2, Level::SSE41, Level::AVX2};

Level probe() noexcept {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_cpu_init();
  // AVX2 also needs the operating system to save the wide registers, which the compiler's check covers.
  // Code built for this level may also use the bit instructions of the same processor generation, which
  // a virtual machine can hide while it shows AVX2.
  if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("popcnt") && __builtin_cpu_supports("bmi") &&
      __builtin_cpu_supports("bmi2") && __builtin_cpu_supports("lzcnt"))
    return Level::AVX2;
  if (__builtin_cpu_supports("sse4.1")) return Level::SSE41;
  return Level::SSE2;
#else
  return Level::Generic;
#endif
}

constexpr int kAutomatic = -1;
State g_own{kAutomatic};
std::atomic<State*> g_forced{&g_own};

State& forced() noexcept { return *g_forced.load(std::memory_order_relaxed); }

}  // namespace

Level detected() noexcept {
  static const Level level = probe();
  return level;
}

Level current() noexcept {
  const int level = forced().load(std::memory_order_relaxed);
  return level == kAutomatic ? detected() : static_cast<Level>(level);
}

const char* name(Level level) noexcept {
  switch (level) {
    case Level::Generic:
      return "generic";
    case Level::SSE2:
      return "sse2";
    case Level::SSE41:
      return "sse4.1";
    case Level::AVX2:
      return "avx2";
  }
  return "generic";
}

std::vector<Level> available() {
  std::vector<Level> out;
  for (Level level : kLevels) {
#if defined(__x86_64__) || defined(__i386__)
    // The portable path is not built separately on x86-64: SSE2 is its floor.
    if (level == Level::Generic) continue;
#endif
    if (level <= detected()) out.push_back(level);
  }
  return out;
}

Forced force(std::string_view wanted) noexcept {
  for (Level level : kLevels) {
    if (wanted != name(level)) continue;
#if defined(__x86_64__) || defined(__i386__)
    if (level == Level::Generic) return Forced::Unsupported;
#endif
    if (level > detected()) return Forced::Unsupported;
    forced().store(static_cast<int>(level), std::memory_order_relaxed);
    return Forced::Ok;
  }
  return Forced::UnknownName;
}

void automatic() noexcept { forced().store(kAutomatic, std::memory_order_relaxed); }

State& own_state() noexcept { return g_own; }

void adopt(State& state) noexcept { g_forced.store(&state, std::memory_order_relaxed); }

Forced apply_environment() noexcept {
  static const Forced outcome = [] {
    const char* value = std::getenv("TESSERA_ISA");
    if (value == nullptr || *value == '\0' || std::string_view(value) == "auto") return Forced::Ok;
    return force(value);
  }();
  return outcome;
}

}  // namespace tessera::isa
