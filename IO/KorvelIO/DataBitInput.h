#pragma once
/// \file
/// DataBitInput: reads bit fields of 1 to 64 bits from an IDataInput, most significant bit
/// first. A plain value class owned by the caller (no counting, no lock, no Create); it holds
/// one reference to its input and buffers a single byte, fetching it with one one-byte Read
/// the first time one of its bits is needed. Give it a buffered input (memory, string) when
/// speed matters.
///
/// \code
///   auto input = Korvel::Core::DataInputFile::Create(Korvel::ioPath("in.bin"));
///   Korvel::Core::DataBitInput bits(input);
///   unsigned long long version = bits.ReadBits(3);
/// \endcode
#include "ZephExport/Export.h"
#include <cstdint>

#include "IO/IDataInput.h"

namespace Korvel {
namespace Core {

/// Reads bit fields, most significant bit first, from a seekable input (see DataBitInput.h).
class ZEPH_API DataBitInput {
public:
    /// A null input is accepted and held as nothing; the reading operations then may not be used.
    explicit DataBitInput(const boost::intrusive_ptr<IDataInput>& input);

    /// `count` (at most 64) bits across byte boundaries, the first one read most significant.
    /// 0 bits return 0 without touching the input. Throws IOException when the input runs out;
    /// bits consumed by that call are lost. A count above 64 throws std::invalid_argument and
    /// consumes nothing.
    unsigned long long ReadBits(unsigned long long count)
    {
        /// Inline for the common cases, a field inside the buffered byte or ending in the next
        /// one: bit readers are called per field, and a call into the library per field would
        /// cost more than the work.
        if (count <= m_bitsLeft) {
            m_bitsLeft -= count;
            return (m_currentByte >> m_bitsLeft) & ((1u << count) - 1u);
        }
        if (m_memoryPosition == nullptr) {
            if (m_bitsLeft == 0 && count <= 8) {
                unsigned char next = 0;
                if (m_input->Read(&next, 1) != 1)
                    FetchFailed();
                m_currentByte = next;
                m_bitsLeft = 8 - count;
                return (next >> m_bitsLeft) & ((1u << count) - 1u);
            }
        } else {
            // Over the memory input a field ending in the next byte takes that byte straight
            // from the block, moving the stream's position as a Read would. At the end of the
            // block, the general path below lets the stream's Read answer.
            const unsigned long long position = *m_memoryPosition;
            if (count <= 8 && position < m_memorySize) {
                const unsigned next = m_memoryData[position];
                *m_memoryPosition = position + 1;
                const unsigned pair = (static_cast<unsigned>(m_currentByte) << 8) | next;
                m_bitsLeft += 8 - count;
                m_currentByte = static_cast<std::uint8_t>(next);
                return (pair >> m_bitsLeft) & ((1u << count) - 1u);
            }
        }
        return ReadBitsAcrossBytes(count);
    }
    /// Up to 8 bits from the current byte, fetching a new byte first when none are buffered.
    /// Throws IOException for more than 8 bits, for more bits than the buffered byte still
    /// holds, or when the next byte cannot be read (the next call then tries to fetch again).
    unsigned char ReadBitsInt(unsigned long long count);
    /// Bits still readable: the buffered ones plus 8 per byte between the input's position and
    /// its size. Meaningful only while nobody else moves the input.
    unsigned long long BitsLeft() const;
    /// Drops the unread bits of the buffered byte; does nothing on a byte boundary.
    void SkipBitsToNextByte();

private:
    /// ReadBits for a field that spans bytes.
    unsigned long long ReadBitsAcrossBytes(unsigned long long count);
    /// The next byte of the memory input (at its end, what the stream's Read gives); false when
    /// none came.
    bool FetchFromMemory(unsigned char& next);
    /// Throws the IOException of a byte that could not be read.
    [[noreturn]] static void FetchFailed();

    boost::intrusive_ptr<IDataInput> m_input;
    std::uint8_t m_currentByte = 0;
    unsigned long long m_bitsLeft = 0;
    // Set when the input is the library's memory stream: its block, its size and where its
    // position lives, so that bytes are taken without a virtual call (found once, by the
    // constructor). Null for any other input.
    const unsigned char* m_memoryData = nullptr;
    unsigned long long m_memorySize = 0;
    unsigned long long* m_memoryPosition = nullptr;
};

}  // namespace Core
}  // namespace Korvel
