#include "IO/KorvelIO/DataOutputPipe.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>

#include "IO/Detail/Log.h"
#include "IO/Detail/PipeDescriptor.h"
#include "IO/Detail/RefCounting.h"
#include "IO/Detail/Throw.h"
#include "IO/Exception.h"
#include "IO/KorvelIO/PipeHandle.h"
#include "IO/KorvelIO/Protocols/ByteDataOutputDefaultProtocol.h"

namespace Korvel {
namespace Core {

namespace {

const unsigned long long kChunkLimit = 1024;

}  // namespace

boost::intrusive_ptr<IByteDataOutputEx> DataOutputPipe::Create(const std::string& name, bool flag)
{
    std::unique_ptr<IByteDataOutputProtocol> protocol(new ByteDataOutputDefaultProtocol);
    return Create(name, std::move(protocol), flag);
}

boost::intrusive_ptr<IByteDataOutputEx> DataOutputPipe::Create(const std::string& name,
                                                               std::unique_ptr<IByteDataOutputProtocol> protocol,
                                                               bool flag)
{
    DataOutputPipe* pipe = new DataOutputPipe(name, flag);
    boost::intrusive_ptr<IByteDataOutputEx> result(pipe);
    pipe->Install(std::move(protocol));
    return result;
}

boost::intrusive_ptr<IByteDataOutputEx> DataOutputPipe::Create(void* handle,
                                                               std::unique_ptr<IByteDataOutputProtocol> protocol)
{
    DataOutputPipe* pipe = Detail::AdoptHandle(handle, [handle] { return new DataOutputPipe(handle); });
    boost::intrusive_ptr<IByteDataOutputEx> result(pipe);
    pipe->Install(std::move(protocol));
    return result;
}

DataOutputPipe::DataOutputPipe(const std::string& name, bool /*flag*/) : m_descriptor(-1), m_chunkLimit(kChunkLimit)
{
    m_descriptor = Detail::OpenRetryingInterrupts(name, O_WRONLY);
    if (m_descriptor == -1) {
        const int error = errno;
        KORVEL_LOG(ERROR) << "Failed to open the output pipe " << name << '\n';
        KORVEL_THROW(IOException() << DescriptionInfo("Failed to open output pipe") << SystemErrorCodeInfo(error)
                                   << DetailsInfo(std::strerror(error)));
    }
    KORVEL_LOG(INFO) << "The pipe " << name << " has been opened for writing successfully, id == " << m_descriptor
                     << '\n';
    // Writing after the reader has gone must fail with EPIPE, not end the process.
    signal(SIGPIPE, SIG_IGN);
}

DataOutputPipe::DataOutputPipe(void* handle) : m_descriptor(DescriptorFromPipeHandle(handle)), m_chunkLimit(kChunkLimit)
{
}

DataOutputPipe::~DataOutputPipe()
{
    // A pipe without a descriptor (null handle) owns nothing to close.
    if (m_descriptor < 0)
        return;
    KORVEL_LOG(INFO) << "Closing output pipe";
    if (close(m_descriptor) < 0) {
        KORVEL_LOG(WARNING) << "Failed to close descriptor of an output pipe" << '\n';
    }
}

void DataOutputPipe::Install(std::unique_ptr<IByteDataOutputProtocol> protocol)
{
    protocol->SetByteDataOutput(this);
    m_protocol = std::move(protocol);
}

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

void DataOutputPipe::Cancel() {}

bool DataOutputPipe::WriteRaw(const unsigned char* data, unsigned long long size, unsigned long long* writtenCount)
{
    unsigned long long total = 0;
    unsigned long long remaining = size;
    while (remaining != 0) {
        const unsigned long long chunk = std::min(remaining, m_chunkLimit);
        KORVEL_LOG(INFO) << "Trying to write " << chunk << " bytes to the output pipe";
        const ssize_t n = write(m_descriptor, data + total, chunk);
        if (n < 0) {
            const int error = errno;
            KORVEL_LOG(ERROR) << "Write failed, errno == " << error << ", descrption:" << std::strerror(error);
            if (error == EINTR) {
                KORVEL_LOG(INFO) << "The write syscall has been interrupted. Trying to write again...";
                continue;
            }
            break;
        }
        // A write that took nothing is not an end of file: the same chunk is offered again.
        KORVEL_LOG(INFO) << n << " bytes have been written";
        total += static_cast<unsigned long long>(n);
        remaining -= static_cast<unsigned long long>(n);
    }
    if (writtenCount)
        *writtenCount = total;
    return total == size;
}

unsigned long long DataOutputPipe::GetMaxWriteSizeAtTime()
{
    return kChunkLimit;
}

KORVEL_DEFINE_REFCOUNT(DataOutputPipe, m_refCount)

}  // namespace Core
}  // namespace Korvel
