#include "IO/KorvelIO/Protocols/ByteDataInputRawProtocol.h"

#include "IO/Detail/Log.h"

namespace Korvel {
namespace Core {

unsigned long long ByteDataInputRawProtocol::Read(unsigned char* buffer, unsigned long long size)
{
    unsigned long long transferred = 0;
    if (!m_input) {
        KORVEL_LOG(ERROR) << "Implementation IByteDataInputEx not defined";
        return 0;
    }
    // The count matters, not the success flag: a short read still delivered its bytes.
    m_input->ReadRaw(buffer, size, &transferred);
    return transferred;
}

void ByteDataInputRawProtocol::SetByteDataInput(IByteDataInputEx* source)
{
    m_input = source;
}

}  // namespace Core
}  // namespace Korvel
