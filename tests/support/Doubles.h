#pragma once
// Hand-written test doubles: reference-counted streams, a byte input, an output, and a
// data-available handler. Header only, with no test framework, so the fuzz targets use them too.
#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "IO/ZephIO.h"

namespace ZephTest {

// Counts references as the library's objects do; the last Release deletes. Counts its
// destructions into `destroyed` when that is set.
template <class Interface>
class Counted : public virtual Interface {
public:
    int* destroyed = nullptr;
    int AddRef() const override { return m_refCount.AddRefImpl(); }
    int GetRefCount() const override { return m_refCount.GetRefCountImpl(); }
    int Release() const override
    {
        const int count = m_refCount.ReleaseImpl();
        if (count == 0)
            delete this;
        return count;
    }

protected:
    ~Counted() override
    {
        if (destroyed)
            ++*destroyed;
    }

private:
    Korvel::RefCountImpl m_refCount;
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

// Gives out a copy of `bytes`, then end of stream. Unless created open, Read waits for Open
// (so a handler can be set before a worker takes anything). Counts Cancel calls.
class MemoryInput : public Counted<Korvel::Core::IByteDataInput> {
public:
    MemoryInput(const unsigned char* data, size_t size, bool open) : m_bytes(data, data + size), m_open(open) {}
    unsigned long long Read(unsigned char* buffer, unsigned long long size) override
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_opened.wait(lock, [this] { return m_open; });
        const size_t n = std::min<unsigned long long>(size, m_bytes.size() - m_position);
        std::copy_n(m_bytes.begin() + m_position, n, buffer);
        m_position += n;
        return n;
    }
    void Cancel() override { ++cancels; }
    void Open()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_open = true;
        m_opened.notify_all();
    }
    std::atomic<int> cancels{0};

private:
    std::vector<unsigned char> m_bytes;
    size_t m_position = 0;
    bool m_open;
    std::mutex m_mutex;
    std::condition_variable m_opened;
};

// Records every announced size; with `throws` set it then throws, as a failing handler would.
class RecordingHandler : public Korvel::Core::IDataAvailableHandler {
public:
    void OnDataAvailable(unsigned long long size) override
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_sizes.push_back(size);
        }
        if (throws)
            throw std::runtime_error("handler failed");
    }
    std::vector<unsigned long long> Sizes()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_sizes;
    }
    std::atomic<bool> throws{false};

private:
    std::mutex m_mutex;
    std::vector<unsigned long long> m_sizes;
};

}  // namespace ZephTest
