#include "IO/KorvelIO/DataAvailableDescriptor.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

#include "IO/Detail/SystemError.h"
#include "IO/Detail/Throw.h"
#include "IO/Exception.h"

namespace Korvel {
namespace Core {

DataAvailableDescriptor::DataAvailableDescriptor() : m_descriptor(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC))
{
    if (m_descriptor < 0) {
        const Detail::SystemError failure{errno};
        KORVEL_THROW(IOException() << DescriptionInfo("No descriptor for frame announcements") << failure);
    }
}

DataAvailableDescriptor::~DataAvailableDescriptor()
{
    close(m_descriptor);
}

int DataAvailableDescriptor::Descriptor() const
{
    return m_descriptor;
}

// The counter only ever grows from 0 to a few, so the write cannot fail for want of room; the
// caller holds m_mutex, which keeps "readable" equal to "something to report".
void DataAvailableDescriptor::Signal()
{
    const uint64_t one = 1;
    while (write(m_descriptor, &one, sizeof one) < 0 && errno == EINTR) {
    }
}

DataAvailableDescriptor::Event DataAvailableDescriptor::Drain()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    Event event{Kind::Nothing, 0};
    if (m_framePending) {
        event = Event{Kind::Frame, m_frameSize};
        m_framePending = false;
    } else if (m_ended) {
        event.kind = Kind::Ended;
        event.end = m_endReason;
    }
    if (!m_ended) {
        uint64_t count;
        while (read(m_descriptor, &count, sizeof count) < 0 && errno == EINTR) {
        }
    }
    return event;
}

void DataAvailableDescriptor::OnDataAvailable(unsigned long long size)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_framePending = true;
    m_frameSize = size;
    Signal();
}

void DataAvailableDescriptor::OnWorkerEnded(WorkerEnd reason)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_ended) {
        m_ended = true;
        m_endReason = reason;
        Signal();
    }
}

}  // namespace Core
}  // namespace Korvel
