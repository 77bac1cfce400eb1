#pragma once
// Internal: a one-way flag that a thread blocked in poll() hears: Set, from any thread,
// makes the descriptor readable for good (the eventfd is never drained), so every waiter,
// present and future, wakes.
#include <sys/eventfd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>

#include "IO/Detail/ScopedDescriptor.h"
#include "IO/Detail/SystemError.h"
#include "IO/Detail/Throw.h"
#include "IO/Exception.h"

namespace Korvel {
namespace Detail {

class WakeEvent {
public:
    WakeEvent() : m_event(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK))
    {
        if (!m_event) {
            const SystemError failure{errno};
            KORVEL_THROW(Core::IOException() << DescriptionInfo("Failed to create a wake descriptor") << failure);
        }
    }

    void Set() noexcept
    {
        if (m_set.exchange(true))
            return;
        const std::uint64_t one = 1;
        // Cannot fail short of a counter overflow, which one write per event never reaches.
        (void)!write(m_event.get(), &one, sizeof one);
    }
    bool IsSet() const noexcept { return m_set.load(); }
    int Descriptor() const noexcept { return m_event.get(); }

private:
    ScopedDescriptor m_event;
    std::atomic<bool> m_set{false};
};

}  // namespace Detail
}  // namespace Korvel
