#pragma once
/// \file
/// ByteDataOutputDefaultProtocol: the write protocol that repeats raw writes until the
/// request is complete or a raw write fails, and counts only the raw writes that succeeded.
/// Over a pipe output (whose raw write succeeds only with the whole request) a Write returns
/// either the size given or 0. Constructed directly and owned by one pipe through a
/// std::unique_ptr; the pipe binds it with SetByteDataOutput.
#include "ZephExport/Export.h"
#include "IO/IByteDataOutputProtocol.h"

namespace Korvel {
namespace Core {

/// The write protocol that repeats raw writes until the request is complete (see ByteDataOutputDefaultProtocol.h).
class ZEPH_API ByteDataOutputDefaultProtocol : public virtual IByteDataOutputProtocol {
public:
    ByteDataOutputDefaultProtocol() = default;

    /// Without a bound raw output: logs an ERROR and returns 0. A size of 0 still makes one
    /// raw call.
    unsigned long long Write(const unsigned char* data, unsigned long long size) override;
    /// Not owned; null unbinds.
    void SetByteDataOutput(IByteDataOutputEx* sink) override;

private:
    IByteDataOutputEx* m_output = nullptr;
};

}  // namespace Core
}  // namespace Korvel
