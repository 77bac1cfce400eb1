#pragma once
/// \file
/// DataInputFF: a placeholder IDataInput that carries a file name and nothing else. It never
/// opens or looks at the file: Read returns 0, size and position are always 0. Created by
/// Create (count 1, never fails but for memory), destroyed by its last Release; its lock is
/// advisory.
#include "ZephExport/Export.h"
#include "IO/IDataInput.h"
#include "IO/LockImpl.h"

namespace Korvel {
namespace Core {

/// An input that carries a file name and reads nothing (see DataInputFF.h).
class ZEPH_API DataInputFF : public virtual IDataInput {
public:
    /// The path need not exist; it is only stored.
    static boost::intrusive_ptr<IDataInput> Create(const Korvel::ioPath& path);

    unsigned long long Read(unsigned char* buffer, unsigned long long size) override;
    const Korvel::ioPath& GetFilename() const override;
    unsigned long long GetSize() const override;
    unsigned long long GetPosition() const override;
    void SetPosition(unsigned long long position) override;

    void Lock() override;
    bool TryLock() override;
    void Unlock() override;

    int AddRef() const override;
    int GetRefCount() const override;
    int Release() const override;

private:
    explicit DataInputFF(const Korvel::ioPath& path);

    LockImpl m_lock;
    RefCountImpl m_refCount;
    Korvel::ioPath m_path;
};

}  // namespace Core
}  // namespace Korvel
