#pragma once
// Reference-counted test doubles shared by the suites and the fuzz models. Header only, so a
// fuzz target can use them without the test support library.
#include <stdexcept>
#include <string>
#include <vector>

#include "IO/ZephIO.h"

namespace ZephTest {

// The library's own counting for any interface; counts its destructions into `destroyed`.
template <class Interface>
class Counted : public Interface {
public:
    int* destroyed = nullptr;
    ~Counted() override
    {
        if (destroyed)
            ++*destroyed;
    }
    int AddRef() const override { return m_count.AddRefImpl(); }
    int GetRefCount() const override { return m_count.GetRefCountImpl(); }
    int Release() const override
    {
        const int count = m_count.ReleaseImpl();
        if (count == 0)
            delete this;
        return count;
    }

private:
    Korvel::RefCountImpl m_count;
};

// An output appending to `text` that records the size of every Write; Write number `throwAt`
// (from 1; 0: none) throws std::runtime_error instead of writing.
class ScriptedOutput : public Counted<Korvel::Core::IDataOutput> {
public:
    static boost::intrusive_ptr<ScriptedOutput> Create(unsigned throwAt = 0) { return new ScriptedOutput(throwAt); }
    unsigned long long Write(const unsigned char* data, unsigned long long size) override
    {
        writes.push_back(size);
        if (writes.size() == throwAt)
            throw std::runtime_error("injected write failure");
        text.append(reinterpret_cast<const char*>(data), size);
        return size;
    }
    const Korvel::ioPath& GetFilename() const override { return m_name; }
    unsigned long long GetSize() const override { return text.size(); }
    void SetSize(unsigned long long) override {}
    unsigned long long GetPosition() const override { return text.size(); }
    void SetPosition(unsigned long long) override {}
    void Lock() override { m_lock.Lock_Impl(); }
    bool TryLock() override { return m_lock.TryLock_Impl(); }
    void Unlock() override { m_lock.Unlock_Impl(); }

    std::string text;
    std::vector<unsigned long long> writes;
    unsigned throwAt;

private:
    explicit ScriptedOutput(unsigned throwAtCall) : throwAt(throwAtCall) {}
    Korvel::LockImpl m_lock;
    Korvel::ioPath m_name;
};

}  // namespace ZephTest
