// Birth times from statx, date text from ICU.
#include <fcntl.h>
#include <sys/stat.h>

#include <unicode/parsepos.h>
#include <unicode/smpdtfmt.h>
#include <unicode/unistr.h>

#include "FileDateLayer.h"

namespace Korvel {
namespace Platform {

namespace {

int StatxBirthTime(const std::string& path, int flags, struct statx& info)
{
    return statx(AT_FDCWD, path.c_str(), flags, STATX_BTIME, &info);
}

}  // namespace

std::optional<DateValue> CreationDateOfItem(const std::string& path)
{
    struct statx info = {};
    if (StatxBirthTime(path, AT_SYMLINK_NOFOLLOW, info) != 0 || !(info.stx_mask & STATX_BTIME))
        return std::nullopt;
    return static_cast<double>(info.stx_btime.tv_sec) * 1000.0 + info.stx_btime.tv_nsec / 1.0e6;
}

int StatBirthTime(const std::string& path, std::optional<long long>& seconds)
{
    struct statx info = {};
    if (StatxBirthTime(path, 0, info) != 0)
        return -1;
    if (info.stx_mask & STATX_BTIME)
        seconds = info.stx_btime.tv_sec;
    else
        seconds.reset();
    return 0;
}

struct DateTextFormatter::Impl {
    std::unique_ptr<icu::SimpleDateFormat> format;
};

DateTextFormatter::DateTextFormatter(const std::string& pattern) : m_impl(new Impl)
{
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::SimpleDateFormat> format(
        new icu::SimpleDateFormat(icu::UnicodeString::fromUTF8(pattern), status));
    if (U_FAILURE(status))
        return;
    // Strict like the platform formatters: text has to follow the pattern.
    format->setLenient(false);
    m_impl->format = std::move(format);
}

DateTextFormatter::~DateTextFormatter() = default;

std::optional<DateValue> DateTextFormatter::Parse(const std::string& text) const
{
    if (!m_impl->format)
        return std::nullopt;
    UErrorCode status = U_ZERO_ERROR;
    UDate date = m_impl->format->parse(icu::UnicodeString::fromUTF8(text), status);
    if (U_FAILURE(status))
        return std::nullopt;
    return date;
}

std::optional<std::string> DateTextFormatter::Format(DateValue date) const
{
    if (!m_impl->format)
        return std::nullopt;
    icu::UnicodeString text;
    m_impl->format->format(date, text);
    if (text.isBogus())
        return std::nullopt;
    std::string result;
    text.toUTF8String(result);
    return result;
}

}  // namespace Platform
}  // namespace Korvel
