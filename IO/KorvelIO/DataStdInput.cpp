#include "IO/KorvelIO/DataStdInput.h"

#include <fcntl.h>
#include <unistd.h>

#include <memory>

#include "IO/Detail/Log.h"
#include "IO/Detail/RefCounting.h"
#include "IO/Detail/ScopedDescriptor.h"
#include "IO/KorvelIO/DataInputPipe.h"
#include "IO/KorvelIO/PipeHandle.h"
#include "IO/KorvelIO/Protocols/ByteDataInputRawProtocol.h"

namespace Korvel {
namespace Core {

boost::intrusive_ptr<IByteDataInput> DataStdInput::Create(unsigned long& transferSize)
{
    return Make(transferSize, nullptr);
}

boost::intrusive_ptr<IByteDataInput> DataStdInput::Create(unsigned long& transferSize, const PipeOptions& options)
{
    return Make(transferSize, &options);
}

boost::intrusive_ptr<IByteDataInput> DataStdInput::Make(unsigned long& transferSize, const PipeOptions* options)
{
    boost::intrusive_ptr<DataStdInput> adapter(new DataStdInput);
    std::unique_ptr<IByteDataInputProtocol> protocol(new ByteDataInputRawProtocol);
    // The adapter's own duplicate, so that closing it never closes the process's descriptor;
    // none when that descriptor is closed.
    Detail::ScopedDescriptor copy(fcntl(STDIN_FILENO, F_DUPFD_CLOEXEC, 0));
    adapter->m_pipeHandle = PipeHandleFromDescriptor(copy.get());
    if (!adapter->m_pipeHandle)
        return nullptr;
    boost::intrusive_ptr<IByteDataInputEx> pipe =
        options ? DataInputPipe::Create(PipeHandleFromDescriptor(copy.release()), std::move(protocol), *options)
                : DataInputPipe::Create(PipeHandleFromDescriptor(copy.release()), std::move(protocol));
    transferSize = pipe->GetMaxReadSizeAtTime();
    adapter->SetInputPipe(pipe);
    adapter->m_forwardsCancel = options && (options->cancellable || options->canceller);
    return adapter;
}

DataStdInput::DataStdInput() : m_pipeHandle(nullptr) {}

DataStdInput::~DataStdInput()
{
    m_inputPipe.reset();
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

void DataStdInput::Cancel()
{
    if (m_forwardsCancel && m_inputPipe)
        m_inputPipe->Cancel();
}

KORVEL_DEFINE_REFCOUNT(DataStdInput, m_refCount)

}  // namespace Core
}  // namespace Korvel
