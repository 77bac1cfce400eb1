#include "IO/KorvelIO/DataAvailableDescriptor.h"

#include "IO/Detail/SystemError.h"
#include "IO/Detail/SystemExtensions.h"
#include "IO/Detail/Throw.h"
#include "IO/Exception.h"

namespace Korvel {
namespace Core {

DataAvailableDescriptor::DataAvailableDescriptor() : m_event(new Detail::EventDescriptor)
{
    if (m_event->Descriptor() < 0) {
        const Detail::SystemError failure{m_event->OpenError()};
        KORVEL_THROW(IOException() << DescriptionInfo("No descriptor for frame announcements") << failure);
    }
}

DataAvailableDescriptor::~DataAvailableDescriptor() = default;

int DataAvailableDescriptor::Descriptor() const
{
    return m_event->Descriptor();
}

// The caller holds m_mutex, as Drain does when it resets: that keeps "readable" equal to
// "something to report".
void DataAvailableDescriptor::Signal()
{
    m_event->Set();
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
    if (!m_ended)
        m_event->Reset();
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
