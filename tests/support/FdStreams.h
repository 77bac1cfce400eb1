#pragma once
// In-process byte streams over OS pipes (pipe(2)), for testing code that works on any
// IByteDataInput / IByteDataOutput (the channel) without a second process.
#include <mutex>
#include <string>
#include <vector>

#include "IO/IByteDataInput.h"
#include "IO/IByteDataOutput.h"

namespace ZephTest {

// An OS pipe; both ends are closed on destruction unless closed earlier.
class OsPipe {
public:
    OsPipe();
    ~OsPipe();
    OsPipe(const OsPipe&) = delete;
    OsPipe& operator=(const OsPipe&) = delete;

    int ReadFd() const { return m_fds[0]; }
    int WriteFd() const { return m_fds[1]; }
    // Writes every byte (blocking while the pipe is full).
    void WriteAll(const void* data, size_t size);
    void WriteAll(const std::vector<unsigned char>& bytes) { WriteAll(bytes.data(), bytes.size()); }
    // Reads until `size` bytes, end of file or `timeoutMs` without data; returns what came.
    std::vector<unsigned char> ReadUpTo(size_t size, int timeoutMs);
    void CloseRead();
    void CloseWrite();

private:
    int m_fds[2];
};

// An input over a descriptor it does not own. Read waits until the whole size has arrived,
// end of file, or Cancel, and returns the bytes it got. Cancel is sticky: it unblocks the
// pending Read and makes every later Read return at once.
class FdInput : public virtual Korvel::Core::IByteDataInput {
public:
    static boost::intrusive_ptr<FdInput> Create(int fd);

    unsigned long long Read(unsigned char* buffer, unsigned long long size) override;
    void Cancel() override;
    int CancelCount() const;

    int AddRef() const override;
    int GetRefCount() const override;
    int Release() const override;

private:
    explicit FdInput(int fd);
    ~FdInput() override;

    Korvel::RefCountImpl m_refCount;
    int m_fd;
    OsPipe m_cancel;
    mutable std::mutex m_mutex;
    int m_cancelCount = 0;
};

// An output over a descriptor it does not own that records the size of every Write call.
class FdOutput : public virtual Korvel::Core::IByteDataOutput {
public:
    static boost::intrusive_ptr<FdOutput> Create(int fd);

    unsigned long long Write(const unsigned char* data, unsigned long long size) override;
    std::vector<unsigned long long> WriteSizes() const;

    int AddRef() const override;
    int GetRefCount() const override;
    int Release() const override;

private:
    explicit FdOutput(int fd);

    Korvel::RefCountImpl m_refCount;
    int m_fd;
    mutable std::mutex m_mutex;
    std::vector<unsigned long long> m_writeSizes;
};

// The bytes of one channel frame: the 8-byte length in this machine's order, then `payload`.
std::vector<unsigned char> Frame(const std::vector<unsigned char>& payload);
std::vector<unsigned char> Frame(const std::string& payload);

}  // namespace ZephTest
