#pragma once
// Shared by the benchmarks: test bytes, and the same-run comparison.
//
// Same-run comparison for Google Benchmark: every iteration runs each contender once, in turn,
// timed with the thread's CPU clock, and each keeps its best time. Interleaving and best-of-N
// keep other load on a small shared machine from favouring whichever variant ran in a quiet
// moment. Report() sets MB/s per contender and each one's ratio to the first (the baseline).
#include <time.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include <benchmark/benchmark.h>

#include "BenchRow.h"

namespace ZephBench {

// `size` bytes from a xorshift generator: every bit pattern, no runs a copy could shortcut.
inline std::vector<unsigned char> RandomBytes(size_t size)
{
    std::vector<unsigned char> bytes(size);
    std::uint32_t x = 2463534242u;
    for (auto& byte : bytes) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        byte = static_cast<unsigned char>(x);
    }
    return bytes;
}

// RandomBytes(Size), made once per process.
template <size_t Size>
const std::vector<unsigned char>& SharedRandomBytes()
{
    static const std::vector<unsigned char> bytes = RandomBytes(Size);
    return bytes;
}

inline double ThreadSeconds()
{
    timespec now;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return now.tv_sec + now.tv_nsec * 1e-9;
}

class Contest {
public:
    // `baseline` first; the others are compared with it. `targets`, when given, holds the goal
    // for each contender's ratio (same order as `names`; the baseline's entry is unused).
    explicit Contest(std::vector<std::string> names, std::vector<std::string> targets = {})
        : m_names(std::move(names)), m_targets(std::move(targets)), m_best(m_names.size(), 1e300)
    {
        m_targets.resize(m_names.size());
    }

    // Runs contender `index` once and records its time.
    template <class Fn>
    void Run(size_t index, Fn&& fn)
    {
        const double start = ThreadSeconds();
        fn();
        const double elapsed = ThreadSeconds() - start;
        if (elapsed < m_best[index])
            m_best[index] = elapsed;
    }

    // Best time of contender `index` so far, in seconds.
    double Best(size_t index) const { return m_best[index]; }

    // Counters: "<name> MB/s" for each contender and "<name>/<baseline>" (baseline time over
    // contender time: 1.00 is as fast as the baseline, 0.50 takes twice as long).
    void Report(benchmark::State& state, double bytes, const std::string& what) const
    {
        for (size_t i = 0; i < m_names.size(); ++i) {
            state.counters[m_names[i] + " MB/s"] = bytes / m_best[i] / 1e6;
            if (i != 0)
                state.counters[m_names[i] + "/" + m_names[0]] = m_best[0] / m_best[i];
        }
        // Headline rows for scripts/bench.sh (the benchmarks run a fixed number of iterations,
        // so this runs once per benchmark).
        for (size_t i = 1; i < m_names.size(); ++i) {
            char ratio[32];
            std::snprintf(ratio, sizeof ratio, "%.2f", m_best[0] / m_best[i]);
            PrintRow(what + ": " + m_names[i], Figure(bytes / m_best[i] / 1e6, "MB/s"),
                     m_names[0] + " " + Figure(bytes / m_best[0] / 1e6, "MB/s"), ratio, m_targets[i]);
        }
    }

private:
    std::vector<std::string> m_names;
    std::vector<std::string> m_targets;
    std::vector<double> m_best;
};

}  // namespace ZephBench
