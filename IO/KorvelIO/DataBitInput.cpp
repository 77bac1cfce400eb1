#include "IO/KorvelIO/DataBitInput.h"

#include <stdexcept>

#include "IO/Detail/Throw.h"
#include "IO/Exception.h"

namespace Korvel {
namespace Core {

namespace {

// Throw sites of the bit reader. ReadBits inlines the byte fetch of ReadBitsInt, and its
// failures are ReadBitsInt's: named so, these report the function "ReadBitsInt".
[[noreturn]] __attribute__((noinline, cold)) void ReadBitsInt()
{
    KORVEL_THROW(IOException());
}

// A result has 64 bits; a wider field would lose its leading bits or shift out of range.
[[noreturn]] __attribute__((noinline, cold)) void ReadBits()
{
    KORVEL_THROW(std::invalid_argument("DataBitInput::ReadBits: count above 64"));
}

// The loop of ReadBits, on locals: the members are stored back only around the Read calls.
unsigned long long ReadBitsAcrossBytes(IDataInput& input, std::uint8_t& storedByte, unsigned long long& storedBitsLeft,
                                       unsigned long long count)
{
    // Kept in locals across the virtual Read calls, which the compiler cannot see through.
    std::uint8_t currentByte = storedByte;
    unsigned long long bitsLeft = storedBitsLeft;
    unsigned long long result = 0;
    unsigned long long remaining = count;
    while (remaining != 0) {
        if (bitsLeft == 0) {
            // As ReadBitsInt: one one-byte Read; on failure nothing stays buffered.
            storedBitsLeft = 0;
            unsigned char next = 0;
            if (input.Read(&next, 1) != 1)
                Core::ReadBitsInt();
            currentByte = next;
            bitsLeft = 8;
        }
        const unsigned long long take = bitsLeft < remaining ? bitsLeft : remaining;
        remaining -= take;
        bitsLeft -= take;
        result += static_cast<unsigned long long>((currentByte >> bitsLeft) & ((1u << take) - 1u)) << remaining;
    }
    storedByte = currentByte;
    storedBitsLeft = bitsLeft;
    return result;
}

}  // namespace

DataBitInput::DataBitInput(const boost::intrusive_ptr<IDataInput>& input) : m_input(input) {}

unsigned long long DataBitInput::ReadBitsAcrossBytes(unsigned long long count)
{
    if (count > 64)
        Core::ReadBits();
    return Core::ReadBitsAcrossBytes(*m_input, m_currentByte, m_bitsLeft, count);
}

void DataBitInput::FetchFailed()
{
    Core::ReadBitsInt();
}

unsigned char DataBitInput::ReadBitsInt(unsigned long long count)
{
    if (count > 8)
        Core::ReadBitsInt();
    if (m_bitsLeft == 0) {
        unsigned char next = 0;
        if (m_input->Read(&next, 1) != 1)
            Core::ReadBitsInt();
        m_currentByte = next;
        m_bitsLeft = 8;
    }
    // The counter cannot describe bits taken from beyond the buffered byte, so such a call
    // is refused rather than answered with made-up bits.
    if (count > m_bitsLeft)
        Core::ReadBitsInt();
    m_bitsLeft -= count;
    return static_cast<unsigned char>((m_currentByte >> m_bitsLeft) & ((1u << count) - 1u));
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
