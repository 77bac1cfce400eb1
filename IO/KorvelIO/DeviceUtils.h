#pragma once
/// \file
/// Volume, device and DVD-media queries: which block device backs a volume mounted under
/// "/Volumes", its path under "/dev/", whether a device or volume holds DVD media, and whether
/// a folder tree holds DVD-Video files. Free functions without state; paths and device IDs
/// are UTF-8 text. A device ID is the kernel name of a block device ("sr0", "sda1").
///
/// A device entry is a handle: obtained from ObtainDeviceEntryForDeviceId, released by its
/// owner with IOObjectRelease. Empty arguments throw std::invalid_argument (message, a line
/// feed, the call stack); every other failure gives false or an empty result.
#include "ZephExport/Export.h"
#include <cstdint>
#include <optional>
#include <string>

namespace Korvel {
namespace Core {

/// A device entry handle.
typedef std::uint32_t io_service_t;
/// The handle of no device entry.
constexpr io_service_t IO_OBJECT_NULL = 0;

/// Releases an entry from ObtainDeviceEntryForDeviceId: 0 on success, non-zero for a handle
/// that is not (or no longer) valid.
ZEPH_API int IOObjectRelease(io_service_t entry);

/// Device ID of the first local volume whose "/Volumes/NAME" begins `volumePath`, or "".
ZEPH_API std::string DetermineDeviceIdForVolume(const std::string& volumePath);

/// "/dev/NAME", or "/dev/rNAME" when `raw`; empty when the entry has no kernel name.
/// Throws for IO_OBJECT_NULL.
ZEPH_API std::optional<std::string> ObtainFullBSDDevicePathForDevice(io_service_t deviceEntry, bool raw);

/// Entry for a block device ID, or IO_OBJECT_NULL when there is none.
ZEPH_API io_service_t ObtainDeviceEntryForDeviceId(const std::string& deviceId);

/// True when the block device holds DVD media; false when there is no such device.
ZEPH_API bool IsDeviceDVDWithDeviceId(const std::string& deviceId);

/// False when the path does not exist or is not at least "/Volumes/NAME".
ZEPH_API bool IsVolumeDVD(const std::string& volumePath);

/// True when a file with the extension "ifo" (any case) lies somewhere in the folder tree.
ZEPH_API bool IsDVDFromFolder(const std::string& folderPath);

/// Device path of the volume holding `volumePath`, or "".
ZEPH_API std::string ObtainFullBSDDevicePathForVolumePath(const std::string& volumePath, bool raw);

}  // namespace Core
}  // namespace Korvel
