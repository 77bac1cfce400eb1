#include "IO/KorvelIO/DataBitInput.h"

#include "IO/Detail/Throw.h"
#include "IO/Exception.h"

namespace Korvel {
namespace Core {

namespace {

// The body of DataBitInput::ReadBitsInt, with internal linkage so that ReadBits calls it
// directly instead of through the shared library's symbol table. Named like the member so
// that its throws report the function "ReadBitsInt".
inline unsigned char ReadBitsInt(IDataInput& input, std::uint8_t& currentByte, unsigned long long& bitsLeft,
                                 unsigned long long count)
{
    if (count > 8)
        KORVEL_THROW(IOException());
    if (bitsLeft == 0) {
        unsigned char next = 0;
        if (input.Read(&next, 1) != 1)
            KORVEL_THROW(IOException());
        currentByte = next;
        bitsLeft = 8;
    }
    // The counter cannot describe bits taken from beyond the buffered byte, so such a call
    // is refused rather than answered with made-up bits.
    if (count > bitsLeft)
        KORVEL_THROW(IOException());
    const unsigned long long shift = bitsLeft - count;
    bitsLeft = shift;
    return static_cast<unsigned char>((currentByte >> shift) & ((1u << count) - 1u));
}

}  // namespace

DataBitInput::DataBitInput(const boost::intrusive_ptr<IDataInput>& input) : m_input(input) {}

unsigned long long DataBitInput::ReadBits(unsigned long long count)
{
    unsigned long long result = 0;
    unsigned long long remaining = count;
    while (remaining != 0) {
        // With nothing buffered this takes 0 bits, which only fetches the next byte.
        const unsigned long long take = m_bitsLeft < remaining ? m_bitsLeft : remaining;
        const unsigned long long value = Core::ReadBitsInt(*m_input, m_currentByte, m_bitsLeft, take);
        remaining -= take;
        result += value << remaining;
    }
    return result;
}

unsigned char DataBitInput::ReadBitsInt(unsigned long long count)
{
    return Core::ReadBitsInt(*m_input, m_currentByte, m_bitsLeft, count);
}

unsigned long long DataBitInput::BitsLeft() const
{
    return m_bitsLeft + 8 * (m_input->GetSize() - m_input->GetPosition());
}

void DataBitInput::SkipBitsToNextByte()
{
    m_bitsLeft = 0;
}

}  // namespace Core
}  // namespace Korvel
