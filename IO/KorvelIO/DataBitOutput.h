#pragma once
/// \file
/// DataBitOutput: packs bit fields into bytes, most significant bit first, and hands each
/// completed byte to an IDataOutput with its own one-byte Write. The counterpart of
/// DataBitInput. A plain value class owned by the caller (no counting, no lock, no Create);
/// it holds one reference to its output. Call Flush after the last field: pending bits of a
/// writer that is destroyed are dropped. Give it a buffered output (string) when speed
/// matters; the file output flushes to the system on every Write.
///
/// \code
///   std::string text;
///   auto output = Korvel::Core::DataOutputString::Create(&text);
///   Korvel::Core::DataBitOutput bits(output);
///   bits.WriteBits(5, 3);
///   bits.Flush();
/// \endcode
#include "ZephExport/Export.h"
#include <cstdint>

#include "IO/IDataOutput.h"

namespace Korvel {
namespace Core {

/// Packs bit fields, most significant bit first, into a seekable output (see DataBitOutput.h).
class ZEPH_API DataBitOutput {
public:
    /// A null output is accepted and held as nothing; completing a byte then may not happen.
    explicit DataBitOutput(const boost::intrusive_ptr<IDataOutput>& output);

    /// Appends the lowest `count` bits of `value`, most significant first; a count above 8
    /// writes count - 8 zero bits before the value's 8. Should the output's Write throw, the
    /// completed byte is kept and written again by the next call with a non-zero count.
    void WriteBits(unsigned char value, unsigned long long count)
    {
        /// Inline for the common cases, a field that fits in the current byte or just completes
        /// it: bit writers are called per field, and a call into the library per field would
        /// cost more than the work.
        if (count < m_freeBits) {
            m_currentByte = static_cast<std::uint8_t>((m_currentByte << count) | (value & ((1u << count) - 1u)));
            m_freeBits -= count;
            return;
        }
        if (count == m_freeBits && count != 0) {
            const unsigned char byte =
                static_cast<unsigned char>((m_currentByte << count) | (value & ((1u << count) - 1u)));
            /// Should Write throw, the completed byte stays here to be written again.
            m_currentByte = byte;
            m_freeBits = 0;
            m_output->Write(&byte, 1);
            m_currentByte = 0;
            m_freeBits = 8;
            return;
        }
        WriteBitsAcrossBytes(value, count);
    }
    /// Every bit of `count` bytes, as WriteBits(byte, 8) for each: one Write per completed byte.
    void WriteData(const unsigned char* data, unsigned long long count);
    /// Completes a partly filled byte with zero bits and writes it; nothing on a byte boundary.
    void Flush();

private:
    /// WriteBits for a field that runs into the next byte, or after a Write that threw.
    void WriteBitsAcrossBytes(unsigned char value, unsigned long long count);

    boost::intrusive_ptr<IDataOutput> m_output;
    std::uint8_t m_currentByte = 0;
    unsigned long long m_freeBits = 8;
};

}  // namespace Core
}  // namespace Korvel
