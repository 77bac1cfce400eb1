#pragma once
// Internal: the narrow layer under the volume and device queries. It answers what the queries
// ask of the system: the volume at an index (name, locality, backing device), a device found
// by kernel name, its DVD media, its kernel name. The real layer reads /proc/self/mountinfo
// and asks libudev; tests install a layer of their own through SetDeviceLayerForTesting.
#include <memory>
#include <optional>
#include <string>

#include "IO/KorvelIO/DeviceUtils.h"

namespace Korvel {
namespace Platform {

// Result codes of the volume calls.
constexpr int kNoErr = 0;
constexpr int kNoSuchVolume = -35;

struct VolumeParms {
    bool serverVolume = false;            // a network volume
    std::optional<std::string> deviceId;  // none when no block device backs it
};

class IDeviceLayer {
public:
    virtual ~IDeviceLayer() = default;

    // Volume number `index` (from 1): its reference and name. kNoSuchVolume past the last one,
    // another non-zero code when just this index fails.
    virtual int GetVolumeInfo(unsigned index, int& volumeRef, std::string& name) = 0;
    virtual int GetVolumeParms(int volumeRef, VolumeParms& parms) = 0;

    // The entry for a block device by kernel name, or IO_OBJECT_NULL.
    virtual Core::io_service_t GetMatchingService(const std::string& bsdName) = 0;
    // Only the class name "IODVDMedia" means anything here.
    virtual bool ConformsTo(Core::io_service_t entry, const char* className) = 0;
    // Only the key "BSD Name" (the kernel name) means anything here.
    virtual std::optional<std::string> GetProperty(Core::io_service_t entry, const char* key) = 0;
    virtual int Release(Core::io_service_t entry) = 0;
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
