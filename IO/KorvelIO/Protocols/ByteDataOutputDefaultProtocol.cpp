#include "IO/KorvelIO/Protocols/ByteDataOutputDefaultProtocol.h"

#include "IO/Detail/Log.h"
#include "IO/Detail/RepeatTransfer.h"

namespace Korvel {
namespace Core {

unsigned long long ByteDataOutputDefaultProtocol::Write(const unsigned char* data, unsigned long long size)
{
    if (!m_output) {
        KORVEL_LOG(ERROR) << "Implementation IByteDataOutputEx not defined";
        return 0;
    }
    return Detail::RepeatUntilComplete(
        size, [&](unsigned long long offset, unsigned long long n, unsigned long long* transferred) {
            return m_output->WriteRaw(data + offset, n, transferred);
        });
}

void ByteDataOutputDefaultProtocol::SetByteDataOutput(IByteDataOutputEx* sink)
{
    m_output = sink;
}

}  // namespace Core
}  // namespace Korvel
