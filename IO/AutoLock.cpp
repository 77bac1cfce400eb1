#include "IO/AutoLock.h"

namespace Korvel {

AutoLock::AutoLock(ILockable* lockable) : m_lockable(lockable)
{
    if (m_lockable)
        m_lockable->Lock();
}

AutoLock::~AutoLock()
{
    if (m_lockable)
        m_lockable->Unlock();
}

}  // namespace Korvel
