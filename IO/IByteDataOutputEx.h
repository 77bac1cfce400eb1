#pragma once
/// \file
/// IByteDataOutputEx: the raw, per-system-call side of a pipe output that a write protocol drives.
/// Objects come from a class's static Create as a boost::intrusive_ptr (count 1) and are destroyed by
/// their last Release; never delete one. No lock.
#include "ZephExport/Export.h"
#include "IO/IByteDataOutput.h"

namespace Korvel {
namespace Core {

/// The raw side of an output that a write protocol drives.
class ZEPH_API IByteDataOutputEx : public virtual IByteDataOutput {
public:
    /// True only when all `size` bytes were written; `writtenCount` (may be null) receives the
    /// bytes taken either way. A short success must still have moved a byte.
    virtual bool WriteRaw(const unsigned char* data, unsigned long long size, unsigned long long* writtenCount) = 0;
    /// The most bytes moved by one system call.
    virtual unsigned long long GetMaxWriteSizeAtTime() = 0;
};

}  // namespace Core
}  // namespace Korvel
