// The real device layer: volumes from the mount table, devices from libudev.
#include <atomic>
#include <cstring>
#include <mutex>
#include <unordered_map>

#include <libudev.h>

#include "DeviceLayer.h"
#include "MountInfo.h"

namespace Korvel {
namespace Platform {

namespace {

// KERN_INVALID_ARGUMENT: the answer for a handle that is not (or no longer) ours.
constexpr int kBadHandle = 4;

class LinuxDeviceLayer : public IDeviceLayer {
public:
    explicit LinuxDeviceLayer(std::string mountInfoPath) : m_mountInfoPath(std::move(mountInfoPath)) {}

    ~LinuxDeviceLayer() override
    {
        for (auto& entry : m_devices)
            udev_device_unref(entry.second);
    }

    std::vector<MountedVolume> GetVolumes() override { return ReadVolumes(m_mountInfoPath); }

    DeviceEntry GetMatchingService(const std::string& bsdName) override
    {
        // Kernel names never contain '/', and udev would take one as a path below /sys.
        if (bsdName.empty() || bsdName.find('/') != std::string::npos)
            return kNoDeviceEntry;
        udev* context = udev_new();
        if (!context)
            return kNoDeviceEntry;
        // The device keeps its own reference to the context.
        udev_device* device = udev_device_new_from_subsystem_sysname(context, "block", bsdName.c_str());
        udev_unref(context);
        if (!device)
            return kNoDeviceEntry;

        std::lock_guard<std::mutex> guard(m_mutex);
        DeviceEntry handle = NextFreeHandle();
        m_devices.emplace(handle, device);
        return handle;
    }

    std::vector<std::string> GetMediaFlags(DeviceEntry entry) override
    {
        static const char kMediaPrefix[] = "ID_CDROM_MEDIA_";
        std::vector<std::string> flags;
        std::lock_guard<std::mutex> guard(m_mutex);
        udev_device* device = Find(entry);
        if (!device)
            return flags;
        udev_list_entry* property;
        udev_list_entry_foreach(property, udev_device_get_properties_list_entry(device))
        {
            const char* key = udev_list_entry_get_name(property);
            const char* value = udev_list_entry_get_value(property);
            if (std::strncmp(key, kMediaPrefix, sizeof kMediaPrefix - 1) == 0 && value && std::strcmp(value, "1") == 0)
                flags.emplace_back(key);
        }
        return flags;
    }

    std::optional<std::string> GetProperty(DeviceEntry entry, const char* key) override
    {
        if (std::strcmp(key, "BSD Name") != 0)
            return std::nullopt;
        std::lock_guard<std::mutex> guard(m_mutex);
        udev_device* device = Find(entry);
        const char* name = device ? udev_device_get_sysname(device) : nullptr;
        if (!name)
            return std::nullopt;
        return std::string(name);
    }

    int Release(DeviceEntry entry) override
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        auto found = m_devices.find(entry);
        if (found == m_devices.end())
            return kBadHandle;
        udev_device_unref(found->second);
        m_devices.erase(found);
        return kNoErr;
    }

private:
    udev_device* Find(DeviceEntry entry) const
    {
        auto found = m_devices.find(entry);
        return found == m_devices.end() ? nullptr : found->second;
    }

    // Handles are not reused soon after release, so a stale handle rarely names a new device.
    DeviceEntry NextFreeHandle()
    {
        do {
            ++m_lastHandle;
        } while (m_lastHandle == kNoDeviceEntry || m_devices.count(m_lastHandle) != 0);
        return m_lastHandle;
    }

    const std::string m_mountInfoPath;
    std::mutex m_mutex;
    std::unordered_map<DeviceEntry, udev_device*> m_devices;
    DeviceEntry m_lastHandle = kNoDeviceEntry;
};

std::atomic<IDeviceLayer*> g_testLayer{nullptr};

}  // namespace

IDeviceLayer& CurrentDeviceLayer()
{
    if (IDeviceLayer* layer = g_testLayer.load())
        return *layer;
    static LinuxDeviceLayer realLayer("/proc/self/mountinfo");
    return realLayer;
}

void SetDeviceLayerForTesting(IDeviceLayer* layer)
{
    g_testLayer.store(layer);
}

std::unique_ptr<IDeviceLayer> CreateLinuxDeviceLayer(const std::string& mountInfoPath)
{
    return std::make_unique<LinuxDeviceLayer>(mountInfoPath);
}

}  // namespace Platform
}  // namespace Korvel
