#pragma once
#include "ZephExport/Export.h"
#include "IO/IByteDataOutput.h"
#include "IO/INotifyingByteDataInput.h"

namespace Korvel {
namespace Core {

// A framed duplex channel.
class ZEPH_API IDataChannel : public virtual INotifyingByteDataInput, public virtual IByteDataOutput, public virtual IRefCountable {
};

}  // namespace Core
}  // namespace Korvel
