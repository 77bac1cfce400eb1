#pragma once
/// \file
/// ChannelOptions: what CommunicationChannel::Create(input, output, options) adds to a channel.
/// A default-constructed value gives the channel of Create(input, output, true).
///
/// - worker: the channel runs a worker thread (the others need it).
/// - handler: installed before the worker starts, so that it is told of every frame, the first
///   one included. A handler set with SetDataAvailableHandler after Create is not told of a
///   frame that came in between: the frame is held, but never announced to it.
/// - maxFrameLength: no announced length above it is trusted; such a length ends the worker
///   (WorkerEnd::FrameTooLong) before anything is allocated for it. Outgoing frames are not
///   bounded.
/// - wholeFramesOnly: a frame that the peer's end cuts short (end of input inside its length or
///   its payload) is never delivered, over any input: the worker ends (WorkerEnd::EndOfInput)
///   rather than hand out zeros or stale bytes at the announced length. The worker then reads
///   on while the input delivers, so an input that hands out a frame in pieces still works.
/// - readAhead: while a frame is held, the worker reads the next one into a second buffer, so
///   the peer keeps writing while readers copy the held frame out (for bulk transfers). Readers
///   and the handler see exactly what they see without it: a frame is announced only once the
///   one before it is used up, and so is the worker's end; a frame that a stop cuts short is
///   never announced. Memory: two buffers of the largest frame. Over an input whose Cancel does
///   nothing (a pipe without PipeOptions::cancellable) a channel holding a frame is also blocked
///   in that input's Read, so its destruction waits for the peer to send or close; pair it with
///   cancellable pipes.
///
/// Invalid options make Create throw std::invalid_argument: a handler, whole frames only or
/// read-ahead without a worker, or a maxFrameLength of 0.
#include "ZephExport/Export.h"
#include <limits>

#include "IO/IDataAvailableHandler.h"

namespace Korvel {
namespace Core {

/// Opt-in behaviour of a channel (see ChannelOptions.h).
struct ChannelOptions {
    bool worker = true;                        ///< run a worker thread
    IDataAvailableHandler* handler = nullptr;  ///< told of every frame from the first; owned by the caller
    unsigned long long maxFrameLength = std::numeric_limits<unsigned long long>::max();  ///< at least 1
    bool wholeFramesOnly = false;  ///< never deliver a frame the peer's end cut short
    bool readAhead = false;        ///< read the next frame while the held one is read (two buffers)
};

}  // namespace Core
}  // namespace Korvel
