#pragma once
// Bounded waits for tests. A test thread stuck in a blocking call cannot be freed, so an
// overrun ends the test process with a message naming what hung: the test fails, never hangs.
#include <chrono>
#include <functional>
#include <future>
#include <string>

namespace ZephTest {

constexpr std::chrono::milliseconds kDefaultTimeout{10000};

// Reports `what` on stderr, removes the live TempDirs (so no FIFO is left behind) and ends
// the process with a failure status.
[[noreturn]] void FailTimeout(const std::string& what);

// Runs `fn` on a thread of its own, waits at most `limit` for it and returns its result.
template <class Fn>
auto FinishesWithin(const std::string& what, Fn fn, std::chrono::milliseconds limit = kDefaultTimeout) -> decltype(fn())
{
    auto result = std::async(std::launch::async, std::move(fn));
    if (result.wait_for(limit) != std::future_status::ready)
        FailTimeout(what);
    return result.get();
}

// Polls `condition` until it holds (true) or `limit` has passed (false).
bool EventuallyTrue(const std::function<bool()>& condition, std::chrono::milliseconds limit = kDefaultTimeout);

}  // namespace ZephTest
