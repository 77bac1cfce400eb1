#pragma once
/// \file
/// ByteDataInputRawProtocol: the read protocol that makes exactly one raw read per Read and
/// reports the bytes it really placed in the buffer, also when it stopped early at end of
/// file or at an error. Constructed directly and owned by one pipe through a
/// std::unique_ptr; the pipe binds it with SetByteDataInput.
#include "ZephExport/Export.h"
#include "IO/IByteDataInputProtocol.h"

namespace Korvel {
namespace Core {

/// The read protocol that makes exactly one raw read per Read (see ByteDataInputRawProtocol.h).
class ZEPH_API ByteDataInputRawProtocol : public virtual IByteDataInputProtocol {
public:
    ByteDataInputRawProtocol() = default;

    /// Without a bound raw input: logs an ERROR and returns 0.
    unsigned long long Read(unsigned char* buffer, unsigned long long size) override;
    /// Not owned; null unbinds.
    void SetByteDataInput(IByteDataInputEx* source) override;

private:
    IByteDataInputEx* m_input = nullptr;
};

}  // namespace Core
}  // namespace Korvel
