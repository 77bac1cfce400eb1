#pragma once
/// \file
/// IDataInput: a named, sized, seekable byte source (memory, string, file streams).
/// Objects come from a class's static Create as a boost::intrusive_ptr (count 1) and are destroyed by
/// their last Release; never delete one.
/// Their lock (ILockable) is advisory: no operation takes it; see AutoLock.
#include "ZephExport/Export.h"
#include "IO/IByteDataInput.h"
#include "IO/ILockable.h"
#include "ZephFilesystem/ioPath.h"

namespace Korvel {
namespace Core {

/// A named, sized, positionable source. Its lock is advisory (see ILockable).
class ZEPH_API IDataInput : public virtual IByteDataInput, public virtual IRefCountable, public virtual ILockable {
public:
    /// The name the stream was created with (empty for unnamed streams).
    virtual const Korvel::ioPath& GetFilename() const = 0;
    /// The number of bytes the stream holds.
    virtual unsigned long long GetSize() const = 0;
    /// Where the next Read starts.
    virtual unsigned long long GetPosition() const = 0;
    /// Moves the position for the next Read.
    virtual void SetPosition(unsigned long long position) = 0;
};

}  // namespace Core
}  // namespace Korvel
