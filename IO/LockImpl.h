#pragma once
/// \file
/// The non-recursive mutex behind a seekable stream's ILockable operations.
#include "ZephExport/Export.h"
#include <mutex>

namespace Korvel {

/// The mutex a seekable stream holds as a field and forwards its ILockable operations to.
class ZEPH_API LockImpl {
public:
    LockImpl() = default;
    ~LockImpl() = default;
    LockImpl(const LockImpl&) = delete;
    LockImpl& operator=(const LockImpl&) = delete;

    /// Waits for the mutex and takes it.
    void Lock_Impl();
    /// Takes the mutex if it is free; true when taken.
    bool TryLock_Impl();
    /// Releases the mutex.
    void Unlock_Impl();

private:
    std::mutex m_mutex;
};

}  // namespace Korvel
