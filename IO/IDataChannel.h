#pragma once
/// \file
/// IDataChannel: a framed duplex channel (see CommunicationChannel).
/// Objects come from a class's static Create as a boost::intrusive_ptr (count 1) and are destroyed by
/// their last Release; never delete one. No lock.
#include "ZephExport/Export.h"
#include "IO/IByteDataOutput.h"
#include "IO/INotifyingByteDataInput.h"

namespace Korvel {
namespace Core {

/// A framed duplex channel.
class ZEPH_API IDataChannel : public virtual INotifyingByteDataInput,
                              public virtual IByteDataOutput,
                              public virtual IRefCountable {
public:
    // Both sides declare a Cancel, which would make channel->Cancel() ambiguous. Naming one
    // adds no virtual function: the call still reaches the implementation's single override.
    using IByteDataInput::Cancel;
};

}  // namespace Core
}  // namespace Korvel
