#pragma once
// Hand-written test doubles: reference-counted byte inputs and outputs, and a data-available
// handler. Header-only, with no test framework, so the fuzz targets use them too.
#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <stdexcept>
#include <vector>

#include "IO/IByteDataInput.h"
#include "IO/IByteDataOutput.h"
#include "IO/IDataChannel.h"
#include "ZephPointer/RefCountImpl.h"

namespace ZephTest {

// Counts references as the library's objects do; the last Release deletes.
template <class Face>
class Counted : public virtual Face {
public:
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
    virtual ~Counted() = default;

private:
    Korvel::RefCountImpl m_refCount;
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

// Keeps every byte written to it.
class CollectingOutput : public Counted<Korvel::Core::IByteDataOutput> {
public:
    unsigned long long Write(const unsigned char* data, unsigned long long size) override
    {
        bytes.insert(bytes.end(), data, data + size);
        return size;
    }
    std::vector<unsigned char> bytes;
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
