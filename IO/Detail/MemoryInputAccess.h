#pragma once
// Internal: lets the bit reader take bytes straight from a DataInputMemory's block and move
// its position, instead of one virtual one-byte Read per byte. The block and its size never
// change after creation; the position is the stream's own field, so the stream and everyone
// else see every byte the reader takes, exactly as after a Read.
#include "IO/KorvelIO/DataInputMemory.h"

namespace Korvel {
namespace Detail {

struct MemoryInputAccess {
    static const unsigned char* Data(const Core::DataInputMemory& input) { return input.m_data; }
    static unsigned long long Size(const Core::DataInputMemory& input) { return input.m_size; }
    static unsigned long long* Position(Core::DataInputMemory& input) { return &input.m_position; }
};

}  // namespace Detail
}  // namespace Korvel
