#include "support/FdStreams.h"

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include "IO/Detail/RefCounting.h"

namespace ZephTest {

OsPipe::OsPipe()
{
    if (pipe2(m_fds, O_CLOEXEC) != 0)
        throw std::runtime_error(std::string("pipe2: ") + std::strerror(errno));
}

OsPipe::~OsPipe()
{
    CloseRead();
    CloseWrite();
}

void OsPipe::WriteAll(const void* data, size_t size)
{
    const char* p = static_cast<const char*>(data);
    while (size != 0) {
        const ssize_t n = write(m_fds[1], p, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            throw std::runtime_error(std::string("write: ") + std::strerror(errno));
        p += n;
        size -= static_cast<size_t>(n);
    }
}

std::vector<unsigned char> OsPipe::ReadUpTo(size_t size, int timeoutMs)
{
    std::vector<unsigned char> out;
    while (out.size() < size) {
        pollfd p{m_fds[0], POLLIN, 0};
        const int r = poll(&p, 1, timeoutMs);
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0)
            break;
        unsigned char buf[4096];
        const size_t want = size - out.size() < sizeof buf ? size - out.size() : sizeof buf;
        const ssize_t n = read(m_fds[0], buf, want);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        out.insert(out.end(), buf, buf + n);
    }
    return out;
}

void OsPipe::CloseRead()
{
    if (m_fds[0] >= 0)
        close(m_fds[0]);
    m_fds[0] = -1;
}

void OsPipe::CloseWrite()
{
    if (m_fds[1] >= 0)
        close(m_fds[1]);
    m_fds[1] = -1;
}

boost::intrusive_ptr<FdInput> FdInput::Create(int fd)
{
    return boost::intrusive_ptr<FdInput>(new FdInput(fd));
}

FdInput::FdInput(int fd) : m_fd(fd) {}

FdInput::~FdInput() = default;

unsigned long long FdInput::Read(unsigned char* buffer, unsigned long long size)
{
    unsigned long long got = 0;
    while (got < size) {
        pollfd p[2] = {{m_fd, POLLIN, 0}, {m_cancel.ReadFd(), POLLIN, 0}};
        const int r = poll(p, 2, -1);
        if (r < 0 && errno == EINTR)
            continue;
        if (r < 0 || p[1].revents != 0)
            break;
        const ssize_t n = read(m_fd, buffer + got, size - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        got += static_cast<unsigned long long>(n);
    }
    return got;
}

void FdInput::Cancel()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        ++m_cancelCount;
    }
    const char byte = 0;
    m_cancel.WriteAll(&byte, 1);
}

int FdInput::CancelCount() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_cancelCount;
}

KORVEL_DEFINE_REFCOUNT(FdInput, m_refCount)

boost::intrusive_ptr<FdOutput> FdOutput::Create(int fd)
{
    return boost::intrusive_ptr<FdOutput>(new FdOutput(fd));
}

FdOutput::FdOutput(int fd) : m_fd(fd) {}

unsigned long long FdOutput::Write(const unsigned char* data, unsigned long long size)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_writeSizes.push_back(size);
    }
    unsigned long long done = 0;
    while (done < size) {
        const ssize_t n = write(m_fd, data + done, size - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += static_cast<unsigned long long>(n);
    }
    return done;
}

std::vector<unsigned long long> FdOutput::WriteSizes() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_writeSizes;
}

KORVEL_DEFINE_REFCOUNT(FdOutput, m_refCount)

std::vector<unsigned char> Frame(const std::vector<unsigned char>& payload)
{
    const unsigned long long length = payload.size();
    std::vector<unsigned char> out(sizeof length + payload.size());
    std::memcpy(out.data(), &length, sizeof length);
    if (!payload.empty())
        std::memcpy(out.data() + sizeof length, payload.data(), payload.size());
    return out;
}

std::vector<unsigned char> Frame(const std::string& payload)
{
    return Frame(std::vector<unsigned char>(payload.begin(), payload.end()));
}

}  // namespace ZephTest
