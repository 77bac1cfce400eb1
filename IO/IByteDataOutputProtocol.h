#pragma once
/// \file
/// IByteDataOutputProtocol: the strategy that turns a pipe output's Write into raw writes.
/// Not reference counted: a pipe owns its protocol through std::unique_ptr.
#include "ZephExport/Export.h"
#include "IO/IByteDataOutputEx.h"

namespace Korvel {
namespace Core {

/// How a pipe output turns a caller's Write into raw writes. Owned by exactly one pipe
/// (std::unique_ptr); keeps a plain back pointer to that pipe's raw side.
class ZEPH_API IByteDataOutputProtocol {
public:
    virtual ~IByteDataOutputProtocol() {}
    /// Writes `size` bytes through the bound raw side; the bytes written.
    virtual unsigned long long Write(const unsigned char* data, unsigned long long size) = 0;
    /// Binds the raw side to write to (not owned).
    virtual void SetByteDataOutput(IByteDataOutputEx* sink) = 0;
};

}  // namespace Core
}  // namespace Korvel
