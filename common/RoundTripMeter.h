#pragma once
// RoundTripMeter: what a run of requests and answers measures: bytes, time, every round trip
// in a histogram and a uniform sample of them for the percentiles; progress once a second.
#include <chrono>
#include <ostream>

#include "common/LatencyHistogram.h"
#include "common/LatencySample.h"
#include "common/ProgressReport.h"

namespace ZephCommon {

class RoundTripMeter {
public:
    using Clock = std::chrono::steady_clock;

    // `total` requests of "frames" will be made; the run starts now.
    explicit RoundTripMeter(unsigned long long total);

    // Request `i` (from 1), of `bytes`, sent at `sent`, has just been answered.
    void Answered(unsigned long long i, unsigned long long bytes, Clock::time_point sent);
    // The run is over: its time stops here.
    void Finish();

    // bytes, time, throughput, p50 and p99 round trip, then the histogram.
    void Print(std::ostream& out) const;

private:
    const Clock::time_point m_start = Clock::now();
    LatencyHistogram m_histogram;
    LatencySample m_sample;
    ProgressReport m_progress;
    unsigned long long m_bytes = 0;
    double m_seconds = 0;
};

}  // namespace ZephCommon
