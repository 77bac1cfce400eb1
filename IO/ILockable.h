#pragma once
// The advisory lock of a seekable stream. No library operation takes it: callers that
// share a stream between threads bracket multi-step sequences with it (see AutoLock).
// It is not recursive.
#include "ZephExport/Export.h"

namespace Korvel {

class ZEPH_API ILockable {
public:
    virtual ~ILockable() {}
    virtual void Lock() = 0;
    virtual bool TryLock() = 0;
    virtual void Unlock() = 0;
};

}  // namespace Korvel
