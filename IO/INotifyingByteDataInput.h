#pragma once
/// \file
/// INotifyingByteDataInput: a byte source that tells a handler when data has arrived.
/// Objects come from a class's static Create as a boost::intrusive_ptr (count 1) and are destroyed by
/// their last Release; never delete one.
#include "ZephExport/Export.h"
#include "IO/IByteDataInput.h"
#include "IO/IDataAvailableHandler.h"

namespace Korvel {
namespace Core {

/// A byte source that tells a handler when data has arrived.
class ZEPH_API INotifyingByteDataInput : public virtual IByteDataInput, public virtual IRefCountable {
public:
    /// Not owned; null removes the handler.
    virtual void SetDataAvailableHandler(IDataAvailableHandler* handler) = 0;
    /// True when received data waits to be read (the spelling is part of the API).
    virtual bool IsDataAvaliable() const = 0;
    /// The next frame header read from the underlying input.
    virtual unsigned long long ReadHeader() = 0;
};

}  // namespace Core
}  // namespace Korvel
