#include "IO/KorvelIO/Protocols/ByteDataOutputRawProtocol.h"

#include "IO/Detail/Log.h"

namespace Korvel {
namespace Core {

unsigned long long ByteDataOutputRawProtocol::Write(const unsigned char* data, unsigned long long size)
{
    unsigned long long transferred = 0;
    if (!m_output) {
        KORVEL_LOG(ERROR) << "Implementation IByteDataOutputEx not defined";
        return 0;
    }
    // The count matters, not the success flag: a short write still delivered its bytes.
    m_output->WriteRaw(data, size, &transferred);
    return transferred;
}

void ByteDataOutputRawProtocol::SetByteDataOutput(IByteDataOutputEx* sink)
{
    m_output = sink;
}

}  // namespace Core
}  // namespace Korvel
