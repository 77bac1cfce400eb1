// Volume, device and DVD-media queries: over a stand-in layer for what this machine can't have
// (volumes under /Volumes, DVD media), and over a real mount table, udev and folders.
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>
#include <vector>

#include <gtest/gtest.h>

#include "DeviceLayer.h"
#include "IO/ZephIO.h"
#include "MountInfo.h"
#include "support/TempDir.h"

using namespace Korvel::Core;
using Korvel::Platform::IDeviceLayer;
namespace fs = std::filesystem;

namespace {

struct FakeDevice {
    std::optional<std::string> bsdName;
    std::vector<std::string> media;  // udev's ID_CDROM_MEDIA_* flags
};

// Answers from tables, counts volume queries, tracks its entries; installed while it lives.
class FakeLayer : public IDeviceLayer {
public:
    FakeLayer(std::vector<Korvel::Platform::MountedVolume> volumes, std::map<std::string, FakeDevice> devices)
        : m_volumes(std::move(volumes)), m_devices(std::move(devices))
    {
        Korvel::Platform::SetDeviceLayerForTesting(this);
    }
    ~FakeLayer() override { Korvel::Platform::SetDeviceLayerForTesting(nullptr); }

    std::vector<Korvel::Platform::MountedVolume> GetVolumes() override
    {
        ++volumeQueries;
        return m_volumes;
    }
    io_service_t GetMatchingService(const std::string& bsdName) override
    {
        return m_devices.count(bsdName) ? (m_handles[++m_next] = bsdName, m_next) : IO_OBJECT_NULL;
    }
    std::vector<std::string> GetMediaFlags(io_service_t entry) override { return Device(entry).media; }
    std::optional<std::string> GetProperty(io_service_t entry, const char* key) override
    {
        return std::string(key) == "BSD Name" ? Device(entry).bsdName : std::nullopt;
    }
    int Release(io_service_t entry) override { return m_handles.erase(entry) ? 0 : 4; }

    size_t Outstanding() const { return m_handles.size(); }
    int volumeQueries = 0;

private:
    const FakeDevice& Device(io_service_t entry) const { return m_devices.at(m_handles.at(entry)); }

    std::vector<Korvel::Platform::MountedVolume> m_volumes;
    std::map<std::string, FakeDevice> m_devices;
    std::map<io_service_t, std::string> m_handles;
    io_service_t m_next = 0;
};

template <class Call>
void ExpectArgumentError(Call call, const std::string& message, const std::string& function)
{
    try {
        call();
        ADD_FAILURE() << "no throw for " << function;
    } catch (const std::invalid_argument& e) {
        EXPECT_EQ(std::string(e.what()).rfind(message + "\n", 0), 0u) << e.what();
        const auto* thrower = boost::get_error_info<boost::throw_function>(dynamic_cast<const boost::exception&>(e));
        EXPECT_EQ(std::string(thrower ? *thrower : ""), function);
    }
}

void WriteFile(const std::string& path, const std::string& content = "")
{
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path) << content;
}

}  // namespace

TEST(DeviceUtils, EmptyArgumentsThrowWithTheirOwnNameAndTheFirstLocalVolumeBeginningThePathWins)
{
    FakeLayer layer({{0, "Disc", false, "srv0"},
                     {1, "Disc", true, "disk3"},
                     {2, "Disc2", true, "disk4"},
                     {3, "Cafe", true, "disk6"},
                     {4, "Cafe\xCC\x81", true, "disk5"},
                     {5, "Bare", true, std::nullopt}},
                    {});
    ExpectArgumentError([] { DetermineDeviceIdForVolume(""); }, "volumePath is empty", "DetermineDeviceIdForVolume");
    ExpectArgumentError([] { IsVolumeDVD(""); }, "volumePath is empty", "IsVolumeDVD");
    ExpectArgumentError([] { ObtainDeviceEntryForDeviceId(""); }, "deviceId is empty", "ObtainDeviceEntryForDeviceId");
    ExpectArgumentError([] { IsDeviceDVDWithDeviceId(""); }, "deviceId is empty", "IsDeviceDVDWithDeviceId");
    ExpectArgumentError([] { ObtainFullBSDDevicePathForDevice(IO_OBJECT_NULL, true); }, "deviceEntry is IO_OBJECT_NULL",
                        "ObtainFullBSDDevicePathForDevice");
    ExpectArgumentError([] { ObtainFullBSDDevicePathForVolumePath("", false); }, "volumePath is empty",
                        "DetermineDeviceIdForVolume");
    EXPECT_FALSE(IsDVDFromFolder(""));
    EXPECT_EQ(DetermineDeviceIdForVolume("/Volumes/Disc/a/file"), "disk3");  // server volume skipped
    EXPECT_EQ(DetermineDeviceIdForVolume("/Volumes/Disc2/file"), "disk3");   // a prefix on text
    EXPECT_EQ(DetermineDeviceIdForVolume("/Volumes/Caf\xC3\xA9/x"),
              "disk5");  // composed vs decomposed, not "Cafe" + accent
    EXPECT_EQ(DetermineDeviceIdForVolume("/Volumes/Bare"), "");
    EXPECT_EQ(DetermineDeviceIdForVolume("/home/Volumes/Disc"), "");
    EXPECT_EQ(DetermineDeviceIdForVolume("/volumes/Disc"), "");
    EXPECT_EQ(layer.volumeQueries, 6);  // the mount table once per query, never for an empty argument
}

