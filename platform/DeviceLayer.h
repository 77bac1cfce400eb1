#pragma once
// Internal: the narrow layer under the volume and device queries. It answers what the queries
// ask of the system: the mounted volumes (name, locality, backing device), a device found by
// kernel name, the media in it, its kernel name. The real layer reads /proc/self/mountinfo and
// asks libudev; tests install a layer of their own through SetDeviceLayerForTesting.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "MountInfo.h"

namespace Korvel {
namespace Platform {

// A device entry handle (the same integer the public queries hand out), and no entry.
using DeviceEntry = std::uint32_t;
constexpr DeviceEntry kNoDeviceEntry = 0;

// What Release answers for an entry it knew.
constexpr int kNoErr = 0;

class IDeviceLayer {
public:
    virtual ~IDeviceLayer() = default;

    // The mounted volumes in enumeration order, read afresh on each call (volumes come and go
    // between queries): a query takes one such list and looks only at that.
    virtual std::vector<MountedVolume> GetVolumes() = 0;

    // The entry for a block device by kernel name, or kNoDeviceEntry.
    virtual DeviceEntry GetMatchingService(const std::string& bsdName) = 0;
    // The kinds of medium in the drive as udev names them: every ID_CDROM_MEDIA_* flag set to 1
    // ("ID_CDROM_MEDIA_DVD_PLUS_R", ...); empty for a device that holds no optical medium.
    virtual std::vector<std::string> GetMediaFlags(DeviceEntry entry) = 0;
    // Only the key "BSD Name" (the kernel name) means anything here.
    virtual std::optional<std::string> GetProperty(DeviceEntry entry, const char* key) = 0;
    virtual int Release(DeviceEntry entry) = 0;
};

// The layer the queries use now.
IDeviceLayer& CurrentDeviceLayer();

// Test seam: the queries use `layer` (still owned by the caller) until it is called again;
// nullptr brings back the real layer.
void SetDeviceLayerForTesting(IDeviceLayer* layer);

// A real layer; `mountInfoPath` lets tests point it at a fixture mount table.
std::unique_ptr<IDeviceLayer> CreateLinuxDeviceLayer(const std::string& mountInfoPath = "/proc/self/mountinfo");

}  // namespace Platform
}  // namespace Korvel
