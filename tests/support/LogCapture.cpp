#include "support/LogCapture.h"

namespace ZephTest {

LogCapture::LogCapture(google::LogSeverity minLevel)
    : m_savedMinLevel(FLAGS_minloglevel), m_savedStderr(FLAGS_logtostderr)
{
    FLAGS_minloglevel = minLevel;
    // Keep test output readable: captured lines are checked, not printed.
    FLAGS_logtostderr = false;
    google::AddLogSink(this);
}

LogCapture::~LogCapture()
{
    google::RemoveLogSink(this);
    FLAGS_minloglevel = m_savedMinLevel;
    FLAGS_logtostderr = m_savedStderr;
}

void LogCapture::send(google::LogSeverity severity, const char*, const char* base_filename, int, const struct ::tm*,
                      const char* message, size_t message_len)
{
    std::lock_guard<std::mutex> guard(m_mutex);
    m_lines.push_back(LogLine{severity, base_filename, std::string(message, message_len)});
}

std::vector<LogLine> LogCapture::Lines() const
{
    std::lock_guard<std::mutex> guard(m_mutex);
    return m_lines;
}

void LogCapture::Clear()
{
    std::lock_guard<std::mutex> guard(m_mutex);
    m_lines.clear();
}

}  // namespace ZephTest
