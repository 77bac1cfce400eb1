#include "IO/KorvelIO/DataInputPipe.h"

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
#include "IO/KorvelIO/Protocols/ByteDataInputDefaultProtocol.h"

namespace Korvel {
namespace Core {

namespace {

const unsigned long long kChunkLimit = 1024;

}  // namespace

boost::intrusive_ptr<IByteDataInputEx> DataInputPipe::Create(const std::string& name, bool flag)
{
    std::unique_ptr<IByteDataInputProtocol> protocol(new ByteDataInputDefaultProtocol);
    return Create(name, std::move(protocol), flag);
}

boost::intrusive_ptr<IByteDataInputEx> DataInputPipe::Create(const std::string& name,
                                                             std::unique_ptr<IByteDataInputProtocol> protocol,
                                                             bool flag)
{
    DataInputPipe* pipe = new DataInputPipe(name, flag);
    boost::intrusive_ptr<IByteDataInputEx> result(pipe);
    pipe->Install(std::move(protocol));
    return result;
}

boost::intrusive_ptr<IByteDataInputEx> DataInputPipe::Create(void* handle,
                                                             std::unique_ptr<IByteDataInputProtocol> protocol)
{
    DataInputPipe* pipe = Detail::AdoptHandle(handle, [handle] { return new DataInputPipe(handle); });
    boost::intrusive_ptr<IByteDataInputEx> result(pipe);
    pipe->Install(std::move(protocol));
    return result;
}

DataInputPipe::DataInputPipe(const std::string& name, bool /*flag*/) : m_descriptor(-1), m_chunkLimit(kChunkLimit)
{
    m_descriptor = Detail::OpenRetryingInterrupts(name, O_RDONLY);
    if (m_descriptor == -1) {
        const int error = errno;
        KORVEL_LOG(ERROR) << "Failed to open the input pipe " << name << '\n';
        KORVEL_THROW(IOException() << DescriptionInfo("Failed to open input pipe") << SystemErrorCodeInfo(error)
                                   << DetailsInfo(std::strerror(error)));
    }
    KORVEL_LOG(INFO) << "The pipe " << name << " has been opened for reading successfully, id == " << m_descriptor
                     << '\n';
    // A write to a pipe whose reader has gone must fail with EPIPE, not end the process.
    signal(SIGPIPE, SIG_IGN);
}

DataInputPipe::DataInputPipe(void* handle) : m_descriptor(DescriptorFromPipeHandle(handle)), m_chunkLimit(kChunkLimit)
{
}

DataInputPipe::~DataInputPipe()
{
    // A pipe without a descriptor (null handle) owns nothing to close.
    if (m_descriptor < 0)
        return;
    KORVEL_LOG(INFO) << "Closing input pipe";
    if (close(m_descriptor) < 0) {
        KORVEL_LOG(WARNING) << "Failed to close descriptor of an input pipe" << '\n';
    }
}

void DataInputPipe::Install(std::unique_ptr<IByteDataInputProtocol> protocol)
{
    protocol->SetByteDataInput(this);
    m_protocol = std::move(protocol);
}

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

void DataInputPipe::Cancel() {}

bool DataInputPipe::ReadRaw(unsigned char* buffer, unsigned long long size, unsigned long long* readCount)
{
    unsigned long long total = 0;
    unsigned long long remaining = size;
    while (remaining != 0) {
        const unsigned long long chunk = std::min(remaining, m_chunkLimit);
        KORVEL_LOG(INFO) << "Trying to read " << chunk << " bytes from the input pipe";
        const ssize_t n = read(m_descriptor, buffer + total, chunk);
        if (n < 0) {
            const int error = errno;
            KORVEL_LOG(ERROR) << "Read failed, errno == " << error << ", descrption:" << std::strerror(error);
            if (error == EINTR) {
                KORVEL_LOG(INFO) << "The read syscall has been interrupted. Trying to read again...";
                continue;
            }
            KORVEL_LOG(ERROR) << "The read syscall failed, reason: " << std::strerror(error);
            break;
        }
        if (n == 0) {
            KORVEL_LOG(WARNING) << "The read syscall returned EOF. The other process probably has crashed.";
            break;
        }
        KORVEL_LOG(INFO) << n << " bytes have been read";
        total += static_cast<unsigned long long>(n);
        remaining -= static_cast<unsigned long long>(n);
    }
    if (readCount)
        *readCount = total;
    return total == size;
}

unsigned long long DataInputPipe::GetMaxReadSizeAtTime()
{
    return kChunkLimit;
}

KORVEL_DEFINE_REFCOUNT(DataInputPipe, m_refCount)

}  // namespace Core
}  // namespace Korvel
