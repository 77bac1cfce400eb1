#include "MountInfo.h"

#include <algorithm>
#include <charconv>
#include <filesystem>
#include <fstream>
#include <unordered_map>
#include <utility>

namespace Korvel {
namespace Platform {

namespace {

const std::string_view kVolumesFolder = "/Volumes/";

std::vector<std::string_view> SplitFields(std::string_view line)
{
    std::vector<std::string_view> fields;
    size_t pos = 0;
    while (pos < line.size()) {
        size_t start = line.find_first_not_of(' ', pos);
        if (start == std::string_view::npos)
            break;
        size_t end = line.find(' ', start);
        if (end == std::string_view::npos)
            end = line.size();
        fields.push_back(line.substr(start, end - start));
        pos = end;
    }
    return fields;
}

bool ParseId(std::string_view text, int& value)
{
    const char* end = text.data() + text.size();
    auto result = std::from_chars(text.data(), end, value);
    return result.ec == std::errc() && result.ptr == end;
}

// Where a mount stands: its parent mount and its mount point.
typedef std::pair<int, std::string_view> Place;

struct PlaceHash {
    size_t operator()(const Place& place) const
    {
        return std::hash<std::string_view>()(place.second) * 31 + std::hash<int>()(place.first);
    }
};

bool IsOctal(char c)
{
    return c >= '0' && c <= '7';
}

}  // namespace

std::string DecodeMountInfoEscapes(std::string_view text)
{
    std::string decoded;
    decoded.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 3 < text.size() && IsOctal(text[i + 1]) && IsOctal(text[i + 2]) &&
            IsOctal(text[i + 3])) {
            int value = (text[i + 1] - '0') * 64 + (text[i + 2] - '0') * 8 + (text[i + 3] - '0');
            if (value <= 0xFF) {
                decoded.push_back(static_cast<char>(value));
                i += 3;
                continue;
            }
        }
        decoded.push_back(text[i]);
    }
    return decoded;
}

std::optional<MountEntry> ParseMountInfoLine(std::string_view line)
{
    // ID PARENT MAJ:MIN ROOT MOUNTPOINT OPTIONS [OPTIONAL...] - FSTYPE SOURCE SUPEROPTIONS
    std::vector<std::string_view> fields = SplitFields(line);
    if (fields.size() < 9)
        return std::nullopt;
    auto separator = std::find(fields.begin() + 6, fields.end(), std::string_view("-"));
    if (separator == fields.end() || fields.end() - separator < 3)
        return std::nullopt;

    MountEntry entry;
    if (!ParseId(fields[0], entry.mountId) || !ParseId(fields[1], entry.parentId))
        return std::nullopt;
    entry.root = DecodeMountInfoEscapes(fields[3]);
    entry.mountPoint = DecodeMountInfoEscapes(fields[4]);
    entry.fsType = DecodeMountInfoEscapes(separator[1]);
    entry.source = DecodeMountInfoEscapes(separator[2]);
    if (entry.mountPoint.empty() || entry.mountPoint[0] != '/')
        return std::nullopt;
    return entry;
}

std::vector<MountEntry> ParseMountInfo(std::istream& input)
{
    std::vector<MountEntry> entries;
    std::string line;
    while (std::getline(input, line)) {
        if (std::optional<MountEntry> entry = ParseMountInfoLine(line))
            entries.push_back(std::move(*entry));
    }
    return entries;
}

bool IsNetworkFileSystem(std::string_view fsType)
{
    static const std::string_view kNetworkTypes[] = {"nfs",
                                                     "nfs4",
                                                     "cifs",
                                                     "smb3",
                                                     "smbfs",
                                                     "ncpfs",
                                                     "afs",
                                                     "9p",
                                                     "ceph",
                                                     "glusterfs",
                                                     "coda",
                                                     "lustre",
                                                     "davfs",
                                                     "fuse.sshfs",
                                                     "fuse.glusterfs",
                                                     "fuse.ceph",
                                                     "fuse.davfs2",
                                                     "fuse.s3fs",
                                                     "fuse.rclone",
                                                     "fuse.smbnetfs",
                                                     "fuse.gvfsd-fuse"};
    return std::find(std::begin(kNetworkTypes), std::end(kNetworkTypes), fsType) != std::end(kNetworkTypes);
}

