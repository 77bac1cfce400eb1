#include "IO/LockImpl.h"

namespace Korvel {

void LockImpl::Lock_Impl()
{
    m_mutex.lock();
}

bool LockImpl::TryLock_Impl()
{
    return m_mutex.try_lock();
}

void LockImpl::Unlock_Impl()
{
    m_mutex.unlock();
}

}  // namespace Korvel
