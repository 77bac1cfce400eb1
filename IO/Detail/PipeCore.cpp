#include "IO/Detail/PipeCore.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <unistd.h>

#include <algorithm>
#include <limits>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <stdexcept>
#include <thread>

#include "IO/Detail/SystemError.h"
#include "IO/Detail/SystemExtensions.h"
#include "IO/Detail/Throw.h"
#include "IO/Exception.h"

// Logs `site`'s line in the pipe's own file; the value and the rest follow with <<.
#define PIPE_LOG(site, severity) KORVEL_LOG_AT((site).file, (site).line, severity) << (site).text

namespace Korvel {
namespace Detail {

namespace {

using Clock = std::chrono::steady_clock;

// The system's pipe buffer unless asked for more.
constexpr unsigned long long kDefaultPipeBuffer = 64 * 1024;

// The end of a wait limit (none for 0). poll() takes an int of milliseconds, so a long limit
// is waited in pieces, and a poll() that timed out means the limit only once it has passed.
class Deadline {
public:
    explicit Deadline(std::chrono::milliseconds limit)
        : m_limited(limit.count() > 0), m_end(m_limited ? Clock::now() + limit : Clock::time_point::max())
    {
    }
    bool Passed() const { return m_limited && Clock::now() >= m_end; }
    // poll() until a descriptor is ready or the deadline passes: 0 only once it has passed.
    int Poll(pollfd* fds, nfds_t count) const
    {
        int ready;
        while ((ready = poll(fds, count, PollMs())) == 0 && !Passed()) {
        }
        return ready;
    }

private:
    // -1 without a limit; rounded up, so that a wait never ends early.
    int PollMs() const
    {
        if (!m_limited)
            return -1;
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(m_end - Clock::now()).count();
        return static_cast<int>(std::clamp<decltype(left)>(left, 0, std::numeric_limits<int>::max()));
    }

    bool m_limited;
    Clock::time_point m_end;
};

// An open() blocked on a FIFO can be neither polled nor interrupted (short of a signal
// handler, which would change the whole process). So a helper thread makes the blocking
// open() while the caller waits in poll() for it, the canceller and the deadline. To give up,
// the caller frees the helper by opening the other end itself; whichever comes first, the
// helper's return or the caller giving up, decides. Where the system allows, both go through
// an anchored path (SystemExtensions.h), so the FIFO is still reached after its name was
// removed (a crashed peer's clean-up) or no longer resolves (a relative name after a chdir).
// Elsewhere they go by name, and a helper that cannot be freed is left behind: the caller is
// released anyway, and the helper closes what it gets once someone opens the FIFO.
struct BlockedOpen {
    enum State { Waiting, Returned, GivenUp, LeftBehind };

    const PipeLog* log;  // a direction's constant table: outlives a helper left behind
    int flags;
    std::string path;        // what the helper opens; the other end is opened the same way
    ScopedDescriptor reach;  // what keeps `path` reaching the FIFO, where the system has a way
    WakeEvent returned;
    std::atomic<int> state{Waiting};
    int descriptor = -1;
    int error = 0;

    // The helper thread.
    static void Run(const std::shared_ptr<BlockedOpen>& attempt)
    {
        int descriptor;
        while ((descriptor = open(attempt->path.c_str(), attempt->flags)) == -1 && errno == EINTR) {
            PIPE_LOG(attempt->log->openInterrupted, WARNING);
        }
        attempt->error = errno;
        attempt->descriptor = descriptor;
        if (attempt->state.exchange(Returned) == LeftBehind)
            ScopedDescriptor{descriptor};  // nobody takes it any more
        attempt->returned.Set();
    }

