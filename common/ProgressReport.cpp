#include "common/ProgressReport.h"

#include <iomanip>
#include <iostream>

namespace ZephCommon {

ProgressReport::ProgressReport(unsigned long long total, const char* unit, Clock::time_point start)
    : m_total(total), m_unit(unit), m_start(start), m_last(start)
{
}

void ProgressReport::Update(unsigned long long done, unsigned long long bytes, Clock::time_point now)
{
    if (now - m_last < std::chrono::seconds(1))
        return;
    m_last = now;
    const double seconds = std::chrono::duration<double>(now - m_start).count();
    std::cerr << "progress: " << done << "/" << m_total << " " << m_unit << " (" << (100 * done / m_total) << "%), "
              << std::fixed << std::setprecision(1) << bytes / 1e6 / seconds << " MB/s" << std::endl;
}

}  // namespace ZephCommon
