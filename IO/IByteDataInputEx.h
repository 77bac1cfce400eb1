#pragma once
/// \file
/// IByteDataInputEx: the raw, per-system-call side of a pipe input that a read protocol drives.
/// Objects come from a class's static Create as a boost::intrusive_ptr (count 1) and are destroyed by
/// their last Release; never delete one. No lock.
#include "ZephExport/Export.h"
#include "IO/IByteDataInput.h"

namespace Korvel {
namespace Core {

/// The raw side of an input that a read protocol drives.
class ZEPH_API IByteDataInputEx : public virtual IByteDataInput {
public:
    /// True only when all `size` bytes were read; `readCount` (may be null) receives the bytes
    /// placed in the buffer either way. A short success must still have moved a byte.
    virtual bool ReadRaw(unsigned char* buffer, unsigned long long size, unsigned long long* readCount) = 0;
    /// The most bytes moved by one system call.
    virtual unsigned long long GetMaxReadSizeAtTime() = 0;
};

}  // namespace Core
}  // namespace Korvel
