#include "IO/KorvelIO/DataOutputPipe.h"

#include <fcntl.h>

#include "IO/Detail/Log.h"
#include "IO/Detail/PipeCore.h"
#include "IO/Detail/ScopedDescriptor.h"
#include "IO/Detail/RefCounting.h"
#include "IO/KorvelIO/PipeHandle.h"
#include "IO/KorvelIO/PipeOptions.h"
#include "IO/KorvelIO/Protocols/ByteDataOutputDefaultProtocol.h"

namespace Korvel {
namespace Core {

namespace {

// This pipe's log lines; PipeDescriptor writes them as lines of this file. Constant, so
// ready before any static initialiser could open a pipe.
constexpr Detail::PipeLog kLog = {
    "DataOutputPipe",
    KORVEL_LOG_SITE("The open syscall has been interrupted by a signal"),
    KORVEL_LOG_SITE("Failed to open the output pipe "),
    KORVEL_LOG_SITE("Failed to open output pipe"),
    KORVEL_LOG_SITE("The pipe ", " has been opened for writing successfully, id == "),
    KORVEL_LOG_SITE("Trying to write ", " bytes to the output pipe"),
    KORVEL_LOG_SITE("Write failed, errno == ", ", descrption:"),
    KORVEL_LOG_SITE("The write syscall has been interrupted. Trying to write again..."),
    {},  // a failed write is one ERROR line
    {},  // a write that takes nothing is no end of file
    KORVEL_LOG_SITE(" bytes have been written"),
    KORVEL_LOG_SITE("Closing output pipe"),
    KORVEL_LOG_SITE("Failed to close descriptor of an output pipe"),
    KORVEL_LOG_SITE("Writing to the output pipe ", " has been cancelled"),
    KORVEL_LOG_SITE("Writing to the output pipe ", " stopped: the other process took nothing within the wait limit"),
    "Failed to open output pipe: cancelled",
    "Failed to open output pipe: wait limit reached",
};

}  // namespace

// The Create functions without options give the plain pipe: the default options, and an open
// by name that makes the process ignore SIGPIPE.

boost::intrusive_ptr<IByteDataOutputEx> DataOutputPipe::Create(const std::string& name, bool flag)
{
    return Create(name, std::unique_ptr<IByteDataOutputProtocol>(new ByteDataOutputDefaultProtocol), flag);
}

boost::intrusive_ptr<IByteDataOutputEx> DataOutputPipe::Create(const std::string& name, const PipeOptions& options)
{
    std::unique_ptr<IByteDataOutputProtocol> protocol(new ByteDataOutputDefaultProtocol);
    return Create(name, std::move(protocol), options);
}

boost::intrusive_ptr<IByteDataOutputEx> DataOutputPipe::Create(const std::string& name,
                                                               std::unique_ptr<IByteDataOutputProtocol> protocol,
                                                               bool /*flag*/)
{
    return Make(
        std::make_unique<Detail::PipeDescriptor>(name, O_WRONLY, kLog, Detail::PipeSettings::Plain<PipeOptions>()),
        std::move(protocol));
}

boost::intrusive_ptr<IByteDataOutputEx> DataOutputPipe::Create(const std::string& name,
                                                               std::unique_ptr<IByteDataOutputProtocol> protocol,
                                                               const PipeOptions& options)
{
    return Make(std::make_unique<Detail::PipeDescriptor>(name, O_WRONLY, kLog, Detail::PipeSettings::From(options)),
                std::move(protocol));
}

boost::intrusive_ptr<IByteDataOutputEx> DataOutputPipe::Create(void* handle,
                                                               std::unique_ptr<IByteDataOutputProtocol> protocol)
{
    Detail::ScopedDescriptor descriptor(DescriptorFromPipeHandle(handle));
    return Make(std::make_unique<Detail::PipeDescriptor>(std::move(descriptor), kLog,
                                                         Detail::PipeSettings::Plain<PipeOptions>()),
                std::move(protocol));
}

boost::intrusive_ptr<IByteDataOutputEx> DataOutputPipe::Create(void* handle,
                                                               std::unique_ptr<IByteDataOutputProtocol> protocol,
                                                               const PipeOptions& options)
{
    // Owned from here on: invalid options or a failing allocation close it.
    Detail::ScopedDescriptor descriptor(DescriptorFromPipeHandle(handle));
    return Make(
        std::make_unique<Detail::PipeDescriptor>(std::move(descriptor), kLog, Detail::PipeSettings::From(options)),
        std::move(protocol));
}

boost::intrusive_ptr<IByteDataOutputEx> DataOutputPipe::Make(std::unique_ptr<Detail::PipeDescriptor> descriptor,
                                                             std::unique_ptr<IByteDataOutputProtocol> protocol)
{
    DataOutputPipe* pipe = new DataOutputPipe(std::move(descriptor));
    boost::intrusive_ptr<IByteDataOutputEx> result(pipe);
    protocol->SetByteDataOutput(pipe);
    pipe->m_protocol = std::move(protocol);
    return result;
}

DataOutputPipe::DataOutputPipe(std::unique_ptr<Detail::PipeDescriptor> descriptor) : m_descriptor(std::move(descriptor))
{
}

DataOutputPipe::~DataOutputPipe() = default;

void DataOutputPipe::SetProtocol(std::unique_ptr<IByteDataOutputProtocol> protocol)
{
    m_protocol = std::move(protocol);
}

unsigned long long DataOutputPipe::Write(const unsigned char* data, unsigned long long size)
{
    if (!m_protocol) {
        KORVEL_LOG(ERROR) << "Protocol not defined.";
        return 0;
    }
    return m_protocol->Write(data, size);
}

void DataOutputPipe::Cancel()
{
    m_descriptor->Cancel();
}

bool DataOutputPipe::WriteRaw(const unsigned char* data, unsigned long long size, unsigned long long* writtenCount)
{
    return m_descriptor->Write(data, size, writtenCount);
}

unsigned long long DataOutputPipe::GetMaxWriteSizeAtTime()
{
    return m_descriptor->TransferSize();
}

KORVEL_DEFINE_REFCOUNT(DataOutputPipe, m_refCount)

}  // namespace Core
}  // namespace Korvel
