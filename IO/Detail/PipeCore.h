#pragma once
// Internal: what the pipe input and output hand to the descriptor they share
// (KorvelIO/PipeDescriptor.h): the texts of their log lines, written in their own source
// files so that every line names the pipe, and the adoption of a handle.
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

// Runs `make` (which allocates a pipe over `handle`); if it throws, closes the handle's
// descriptor, which was handed over with the call, and rethrows.
template <class Make>
auto AdoptHandle(void* handle, Make make) -> decltype(make())
{
    try {
        return make();
    } catch (...) {
        if (handle)
            close(Core::DescriptorFromPipeHandle(handle));
        throw;
    }
}

}  // namespace Detail
}  // namespace Korvel
