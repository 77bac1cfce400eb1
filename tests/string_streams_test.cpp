// String streams, placeholder file streams and the whole-stream helpers.
#include <sys/stat.h>

#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "IO/ZephIO.h"
#include "ZephHash/MD5Generate.h"
#include "support/TempDir.h"

using namespace Korvel;
using namespace Korvel::Core;

namespace {

using Bytes = std::vector<unsigned char>;

const unsigned char* U(const char* text)
{
    return reinterpret_cast<const unsigned char*>(text);
}

std::string ReadString(IDataInput& input, unsigned long long count)
{
    std::string buffer(count, '\0');
    buffer.resize(input.Read(reinterpret_cast<unsigned char*>(&buffer[0]), count));
    return buffer;
}

template <class Stream>
void ExpectSeekPastEndThrows(Stream& stream, unsigned long long length)
{
    const unsigned long long before = stream.GetPosition();
    try {
        stream.SetPosition(length + 1);
        ADD_FAILURE() << "SetPosition past the end did not throw";
    } catch (const IOException& e) {
        const unsigned long long* seek = boost::get_error_info<IOException::SeekInfo>(e);
        ASSERT_NE(seek, nullptr);
        EXPECT_EQ(*seek, length + 1);
        EXPECT_STREQ(*boost::get_error_info<boost::throw_function>(e), "SetPosition");
    }
    EXPECT_EQ(stream.GetPosition(), before);
}

}  // namespace

TEST(DataInputString, ReadsTheCallersStringAsItIsNow)
{
    std::string text = "abcdef";
    auto input = DataInputString::Create(&text);
    EXPECT_EQ(ReadString(*input, 4), "abcd");
    EXPECT_EQ(ReadString(*input, 4), "ef");
    EXPECT_EQ(ReadString(*input, 4), "");

    // Bytes appended after creation are seen: the string is borrowed, not copied.
    text += "gh";
    EXPECT_EQ(input->GetSize(), 8u);
    EXPECT_EQ(ReadString(*input, 4), "gh");
    input->SetPosition(8);
    ExpectSeekPastEndThrows(*input, 8);
    input->SetPosition(1);
    EXPECT_EQ(ReadString(*input, 2), "bc");

    // A string cut below the position yields nothing instead of reading outside it.
    input->SetPosition(6);
    text.resize(2);
    EXPECT_EQ(ReadString(*input, 4), "");
    EXPECT_EQ(input->GetFilename().utf8string(), "");
}

TEST(DataOutputString, OverwritesInPlaceAndAppendsAtTheEnd)
{
    std::string text;
    auto output = DataOutputString::Create(&text);
    EXPECT_EQ(output->Write(U("abc"), 3), 3u);
    EXPECT_EQ(text, "abc");
    output->SetPosition(1);
    output->Write(U("XY"), 2);
    EXPECT_EQ(text, "aXY");
    EXPECT_EQ(output->GetPosition(), 3u);
    output->Write(U("Z"), 1);
    EXPECT_EQ(text, "aXYZ");

    // A failed seek changes nothing and the stream goes on from where it was.
    ExpectSeekPastEndThrows(*output, 4);
    output->Write(U("!"), 1);
    EXPECT_EQ(text, "aXYZ!");

    // A write straddling the end overwrites, then grows.
    output->SetPosition(3);
    output->Write(U("1234"), 4);
    EXPECT_EQ(text, "aXY1234");
    EXPECT_EQ(output->GetSize(), 7u);
    EXPECT_EQ(output->GetFilename().utf8string(), "");
}

TEST(DataOutputString, KeepsExistingContentAndResizesBothWays)
{
    std::string text = "hello";
    auto output = DataOutputString::Create(&text);
    output->Write(U("J"), 1);
    EXPECT_EQ(text, "Jello");

    text = "abc";
    output->SetPosition(3);
    output->SetSize(10);
    EXPECT_EQ(text, std::string("abc\0\0\0\0\0\0\0", 10));
    EXPECT_EQ(output->GetPosition(), 3u);

    output->SetSize(2);
    EXPECT_EQ(text, "ab");
    EXPECT_EQ(output->GetPosition(), 2u);
    output->Write(U("c"), 1);
    EXPECT_EQ(text, "abc");

    // A count whose end would wrap past 2^64 is refused before anything changes.
    output->SetPosition(1);
    EXPECT_THROW(output->Write(U("x"), ~0ULL), std::length_error);
    EXPECT_EQ(text, "abc");
    EXPECT_EQ(output->GetPosition(), 1u);
}

