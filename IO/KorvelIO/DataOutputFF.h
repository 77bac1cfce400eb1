#pragma once
/// \file
/// DataOutputFF: a placeholder IDataOutput that carries a file name and nothing else. It never
/// creates or touches the file: Write returns 0 without reading the data, size and position
/// are always 0. Created by Create (count 1, never fails but for memory), destroyed by its
/// last Release; its lock is advisory.
#include "ZephExport/Export.h"
#include "IO/IDataOutput.h"
#include "IO/LockImpl.h"

namespace Korvel {
namespace Core {

/// An output that carries a file name and writes nothing (see DataOutputFF.h).
class ZEPH_API DataOutputFF : public virtual IDataOutput {
public:
    /// The path need not exist; it is only stored.
    static boost::intrusive_ptr<IDataOutput> Create(const Korvel::ioPath& path);

    unsigned long long Write(const unsigned char* data, unsigned long long size) override;
    const Korvel::ioPath& GetFilename() const override;
    unsigned long long GetSize() const override;
    void SetSize(unsigned long long size) override;
    unsigned long long GetPosition() const override;
    void SetPosition(unsigned long long position) override;

    void Lock() override;
    bool TryLock() override;
    void Unlock() override;

    int AddRef() const override;
    int GetRefCount() const override;
    int Release() const override;

private:
    explicit DataOutputFF(const Korvel::ioPath& path);

    LockImpl m_lock;
    RefCountImpl m_refCount;
    Korvel::ioPath m_path;
};

}  // namespace Core
}  // namespace Korvel
