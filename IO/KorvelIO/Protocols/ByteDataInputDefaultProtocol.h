#pragma once
/// \file
/// ByteDataInputDefaultProtocol: the read protocol that repeats raw reads until the request
/// is complete or a raw read fails, and counts only the raw reads that succeeded. Over a
/// pipe input (whose raw read succeeds only with the whole request) a Read returns either
/// the size asked for or 0. Constructed directly and owned by one pipe through a
/// std::unique_ptr; the pipe binds it with SetByteDataInput.
#include "ZephExport/Export.h"
#include "IO/IByteDataInputProtocol.h"

namespace Korvel {
namespace Core {

/// The read protocol that repeats raw reads until the request is complete (see ByteDataInputDefaultProtocol.h).
class ZEPH_API ByteDataInputDefaultProtocol : public virtual IByteDataInputProtocol {
public:
    ByteDataInputDefaultProtocol() = default;

    /// Without a bound raw input: logs an ERROR and returns 0. A size of 0 still makes one
    /// raw call.
    unsigned long long Read(unsigned char* buffer, unsigned long long size) override;
    /// Not owned; null unbinds.
    void SetByteDataInput(IByteDataInputEx* source) override;

private:
    IByteDataInputEx* m_input = nullptr;
};

}  // namespace Core
}  // namespace Korvel
