// The read and write protocols over raw sides that move at most 4 bytes per call, so that
// the protocols' own looping and counting is what is checked.
#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "IO/KorvelIO/Protocols/ByteDataInputDefaultProtocol.h"
#include "IO/KorvelIO/Protocols/ByteDataInputRawProtocol.h"
#include "IO/KorvelIO/Protocols/ByteDataOutputDefaultProtocol.h"
#include "IO/KorvelIO/Protocols/ByteDataOutputRawProtocol.h"
#include "support/LogCapture.h"

using namespace Korvel::Core;

namespace {

const unsigned long long kStep = 4;

// Delivers at most 4 bytes of `data` per call; succeeds unless the data runs out first.
class ChunkyInput : public IByteDataInputEx {
public:
    explicit ChunkyInput(std::string data) : m_data(std::move(data)) {}

    bool ReadRaw(unsigned char* buffer, unsigned long long size, unsigned long long* readCount) override
    {
        asked.push_back(size);
        const unsigned long long n = std::min<unsigned long long>({size, kStep, m_data.size() - m_position});
        std::copy_n(m_data.data() + m_position, n, buffer);
        m_position += n;
        if (readCount)
            *readCount = n;
        return n == std::min(size, kStep);
    }
    unsigned long long GetMaxReadSizeAtTime() override { return kStep; }
    unsigned long long Read(unsigned char*, unsigned long long) override { return 0; }
    int AddRef() const override { return 1; }
    int GetRefCount() const override { return 1; }
    int Release() const override { return 1; }

    std::vector<unsigned long long> asked;

private:
    std::string m_data;
    size_t m_position = 0;
};

// Takes at most 4 bytes per call; fails once `capacity` bytes have been taken.
class ChunkyOutput : public IByteDataOutputEx {
public:
    explicit ChunkyOutput(size_t capacity) : m_capacity(capacity) {}

    bool WriteRaw(const unsigned char* data, unsigned long long size, unsigned long long* writtenCount) override
    {
        offered.push_back(size);
        const unsigned long long n = std::min<unsigned long long>({size, kStep, m_capacity - taken.size()});
        taken.append(reinterpret_cast<const char*>(data), n);
        if (writtenCount)
            *writtenCount = n;
        return n == std::min(size, kStep);
    }
    unsigned long long GetMaxWriteSizeAtTime() override { return kStep; }
    unsigned long long Write(const unsigned char*, unsigned long long) override { return 0; }
    int AddRef() const override { return 1; }
    int GetRefCount() const override { return 1; }
    int Release() const override { return 1; }

    std::vector<unsigned long long> offered;
    std::string taken;

private:
    size_t m_capacity;
};

typedef std::vector<unsigned long long> Sizes;

std::string AsString(const unsigned char* p, size_t n)
{
    return std::string(reinterpret_cast<const char*>(p), n);
}

}  // namespace

TEST(InputProtocols, DefaultLoopsUntilCompleteAndCountsOnlySuccessfulRawReads)
{
    ByteDataInputDefaultProtocol protocol;
    ChunkyInput whole("0123456789");
    protocol.SetByteDataInput(&whole);
    unsigned char buffer[16] = {};
    EXPECT_EQ(protocol.Read(buffer, 10), 10u);
    EXPECT_EQ(whole.asked, (Sizes{10, 6, 2}));
    EXPECT_EQ(AsString(buffer, 10), "0123456789");

    // The second raw read stops short and fails: its 3 bytes land but are not reported.
    ChunkyInput shortData("abcdefg");
    protocol.SetByteDataInput(&shortData);
    unsigned char partial[16] = {};
    EXPECT_EQ(protocol.Read(partial, 10), 4u);
    EXPECT_EQ(shortData.asked, (Sizes{10, 6}));
    EXPECT_EQ(AsString(partial, 7), "abcdefg");

    // A size of 0 still reaches the raw side once.
    ChunkyInput empty("");
    protocol.SetByteDataInput(&empty);
    EXPECT_EQ(protocol.Read(buffer, 0), 0u);
    EXPECT_EQ(empty.asked, (Sizes{0}));
}

TEST(InputProtocols, RawMakesOneRawReadAndReportsTheBytesReallyMoved)
{
    ByteDataInputRawProtocol protocol;
    ChunkyInput input("0123456789");
    protocol.SetByteDataInput(&input);
    unsigned char buffer[16] = {};
    EXPECT_EQ(protocol.Read(buffer, 10), 4u);
    EXPECT_EQ(input.asked, (Sizes{10}));
    EXPECT_EQ(AsString(buffer, 4), "0123");

    ChunkyInput failing("xy");  // the raw read fails, yet its 2 bytes are reported
    protocol.SetByteDataInput(&failing);
    EXPECT_EQ(protocol.Read(buffer, 10), 2u);
    EXPECT_EQ(protocol.Read(buffer, 0), 0u);
    EXPECT_EQ(failing.asked, (Sizes{10, 0}));
}

