#pragma once
// Internal: the one logging entry point. The message is built only when glog would keep it,
// which matters on the pipes' per-system-call path.
//
//   KORVEL_LOG(INFO) << "text";
//
// Shared code that logs on behalf of its caller takes the caller's LogSite (written with
// KORVEL_LOG_SITE in the caller's file) and logs with KORVEL_LOG_AT, so that the line names
// the class it is about, not the shared code:
//
//   KORVEL_LOG_AT(site.file, site.line, INFO) << site.text;
#include <glog/logging.h>

namespace Korvel {
namespace Detail {

inline bool LogEnabled(google::LogSeverity severity)
{
    return severity >= FLAGS_minloglevel;
}

// A log line written for a caller: the caller's source line, and the text, or the texts
// before and after a value. A null `text` means the caller has no such line. A throw made for
// the caller reports the same place (KORVEL_THROW_AT), with its column.
struct LogSite {
    const char* file;
    int line;
    const char* text;
    const char* after = "";
    int column = 0;
};

constexpr LogSite MakeLogSite(const char* file, int line, int column, const char* text, const char* after = "")
{
    return LogSite{file, line, text, after, column};
}

}  // namespace Detail
}  // namespace Korvel

// The column of the source position, where the compiler can tell it (clang); 0 otherwise, as
// boost records it.
#if defined(__has_builtin)
#if __has_builtin(__builtin_COLUMN)
#define KORVEL_SOURCE_COLUMN __builtin_COLUMN()
#endif
#endif
#ifndef KORVEL_SOURCE_COLUMN
#define KORVEL_SOURCE_COLUMN 0
#endif

#define KORVEL_LOG_AT(file, line, severity)                       \
    if (!::Korvel::Detail::LogEnabled(::google::GLOG_##severity)) \
        ;                                                         \
    else                                                          \
        ::google::LogMessage((file), (line), ::google::GLOG_##severity).stream()

#define KORVEL_LOG(severity) KORVEL_LOG_AT(__FILE__, __LINE__, severity)

#define KORVEL_LOG_SITE(...) (::Korvel::Detail::MakeLogSite(__FILE__, __LINE__, KORVEL_SOURCE_COLUMN, __VA_ARGS__))
