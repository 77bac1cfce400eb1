#include "IO/KorvelIO/CommunicationChannel.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <string>

#include <boost/bind/bind.hpp>
#include <boost/thread/lock_types.hpp>
#include <boost/thread/locks.hpp>

#include "IO/Detail/RefCounting.h"
#include "IO/Detail/Throw.h"
#include "IO/Detail/TransferStop.h"
#include "IO/Exception.h"
#include "IO/IWorkerEndHandler.h"
#include "ZephException/CallStack.h"

namespace Korvel {
namespace Core {

namespace {

// Makes room for `size` bytes, at least doubling the capacity when it has to grow. Growing to
// each new largest frame exactly would free, each time, a block just too small for the next
// one: over a long run of random frame sizes those blocks pile up in the process's memory.
void MakeRoom(std::vector<unsigned char>& buffer, unsigned long long size)
{
    if (size > buffer.capacity())
        buffer.reserve(std::max<unsigned long long>(size, std::min(2 * buffer.capacity(), buffer.max_size())));
}

// Long enough to cover a round trip to another process and back, short enough that an idle
// channel's waiters are parked almost at once.
const auto kSpinLimit = std::chrono::microseconds(40);

void Pause()
{
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#elif defined(__aarch64__)
    asm volatile("yield");
#endif
}

// The length travels little-endian whatever the host's byte order.
constexpr unsigned kLengthBytes = 8;

void EncodeLength(unsigned long long length, unsigned char (&bytes)[kLengthBytes])
{
    for (unsigned i = 0; i < kLengthBytes; ++i)
        bytes[i] = static_cast<unsigned char>(length >> (8 * i));
}

unsigned long long DecodeLength(const unsigned char (&bytes)[kLengthBytes])
{
    unsigned long long length = 0;
    for (unsigned i = 0; i < kLengthBytes; ++i)
        length |= static_cast<unsigned long long>(bytes[i]) << (8 * i);
    return length;
}

}  // namespace

const char* WorkerEndName(WorkerEnd end)
{
    switch (end) {
        case WorkerEnd::EndFrame:
            return "EndFrame";
        case WorkerEnd::EndOfInput:
            return "EndOfInput";
        case WorkerEnd::FrameTooLong:
            return "FrameTooLong";
        case WorkerEnd::Cancelled:
            return "Cancelled";
        case WorkerEnd::Stalled:
            return "Stalled";
        case WorkerEnd::Failed:
            return "Failed";
    }
    return "?";
}

template <class Ready>
void CommunicationChannel::SpinThenLock(boost::unique_lock<boost::mutex>& lock, Ready ready)
{
    const auto deadline = std::chrono::steady_clock::now() + kSpinLimit;
    for (unsigned turn = 1;; ++turn) {
        if (ready() && lock.try_lock())
            return;
        Pause();
        if (turn % 32 == 0) {
            if (std::chrono::steady_clock::now() >= deadline)
                break;
            // The thread we wait for may be queued on this very CPU (two cores, three busy
            // threads per round trip): without yielding, it would wait for the whole spin.
            boost::this_thread::yield();
        }
    }
    lock.lock();
}

boost::intrusive_ptr<IDataChannel> CommunicationChannel::Create(boost::intrusive_ptr<IByteDataInput> input,
                                                                boost::intrusive_ptr<IByteDataOutput> output,
                                                                bool withWorker)
{
    ChannelOptions options;
    options.worker = withWorker;
    return Create(std::move(input), std::move(output), options);
}

boost::intrusive_ptr<IDataChannel> CommunicationChannel::Create(boost::intrusive_ptr<IByteDataInput> input,
                                                                boost::intrusive_ptr<IByteDataOutput> output,
                                                                bool withWorker, unsigned long long maxFrameLength)
{
    ChannelOptions options;
    options.worker = withWorker;
    options.maxFrameLength = maxFrameLength;
    return Create(std::move(input), std::move(output), options);
}

boost::intrusive_ptr<IDataChannel> CommunicationChannel::Create(boost::intrusive_ptr<IByteDataInput> input,
                                                                boost::intrusive_ptr<IByteDataOutput> output,
                                                                const ChannelOptions& options)
{
    if (!options.worker && (options.handler || options.wholeFramesOnly || options.readAhead))
        KORVEL_THROW(
            std::invalid_argument("ChannelOptions: a handler, whole frames only and read-ahead need the worker"));
    if (options.maxFrameLength == 0)
        KORVEL_THROW(std::invalid_argument("ChannelOptions::maxFrameLength must be at least 1"));
    return boost::intrusive_ptr<IDataChannel>(new CommunicationChannel(std::move(input), std::move(output), options));
}

CommunicationChannel::CommunicationChannel(boost::intrusive_ptr<IByteDataInput> input,
                                           boost::intrusive_ptr<IByteDataOutput> output, const ChannelOptions& options)
    : m_withWorker(options.worker),
      m_maxFrameLength(options.maxFrameLength),
      m_wholeFramesOnly(options.wholeFramesOnly),
      m_readAhead(options.readAhead),
      m_input(std::move(input)),
      m_output(std::move(output)),
      m_handler(options.handler)
{
    if (m_withWorker) {
        // The worker reads m_worker (through the predicates) only under the mutex, so holding
        // it here keeps the worker from seeing the field before it is set.
        boost::lock_guard<boost::mutex> lock(m_mutex);
        m_worker = std::make_shared<boost::thread>(boost::bind(&CommunicationChannel::Thread, this));
    }
}

CommunicationChannel::~CommunicationChannel()
{
    // join() and the wait below are interruption points; a destructor must not throw.
    boost::this_thread::disable_interruption noInterruption;
    if (m_worker) {
        m_worker->interrupt();
        m_input->Cancel();
        {
            // Under the mutex, so a reader between its check and its wait cannot miss this.
            boost::lock_guard<boost::mutex> lock(m_mutex);
            m_closing = true;
            m_readerCondition.notify_one();
            m_workerCondition.notify_one();
        }
        m_worker->join();
        boost::unique_lock<boost::mutex> lock(m_mutex);
        m_worker.reset();
        // The ending worker has woken every reader; let them leave Read before the mutex dies.
        while (m_readersInside != 0)
            m_readerCondition.wait(lock);
    }
}

KORVEL_DEFINE_REFCOUNT(CommunicationChannel, m_refCount)

unsigned long long CommunicationChannel::Read(unsigned char* buffer, unsigned long long size)
{
    if (!m_withWorker)
        return m_input->Read(buffer, size);

    boost::unique_lock<boost::mutex> lock(m_mutex);
    struct Presence {
        CommunicationChannel& channel;
        explicit Presence(CommunicationChannel& c) : channel(c) { ++channel.m_readersInside; }
        ~Presence()
        {
            if (--channel.m_readersInside == 0 && channel.m_closing)
                channel.m_readerCondition.notify_all();
        }
    } presence(*this);

    if (!m_dataAvailable) {
        // A thread asked to stop leaves before waiting, so a frame that lands while it spins
        // is not taken by a reader that is on its way out.
        boost::this_thread::interruption_point();
        if (!WorkerInterruptionRequested() && !m_workerEnded) {
            // Still counted as inside Read while spinning, so the destructor waits for us.
            lock.unlock();
            SpinThenLock(lock, [this] { return m_dataAvailable || m_workerEnded || m_closing; });
        }
    }
    while (!ShouldAwakeReaderPredicate() && !m_workerEnded)
        m_readerCondition.wait(lock);
    if (!m_dataAvailable)
        return 0;

    const unsigned long long left = m_frame.size() - m_readPosition;
    const unsigned long long n = size < left ? size : left;
    if (n != 0)
        std::memcpy(buffer, m_frame.data() + m_readPosition, n);
    m_readPosition += n;
    if (m_readPosition == m_frame.size()) {
        m_dataAvailable = false;
        m_workerCondition.notify_one();
        m_readPosition = 0;
    } else if (m_readersInside > 1) {
        // Bytes are left: another waiting reader may take them rather than sleep beside them.
        m_readerCondition.notify_one();
    }
    return n;
}

void CommunicationChannel::Cancel()
{
    m_input->Cancel();
}

void CommunicationChannel::SetDataAvailableHandler(IDataAvailableHandler* handler)
{
    boost::lock_guard<boost::mutex> lock(m_mutex);
    m_handler = handler;
    if (m_workerEnded)
        TellWorkerEnded(handler);
}

void CommunicationChannel::TellWorkerEnded(IDataAvailableHandler* handler)
{
    auto* ends = dynamic_cast<IWorkerEndHandler*>(handler);
    if (!ends || std::find(m_toldOfEnd.begin(), m_toldOfEnd.end(), ends) != m_toldOfEnd.end())
        return;
    m_toldOfEnd.push_back(ends);
    // A failing handler must not take the worker's end with it.
    try {
        ends->OnWorkerEnded(m_endReason);
    } catch (...) {
    }
}

bool CommunicationChannel::IsDataAvaliable() const
{
    boost::lock_guard<boost::mutex> lock(m_mutex);
    return m_dataAvailable;
}

unsigned long long CommunicationChannel::ReadHeader()
{
    unsigned char header[kLengthBytes] = {};
    m_input->Read(header, sizeof header);
    const unsigned long long length = DecodeLength(header);
    if (length > m_maxFrameLength)
        KORVEL_THROW(IOException() << DescriptionInfo("Frame length above the channel's bound")
                                   << DetailsInfo(std::to_string(length)));
    return length;
}

unsigned long long CommunicationChannel::Write(const unsigned char* data, unsigned long long size)
{
    unsigned char header[kLengthBytes];
    EncodeLength(size, header);
    m_output->Write(header, sizeof header);
    return m_output->Write(data, size);
}

bool CommunicationChannel::WorkerInterruptionRequested() const
{
    return m_worker && m_worker->interruption_requested();
}

bool CommunicationChannel::ShouldAwakeReaderPredicate() const
{
    return m_dataAvailable || WorkerInterruptionRequested();
}

bool CommunicationChannel::ShouldAwakeThreadPredicate() const
{
    return !m_dataAvailable || WorkerInterruptionRequested();
}

CommunicationChannel::Part CommunicationChannel::ReadPart(unsigned char* buffer, unsigned long long size,
                                                          WorkerEnd& why, unsigned long long* got)
{
    Detail::ClearTransferStop();
    unsigned long long delivered = m_input->Read(buffer, size);
    // With whole frames only, an input that hands out a frame in pieces is read on; nothing
    // more coming means the peer's end cut the frame short.
    while (m_wholeFramesOnly && delivered < size && Detail::LastTransferStop().why == Detail::PipeStop::None) {
        const unsigned long long more = m_input->Read(buffer + delivered, size - delivered);
        if (more == 0)
            break;
        delivered += more;
    }
    if (got)
        *got = delivered;
    const Detail::TransferStop stop = Detail::LastTransferStop();
    switch (stop.why) {
        case Detail::PipeStop::Cancelled:
            why = WorkerEnd::Cancelled;
            return Part::Ended;
        case Detail::PipeStop::WaitLimit:
            why = WorkerEnd::Stalled;
            return delivered == 0 && stop.moved == 0 ? Part::Nothing : Part::Ended;
        case Detail::PipeStop::None:
            break;
    }
    why = WorkerEnd::EndOfInput;
    if (delivered < size)
        return m_wholeFramesOnly ? Part::Ended : Part::Short;
    return Part::Whole;
}

WorkerEnd CommunicationChannel::ReadFrames()
{
    for (;;) {
        boost::this_thread::interruption_point();
        // A short read leaves the missing bytes zero; nothing at all reads as length 0.
        unsigned char header[kLengthBytes] = {};
        WorkerEnd why;
        const Part part = ReadPart(header, sizeof header, why);
        // A peer quiet for a whole wait limit between frames has not gone: wait again.
        if (part == Part::Nothing)
            continue;
        if (part == Part::Ended)
            return why;
        const unsigned long long length = DecodeLength(header);
        if (length == 0)
            return part == Part::Whole ? WorkerEnd::EndFrame : WorkerEnd::EndOfInput;
        // A length above the bound is treated like a corrupt one: nothing is allocated.
        if (length > m_maxFrameLength)
            return WorkerEnd::FrameTooLong;
        // No frame is held, so no reader looks at the frame buffer: the payload goes straight
        // into it without the mutex. Read ahead, it goes into the spare, which no reader ever
        // looks at. Bytes a short read leaves out keep what the buffer held. Throws for a length
        // no buffer can hold.
        std::vector<unsigned char>& payload = m_readAhead ? m_spare : m_frame;
        MakeRoom(payload, length);
        payload.resize(length);
        unsigned long long got = length;
        if (ReadPart(payload.data(), length, why, &got) == Part::Ended)
            return why;
        boost::this_thread::interruption_point();
        if (m_readAhead) {
            if (got < length) {
                // The spare held the frame before the previous one: the bytes the input left out
                // get what the one buffer of a plain channel would hold there, the previous
                // frame's bytes, then zeros. Only this thread changes m_frame: no mutex needed.
                const unsigned long long kept = std::max(got, std::min<unsigned long long>(length, m_frame.size()));
                if (kept > got)  // the previous frame may be shorter, or none at all
                    std::copy(m_frame.begin() + got, m_frame.begin() + kept, m_spare.begin() + got);
                std::fill(m_spare.begin() + kept, m_spare.end(), 0);
            }
            boost::unique_lock<boost::mutex> lock(m_mutex, boost::defer_lock);
            LockWhenUsedUp(lock);
            // Woken by the destructor: the frame read ahead is dropped.
            boost::this_thread::interruption_point();
            m_frame.swap(m_spare);
            Announce(length);
            continue;
        }
        {
            boost::lock_guard<boost::mutex> lock(m_mutex);
            Announce(length);
        }
        boost::this_thread::interruption_point();
        {
            boost::unique_lock<boost::mutex> lock(m_mutex, boost::defer_lock);
            LockWhenUsedUp(lock);
        }
        boost::this_thread::interruption_point();
    }
}

void CommunicationChannel::Announce(unsigned long long length)
{
    m_dataAvailable = true;
    if (m_handler) {
        try {
            m_handler->OnDataAvailable(length);
        } catch (...) {
            m_handlerFailed = true;
            throw;
        }
    }
    m_readerCondition.notify_one();
}

void CommunicationChannel::LockWhenUsedUp(boost::unique_lock<boost::mutex>& lock)
{
    SpinThenLock(lock, [this] { return !m_dataAvailable || m_closing; });
    while (!ShouldAwakeThreadPredicate())
        m_workerCondition.wait(lock);
}

void CommunicationChannel::Thread()
{
    StackDebugInfo::Descr scope("CommunicationChannel", "Thread");
    WorkerEnd why;
    bool interrupted = false;
    try {
        why = ReadFrames();
    } catch (const boost::thread_interrupted&) {
        // The destructor asked us to stop.
        why = WorkerEnd::Cancelled;
        interrupted = true;
    } catch (...) {
        // A throwing input or handler, or an impossible length: no more frames will come.
        why = WorkerEnd::Failed;
    }
    boost::unique_lock<boost::mutex> lock(m_mutex, boost::defer_lock);
    if (m_readAhead && !interrupted && !m_handlerFailed) {
        // Read ahead, the end may be found while a frame is still held: it is announced only
        // once that frame is used up, as it would be without read-ahead. (A handler fails on
        // the frame just announced, in both cases.)
        try {
            LockWhenUsedUp(lock);
            // Destroyed while a frame is held: as without read-ahead, that is the reason.
            boost::this_thread::interruption_point();
        } catch (const boost::thread_interrupted&) {
            why = WorkerEnd::Cancelled;
        }
    }
    if (!lock.owns_lock())
        lock.lock();
    m_endReason = why;
    m_workerEnded = true;
    m_readerCondition.notify_all();
    TellWorkerEnded(m_handler);
}

}  // namespace Core
}  // namespace Korvel
