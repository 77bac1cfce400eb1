// File input and output streams on real files, FIFOs and devices.
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include <gtest/gtest.h>

#include "IO/ZephIO.h"
#include "support/FileSizeLimit.h"
#include "support/Fifo.h"
#include "support/TempDir.h"
#include "support/Timeout.h"

using namespace Korvel;
using namespace Korvel::Core;

namespace {

const unsigned long long kTooFar = (1ULL << 63) + 5;  // a negative off_t

const unsigned char* U(const char* text)
{
    return reinterpret_cast<const unsigned char*>(text);
}

std::string Slurp(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void Spit(const std::string& path, const std::string& content)
{
    std::ofstream(path, std::ios::binary) << content;
}

std::string Description(const IOException& e)
{
    const std::string* text = boost::get_error_info<DescriptionInfo>(e);
    return text ? *text : "<none>";
}

std::string Function(const IOException& e)
{
    const char* const* name = boost::get_error_info<boost::throw_function>(e);
    return name ? *name : "<none>";
}

template <class Fn>
IOException CatchIO(Fn fn)
{
    try {
        fn();
    } catch (const IOException& e) {
        return e;
    }
    ADD_FAILURE() << "no IOException";
    return IOException();
}

int OpenDescriptorCount()
{
    int count = 0;
    if (DIR* dir = opendir("/proc/self/fd")) {
        while (readdir(dir))
            ++count;
        closedir(dir);
    }
    return count;
}

}  // namespace

TEST(DataInputFile, MissingFileThrowsWithNameDescriptionSystemTextAndStack)
{
    ZephTest::TempDir dir;
    const std::string path = dir.File("absent.bin");
    IOException e = CatchIO([&] { DataInputFile::Create(ioPath(path)); });
    ASSERT_NE(boost::get_error_info<FilenameInfo>(e), nullptr);
    EXPECT_EQ(*boost::get_error_info<FilenameInfo>(e), path);
    EXPECT_EQ(Description(e), "Can not open file for reading");
    ASSERT_NE(boost::get_error_info<DetailsInfo>(e), nullptr);
    EXPECT_EQ(*boost::get_error_info<DetailsInfo>(e), std::strerror(ENOENT));
    ASSERT_NE(boost::get_error_info<CallStackInfo>(e), nullptr);
    EXPECT_FALSE(boost::get_error_info<CallStackInfo>(e)->empty());
    EXPECT_EQ(Function(e), "Create");
    EXPECT_NE(boost::diagnostic_information(e).find("[Korvel::TagDescription*] = Can not open file for reading\n"),
              std::string::npos);
}

TEST(DataInputFile, ReadsMeasuresAndSeeksLikeStdio)
{
    ZephTest::TempDir dir;
    Spit(dir.File("ten"), "0123456789");
    Spit(dir.File("empty"), "");
    // The name is kept exactly as given, not normalised.
    const std::string path = dir.Path() + "/./ten";
    auto input = DataInputFile::Create(ioPath(path));
    EXPECT_EQ(input->GetFilename().utf8string(), path);
    unsigned char buffer[100] = {};
    EXPECT_EQ(input->Read(buffer, 0), 0u);
    EXPECT_EQ(input->Read(buffer, 4), 4u);
    EXPECT_EQ(input->GetPosition(), 4u);
    EXPECT_EQ(input->Read(buffer, 100), 6u);
    EXPECT_EQ(std::memcmp(buffer, "456789", 6), 0);
    EXPECT_EQ(input->Read(buffer, 100), 0u);
    EXPECT_EQ(input->GetSize(), 10u);

    input->SetPosition(20);
    EXPECT_EQ(input->GetPosition(), 20u);
    EXPECT_EQ(input->Read(buffer, 1), 0u);

    // Beyond 2^63-1 the system refuses the seek: nothing thrown, nothing moved.
    input->SetPosition(2);
    EXPECT_NO_THROW(input->SetPosition(kTooFar));
    EXPECT_NO_THROW(input->SetPosition(~0ULL));
    EXPECT_EQ(input->GetPosition(), 2u);
    EXPECT_EQ(input->Read(buffer, 1), 1u);
    EXPECT_EQ(buffer[0], '2');

    auto empty = DataInputFile::Create(ioPath(dir.File("empty")));
    EXPECT_EQ(empty->GetSize(), 0u);
    EXPECT_EQ(empty->GetPosition(), 0u);
    EXPECT_EQ(empty->Read(buffer, 10), 0u);
}

TEST(DataOutputFile, CreatesMissingDirectoriesAndFlushesEveryWrite)
{
    ZephTest::TempDir dir;
    const std::string path = dir.File("a/b/c/out.bin");
    auto output = DataOutputFile::Create(ioPath(path));
    EXPECT_EQ(output->GetFilename().utf8string(), path);
    EXPECT_EQ(output->GetSize(), 0u);
    EXPECT_EQ(output->GetPosition(), 0u);

    const std::string hundred(100, 'x');
    EXPECT_EQ(output->Write(U(hundred.c_str()), 100), 100u);
    // On disk already, while the stream is still open.
    EXPECT_EQ(Slurp(path), hundred);
    EXPECT_EQ(output->GetSize(), 0u);
    EXPECT_EQ(output->GetPosition(), 100u);
    EXPECT_EQ(output->Write(U(""), 0), 0u);
    output->SetSize(3);
    EXPECT_EQ(std::filesystem::file_size(path), 100u);
}

TEST(DataOutputFile, TruncatesAnExistingFileAndZeroFillsPastTheEnd)
{
    ZephTest::TempDir dir;
    const std::string path = dir.File("old.bin");
    Spit(path, "previous content");
    auto output = DataOutputFile::Create(ioPath(path));
    EXPECT_EQ(std::filesystem::file_size(path), 0u);
    EXPECT_EQ(output->GetSize(), 0u);

    output->SetPosition(10);
    EXPECT_EQ(output->Write(U("ab"), 2), 2u);
    EXPECT_EQ(Slurp(path), std::string(10, '\0') + "ab");
}

TEST(DataOutputFile, SeekBeyondTheSignedRangeThrowsAndLosesNothing)
{
    ZephTest::TempDir dir;
    const std::string path = dir.File("seek.bin");
    auto output = DataOutputFile::Create(ioPath(path));
    output->Write(U("abc"), 3);
    for (unsigned long long position : {kTooFar, ~0ULL}) {
        IOException e = CatchIO([&] { output->SetPosition(position); });
        EXPECT_EQ(Description(e), std::strerror(EINVAL));
        EXPECT_EQ(Function(e), "SetPosition");
        EXPECT_EQ(boost::get_error_info<FilenameInfo>(e), nullptr);
    }
    EXPECT_EQ(output->GetPosition(), 3u);
    output->Write(U("def"), 3);
    EXPECT_EQ(Slurp(path), "abcdef");
}

TEST(FileStreams, OffsetsAboveFourGigabytesRoundTrip)
{
    // A sparse file: only the last block is written.
    ZephTest::TempDir dir;
    const std::string path = dir.File("big.bin");
    const unsigned long long far = (5ULL << 30) + 7;
    {
        auto output = DataOutputFile::Create(ioPath(path));
        output->SetPosition(far);
        EXPECT_EQ(output->GetPosition(), far);
        output->Write(U("xy"), 2);
        EXPECT_EQ(output->GetPosition(), far + 2);
    }
    auto input = DataInputFile::Create(ioPath(path));
    EXPECT_EQ(input->GetSize(), far + 2);
    input->SetPosition(far - 1);
    EXPECT_EQ(input->GetPosition(), far - 1);
    unsigned char buffer[4] = {9, 9, 9, 9};
    EXPECT_EQ(input->Read(buffer, 4), 3u);
    EXPECT_EQ(std::memcmp(buffer, "\0xy", 3), 0);
}

TEST(DataOutputFile, OpenFailuresCarryOnlyTheSystemText)
{
    ZephTest::TempDir dir;
    IOException e = CatchIO([&] { DataOutputFile::Create(ioPath(dir.Path())); });
    EXPECT_EQ(Description(e), std::strerror(EISDIR));
    EXPECT_EQ(Function(e), "DataOutputFile");
    EXPECT_EQ(boost::get_error_info<FilenameInfo>(e), nullptr);
    EXPECT_EQ(boost::get_error_info<CallStackInfo>(e), nullptr);

    // A parent that is a plain file: the directory library's own error comes through.
    Spit(dir.File("plain"), "x");
    EXPECT_THROW(DataOutputFile::Create(ioPath(dir.File("plain/sub/out.bin"))), std::filesystem::filesystem_error);
}

TEST(DataOutputFile, FifoFailsTheSeekToItsEndAndIsClosedAgain)
{
    ZephTest::Fifo fifo;
    // Our own reading end (O_RDWR never waits for a peer), so opening for writing cannot block.
    const int reader = open(fifo.path.c_str(), O_RDWR | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    const int descriptors = OpenDescriptorCount();

    IOException e = ZephTest::FinishesWithin("DataOutputFile::Create on a FIFO", [&] {
        return CatchIO([&] { DataOutputFile::Create(ioPath(fifo.path)); });
    });
    EXPECT_EQ(Description(e), std::strerror(ESPIPE));
    EXPECT_EQ(Function(e), "DataOutputFile");
    EXPECT_EQ(OpenDescriptorCount(), descriptors);
    close(reader);
}

TEST(DataOutputFile, FullDeviceMakesWriteThrowAndTheStreamStaysUsable)
{
    if (access("/dev/full", W_OK) != 0)
        GTEST_SKIP() << "/dev/full is not writable here";
    auto output = DataOutputFile::Create(ioPath("/dev/full"));
    for (int attempt = 0; attempt < 2; ++attempt) {
        IOException e = CatchIO([&] { output->Write(U("data"), 4); });
        EXPECT_EQ(Description(e), std::strerror(ENOSPC));
        EXPECT_EQ(Function(e), "Write");
    }
    EXPECT_EQ(output->GetPosition(), 0u);
    EXPECT_NO_THROW(output->SetPosition(0));
}

TEST(DataOutputFile, FailedFlushKeepsEarlierBytesAndLaterWritesLand)
{
    ZephTest::TempDir dir;
    const std::string path = dir.File("limited.bin");
    auto output = DataOutputFile::Create(ioPath(path));
    {
        ZephTest::FileSizeLimit limit(4);
        output->Write(U("abcd"), 4);
        IOException e = CatchIO([&] { output->Write(U("ef"), 2); });
        EXPECT_EQ(Description(e), std::strerror(EFBIG));
        EXPECT_EQ(Function(e), "Write");
        EXPECT_EQ(output->GetPosition(), 4u);
    }
    EXPECT_EQ(output->Write(U("EF"), 2), 2u);
    EXPECT_EQ(Slurp(path), "abcdEF");
}
