#pragma once
// Internal: the one logging entry point. The message is built only when glog would keep it,
// which matters on the pipes' per-system-call path.
//
//   KORVEL_LOG(INFO) << "text";
#include <glog/logging.h>

namespace Korvel {
namespace Detail {

inline bool LogEnabled(google::LogSeverity severity)
{
    return severity >= FLAGS_minloglevel;
}

}  // namespace Detail
}  // namespace Korvel

#define KORVEL_LOG(severity)                                      \
    if (!::Korvel::Detail::LogEnabled(::google::GLOG_##severity)) \
        ;                                                         \
    else                                                          \
        ::google::LogMessage(__FILE__, __LINE__, ::google::GLOG_##severity).stream()
