// Bit reader and writer: the worked tables, round trips, and failures of the stream beneath.
#include <cerrno>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <random>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "IO/ZephIO.h"
#include "support/FileSizeLimit.h"
#include "support/TempDir.h"

using namespace Korvel;
using namespace Korvel::Core;

namespace {

using Bytes = std::vector<unsigned char>;

Bytes AsBytes(const std::string& text)
{
    return Bytes(text.begin(), text.end());
}

std::string Function(const IOException& e)
{
    const char* const* name = boost::get_error_info<boost::throw_function>(e);
    return name ? *name : "<none>";
}

// Passes every call to a string output and counts the Write calls with their sizes.
class CountingOutput : public virtual IDataOutput {
public:
    static boost::intrusive_ptr<CountingOutput> Create(std::string* text)
    {
        return boost::intrusive_ptr<CountingOutput>(new CountingOutput(text));
    }
    std::vector<unsigned long long> writes;

    unsigned long long Write(const unsigned char* data, unsigned long long size) override
    {
        writes.push_back(size);
        return m_inner->Write(data, size);
    }
    const ioPath& GetFilename() const override { return m_inner->GetFilename(); }
    unsigned long long GetSize() const override { return m_inner->GetSize(); }
    void SetSize(unsigned long long size) override { m_inner->SetSize(size); }
    unsigned long long GetPosition() const override { return m_inner->GetPosition(); }
    void SetPosition(unsigned long long position) override { m_inner->SetPosition(position); }
    void Lock() override { m_inner->Lock(); }
    bool TryLock() override { return m_inner->TryLock(); }
    void Unlock() override { m_inner->Unlock(); }
    int AddRef() const override { return m_refCount.AddRefImpl(); }
    int GetRefCount() const override { return m_refCount.GetRefCountImpl(); }
    int Release() const override
    {
        const int count = m_refCount.ReleaseImpl();
        if (count == 0)
            delete this;
        return count;
    }

private:
    explicit CountingOutput(std::string* text) : m_inner(DataOutputString::Create(text)) {}
    RefCountImpl m_refCount;
    boost::intrusive_ptr<IDataOutput> m_inner;
};

}  // namespace

TEST(DataBitInput, WorkedExampleAcrossTwoBytes)
{
    const unsigned char bytes[] = {0xB5, 0x3C};
    DataBitInput reader(DataInputMemory::Create(bytes, 2));
    EXPECT_EQ(reader.BitsLeft(), 16u);
    EXPECT_EQ(reader.ReadBits(3), 5u);
    EXPECT_EQ(reader.BitsLeft(), 13u);
    EXPECT_EQ(reader.ReadBits(7), 84u);
    EXPECT_EQ(reader.BitsLeft(), 6u);
    EXPECT_EQ(reader.ReadBits(4), 15u);
    EXPECT_EQ(reader.BitsLeft(), 2u);
    reader.SkipBitsToNextByte();
    EXPECT_EQ(reader.BitsLeft(), 0u);
    EXPECT_EQ(reader.ReadBits(0), 0u);
    try {
        reader.ReadBits(1);
        FAIL() << "reading past the end did not throw";
    } catch (const IOException& e) {
        EXPECT_EQ(Function(e), "ReadBitsInt");
        EXPECT_EQ(boost::get_error_info<DescriptionInfo>(e), nullptr);
    }
    EXPECT_EQ(reader.BitsLeft(), 0u);

    const unsigned char five[] = {0x12, 0x34, 0x56, 0x78, 0x9A};
    DataBitInput wide(DataInputMemory::Create(five, 5));
    EXPECT_EQ(wide.ReadBits(12), 0x123u);
    EXPECT_EQ(wide.ReadBits(28), 0x456789Au);
}

