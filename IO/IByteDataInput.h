#pragma once
#include "ZephExport/Export.h"
#include "IO/IRefCountable.h"

namespace Korvel {
namespace Core {

// A source of bytes.
class ZEPH_API IByteDataInput : public virtual IRefCountable {
public:
    // Bytes stored into `buffer`, at most `size`; 0 when nothing more is available.
    virtual unsigned long long Read(unsigned char* buffer, unsigned long long size) = 0;
    // Unblocks a pending Read where the implementation can; does nothing by default.
    virtual void Cancel() {}
};

}  // namespace Core
}  // namespace Korvel
