#pragma once
/// \file
/// DataStdInput: the process's standard input as an IByteDataInput. Each Read is one raw
/// read through a ByteDataInputRawProtocol (read() calls of at most 1024 bytes, or PipeOptions::transferSize) and
/// returns the bytes really read; 0 at end of input. It reads the descriptor directly, bypassing any stdio buffering of
/// stdin.
///
/// Created by Create (count 1), destroyed by its last Release. No lock. The adapter works on
/// its own duplicate of descriptor 0 (close-on-exec): its pipe handle carries that duplicate
/// in the encoding of PipeHandle.h, the input pipe owns and closes it, and destroying the
/// adapter never closes the process's descriptor 0. Create returns null when descriptor 0
/// cannot be duplicated (standard input closed).
#include "ZephExport/Export.h"
#include <boost/intrusive_ptr.hpp>

#include "IO/IByteDataInput.h"
#include "IO/KorvelIO/PipeOptions.h"
#include "ZephPointer/RefCountImpl.h"

namespace Korvel {
namespace Core {

/// The standard input as a byte input (see DataStdInput.h).
class ZEPH_API DataStdInput : public virtual IByteDataInput {
public:
    /// Writes the bytes one transfer should carry (1024) to `transferSize`, or leaves it
    /// untouched when returning null or throwing.
    static boost::intrusive_ptr<IByteDataInput> Create(unsigned long& transferSize);
    /// The same with `options` (see PipeOptions.h) for the input pipe: `transferSize` gets
    /// options.transferSize, and with options.cancellable (or a canceller) the adapter's Cancel
    /// reaches the pipe. Invalid options throw std::invalid_argument.
    static boost::intrusive_ptr<IByteDataInput> Create(unsigned long& transferSize, const PipeOptions& options);

    /// The handle Create tested and handed to the input pipe.
    void* GetPipeHandle();
    /// Replaces the input pipe (null removes it). Not while another thread reads here.
    void SetInputPipe(boost::intrusive_ptr<IByteDataInput> input);

    /// The input pipe's Read; without one logs an ERROR and returns 0.
    unsigned long long Read(unsigned char* buffer, unsigned long long size) override;

    /// Does nothing, unless the adapter was created with cancellable options: then the input
    /// pipe's Cancel.
    void Cancel() override;

    int AddRef() const override;
    int GetRefCount() const override;
    int Release() const override;

private:
    DataStdInput();
    ~DataStdInput() override;

    // Builds the adapter; without options, over the plain pipe.
    static boost::intrusive_ptr<IByteDataInput> Make(unsigned long& transferSize, const PipeOptions* options);

    RefCountImpl m_refCount;
    boost::intrusive_ptr<IByteDataInput> m_inputPipe;
    void* m_pipeHandle;
    bool m_forwardsCancel = false;
};

}  // namespace Core
}  // namespace Korvel