TEST(OutputProtocols, DefaultLoopsUntilCompleteAndCountsOnlySuccessfulRawWrites)
{
    const unsigned char data[] = "0123456789";
    ByteDataOutputDefaultProtocol protocol;
    ChunkyOutput roomy(100);
    protocol.SetByteDataOutput(&roomy);
    EXPECT_EQ(protocol.Write(data, 10), 10u);
    EXPECT_EQ(roomy.offered, (Sizes{10, 6, 2}));
    EXPECT_EQ(roomy.taken, "0123456789");

    ChunkyOutput cramped(7);  // the second raw write takes 3 bytes and fails
    protocol.SetByteDataOutput(&cramped);
    EXPECT_EQ(protocol.Write(data, 10), 4u);
    EXPECT_EQ(cramped.offered, (Sizes{10, 6}));
    EXPECT_EQ(cramped.taken, "0123456");

    ChunkyOutput zero(100);
    protocol.SetByteDataOutput(&zero);
    EXPECT_EQ(protocol.Write(data, 0), 0u);
    EXPECT_EQ(zero.offered, (Sizes{0}));
}

TEST(OutputProtocols, RawMakesOneRawWriteAndReportsTheBytesReallyTaken)
{
    const unsigned char data[] = "0123456789";
    ByteDataOutputRawProtocol protocol;
    ChunkyOutput output(2);
    protocol.SetByteDataOutput(&output);
    EXPECT_EQ(protocol.Write(data, 10), 2u);
    EXPECT_EQ(output.offered, (Sizes{10}));
    EXPECT_EQ(output.taken, "01");
}

TEST(Protocols, UnboundOrUnboundAgainLogsAndReturnsZeroWithoutRawCalls)
{
    std::vector<std::unique_ptr<IByteDataInputProtocol>> inputs;
    inputs.emplace_back(new ByteDataInputDefaultProtocol);
    inputs.emplace_back(new ByteDataInputRawProtocol);
    std::vector<std::unique_ptr<IByteDataOutputProtocol>> outputs;
    outputs.emplace_back(new ByteDataOutputDefaultProtocol);
    outputs.emplace_back(new ByteDataOutputRawProtocol);

    ZephTest::LogCapture capture;
    unsigned char buffer[16] = {'!'};
    for (auto& protocol : inputs) {
        EXPECT_EQ(protocol->Read(buffer, 10), 0u);
        ChunkyInput first("aaaa");
        ChunkyInput second("bbbb");
        protocol->SetByteDataInput(&first);
        protocol->SetByteDataInput(&second);
        EXPECT_EQ(protocol->Read(buffer, 4), 4u);
        EXPECT_TRUE(first.asked.empty());
        EXPECT_EQ(buffer[0], 'b');
        protocol->SetByteDataInput(nullptr);
        EXPECT_EQ(protocol->Read(buffer, 4), 0u);
        EXPECT_EQ(second.asked.size(), 1u);
    }
    for (auto& protocol : outputs) {
        EXPECT_EQ(protocol->Write(buffer, 10), 0u);
        ChunkyOutput sink(100);
        protocol->SetByteDataOutput(&sink);
        protocol->SetByteDataOutput(nullptr);
        EXPECT_EQ(protocol->Write(buffer, 4), 0u);
        EXPECT_TRUE(sink.offered.empty());
    }

    EXPECT_EQ(capture.Count("Implementation IByteDataInputEx not defined"), 4u);
    EXPECT_EQ(capture.Count("Implementation IByteDataOutputEx not defined"), 4u);
    std::vector<std::string> files;
    for (const auto& line : capture.Lines()) {
        EXPECT_EQ(line.severity, google::GLOG_ERROR);
        files.push_back(line.file);
    }
    EXPECT_EQ(files, (std::vector<std::string>{"ByteDataInputDefaultProtocol.cpp", "ByteDataInputDefaultProtocol.cpp",
                                               "ByteDataInputRawProtocol.cpp", "ByteDataInputRawProtocol.cpp",
                                               "ByteDataOutputDefaultProtocol.cpp", "ByteDataOutputDefaultProtocol.cpp",
                                               "ByteDataOutputRawProtocol.cpp", "ByteDataOutputRawProtocol.cpp"}));
}
