#include "IO/KorvelIO/DataStdInput.h"

#include <unistd.h>

#include <memory>

#include "IO/Detail/Log.h"
#include "IO/Detail/PipeCore.h"
#include "IO/Detail/RefCounting.h"
#include "IO/KorvelIO/DataInputPipe.h"
#include "IO/KorvelIO/Protocols/ByteDataInputRawProtocol.h"

namespace Korvel {
namespace Core {

boost::intrusive_ptr<IByteDataInput> DataStdInput::Create(unsigned long& transferSize)
{
    boost::intrusive_ptr<DataStdInput> adapter(new DataStdInput);
    std::unique_ptr<IByteDataInputProtocol> protocol(new ByteDataInputRawProtocol);
    if (!adapter->m_pipeHandle)
        return nullptr;
    adapter->m_ownsHandle = false;  // the pipe owns it from the call on, even if Create throws
    boost::intrusive_ptr<IByteDataInputEx> pipe = DataInputPipe::Create(adapter->m_pipeHandle, std::move(protocol));
    transferSize = pipe->GetMaxReadSizeAtTime();
    adapter->SetInputPipe(pipe);
    return adapter;
}

DataStdInput::DataStdInput() : m_pipeHandle(Detail::DuplicateStandardDescriptor(STDIN_FILENO)), m_ownsHandle(true) {}

DataStdInput::~DataStdInput()
{
    m_inputPipe.reset();
    if (m_ownsHandle)
        Detail::CloseHandle(m_pipeHandle);
}

void* DataStdInput::GetPipeHandle()
{
    return m_pipeHandle;
}

void DataStdInput::SetInputPipe(boost::intrusive_ptr<IByteDataInput> input)
{
    m_inputPipe.swap(input);
}

unsigned long long DataStdInput::Read(unsigned char* buffer, unsigned long long size)
{
    if (!m_inputPipe) {
        KORVEL_LOG(ERROR) << "Implementation IByteDataInputEx not defined";
        return 0;
    }
    return m_inputPipe->Read(buffer, size);
}

KORVEL_DEFINE_REFCOUNT(DataStdInput, m_refCount)

}  // namespace Core
}  // namespace Korvel
