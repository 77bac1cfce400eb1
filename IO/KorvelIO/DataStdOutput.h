#pragma once
/// \file
/// DataStdOutput: the process's standard output as an IByteDataOutput. Each Write is one
/// raw write through a ByteDataOutputRawProtocol (write() calls of at most 1024 bytes, or
/// PipeOptions::transferSize) and returns the bytes really written. It writes the descriptor
/// directly, bypassing stdio: flush std::cout / stdout first when mixing the two.
///
/// Created by Create (count 1), destroyed by its last Release. No lock. The adapter works on
/// its own duplicate of descriptor 1 (close-on-exec): its pipe handle carries that duplicate
/// in the encoding of PipeHandle.h, the output pipe owns and closes it, and destroying the
/// adapter never closes the process's descriptor 1. Create returns null when descriptor 1
/// cannot be duplicated (standard output closed).
#include "ZephExport/Export.h"
#include <boost/intrusive_ptr.hpp>

#include "IO/IByteDataOutput.h"
#include "IO/KorvelIO/PipeOptions.h"
#include "ZephPointer/RefCountImpl.h"

namespace Korvel {
namespace Core {

/// The standard output as a byte output (see DataStdOutput.h).
class ZEPH_API DataStdOutput : public virtual IByteDataOutput {
public:
    /// Writes the bytes one transfer should carry (1024) to `transferSize`, or leaves it
    /// untouched when returning null or throwing.
    static boost::intrusive_ptr<IByteDataOutput> Create(unsigned long& transferSize);
    /// The same with `options` (see PipeOptions.h) for the output pipe: `transferSize` gets
    /// options.transferSize, and with options.cancellable (or a canceller) the adapter's Cancel
    /// reaches the pipe. Invalid options throw std::invalid_argument.
    static boost::intrusive_ptr<IByteDataOutput> Create(unsigned long& transferSize, const PipeOptions& options);

    /// The handle Create tested and handed to the output pipe.
    void* GetPipeHandle();
    /// Replaces the output pipe (null removes it). Not while another thread writes here.
    void SetOutputPipe(boost::intrusive_ptr<IByteDataOutput> output);

    /// The output pipe's Write; without one logs an ERROR and returns 0.
    unsigned long long Write(const unsigned char* data, unsigned long long size) override;

    /// Does nothing, unless the adapter was created with cancellable options: then the output
    /// pipe's Cancel.
    void Cancel() override;

    int AddRef() const override;
    int GetRefCount() const override;
    int Release() const override;

private:
    DataStdOutput();
    ~DataStdOutput() override;

    // Builds the adapter; without options, over the plain pipe.
    static boost::intrusive_ptr<IByteDataOutput> Make(unsigned long& transferSize, const PipeOptions* options);

    RefCountImpl m_refCount;
    boost::intrusive_ptr<IByteDataOutput> m_outputPipe;
    void* m_pipeHandle;
    bool m_forwardsCancel = false;
};

}  // namespace Core
}  // namespace Korvel
