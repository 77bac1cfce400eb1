#include "IO/KorvelIO/DataStdOutput.h"

#include <fcntl.h>
#include <unistd.h>

#include <memory>

#include "IO/Detail/Log.h"
#include "IO/Detail/RefCounting.h"
#include "IO/Detail/ScopedDescriptor.h"
#include "IO/KorvelIO/DataOutputPipe.h"
#include "IO/KorvelIO/PipeHandle.h"
#include "IO/KorvelIO/Protocols/ByteDataOutputRawProtocol.h"

namespace Korvel {
namespace Core {

boost::intrusive_ptr<IByteDataOutput> DataStdOutput::Create(unsigned long& transferSize)
{
    return Make(transferSize, nullptr);
}

boost::intrusive_ptr<IByteDataOutput> DataStdOutput::Create(unsigned long& transferSize, const PipeOptions& options)
{
    return Make(transferSize, &options);
}

boost::intrusive_ptr<IByteDataOutput> DataStdOutput::Make(unsigned long& transferSize, const PipeOptions* options)
{
    boost::intrusive_ptr<DataStdOutput> adapter(new DataStdOutput);
    std::unique_ptr<IByteDataOutputProtocol> protocol(new ByteDataOutputRawProtocol);
    // The adapter's own duplicate, so that closing it never closes the process's descriptor;
    // none when that descriptor is closed.
    Detail::ScopedDescriptor copy(fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 0));
    adapter->m_pipeHandle = PipeHandleFromDescriptor(copy.get());
    if (!adapter->m_pipeHandle)
        return nullptr;
    boost::intrusive_ptr<IByteDataOutputEx> pipe =
        options ? DataOutputPipe::Create(PipeHandleFromDescriptor(copy.release()), std::move(protocol), *options)
                : DataOutputPipe::Create(PipeHandleFromDescriptor(copy.release()), std::move(protocol));
    transferSize = pipe->GetMaxWriteSizeAtTime();
    adapter->SetOutputPipe(pipe);
    adapter->m_forwardsCancel = options && (options->cancellable || options->canceller);
    return adapter;
}

DataStdOutput::DataStdOutput() : m_pipeHandle(nullptr) {}

DataStdOutput::~DataStdOutput()
{
    m_outputPipe.reset();
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

void DataStdOutput::Cancel()
{
    if (m_forwardsCancel && m_outputPipe)
        m_outputPipe->Cancel();
}

KORVEL_DEFINE_REFCOUNT(DataStdOutput, m_refCount)

}  // namespace Core
}  // namespace Korvel
