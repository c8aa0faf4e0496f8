// Which arithmetic the fused lattice kernel runs: decided once when the library loads, from
// what the processor offers, and changed afterwards only by tests and benchmarks.
#include "dsp/LatticeStereoKernel.h"

#include <atomic>
#include <cstdlib>
#include <cstring>

namespace usp {

namespace {

bool processorHasFma() noexcept
{
    // The FMA instructions are VEX-encoded: the "avx" bit also says that the operating system
    // saves the wider register state.
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx") && __builtin_cpu_supports("fma");
}

// SKV_LATTICE_PATH picks another path for the whole process: a host cannot reach
// selectLatticePath inside the library, and comparing the paths through a host is how the
// effect as a whole is checked.
LatticePath initialPath() noexcept
{
    const LatticePath best = processorHasFma() ? LatticePath::kFma : LatticePath::kSse2;
    const char* forced = std::getenv("SKV_LATTICE_PATH");
    if (!forced)
        return best;
    if (std::strcmp(forced, "written") == 0)
        return LatticePath::kWritten;
    if (std::strcmp(forced, "sse2") == 0)
        return LatticePath::kSse2;
    return best;
}

std::atomic<LatticePath> currentPath{initialPath()};

}  // namespace

bool latticePathAvailable(LatticePath path) noexcept
{
    return path != LatticePath::kFma || processorHasFma();
}

LatticePath latticePath() noexcept
{
    return currentPath.load(std::memory_order_relaxed);
}

LatticePath selectLatticePath(LatticePath path) noexcept
{
    const LatticePath chosen = latticePathAvailable(path) ? path : LatticePath::kSse2;
    currentPath.store(chosen, std::memory_order_relaxed);
    return chosen;
}

}  // namespace usp
