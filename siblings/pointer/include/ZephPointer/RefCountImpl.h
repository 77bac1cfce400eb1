#pragma once
/// \file
/// The counter a counted class holds as a field and forwards AddRef/GetRefCount/Release to.
#include "ZephExport/Export.h"
#include <atomic>

#include "ZephPointer/IRefCountable.h"

namespace Korvel {

/// A thread-safe reference count, starting at 0.
class ZEPH_API RefCountImpl {
public:
    RefCountImpl() = default;
    ~RefCountImpl() = default;
    RefCountImpl(const RefCountImpl&) = delete;
    RefCountImpl& operator=(const RefCountImpl&) = delete;

    /// The count after the increment.
    int AddRefImpl() const;
    /// The current count.
    int GetRefCountImpl() const;
    /// The count after the decrement; the owner destroys itself when it is 0.
    int ReleaseImpl() const;

private:
    mutable std::atomic<long> m_count{0};
};

}  // namespace Korvel
