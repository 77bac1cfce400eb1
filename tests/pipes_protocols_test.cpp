// The read and write protocols, and the duplex pipe's forwarding, over a raw side that moves
// at most 4 bytes per call, so that their own looping and counting is what is checked.
#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "IO/Detail/RefCounting.h"
#include "IO/ZephIO.h"
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
    unsigned long long Read(unsigned char*, unsigned long long size) override { return size + 1; }
    unsigned long long Write(const unsigned char*, unsigned long long size) override { return size + 2; }
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

// The captured lines as "ERROR file: message" (other severities without "ERROR").
std::vector<std::string> Logged(const ZephTest::LogCapture& capture)
{
    std::vector<std::string> lines;
    for (const auto& line : capture.Lines())
        lines.push_back((line.severity == google::GLOG_ERROR ? "ERROR " : "") + line.file + ": " + line.message);
    return lines;
}

}  // namespace

// Default repeats raw calls from where the successful ones ended until the request is complete
// or a call fails, and counts only successful calls; Raw makes one call and reports its count
// even when it failed. Both make one call for 0 bytes, and none (with an ERROR line) unbound.
TEST(Protocols, LoopCountAndRefuseUnbound)
{
    const size_t kUnbound = 0;
    struct Case {
        size_t capacity, request;
        Sizes asked[2];  // Default, Raw
        unsigned long long result[2];
        std::string moved[2];
    } const cases[] = {{99, 10, {{10, 6, 2}, {10}}, {10, 4}, {"0123456789", "0123"}},
                       {7, 10, {{10, 6}, {10}}, {4, 4}, {"0123456", "0123"}},
                       {3, 10, {{10}, {10}}, {0, 3}, {"012", "012"}},
                       {99, 0, {{0}, {0}}, {0, 0}, {"", ""}},
                       {kUnbound, 10, {{}, {}}, {0, 0}, {"", ""}}};
    const char* const files[] = {"ByteDataInputDefaultProtocol.cpp", "ByteDataInputRawProtocol.cpp",
                                 "ByteDataOutputDefaultProtocol.cpp", "ByteDataOutputRawProtocol.cpp"};
    for (const Case& c : cases) {
        for (int kind = 0; kind < 4; ++kind) {
            SCOPED_TRACE(std::string(files[kind]) + ", capacity " + std::to_string(c.capacity));
            const int raw = kind % 2;
            std::unique_ptr<IByteDataInputProtocol> in;
            std::unique_ptr<IByteDataOutputProtocol> out;
            if (kind < 2)
                in.reset(raw ? static_cast<IByteDataInputProtocol*>(new ByteDataInputRawProtocol)
                             : new ByteDataInputDefaultProtocol);
            else
                out.reset(raw ? static_cast<IByteDataOutputProtocol*>(new ByteDataOutputRawProtocol)
                              : new ByteDataOutputDefaultProtocol);
            Side first(99), side(c.capacity);
            std::string bytes = in ? std::string(16, '.') : side.source;
            auto* p = reinterpret_cast<unsigned char*>(&bytes[0]);
            auto transfer = [&] { return in ? in->Read(p, c.request) : out->Write(p, c.request); };
            auto bind = [&](Side* s) { in ? in->SetByteDataInput(s) : out->SetByteDataOutput(s); };
            ZephTest::LogCapture capture;
            if (c.capacity == kUnbound) {
                EXPECT_EQ(transfer(), 0u);  // never bound
            }
            bind(&first);
            bind(&side);
            if (c.capacity == kUnbound)
                bind(nullptr);
            EXPECT_EQ(transfer(), c.result[raw]);
            EXPECT_EQ(side.asked, c.asked[raw]);
            EXPECT_TRUE(first.asked.empty());
            EXPECT_EQ(side.moved, c.moved[raw]);
            // The bytes land where the calls put them, and nowhere else.
            EXPECT_EQ(bytes, in ? c.moved[raw] + std::string(16 - c.moved[raw].size(), '.') : side.source);
            const std::string text = std::string("ERROR ") + files[kind] + ": Implementation IByteData" +
                                     (in ? "Input" : "Output") + "Ex not defined";
            EXPECT_EQ(Logged(capture), std::vector<std::string>(c.capacity == kUnbound ? 2 : 0, text));
        }
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
    EXPECT_EQ(duplex->Read(buffer, 8), 9u);
    EXPECT_EQ(duplex->Write(buffer, 8), 10u);
    static_cast<IByteDataOutput&>(*duplex).Cancel();
    duplex->Cancel();
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
    EXPECT_EQ(duplex->Write(buffer, 8), 0u);
    concrete.Cancel();  // no input side: nothing to cancel
    EXPECT_EQ(Logged(capture), (std::vector<std::string>{
                                   "ERROR DataInputOutputPipe.cpp: Implementation IByteDataInputEx not defined",
                                   "ERROR DataInputOutputPipe.cpp: Implementation IByteDataOutputEx not defined"}));
}
