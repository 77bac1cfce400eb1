#include "common/Footprint.h"

#include <cmath>
#include <iomanip>
#include <sstream>

#include "common/Process.h"

namespace ZephCommon {

Footprint::Footprint(double memoryTolerance) : m_tolerance(memoryTolerance), m_beforeFds(OpenDescriptors()) {}

void Footprint::Settled()
{
    m_settledKiB = ResidentKiB();
    m_settledFds = OpenDescriptors();
}

void Footprint::End()
{
    m_endKiB = ResidentKiB();
    m_endFds = OpenDescriptors();
}

double Footprint::Growth() const
{
    return (double(m_endKiB) - double(m_settledKiB)) / double(m_settledKiB);
}

std::string Footprint::Problem(const std::string& released) const
{
    if (m_settledKiB == 0 || m_endKiB == 0)
        return "cannot read the resident memory from /proc/self/statm";
    if (std::abs(Growth()) > m_tolerance)
        return "resident memory went from " + std::to_string(m_settledKiB) + " KiB to " + std::to_string(m_endKiB) +
               " KiB";
    if (m_endFds != m_settledFds)
        return "open descriptors went from " + std::to_string(m_settledFds.size()) + " to " +
               std::to_string(m_endFds.size());
    if (OpenDescriptors() != m_beforeFds)
        return "descriptors left open after " + released + " was released";
    return "";
}

std::string Footprint::Summary(const std::string& settledAt) const
{
    std::ostringstream out;
    out << std::fixed << std::setprecision(1) << "resident " << m_settledKiB << " KiB after " << settledAt << ", "
        << m_endKiB << " KiB at the end (" << std::showpos << 100 * Growth() << std::noshowpos << " %); "
        << m_endFds.size() << " descriptors throughout";
    return out.str();
}

}  // namespace ZephCommon
