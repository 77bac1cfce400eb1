// The read and write protocols, and the duplex pipe's forwarding, over a raw side that moves
// at most 4 bytes per call, so that their own looping and counting is what is checked.
#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "IO/Detail/RefCounting.h"
#include "IO/KorvelIO/DataInputOutputPipe.h"
#include "IO/KorvelIO/Protocols/ByteDataInputDefaultProtocol.h"
#include "IO/KorvelIO/Protocols/ByteDataInputRawProtocol.h"
#include "IO/KorvelIO/Protocols/ByteDataOutputDefaultProtocol.h"
#include "IO/KorvelIO/Protocols/ByteDataOutputRawProtocol.h"
#include "support/LogCapture.h"

using namespace Korvel::Core;
using Sizes = std::vector<unsigned long long>;

namespace {

// Reads from `source` or takes written bytes, at most 4 per call; a call fails when fewer
// than asked (up to 4) move, which happens once `capacity` bytes have moved.
class Side : public IByteDataInputEx, public IByteDataOutputEx {
public:
    Side(size_t capacity, bool* destroyed = nullptr) : m_capacity(capacity), m_destroyed(destroyed) {}
    ~Side() override
    {
        if (m_destroyed)
            *m_destroyed = true;
    }
    bool ReadRaw(unsigned char* buffer, unsigned long long size, unsigned long long* count) override
    {
        const size_t from = moved.size();
        const bool ok = Move(size, count, std::string(source, from, size));
        std::copy(moved.begin() + from, moved.end(), buffer);
        return ok;
    }
    bool WriteRaw(const unsigned char* data, unsigned long long size, unsigned long long* count) override
    {
        return Move(size, count, std::string(data, data + size));
    }
    unsigned long long Read(unsigned char* buffer, unsigned long long size) override
    {
        unsigned long long n = 0;
        ReadRaw(buffer, size, &n);
        return n;
    }
    unsigned long long Write(const unsigned char* data, unsigned long long size) override
    {
        unsigned long long n = 0;
        WriteRaw(data, size, &n);
        return n;
    }
    unsigned long long GetMaxReadSizeAtTime() override { return 4; }
    unsigned long long GetMaxWriteSizeAtTime() override { return 4; }
    void Cancel() override { ++cancels; }
    int AddRef() const override;
    int GetRefCount() const override;
    int Release() const override;

    const std::string source = "0123456789abcdef";
    std::string moved;
    Sizes asked;
    int cancels = 0;

private:
    bool Move(unsigned long long size, unsigned long long* count, const std::string& offered)
    {
        asked.push_back(size);
        const size_t n = std::min<size_t>({size, 4, m_capacity - moved.size()});
        moved += offered.substr(0, n);
        *count = n;
        return n == std::min<unsigned long long>(size, 4);
    }
    size_t m_capacity;
    bool* m_destroyed;
    Korvel::RefCountImpl m_refCount;
};
KORVEL_DEFINE_REFCOUNT(Side, m_refCount)

}  // namespace

