#pragma once
/// \file
/// DataAvailableDescriptor: a channel handler that turns frame announcements and the worker's
/// end into a descriptor that an event loop (poll, select, a GUI toolkit's socket notifier) can
/// wait on, so that no thread of the program's own has to wait in Read.
#include "ZephExport/Export.h"
#include <memory>
#include <mutex>

#include "IO/IDataAvailableHandler.h"
#include "IO/IWorkerEndHandler.h"

namespace Korvel {
namespace Detail {
class EventDescriptor;
}  // namespace Detail

namespace Core {

/// A data-available handler that owns a pollable descriptor. Give it to a channel with a worker
/// at creation (ChannelOptions::handler), then wait for Descriptor() to become
/// readable (POLLIN) in the program's own loop. It becomes readable when the channel holds a
/// frame, and when the channel's worker has ended; Drain tells which.
///
/// \code
///   #include <poll.h>
///   #include "IO/ZephIO.h"
///   using namespace Korvel::Core;
///
///   DataAvailableDescriptor handler;   // declared first: it must outlive the channel
///   ChannelOptions options;            // a worker, and the handler installed before it starts
///   options.handler = &handler;
///   auto channel = CommunicationChannel::Create(input, output, options);
///   pollfd watched{handler.Descriptor(), POLLIN, 0};
///   while (poll(&watched, 1, -1) >= 0) {   // the program's own loop, with its other descriptors
///       const DataAvailableDescriptor::Event event = handler.Drain();
///       if (event.kind == DataAvailableDescriptor::Kind::Frame) {
///           std::vector<unsigned char> frame(event.size);
///           channel->Read(frame.data(), event.size);   // the whole frame, as announced
///       } else if (event.kind == DataAvailableDescriptor::Kind::Ended) {
///           break;   // no more frames; event.end says why (WorkerEnd::EndFrame: a goodbye)
///       }
///   }
/// \endcode
///
/// The descriptor stays readable while a drained-but-unread announcement would be lost: it is
/// readable exactly while Drain has something to report. After the worker's end it stays
/// readable for good, as a socket at end of stream does, and every Drain reports Ended (after
/// any frame announced before the end). Readers still read the frame itself from the channel.
///
/// Not reference counted: the caller owns it, keeps it alive while a channel uses it (until the
/// channel is destroyed or the handler replaced), and uses it with one channel at a time. It
/// never calls back into the channel. Drain and Descriptor may be called from any thread.
class ZEPH_API DataAvailableDescriptor : public IDataAvailableHandler, public IWorkerEndHandler {
public:
    /// What Drain found.
    enum class Kind {
        Nothing,  ///< nothing new: a wake-up that another Drain has already taken
        Frame,    ///< a frame of `size` bytes is held: read it in full from the channel
        Ended,    ///< the worker has ended; no frame will be announced any more
    };
    /// The result of Drain.
    struct Event {
        Kind kind;                              ///< what happened
        unsigned long long size;                ///< the frame's length for Kind::Frame, else 0
        WorkerEnd end = WorkerEnd::EndOfInput;  ///< why the worker ended, for Kind::Ended
    };

    /// Opens the descriptor (non-blocking, close-on-exec). Throws IOException (with the system
    /// error code) when the system has none to give.
    DataAvailableDescriptor();
    /// Closes the descriptor. Remove it from the event loop and from the channel first.
    ~DataAvailableDescriptor();
    DataAvailableDescriptor(const DataAvailableDescriptor&) = delete;
    DataAvailableDescriptor& operator=(const DataAvailableDescriptor&) = delete;

    /// The descriptor to wait on for readability. Owned by this object: never read, write or
    /// close it; Drain resets it.
    int Descriptor() const;
    /// Takes what there is to report, in one call and without blocking: the announced frame
    /// first, then the worker's end; Nothing when neither is pending. The descriptor is no
    /// longer readable afterwards unless more is pending (or the worker has ended).
    Event Drain();

    /// Called by the channel on its worker thread: a frame of `size` bytes is held.
    void OnDataAvailable(unsigned long long size) override;
    /// Called by the channel when its worker has ended.
    void OnWorkerEnded(WorkerEnd reason) override;

private:
    void Signal();

    std::unique_ptr<Detail::EventDescriptor> m_event;
    std::mutex m_mutex;
    bool m_framePending = false;
    unsigned long long m_frameSize = 0;
    bool m_ended = false;
    WorkerEnd m_endReason = WorkerEnd::EndOfInput;
};

}  // namespace Core
}  // namespace Korvel
