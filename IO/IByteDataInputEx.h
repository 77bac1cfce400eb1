#pragma once
#include "ZephExport/Export.h"
#include "IO/IByteDataInput.h"

namespace Korvel {
namespace Core {

// The raw side of an input that a read protocol drives.
class ZEPH_API IByteDataInputEx : public virtual IByteDataInput {
public:
    // True only when all `size` bytes were read; `readCount` (may be null) receives the bytes
    // placed in the buffer either way. A short success must still have moved a byte.
    virtual bool ReadRaw(unsigned char* buffer, unsigned long long size, unsigned long long* readCount) = 0;
    // The most bytes moved by one system call.
    virtual unsigned long long GetMaxReadSizeAtTime() = 0;
};

}  // namespace Core
}  // namespace Korvel
