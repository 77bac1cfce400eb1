#include "common/LatencySample.h"

#include <algorithm>

namespace ZephCommon {

double Percentile(std::vector<double> values, double fraction)
{
    if (values.empty())
        return 0;
    const size_t k = std::min(values.size() - 1, static_cast<size_t>(fraction * values.size()));
    std::nth_element(values.begin(), values.begin() + k, values.end());
    return values[k];
}

LatencySample::LatencySample(unsigned long long expected, size_t capacity) : m_capacity(capacity)
{
    m_values.reserve(std::min<unsigned long long>(expected, capacity));
}

void LatencySample::Add(double value)
{
    ++m_seen;
    if (m_values.size() < m_capacity)
        m_values.push_back(value);
    else if (const unsigned long long slot = std::uniform_int_distribution<unsigned long long>(0, m_seen - 1)(m_random);
             slot < m_capacity)
        m_values[slot] = value;
}

}  // namespace ZephCommon
