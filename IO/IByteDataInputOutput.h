#pragma once
#include "ZephExport/Export.h"
#include "IO/IByteDataInput.h"
#include "IO/IByteDataOutput.h"

namespace Korvel {
namespace Core {

// A duplex byte stream. Implementations override both Cancels with one function.
class ZEPH_API IByteDataInputOutput : public virtual IRefCountable, public virtual IByteDataInput, public virtual IByteDataOutput {
};

}  // namespace Core
}  // namespace Korvel
