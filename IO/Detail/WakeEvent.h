#pragma once
// Internal: a one-way flag that a thread blocked in poll() hears: Set, from any thread,
// makes the descriptor readable for good (it is never reset), so every waiter, present and
// future, wakes.
#include <atomic>

#include "IO/Detail/SystemError.h"
#include "IO/Detail/SystemExtensions.h"
#include "IO/Detail/Throw.h"
#include "IO/Exception.h"

namespace Korvel {
namespace Detail {

class WakeEvent {
public:
    WakeEvent()
    {
        if (m_event.Descriptor() < 0) {
            const SystemError failure{m_event.OpenError()};
            KORVEL_THROW(Core::IOException() << DescriptionInfo("Failed to create a wake descriptor") << failure);
        }
    }

    void Set() noexcept
    {
        if (!m_set.exchange(true))
            m_event.Set();
    }
    bool IsSet() const noexcept { return m_set.load(); }
    int Descriptor() const noexcept { return m_event.Descriptor(); }

private:
    EventDescriptor m_event;
    std::atomic<bool> m_set{false};
};

}  // namespace Detail
}  // namespace Korvel
