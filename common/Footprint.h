#pragma once
// Footprint: what a long run must not leak. Resident memory and open descriptors are taken
// once the run has settled and at its end (memory within a tolerance, the very same
// descriptors), and the descriptors from before the run opened anything are compared with
// those after it released everything.
#include <cstdint>
#include <set>
#include <string>

namespace ZephCommon {

class Footprint {
public:
    // Takes the descriptors open now: make it before the run opens anything.
    explicit Footprint(double memoryTolerance);

    void Settled();  // once the run has settled (caches and buffers at their working size)
    void End();      // at the run's end, before it releases anything

    // Relative change of resident memory from Settled to End.
    double Growth() const;
    // Empty when every check held, else what failed. Call once the run has released
    // `released` ("the channel"), which should have closed everything it opened.
    std::string Problem(const std::string& released) const;
    // "resident S KiB after <settledAt>, E KiB at the end (+g %); N descriptors throughout"
    std::string Summary(const std::string& settledAt) const;

private:
    double m_tolerance;
    uint64_t m_settledKiB = 0, m_endKiB = 0;
    std::set<int> m_beforeFds, m_settledFds, m_endFds;
};

}  // namespace ZephCommon
