#pragma once
/// \file
/// DataInputOutputPipe: one byte input and one byte output joined into a duplex stream.
/// Read and Cancel go to the input side, Write to the output side; the duplex pipe itself
/// opens, owns and closes nothing but its references to the two sides.
///
/// Created by a Create function (count 1), destroyed by its last Release, which drops the
/// output side and then the input side. No lock.
///
/// Its pipe handle is null: the pipe name and flag given to Create are not used, so the two
/// sides the name-taking Create functions build (handle-based DataInputPipe and DataOutputPipe) have no descriptor,
/// never touch one that belongs to someone else, and fail every transfer (logged, 0 bytes).
/// Install working sides with SetInputPipe and SetOutputPipe, or build the duplex over two
/// descriptors with the handle-taking Create.
#include "ZephExport/Export.h"
#include <memory>
#include <string>

#include <boost/intrusive_ptr.hpp>

#include "IO/IByteDataInputOutput.h"
#include "IO/IByteDataInputProtocol.h"
#include "IO/IByteDataOutputProtocol.h"
#include "IO/KorvelIO/PipeOptions.h"
#include "ZephPointer/RefCountImpl.h"

namespace Korvel {
namespace Core {

/// A byte input and a byte output joined into one duplex stream (see DataInputOutputPipe.h).
class ZEPH_API DataInputOutputPipe : public virtual IByteDataInputOutput {
public:
    /// Builds both sides over the pipe handle with the given protocols (neither may be empty)
    /// and writes the bytes one transfer should carry (1024) to `transferSize`; on a throw
    /// `transferSize` is left as it was.
    static boost::intrusive_ptr<IByteDataInputOutput> Create(const std::string& name,
                                                             std::unique_ptr<IByteDataInputProtocol> inputProtocol,
                                                             std::unique_ptr<IByteDataOutputProtocol> outputProtocol,
                                                             bool flag, unsigned long& transferSize);
    /// The same with the Raw protocols.
    static boost::intrusive_ptr<IByteDataInputOutput> Create(const std::string& name, bool flag,
                                                             unsigned long& transferSize);
    /// A duplex over two already-open descriptors in the encoding of PipeHandle.h (a child's
    /// stdout and stdin pipes, say), which it owns from the call on, closing both also when
    /// Create throws. The sides are a DataInputPipe and a DataOutputPipe with `options` and the
    /// Default protocols, so each Read and Write moves the whole count or reports 0, as a
    /// CommunicationChannel expects. Writes options.transferSize to `transferSize`. Cancel
    /// reaches the input side only; options.canceller reaches both. The pipe handle stays null.
    static boost::intrusive_ptr<IByteDataInputOutput> Create(void* inputHandle, void* outputHandle,
                                                             const PipeOptions& options, unsigned long& transferSize);

    /// Null (see above): the value both sides were created with.
    void* GetPipeHandle();
    ///@{
    /// Replace a side (null removes it). Not while another thread reads or writes here.
    void SetInputPipe(boost::intrusive_ptr<IByteDataInput> input);
    void SetOutputPipe(boost::intrusive_ptr<IByteDataOutput> output);
    ///@}

    /// The input side's Read; without one logs an ERROR and returns 0.
    unsigned long long Read(unsigned char* buffer, unsigned long long size) override;
    /// The output side's Write; without one logs an ERROR and returns 0.
    unsigned long long Write(const unsigned char* data, unsigned long long size) override;
    /// Cancels the input side, through either face; the output side is left alone.
    void Cancel() override;

    int AddRef() const override;
    int GetRefCount() const override;
    int Release() const override;

private:
    DataInputOutputPipe(const std::string& name, bool flag);
    ~DataInputOutputPipe() override;

    RefCountImpl m_refCount;
    boost::intrusive_ptr<IByteDataInput> m_input;
    boost::intrusive_ptr<IByteDataOutput> m_output;
    void* m_pipeHandle;
};

}  // namespace Core
}  // namespace Korvel
