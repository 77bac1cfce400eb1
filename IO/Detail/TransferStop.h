#pragma once
// Internal: why the calling thread's last pipe transfer stopped short when the peer was not the
// reason (a cancel or a wait limit), and how many bytes it had moved by then. The channel's
// worker asks after each read, as a caller asks errno, so that a frame cut short by a stop is
// never delivered as if the peer had sent it. Only pipes made with options ever stop this way.
namespace Korvel {
namespace Detail {

// Why a transfer or an open gave up.
enum class PipeStop { None, Cancelled, WaitLimit };

struct TransferStop {
    PipeStop why = PipeStop::None;
    unsigned long long moved = 0;  // bytes the stopped transfer had moved
};

// Both act on the calling thread's record only.
void ClearTransferStop();
TransferStop LastTransferStop();

}  // namespace Detail
}  // namespace Korvel
