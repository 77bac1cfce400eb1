#include "IO/Detail/PipeCore.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <stdexcept>
#include <thread>

#include "IO/Detail/SystemError.h"
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

// Milliseconds to `deadline` for poll(), rounded up so that a wait never ends early.
int RemainingMs(Clock::time_point deadline)
{
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return static_cast<int>(std::max<decltype(left)>(left, 0));
}

// An open() blocked on a FIFO cannot be polled. The watcher frees it when the canceller fires
// or the wait limit passes: it opens the other end itself (non-blocking) and closes it again,
// until the opener is back and sees that the open was given up.
class OpenWatcher {
public:
    OpenWatcher(const std::string& name, int flags, const PipeSettings& settings)
        : m_name(name),
          m_otherEnd(((flags & O_ACCMODE) == O_RDONLY ? O_WRONLY : O_RDONLY) | O_NONBLOCK | O_CLOEXEC),
          m_limit(settings.waitLimit),
          m_canceller(settings.canceller),
          m_thread([this] { Run(); })
    {
    }
    ~OpenWatcher() { Finish(); }
    OpenWatcher(const OpenWatcher&) = delete;
    OpenWatcher& operator=(const OpenWatcher&) = delete;

    // Ends the watch (the opener is back); why the open was freed, if it was.
    PipeStop Finish()
    {
        m_back.Set();
        if (m_thread.joinable())
            m_thread.join();
        return m_stop;
    }

private:
    void Run()
    {
        pollfd fds[2] = {{m_back.Descriptor(), POLLIN, 0}, {m_canceller ? m_canceller->Descriptor() : -1, POLLIN, 0}};
        const Clock::time_point deadline = Clock::now() + m_limit;
        for (;;) {
            const int ready = poll(fds, 2, m_limit.count() > 0 ? RemainingMs(deadline) : -1);
            if (m_back.IsSet())
                return;
            if (m_canceller && m_canceller->IsSet()) {
                m_stop = PipeStop::Cancelled;
                break;
            }
            if (ready == 0) {
                m_stop = PipeStop::WaitLimit;
                break;
            }
        }
        // The opener may not be inside open() yet: free it again until it is back.
        while (!m_back.IsSet()) {
            ScopedDescriptor released(open(m_name.c_str(), m_otherEnd));  // and closed at once
            poll(fds, 1, 1);
        }
    }

    const std::string m_name;
    const int m_otherEnd;
    const std::chrono::milliseconds m_limit;
    const std::shared_ptr<WakeEvent> m_canceller;
    WakeEvent m_back;
    PipeStop m_stop = PipeStop::None;
    std::thread m_thread;  // last: starts once everything it reads is ready
};

}  // namespace

void PipeSettings::Check(unsigned long long transferSize, std::chrono::milliseconds waitLimit)
{
    if (transferSize == 0 || transferSize > kMaxTransferSize)
        KORVEL_THROW(std::invalid_argument("PipeOptions::transferSize must be 1 .. " +
                                           std::to_string(kMaxTransferSize) + " bytes, not " +
                                           std::to_string(transferSize)));
    if (waitLimit.count() < 0)
        KORVEL_THROW(std::invalid_argument("PipeOptions::waitLimit must not be negative, not " +
                                           std::to_string(waitLimit.count()) + " ms"));
}

PipeDescriptor::PipeDescriptor(const std::string& name, int flags, const PipeLog& log, PipeSettings settings)
    : m_log(log),
      m_settings(std::move(settings)),
      m_cancel(m_settings.cancellable ? new WakeEvent : nullptr),
      m_name(name)
{
    // For a FIFO, open() blocks until the peer opens the other end.
    std::unique_ptr<OpenWatcher> watcher;
    if (m_settings.canceller || m_settings.waitLimit.count() > 0)
        watcher.reset(new OpenWatcher(name, flags, m_settings));
    const int openFlags = m_settings.closeOnExec ? flags | O_CLOEXEC : flags;
    int descriptor;
    while ((descriptor = open(name.c_str(), openFlags)) == -1 && errno == EINTR) {
        PIPE_LOG(log.openInterrupted, WARNING);
    }
    const int error = errno;
    ScopedDescriptor opened(descriptor);
    const PipeStop stop = watcher ? watcher->Finish() : PipeStop::None;
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
    PIPE_LOG(log.opened, INFO) << name << log.opened.after << descriptor << '\n';
    // A write to a pipe whose reader has gone must fail with EPIPE, not end the process.
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
        if (flags >= 0)
            fcntl(descriptor, F_SETFL, flags | O_NONBLOCK);
    }
}

PipeDescriptor::~PipeDescriptor()
{
    // A pipe without a descriptor (null handle) owns nothing to close.
    if (!m_descriptor)
        return;
    PIPE_LOG(m_log.closing, INFO);
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

void PipeDescriptor::Report(PipeStop stop)
{
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
    const bool limited = m_settings.waitLimit.count() > 0;
    const Clock::time_point deadline = Clock::now() + m_settings.waitLimit;
    for (;;) {
        const int ready = poll(fds, count, limited ? RemainingMs(deadline) : -1);
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
            Report(PipeStop::Cancelled);
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
            Report(stop);
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
    return Transfer(data, size, count, ::write, POLLOUT);
}

}  // namespace Detail
}  // namespace Korvel