TEST(PlaceholderStreams, CarryTheirNameAndTouchNothingOnDisk)
{
    ZephTest::TempDir dir;
    const std::string inPath = dir.File("missing/in.bin");
    const std::string outPath = dir.File("missing/out.bin");

    auto input = DataInputFF::Create(ioPath(inPath));
    unsigned char buffer[4] = {7, 7, 7, 7};
    input->SetPosition(100);
    EXPECT_EQ(input->Read(buffer, sizeof buffer), 0u);
    EXPECT_EQ(buffer[0], 7);
    EXPECT_EQ(input->GetSize(), 0u);
    EXPECT_EQ(input->GetPosition(), 0u);
    EXPECT_EQ(input->GetFilename().utf8string(), inPath);

    auto output = DataOutputFF::Create(ioPath(outPath));
    EXPECT_EQ(output->Write(buffer, sizeof buffer), 0u);
    output->SetSize(100);
    output->SetPosition(100);
    EXPECT_EQ(output->GetSize(), 0u);
    EXPECT_EQ(output->GetPosition(), 0u);
    EXPECT_EQ(output->GetFilename().utf8string(), outPath);

    // A copy loop over the placeholder ends at once and nothing was created.
    EXPECT_EQ(BufferToStream(StreamToBuffer(input.get(), false), output.get()), 0u);
    struct stat info;
    EXPECT_NE(stat(dir.File("missing").c_str(), &info), 0);

    EXPECT_EQ(DataInputFF::Create(ioPath())->GetFilename().utf8string(), "");
}

TEST(StreamHelpers, CopyAWholeFreshStream)
{
    const unsigned char abc[] = {'a', 'b', 'c'};
    auto input = DataInputMemory::Create(abc, 3);
    EXPECT_EQ(StreamToBuffer(input.get(), false), (Bytes{'a', 'b', 'c'}));
    EXPECT_EQ(input->GetPosition(), 3u);
    input->SetPosition(0);
    EXPECT_EQ(StreamToBuffer(input.get(), true), (Bytes{'a', 'b', 'c', 0}));
    input->SetPosition(0);
    EXPECT_EQ(StreamToBufferString(input.get()), "abc");

    auto empty = DataInputMemory::Create(nullptr, 0);
    EXPECT_EQ(StreamToBuffer(empty.get(), false), Bytes{});
    EXPECT_EQ(StreamToBuffer(empty.get(), true), Bytes{0});
    EXPECT_EQ(StreamToBufferString(empty.get()), "");
}

TEST(StreamHelpers, OneReadFromAMidWayPositionLeavesAZeroTail)
{
    const unsigned char abc[] = {'a', 'b', 'c'};
    auto input = DataInputMemory::Create(abc, 3);
    input->SetPosition(1);
    EXPECT_EQ(StreamToBuffer(input.get(), false), (Bytes{'b', 'c', 0}));
    input->SetPosition(1);
    EXPECT_EQ(StreamToBuffer(input.get(), true), (Bytes{'b', 'c', 0, 0}));

    // The same for a string and a file: no rewind, no second read.
    std::string text = "hello";
    auto fromString = DataInputString::Create(&text);
    fromString->SetPosition(2);
    EXPECT_EQ(StreamToBufferString(fromString.get()), std::string("llo\0\0", 5));

    ZephTest::TempDir dir;
    {
        auto file = DataOutputFile::Create(ioPath(dir.File("f")));
        BufferToStream(std::string("0123456789"), file.get());
    }
    auto fromFile = DataInputFile::Create(ioPath(dir.File("f")));
    fromFile->SetPosition(6);
    EXPECT_EQ(StreamToBufferString(fromFile.get()), std::string("6789\0\0\0\0\0\0", 10));
}

TEST(StreamHelpers, BufferToStreamIsOneWriteAtTheCurrentPosition)
{
    std::string text;
    auto output = DataOutputString::Create(&text);
    EXPECT_EQ(BufferToStream(Bytes{1, 2, 3, 4}, output.get()), 4u);
    EXPECT_EQ(text, std::string("\1\2\3\4", 4));

    output->SetPosition(2);
    BufferToStream(std::string("xyz"), output.get());
    EXPECT_EQ(text, std::string("\1\2xyz", 5));
    EXPECT_EQ(BufferToStream(Bytes{}, output.get()), 0u);
    EXPECT_EQ(output->GetPosition(), 5u);
}

TEST(StreamHelpers, MD5OfAStreamIsTheHashOfItsBytesAndText)
{
    const Bytes bytes = {'s', 't', 'r', 'e', 'a', 'm'};
    boost::intrusive_ptr<IDataInput> input = DataInputMemory::Create(bytes.data(), bytes.size());
    EXPECT_EQ(Core::MD5Generate(input, "salt"), Core::MD5Generate(bytes, "salt"));
    EXPECT_EQ(input->GetPosition(), bytes.size());

    // From mid-way the hash covers the rest and the zero tail, like StreamToBuffer.
    input->SetPosition(4);
    EXPECT_EQ(Core::MD5Generate(input, ""), Core::MD5Generate(Bytes{'a', 'm', 0, 0, 0, 0}, ""));
}
