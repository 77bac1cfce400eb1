#include "IO/KorvelIO/Protocols/ByteDataInputDefaultProtocol.h"

#include "IO/Detail/Log.h"
#include "IO/Detail/RepeatTransfer.h"

namespace Korvel {
namespace Core {

unsigned long long ByteDataInputDefaultProtocol::Read(unsigned char* buffer, unsigned long long size)
{
    if (!m_input) {
        KORVEL_LOG(ERROR) << "Implementation IByteDataInputEx not defined";
        return 0;
    }
    return Detail::RepeatUntilComplete(
        size, [&](unsigned long long offset, unsigned long long n, unsigned long long* transferred) {
            return m_input->ReadRaw(buffer + offset, n, transferred);
        });
}

void ByteDataInputDefaultProtocol::SetByteDataInput(IByteDataInputEx* source)
{
    m_input = source;
}

}  // namespace Core
}  // namespace Korvel
