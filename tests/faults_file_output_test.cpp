// File output where the system refuses: a device that is always full, and a path that runs
// through a regular file. Every failure must reach the caller (an exception with the system's
// reason, or a short count), never a write reported whole that was not; the stream stays
// usable; nothing is created where it must not be; no descriptor is left open.
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "IO/ZephIO.h"
#include "support/ChildProcess.h"
#include "support/TempDir.h"

using namespace Korvel;
using namespace Korvel::Core;

namespace {

std::string Description(const IOException& e)
{
    const std::string* text = boost::get_error_info<DescriptionInfo>(e);
    return text ? *text : "<none>";
}

// The system's reason for a failed Create, whichever layer refused.
int CreateError(const std::string& path)
{
    try {
        DataOutputFile::Create(ioPath(path));
    } catch (const std::filesystem::filesystem_error& e) {
        return e.code().value();
    } catch (const IOException& e) {
        for (int code : {ENOTDIR, ENOENT, EEXIST, EACCES})
            if (Description(e) == std::strerror(code))
                return code;
        return -1;
    }
    return 0;
}

class FileOutputFaults : public ::testing::Test {
protected:
    void SetUp() override { m_descriptors = ZephTest::OpenDescriptors(); }
    void TearDown() override { EXPECT_EQ(ZephTest::OpenDescriptors(), m_descriptors) << "descriptors leaked"; }

private:
    std::set<int> m_descriptors;
};

bool FullDeviceWritable()
{
    return access("/dev/full", W_OK) == 0;
}

}  // namespace

TEST_F(FileOutputFaults, FullDeviceNeverTakesAWriteWhole)
{
    if (!FullDeviceWritable())
        GTEST_SKIP() << "/dev/full is not writable here";
    // Sizes below, at and above stdio's buffer, where stdio writes directly.
    const std::vector<unsigned long long> sizes = {1, 4095, 4096, 4097, 65536, 1 << 20};
    const std::vector<unsigned char> data(sizes.back(), 0x5a);
    for (int stream = 0; stream < 20; ++stream) {
        auto output = DataOutputFile::Create(ioPath("/dev/full"));
        for (const unsigned long long size : sizes) {
            SCOPED_TRACE("write of " + std::to_string(size) + " bytes");
            for (int attempt = 0; attempt < 2; ++attempt) {  // the stream stays usable
                try {
                    EXPECT_LT(output->Write(data.data(), size), size);
                } catch (const IOException& e) {
                    EXPECT_EQ(Description(e), std::strerror(ENOSPC));
                }
            }
        }
    }
}

TEST_F(FileOutputFaults, BitWriterOnAFullDeviceKeepsItsByteAndStaysUsable)
{
    if (!FullDeviceWritable())
        GTEST_SKIP() << "/dev/full is not writable here";
    DataBitOutput bits(DataOutputFile::Create(ioPath("/dev/full")));
    EXPECT_NO_THROW(bits.WriteBits(5, 3));  // nothing complete yet, nothing written
    EXPECT_THROW(bits.WriteBits(0x15, 5), IOException);
    // The completed byte is kept: the next field writes it again, and fails again.
    EXPECT_THROW(bits.WriteBits(1, 1), IOException);
    EXPECT_THROW(bits.WriteBits(1, 1), IOException);
    const unsigned char block[64] = {};
    EXPECT_THROW(bits.WriteData(block, sizeof block), IOException);
    EXPECT_NO_THROW(bits.Flush());  // with a complete byte pending, Flush writes nothing
}

TEST_F(FileOutputFaults, PathThroughARegularFileIsRefusedAndCreatesNothing)
{
    ZephTest::TempDir dir;
    const std::string plain = dir.File("plain");
    std::ofstream(plain, std::ios::binary) << "content";
    for (int attempt = 0; attempt < 50; ++attempt) {
        EXPECT_EQ(CreateError(plain + "/out.bin"), ENOTDIR);
        EXPECT_EQ(CreateError(plain + "/sub/deeper/out.bin"), ENOTDIR);
    }
    std::ifstream in(plain, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()), "content");
    EXPECT_TRUE(std::filesystem::is_regular_file(plain));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), std::filesystem::directory_iterator()), 1);
}
