// CommunicationChannel over in-process OS pipes: the frame format, the worker's hand-over of
// frames to readers and handlers, and how the worker and the channel end.
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <type_traits>

#include <gtest/gtest.h>

#include "IO/ZephIO.h"
#include "support/FdStreams.h"
#include "support/Timeout.h"

using namespace Korvel::Core;
using ZephTest::EventuallyTrue;
using ZephTest::FdInput;
using ZephTest::FdOutput;
using ZephTest::FinishesWithin;
using ZephTest::Frame;
using ZephTest::OsPipe;

namespace {

// Records each announced size and hands it to a waiting thread, as a real caller would.
class RecordingHandler : public IDataAvailableHandler {
public:
    void OnDataAvailable(unsigned long long size) override
    {
        if (m_readerReturned) {
            // Give a reader that was let in too early the time to take the bytes.
            std::this_thread::sleep_for(std::chrono::milliseconds(30));
            if (*m_readerReturned)
                m_announcedAfterRead = true;
        }
        std::lock_guard<std::mutex> lock(m_mutex);
        m_sizes.push_back(size);
        m_pending.push_back(size);
        m_arrived.notify_one();
    }

    // The next announced size, or fails the process after the default timeout.
    unsigned long long Next()
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        if (!m_arrived.wait_for(lock, ZephTest::kDefaultTimeout, [&] { return !m_pending.empty(); }))
            ZephTest::FailTimeout("waiting for OnDataAvailable");
        const unsigned long long size = m_pending.front();
        m_pending.pop_front();
        return size;
    }

    std::vector<unsigned long long> Sizes()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_sizes;
    }

    // When set, OnDataAvailable checks that no Read returns while it is being told.
    std::atomic<bool>* m_readerReturned = nullptr;
    std::atomic<bool> m_announcedAfterRead{false};

private:
    std::mutex m_mutex;
    std::condition_variable m_arrived;
    std::vector<unsigned long long> m_sizes;
    std::deque<unsigned long long> m_pending;
};

class ThrowingHandler : public IDataAvailableHandler {
public:
    void OnDataAvailable(unsigned long long) override { throw std::runtime_error("handler failed"); }
};

// A channel whose input is fed through `in` and whose output lands in `out`.
struct Wiring {
    OsPipe in;
    OsPipe out;
    boost::intrusive_ptr<FdInput> input = FdInput::Create(in.ReadFd());
    boost::intrusive_ptr<FdOutput> output = FdOutput::Create(out.WriteFd());

    boost::intrusive_ptr<IDataChannel> Channel(bool withWorker)
    {
        return CommunicationChannel::Create(input, output, withWorker);
    }
};

std::string ReadString(IDataChannel& channel, unsigned long long size)
{
    std::string s(size, '\0');
    const auto n = FinishesWithin("Read", [&] { return channel.Read(reinterpret_cast<unsigned char*>(&s[0]), size); });
    EXPECT_EQ(n, size);
    return s;
}

}  // namespace

TEST(ChannelWire, FrameIsLittleEndianLengthThenPayloadInTwoWrites)
{
    Wiring w;
    auto channel = w.Channel(false);
    const unsigned char abc[] = {0x61, 0x62, 0x63};
    EXPECT_EQ(channel->Write(abc, 3), 3u);
    EXPECT_EQ(w.out.ReadUpTo(100, 200), (std::vector<unsigned char>{0x03, 0, 0, 0, 0, 0, 0, 0, 0x61, 0x62, 0x63}));
    EXPECT_EQ(w.output->WriteSizes(), (std::vector<unsigned long long>{8, 3}));

    EXPECT_EQ(channel->Write(nullptr, 0), 0u);
    EXPECT_EQ(w.out.ReadUpTo(100, 200), std::vector<unsigned char>(8, 0));
    EXPECT_EQ(w.output->WriteSizes(), (std::vector<unsigned long long>{8, 3, 8, 0}));
}

TEST(ChannelWithoutWorker, ReadHeaderThenReadPassStraightThroughAndNothingIsAnnounced)
{
    Wiring w;
    auto channel = w.Channel(false);
    RecordingHandler handler;
    channel->SetDataAvailableHandler(&handler);
    w.in.WriteAll(Frame("hello"));

    EXPECT_EQ(FinishesWithin("ReadHeader", [&] { return channel->ReadHeader(); }), 5u);
    EXPECT_FALSE(channel->IsDataAvaliable());
    EXPECT_EQ(ReadString(*channel, 2), "he");
    EXPECT_EQ(ReadString(*channel, 3), "llo");
    EXPECT_TRUE(handler.Sizes().empty());

    // Cancel, reached through either side, goes to the input only; the output still works.
    static_cast<IByteDataInput&>(*channel).Cancel();
    static_cast<IByteDataOutput&>(*channel).Cancel();
    EXPECT_EQ(w.input->CancelCount(), 2);
    const unsigned char x = 'x';
    EXPECT_EQ(channel->Write(&x, 1), 1u);

    // A cancelled (or ended) input delivers nothing: the header reads as 0.
    EXPECT_EQ(FinishesWithin("ReadHeader", [&] { return channel->ReadHeader(); }), 0u);
}

