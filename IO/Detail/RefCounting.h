#pragma once
// Internal: the forwarding bodies every counted class shares. `field` is the class's
// RefCountImpl (or LockImpl) member.

#define KORVEL_DEFINE_REFCOUNT(Class, field)   \
    int Class::AddRef() const                  \
    {                                          \
        return field.AddRefImpl();             \
    }                                          \
    int Class::GetRefCount() const             \
    {                                          \
        return field.GetRefCountImpl();        \
    }                                          \
    int Class::Release() const                 \
    {                                          \
        const int count = field.ReleaseImpl(); \
        if (count == 0)                        \
            delete this;                       \
        return count;                          \
    }

#define KORVEL_DEFINE_LOCKABLE(Class, field) \
    void Class::Lock()                       \
    {                                        \
        field.Lock_Impl();                   \
    }                                        \
    bool Class::TryLock()                    \
    {                                        \
        return field.TryLock_Impl();         \
    }                                        \
    void Class::Unlock()                     \
    {                                        \
        field.Unlock_Impl();                 \
    }
