#include "IO/Detail/PipeCore.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>

#include "IO/Detail/Throw.h"
#include "IO/Exception.h"

// Logs `site`'s line in the pipe's own file; the value and the rest follow with <<.
#define PIPE_LOG(site, severity) KORVEL_LOG_AT((site).file, (site).line, severity) << (site).text

namespace Korvel {
namespace Detail {

namespace {

// The one transfer loop of both directions; `call` is read or write.
template <class Byte, class Call>
bool TransferInChunks(int descriptor, Byte* data, unsigned long long size, unsigned long long* count, Call call,
                      const PipeLog& log)
{
    unsigned long long total = 0;
    unsigned long long remaining = size;
    while (remaining != 0) {
        const unsigned long long chunk = std::min(remaining, PipeDescriptor::kChunkLimit);
        PIPE_LOG(log.attempt, INFO) << chunk << log.attempt.after;
        const ssize_t n = call(descriptor, data + total, chunk);
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

}  // namespace

PipeDescriptor::PipeDescriptor(const std::string& name, int flags, const PipeLog& log) : m_log(log)
{
    // For a FIFO, open() blocks until the peer opens the other end.
    int descriptor;
    while ((descriptor = open(name.c_str(), flags)) == -1 && errno == EINTR) {
        PIPE_LOG(log.openInterrupted, WARNING);
    }
    if (descriptor == -1) {
        const int error = errno;
        PIPE_LOG(log.openFailed, ERROR) << name << '\n';
        KORVEL_THROW_AT(Core::IOException() << DescriptionInfo(log.openThrown.text) << SystemErrorCodeInfo(error)
                                            << DetailsInfo(std::strerror(error)),
                        log.openThrown.file, log.openThrown.line, log.function);
    }
    m_descriptor.reset(descriptor);
    PIPE_LOG(log.opened, INFO) << name << log.opened.after << descriptor << '\n';
    // A write to a pipe whose reader has gone must fail with EPIPE, not end the process.
    signal(SIGPIPE, SIG_IGN);
}

PipeDescriptor::PipeDescriptor(ScopedDescriptor descriptor, const PipeLog& log)
    : m_descriptor(std::move(descriptor)), m_log(log)
{
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

bool PipeDescriptor::Read(unsigned char* buffer, unsigned long long size, unsigned long long* count) const
{
    return TransferInChunks(m_descriptor.get(), buffer, size, count, ::read, m_log);
}

bool PipeDescriptor::Write(const unsigned char* data, unsigned long long size, unsigned long long* count) const
{
    return TransferInChunks(m_descriptor.get(), data, size, count, ::write, m_log);
}

}  // namespace Detail
}  // namespace Korvel
