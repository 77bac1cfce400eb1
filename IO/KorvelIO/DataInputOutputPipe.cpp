#include "IO/KorvelIO/DataInputOutputPipe.h"

#include <algorithm>

#include "IO/Detail/Log.h"
#include "IO/Detail/RefCounting.h"
#include "IO/KorvelIO/DataInputPipe.h"
#include "IO/KorvelIO/DataOutputPipe.h"
#include "IO/Detail/ScopedDescriptor.h"
#include "IO/KorvelIO/PipeHandle.h"
#include "IO/KorvelIO/Protocols/ByteDataInputDefaultProtocol.h"
#include "IO/KorvelIO/Protocols/ByteDataOutputDefaultProtocol.h"
#include "IO/KorvelIO/Protocols/ByteDataInputRawProtocol.h"
#include "IO/KorvelIO/Protocols/ByteDataOutputRawProtocol.h"

namespace Korvel {
namespace Core {

boost::intrusive_ptr<IByteDataInputOutput> DataInputOutputPipe::Create(
    const std::string& name, std::unique_ptr<IByteDataInputProtocol> inputProtocol,
    std::unique_ptr<IByteDataOutputProtocol> outputProtocol, bool flag, unsigned long& transferSize)
{
    boost::intrusive_ptr<DataInputOutputPipe> duplex(new DataInputOutputPipe(name, flag));
    boost::intrusive_ptr<IByteDataInputEx> input =
        DataInputPipe::Create(duplex->m_pipeHandle, std::move(inputProtocol));
    boost::intrusive_ptr<IByteDataOutputEx> output =
        DataOutputPipe::Create(duplex->m_pipeHandle, std::move(outputProtocol));
    transferSize = std::max(input->GetMaxReadSizeAtTime(), output->GetMaxWriteSizeAtTime());
    duplex->SetInputPipe(input);
    duplex->SetOutputPipe(output);
    return duplex;
}

boost::intrusive_ptr<IByteDataInputOutput> DataInputOutputPipe::Create(const std::string& name, bool flag,
                                                                       unsigned long& transferSize)
{
    std::unique_ptr<IByteDataInputProtocol> inputProtocol(new ByteDataInputRawProtocol);
    std::unique_ptr<IByteDataOutputProtocol> outputProtocol(new ByteDataOutputRawProtocol);
    return Create(name, std::move(inputProtocol), std::move(outputProtocol), flag, transferSize);
}

boost::intrusive_ptr<IByteDataInputOutput> DataInputOutputPipe::Create(void* inputHandle, void* outputHandle,
                                                                       const PipeOptions& options,
                                                                       unsigned long& transferSize)
{
    // Both owned from here on: whatever throws below closes what no side has taken yet.
    Detail::ScopedDescriptor input(DescriptorFromPipeHandle(inputHandle));
    Detail::ScopedDescriptor output(DescriptorFromPipeHandle(outputHandle));
    boost::intrusive_ptr<DataInputOutputPipe> duplex(new DataInputOutputPipe(std::string(), false));
    std::unique_ptr<IByteDataInputProtocol> inputProtocol(new ByteDataInputDefaultProtocol);
    std::unique_ptr<IByteDataOutputProtocol> outputProtocol(new ByteDataOutputDefaultProtocol);
    duplex->SetInputPipe(
        DataInputPipe::Create(PipeHandleFromDescriptor(input.release()), std::move(inputProtocol), options));
    duplex->SetOutputPipe(
        DataOutputPipe::Create(PipeHandleFromDescriptor(output.release()), std::move(outputProtocol), options));
    transferSize = options.transferSize;
    return duplex;
}

DataInputOutputPipe::DataInputOutputPipe(const std::string& /*name*/, bool /*flag*/) : m_pipeHandle(nullptr) {}

DataInputOutputPipe::~DataInputOutputPipe()
{
    m_output.reset();
    m_input.reset();
}

void* DataInputOutputPipe::GetPipeHandle()
{
    return m_pipeHandle;
}

void DataInputOutputPipe::SetInputPipe(boost::intrusive_ptr<IByteDataInput> input)
{
    // The by-value argument already holds its reference, so re-installing a side is safe.
    m_input.swap(input);
}

void DataInputOutputPipe::SetOutputPipe(boost::intrusive_ptr<IByteDataOutput> output)
{
    m_output.swap(output);
}

unsigned long long DataInputOutputPipe::Read(unsigned char* buffer, unsigned long long size)
{
    if (!m_input) {
        KORVEL_LOG(ERROR) << "Implementation IByteDataInputEx not defined";
        return 0;
    }
    return m_input->Read(buffer, size);
}

unsigned long long DataInputOutputPipe::Write(const unsigned char* data, unsigned long long size)
{
    if (!m_output) {
        KORVEL_LOG(ERROR) << "Implementation IByteDataOutputEx not defined";
        return 0;
    }
    return m_output->Write(data, size);
}

void DataInputOutputPipe::Cancel()
{
    if (m_input)
        m_input->Cancel();
}

KORVEL_DEFINE_REFCOUNT(DataInputOutputPipe, m_refCount)

}  // namespace Core
}  // namespace Korvel
