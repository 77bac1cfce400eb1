#pragma once
// Internal: the pipe core that DataInputPipe and DataOutputPipe share: the descriptor a pipe
// owns, with the open, the chunked transfer loop and the logged close. Each direction hands
// over the texts and source lines of its own log lines, written in its own source file, so
// that every line names the pipe.
#include <string>

#include "IO/Detail/Log.h"
#include "IO/Detail/ScopedDescriptor.h"

namespace Korvel {
namespace Detail {

// One direction's log lines, in the order they can happen. A value goes between `text` and
// `after`; the severities are fixed by PipeDescriptor.
struct PipeLog {
    const char* function;     // the function open failures are reported as thrown from
    LogSite openInterrupted;  // WARNING, then the open is retried
    LogSite openFailed;       // ERROR, + name
    LogSite openThrown;       // where the IOException is thrown from; `text` is its description
    LogSite opened;           // INFO, name and descriptor as values
    LogSite attempt;          // INFO, chunk size as value
    LogSite failed;           // ERROR, errno as value, then strerror
    LogSite interrupted;      // INFO, then the same chunk is asked again
    LogSite failedReason;     // ERROR, + strerror, after a failure other than EINTR; may be absent
    LogSite endOfFile;        // WARNING when a transfer moves 0 bytes; absent: 0 bytes is a step
    LogSite moved;            // INFO, bytes moved + text
    LogSite closing;          // INFO
    LogSite closeFailed;      // WARNING
};

class PipeDescriptor {
public:
    // Bytes one read() or write() is asked to move at most.
    static constexpr unsigned long long kChunkLimit = 1024;

    // Opens `name` with `flags`, retrying interrupted opens; on success the process ignores
    // SIGPIPE. Throws IOException when the open fails. `log` must outlive the descriptor.
    PipeDescriptor(const std::string& name, int flags, const PipeLog& log);
    // Owns an already-open `descriptor`; without one, every transfer fails and nothing is closed.
    PipeDescriptor(ScopedDescriptor descriptor, const PipeLog& log);
    // Closes the descriptor, logging the close.
    ~PipeDescriptor();
    PipeDescriptor(const PipeDescriptor&) = delete;
    PipeDescriptor& operator=(const PipeDescriptor&) = delete;

    // Move `size` bytes in read() / write() calls of at most kChunkLimit, retrying
    // interrupted calls. True only when all moved; `count` (may be null) gets the bytes moved.
    bool Read(unsigned char* buffer, unsigned long long size, unsigned long long* count) const;
    bool Write(const unsigned char* data, unsigned long long size, unsigned long long* count) const;

private:
    ScopedDescriptor m_descriptor;
    const PipeLog& m_log;
};

}  // namespace Detail
}  // namespace Korvel
