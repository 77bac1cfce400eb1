// Memory, string and file streams, and the whole-stream helpers, on real files,
// a FIFO and devices that refuse.
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "IO/ZephIO.h"
#include "common/Process.h"
#include "ZephHash/MD5Generate.h"
#include "support/Fifo.h"
#include "support/TempDir.h"
#include "support/Timeout.h"

using namespace Korvel;
using namespace Korvel::Core;
using Bytes = std::vector<unsigned char>;

namespace {

const unsigned long long kTooFar = (1ULL << 63) + 5;  // a negative off_t

const unsigned char* U(const std::string& text)
{
    return reinterpret_cast<const unsigned char*>(text.data());
}

std::string Read(IDataInput& input, unsigned long long count)
{
    std::string buffer(count, '\0');
    buffer.resize(input.Read(reinterpret_cast<unsigned char*>(&buffer[0]), count));
    return buffer;
}

std::string Slurp(const std::string& path)
{
    return std::string(std::istreambuf_iterator<char>(std::ifstream(path, std::ios::binary).rdbuf()), {});
}

template <class Tag>
std::string Info(const boost::exception& e)
{
    const auto* value = boost::get_error_info<Tag>(e);
    return value ? std::string(*value) : "<none>";
}

// The exception `call` throws, failing the test when it throws none.
IOException Thrown(const std::function<void()>& call)
{
    try {
        call();
    } catch (const IOException& e) {
        return e;
    }
    ADD_FAILURE() << "no IOException";
    return IOException();
}

struct Seekable {
    const char* name;
    std::function<boost::intrusive_ptr<IDataInput>(const std::string&)> make;
    bool refusesPastEnd;  // files let the position go past the end
};

}  // namespace

TEST(SeekableInputs, ReadSeekAndHelpersAlikeOverTheCallersBytes)
{
    ZephTest::TempDir dir;
    const std::string content = "0123456789";
    std::ofstream(dir.File("ten"), std::ios::binary) << content;
    const Seekable kinds[] = {
        {"memory", [](const std::string& s) { return DataInputMemory::Create(U(s), s.size()); }, true},
        {"string", [](const std::string& s) { return DataInputString::Create(&s); }, true},
        {"file", [&](const std::string&) { return DataInputFile::Create(ioPath(dir.Path() + "/./ten")); }, false}};
    for (const Seekable& kind : kinds) {
        SCOPED_TRACE(kind.name);
        auto input = kind.make(content);
        EXPECT_EQ(input->GetFilename().utf8string(), kind.refusesPastEnd ? "" : dir.Path() + "/./ten");
        EXPECT_EQ(Read(*input, 0), "");
        EXPECT_EQ(Read(*input, 4), "0123");
        EXPECT_EQ(input->GetPosition(), 4u);
        EXPECT_EQ(Read(*input, 100), "456789");
        EXPECT_EQ(input->GetPosition(), 10u);  // moved by the bytes given, not those asked
        EXPECT_EQ(input->GetSize(), 10u);
        input->SetPosition(10);
        EXPECT_EQ(Read(*input, 1), "");
        input->SetPosition(2);
        EXPECT_EQ(Read(*input, 3), "234");
        if (kind.refusesPastEnd) {
            IOException e = Thrown([&] { input->SetPosition(11); });
            EXPECT_EQ(*boost::get_error_info<IOException::SeekInfo>(e), 11u);
            EXPECT_EQ(Info<boost::throw_function>(e), "SetPosition");
            EXPECT_EQ(input->GetPosition(), 5u);
        } else {
            input->SetPosition(20);
            EXPECT_EQ(input->GetPosition(), 20u);
            EXPECT_EQ(Read(*input, 1), "");
            // Beyond 2^63-1 the system refuses the seek: nothing thrown, nothing moved.
            input->SetPosition(5);
            EXPECT_NO_THROW(input->SetPosition(kTooFar));
            EXPECT_NO_THROW(input->SetPosition(~0ULL));
            EXPECT_EQ(input->GetPosition(), 5u);
        }
        // The helpers read once from where the stream is: no rewind, a zero tail.
        EXPECT_EQ(MD5Generate(input, "salt"), MD5Generate(Bytes{'5', '6', '7', '8', '9', 0, 0, 0, 0, 0}, "salt"));
        input->SetPosition(5);
        EXPECT_EQ(StreamToBufferString(input.get()), std::string("56789\0\0\0\0\0", 10));
        input->SetPosition(0);
        EXPECT_EQ(StreamToBuffer(input.get(), true), Bytes(U(content), U(content) + 11));  // with the NUL
        input->SetPosition(0);
        EXPECT_EQ(MD5Generate(input, "salt"), MD5Generate(Bytes(content.begin(), content.end()), "salt"));
        EXPECT_EQ(input->GetPosition(), 10u);
    }
    auto empty = DataInputMemory::Create(nullptr, 0);
    EXPECT_EQ(StreamToBuffer(empty.get(), true), Bytes{0});
    EXPECT_EQ(StreamToBuffer(empty.get(), false), Bytes{});
    EXPECT_EQ(StreamToBufferString(empty.get()), "");
    EXPECT_THROW(empty->SetPosition(1), IOException);
    // A null block with a size is refused at once instead of crashing the first Read.
    EXPECT_THROW(DataInputMemory::Create(nullptr, 1), std::invalid_argument);

    // Memory and string inputs borrow the caller's bytes.
    unsigned char block[4] = {'a', 'b', 'c', 'd'};
    auto memory = DataInputMemory::Create(block, 4);
    block[0] = 'z';
    EXPECT_EQ(Read(*memory, 4), "zbcd");

    std::string text = "abcdef";
    auto input = DataInputString::Create(&text);
    EXPECT_EQ(Read(*input, 6), "abcdef");
    text += "gh";  // appended bytes are seen
    EXPECT_EQ(input->GetSize(), 8u);
    EXPECT_EQ(Read(*input, 4), "gh");
    text.resize(2);  // a string cut below the position yields nothing, never bytes outside it
    EXPECT_EQ(Read(*input, 4), "");
}

