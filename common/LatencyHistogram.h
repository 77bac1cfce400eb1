#pragma once
// LatencyHistogram: every latency of a run counted in buckets of powers of two microseconds,
// exact for runs of any length (unlike sampled percentiles), printed as a bar chart.
#include <cstddef>
#include <ostream>

namespace ZephCommon {

class LatencyHistogram {
public:
    // Bucket 0 holds times under 2 us, bucket k (k >= 1) those from 2^k to 2^(k+1) us.
    void Add(double microseconds);

    // One line per bucket from the first to the last non-empty one, with a bar scaled to the
    // largest bucket (any non-empty bucket gets at least one mark) and the count.
    void Print(std::ostream& out) const;

private:
    static constexpr size_t kBuckets = 40;
    static constexpr size_t kBarWidth = 30;
    unsigned long long m_counts[kBuckets] = {};
};

}  // namespace ZephCommon
