#include "common/RoundTripMeter.h"

#include <iomanip>

namespace ZephCommon {

RoundTripMeter::RoundTripMeter(unsigned long long total) : m_sample(total), m_progress(total, "frames", m_start) {}

void RoundTripMeter::Answered(unsigned long long i, unsigned long long bytes, Clock::time_point sent)
{
    const auto now = Clock::now();
    const double roundTrip = std::chrono::duration<double, std::micro>(now - sent).count();
    m_histogram.Add(roundTrip);
    m_sample.Add(roundTrip);
    m_bytes += bytes;
    m_progress.Update(i, m_bytes, now);
}

void RoundTripMeter::Finish()
{
    m_seconds = std::chrono::duration<double>(Clock::now() - m_start).count();
}

void RoundTripMeter::Print(std::ostream& out) const
{
    out << "bytes:       " << m_bytes << "\n"
        << std::fixed << std::setprecision(3) << "time:        " << m_seconds << " s\n"
        << std::setprecision(1) << "throughput:  " << m_bytes / 1e6 / m_seconds << " MB/s\n"
        << "round trip:  p50 " << m_sample.Percentile(0.50) << " us, p99 " << m_sample.Percentile(0.99) << " us\n";
    m_histogram.Print(out);
}

}  // namespace ZephCommon
