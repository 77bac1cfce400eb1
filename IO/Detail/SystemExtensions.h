#pragma once
// Internal: the one place where the library uses what a system offers beyond POSIX. Each
// extension is chosen when the library is built (SystemExtensions.cpp) and has a plain POSIX
// fallback that behaves the same; the CMake option ZEPH_POSIX_ONLY builds every fallback.
#include <string>

#include "IO/Detail/ScopedDescriptor.h"

namespace Korvel {
namespace Detail {

// A descriptor that poll() sees readable from Set until Reset: an eventfd where there is one,
// else a pipe whose read end is the descriptor. Every end is non-blocking and close-on-exec.
// Set never blocks, however often it is called; Reset takes all that Set put in, so the
// descriptor is not readable afterwards unless Set is called again.
class EventDescriptor {
public:
    // Opens the descriptor. When the system has none to give, Descriptor() is -1 and
    // OpenError() the errno of the failure: the owner throws as it sees fit.
    EventDescriptor() noexcept;
    EventDescriptor(const EventDescriptor&) = delete;
    EventDescriptor& operator=(const EventDescriptor&) = delete;

    int Descriptor() const noexcept { return m_read.get(); }
    int OpenError() const noexcept { return m_openError; }
    void Set() noexcept;
    void Reset() noexcept;

private:
    ScopedDescriptor m_read;
    ScopedDescriptor m_write;  // the pipe's write end; none for an eventfd, which is both
    int m_openError = 0;
};

// Asks for a pipe buffer of at least `bytes` where the system has a way to ask; true when the
// pipe has one that large now. Elsewhere, or when refused, the pipe keeps the buffer it has,
// which only costs speed.
bool GrowPipeBuffer(int descriptor, unsigned long long bytes) noexcept;

// A path to the file that `name` names now, which keeps reaching it while `anchor` (set here)
// stays open, even after the name is removed or no longer resolves (a relative name after a
// chdir): where the system can reopen a descriptor by path. Elsewhere `name` itself, and
// `anchor` stays empty.
std::string AnchoredPath(const std::string& name, ScopedDescriptor& anchor);

// The environment variable `name`, or null; null too while the process runs with privileges
// it was not started with (set-user-ID or set-group-ID), whose environment is not to be trusted.
const char* TrustedEnvironment(const char* name) noexcept;

}  // namespace Detail
}  // namespace Korvel
