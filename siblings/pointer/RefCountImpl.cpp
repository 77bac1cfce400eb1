#include "ZephPointer/RefCountImpl.h"

namespace Korvel {

int RefCountImpl::AddRefImpl() const
{
    return static_cast<int>(m_count.fetch_add(1, std::memory_order_relaxed) + 1);
}

int RefCountImpl::GetRefCountImpl() const
{
    return static_cast<int>(m_count.load(std::memory_order_acquire));
}

int RefCountImpl::ReleaseImpl() const
{
    // acq_rel so that whoever sees 0 also sees every write made before the other releases.
    return static_cast<int>(m_count.fetch_sub(1, std::memory_order_acq_rel) - 1);
}

void intrusive_ptr_add_ref(const IRefCountable* object)
{
    object->AddRef();
}

void intrusive_ptr_release(const IRefCountable* object)
{
    object->Release();
}

}  // namespace Korvel
