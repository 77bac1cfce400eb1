#pragma once
// The non-recursive mutex behind a seekable stream's ILockable operations.
#include "ZephExport/Export.h"
#include <mutex>

namespace Korvel {

class ZEPH_API LockImpl {
public:
    LockImpl() = default;
    ~LockImpl() = default;
    LockImpl(const LockImpl&) = delete;
    LockImpl& operator=(const LockImpl&) = delete;

    void Lock_Impl();
    bool TryLock_Impl();
    void Unlock_Impl();

private:
    std::mutex m_mutex;
};

}  // namespace Korvel
