#pragma once
/// \file
/// DataInputFile: an IDataInput over a file on disk, read in binary mode through stdio with
/// 64-bit offsets. The length is measured once, when the file is opened. Created by Create,
/// which throws IOException (file name, description, system error text, call stack) when the
/// file cannot be opened; destroyed, closing the file, by its last Release. Its lock is
/// advisory: hold it around SetPosition + Read when the stream is shared between threads.
#include "ZephExport/Export.h"
#include <cstdio>

#include "IO/IDataInput.h"
#include "IO/LockImpl.h"

namespace Korvel {
namespace Core {

/// A seekable input over a file on disk (see DataInputFile.h).
class ZEPH_API DataInputFile : public virtual IDataInput {
public:
    /// Opens the file for reading; throws IOException when it cannot.
    static boost::intrusive_ptr<IDataInput> Create(const Korvel::ioPath& path);

    /// True when the file was opened (always so for a stream that Create handed out).
    bool Good() const;

    /// Fewer bytes than asked at the end of the file or on a read error; never throws.
    unsigned long long Read(unsigned char* buffer, unsigned long long size) override;
    const Korvel::ioPath& GetFilename() const override;
    /// The length measured at opening.
    unsigned long long GetSize() const override;
    /// 2^64-1 when the system cannot tell.
    unsigned long long GetPosition() const override;
    /// A seek the system refuses (e.g. beyond 2^63-1) leaves the position as it was, silently.
    void SetPosition(unsigned long long position) override;

    void Lock() override;
    bool TryLock() override;
    void Unlock() override;

    int AddRef() const override;
    int GetRefCount() const override;
    int Release() const override;

private:
    explicit DataInputFile(const Korvel::ioPath& path);
    ~DataInputFile() override;
    DataInputFile(const DataInputFile&) = delete;
    DataInputFile& operator=(const DataInputFile&) = delete;

    LockImpl m_lock;
    RefCountImpl m_refCount;
    Korvel::ioPath m_path;
    FILE* m_file = nullptr;
    unsigned long long m_size = 0;
};

}  // namespace Core
}  // namespace Korvel