    // Frees the helper: holds the other end open (non-blocking) until the helper is back.
    // False when that cannot be done (the FIFO is out of reach, or a reader's helper is not
    // inside its open() within a second).
    bool Free()
    {
        const int otherEnd = ((flags & O_ACCMODE) == O_RDONLY ? O_WRONLY : O_RDONLY) | O_NONBLOCK | O_CLOEXEC;
        const Deadline bound(std::chrono::seconds(1));
        pollfd back = {returned.Descriptor(), POLLIN, 0};
        while (!returned.IsSet()) {
            const ScopedDescriptor other(open(path.c_str(), otherEnd));
            // ENXIO: no reader yet to open a writer to.
            if ((!other && errno != ENXIO && errno != EINTR) || bound.Passed())
                return false;
            poll(&back, 1, 1);
        }
        return true;
    }
};

// Whether the peer's end is open on `descriptor` (our own freeing end already closed): a
// writer is there, or has left bytes; a reader is there.
bool PeerConnected(int descriptor, int flags)
{
    const bool reading = (flags & O_ACCMODE) == O_RDONLY;
    pollfd end = {descriptor, static_cast<short>(reading ? POLLIN : POLLOUT), 0};
    if (poll(&end, 1, 0) < 0)
        return false;
    return reading ? (end.revents & POLLIN) || !(end.revents & POLLHUP) : !(end.revents & POLLERR);
}

// Opens `name` as PipeDescriptor does, giving up when the canceller fires or the wait limit
// passes (`stop` then says which, and nothing is returned). An open() that returned first
// wins, and so does a peer that connected while the open was being given up.
ScopedDescriptor OpenWaiting(const std::string& name, int flags, const PipeLog& log, const PipeSettings& settings,
                             int& error, PipeStop& stop)
{
    const WakeEvent* canceller = settings.canceller.get();
    if (canceller && canceller->IsSet()) {
        stop = PipeStop::Cancelled;
        return {};
    }
    auto attempt = std::make_shared<BlockedOpen>();
    attempt->log = &log;
    attempt->flags = flags;
    attempt->path = AnchoredPath(name, attempt->reach);
    std::thread helper(BlockedOpen::Run, attempt);
    const Deadline deadline(settings.openLimit);
    pollfd fds[2] = {{attempt->returned.Descriptor(), POLLIN, 0},
                     {canceller ? canceller->Descriptor() : -1, POLLIN, 0}};
    while (!attempt->returned.IsSet() && !(canceller && canceller->IsSet()) && !deadline.Passed())
        deadline.Poll(fds, 2);
    const auto why = [&] { return canceller && canceller->IsSet() ? PipeStop::Cancelled : PipeStop::WaitLimit; };
    int state = BlockedOpen::Waiting;
    const bool givenUp = attempt->state.compare_exchange_strong(state, BlockedOpen::GivenUp);
    if (givenUp && !attempt->Free()) {
        state = BlockedOpen::GivenUp;
        if (attempt->state.compare_exchange_strong(state, BlockedOpen::LeftBehind)) {
            helper.detach();
            stop = why();
            return {};
        }
    }
    helper.join();
    ScopedDescriptor opened(attempt->descriptor);
    error = attempt->error;
    if (givenUp && !(opened && PeerConnected(opened.get(), flags))) {
        stop = why();
        return {};
    }
    return opened;
}

}  // namespace

void PipeSettings::Check(unsigned long long transferSize, std::chrono::milliseconds waitLimit,
                         std::chrono::milliseconds openLimit)
{
    if (transferSize == 0 || transferSize > kMaxTransferSize)
        KORVEL_THROW(std::invalid_argument("PipeOptions::transferSize must be 1 .. " +
                                           std::to_string(kMaxTransferSize) + " bytes, not " +
                                           std::to_string(transferSize)));
    if (waitLimit.count() < 0 || waitLimit > kMaxWaitLimit)
        KORVEL_THROW(std::invalid_argument("PipeOptions::waitLimit must be 0 .. " +
                                           std::to_string(kMaxWaitLimit.count()) + " ms, not " +
                                           std::to_string(waitLimit.count()) + " ms"));
    if (openLimit.count() < 0 || openLimit > kMaxWaitLimit)
        KORVEL_THROW(std::invalid_argument("PipeOptions::openLimit must be 0 .. " +
                                           std::to_string(kMaxWaitLimit.count()) + " ms, not " +
                                           std::to_string(openLimit.count()) + " ms"));
}

PipeDescriptor::PipeDescriptor(const std::string& name, int flags, const PipeLog& log, PipeSettings settings)
    : m_log(log),
      m_settings(std::move(settings)),
      m_cancel(m_settings.cancellable ? new WakeEvent : nullptr),
      m_name(name)
{
    // For a FIFO, open() blocks until the peer opens the other end.
    const int openFlags = m_settings.closeOnExec ? flags | O_CLOEXEC : flags;
    int error = 0;
    PipeStop stop = PipeStop::None;
    ScopedDescriptor opened;
    if (m_settings.canceller || m_settings.openLimit.count() > 0) {
        opened = OpenWaiting(name, openFlags, log, m_settings, error, stop);
    } else {
        int descriptor;
        while ((descriptor = open(name.c_str(), openFlags)) == -1 && errno == EINTR) {
            PIPE_LOG(log.openInterrupted, WARNING);
        }
        error = errno;
        opened.reset(descriptor);
    }
    if (!opened || stop != PipeStop::None) {
        const int code = stop == PipeStop::Cancelled ? ECANCELED : stop == PipeStop::WaitLimit ? ETIMEDOUT : error;
        const char* description = stop == PipeStop::Cancelled   ? log.openCancelled
                                  : stop == PipeStop::WaitLimit ? log.openTimedOut
                                                                : log.openThrown.text;
        // The name goes to the log line only, as it always has.
        const SystemError failure{code};
        PIPE_LOG(log.openFailed, ERROR) << name << '\n';
        KORVEL_THROW_AT(Core::IOException() << DescriptionInfo(description) << failure, log.openThrown, log.function);
    }
    m_descriptor = std::move(opened);
    PIPE_LOG(log.opened, INFO) << name << log.opened.after << m_descriptor.get() << '\n';
    // A write to a pipe whose reader has gone must fail with EPIPE, not end the process. A pipe
    // with options does that on its own writing thread instead (Write).
    if (m_settings.plain)
        signal(SIGPIPE, SIG_IGN);
    Configure();
}

PipeDescriptor::PipeDescriptor(ScopedDescriptor descriptor, const PipeLog& log, PipeSettings settings)
    : m_descriptor(std::move(descriptor)),
      m_log(log),
      m_settings(std::move(settings)),
      m_cancel(m_settings.cancellable ? new WakeEvent : nullptr),
      m_name("descriptor " + std::to_string(m_descriptor.get()))
{
    if (m_descriptor && m_settings.closeOnExec)
        fcntl(m_descriptor.get(), F_SETFD, FD_CLOEXEC);
    Configure();
}

void PipeDescriptor::Configure()
{
    const int descriptor = m_descriptor.get();
    if (descriptor < 0)
        return;
    // Where the system cannot grow the buffer or refuses (a limit, or not a pipe), a transfer
    // of more than it holds takes several wake-ups of the peer: slower, no less correct.
    if (m_settings.transferSize > kDefaultPipeBuffer)
        GrowPipeBuffer(descriptor, m_settings.transferSize);
    // A pipe that waits does so in poll(), where Cancel and the wait limit reach it.
    if (m_settings.Waits()) {
        const int flags = fcntl(descriptor, F_GETFL);
        if (flags >= 0 && !(flags & O_NONBLOCK) && fcntl(descriptor, F_SETFL, flags | O_NONBLOCK) == 0)
            m_originalFlags = flags;
    }
}

PipeDescriptor::~PipeDescriptor()
{
    // A pipe without a descriptor (null handle) owns nothing to close.
    if (!m_descriptor)
        return;
    PIPE_LOG(m_log.closing, INFO);
    // Non-blocking mode lives on the open file, which a handed-over descriptor's duplicates
    // (a terminal's, say) share: it must not outlive the pipe.
    if (m_originalFlags >= 0)
        fcntl(m_descriptor.get(), F_SETFL, m_originalFlags);
    if (!m_descriptor.Close()) {
        PIPE_LOG(m_log.closeFailed, WARNING) << '\n';
    }
}

void PipeDescriptor::Cancel()
{
    if (m_cancel)
        m_cancel->Set();
}

bool PipeDescriptor::Cancelled() const
{
    return (m_cancel && m_cancel->IsSet()) || (m_settings.canceller && m_settings.canceller->IsSet());
}

namespace {
thread_local TransferStop lastStop;
}

void ClearTransferStop()
{
    lastStop = TransferStop{};
}

TransferStop LastTransferStop()
{
    return lastStop;
}

void PipeDescriptor::Report(PipeStop stop, unsigned long long moved)
{
    lastStop = TransferStop{stop, moved};
    if (stop == PipeStop::WaitLimit) {
        PIPE_LOG(m_log.waitLimit, WARNING) << m_name << m_log.waitLimit.after;
    } else if (!m_cancelReported.exchange(true)) {
        PIPE_LOG(m_log.cancelled, WARNING) << m_name << m_log.cancelled.after;
    }
}

PipeStop PipeDescriptor::WaitFor(short events) const
{
    pollfd fds[3] = {{m_descriptor.get(), events, 0}};
    nfds_t count = 1;
    if (m_cancel)
        fds[count++] = {m_cancel->Descriptor(), POLLIN, 0};
    if (m_settings.canceller)
        fds[count++] = {m_settings.canceller->Descriptor(), POLLIN, 0};
    const Deadline deadline(m_settings.waitLimit);
    for (;;) {
        const int ready = deadline.Poll(fds, count);
        if (Cancelled())
            return PipeStop::Cancelled;
        if (ready == 0)
            return PipeStop::WaitLimit;
        // Ready, or a failure the next system call reports.
        if (ready > 0 || errno != EINTR)
            return PipeStop::None;
    }
}

// The one transfer loop of both directions; `call` is read or write.
template <class Byte, class Call>
bool PipeDescriptor::Transfer(Byte* data, unsigned long long size, unsigned long long* count, Call call, short events)
{
    const PipeLog& log = m_log;
    unsigned long long total = 0;
    unsigned long long remaining = size;
    while (remaining != 0) {
        // A cancelled pipe makes no more system calls.
        if (m_cancel && Cancelled()) {
            Report(PipeStop::Cancelled, total);
            break;
        }
        const unsigned long long chunk = std::min(remaining, m_settings.transferSize);
        PIPE_LOG(log.attempt, INFO) << chunk << log.attempt.after;
        ssize_t n;
        PipeStop stop = PipeStop::None;
        // Only a pipe that waits is non-blocking; it waits for the peer here.
        while ((n = call(m_descriptor.get(), data + total, chunk)) < 0 && errno == EAGAIN && m_settings.Waits() &&
               (stop = WaitFor(events)) == PipeStop::None) {
        }
        if (stop != PipeStop::None) {
            Report(stop, total);
            break;
        }
        if (n < 0) {
            const int error = errno;
            PIPE_LOG(log.failed, ERROR) << error << log.failed.after << std::strerror(error);
            if (error == EINTR) {
                PIPE_LOG(log.interrupted, INFO);
                continue;
            }
            if (log.failedReason.text) {
                PIPE_LOG(log.failedReason, ERROR) << std::strerror(error);
            }
            break;
        }
        if (n == 0 && log.endOfFile.text) {
            PIPE_LOG(log.endOfFile, WARNING);
            break;
        }
        // Without an end of file (writing), a call that took nothing offers the same chunk again.
        KORVEL_LOG_AT(log.moved.file, log.moved.line, INFO) << n << log.moved.text;
        total += static_cast<unsigned long long>(n);
        remaining -= static_cast<unsigned long long>(n);
    }
    if (count)
        *count = total;
    return total == size;
}

bool PipeDescriptor::Read(unsigned char* buffer, unsigned long long size, unsigned long long* count)
{
    return Transfer(buffer, size, count, ::read, POLLIN);
}

bool PipeDescriptor::Write(const unsigned char* data, unsigned long long size, unsigned long long* count)
{
    if (m_settings.plain)
        return Transfer(data, size, count, ::write, POLLOUT);
    // A write to a reader that has gone raises SIGPIPE at the writing thread. Blocked here, it
    // stays pending instead, and is taken back, so the write fails with EPIPE and nothing
    // process-wide changes. Two system calls a write; the pending check only for a caller that
    // blocks SIGPIPE itself (with it unblocked, a pending one would have been delivered).
    sigset_t pipeSignal, saved, pending;
    sigemptyset(&pipeSignal);
    sigaddset(&pipeSignal, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipeSignal, &saved);
    const bool theirs =
        sigismember(&saved, SIGPIPE) == 1 && sigpending(&pending) == 0 && sigismember(&pending, SIGPIPE) == 1;
    bool raised = false;
    const auto write = [&raised](int descriptor, const unsigned char* bytes, size_t n) {
        const ssize_t written = ::write(descriptor, bytes, n);
        raised = raised || (written < 0 && errno == EPIPE);
        return written;
    };
    const bool all = Transfer(data, size, count, write, POLLOUT);
    // Taken back only once it is there, so sigwait (plain POSIX, unlike a timed wait) never waits.
    int taken;
    if (raised && !theirs && sigpending(&pending) == 0 && sigismember(&pending, SIGPIPE) == 1)
        sigwait(&pipeSignal, &taken);
    pthread_sigmask(SIG_SETMASK, &saved, nullptr);
    return all;
}

}  // namespace Detail
}  // namespace Korvel
