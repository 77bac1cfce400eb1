#pragma once
/// \file
/// ByteDataOutputRawProtocol: the write protocol that makes exactly one raw write per Write
/// and reports the bytes the raw write really took, also when it stopped early at an error.
/// Constructed directly and owned by one pipe through a std::unique_ptr; the pipe binds it
/// with SetByteDataOutput.
#include "ZephExport/Export.h"
#include "IO/IByteDataOutputProtocol.h"

namespace Korvel {
namespace Core {

/// The write protocol that makes exactly one raw write per Write (see ByteDataOutputRawProtocol.h).
class ZEPH_API ByteDataOutputRawProtocol : public virtual IByteDataOutputProtocol {
public:
    ByteDataOutputRawProtocol() = default;

    /// Without a bound raw output: logs an ERROR and returns 0.
    unsigned long long Write(const unsigned char* data, unsigned long long size) override;
    /// Not owned; null unbinds.
    void SetByteDataOutput(IByteDataOutputEx* sink) override;

private:
    IByteDataOutputEx* m_output = nullptr;
};

}  // namespace Core
}  // namespace Korvel
