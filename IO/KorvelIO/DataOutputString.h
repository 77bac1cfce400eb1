#pragma once
/// \file
/// DataOutputString: an IDataOutput that writes into a std::string the caller owns,
/// overwriting in place and growing the string when a write runs past its end. The string
/// keeps its content at creation (writing starts by overwriting its first bytes) and the
/// caller sees written bytes at once. Created by Create (count 1), destroyed by its last
/// Release; its lock is advisory and no operation takes it.
#include "ZephExport/Export.h"
#include <string>

#include "IO/IDataOutput.h"
#include "IO/LockImpl.h"

namespace Korvel {
namespace Core {

/// A seekable output into a string the caller owns (see DataOutputString.h).
class ZEPH_API DataOutputString : public virtual IDataOutput {
public:
    /// `text` must not be null; only the stream modifies it while the stream is in use.
    static boost::intrusive_ptr<IDataOutput> Create(std::string* text);

    /// Always takes the whole count. Throws std::length_error, changing nothing, when position
    /// + size does not fit in 64 bits (or the string cannot grow that far).
    unsigned long long Write(const unsigned char* data, unsigned long long size) override;
    const Korvel::ioPath& GetFilename() const override;
    unsigned long long GetSize() const override;
    /// Resizes the string (zero bytes when it grows); a position beyond the new end moves to it.
    void SetSize(unsigned long long size) override;
    unsigned long long GetPosition() const override;
    /// Throws IOException (SeekInfo = position) past the string's end; the position is then unchanged.
    void SetPosition(unsigned long long position) override;

    void Lock() override;
    bool TryLock() override;
    void Unlock() override;

    int AddRef() const override;
    int GetRefCount() const override;
    int Release() const override;

private:
    explicit DataOutputString(std::string* text);

    LockImpl m_lock;
    RefCountImpl m_refCount;
    std::string* m_string;
    unsigned long long m_position = 0;
    Korvel::ioPath m_name;
};

}  // namespace Core
}  // namespace Korvel
