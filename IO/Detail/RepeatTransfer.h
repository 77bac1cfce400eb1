#pragma once
// Internal: the loop of the Default protocols. `raw(offset, remaining, &transferred)` is
// one raw transfer; the loop repeats it until the request is complete or a raw transfer
// fails, and counts only the raw transfers that succeeded. A size of 0 still makes one call.
namespace Korvel {
namespace Detail {

template <class Raw>
unsigned long long RepeatUntilComplete(unsigned long long size, Raw raw)
{
    unsigned long long total = 0;
    unsigned long long remaining = size;
    for (;;) {
        unsigned long long transferred = 0;
        // A failed raw transfer may have moved bytes; they are not reported.
        if (!raw(total, remaining, &transferred))
            break;
        total += transferred;
        remaining -= transferred;
        if (remaining == 0)
            break;
    }
    return total;
}

}  // namespace Detail
}  // namespace Korvel
