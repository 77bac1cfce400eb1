#pragma once
// Internal: what the creation-date query asks of the system: birth times through statx, and
// date text through ICU's SimpleDateFormat in the default locale and time zone.
#include <memory>
#include <optional>
#include <string>

namespace Korvel {
namespace Platform {

// A point in time as milliseconds since 1970-01-01 00:00:00 UTC (ICU's UDate).
typedef double DateValue;

// The creation date's text: ISO week-based year, hours 1 to 24, as the original platform wrote it.
constexpr char kCreationDatePattern[] = "YYYY-MM-dd kk:mm:ss";

// Birth time of the item itself (a final symbolic link is not followed), to the nanosecond;
// none when the item can't be examined or its file system records no birth time.
std::optional<DateValue> CreationDateOfItem(const std::string& path);

// Like stat on `path` (links followed): 0 on success, -1 on failure. `seconds` receives the
// whole seconds of the birth time, none when the file system records none.
int StatBirthTime(const std::string& path, std::optional<long long>& seconds);

// Formats and parses with one Unicode date pattern. Not for sharing between threads.
class DateTextFormatter {
public:
    explicit DateTextFormatter(const std::string& pattern);
    ~DateTextFormatter();
    DateTextFormatter(const DateTextFormatter&) = delete;
    DateTextFormatter& operator=(const DateTextFormatter&) = delete;

    // None when the text does not match the pattern (or ICU could not make the formatter).
    std::optional<DateValue> Parse(const std::string& text) const;
    std::optional<std::string> Format(DateValue date) const;

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

}  // namespace Platform
}  // namespace Korvel
