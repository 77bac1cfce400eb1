#pragma once
// Internal: reads the kernel's mount table (/proc/<pid>/mountinfo) and picks out the volumes,
// the mounts that sit directly under "/Volumes". Kept apart from the device layer so that the
// parsing can be checked on fixture text.
#include <istream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace Korvel {
namespace Platform {

// One line of mountinfo; text fields have their octal escapes (\040 and the like) decoded.
struct MountEntry {
    int mountId = 0;
    int parentId = 0;
    std::string root;  // the part of the source file system that is mounted (bind mounts)
    std::string mountPoint;
    std::string fsType;
    std::string source;
};

// A mount directly under "/Volumes", seen the way the volume queries want it.
struct MountedVolume {
    int volumeRef = 0;                    // the mount ID: stable while the mount exists
    std::string name;                     // last component of the mount point
    bool local = true;                    // false for network file systems
    std::optional<std::string> deviceId;  // kernel name of the backing block device
};

// Turns "\ooo" octal escapes back into their bytes; anything else is kept as it is.
std::string DecodeMountInfoEscapes(std::string_view text);

// None for a line that does not have the mountinfo shape.
std::optional<MountEntry> ParseMountInfoLine(std::string_view line);

// Every well-formed line in order; broken lines are skipped.
std::vector<MountEntry> ParseMountInfo(std::istream& input);

bool IsNetworkFileSystem(std::string_view fsType);

// Kernel name of the block device a mount source names ("/dev/sda1" -> "sda1", symlinks such
// as /dev/disk/by-label/X resolved); none for sources outside /dev.
std::optional<std::string> DeviceIdForMountSource(const std::string& source);

// The volumes among `mounts`, in mount table order. A mount hidden by a later one on the same
// point or above it is left out: its files are not reachable through "/Volumes/NAME".
std::vector<MountedVolume> VolumesFromMounts(const std::vector<MountEntry>& mounts);

// Reads and parses a mountinfo file; empty when it can't be read.
std::vector<MountedVolume> ReadVolumes(const std::string& mountInfoPath);

}  // namespace Platform
}  // namespace Korvel
