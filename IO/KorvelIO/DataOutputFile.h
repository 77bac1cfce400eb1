#pragma once
/// \file
/// DataOutputFile: an IDataOutput over a file on disk, written in binary mode through stdio
/// with 64-bit offsets. Create first creates the missing directories above the file, then
/// creates the file or truncates it; it throws IOException (the system's error text) when the
/// file cannot be opened or measured. Every Write is flushed to the system before it returns.
/// Destroyed, closing the file, by its last Release. Its lock is advisory: hold it around
/// SetPosition + Write when the stream is shared between threads.
#include "ZephExport/Export.h"
#include <cstdio>
#include <memory>

#include "IO/IDataOutput.h"
#include "IO/LockImpl.h"

namespace Korvel {
namespace Core {

/// A seekable output over a file on disk (see DataOutputFile.h).
class ZEPH_API DataOutputFile : public virtual IDataOutput {
public:
    /// Creates (or truncates) the file and the missing directories above it; throws
    /// IOException when it cannot.
    static boost::intrusive_ptr<IDataOutput> Create(const Korvel::ioPath& path);

    /// Closes `file` when it is not null: the deleter of the stream's file, and the only place
    /// it is closed.
    static void Fclose(FILE* file);

    /// True when the file is open (always so for a stream that Create handed out).
    bool Good() const;

    /// Returns what fwrite took (a short count is not an error); throws IOException with the
    /// system's error text when the flush fails. Bytes already taken are never undone.
    unsigned long long Write(const unsigned char* data, unsigned long long size) override;
    const Korvel::ioPath& GetFilename() const override;
    /// The length measured right after opening (0 for a regular file: opening truncates it).
    unsigned long long GetSize() const override;
    /// Does nothing: the file is never truncated or extended this way.
    void SetSize(unsigned long long size) override;
    /// 2^64-1 when the system cannot tell.
    unsigned long long GetPosition() const override;
    /// Throws IOException with the system's error text when the seek fails (e.g. beyond
    /// 2^63-1); the position is then unchanged and the stream stays usable.
    void SetPosition(unsigned long long position) override;

    void Lock() override;
    bool TryLock() override;
    void Unlock() override;

    int AddRef() const override;
    int GetRefCount() const override;
    int Release() const override;

private:
    explicit DataOutputFile(const Korvel::ioPath& path);

    LockImpl m_lock;
    RefCountImpl m_refCount;
    Korvel::ioPath m_path;
    std::shared_ptr<FILE> m_file;
    unsigned long long m_size = 0;
};

}  // namespace Core
}  // namespace Korvel
