#pragma once
// Internal: throws through boost::throw_exception with the bare function name (__func__),
// so a report says "SetPosition" (or the class name in a constructor), not a signature.
#include <boost/assert/source_location.hpp>
#include <boost/throw_exception.hpp>

#if defined(__has_builtin)
#if __has_builtin(__builtin_COLUMN)
#define KORVEL_THROW_COLUMN __builtin_COLUMN()
#endif
#endif
#ifndef KORVEL_THROW_COLUMN
#define KORVEL_THROW_COLUMN 0
#endif

#define KORVEL_THROW(exception) \
    ::boost::throw_exception((exception), ::boost::source_location(__FILE__, __LINE__, __func__, KORVEL_THROW_COLUMN))

// The same, with the throw site and function of the caller of a shared helper.
#define KORVEL_THROW_AT(exception, file, line, function) \
    ::boost::throw_exception((exception), ::boost::source_location((file), (line), (function)))
