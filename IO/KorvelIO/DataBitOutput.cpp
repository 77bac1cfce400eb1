#include "IO/KorvelIO/DataBitOutput.h"

namespace Korvel {
namespace Core {

DataBitOutput::DataBitOutput(const boost::intrusive_ptr<IDataOutput>& output) : m_output(output) {}

inline void DataBitOutput::Append(unsigned char value, unsigned long long count)
{
    unsigned long long remaining = count;
    while (remaining != 0) {
        // A byte completed by a call whose Write threw sits here with 0 free bits: this pass
        // takes nothing and writes it again.
        const unsigned long long take = remaining < m_freeBits ? remaining : m_freeBits;
        remaining -= take;
        // The value has 8 bits: shifted by 8 or more it contributes the leading zeros.
        const unsigned int bits = remaining >= 8 ? 0u : (static_cast<unsigned int>(value) >> remaining);
        m_currentByte = static_cast<std::uint8_t>((m_currentByte << take) | (bits & ((1u << take) - 1u)));
        m_freeBits -= take;
        if (m_freeBits == 0) {
            const unsigned char byte = m_currentByte;
            m_output->Write(&byte, 1);
            m_freeBits = 8;
            m_currentByte = 0;
        }
    }
}

void DataBitOutput::WriteBits(unsigned char value, unsigned long long count)
{
    Append(value, count);
}

void DataBitOutput::WriteData(const unsigned char* data, unsigned long long count)
{
    for (unsigned long long i = 0; i < count; ++i)
        Append(data[i], 8);
}

void DataBitOutput::Flush()
{
    if (m_freeBits == 8 || m_freeBits == 0)
        return;
    // The pending bits move to the top; the state changes only once the byte is written, so a
    // Write that throws leaves them pending.
    const unsigned char byte = static_cast<unsigned char>(m_currentByte << m_freeBits);
    m_output->Write(&byte, 1);
    m_freeBits = 8;
    m_currentByte = 0;
}

}  // namespace Core
}  // namespace Korvel
