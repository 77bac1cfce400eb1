#include "support/Timeout.h"

#include <cstdio>
#include <cstdlib>
#include <thread>

#include "support/TempDir.h"

namespace ZephTest {

void FailTimeout(const std::string& what)
{
    std::fprintf(stderr, "TIMEOUT: %s did not finish in time\n", what.c_str());
    std::fflush(stderr);
    // Threads may be stuck for good, so no unwinding: just leave nothing behind on disk.
    TempDir::RemoveAllLive();
    std::_Exit(3);
}

bool EventuallyTrue(const std::function<bool()>& condition, std::chrono::milliseconds limit)
{
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

}  // namespace ZephTest
