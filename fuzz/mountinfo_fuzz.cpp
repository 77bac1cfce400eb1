// Mount tables of any shape: parsing and picking the volumes must neither crash nor hang.
#include <sstream>
#include <string>

#include "MountInfo.h"

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, size_t size)
{
    std::istringstream input(std::string(reinterpret_cast<const char*>(data), size));
    std::vector<Korvel::Platform::MountEntry> mounts = Korvel::Platform::ParseMountInfo(input);
    for (const Korvel::Platform::MountedVolume& volume : Korvel::Platform::VolumesFromMounts(mounts)) {
        if (volume.name.empty() || volume.name.find('/') != std::string::npos)
            __builtin_trap();
    }
    return 0;
}
