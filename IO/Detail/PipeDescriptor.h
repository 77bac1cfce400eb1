#pragma once
// Internal: descriptor steps the pipe input and output share.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "IO/Detail/Log.h"
#include "IO/KorvelIO/PipeHandle.h"

namespace Korvel {
namespace Detail {

// open() that retries, with a WARNING, when a signal interrupts it; for a FIFO it blocks
// until the peer opens the other end. -1 with errno set on any other failure.
inline int OpenRetryingInterrupts(const std::string& name, int flags)
{
    for (;;) {
        const int descriptor = open(name.c_str(), flags);
        if (descriptor != -1 || errno != EINTR)
            return descriptor;
        KORVEL_LOG(WARNING) << "The open syscall has been interrupted by a signal";
    }
}

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
