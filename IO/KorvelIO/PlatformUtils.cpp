#include "IO/KorvelIO/PlatformUtils.h"

#include <optional>

#include "FileDateLayer.h"

namespace Korvel {
namespace Core {

namespace {

// The failures this function answers with an empty string itself. Kept private so that no
// other exception (an allocation failure, say) is swallowed by mistake.
struct DateRaise {
    const char* name;
    const char* reason;
};

[[noreturn]] void Raise(const char* name, const char* reason)
{
    throw DateRaise{name, reason};
}

}  // namespace

std::string GetFileCreationDateString(const Korvel::ioPath& path)
{
    std::string result;
    try {
        const std::string utf8Path = path.utf8string();
        std::optional<Platform::DateValue> date = Platform::CreationDateOfItem(utf8Path);
        if (!date)
            Raise("Null pointer", "NSDictionary is nil");

        Platform::DateTextFormatter formatter("YYYY-MM-dd kk:mm:ss");
        // Some file systems report this placeholder when they keep no creation date; the
        // birth time from stat is the better answer then.
        std::optional<Platform::DateValue> placeholder = formatter.Parse("1904-01-01 00:00:00");
        if (!placeholder)
            Raise("Null pointer", "NSDate is nil");
        if (*date == *placeholder) {
            std::optional<long long> seconds;
            if (Platform::StatBirthTime(utf8Path, seconds) != 0)
                Raise("Function failed", "stat returns non-zero value");
            if (!seconds)
                Raise("Null pointer", "NSDate is nil");
            date = static_cast<double>(*seconds) * 1000.0;
        }
        result = formatter.Format(*date).value_or(std::string());
    } catch (const DateRaise&) {
        // The answer stays empty.
    }
    return result;
}

}  // namespace Core
}  // namespace Korvel
