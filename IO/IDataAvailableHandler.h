#pragma once
/// \file
/// IDataAvailableHandler: implemented by callers to hear, on a channel's worker thread, that a frame has arrived.
/// Not reference counted: it belongs to the caller, who keeps it alive while a channel uses it.
#include "ZephExport/Export.h"

namespace Korvel {
namespace Core {

/// Implemented by callers: told, on a channel's worker thread, that a message of `size`
/// bytes has arrived. Not reference counted; the channel keeps a plain pointer.
class ZEPH_API IDataAvailableHandler {
public:
    /// A frame of `size` bytes is held; runs on the worker thread with the channel's mutex held.
    virtual void OnDataAvailable(unsigned long long size) = 0;

protected:
    ~IDataAvailableHandler() = default;
};

}  // namespace Core
}  // namespace Korvel
