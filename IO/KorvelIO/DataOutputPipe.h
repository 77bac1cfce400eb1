#pragma once
/// \file
/// DataOutputPipe: the writing end of a named pipe (FIFO) that the caller has already made;
/// the library never creates or removes one. Write goes through a write protocol that the
/// pipe owns; WriteRaw moves bytes with write() calls of at most 1024 bytes (or the transfer
/// size of PipeOptions), retrying interrupted calls and logging every system call at INFO.
/// The pipe keeps no buffer: every accepted byte is already in the system's pipe.
///
/// Created by a Create function (count 1), destroyed by its last Release, which closes the
/// descriptor (the reading peer then meets end of file). No lock. Creating by name blocks in
/// open() until a peer opens the FIFO for reading: a peer that never opens blocks the open,
/// and the Create, forever, unless PipeOptions bound or cancel the wait. A successful open
/// without PipeOptions makes the whole process ignore SIGPIPE, so writing after the reader has
/// gone fails with EPIPE; with PipeOptions the pipe gets EPIPE without it. Open failures throw IOException
/// (DescriptionInfo, SystemErrorCodeInfo, DetailsInfo); nothing else throws: transfer failures are logged and reported
/// through false and counts.
///
/// The handle-taking Create opens nothing. Its handle is an already-open descriptor in the
/// encoding of PipeHandle.h, and the pipe owns it from the call on (closing it on
/// destruction, or at once when the Create fails). A null handle gives a pipe with no
/// descriptor: every raw write fails and nothing is closed.
#include "ZephExport/Export.h"
#include <memory>
#include <string>

#include <boost/intrusive_ptr.hpp>

#include "IO/IByteDataOutputEx.h"
#include "IO/IByteDataOutputProtocol.h"
#include "IO/KorvelIO/PipeOptions.h"
#include "ZephPointer/RefCountImpl.h"

namespace Korvel {
namespace Detail {
class PipeDescriptor;
}

namespace Core {

/// The writing end of a FIFO (see DataOutputPipe.h).
class ZEPH_API DataOutputPipe : public virtual IByteDataOutputEx {
public:
    /// Opens `name` with the Default protocol. `flag` has no effect.
    static boost::intrusive_ptr<IByteDataOutputEx> Create(const std::string& name, bool flag);
    /// Opens `name` and binds and installs `protocol` (must not be empty). `flag` has no effect.
    static boost::intrusive_ptr<IByteDataOutputEx> Create(const std::string& name,
                                                          std::unique_ptr<IByteDataOutputProtocol> protocol, bool flag);
    /// Takes ownership of the descriptor in `handle` (see above); binds and installs
    /// `protocol` (must not be empty).
    static boost::intrusive_ptr<IByteDataOutputEx> Create(void* handle,
                                                          std::unique_ptr<IByteDataOutputProtocol> protocol);
    ///@{
    /// The same three with `options` (see PipeOptions.h); the ones without are these with
    /// default options, but for SIGPIPE. Invalid options throw std::invalid_argument.
    static boost::intrusive_ptr<IByteDataOutputEx> Create(const std::string& name, const PipeOptions& options);
    static boost::intrusive_ptr<IByteDataOutputEx> Create(const std::string& name,
                                                          std::unique_ptr<IByteDataOutputProtocol> protocol,
                                                          const PipeOptions& options);
    static boost::intrusive_ptr<IByteDataOutputEx> Create(void* handle,
                                                          std::unique_ptr<IByteDataOutputProtocol> protocol,
                                                          const PipeOptions& options);
    ///@}

    /// Replaces the protocol (possibly by none) without binding it: bind it yourself with
    /// SetByteDataOutput.
    void SetProtocol(std::unique_ptr<IByteDataOutputProtocol> protocol);

    /// The protocol's Write; without a protocol logs an ERROR and returns 0.
    unsigned long long Write(const unsigned char* data, unsigned long long size) override;
    /// Without PipeOptions::cancellable, does nothing: a write blocked on another thread stays
    /// blocked. With it, ends such a write and every later one (see PipeOptions.h).
    void Cancel() override;
    /// True only with all `size` bytes taken; `writtenCount` (may be null) gets the bytes
    /// taken either way. An error (EPIPE when the reader has gone) stops it with false.
    bool WriteRaw(const unsigned char* data, unsigned long long size, unsigned long long* writtenCount) override;
    /// 1024, or PipeOptions::transferSize.
    unsigned long long GetMaxWriteSizeAtTime() override;

    int AddRef() const override;
    int GetRefCount() const override;
    int Release() const override;

private:
    explicit DataOutputPipe(std::unique_ptr<Detail::PipeDescriptor> descriptor);
    ~DataOutputPipe() override;

    // Wraps `descriptor` in a pipe, binds and installs `protocol`.
    static boost::intrusive_ptr<IByteDataOutputEx> Make(std::unique_ptr<Detail::PipeDescriptor> descriptor,
                                                        std::unique_ptr<IByteDataOutputProtocol> protocol);

    RefCountImpl m_refCount;
    std::unique_ptr<IByteDataOutputProtocol> m_protocol;
    std::unique_ptr<Detail::PipeDescriptor> m_descriptor;
};

}  // namespace Core
}  // namespace Korvel