TEST(ChannelWithWorker, FrameReadInPiecesStaysAvailableUntilItsLastByte)
{
    Wiring w;
    auto channel = w.Channel(true);
    w.in.WriteAll(Frame("0123456789"));
    ASSERT_TRUE(EventuallyTrue([&] { return channel->IsDataAvaliable(); }));

    EXPECT_EQ(ReadString(*channel, 4), "0123");
    EXPECT_TRUE(channel->IsDataAvaliable());
    unsigned char none[1];
    EXPECT_EQ(channel->Read(none, 0), 0u);  // consumes nothing
    EXPECT_TRUE(channel->IsDataAvaliable());
    EXPECT_EQ(ReadString(*channel, 6), "456789");
    EXPECT_FALSE(channel->IsDataAvaliable());

    // The worker goes on to the next frame, reusing its buffers for a shorter one.
    w.in.WriteAll(Frame("ab"));
    EXPECT_EQ(ReadString(*channel, 2), "ab");
}

TEST(ChannelWithWorker, HandlerIsToldEachFrameOnceBeforeAnyReadTakesAByte)
{
    Wiring w;
    auto channel = w.Channel(true);
    RecordingHandler handler;
    std::atomic<bool> readerReturned{false};
    handler.m_readerReturned = &readerReturned;
    channel->SetDataAvailableHandler(&handler);

    // A reader already waiting when the frame arrives.
    std::string first(5, '\0');
    std::thread reader([&] {
        channel->Read(reinterpret_cast<unsigned char*>(&first[0]), 5);
        readerReturned = true;
    });
    w.in.WriteAll(Frame("first"));
    EXPECT_EQ(handler.Next(), 5u);
    FinishesWithin("reader thread", [&] { reader.join(); });
    EXPECT_EQ(first, "first");
    EXPECT_FALSE(handler.m_announcedAfterRead);
    handler.m_readerReturned = nullptr;

    // A frame larger than the OS pipe buffer, written while the worker reads it.
    std::vector<unsigned char> big(300000);
    for (size_t i = 0; i < big.size(); ++i)
        big[i] = static_cast<unsigned char>(i * 7);
    std::thread writer([&] {
        w.in.WriteAll(Frame(std::vector<unsigned char>{42}));
        w.in.WriteAll(Frame(big));
    });
    EXPECT_EQ(handler.Next(), 1u);
    EXPECT_EQ(ReadString(*channel, 1), "*");
    EXPECT_EQ(handler.Next(), big.size());
    std::vector<unsigned char> got(big.size());
    EXPECT_EQ(FinishesWithin("Read", [&] { return channel->Read(got.data(), got.size()); }), big.size());
    EXPECT_EQ(got, big);
    FinishesWithin("writer thread", [&] { writer.join(); });
    EXPECT_EQ(handler.Sizes(), (std::vector<unsigned long long>{5, 1, big.size()}));
}

TEST(ChannelWithWorker, FrameArrivedBeforeTheHandlerIsHeldButNotAnnouncedLater)
{
    Wiring w;
    auto channel = w.Channel(true);
    w.in.WriteAll(Frame("early"));
    ASSERT_TRUE(EventuallyTrue([&] { return channel->IsDataAvaliable(); }));

    RecordingHandler handler;
    channel->SetDataAvailableHandler(&handler);
    EXPECT_EQ(ReadString(*channel, 5), "early");

    w.in.WriteAll(Frame("late"));
    EXPECT_EQ(handler.Next(), 4u);
    EXPECT_EQ(ReadString(*channel, 4), "late");
    EXPECT_EQ(handler.Sizes(), (std::vector<unsigned long long>{4}));

    // A removed handler hears of nothing more.
    channel->SetDataAvailableHandler(nullptr);
    w.in.WriteAll(Frame("quiet"));
    EXPECT_EQ(ReadString(*channel, 5), "quiet");
    EXPECT_EQ(handler.Sizes().size(), 1u);
}

