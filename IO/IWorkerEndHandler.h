#pragma once
/// \file
/// IWorkerEndHandler: an optional second face of a data-available handler, told when a channel's
/// worker has ended and no more frames will be announced, and why.
#include "ZephExport/Export.h"

namespace Korvel {
namespace Core {

/// Why a channel's worker ended.
enum class WorkerEnd {
    EndFrame,      ///< the peer sent an empty frame, its end-of-stream mark
    EndOfInput,    ///< the input delivered nothing more: the peer closed its end, or died
    FrameTooLong,  ///< the peer announced a length above the channel's bound
    Cancelled,     ///< the input was cancelled, or the channel is being destroyed
    Stalled,       ///< the peer stopped inside a frame for longer than the input's wait limit
    Failed,        ///< the input or the handler threw, or no buffer could hold the length
};

/// The name of `end` as written in WorkerEnd ("EndOfInput", ...), for messages.
ZEPH_API const char* WorkerEndName(WorkerEnd end);

/// Implemented, beside IDataAvailableHandler, by a handler that wants to hear that a channel's
/// worker has ended and why. A channel whose handler does not implement it behaves exactly as
/// before.
///
/// OnWorkerEnded is called once per channel and handler, on the worker thread with the channel
/// mutex held, after the last OnDataAvailable; the rules of OnDataAvailable apply to it (no call
/// back into the channel, no blocking, no release of the channel's last reference). A handler
/// set after the worker has ended is told at once, on the thread that sets it. An exception it
/// throws is swallowed.
class ZEPH_API IWorkerEndHandler {
public:
    /// The worker has ended for `reason`: no OnDataAvailable follows. A frame announced before
    /// may still be held and readable.
    virtual void OnWorkerEnded(WorkerEnd reason) = 0;

protected:
    ~IWorkerEndHandler() = default;
};

}  // namespace Core
}  // namespace Korvel
