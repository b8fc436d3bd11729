// The instruction-set path the scanners take, chosen at run time: wheels are built for plain x86-64,
// and the faster paths are used only where the CPU has them. Tests force each path in turn, so that
// every one of them is proven on a machine that could run the fastest.
#pragma once

#include <string_view>
#include <vector>

namespace tessera::isa {

// Ordered: a path may use everything of the levels below it.
enum class Level : int {
  Generic = 0,  // portable C++ only (any CPU that is not x86-64)
  SSE2 = 1,     // part of every x86-64
  SSE41 = 2,
  AVX2 = 3,
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
// Every extension module links its own copy of this state (they load privately), so forcing a path
// from one module leaves the others alone; TESSERA_ISA, which each module reads at load, sets them all.
Forced force(std::string_view name) noexcept;

// Back to the automatic choice.
void automatic() noexcept;

// Applies TESSERA_ISA from the environment (a testing aid: any path name, or "auto"), once per
// process; returns the outcome, Ok when the variable is unset.
Forced apply_environment() noexcept;

}  // namespace tessera::isa
