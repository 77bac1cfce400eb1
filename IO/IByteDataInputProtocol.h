#pragma once
/// \file
/// IByteDataInputProtocol: the strategy that turns a pipe input's Read into raw reads.
/// Not reference counted: a pipe owns its protocol through std::unique_ptr.
#include "ZephExport/Export.h"
#include "IO/IByteDataInputEx.h"

namespace Korvel {
namespace Core {

/// How a pipe input turns a caller's Read into raw reads. Owned by exactly one pipe
/// (std::unique_ptr); keeps a plain back pointer to that pipe's raw side.
class ZEPH_API IByteDataInputProtocol {
public:
    virtual ~IByteDataInputProtocol() {}
    /// Reads up to `size` bytes through the bound raw side; the bytes read.
    virtual unsigned long long Read(unsigned char* buffer, unsigned long long size) = 0;
    /// Binds the raw side to read from (not owned).
    virtual void SetByteDataInput(IByteDataInputEx* source) = 0;
};

}  // namespace Core
}  // namespace Korvel