TEST(ChannelWithWorker, EmptyFrameEndsTheWorkerAfterTheWholeFramesBeforeIt)
{
    Wiring w;
    auto channel = w.Channel(true);
    w.in.WriteAll(Frame("kept"));
    w.in.WriteAll(Frame(""));
    w.in.WriteAll(Frame("never"));
    EXPECT_EQ(ReadString(*channel, 4), "kept");

    unsigned char buf[8];
    EXPECT_EQ(FinishesWithin("Read after the end", [&] { return channel->Read(buf, 5); }), 0u);
    EXPECT_FALSE(channel->IsDataAvaliable());
}

TEST(ChannelWithWorker, EndOfInputWakesEveryWaitingReaderWithZero)
{
    Wiring w;
    auto channel = w.Channel(true);
    std::atomic<int> zeros{0};
    auto read = [&] {
        unsigned char buf[4];
        if (channel->Read(buf, 4) == 0)
            ++zeros;
    };
    std::thread r1(read), r2(read);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));  // let both start waiting
    w.in.CloseWrite();
    FinishesWithin("readers woken by the end of input", [&] {
        r1.join();
        r2.join();
    });
    EXPECT_EQ(zeros, 2);
    EXPECT_FALSE(channel->IsDataAvaliable());
    unsigned char buf[1];
    EXPECT_EQ(FinishesWithin("Read after the end", [&] { return channel->Read(buf, 1); }), 0u);
}

TEST(ChannelWithWorker, TruncatedFrameAtEndOfInputIsDeliveredZeroFilled)
{
    Wiring w;
    auto channel = w.Channel(true);
    const auto frame = Frame("abcdef");
    w.in.WriteAll(frame.data(), frame.size() - 3);  // the peer died mid-frame
    w.in.CloseWrite();
    std::string s = ReadString(*channel, 6);
    EXPECT_EQ(s, std::string("abc\0\0\0", 6));
    unsigned char buf[1];
    EXPECT_EQ(FinishesWithin("Read after the end", [&] { return channel->Read(buf, 1); }), 0u);
}

TEST(ChannelWithWorker, ImpossibleLengthEndsTheWorkerWithoutACrash)
{
    Wiring w;
    auto channel = w.Channel(true);
    const unsigned long long corrupt = 1ULL << 63;
    w.in.WriteAll(&corrupt, sizeof corrupt);
    unsigned char buf[4];
    EXPECT_EQ(FinishesWithin("Read after a corrupt length", [&] { return channel->Read(buf, 4); }), 0u);
    EXPECT_FALSE(channel->IsDataAvaliable());
    FinishesWithin("destruction", [&] { channel.reset(); });
}

TEST(ChannelWithWorker, ThrowingHandlerEndsTheWorkerButItsFrameStaysReadable)
{
    Wiring w;
    auto channel = w.Channel(true);
    ThrowingHandler handler;
    channel->SetDataAvailableHandler(&handler);
    w.in.WriteAll(Frame("held"));
    w.in.WriteAll(Frame("next"));
    EXPECT_EQ(ReadString(*channel, 4), "held");
    unsigned char buf[4];
    EXPECT_EQ(FinishesWithin("Read after the worker ended", [&] { return channel->Read(buf, 4); }), 0u);
}

// Only the last Release may end a channel: `delete` on one must not compile.
static_assert(!std::is_destructible<CommunicationChannel>::value, "CommunicationChannel's destructor is callable");

TEST(ChannelLifetime, DestroyedWhileTheWorkerWaitsForItsFrameToBeRead)
{
    Wiring w;
    auto channel = w.Channel(true);
    w.in.WriteAll(Frame("unread"));
    ASSERT_TRUE(EventuallyTrue([&] { return channel->IsDataAvaliable(); }));
    EXPECT_EQ(w.input->GetRefCount(), 2);
    FinishesWithin("destruction with a frame held", [&] { channel.reset(); });
    EXPECT_EQ(w.input->GetRefCount(), 1);
    EXPECT_EQ(w.output->GetRefCount(), 1);
}

TEST(ChannelLifetime, DestroyedWhileTheWorkerIsBlockedInTheInput)
{
    Wiring w;
    auto channel = w.Channel(true);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));  // let the worker block in Read
    FinishesWithin("destruction with the worker in Read", [&] { channel.reset(); });
    EXPECT_EQ(w.input->CancelCount(), 1);
    EXPECT_EQ(w.input->GetRefCount(), 1);
}

TEST(ChannelLifetime, DestroyedAfterTheWorkerHasEnded)
{
    Wiring w;
    auto channel = w.Channel(true);
    w.in.CloseWrite();
    unsigned char buf[1];
    EXPECT_EQ(FinishesWithin("Read", [&] { return channel->Read(buf, 1); }), 0u);
    FinishesWithin("destruction", [&] { channel.reset(); });
    EXPECT_EQ(w.output->GetRefCount(), 1);
}
