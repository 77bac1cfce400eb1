#pragma once
/// \file
/// CommunicationChannel: a framed, full-duplex IDataChannel over a byte input and a byte output
/// that the caller supplies (typically a pipe input and a pipe output shared with another
/// process). Created by Create (count 1), destroyed by its last Release; it has no lock of its
/// own for callers.
///
/// Frame on the wire: an 8-byte unsigned length, little-endian on every host, then that many
/// payload bytes. Every Write sends one frame with two writes of the output.
///
/// Without a worker the caller reads synchronously: ReadHeader gives the next frame's length,
/// then Read takes that many bytes straight from the input.
///
/// With a worker, a thread of the channel takes one frame at a time off the input, holds it,
/// tells the handler (on the worker thread, with the channel mutex held, before any reader can
/// take a byte of it) and wakes one waiting reader; it reads the next frame only once the held
/// one has been read in full (with ChannelOptions::readAhead it reads the next one meanwhile,
/// and announces it only then). Callers read each frame with Read calls whose sizes add up to the
/// length the handler was given. An empty frame, or an input that delivers no length (end of
/// stream), ends the worker.
///
/// How this channel ends, beyond the basic contract:
/// - The worker catches every exception that reaches it (an input or handler that throws, a
///   length no buffer can hold such as a corrupt 2^63), ends quietly and leaves the channel
///   fit for destruction. A frame it had already stored stays readable.
/// - Whenever the worker ends, for any reason, it wakes every waiting reader. A Read that finds
///   no frame held after the worker has ended returns 0 at once instead of waiting forever.
/// - A Read woken by the destruction of the channel with no frame held returns 0 and copies
///   nothing; the destructor waits for such readers to leave Read before it frees anything.
/// - A Read asking for more than is left of the held frame gets only what is left.
/// - A handler that also implements IWorkerEndHandler is told when the worker ends and why, or
///   at once when it is set after that (DataAvailableDescriptor uses this).
/// - Over a pipe made with PipeOptions (directly, or as the input side of the library's duplex
///   pipe or standard-input adapter), a length or payload that a cancel (the pipe's own Cancel,
///   which Cancel here reaches, or its PipeCanceller) or a wait limit cut short never becomes a
///   frame: the worker ends instead, and readers get 0. A wait limit that passes before any
///   byte of a frame has come is no end: the worker waits again, so a quiet peer does not end
///   the channel. Over other inputs a short read is not looked at: the missing bytes stay zero
///   (or what an earlier frame left there).
/// - A reader that leaves bytes of the held frame passes the wake-up on to another waiting
///   reader.
/// - Read with no frame held is an interruption point of the calling boost::thread, also when a
///   frame lands while it spins: boost::thread_interrupted leaves it and nothing is consumed.
///
/// A waiting reader, and the worker waiting for its frame to be read, first spin for a few tens
/// of microseconds (pausing, and yielding the CPU now and then) before they park: a frame that
/// comes within that time skips a condition variable's wake-up, and an idle channel costs no CPU.
///
/// The handler must not call Read, IsDataAvaliable or SetDataAvailableHandler of the same
/// channel, nor drop its last reference: it hands the frame over to another thread.
#include "ZephExport/Export.h"
#include <atomic>
#include <memory>
#include <vector>

#include <boost/thread/condition_variable.hpp>
#include <boost/thread/mutex.hpp>
#include <boost/thread/thread.hpp>

#include "IO/IByteDataInput.h"
#include "IO/IByteDataOutput.h"
#include "IO/IDataChannel.h"
#include "IO/IWorkerEndHandler.h"
#include "IO/KorvelIO/ChannelOptions.h"

namespace Korvel {
namespace Core {

/// A framed, full-duplex channel over a byte input and a byte output, with an optional
/// worker (see CommunicationChannel.h).
class ZEPH_API CommunicationChannel : public virtual IDataChannel {
public:
    /// `input` and `output` must not be null. With `withWorker` the worker is already running
    /// when Create returns. Thread creation errors (boost::thread_resource_error) pass out.
    static boost::intrusive_ptr<IDataChannel> Create(boost::intrusive_ptr<IByteDataInput> input,
                                                     boost::intrusive_ptr<IByteDataOutput> output, bool withWorker);
    /// The same, trusting no announced length above `maxFrameLength` bytes. Such a length ends
    /// the worker as an end of stream does, before anything is allocated for it; without a
    /// worker ReadHeader throws instead. Outgoing frames are not bounded.
    static boost::intrusive_ptr<IDataChannel> Create(boost::intrusive_ptr<IByteDataInput> input,
                                                     boost::intrusive_ptr<IByteDataOutput> output, bool withWorker,
                                                     unsigned long long maxFrameLength);
    /// The same with `options` (see ChannelOptions.h): a handler told of every frame from the
    /// first, the length bound, whole frames only, read-ahead. Invalid options throw std::invalid_argument.
    static boost::intrusive_ptr<IDataChannel> Create(boost::intrusive_ptr<IByteDataInput> input,
                                                     boost::intrusive_ptr<IByteDataOutput> output,
                                                     const ChannelOptions& options);

