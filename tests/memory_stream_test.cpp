#include <cstring>
#include <stdexcept>

#include <gtest/gtest.h>

#include "IO/ZephIO.h"

using namespace Korvel::Core;

TEST(DataInputMemory, ShortReadsAtTheEndAndZeroAfterIt)
{
    unsigned char data[10];
    for (int i = 0; i < 10; ++i)
        data[i] = static_cast<unsigned char>(i);
    auto input = DataInputMemory::Create(data, 10);
    unsigned char buf[100] = {};
    EXPECT_EQ(input->Read(buf, 4), 4u);
    EXPECT_EQ(input->GetPosition(), 4u);
    EXPECT_EQ(input->Read(buf, 100), 6u);
    EXPECT_EQ(std::memcmp(buf, data + 4, 6), 0);
    EXPECT_EQ(input->Read(buf, 100), 0u);
    EXPECT_EQ(input->GetSize(), 10u);
}

TEST(DataInputMemory, SeekToEndIsAllowedAndPastItThrowsWithoutMoving)
{
    unsigned char data[10] = {};
    auto input = DataInputMemory::Create(data, 10);
    unsigned char buf[4];
    input->Read(buf, 3);
    input->SetPosition(10);
    EXPECT_EQ(input->Read(buf, 4), 0u);
    input->SetPosition(7);
    try {
        input->SetPosition(11);
        FAIL() << "no throw";
    } catch (const IOException& e) {
        EXPECT_EQ(*boost::get_error_info<IOException::SeekInfo>(e), 11u);
    }
    EXPECT_EQ(input->GetPosition(), 7u);
}

TEST(DataInputMemory, RewindRereadsAndTheBlockIsBorrowedNotCopied)
{
    unsigned char data[4] = {1, 2, 3, 4};
    auto input = DataInputMemory::Create(data, 4);
    unsigned char buf[4];
    input->Read(buf, 4);
    data[0] = 9;  // visible: the stream reads the caller's block
    input->SetPosition(0);
    ASSERT_EQ(input->Read(buf, 4), 4u);
    EXPECT_EQ(buf[0], 9);
    EXPECT_EQ(buf[3], 4);
}

TEST(DataInputMemory, NullEmptyStreamIsValidAndUnnamed)
{
    auto input = DataInputMemory::Create(nullptr, 0);
    unsigned char buf[1];
    EXPECT_EQ(input->GetSize(), 0u);
    EXPECT_EQ(input->Read(buf, 1), 0u);
    EXPECT_NO_THROW(input->SetPosition(0));
    EXPECT_THROW(input->SetPosition(1), IOException);
    EXPECT_EQ(input->GetFilename().utf8string(), "");
    // A null block with a size is refused at once instead of crashing the first Read.
    EXPECT_THROW(DataInputMemory::Create(nullptr, 1), std::invalid_argument);
}
