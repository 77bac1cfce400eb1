#pragma once
/// \file
/// IByteDataInput: the read side every byte source offers (Read, Cancel).
/// Objects come from a class's static Create as a boost::intrusive_ptr (count 1) and are destroyed by
/// their last Release; never delete one.
#include "ZephExport/Export.h"
#include "IO/IRefCountable.h"

namespace Korvel {
namespace Core {

/// A source of bytes.
class ZEPH_API IByteDataInput : public virtual IRefCountable {
public:
    /// Bytes stored into `buffer`, at most `size`; 0 when nothing more is available.
    virtual unsigned long long Read(unsigned char* buffer, unsigned long long size) = 0;
    /// Unblocks a pending Read where the implementation can; does nothing by default.
    virtual void Cancel() {}
};

}  // namespace Core
}  // namespace Korvel
