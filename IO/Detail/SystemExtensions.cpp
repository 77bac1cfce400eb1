#include "IO/Detail/SystemExtensions.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>

// The build defines ZEPHIO_HAVE_<extension> for each extension it found and may use.
#ifdef ZEPHIO_HAVE_EVENTFD
#include <sys/eventfd.h>
#endif

namespace Korvel {
namespace Detail {

#ifndef ZEPHIO_HAVE_EVENTFD
namespace {

// Both ends of a pipe non-blocking and close-on-exec. Without pipe2 on every system, a fork
// and exec on another thread between pipe() and here can still inherit them.
bool MakeEventEnd(int descriptor)
{
    const int flags = fcntl(descriptor, F_GETFL);
    return flags >= 0 && fcntl(descriptor, F_SETFL, flags | O_NONBLOCK) == 0 &&
           fcntl(descriptor, F_SETFD, FD_CLOEXEC) == 0;
}

}  // namespace
#endif

EventDescriptor::EventDescriptor() noexcept
{
#ifdef ZEPHIO_HAVE_EVENTFD
    m_read.reset(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC));
    if (!m_read)
        m_openError = errno;
#else
    int ends[2];
    if (pipe(ends) != 0) {
        m_openError = errno;
        return;
    }
    m_read.reset(ends[0]);
    m_write.reset(ends[1]);
    if (!MakeEventEnd(ends[0]) || !MakeEventEnd(ends[1])) {
        m_openError = errno;
        m_read.reset();
        m_write.reset();
    }
#endif
}

// Eight bytes suit both: an eventfd adds them to its counter, which one write per Set never
// overflows; a pipe that has no room for them is full, hence readable already.
void EventDescriptor::Set() noexcept
{
    const std::uint64_t one = 1;
    const int target = m_write ? m_write.get() : m_read.get();
    while (write(target, &one, sizeof one) < 0 && errno == EINTR) {
    }
}

// An eventfd gives its whole counter in one read; a pipe is empty once a read comes back short.
void EventDescriptor::Reset() noexcept
{
    std::uint64_t taken[64];
    ssize_t n;
    while ((n = read(m_read.get(), taken, sizeof taken)) == static_cast<ssize_t>(sizeof taken) ||
           (n < 0 && errno == EINTR)) {
    }
}

bool GrowPipeBuffer(int descriptor, unsigned long long bytes) noexcept
{
#ifdef ZEPHIO_HAVE_PIPE_SIZE
    const int size = fcntl(descriptor, F_GETPIPE_SZ);
    if (size < 0 || bytes > INT_MAX)
        return false;
    return static_cast<unsigned long long>(size) >= bytes ||
           fcntl(descriptor, F_SETPIPE_SZ, static_cast<int>(bytes)) >= 0;
#else
    (void)descriptor;
    (void)bytes;
    return false;
#endif
}

std::string AnchoredPath(const std::string& name, ScopedDescriptor& anchor)
{
#ifdef ZEPHIO_HAVE_O_PATH
    anchor.reset(open(name.c_str(), O_PATH | O_CLOEXEC));
    const std::string viaDescriptor = "/proc/self/fd/" + std::to_string(anchor.get());
    if (anchor && access(viaDescriptor.c_str(), F_OK) == 0)
        return viaDescriptor;
    anchor.reset();
#else
    (void)anchor;
#endif
    return name;
}

const char* TrustedEnvironment(const char* name) noexcept
{
#ifdef ZEPHIO_HAVE_SECURE_GETENV
    return secure_getenv(name);
#else
    if (getuid() != geteuid() || getgid() != getegid())
        return nullptr;
    return std::getenv(name);
#endif
}

}  // namespace Detail
}  // namespace Korvel