TEST(PlaceholderStreams, CarryTheirNameOnlyAndNeverTouchTheDisk)
{
    ZephTest::TempDir dir;
    const std::string path = dir.File("never/made.bin");
    auto input = DataInputFF::Create(ioPath(path));
    auto output = DataOutputFF::Create(ioPath(path));
    unsigned char buffer[4] = {'k', 'e', 'e', 'p'};
    input->SetPosition(100);
    output->SetPosition(100);
    output->SetSize(100);
    EXPECT_EQ(input->Read(buffer, sizeof buffer), 0u);
    EXPECT_EQ(std::string(buffer, buffer + 4), "keep");
    EXPECT_EQ(output->Write(buffer, sizeof buffer), 0u);  // nothing was written anywhere
    EXPECT_EQ(input->GetSize() + input->GetPosition() + output->GetSize() + output->GetPosition(), 0u);
    EXPECT_EQ(input->GetFilename().utf8string(), path);
    EXPECT_EQ(output->GetFilename().utf8string(), path);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 0);
}

TEST(DataOutputString, OverwritesGrowsResizesAndRefusesOverflow)
{
    std::string text = "hello";
    auto output = DataOutputString::Create(&text);
    EXPECT_EQ(output->Write(U("J"), 1), 1u);
    EXPECT_EQ(text, "Jello");
    output->SetPosition(3);
    EXPECT_EQ(output->Write(U("p!?"), 3), 3u);  // straddles the end: overwrites, then grows
    EXPECT_EQ(text, "Jelp!?");
    EXPECT_EQ(output->GetPosition(), 6u);
    EXPECT_EQ(output->GetSize(), 6u);
    EXPECT_THROW(output->SetPosition(7), IOException);
    EXPECT_EQ(BufferToStream(Bytes{'x'}, output.get()), 1u);
    EXPECT_EQ(text, "Jelp!?x");

    output->SetSize(10);
    EXPECT_EQ(text, std::string("Jelp!?x\0\0\0", 10));
    EXPECT_EQ(output->GetPosition(), 7u);
    output->SetPosition(3);
    output->SetSize(2);  // one short of the position
    EXPECT_EQ(output->GetPosition(), 2u);
    output->Write(U("c"), 1);
    EXPECT_EQ(text, "Jec");

    // A count whose end would wrap past 2^64 is refused before anything changes.
    output->SetPosition(1);
    EXPECT_THROW(output->Write(U("x"), ~0ULL), std::length_error);
    EXPECT_EQ(text, "Jec");
    EXPECT_EQ(output->GetPosition(), 1u);
}

