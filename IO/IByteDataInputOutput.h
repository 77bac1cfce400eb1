#pragma once
/// \file
/// IByteDataInputOutput: a duplex byte stream (the duplex pipe).
/// Objects come from a class's static Create as a boost::intrusive_ptr (count 1) and are destroyed by
/// their last Release; never delete one. No lock.
#include "ZephExport/Export.h"
#include "IO/IByteDataInput.h"
#include "IO/IByteDataOutput.h"

namespace Korvel {
namespace Core {

/// A duplex byte stream. Implementations override both Cancels with one function.
class ZEPH_API IByteDataInputOutput : public virtual IRefCountable,
                                      public virtual IByteDataInput,
                                      public virtual IByteDataOutput {
public:
    // Makes duplex->Cancel() unambiguous without adding a virtual function.
    using IByteDataInput::Cancel;
};

}  // namespace Core
}  // namespace Korvel
