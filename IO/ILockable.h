#pragma once
/// \file
/// The advisory lock of a seekable stream. No library operation takes it: callers that
/// share a stream between threads bracket multi-step sequences with it (see AutoLock).
/// It is not recursive.
#include "ZephExport/Export.h"

namespace Korvel {

/// An advisory, non-recursive lock that callers take around multi-step sequences.
class ZEPH_API ILockable {
public:
    virtual ~ILockable() {}
    /// Waits until the lock is free and takes it.
    virtual void Lock() = 0;
    /// Takes the lock if it is free; true when taken.
    virtual bool TryLock() = 0;
    /// Releases the lock, which the calling thread holds.
    virtual void Unlock() = 0;
};

}  // namespace Korvel
