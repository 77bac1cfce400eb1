#include "IO/KorvelIO/PipeOptions.h"

#include "IO/Detail/PipeCore.h"
#include "IO/Detail/WakeEvent.h"

namespace Korvel {
namespace Core {

static_assert(kMaxPipeTransferSize == Detail::kMaxTransferSize, "one bound for the pipe core and its callers");
static_assert(kMaxPipeWaitLimit == Detail::kMaxWaitLimit, "one bound for the pipe core and its callers");

namespace {

// A deleter of this file's own, so that the shared pointer's internals stay out of the
// library's exported symbols.
struct Delete {
    void operator()(PipeCanceller* canceller) const { delete canceller; }
};

}  // namespace

std::shared_ptr<PipeCanceller> PipeCanceller::Create()
{
    return std::shared_ptr<PipeCanceller>(new PipeCanceller, Delete());
}

PipeCanceller::PipeCanceller() : m_event(std::make_shared<Detail::WakeEvent>()) {}

PipeCanceller::~PipeCanceller() = default;

void PipeCanceller::Cancel()
{
    m_event->Set();
}

bool PipeCanceller::IsCancelled() const
{
    return m_event->IsSet();
}

}  // namespace Core
}  // namespace Korvel
