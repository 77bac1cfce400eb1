#include "IO/KorvelIO/DataBitInput.h"

#include <stdexcept>

#include "IO/Detail/Throw.h"
#include "IO/Exception.h"
#include "IO/KorvelIO/DataInputMemory.h"

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

// The loop of ReadBits, on locals: the members are stored back only around the fetches.
// `fetch(next)` takes the next byte, false when none came.
template <class Fetch>
unsigned long long ReadBitsAcrossBytes(Fetch fetch, std::uint8_t& storedByte, unsigned long long& storedBitsLeft,
                                       unsigned long long count)
{
    // Kept in locals across the virtual Read calls, which the compiler cannot see through.
    std::uint8_t currentByte = storedByte;
    unsigned long long bitsLeft = storedBitsLeft;
    unsigned long long result = 0;
    unsigned long long remaining = count;
    while (remaining != 0) {
        if (bitsLeft == 0) {
            // As ReadBitsInt: one byte; on failure nothing stays buffered.
            storedBitsLeft = 0;
            unsigned char next = 0;
            if (!fetch(next))
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

DataBitInput::DataBitInput(const boost::intrusive_ptr<IDataInput>& input) : m_input(input)
{
    // The memory stream cannot be derived from (its constructor is private), so the cast finds
    // exactly that class; the block and size it hands out are fixed for the stream's life.
    if (auto* memory = dynamic_cast<DataInputMemory*>(input.get())) {
        m_memoryData = memory->m_data;
        m_memorySize = memory->m_size;
        m_memoryPosition = &memory->m_position;
    }
}

unsigned long long DataBitInput::ReadBitsAcrossBytes(unsigned long long count)
{
    if (count > 64)
        Core::ReadBits();
    if (m_memoryPosition != nullptr)
        return Core::ReadBitsAcrossBytes([this](unsigned char& next) { return FetchFromMemory(next); }, m_currentByte,
                                         m_bitsLeft, count);
    IDataInput& input = *m_input;
    return Core::ReadBitsAcrossBytes([&input](unsigned char& next) { return input.Read(&next, 1) == 1; }, m_currentByte,
                                     m_bitsLeft, count);
}

bool DataBitInput::FetchFromMemory(unsigned char& next)
{
    const unsigned long long position = *m_memoryPosition;
    if (position < m_memorySize) {
        next = m_memoryData[position];
        *m_memoryPosition = position + 1;
        return true;
    }
    // At the end the stream's own Read answers, as it would without this path.
    return m_input->Read(&next, 1) == 1;
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
        if (m_memoryPosition != nullptr ? !FetchFromMemory(next) : m_input->Read(&next, 1) != 1)
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
