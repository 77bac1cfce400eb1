#pragma once
// Internal: the one way a throw reports a failed system call. Save errno right after the call,
// then attach the failure to the exception with the other details:
//
//   const Detail::SystemError failure{errno, path};
//   KORVEL_THROW(IOException() << DescriptionInfo("Can not open file for reading") << failure);
//
// It adds the error number (SystemErrorCodeInfo), its system text (DetailsInfo) and, when one
// is known, the file concerned (FilenameInfo), so every such exception answers the same questions.
#include <cstring>
#include <string>
#include <type_traits>

#include "IO/Exception.h"

namespace Korvel {
namespace Detail {

struct SystemError {
    int number;                            // errno, saved right after the failed call
    std::string filename = std::string();  // the file concerned, as UTF-8; empty when none is known

    // The system's text for the error number (strerror).
    std::string Text() const { return std::strerror(number); }
};

template <class E>
typename std::enable_if<std::is_base_of<boost::exception, E>::value, const E&>::type operator<<(
    const E& e, const SystemError& failure)
{
    e << SystemErrorCodeInfo(failure.number) << DetailsInfo(failure.Text());
    if (!failure.filename.empty())
        e << FilenameInfo(failure.filename);
    return e;
}

}  // namespace Detail
}  // namespace Korvel
