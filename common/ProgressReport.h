#pragma once
// ProgressReport: how far a long run has got and its throughput so far, on stderr at most once
// a second, so that a run of any length shows it is alive without flooding the terminal.
#include <chrono>

namespace ZephCommon {

class ProgressReport {
public:
    using Clock = std::chrono::steady_clock;

    // `unit` names what is counted ("frames"); the run started at `start`.
    ProgressReport(unsigned long long total, const char* unit, Clock::time_point start);

    // `done` of the total are through and `bytes` moved since the start.
    void Update(unsigned long long done, unsigned long long bytes, Clock::time_point now);

private:
    unsigned long long m_total;
    const char* m_unit;
    Clock::time_point m_start, m_last;
};

}  // namespace ZephCommon
