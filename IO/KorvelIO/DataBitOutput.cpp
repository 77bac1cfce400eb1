#include "IO/KorvelIO/DataBitOutput.h"

namespace Korvel {
namespace Core {

namespace {

// Appends `count` bits of `value`, writing each byte it completes. A free function with
// internal linkage, so that WriteData's loop calls it directly rather than through the
// library's symbol table.
void Append(IDataOutput& output, std::uint8_t& storedByte, unsigned long long& storedFreeBits, unsigned char value,
            unsigned long long count)
{
    // Kept in locals across the virtual Write calls, which the compiler cannot see through.
    unsigned int currentByte = storedByte;
    unsigned long long freeBits = storedFreeBits;
    unsigned long long remaining = count;
    while (remaining != 0) {
        // A byte completed by a call whose Write threw sits here with 0 free bits: this pass
        // takes nothing and writes it again.
        const unsigned long long take = remaining < freeBits ? remaining : freeBits;
        remaining -= take;
        // The value has 8 bits: shifted by 8 or more it contributes the leading zeros.
        const unsigned int bits = remaining >= 8 ? 0u : (static_cast<unsigned int>(value) >> remaining);
        currentByte = ((currentByte << take) | (bits & ((1u << take) - 1u))) & 0xFFu;
        freeBits -= take;
        if (freeBits == 0) {
            // Should Write throw, the completed byte stays here to be written again.
            storedByte = static_cast<std::uint8_t>(currentByte);
            storedFreeBits = 0;
            const unsigned char byte = static_cast<unsigned char>(currentByte);
            output.Write(&byte, 1);
            freeBits = 8;
            currentByte = 0;
        }
    }
    storedByte = static_cast<std::uint8_t>(currentByte);
    storedFreeBits = freeBits;
}

}  // namespace

DataBitOutput::DataBitOutput(const boost::intrusive_ptr<IDataOutput>& output) : m_output(output) {}

void DataBitOutput::WriteBitsAcrossBytes(unsigned char value, unsigned long long count)
{
    Append(*m_output, m_currentByte, m_freeBits, value, count);
}

void DataBitOutput::WriteData(const unsigned char* data, unsigned long long count)
{
    for (unsigned long long i = 0; i < count; ++i)
        Append(*m_output, m_currentByte, m_freeBits, data[i], 8);
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
