#include "IO/KorvelIO/DataInputPipe.h"

#include <fcntl.h>

#include "IO/Detail/Log.h"
#include "IO/Detail/PipeCore.h"
#include "IO/Detail/ScopedDescriptor.h"
#include "IO/Detail/RefCounting.h"
#include "IO/KorvelIO/PipeHandle.h"
#include "IO/KorvelIO/PipeOptions.h"
#include "IO/KorvelIO/Protocols/ByteDataInputDefaultProtocol.h"

namespace Korvel {
namespace Core {

namespace {

// This pipe's log lines; PipeDescriptor writes them as lines of this file. Constant, so
// ready before any static initialiser could open a pipe.
constexpr Detail::PipeLog kLog = {
    "DataInputPipe",
    KORVEL_LOG_SITE("The open syscall has been interrupted by a signal"),
    KORVEL_LOG_SITE("Failed to open the input pipe "),
    KORVEL_LOG_SITE("Failed to open input pipe"),
    KORVEL_LOG_SITE("The pipe ", " has been opened for reading successfully, id == "),
    KORVEL_LOG_SITE("Trying to read ", " bytes from the input pipe"),
    KORVEL_LOG_SITE("Read failed, errno == ", ", descrption:"),
    KORVEL_LOG_SITE("The read syscall has been interrupted. Trying to read again..."),
    KORVEL_LOG_SITE("The read syscall failed, reason: "),
    KORVEL_LOG_SITE("The read syscall returned EOF. The other process probably has crashed."),
    KORVEL_LOG_SITE(" bytes have been read"),
    KORVEL_LOG_SITE("Closing input pipe"),
    KORVEL_LOG_SITE("Failed to close descriptor of an input pipe"),
    KORVEL_LOG_SITE("Reading from the input pipe ", " has been cancelled"),
    KORVEL_LOG_SITE("Reading from the input pipe ", " stopped: the other process sent nothing within the wait limit"),
    "Failed to open input pipe: cancelled",
    "Failed to open input pipe: wait limit reached",
};

}  // namespace

// The Create functions without options give the plain pipe: the default options, and an open
// by name that makes the process ignore SIGPIPE.

boost::intrusive_ptr<IByteDataInputEx> DataInputPipe::Create(const std::string& name, bool flag)
{
    return Create(name, std::unique_ptr<IByteDataInputProtocol>(new ByteDataInputDefaultProtocol), flag);
}

boost::intrusive_ptr<IByteDataInputEx> DataInputPipe::Create(const std::string& name, const PipeOptions& options)
{
    std::unique_ptr<IByteDataInputProtocol> protocol(new ByteDataInputDefaultProtocol);
    return Create(name, std::move(protocol), options);
}

boost::intrusive_ptr<IByteDataInputEx> DataInputPipe::Create(const std::string& name,
                                                             std::unique_ptr<IByteDataInputProtocol> protocol,
                                                             bool /*flag*/)
{
    return Make(
        std::make_unique<Detail::PipeDescriptor>(name, O_RDONLY, kLog, Detail::PipeSettings::Plain<PipeOptions>()),
        std::move(protocol));
}

boost::intrusive_ptr<IByteDataInputEx> DataInputPipe::Create(const std::string& name,
                                                             std::unique_ptr<IByteDataInputProtocol> protocol,
                                                             const PipeOptions& options)
{
    return Make(std::make_unique<Detail::PipeDescriptor>(name, O_RDONLY, kLog, Detail::PipeSettings::From(options)),
                std::move(protocol));
}

boost::intrusive_ptr<IByteDataInputEx> DataInputPipe::Create(void* handle,
                                                             std::unique_ptr<IByteDataInputProtocol> protocol)
{
    Detail::ScopedDescriptor descriptor(DescriptorFromPipeHandle(handle));
    return Make(std::make_unique<Detail::PipeDescriptor>(std::move(descriptor), kLog,
                                                         Detail::PipeSettings::Plain<PipeOptions>()),
                std::move(protocol));
}

boost::intrusive_ptr<IByteDataInputEx> DataInputPipe::Create(void* handle,
                                                             std::unique_ptr<IByteDataInputProtocol> protocol,
                                                             const PipeOptions& options)
{
    // Owned from here on: invalid options or a failing allocation close it.
    Detail::ScopedDescriptor descriptor(DescriptorFromPipeHandle(handle));
    return Make(
        std::make_unique<Detail::PipeDescriptor>(std::move(descriptor), kLog, Detail::PipeSettings::From(options)),
        std::move(protocol));
}

boost::intrusive_ptr<IByteDataInputEx> DataInputPipe::Make(std::unique_ptr<Detail::PipeDescriptor> descriptor,
                                                           std::unique_ptr<IByteDataInputProtocol> protocol)
{
    DataInputPipe* pipe = new DataInputPipe(std::move(descriptor));
    boost::intrusive_ptr<IByteDataInputEx> result(pipe);
    protocol->SetByteDataInput(pipe);
    pipe->m_protocol = std::move(protocol);
    return result;
}

DataInputPipe::DataInputPipe(std::unique_ptr<Detail::PipeDescriptor> descriptor) : m_descriptor(std::move(descriptor))
{
}

DataInputPipe::~DataInputPipe() = default;

void DataInputPipe::SetProtocol(std::unique_ptr<IByteDataInputProtocol> protocol)
{
    m_protocol = std::move(protocol);
}

unsigned long long DataInputPipe::Read(unsigned char* buffer, unsigned long long size)
{
    if (!m_protocol) {
        KORVEL_LOG(ERROR) << "Protocol not defined.";
        return 0;
    }
    return m_protocol->Read(buffer, size);
}

void DataInputPipe::Cancel()
{
    m_descriptor->Cancel();
}

bool DataInputPipe::ReadRaw(unsigned char* buffer, unsigned long long size, unsigned long long* readCount)
{
    return m_descriptor->Read(buffer, size, readCount);
}

unsigned long long DataInputPipe::GetMaxReadSizeAtTime()
{
    return m_descriptor->TransferSize();
}

KORVEL_DEFINE_REFCOUNT(DataInputPipe, m_refCount)

}  // namespace Core
}  // namespace Korvel
