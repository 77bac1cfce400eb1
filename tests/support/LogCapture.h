#pragma once
// Captures the glog lines emitted while it lives, through a google::LogSink.
#include <algorithm>
#include <mutex>
#include <string>
#include <vector>

#include <glog/logging.h>

namespace ZephTest {

struct LogLine {
    google::LogSeverity severity;
    std::string file;  // base name of the source file
    std::string message;
};

class LogCapture : public google::LogSink {
public:
    // `minLevel` becomes glog's minimum level while the capture lives (restored afterwards).
    explicit LogCapture(google::LogSeverity minLevel = google::GLOG_INFO);
    ~LogCapture() override;

    void send(google::LogSeverity severity, const char* full_filename, const char* base_filename, int line,
              const struct ::tm* tm_time, const char* message, size_t message_len) override;

    std::vector<LogLine> Lines() const;
    std::vector<std::string> Messages() const
    {
        std::vector<std::string> out;
        for (const auto& l : Lines())
            out.push_back(l.message);
        return out;
    }
    // Number of captured messages equal to `message`.
    size_t Count(const std::string& message) const
    {
        const auto messages = Messages();
        return static_cast<size_t>(std::count(messages.begin(), messages.end(), message));
    }
    bool Contains(const std::string& message) const { return Count(message) != 0; }
    void Clear();

private:
    mutable std::mutex m_mutex;
    std::vector<LogLine> m_lines;
    int m_savedMinLevel;
    bool m_savedStderr;
};

}  // namespace ZephTest
