#pragma once
#include "ZephExport/Export.h"
#include "IO/IByteDataInput.h"
#include "IO/ILockable.h"
#include "ZephFilesystem/ioPath.h"

namespace Korvel {
namespace Core {

// A named, sized, positionable source. Its lock is advisory (see ILockable).
class ZEPH_API IDataInput : public virtual IByteDataInput, public virtual IRefCountable, public virtual ILockable {
public:
    virtual const Korvel::ioPath& GetFilename() const = 0;
    virtual unsigned long long GetSize() const = 0;
    virtual unsigned long long GetPosition() const = 0;
    virtual void SetPosition(unsigned long long position) = 0;
};

}  // namespace Core
}  // namespace Korvel
