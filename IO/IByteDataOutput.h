#pragma once
/// \file
/// IByteDataOutput: the write side every byte sink offers (Write, Cancel).
/// Objects come from a class's static Create as a boost::intrusive_ptr (count 1) and are destroyed by
/// their last Release; never delete one.
#include "ZephExport/Export.h"
#include "IO/IRefCountable.h"

namespace Korvel {
namespace Core {

/// A sink of bytes.
class ZEPH_API IByteDataOutput : public virtual IRefCountable {
public:
    /// Bytes taken from `data`.
    virtual unsigned long long Write(const unsigned char* data, unsigned long long size) = 0;
    /// Unblocks a pending Write where the implementation can; does nothing by default.
    virtual void Cancel() {}
};

}  // namespace Core
}  // namespace Korvel