TEST(DataBitInput, CountLimitsAndLazyFetching)
{
    const unsigned char bytes[] = {0xA0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    auto input = DataInputMemory::Create(bytes, 2);
    DataBitInput reader(input);
    EXPECT_THROW(reader.ReadBitsInt(9), IOException);
    EXPECT_EQ(input->GetPosition(), 0u);
    // Wider than the result: refused before any byte is taken, whatever the input holds.
    DataBitInput wide(DataInputMemory::Create(bytes + 1, 9));
    EXPECT_THROW(wide.ReadBits(65), std::invalid_argument);
    EXPECT_THROW(wide.ReadBits(72), std::invalid_argument);
    EXPECT_EQ(wide.BitsLeft(), 72u);

    // Skipping on a byte boundary skips nothing; bytes are fetched only when a bit is needed.
    reader.SkipBitsToNextByte();
    EXPECT_EQ(input->GetPosition(), 0u);
    EXPECT_EQ(reader.ReadBitsInt(0), 0u);
    EXPECT_EQ(input->GetPosition(), 1u);
    EXPECT_EQ(reader.BitsLeft(), 16u);
    EXPECT_EQ(reader.ReadBitsInt(3), 5u);
    // More bits than the buffered byte still holds are refused, and nothing is consumed.
    EXPECT_THROW(reader.ReadBitsInt(6), IOException);
    EXPECT_THROW(reader.ReadBits(65), std::invalid_argument);
    EXPECT_EQ(reader.ReadBitsInt(5), 0u);

    // After ReadBitsInt(0) fetched a byte, skipping drops that whole byte.
    EXPECT_EQ(reader.ReadBitsInt(0), 0u);
    reader.SkipBitsToNextByte();
    EXPECT_EQ(reader.BitsLeft(), 0u);
    EXPECT_THROW(reader.ReadBitsInt(0), IOException);
}

TEST(DataBitInput, StartsMidWayAndReadsSixtyFourBitsBigEndian)
{
    const std::string text = "\x01\x02\x03\x11\x22\x33\x44\x55\x66\x77\x88\xF0";
    auto input = DataInputString::Create(&text);
    input->SetPosition(3);
    DataBitInput reader(input);
    EXPECT_EQ(reader.BitsLeft(), 72u);
    EXPECT_EQ(reader.ReadBits(64), 0x1122334455667788ULL);
    EXPECT_EQ(reader.BitsLeft(), 8u);
    EXPECT_EQ(reader.ReadBits(1), 1u);
    EXPECT_EQ(reader.BitsLeft(), 7u);
}

TEST(DataBitInput, AFailedFetchIsTriedAgainOnTheNextCall)
{
    std::string text = "\x80";
    DataBitInput reader(DataInputString::Create(&text));
    EXPECT_EQ(reader.ReadBits(8), 0x80u);
    EXPECT_THROW(reader.ReadBits(1), IOException);
    text += "\xC0";  // the stream grows; the reader fetches again rather than giving up
    EXPECT_EQ(reader.ReadBits(2), 3u);
}

TEST(DataBitInput, MemoryAndOtherInputsRunOutAlike)
{
    // The memory input's bytes are taken directly; at its end the same exception must come
    // from the same place, with the same bits and position left, as over any other input.
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
                return std::make_pair(Function(e), *boost::get_error_info<boost::throw_line>(e));
            }
        };
        EXPECT_EQ(failure(fast), failure(slow)) << width;
        EXPECT_EQ(fast.BitsLeft(), slow.BitsLeft());
        EXPECT_EQ(memory->GetPosition(), string->GetPosition());
    }
}

TEST(DataBitOutput, WorkedExamples)
{
    std::string text;
    auto counting = CountingOutput::Create(&text);
    DataBitOutput writer(counting);
    writer.WriteBits(5, 3);
    EXPECT_EQ(text, "");
    writer.WriteBits(21, 5);
    EXPECT_EQ(AsBytes(text), Bytes{0xB5});
    writer.WriteBits(3, 4);
    writer.Flush();
    EXPECT_EQ(AsBytes(text), (Bytes{0xB5, 0x30}));

    text.clear();
    counting->SetPosition(0);
    writer.WriteBits(1, 1);
    const unsigned char ffzero[] = {0xFF, 0x00};
    writer.WriteData(ffzero, 2);
    EXPECT_EQ(AsBytes(text), (Bytes{0xFF, 0x80}));
    writer.Flush();
    EXPECT_EQ(AsBytes(text), (Bytes{0xFF, 0x80, 0x00}));

    text.clear();
    counting->SetPosition(0);
    writer.WriteBits(0x81, 10);
    EXPECT_EQ(AsBytes(text), Bytes{0x20});
    writer.Flush();
    EXPECT_EQ(AsBytes(text), (Bytes{0x20, 0x40}));

    // Every completed byte went out through its own one-byte Write.
    EXPECT_EQ(counting->writes, std::vector<unsigned long long>(7, 1));
}

