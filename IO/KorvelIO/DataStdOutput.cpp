#include "IO/KorvelIO/DataStdOutput.h"

#include <unistd.h>

#include <memory>

#include "IO/Detail/Log.h"
#include "IO/Detail/PipeCore.h"
#include "IO/Detail/RefCounting.h"
#include "IO/KorvelIO/DataOutputPipe.h"
#include "IO/KorvelIO/Protocols/ByteDataOutputRawProtocol.h"

namespace Korvel {
namespace Core {

boost::intrusive_ptr<IByteDataOutput> DataStdOutput::Create(unsigned long& transferSize)
{
    boost::intrusive_ptr<DataStdOutput> adapter(new DataStdOutput);
    std::unique_ptr<IByteDataOutputProtocol> protocol(new ByteDataOutputRawProtocol);
    if (!adapter->m_pipeHandle)
        return nullptr;
    adapter->m_ownsHandle = false;  // the pipe owns it from the call on, even if Create throws
    boost::intrusive_ptr<IByteDataOutputEx> pipe = DataOutputPipe::Create(adapter->m_pipeHandle, std::move(protocol));
    transferSize = pipe->GetMaxWriteSizeAtTime();
    adapter->SetOutputPipe(pipe);
    return adapter;
}

DataStdOutput::DataStdOutput() : m_pipeHandle(Detail::DuplicateStandardDescriptor(STDOUT_FILENO)), m_ownsHandle(true) {}

DataStdOutput::~DataStdOutput()
{
    m_outputPipe.reset();
    if (m_ownsHandle)
        Detail::CloseHandle(m_pipeHandle);
}

void* DataStdOutput::GetPipeHandle()
{
    return m_pipeHandle;
}

void DataStdOutput::SetOutputPipe(boost::intrusive_ptr<IByteDataOutput> output)
{
    m_outputPipe.swap(output);
}

unsigned long long DataStdOutput::Write(const unsigned char* data, unsigned long long size)
{
    if (!m_outputPipe) {
        KORVEL_LOG(ERROR) << "Implementation IByteDataOutputEx not defined";
        return 0;
    }
    return m_outputPipe->Write(data, size);
}

KORVEL_DEFINE_REFCOUNT(DataStdOutput, m_refCount)

}  // namespace Core
}  // namespace Korvel