// Default repeats raw calls from where the successful ones ended until the request is complete
// or a call fails, and counts only successful calls; Raw makes one call and reports its count
// even when it failed. Both make one call for 0 bytes, and none (with an ERROR line) unbound.
TEST(Protocols, LoopCountAndRefuseUnbound)
{
    struct Case {
        int protocol;  // read Default, read Raw, write Default, write Raw
        size_t capacity, request;
        Sizes asked;
        unsigned long long result;
        std::string moved;
    };
    const size_t kUnbound = 0;
    const Case cases[] = {{0, 99, 10, {10, 6, 2}, 10, "0123456789"},
                          {1, 99, 10, {10}, 4, "0123"},
                          {2, 99, 10, {10, 6, 2}, 10, "0123456789"},
                          {3, 99, 10, {10}, 4, "0123"},
                          {0, 7, 10, {10, 6}, 4, "0123456"},
                          {1, 2, 10, {10}, 2, "01"},  // short, then failed
                          {2, 7, 10, {10, 6}, 4, "0123456"},
                          {3, 2, 10, {10}, 2, "01"},
                          {0, 99, 0, {0}, 0, ""},
                          {1, 99, 0, {0}, 0, ""},
                          {2, 99, 0, {0}, 0, ""},
                          {3, 99, 0, {0}, 0, ""},
                          {0, kUnbound, 10, {}, 0, ""},
                          {1, kUnbound, 10, {}, 0, ""},
                          {2, kUnbound, 10, {}, 0, ""},
                          {3, kUnbound, 10, {}, 0, ""}};
    const char* const files[] = {"ByteDataInputDefaultProtocol.cpp", "ByteDataInputRawProtocol.cpp",
                                 "ByteDataOutputDefaultProtocol.cpp", "ByteDataOutputRawProtocol.cpp"};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(files[c.protocol]) + " capacity " + std::to_string(c.capacity));
        std::unique_ptr<IByteDataInputProtocol> in;
        std::unique_ptr<IByteDataOutputProtocol> out;
        switch (c.protocol) {
            case 0:
                in.reset(new ByteDataInputDefaultProtocol);
                break;
            case 1:
                in.reset(new ByteDataInputRawProtocol);
                break;
            case 2:
                out.reset(new ByteDataOutputDefaultProtocol);
                break;
            default:
                out.reset(new ByteDataOutputRawProtocol);
        }
        Side first(99), side(c.capacity);
        std::string bytes = in ? std::string(16, '.') : side.source;
        auto transfer = [&] {
            return in ? in->Read(reinterpret_cast<unsigned char*>(&bytes[0]), c.request)
                      : out->Write(reinterpret_cast<unsigned char*>(&bytes[0]), c.request);
        };
        auto bind = [&](Side* s) { in ? in->SetByteDataInput(s) : out->SetByteDataOutput(s); };
        ZephTest::LogCapture capture;
        if (c.capacity == kUnbound) {
            EXPECT_EQ(transfer(), 0u);  // never bound
        }
        bind(&first);
        bind(&side);
        if (c.capacity == kUnbound)
            bind(nullptr);
        EXPECT_EQ(transfer(), c.result);
        EXPECT_EQ(side.asked, c.asked);
        EXPECT_TRUE(first.asked.empty());
        EXPECT_EQ(side.moved, c.moved);
        // The bytes land where the calls put them, and nowhere else.
        EXPECT_EQ(bytes, in ? c.moved + std::string(16 - c.moved.size(), '.') : side.source);
        if (c.capacity == kUnbound) {
            const std::string text =
                in ? "Implementation IByteDataInputEx not defined" : "Implementation IByteDataOutputEx not defined";
            for (const auto& line : capture.Lines()) {
                EXPECT_EQ(line.severity, google::GLOG_ERROR);
                EXPECT_EQ(line.file, files[c.protocol]);
                EXPECT_EQ(line.message, text);
            }
        }
        EXPECT_EQ(capture.Lines().size(), c.capacity == kUnbound ? 2u : 0u);
    }
}

// The duplex pipe forwards to the sides installed, cancels only its input, keeps a side
// installed again while it is the only holder, and refuses transfers without a side.
TEST(DuplexPipe, ForwardsToItsSidesAndCancelsOnlyTheInput)
{
    unsigned long size = 0;
    auto duplex = DataInputOutputPipe::Create("unused", false, size);
    EXPECT_EQ(size, 1024u);
    auto& concrete = dynamic_cast<DataInputOutputPipe&>(*duplex);
    bool destroyed = false;
    Side* input = new Side(99, &destroyed);
    Side* output = new Side(99);
    concrete.SetInputPipe(input);
    concrete.SetOutputPipe(output);
    unsigned char buffer[8] = {};
    EXPECT_EQ(duplex->Read(buffer, 8), 4u);
    EXPECT_EQ(std::string(buffer, buffer + 4), "0123");
    EXPECT_EQ(duplex->Write(reinterpret_cast<const unsigned char*>("abc"), 3), 3u);
    EXPECT_EQ(output->moved, "abc");
    static_cast<IByteDataOutput&>(*duplex).Cancel();
    static_cast<IByteDataInput&>(*duplex).Cancel();
    EXPECT_EQ(input->cancels, 2);
    EXPECT_EQ(output->cancels, 0);
    concrete.SetInputPipe(input);
    EXPECT_FALSE(destroyed);
    EXPECT_EQ(input->GetRefCount(), 1);

    ZephTest::LogCapture capture;
    concrete.SetInputPipe(nullptr);
    concrete.SetOutputPipe(nullptr);
    EXPECT_TRUE(destroyed);
    EXPECT_EQ(duplex->Read(buffer, 8), 0u);
    EXPECT_EQ(duplex->Write(buffer, 3), 0u);
    concrete.Cancel();  // no input side: nothing to cancel
    const auto lines = capture.Lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].message, "Implementation IByteDataInputEx not defined");
    EXPECT_EQ(lines[1].message, "Implementation IByteDataOutputEx not defined");
    for (const auto& line : lines) {
        EXPECT_EQ(line.severity, google::GLOG_ERROR);
        EXPECT_EQ(line.file, "DataInputOutputPipe.cpp");
    }
}
