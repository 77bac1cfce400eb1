#pragma once
/// \file
/// IWorkerEndHandler: an optional second face of a data-available handler, told when a channel's
/// worker has ended and no more frames will be announced.
#include "ZephExport/Export.h"

namespace Korvel {
namespace Core {

/// Implemented, beside IDataAvailableHandler, by a handler that wants to hear that a channel's
/// worker has ended: after an empty frame, end of input, a cancelled input, a frame length above
/// the channel's bound, an exception, or the channel's destruction. A channel whose handler does
/// not implement it behaves exactly as before.
///
/// OnWorkerEnded is called once per channel and handler, on the worker thread with the channel
/// mutex held, after the last OnDataAvailable; the rules of OnDataAvailable apply to it (no call
/// back into the channel, no blocking, no release of the channel's last reference). A handler
/// set after the worker has ended is told at once, on the thread that sets it. An exception it
/// throws is swallowed.
class ZEPH_API IWorkerEndHandler {
public:
    /// The worker has ended: no OnDataAvailable follows. A frame announced before may still be
    /// held and readable.
    virtual void OnWorkerEnded() = 0;

protected:
    ~IWorkerEndHandler() = default;
};

}  // namespace Core
}  // namespace Korvel
