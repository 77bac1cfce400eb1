// What the bit I/O fuzz models cannot state: a stream that grows, and the memory fast path
// failing exactly as the plain path does.
#include <string>

#include <gtest/gtest.h>

#include "IO/ZephIO.h"

using namespace Korvel::Core;

TEST(DataBitInput, AFailedFetchIsTriedAgainWhenTheStreamGrew)
{
    std::string text = "\x80";
    DataBitInput reader(DataInputString::Create(&text));
    EXPECT_EQ(reader.ReadBits(8), 0x80u);
    EXPECT_THROW(reader.ReadBits(1), IOException);
    text += "\xC0";
    EXPECT_EQ(reader.ReadBits(2), 3u);
}

TEST(DataBitInput, MemoryAndOtherInputsRunOutWithTheSameException)
{
    // Thrown from the same place, the plain ReadBitsInt failure with no description, whichever
    // path read (the fuzz model checks the bits and positions left).
    const std::string text = "\xB5\x3C\x01";
    for (unsigned width : {3u, 8u, 13u}) {
        DataBitInput fast(DataInputMemory::Create(reinterpret_cast<const unsigned char*>(text.data()), 3));
        DataBitInput slow(DataInputString::Create(&text));
        auto failure = [width](DataBitInput& reader) {
            try {
                for (;;)
                    reader.ReadBits(width);
            } catch (const IOException& e) {
                EXPECT_EQ(boost::get_error_info<Korvel::DescriptionInfo>(e), nullptr);
                return std::string(*boost::get_error_info<boost::throw_function>(e)) + ":" +
                       std::to_string(*boost::get_error_info<boost::throw_line>(e));
            }
        };
        const std::string where = failure(fast);
        EXPECT_EQ(where.rfind("ReadBitsInt:", 0), 0u) << where;
        EXPECT_EQ(where, failure(slow)) << width;
    }
}
