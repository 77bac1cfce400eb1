#pragma once
/// \file
/// DataInputPipe: the reading end of a named pipe (FIFO) that the caller has already made;
/// the library never creates or removes one. Read goes through a read protocol that the
/// pipe owns; ReadRaw moves bytes with read() calls of at most 1024 bytes (or the transfer
/// size of PipeOptions), retrying interrupted calls and logging every system call at INFO.
///
/// Created by a Create function (count 1), destroyed by its last Release, which closes the
/// descriptor. No lock. Creating by name blocks in open() until a peer opens the FIFO for
/// writing: a peer that never opens blocks the open, and the Create, forever, unless
/// PipeOptions bound or cancel the wait. A successful open without PipeOptions makes the whole
/// process ignore SIGPIPE. Open failures throw IOException (DescriptionInfo, SystemErrorCodeInfo,
/// DetailsInfo); nothing else throws: transfer failures are logged and reported through
/// false and counts.
///
/// The handle-taking Create opens nothing. Its handle is an already-open descriptor in the
/// encoding of PipeHandle.h, and the pipe owns it from the call on (closing it on
/// destruction, or at once when the Create fails). A null handle gives a pipe with no
/// descriptor: every raw read fails and nothing is closed.
#include "ZephExport/Export.h"
#include <memory>
#include <string>

#include <boost/intrusive_ptr.hpp>

#include "IO/IByteDataInputEx.h"
#include "IO/IByteDataInputProtocol.h"
#include "IO/KorvelIO/PipeOptions.h"
#include "ZephPointer/RefCountImpl.h"

namespace Korvel {
namespace Detail {
class PipeDescriptor;
}

namespace Core {

/// The reading end of a FIFO (see DataInputPipe.h).
class ZEPH_API DataInputPipe : public virtual IByteDataInputEx {
public:
    /// Opens `name` with the Default protocol. `flag` has no effect.
    static boost::intrusive_ptr<IByteDataInputEx> Create(const std::string& name, bool flag);
    /// Opens `name` and binds and installs `protocol` (must not be empty). `flag` has no effect.
    static boost::intrusive_ptr<IByteDataInputEx> Create(const std::string& name,
                                                         std::unique_ptr<IByteDataInputProtocol> protocol, bool flag);
    /// Takes ownership of the descriptor in `handle` (see above); binds and installs
    /// `protocol` (must not be empty).
    static boost::intrusive_ptr<IByteDataInputEx> Create(void* handle,
                                                         std::unique_ptr<IByteDataInputProtocol> protocol);
    ///@{
    /// The same three with `options` (see PipeOptions.h); the ones without are these with
    /// default options, but for SIGPIPE. Invalid options throw std::invalid_argument.
    static boost::intrusive_ptr<IByteDataInputEx> Create(const std::string& name, const PipeOptions& options);
    static boost::intrusive_ptr<IByteDataInputEx> Create(const std::string& name,
                                                         std::unique_ptr<IByteDataInputProtocol> protocol,
                                                         const PipeOptions& options);
    static boost::intrusive_ptr<IByteDataInputEx> Create(void* handle, std::unique_ptr<IByteDataInputProtocol> protocol,
                                                         const PipeOptions& options);
    ///@}

    /// Replaces the protocol (possibly by none) without binding it: bind it yourself with
    /// SetByteDataInput.
    void SetProtocol(std::unique_ptr<IByteDataInputProtocol> protocol);

    /// The protocol's Read; without a protocol logs an ERROR and returns 0.
    unsigned long long Read(unsigned char* buffer, unsigned long long size) override;
    /// Without PipeOptions::cancellable, does nothing: a read blocked on another thread stays
    /// blocked. With it, ends such a read and every later one (see PipeOptions.h).
    void Cancel() override;
    /// True only with all `size` bytes read; `readCount` (may be null) gets the bytes placed
    /// in the buffer either way. End of file and errors stop it with false.
    bool ReadRaw(unsigned char* buffer, unsigned long long size, unsigned long long* readCount) override;
    /// 1024, or PipeOptions::transferSize.
    unsigned long long GetMaxReadSizeAtTime() override;

    int AddRef() const override;
    int GetRefCount() const override;
    int Release() const override;

private:
    explicit DataInputPipe(std::unique_ptr<Detail::PipeDescriptor> descriptor);
    ~DataInputPipe() override;

    // Wraps `descriptor` in a pipe, binds and installs `protocol`.
    static boost::intrusive_ptr<IByteDataInputEx> Make(std::unique_ptr<Detail::PipeDescriptor> descriptor,
                                                       std::unique_ptr<IByteDataInputProtocol> protocol);

    RefCountImpl m_refCount;
    std::unique_ptr<IByteDataInputProtocol> m_protocol;
    std::unique_ptr<Detail::PipeDescriptor> m_descriptor;
};

}  // namespace Core
}  // namespace Korvel
