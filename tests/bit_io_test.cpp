// What the bit I/O fuzz model cannot state: exact exception details, a ReadBitsInt wider than
// the buffered byte, a stream that grows, a writer dropped unflushed, and the memory fast path
// failing exactly as the plain path does.
#include <string>
#include <utility>

#include <gtest/gtest.h>

#include "IO/ZephIO.h"

using namespace Korvel::Core;

TEST(DataBitInput, ReadBitsIntWiderThanTheBufferedByteIsRefused)
{
    const unsigned char bytes[] = {0xA0, 0xFF};
    DataBitInput reader(DataInputMemory::Create(bytes, 2));
    EXPECT_EQ(reader.ReadBitsInt(3), 5u);
    EXPECT_THROW(reader.ReadBitsInt(6), IOException);
    EXPECT_EQ(reader.BitsLeft(), 13u);  // nothing consumed
    EXPECT_EQ(reader.ReadBitsInt(5), 0u);
}

TEST(DataBitInput, AFailedFetchIsTriedAgainWhenTheStreamGrew)
{
    std::string text = "\x80";
    DataBitInput reader(DataInputString::Create(&text));
    EXPECT_EQ(reader.ReadBits(8), 0x80u);
    EXPECT_THROW(reader.ReadBits(1), IOException);
    text += "\xC0";
    EXPECT_EQ(reader.ReadBits(2), 3u);
}

TEST(DataBitInput, MemoryAndOtherInputsRunOutAlike)
{
    // Same exception from the same place, same bits and position left, whichever path read;
    // the plain ReadBitsInt failure, with no description.
    const std::string text = "\xB5\x3C\x01";
    for (unsigned width : {3u, 8u, 13u}) {
        auto memory = DataInputMemory::Create(reinterpret_cast<const unsigned char*>(text.data()), 3);
        auto string = DataInputString::Create(&text);
        DataBitInput fast(memory), slow(string);
        auto failure = [width](DataBitInput& reader) {
            try {
                for (;;)
                    reader.ReadBits(width);
            } catch (const IOException& e) {
                EXPECT_EQ(boost::get_error_info<Korvel::DescriptionInfo>(e), nullptr);
                return std::make_pair(std::string(*boost::get_error_info<boost::throw_function>(e)),
                                      *boost::get_error_info<boost::throw_line>(e));
            }
        };
        const auto fastFailure = failure(fast);
        EXPECT_EQ(fastFailure.first, "ReadBitsInt");
        EXPECT_EQ(fastFailure, failure(slow)) << width;
        EXPECT_EQ(fast.BitsLeft(), slow.BitsLeft());
        EXPECT_EQ(memory->GetPosition(), string->GetPosition());
    }
}

TEST(DataBitOutput, PendingBitsLeaveOnlyThroughFlush)
{
    std::string text;
    {
        DataBitOutput writer(DataOutputString::Create(&text));
        writer.WriteBits(5, 3);
        writer.WriteBits(21, 5);
        writer.WriteBits(3, 4);
        writer.Flush();
        writer.WriteBits(0x1F, 5);  // dropped with the writer
    }
    EXPECT_EQ(text, "\xB5\x30");
}