TEST(DeviceUtils, DevicePathsAndDvdMediaReleaseEveryEntryAndOnlyDeepPathsAreAsked)
{
    FakeLayer layer(
        {{0, "Movie", true, "disk3"}, {1, "Nameless", true, "disk7"}, {2, "Ghost", true, "disk8"}},
        {{"disk3", {"disk3", {"ID_CDROM_MEDIA_DVD"}}}, {"disk7", {std::nullopt, {}}}, {"disk5", {"disk5", {}}}});
    EXPECT_EQ(ObtainFullBSDDevicePathForVolumePath("/Volumes/Movie/VIDEO_TS", true), "/dev/rdisk3");
    EXPECT_EQ(ObtainFullBSDDevicePathForVolumePath("/Volumes/Movie", false), "/dev/disk3");
    EXPECT_EQ(ObtainFullBSDDevicePathForVolumePath("/Volumes/Nameless", false), "");
    EXPECT_EQ(ObtainFullBSDDevicePathForVolumePath("/Volumes/Ghost", false), "");

    io_service_t entry = ObtainDeviceEntryForDeviceId("disk5");
    ASSERT_NE(entry, IO_OBJECT_NULL);
    EXPECT_EQ(ObtainFullBSDDevicePathForDevice(entry, true), std::optional<std::string>("/dev/rdisk5"));
    EXPECT_EQ(IOObjectRelease(entry), 0);

    EXPECT_TRUE(IsDeviceDVDWithDeviceId("disk3"));
    EXPECT_FALSE(IsDeviceDVDWithDeviceId("disk5"));
    EXPECT_FALSE(IsDeviceDVDWithDeviceId("disk6"));
    EXPECT_EQ(layer.Outstanding(), 0u);

    // IsVolumeDVD asks the volumes only for an existing path below a folder below the root.
    ZephTest::TempDir dir;
    layer.volumeQueries = 0;
    EXPECT_FALSE(IsVolumeDVD("/Volumes"));
    EXPECT_FALSE(IsVolumeDVD("/Volumes/Movie/no-such-file"));
    EXPECT_FALSE(IsVolumeDVD(fs::path(dir.Path()).parent_path().string() + "/"));  // two components
    EXPECT_EQ(layer.volumeQueries, 0);
    EXPECT_FALSE(IsVolumeDVD(dir.Path() + "/./"));  // exists and deep enough: the volumes are asked
    EXPECT_GT(layer.volumeQueries, 0);
}

TEST(DeviceUtils, EveryDvdMediumIsADvdButNoCdOrBluRay)
{
    const std::pair<std::vector<std::string>, bool> kinds[] = {
        {{"DVD", "DVD_R", "DVD_RW", "DVD_RW_RO", "DVD_PLUS_R", "DVD_PLUS_RW", "DVD_RAM", "DVD_PLUS_R_DL", "DVD_R_DL",
          "DVD_PLUS_RW_DL", "HDDVD", "HDDVD_R", "HDDVD_RW", "HDDVD_RAM"},
         true},
        {{"CD", "CD_R", "CD_RW", "BD", "BD_R", "BD_RE"}, false}};
    for (const auto& [names, dvd] : kinds)
        for (const std::string& kind : names) {
            FakeLayer layer({}, {{"sr0", {"sr0", {"ID_CDROM_MEDIA_" + kind}}}});
            EXPECT_EQ(IsDeviceDVDWithDeviceId("sr0"), dvd) << kind;
        }
    FakeLayer empty({}, {{"sr0", {"sr0", {}}}});
    EXPECT_FALSE(IsDeviceDVDWithDeviceId("sr0"));
}

