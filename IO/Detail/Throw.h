#pragma once
// Internal: throws through boost::throw_exception with the bare function name (__func__),
// so a report says "SetPosition" (or the class name in a constructor), not a signature.
#include <boost/assert/source_location.hpp>
#include <boost/throw_exception.hpp>

#include "IO/Detail/Log.h"

#define KORVEL_THROW(exception) \
    ::boost::throw_exception((exception), ::boost::source_location(__FILE__, __LINE__, __func__, KORVEL_SOURCE_COLUMN))

// The same for code shared by several classes that reports the throw at its caller's place:
// KORVEL_THROW_AT(exception, site, function), where `site` is a LogSite written in the
// caller's file with KORVEL_LOG_SITE (file, line and column) and `function` the name to report.
#define KORVEL_THROW_AT(exception, site, function) \
    ::boost::throw_exception((exception), ::Korvel::Detail::ThrowLocation((site), (function)))

namespace Korvel {
namespace Detail {

inline boost::source_location ThrowLocation(const LogSite& site, const char* function)
{
    return boost::source_location(site.file, site.line, function, site.column);
}

}  // namespace Detail
}  // namespace Korvel
