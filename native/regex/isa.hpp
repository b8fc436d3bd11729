// The instruction-set path the scanners take, chosen at run time: wheels are built for plain x86-64,
// and the faster paths are used only where the CPU has them. Tests force each path in turn, so that
// every one of them is proven on a machine that could run the fastest.
#pragma once

#include <atomic>
#include <string_view>
#include <vector>

namespace tessera::isa {

// Ordered: a path may use everything of the levels below it.
enum class Level : int {
  Generic = 0,  // portable C++ only (any CPU that is not x86-64)
  SSE2 = 1,     // part of every x86-64
  SSE41 = 2,
  AVX2 = 3,     // with POPCNT, BMI1, BMI2 and LZCNT: code for this level may use them too
};

// The path in use now: the forced one, else the best this CPU runs. Cheap (one relaxed load).
Level current() noexcept;

// The best path this CPU runs.
Level detected() noexcept;

const char* name(Level level) noexcept;

// Every path this CPU runs, slowest first.
std::vector<Level> available();

enum class Forced { Ok, UnknownName, Unsupported };

// Forces the named path ("generic", "sse2", "sse4.1", "avx2"); an unknown name or a path this CPU
// cannot run changes nothing. Meant for tests: scans already running may finish on the old path.
Forced force(std::string_view name) noexcept;

// The forced path, as one cell. Every extension module links its own copy of this file (they load
// privately, their symbols hidden), so a process has as many cells as modules; one module lends its
// own cell, and the others adopt it at load, so that forcing a path anywhere switches every module.
using State = std::atomic<int>;
State& own_state() noexcept;
// From now on current(), force() and automatic() work on `state` (which must outlive every scan).
void adopt(State& state) noexcept;

// Back to the automatic choice.
void automatic() noexcept;

// Applies TESSERA_ISA from the environment (a testing aid: any path name, or "auto"), once per
// process; returns the outcome, Ok when the variable is unset.
Forced apply_environment() noexcept;

}  // namespace tessera::isa
