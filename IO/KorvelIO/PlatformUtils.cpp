#include "IO/KorvelIO/PlatformUtils.h"

#include <optional>

#include "FileDateLayer.h"

namespace Korvel {
namespace Core {

// Every failure of the system calls gives the empty string; nothing here throws on its own.
std::string GetFileCreationDateString(const Korvel::ioPath& path)
{
    const std::string utf8Path = path.utf8string();
    std::optional<Platform::DateValue> date = Platform::CreationDateOfItem(utf8Path);
    if (!date)
        return std::string();

    Platform::DateTextFormatter formatter(Platform::kCreationDatePattern);
    // Some file systems report this placeholder when they keep no creation date; the birth
    // time from stat is the better answer then.
    std::optional<Platform::DateValue> placeholder = formatter.Parse("1904-01-01 00:00:00");
    if (!placeholder)
        return std::string();
    if (*date == *placeholder) {
        std::optional<long long> seconds;
        if (Platform::StatBirthTime(utf8Path, seconds) != 0 || !seconds)
            return std::string();
        date = static_cast<double>(*seconds) * 1000.0;
    }
    return formatter.Format(*date).value_or(std::string());
}

}  // namespace Core
}  // namespace Korvel
