#pragma once
// Internal: the one owner of a file descriptor. Whoever holds it closes it; nothing else in
// the library calls close(). Move-only; -1 means "no descriptor".
#include <unistd.h>

#include <utility>

namespace Korvel {
namespace Detail {

class ScopedDescriptor {
public:
    ScopedDescriptor() noexcept = default;
    explicit ScopedDescriptor(int descriptor) noexcept : m_descriptor(descriptor < 0 ? -1 : descriptor) {}
    ScopedDescriptor(ScopedDescriptor&& other) noexcept : m_descriptor(other.release()) {}
    ScopedDescriptor& operator=(ScopedDescriptor&& other) noexcept
    {
        reset(other.release());
        return *this;
    }
    ScopedDescriptor(const ScopedDescriptor&) = delete;
    ScopedDescriptor& operator=(const ScopedDescriptor&) = delete;
    ~ScopedDescriptor() { reset(); }

    int get() const noexcept { return m_descriptor; }
    explicit operator bool() const noexcept { return m_descriptor >= 0; }
    // Hands the descriptor over without closing it.
    int release() noexcept { return std::exchange(m_descriptor, -1); }
    // Closes the descriptor held (if any) and holds `descriptor` instead.
    void reset(int descriptor = -1) noexcept
    {
        Close();
        m_descriptor = descriptor < 0 ? -1 : descriptor;
    }
    // Closes now; false only when close() failed (for callers that report that).
    bool Close() noexcept
    {
        const int descriptor = release();
        return descriptor < 0 || close(descriptor) == 0;
    }

private:
    int m_descriptor = -1;
};

}  // namespace Detail
}  // namespace Korvel
