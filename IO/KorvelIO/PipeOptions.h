#pragma once
/// \file
/// PipeOptions: what the options-taking Create functions of DataInputPipe, DataOutputPipe
/// and DataInputOutputPipe add to a pipe; and PipeCanceller, which stops many pipes at once.
/// A default-constructed PipeOptions gives the pipe of the other Create functions, but for
/// SIGPIPE: a pipe made by an options-taking Create never raises SIGPIPE and changes no
/// process-wide signal disposition (its open does not make the process ignore SIGPIPE, as the
/// other Create functions' opens do). A write to a reader that has gone fails with EPIPE,
/// logged, and returns its short count; the writing thread blocks SIGPIPE around the write
/// and takes back the one the write raised.
///
/// - closeOnExec: a FIFO is opened with O_CLOEXEC; a handed-over descriptor gets FD_CLOEXEC.
/// - cancellable: Cancel, from any thread, ends a Read or Write blocked in the pipe within
///   milliseconds. The call returns what it moved so far (ReadRaw and WriteRaw report false
///   with their count), one WARNING line names the pipe, and every later call returns at once
///   with nothing moved and no system call.
/// - waitLimit: a Read or Write that has waited this long for the peer (no byte moved)
///   returns what it moved so far, with a WARNING line; the pipe stays usable. An open by
///   name waits at most this long for the peer, then throws, unless openLimit is set. At most
///   kMaxPipeWaitLimit.
/// - openLimit: how long an open by name waits for its peer, whatever the wait limit of later
///   reads and writes (none included): a worker's input can have a bounded open and unbounded
///   reads. 0: the wait limit bounds the open. At most kMaxPipeWaitLimit.
/// - transferSize: the most bytes one system call moves (GetMaxReadSizeAtTime and
///   GetMaxWriteSizeAtTime return it). Above the system's default pipe buffer (64 KiB) the
///   pipe asks for a buffer of that size where the system has a way to ask, and goes on with
///   the smaller one where refused.
/// - canceller: cancelling it cancels every pipe created with it (as their own Cancel does),
///   and also an open by name still waiting for its peer, which then throws. An open with a
///   canceller already cancelled throws without opening anything.
///
/// An open that is cancelled or reaches its limit throws IOException as a failed open
/// does: DescriptionInfo "Failed to open input pipe: cancelled" (or ": wait limit reached",
/// or "output"), SystemErrorCodeInfo ECANCELED (ETIMEDOUT), DetailsInfo its system text.
///
/// An open by name with a wait limit or a canceller waits for its peer on a helper thread. It
/// is released by its limit or canceller also when the FIFO's name was removed or no longer
/// resolves (a relative name after a change of directory). A peer that connected before the
/// open was given up wins: the open then succeeds, even just past the limit or the cancel.
/// Where the waiting open cannot be undone (outside Linux a FIFO no longer reachable by its
/// name; anywhere, a FIFO whose other end this process may not open), the helper thread is
/// left blocked until someone opens the FIFO, and then closes it.
///
/// A pipe that waits (cancellable, a canceller or a wait limit) puts its descriptor in
/// non-blocking mode and waits in poll(), which costs no CPU; that mode is shared by every
/// duplicate of a handed-over descriptor while the pipe lives, and undone before the pipe
/// closes the descriptor. Invalid options make Create throw std::invalid_argument (a
/// handed-over descriptor is closed then, as on any failed Create).
#include "ZephExport/Export.h"
#include <chrono>
#include <memory>

namespace Korvel {
namespace Detail {
class WakeEvent;
struct PipeSettings;
}  // namespace Detail

namespace Core {

/// The largest PipeOptions::transferSize: 1 MiB.
constexpr unsigned long long kMaxPipeTransferSize = 1024 * 1024;
/// The longest PipeOptions::waitLimit: 100 years of 366 days (longer ones throw
/// std::invalid_argument; 0 waits without limit).
constexpr std::chrono::milliseconds kMaxPipeWaitLimit = std::chrono::hours(24 * 366 * 100);

/// Cancels every pipe created with options that carry it (see PipeOptions.h). Shared by
/// those pipes; thread-safe.
class ZEPH_API PipeCanceller {
public:
    /// A canceller not yet cancelled.
    static std::shared_ptr<PipeCanceller> Create();
    ~PipeCanceller();
    PipeCanceller(const PipeCanceller&) = delete;
    PipeCanceller& operator=(const PipeCanceller&) = delete;

    /// Cancels for good, from any thread; later calls change nothing.
    void Cancel();
    /// True once Cancel has been called.
    bool IsCancelled() const;

private:
    friend struct Detail::PipeSettings;
    PipeCanceller();

    std::shared_ptr<Detail::WakeEvent> m_event;
};

/// Opt-in behaviour of a pipe (see PipeOptions.h).
struct PipeOptions {
    bool closeOnExec = false;                  ///< O_CLOEXEC on open; FD_CLOEXEC on a handed-over descriptor
    bool cancellable = false;                  ///< Cancel() ends a blocked Read/Write (see canceller too)
    std::chrono::milliseconds waitLimit{0};    ///< 0: wait without limit; 0 .. kMaxPipeWaitLimit
    unsigned long long transferSize = 1024;    ///< bytes per system call, 1 .. kMaxPipeTransferSize
    std::shared_ptr<PipeCanceller> canceller;  ///< optional; implies cancellable
    std::chrono::milliseconds openLimit{0};    ///< bounds an open by name alone; 0: waitLimit does
};

}  // namespace Core
}  // namespace Korvel