TEST(DataOutputFile, CreatesFoldersTruncatesFlushesEveryWriteAndZeroFills)
{
    ZephTest::TempDir dir;
    const std::string path = dir.File("a/b/out.bin");
    auto output = DataOutputFile::Create(ioPath(path));
    EXPECT_EQ(output->GetFilename().utf8string(), path);
    EXPECT_EQ(output->Write(U("abc"), 3), 3u);
    EXPECT_EQ(Slurp(path), "abc");  // on disk while the stream is open
    output->SetPosition(6);
    output->Write(U("de"), 2);
    EXPECT_EQ(Slurp(path), std::string("abc\0\0\0de", 8));

    std::ofstream(dir.File("old")) << "previous content";
    DataOutputFile::Create(ioPath(dir.File("old")));
    EXPECT_EQ(std::filesystem::file_size(dir.File("old")), 0u);

    // Beyond the signed range the seek is refused, with the system's reason; nothing is lost.
    output->SetPosition(3);
    for (unsigned long long position : {kTooFar, ~0ULL}) {
        IOException e = Thrown([&] { output->SetPosition(position); });
        EXPECT_EQ(Info<DescriptionInfo>(e), std::strerror(EINVAL));
        EXPECT_EQ(Info<boost::throw_function>(e), "SetPosition");
        EXPECT_EQ(Info<FilenameInfo>(e), "<none>");
    }
    EXPECT_EQ(output->GetPosition(), 3u);
    output->Write(U("DE"), 2);
    EXPECT_EQ(Slurp(path), std::string("abcDE\0de", 8));

    // Offsets above 4 GiB round-trip (a sparse file).
    const unsigned long long far = (5ULL << 30) + 7;
    output->SetPosition(far);
    output->Write(U("xy"), 2);
    EXPECT_EQ(output->GetPosition(), far + 2);
    auto input = DataInputFile::Create(ioPath(path));
    EXPECT_EQ(input->GetSize(), far + 2);
    input->SetPosition(far - 1);
    EXPECT_EQ(Read(*input, 4), std::string("\0xy", 3));
}

TEST(FileStreams, OpenFailuresCarryTheSystemTextAndLeaveNothingBehind)
{
    ZephTest::TempDir dir;
    // What each open failure carries is checked with every other throw in core_test.

    // A path through a plain file: the directory library's error, and nothing is created.
    std::ofstream(dir.File("plain")) << "content";
    const auto descriptors = ZephCommon::OpenDescriptors();
    for (const char* below : {"/out.bin", "/sub/deeper/out.bin"}) {
        try {
            DataOutputFile::Create(ioPath(dir.File("plain") + below));
            ADD_FAILURE() << below;
        } catch (const std::filesystem::filesystem_error& error) {
            EXPECT_EQ(error.code().value(), ENOTDIR);
        }
    }
    EXPECT_EQ(Slurp(dir.File("plain")), "content");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 1);

    // A FIFO fails the seek to its end and is closed again.
    ZephTest::Fifo fifo;
    const int reader = open(fifo.path.c_str(), O_RDWR | O_NONBLOCK);  // so opening cannot block
    ASSERT_GE(reader, 0);
    const IOException e = ZephTest::FinishesWithin(
        "DataOutputFile::Create on a FIFO", [&] { return Thrown([&] { DataOutputFile::Create(ioPath(fifo.path)); }); });
    EXPECT_EQ(Info<DescriptionInfo>(e), std::strerror(ESPIPE));
    close(reader);
    EXPECT_EQ(ZephCommon::OpenDescriptors(), descriptors);
}

TEST(DataOutputFile, FailedWritesReachTheCallerAndTheStreamStaysUsable)
{
    if (access("/dev/full", W_OK) == 0) {
        auto full = DataOutputFile::Create(ioPath("/dev/full"));
        // Below, at and above stdio's buffer, where stdio writes directly; twice each.
        const Bytes data(1 << 20, 0x5a);
        for (const unsigned long long size : {1, 4095, 4096, 4097, 65536, 1 << 20, 1, 4096}) {
            try {
                EXPECT_LT(full->Write(data.data(), size), size) << size;
            } catch (const IOException& e) {
                EXPECT_EQ(Info<DescriptionInfo>(e), std::strerror(ENOSPC));
                EXPECT_EQ(Info<boost::throw_function>(e), "Write");
            }
        }
        EXPECT_EQ(full->GetPosition(), 0u);
        EXPECT_NO_THROW(full->SetPosition(0));
    }
    ZephTest::TempDir dir;
    auto output = DataOutputFile::Create(ioPath(dir.File("limited")));
    // A file size limit makes the second write fail with EFBIG (SIGXFSZ ignored meanwhile).
    rlimit saved, lowered;
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    lowered = {4, saved.rlim_max};
    const sighandler_t handler = signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &lowered), 0);
    output->Write(U("abcd"), 4);
    IOException e = Thrown([&] { output->Write(U("ef"), 2); });
    setrlimit(RLIMIT_FSIZE, &saved);
    signal(SIGXFSZ, handler);
    EXPECT_EQ(Info<DescriptionInfo>(e), std::strerror(EFBIG));
    EXPECT_EQ(output->GetPosition(), 4u);
    EXPECT_EQ(output->Write(U("EF"), 2), 2u);
    EXPECT_EQ(Slurp(dir.File("limited")), "abcdEF");
}
