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
// before and after a value. A null `text` means the caller has no such line.
struct LogSite {
    const char* file;
    int line;
    const char* text;
    const char* after = "";
};

}  // namespace Detail
}  // namespace Korvel

#define KORVEL_LOG_AT(file, line, severity)                       \
    if (!::Korvel::Detail::LogEnabled(::google::GLOG_##severity)) \
        ;                                                         \
    else                                                          \
        ::google::LogMessage((file), (line), ::google::GLOG_##severity).stream()

#define KORVEL_LOG(severity) KORVEL_LOG_AT(__FILE__, __LINE__, severity)

#define KORVEL_LOG_SITE(...) (::Korvel::Detail::LogSite{__FILE__, __LINE__, __VA_ARGS__})
