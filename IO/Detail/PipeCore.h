#pragma once
// Internal: the pipe core that DataInputPipe and DataOutputPipe share: the descriptor a pipe
// owns, with the open, the chunked transfer loop, the waits of a cancellable pipe and the
// logged close. Each direction hands over the texts and source lines of its own log lines,
// written in its own source file, so that every line names the pipe.
#include <atomic>
#include <chrono>
#include <memory>
#include <string>

#include "IO/Detail/Log.h"
#include "IO/Detail/ScopedDescriptor.h"
#include "IO/Detail/TransferStop.h"
#include "IO/Detail/WakeEvent.h"

namespace Korvel {
namespace Detail {

// One direction's log lines, in the order they can happen. A value goes between `text` and
// `after`; the severities are fixed by PipeDescriptor.
struct PipeLog {
    const char* function;       // the function open failures are reported as thrown from
    LogSite openInterrupted;    // WARNING, then the open is retried
    LogSite openFailed;         // ERROR, + name
    LogSite openThrown;         // where the IOException is thrown from; `text` is its description
    LogSite opened;             // INFO, name and descriptor as values
    LogSite attempt;            // INFO, chunk size as value
    LogSite failed;             // ERROR, errno as value, then strerror
    LogSite interrupted;        // INFO, then the same chunk is asked again
    LogSite failedReason;       // ERROR, + strerror, after a failure other than EINTR; may be absent
    LogSite endOfFile;          // WARNING when a transfer moves 0 bytes; absent: 0 bytes is a step
    LogSite moved;              // INFO, bytes moved + text
    LogSite closing;            // INFO
    LogSite closeFailed;        // WARNING
    LogSite cancelled;          // WARNING, pipe name as value; once per pipe
    LogSite waitLimit;          // WARNING, pipe name as value
    const char* openCancelled;  // descriptions of an open given up
    const char* openTimedOut;
};

// The most bytes one read() or write() may be asked to move.
constexpr unsigned long long kMaxTransferSize = 1024 * 1024;
// The longest wait limit: about 100 years, so a deadline on the steady clock cannot overflow.
constexpr std::chrono::milliseconds kMaxWaitLimit = std::chrono::hours(24 * 366 * 100);

// What a pipe does, made from the public options (whose defaults are the plain pipe) by From.
struct PipeSettings {
    bool closeOnExec;
    bool cancellable;
    std::chrono::milliseconds waitLimit;
    std::chrono::milliseconds openLimit;  // what bounds an open by name: its own, else waitLimit
    unsigned long long transferSize;      // bytes one read() or write() is asked to move at most
    std::shared_ptr<WakeEvent> canceller;
    // The pipe of a Create without options: its open makes the process ignore SIGPIPE, as it
    // always has. Otherwise the pipe keeps SIGPIPE to itself (see PipeDescriptor::Write).
    bool plain;

    // Checks the public options (std::invalid_argument) and takes them over.
    template <class Options>
    static PipeSettings From(const Options& options)
    {
        Check(options.transferSize, options.waitLimit, options.openLimit);
        return {options.closeOnExec,
                options.cancellable || options.canceller,
                options.waitLimit,
                options.openLimit.count() > 0 ? options.openLimit : options.waitLimit,
                options.transferSize,
                options.canceller ? options.canceller->m_event : nullptr,
                false};
    }
    // The settings of the Create functions without options: the default options, plain.
    template <class Options>
    static PipeSettings Plain()
    {
        PipeSettings settings = From(Options());
        settings.plain = true;
        return settings;
    }
    static void Check(unsigned long long transferSize, std::chrono::milliseconds waitLimit,
                      std::chrono::milliseconds openLimit);
    // A pipe that waits in poll() rather than in the system call.
    bool Waits() const { return cancellable || waitLimit.count() > 0; }
};

class PipeDescriptor {
public:
    // Opens `name` with `flags`, retrying interrupted opens; on success a plain pipe makes the
    // process ignore SIGPIPE. Throws IOException when the open fails or is given up. `log`
    // must outlive the descriptor (and an open left behind on a helper thread: see the .cpp).
    PipeDescriptor(const std::string& name, int flags, const PipeLog& log, PipeSettings settings);
    // Owns an already-open `descriptor`; without one, every transfer fails and nothing is closed.
    PipeDescriptor(ScopedDescriptor descriptor, const PipeLog& log, PipeSettings settings);
    // Closes the descriptor, logging the close; first gives back the file status flags that
    // Configure changed (they belong to the open file, which duplicates share).
    ~PipeDescriptor();
    PipeDescriptor(const PipeDescriptor&) = delete;
    PipeDescriptor& operator=(const PipeDescriptor&) = delete;

    unsigned long long TransferSize() const { return m_settings.transferSize; }
    // From any thread; only a cancellable pipe is cancelled.
    void Cancel();

    // Move `size` bytes in read() / write() calls of at most TransferSize(), retrying
    // interrupted calls. True only when all moved; `count` (may be null) gets the bytes moved.
    bool Read(unsigned char* buffer, unsigned long long size, unsigned long long* count);
    bool Write(const unsigned char* data, unsigned long long size, unsigned long long* count);

private:
    template <class Byte, class Call>
    bool Transfer(Byte* data, unsigned long long size, unsigned long long* count, Call call, short events);
    // Waits until the descriptor is ready for `events`, the pipe is cancelled or the wait limit passes.
    PipeStop WaitFor(short events) const;
    bool Cancelled() const;
    // Logs the stop and records it for the calling thread (TransferStop.h).
    void Report(PipeStop stop, unsigned long long moved);
    // Applies the settings to the descriptor just opened or taken over.
    void Configure();

    ScopedDescriptor m_descriptor;
    const PipeLog& m_log;
    PipeSettings m_settings;
    std::unique_ptr<WakeEvent> m_cancel;  // the pipe's own Cancel; only when cancellable
    std::string m_name;                   // for the WARNING lines: the FIFO, or "descriptor N"
    std::atomic<bool> m_cancelReported{false};
    int m_originalFlags = -1;  // the flags to restore before the close, when Configure changed them
};

}  // namespace Detail
}  // namespace Korvel
