#pragma once
/// \file
/// DataInputString: an IDataInput over a std::string the caller owns. The string is borrowed,
/// not copied: each call sees its current contents and length, so keep it alive while the
/// stream lives. Created by Create (count 1), destroyed by its last Release; its lock is
/// advisory and no operation takes it.
#include "ZephExport/Export.h"
#include <string>

#include "IO/IDataInput.h"
#include "IO/LockImpl.h"

namespace Korvel {
namespace Core {

/// A seekable input over a copy of a string (see DataInputString.h).
class ZEPH_API DataInputString : public virtual IDataInput {
public:
    /// `text` must not be null.
    static boost::intrusive_ptr<IDataInput> Create(const std::string* text);

    unsigned long long Read(unsigned char* buffer, unsigned long long size) override;
    const Korvel::ioPath& GetFilename() const override;
    unsigned long long GetSize() const override;
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
    explicit DataInputString(const std::string* text);

    LockImpl m_lock;
    RefCountImpl m_refCount;
    const std::string* m_string;
    unsigned long long m_position = 0;
    Korvel::ioPath m_name;
};

}  // namespace Core
}  // namespace Korvel