TEST(DataBitOutput, BytesLeaveOnlyWhenCompleteAndFlushPadsOnce)
{
    std::string text;
    auto counting = CountingOutput::Create(&text);
    {
        DataBitOutput writer(counting);
        writer.WriteBits(0xAB, 0);
        writer.WriteData(nullptr, 0);
        for (int i = 0; i < 7; ++i)
            writer.WriteBits(1, 1);
        EXPECT_EQ(text, "");
        writer.WriteBits(1, 1);
        EXPECT_EQ(AsBytes(text), Bytes{0xFF});
        writer.Flush();  // on a boundary: nothing
        writer.WriteBits(0xFF, 3);
        writer.Flush();
        writer.Flush();
        EXPECT_EQ(AsBytes(text), (Bytes{0xFF, 0xE0}));

        const unsigned char aligned[] = {1, 2, 3};
        writer.WriteData(aligned, 3);
        writer.WriteBits(0x1F, 5);  // left pending when the writer goes away
    }
    EXPECT_EQ(AsBytes(text), (Bytes{0xFF, 0xE0, 1, 2, 3}));
    EXPECT_EQ(counting->writes.size(), 5u);
}

TEST(BitIO, RandomFieldsAndDataRunsReadBackAsWritten)
{
    for (unsigned seed = 1; seed <= 20; ++seed) {
        std::mt19937 random(seed);
        std::vector<std::pair<unsigned, unsigned long long>> fields;  // (bits, value)
        std::string text;
        DataBitOutput writer(DataOutputString::Create(&text));
        unsigned long long totalBits = 0;
        for (int i = 0; i < 300; ++i) {
            if (random() % 5 == 0) {
                Bytes run(random() % 6);
                for (auto& byte : run)
                    byte = static_cast<unsigned char>(random());
                writer.WriteData(run.data(), run.size());
                for (unsigned char byte : run)
                    fields.emplace_back(8, byte);
                totalBits += 8 * run.size();
            } else {
                const unsigned bits = 1 + random() % 8;
                const unsigned value = random() & 0xFF;  // high bits beyond `bits` must be ignored
                writer.WriteBits(static_cast<unsigned char>(value), bits);
                fields.emplace_back(bits, value & ((1u << bits) - 1));
                totalBits += bits;
            }
        }
        writer.Flush();
        ASSERT_EQ(text.size(), (totalBits + 7) / 8) << "seed " << seed;

        DataBitInput reader(DataInputString::Create(&text));
        for (size_t i = 0; i < fields.size(); ++i)
            ASSERT_EQ(reader.ReadBits(fields[i].first), fields[i].second) << "seed " << seed << " field " << i;
        EXPECT_EQ(reader.BitsLeft(), 8 * text.size() - totalBits);
        if (reader.BitsLeft() != 0) {
            EXPECT_EQ(reader.ReadBits(reader.BitsLeft()), 0u);  // the zero padding
        }
    }
}

TEST(DataBitOutput, AByteWhoseWriteFailedIsWrittenAgainByTheNextField)
{
    ZephTest::TempDir dir;
    const std::string path = dir.File("bits.bin");
    DataBitOutput writer(DataOutputFile::Create(ioPath(path)));
    auto expectFileTooLarge = [](const std::function<void()>& write) {
        try {
            write();
            ADD_FAILURE() << "a write over the file size limit did not throw";
        } catch (const IOException& e) {
            const std::string* description = boost::get_error_info<DescriptionInfo>(e);
            ASSERT_NE(description, nullptr);
            EXPECT_EQ(*description, std::strerror(EFBIG));
        }
    };
    {
        ZephTest::FileSizeLimit limit(1);
        writer.WriteBits(0xA, 4);
        writer.WriteBits(0xBC, 8);                               // 0xAB goes out, 0xC stays pending
        expectFileTooLarge([&] { writer.WriteBits(0xDE, 8); });  // 0xCD fails mid-field
        writer.WriteBits(0xFF, 0);                               // an empty field writes nothing
        writer.Flush();                                          // does not retry it
    }
    writer.WriteBits(1, 4);  // 0xCD first, then 0001
    writer.Flush();
    {
        ZephTest::FileSizeLimit limit(3);
        expectFileTooLarge([&] { writer.WriteBits(0xEF, 8); });  // a whole byte on the boundary
    }
    writer.WriteBits(2, 4);
    writer.Flush();
    std::ifstream in(path, std::ios::binary);
    EXPECT_EQ(Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()),
              (Bytes{0xAB, 0xCD, 0x10, 0xEF, 0x20}));
}