TEST(DeviceUtilsReal, MountTableFixtureGivesVolumesInOrder)
{
    ZephTest::TempDir dir;
    const std::string table = dir.File("mountinfo");
    WriteFile(table,
              "26 1 254:0 / / rw,relatime - ext4 /dev/vda rw\n"
              "40 26 8:1 / /Volumes/My\\040Disc rw,nosuid shared:5 master:2 - hfsplus /dev/sdz1 rw\n"
              "41 26 0:50 / /Volumes/Share rw - nfs4 server:/export rw,vers=4.2\n"
              "42 26 8:1 /photos /Volumes/Photos rw - hfsplus /dev/sdz1 rw\n"
              "43 26 11:0 / /Volumes/Film rw - udf /dev/sr0 ro\n"
              "44 43 8:2 / /Volumes/Film rw - ext4 /dev/sdz2 rw\n"
              "45 40 8:3 / /Volumes/My\\040Disc/inner rw - ext4 /dev/sdz3 rw\n"
              "this line is broken\n"
              "46 26 0:51 / /Volumes/Box rw - fuse.sshfs me@host: rw\n"
              "47 26 0:52 / /Volumes/Ram rw - tmpfs tmpfs rw\n"
              "48 26 8:4 / /Volumes/Tab\\011\\134 rw - ext4 /dev/mapper/../sdz4 rw\n");

    std::vector<std::string> volumes;
    for (const auto& v : Korvel::Platform::ReadVolumes(table))
        volumes.push_back(v.name + (v.local ? " local " : " server ") + v.deviceId.value_or("-"));
    EXPECT_EQ(volumes,
              (std::vector<std::string>{"My Disc local sdz1", "Share server -", "Photos local sdz1", "Film local sdz2",
                                        "Box server -", "Ram local -", "Tab\t\\ local sdz4"}));
    EXPECT_TRUE(Korvel::Platform::ReadVolumes(dir.File("missing")).empty());

    // A later mount on /Volumes itself hides the volumes mounted below it before.
    std::istringstream hiding(
        "1 0 8:1 / / rw - ext4 /dev/vda rw\n"
        "2 1 8:2 / /Volumes/Old rw - ext4 /dev/sdz6 rw\n"
        "3 1 0:9 / /Volumes rw - tmpfs tmpfs rw\n"
        "4 3 8:3 / /Volumes/New rw - ext4 /dev/sdz7 rw\n");
    std::vector<Korvel::Platform::MountedVolume> shown =
        Korvel::Platform::VolumesFromMounts(Korvel::Platform::ParseMountInfo(hiding));
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].name, "New");

    std::unique_ptr<IDeviceLayer> real = Korvel::Platform::CreateLinuxDeviceLayer(table);
    Korvel::Platform::SetDeviceLayerForTesting(real.get());
    EXPECT_EQ(DetermineDeviceIdForVolume("/Volumes/My Disc/inner/file"), "sdz1");
    EXPECT_EQ(DetermineDeviceIdForVolume("/Volumes/Photos/2020"), "sdz1");  // bind mount: its device
    EXPECT_EQ(DetermineDeviceIdForVolume("/Volumes/Share/doc"), "");
    Korvel::Platform::SetDeviceLayerForTesting(nullptr);
}

TEST(DeviceUtilsReal, BlockDevicesOfThisMachineHaveDevPaths)
{
    std::error_code error;
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator("/sys/class/block", error))
        names.push_back(entry.path().filename().string());
    if (names.empty())
        GTEST_SKIP() << "no block devices visible";

    for (const std::string& name : names) {
        io_service_t entry = ObtainDeviceEntryForDeviceId(name);
        ASSERT_NE(entry, IO_OBJECT_NULL) << name;
        EXPECT_EQ(ObtainFullBSDDevicePathForDevice(entry, false), std::optional<std::string>("/dev/" + name));
        EXPECT_EQ(ObtainFullBSDDevicePathForDevice(entry, true), std::optional<std::string>("/dev/r" + name));
        EXPECT_EQ(IOObjectRelease(entry), 0);
        EXPECT_NE(IOObjectRelease(entry), 0);
    }
    EXPECT_EQ(ObtainDeviceEntryForDeviceId("no-such-device0"), IO_OBJECT_NULL);
    EXPECT_EQ(ObtainDeviceEntryForDeviceId("../" + names[0]), IO_OBJECT_NULL);
    EXPECT_FALSE(IsDeviceDVDWithDeviceId("no-such-device0"));
    EXPECT_EQ(ObtainFullBSDDevicePathForVolumePath("/srv/no/volume", true), "");
}

TEST(DeviceUtilsReal, DvdFolderTreeIsFoundByItsIfoFile)
{
    ZephTest::TempDir dir;
    WriteFile(dir.File("movie/AUDIO_TS/.keep"));
    WriteFile(dir.File("movie/VIDEO_TS/VTS_01_0.IFO"));
    WriteFile(dir.File("other/ifo"));
    WriteFile(dir.File("other/notes.ifox"));
    fs::create_directories(dir.File("other/empty.d"));

    EXPECT_TRUE(IsDVDFromFolder(dir.Path()));
    EXPECT_TRUE(IsDVDFromFolder(dir.File("movie")));
    EXPECT_FALSE(IsDVDFromFolder(dir.File("movie/AUDIO_TS")));
    EXPECT_FALSE(IsDVDFromFolder(dir.File("other")));
    EXPECT_FALSE(IsDVDFromFolder(dir.File("movie/VIDEO_TS/VTS_01_0.IFO")));  // a file lists nothing
    EXPECT_FALSE(IsDVDFromFolder(dir.File("missing")));
}
