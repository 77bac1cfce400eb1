#pragma once
// LatencySample: at most a fixed number of a run's values, chosen uniformly from all of them
// (reservoir sampling), so that percentiles of a run of any length fit in memory.
#include <cstddef>
#include <random>
#include <vector>

namespace ZephCommon {

// The value below which `fraction` of `values` lie (0 when there are none).
double Percentile(std::vector<double> values, double fraction);

class LatencySample {
public:
    explicit LatencySample(unsigned long long expected, size_t capacity = 1 << 20);

    void Add(double value);
    double Percentile(double fraction) const { return ZephCommon::Percentile(m_values, fraction); }

private:
    size_t m_capacity;
    unsigned long long m_seen = 0;
    std::vector<double> m_values;
    std::minstd_rand m_random{1};
};

}  // namespace ZephCommon
