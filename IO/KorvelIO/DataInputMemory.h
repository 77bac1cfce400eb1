#pragma once
/// \file
/// DataInputMemory: an IDataInput over a block of memory the caller owns. The bytes are
/// borrowed, not copied: keep the block alive and unchanged while the stream lives.
/// Created by Create (count 1), destroyed by its last Release; its lock is advisory.
#include "ZephExport/Export.h"
#include "IO/IDataInput.h"
#include "IO/LockImpl.h"

namespace Korvel {
namespace Core {

class DataBitInput;

/// A seekable input over a block of memory the caller owns (see DataInputMemory.h).
class ZEPH_API DataInputMemory : public IDataInput {
public:
    /// A null `data` with `size` 0 is a valid empty stream; a null `data` with any other size
    /// throws std::invalid_argument.
    static boost::intrusive_ptr<IDataInput> Create(const unsigned char* data, unsigned long long size);

    unsigned long long Read(unsigned char* buffer, unsigned long long size) override;
    const Korvel::ioPath& GetFilename() const override;
    unsigned long long GetSize() const override;
    unsigned long long GetPosition() const override;
    /// Throws IOException (SeekInfo = position) past the end; the position is then unchanged.
    void SetPosition(unsigned long long position) override;

    void Lock() override;
    bool TryLock() override;
    void Unlock() override;

    int AddRef() const override;
    int GetRefCount() const override;
    int Release() const override;

private:
    friend class DataBitInput;  // takes bytes straight from the block, moving the position
    DataInputMemory(const unsigned char* data, unsigned long long size);

    LockImpl m_lock;
    RefCountImpl m_refCount;
    const unsigned char* m_data;
    unsigned long long m_size;
    unsigned long long m_position = 0;
    Korvel::ioPath m_name;
};

}  // namespace Core
}  // namespace Korvel
