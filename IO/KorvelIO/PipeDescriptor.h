#pragma once
// PipeDescriptor: the descriptor that a DataInputPipe or DataOutputPipe owns, with the open,
// the chunked transfer loop and the close that both directions share. An implementation
// detail of those two classes (not exported); it is in a public header only because they
// hold it by value. Each direction passes the texts and source lines of its own log lines.
#include <string>

namespace Korvel {
namespace Detail {
struct PipeLog;
}

namespace Core {

class PipeDescriptor {
public:
    // Bytes one read() or write() is asked to move at most.
    static constexpr unsigned long long kChunkLimit = 1024;

    // Opens `name` with `flags`, retrying interrupted opens; on success the process ignores
    // SIGPIPE. Throws IOException when the open fails. `log` must outlive the descriptor.
    PipeDescriptor(const std::string& name, int flags, const Detail::PipeLog& log);
    // Owns the descriptor in `handle` (PipeHandle.h); a null handle gives none.
    PipeDescriptor(void* handle, const Detail::PipeLog& log);
    // Closes an owned descriptor.
    ~PipeDescriptor();
    PipeDescriptor(const PipeDescriptor&) = delete;
    PipeDescriptor& operator=(const PipeDescriptor&) = delete;

    // Move `size` bytes in read() / write() calls of at most kChunkLimit, retrying
    // interrupted calls. True only when all moved; `count` (may be null) gets the bytes moved.
    bool Read(unsigned char* buffer, unsigned long long size, unsigned long long* count) const;
    bool Write(const unsigned char* data, unsigned long long size, unsigned long long* count) const;

private:
    int m_descriptor;
    const Detail::PipeLog& m_log;
};

}  // namespace Core
}  // namespace Korvel
