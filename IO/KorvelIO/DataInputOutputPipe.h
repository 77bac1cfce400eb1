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
/// sides Create builds (handle-based DataInputPipe and DataOutputPipe) have no descriptor,
/// never touch one that belongs to someone else, and fail every transfer (logged, 0 bytes).
/// Install working sides with SetInputPipe and SetOutputPipe.
#include "ZephExport/Export.h"
#include <memory>
#include <string>

#include <boost/intrusive_ptr.hpp>

#include "IO/IByteDataInputOutput.h"
#include "IO/IByteDataInputProtocol.h"
#include "IO/IByteDataOutputProtocol.h"
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
