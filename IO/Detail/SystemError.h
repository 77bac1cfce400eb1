#pragma once
// Internal: the way a throw reports a failed system call with both its error number and its
// text (a pipe's open, a descriptor the library makes). Save errno right after the call, then
// attach the failure after the description:
//
//   const Detail::SystemError failure{errno};
//   KORVEL_THROW(IOException() << DescriptionInfo("Failed to open input pipe") << failure);
//
// It adds the error number (SystemErrorCodeInfo), then its system text (DetailsInfo). Throws
// that carry other details (the file streams, name generation) attach their own.
#include <cstring>
#include <string>
#include <type_traits>

#include "IO/Exception.h"

namespace Korvel {
namespace Detail {

struct SystemError {
    int number;  // errno, saved right after the failed call

    // The system's text for the error number (strerror).
    std::string Text() const { return std::strerror(number); }
};

template <class E>
typename std::enable_if<std::is_base_of<boost::exception, E>::value, const E&>::type operator<<(
    const E& e, const SystemError& failure)
{
    e << SystemErrorCodeInfo(failure.number) << DetailsInfo(failure.Text());
    return e;
}

}  // namespace Detail
}  // namespace Korvel