std::optional<std::string> DeviceIdForMountSource(const std::string& source)
{
    const std::string devFolder = "/dev/";
    if (source.compare(0, devFolder.size(), devFolder) != 0)
        return std::nullopt;
    std::error_code error;
    std::filesystem::path resolved = std::filesystem::weakly_canonical(source, error);
    if (error)
        resolved = std::filesystem::path(source).lexically_normal();
    std::string text = resolved.string();
    if (text.size() <= devFolder.size() || text.compare(0, devFolder.size(), devFolder) != 0)
        return std::nullopt;
    // The kernel names nested device nodes with '!' ("cciss/c0d0" is "cciss!c0d0").
    std::string name = text.substr(devFolder.size());
    std::replace(name.begin(), name.end(), '/', '!');
    return name;
}

std::vector<MountedVolume> VolumesFromMounts(const std::vector<MountEntry>& mounts)
{
    std::unordered_map<int, size_t> byId;
    std::unordered_map<Place, std::vector<size_t>, PlaceHash> byPlace;
    for (size_t i = 0; i < mounts.size(); ++i) {
        byId.emplace(mounts[i].mountId, i);
        byPlace[{mounts[i].parentId, mounts[i].mountPoint}].push_back(i);
    }
    // A mount other than `i` and `above` hangs from `parent` at `point`.
    auto standsAt = [&](int parent, std::string_view point, size_t i, size_t above) {
        auto found = byPlace.find({parent, point});
        if (found == byPlace.end())
            return false;
        return std::any_of(found->second.begin(), found->second.end(), [&](size_t j) { return j != i && j != above; });
    };
    // Covered: another mount stands on the same point on top of it, or on a folder above it
    // in the same parent mount. `above` (the mount we came from) does not count. Looking up
    // each folder above the point keeps this independent of the size of the table.
    auto covered = [&](size_t i, size_t above) {
        const MountEntry& m = mounts[i];
        const std::string_view point = m.mountPoint;
        if (standsAt(m.mountId, point, i, above))
            return true;
        if (point != "/" && standsAt(m.parentId, "/", i, above))
            return true;
        for (size_t slash = point.find('/', 1); slash != std::string_view::npos; slash = point.find('/', slash + 1)) {
            if (standsAt(m.parentId, point.substr(0, slash), i, above))
                return true;
        }
        return false;
    };
    // Reachable: neither it nor any mount it hangs from is covered. The walk is bounded by the
    // number of mounts, so a malformed table with a parent cycle can't loop forever.
    auto reachable = [&](size_t i) {
        size_t above = mounts.size();
        for (size_t steps = 0; steps <= mounts.size(); ++steps) {
            if (covered(i, above))
                return false;
            auto parent = byId.find(mounts[i].parentId);
            if (parent == byId.end() || parent->second == i)
                return true;
            above = i;
            i = parent->second;
        }
        return false;
    };

    std::vector<MountedVolume> volumes;
    for (size_t i = 0; i < mounts.size(); ++i) {
        const MountEntry& m = mounts[i];
        if (m.mountPoint.compare(0, kVolumesFolder.size(), kVolumesFolder) != 0)
            continue;
        std::string name = m.mountPoint.substr(kVolumesFolder.size());
        if (name.empty() || name.find('/') != std::string::npos || !reachable(i))
            continue;
        MountedVolume volume;
        volume.volumeRef = m.mountId;
        volume.name = std::move(name);
        volume.local = !IsNetworkFileSystem(m.fsType);
        volume.deviceId = DeviceIdForMountSource(m.source);
        volumes.push_back(std::move(volume));
    }
    return volumes;
}

std::vector<MountedVolume> ReadVolumes(const std::string& mountInfoPath)
{
    std::ifstream input(mountInfoPath);
    if (!input)
        return {};
    return VolumesFromMounts(ParseMountInfo(input));
}

}  // namespace Platform
}  // namespace Korvel