    int AddRef() const override;
    int GetRefCount() const override;
    int Release() const override;

    /// Without a worker: the input's Read. With a worker: blocks until a frame is held, then
    /// copies up to `size` bytes of it; 0 when the worker has ended and no frame is held.
    unsigned long long Read(unsigned char* buffer, unsigned long long size) override;
    /// Calls the input's Cancel and nothing else; serves both the input and the output side.
    /// Over an input whose Cancel does nothing it changes nothing.
    void Cancel() override;
    void SetDataAvailableHandler(IDataAvailableHandler* handler) override;
    bool IsDataAvaliable() const override;
    /// The next frame's length from the input; 0 when the input delivers nothing. Only for
    /// channels without a worker. A length above the channel's bound throws IOException
    /// (DetailsInfo = the length in decimal) after its 8 bytes were taken: the stream is then
    /// out of step and only fit to be closed.
    unsigned long long ReadHeader() override;
    /// Sends one frame; returns what the output's payload write returned. Not locked:
    /// callers writing from several threads serialise their writes.
    unsigned long long Write(const unsigned char* data, unsigned long long size) override;

    /// The worker's body, run on the worker thread; not for callers.
    virtual void Thread();

    ///@{
    /// Both are called with the channel mutex held.
    bool ShouldAwakeReaderPredicate() const;
    bool ShouldAwakeThreadPredicate() const;
    ///@}

private:
    CommunicationChannel(boost::intrusive_ptr<IByteDataInput> input, boost::intrusive_ptr<IByteDataOutput> output,
                         const ChannelOptions& options);
    // Only the last Release destroys a channel. Stops and joins the worker (interrupt, cancel
    // the input, wake, join), then releases the output and the input.
    ~CommunicationChannel() override;

    bool WorkerInterruptionRequested() const;
    // Tells `handler` of the worker's end if it listens for it and was not told yet. Called
    // with the mutex held.
    void TellWorkerEnded(IDataAvailableHandler* handler);
    // The worker's loop; returns why it ended (thread_interrupted and other exceptions pass).
    WorkerEnd ReadFrames();
    // How a read of a frame's length or payload went: all of it; short, which the plain
    // channel lets through (the missing bytes keep what the buffer held); nothing at all before
    // a wait limit (a quiet peer, no end); or an end of the worker, for the reason in `why`.
    enum class Part { Whole, Short, Nothing, Ended };
    // `got`, when given, receives the bytes the input delivered.
    Part ReadPart(unsigned char* buffer, unsigned long long size, WorkerEnd& why, unsigned long long* got = nullptr);
    // Marks a frame of `length` held in m_frame, tells the handler and wakes a reader. Called
    // with the mutex held.
    void Announce(unsigned long long length);
    // Takes the mutex once the held frame is used up (or the channel is closing).
    void LockWhenUsedUp(boost::unique_lock<boost::mutex>& lock);
    // Spins a few tens of microseconds for `ready` (read without the mutex) and the mutex to
    // be free, then takes the mutex anyway: a waiter that the other side answers at once skips
    // the condition variable's wake-up, and an idle one still parks.
    template <class Ready>
    void SpinThenLock(boost::unique_lock<boost::mutex>& lock, Ready ready);

    RefCountImpl m_refCount;
    bool m_withWorker;
    unsigned long long m_maxFrameLength;
    bool m_wholeFramesOnly;
    bool m_readAhead;
    std::shared_ptr<boost::thread> m_worker;
    std::vector<unsigned char> m_frame;
    // With read-ahead: the frame being read ahead. Only the worker touches it; it trades places
    // with m_frame under the mutex once m_frame is used up.
    std::vector<unsigned char> m_spare;
    unsigned long long m_readPosition = 0;
    boost::intrusive_ptr<IByteDataInput> m_input;
    boost::intrusive_ptr<IByteDataOutput> m_output;
    IDataAvailableHandler* m_handler = nullptr;
    // Written under the mutex; atomic only so that a spinning waiter may watch them.
    std::atomic<bool> m_dataAvailable{false};
    std::atomic<bool> m_workerEnded{false};
    WorkerEnd m_endReason = WorkerEnd::EndOfInput;  // set with m_workerEnded
    std::atomic<bool> m_closing{false};
    bool m_handlerFailed = false;  // worker only
    // The handlers already told of the worker's end, each told once; only compared.
    std::vector<const void*> m_toldOfEnd;
    unsigned m_readersInside = 0;
    mutable boost::mutex m_mutex;
    boost::condition_variable m_workerCondition;
    boost::condition_variable m_readerCondition;
};

}  // namespace Core
}  // namespace Korvel
