#pragma once
/// \file
/// The pipe handle: how the handle-taking pipe Create functions, the duplex pipe and the
/// standard-stream adapters carry a file descriptor in a `void*`. The handle holds
/// descriptor + 1, so that descriptor 0 is representable and a null handle means "no
/// descriptor". Always convert with these two functions.
#include <cstdint>

namespace Korvel {
namespace Core {

/// Null for a negative (invalid) descriptor.
inline void* PipeHandleFromDescriptor(int descriptor)
{
    return descriptor < 0 ? nullptr : reinterpret_cast<void*>(static_cast<std::intptr_t>(descriptor) + 1);
}

/// -1 for a null handle.
inline int DescriptorFromPipeHandle(void* handle)
{
    return static_cast<int>(reinterpret_cast<std::intptr_t>(handle) - 1);
}

}  // namespace Core
}  // namespace Korvel
