#pragma once
// Internal: what the pipe input and output hand to the descriptor they share
// (KorvelIO/PipeDescriptor.h): the texts of their log lines, written in their own source
// files so that every line names the pipe; and the pipe handles that the handle-taking
// pipes and the standard-stream adapters own.
#include <fcntl.h>
#include <unistd.h>

#include "IO/Detail/Log.h"
#include "IO/KorvelIO/PipeHandle.h"

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

// Closes the descriptor in `handle`, if it has one.
inline void CloseHandle(void* handle)
{
    if (handle)
        close(Core::DescriptorFromPipeHandle(handle));
}

// Runs `make` (which allocates a pipe over `handle`); if it throws, closes the handle's
// descriptor, which was handed over with the call, and rethrows.
template <class Make>
auto AdoptHandle(void* handle, Make make) -> decltype(make())
{
    try {
        return make();
    } catch (...) {
        CloseHandle(handle);
        throw;
    }
}

// A standard-stream adapter's own duplicate (close-on-exec) of descriptor 0 or 1, so that
// closing it never closes the process's; null when that descriptor is closed.
inline void* DuplicateStandardDescriptor(int descriptor)
{
    return Core::PipeHandleFromDescriptor(fcntl(descriptor, F_DUPFD_CLOEXEC, 0));
}

}  // namespace Detail
}  // namespace Korvel
