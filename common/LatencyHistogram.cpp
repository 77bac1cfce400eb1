#include "common/LatencyHistogram.h"

#include <algorithm>
#include <iomanip>
#include <sstream>
#include <string>

namespace ZephCommon {

void LatencyHistogram::Add(double microseconds)
{
    size_t k = 0;
    while (k + 1 < kBuckets && microseconds >= static_cast<double>(2ULL << k))
        ++k;
    ++m_counts[k];
}

void LatencyHistogram::Print(std::ostream& out) const
{
    size_t first = 0, last = kBuckets;
    unsigned long long largest = 0;
    for (size_t k = 0; k < kBuckets; ++k) {
        if (m_counts[k] == 0)
            continue;
        if (last == kBuckets)
            first = k;
        last = k;
        largest = std::max(largest, m_counts[k]);
    }
    if (last == kBuckets)
        return;
    for (size_t k = first; k <= last; ++k) {
        const unsigned long long low = k == 0 ? 0 : 1ULL << k;
        const size_t width = m_counts[k] == 0 ? 0 : std::max<size_t>(1, m_counts[k] * kBarWidth / largest);
        std::ostringstream range;
        range << low << "-" << (2ULL << k) << " us";
        out << "  " << std::setw(16) << std::left << range.str() << std::right << std::string(width, '#')
            << std::string(kBarWidth - width, ' ') << " " << m_counts[k] << "\n";
    }
}

}  // namespace ZephCommon
