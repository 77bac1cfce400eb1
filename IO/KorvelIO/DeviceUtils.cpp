#include "IO/KorvelIO/DeviceUtils.h"

#include <strings.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <type_traits>
#include <vector>

#include <unicode/normalizer2.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>

#include "DeviceLayer.h"
#include "IO/Detail/Throw.h"
#include "IO/Exception.h"

namespace Korvel {
namespace Core {

static_assert(std::is_same<io_service_t, Platform::DeviceEntry>::value && IO_OBJECT_NULL == Platform::kNoDeviceEntry,
              "the device layer hands out the public entry handles");

namespace {

bool IsAscii(const std::string& text)
{
    return std::all_of(text.begin(), text.end(), [](unsigned char c) { return c < 0x80; });
}

// A case-sensitive Unicode search that finds `prefix` at position 0 of `text`: composed and
// decomposed spellings of the same accented letter match, and a match may not end inside a
// composed character.
bool BeginsWith(const std::string& text, const std::string& prefix)
{
    if (IsAscii(text) && IsAscii(prefix))
        return text.compare(0, prefix.size(), prefix) == 0;
    UErrorCode status = U_ZERO_ERROR;
    const icu::Normalizer2* nfd = icu::Normalizer2::getNFDInstance(status);
    if (U_FAILURE(status))
        return text.compare(0, prefix.size(), prefix) == 0;
    icu::UnicodeString normalText = nfd->normalize(icu::UnicodeString::fromUTF8(text), status);
    icu::UnicodeString normalPrefix = nfd->normalize(icu::UnicodeString::fromUTF8(prefix), status);
    if (U_FAILURE(status) || !normalText.startsWith(normalPrefix))
        return false;
    return normalText.length() == normalPrefix.length() ||
           u_getCombiningClass(normalText.char32At(normalPrefix.length())) == 0;
}

// "~" expanded, "//", "/./" and ".." folded, no trailing separator.
std::string StandardizePath(const std::string& path)
{
    std::string expanded = path;
    if (!path.empty() && path[0] == '~' && (path.size() == 1 || path[1] == '/')) {
        if (const char* home = std::getenv("HOME"))
            expanded = home + path.substr(1);
    }
    std::string normal = std::filesystem::path(expanded).lexically_normal().string();
    while (normal.size() > 1 && normal.back() == '/')
        normal.pop_back();
    return normal;
}

bool HasIfoExtension(const std::filesystem::path& entry)
{
    return strcasecmp(entry.extension().c_str(), ".ifo") == 0;
}

// Pressed DVD-ROM is ID_CDROM_MEDIA_DVD, pressed HD DVD ID_CDROM_MEDIA_HDDVD; every recordable
// and dual-layer kind adds a suffix (_DVD_R, _DVD_PLUS_RW_DL, _HDDVD_RAM, ...). CDs (_CD*) and
// Blu-ray (_BD*) don't match.
bool IsDvdMediaFlag(const std::string& flag)
{
    return flag.rfind("ID_CDROM_MEDIA_DVD", 0) == 0 || flag.rfind("ID_CDROM_MEDIA_HDDVD", 0) == 0;
}

// Releases an entry on every way out of a scope.
class EntryGuard {
public:
    explicit EntryGuard(io_service_t entry) : m_entry(entry) {}
    ~EntryGuard() { IOObjectRelease(m_entry); }
    EntryGuard(const EntryGuard&) = delete;
    EntryGuard& operator=(const EntryGuard&) = delete;

private:
    io_service_t m_entry;
};

}  // namespace

int IOObjectRelease(io_service_t entry)
{
    return Platform::CurrentDeviceLayer().Release(entry);
}

std::string DetermineDeviceIdForVolume(const std::string& volumePath)
{
    if (volumePath.empty())
        KORVEL_THROW(AddStack(std::invalid_argument("volumePath is empty")));

    // One reading of the mount table for the whole search. Server volumes never count; the
    // first local one whose folder begins the path wins.
    for (const Platform::MountedVolume& volume : Platform::CurrentDeviceLayer().GetVolumes()) {
        if (volume.local && BeginsWith(volumePath, "/Volumes/" + volume.name))
            return volume.deviceId.value_or(std::string());
    }
    return std::string();
}

std::optional<std::string> ObtainFullBSDDevicePathForDevice(io_service_t deviceEntry, bool raw)
{
    if (deviceEntry == IO_OBJECT_NULL)
        KORVEL_THROW(AddStack(std::invalid_argument("deviceEntry is IO_OBJECT_NULL")));

    std::optional<std::string> name = Platform::CurrentDeviceLayer().GetProperty(deviceEntry, "BSD Name");
    if (!name)
        return std::nullopt;
    std::string prefix = "/dev/";
    if (raw)
        prefix += "r";
    return prefix + *name;
}

io_service_t ObtainDeviceEntryForDeviceId(const std::string& deviceId)
{
    if (deviceId.empty())
        KORVEL_THROW(AddStack(std::invalid_argument("deviceId is empty")));

    return Platform::CurrentDeviceLayer().GetMatchingService(deviceId);
}

bool IsDeviceDVDWithDeviceId(const std::string& deviceId)
{
    if (deviceId.empty())
        KORVEL_THROW(AddStack(std::invalid_argument("deviceId is empty")));

    io_service_t entry = ObtainDeviceEntryForDeviceId(deviceId);
    if (entry == IO_OBJECT_NULL)
        return false;
    EntryGuard release(entry);
    const std::vector<std::string> media = Platform::CurrentDeviceLayer().GetMediaFlags(entry);
    return std::any_of(media.begin(), media.end(), IsDvdMediaFlag);
}

bool IsVolumeDVD(const std::string& volumePath)
{
    if (volumePath.empty())
        KORVEL_THROW(AddStack(std::invalid_argument("volumePath is empty")));

    std::string standardized = StandardizePath(volumePath);
    std::error_code error;
    if (!std::filesystem::exists(standardized, error))
        return false;
    // The root, the folder of volumes and the volume's name at the least.
    std::filesystem::path components(standardized);
    if (std::distance(components.begin(), components.end()) < 3)
        return false;

    std::string deviceId = DetermineDeviceIdForVolume(standardized);
    if (deviceId.empty())
        return false;
    return IsDeviceDVDWithDeviceId(deviceId);
}

bool IsDVDFromFolder(const std::string& folderPath)
{
    // Depth first, in the order the system lists each folder; a file lists as nothing.
    std::error_code error;
    std::filesystem::directory_iterator entries(folderPath, error);
    if (error)
        return false;
    for (std::filesystem::directory_iterator end; entries != end; entries.increment(error)) {
        const std::filesystem::path& entry = entries->path();
        if (HasIfoExtension(entry.filename()))
            return true;
        if (IsDVDFromFolder(entry.string()))
            return true;
    }
    return false;
}

std::string ObtainFullBSDDevicePathForVolumePath(const std::string& volumePath, bool raw)
{
    std::string deviceId = DetermineDeviceIdForVolume(volumePath);
    if (deviceId.empty())
        return std::string();
    io_service_t entry = ObtainDeviceEntryForDeviceId(deviceId);
    if (entry == IO_OBJECT_NULL)
        return std::string();
    EntryGuard release(entry);
    return ObtainFullBSDDevicePathForDevice(entry, raw).value_or(std::string());
}

}  // namespace Core
}  // namespace Korvel
