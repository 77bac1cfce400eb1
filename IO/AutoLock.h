#pragma once
/// \file
/// Holds an ILockable's lock for the lifetime of the AutoLock; a null pointer is allowed
/// and does nothing.
#include "ZephExport/Export.h"
#include "IO/ILockable.h"

namespace Korvel {

/// Takes an ILockable's lock on construction and releases it on destruction.
class ZEPH_API AutoLock {
public:
    /// Locks `lockable` (may be null: then nothing is locked).
    explicit AutoLock(ILockable* lockable);
    ~AutoLock();  // noexcept: an Unlock that throws terminates the process
    AutoLock(const AutoLock&) = delete;
    AutoLock& operator=(const AutoLock&) = delete;

private:
    ILockable* m_lockable;
};

}  // namespace Korvel
