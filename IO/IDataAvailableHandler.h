#pragma once

namespace Korvel {
namespace Core {

// Implemented by callers: told, on a channel's worker thread, that a message of `size`
// bytes has arrived. Not reference counted; the channel keeps a plain pointer.
class IDataAvailableHandler {
public:
    virtual void OnDataAvailable(unsigned long long size) = 0;

protected:
    ~IDataAvailableHandler() = default;
};

}  // namespace Core
}  // namespace Korvel
