// A channel with a worker over real FIFOs, destroyed in each of its states while a fault_peer
// process holds the other ends: awaiting a frame (the worker blocked in the input's read, in a
// length or in the middle of a payload), holding a frame, after the worker has ended, and with
// a reader waiting. The pipe input's Cancel cannot unblock a read, so a destructor whose worker
// is blocked must wait for data or end of stream, and only for that; every other state ends at
// once. Nothing may crash, hang or leak a descriptor.
#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <set>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "IO/ZephIO.h"
#include "support/ChildProcess.h"
#include "support/LogCapture.h"
#include "support/TempDir.h"
#include "support/Timeout.h"

using namespace Korvel::Core;
using ZephTest::ChildProcess;

namespace {

const std::chrono::seconds kPrompt(3);
const std::chrono::milliseconds kStillBlocked(300);

class CountingHandler : public IDataAvailableHandler {
public:
    void OnDataAvailable(unsigned long long) override { ++calls; }
    std::atomic<int> calls{0};
};

// This process's channel and a fault_peer in "frames" mode that sends what the test tells it.
struct Link {
    ZephTest::TempDir dir;
    std::string toPeer = dir.File("to-peer");
    std::string fromPeer = dir.File("from-peer");
    std::unique_ptr<ChildProcess> peer;
    CountingHandler handler;
    boost::intrusive_ptr<IDataChannel> channel;

    Link()
    {
        if (mkfifo(toPeer.c_str(), 0600) != 0 || mkfifo(fromPeer.c_str(), 0600) != 0)
            throw std::runtime_error("mkfifo failed");
        peer = std::make_unique<ChildProcess>(std::vector<std::string>{FAULT_PEER_PATH, "frames", toPeer, fromPeer},
                                              ChildProcess::Stdin::Pipe);
        channel = ZephTest::FinishesWithin("opening the FIFOs", [&] {
            auto output = DataOutputPipe::Create(toPeer, false);
            auto input = DataInputPipe::Create(fromPeer, false);
            return CommunicationChannel::Create(input, output, true);
        });
        channel->SetDataAvailableHandler(&handler);
    }
    // The peer goes first, so that end of stream frees a worker still reading.
    ~Link()
    {
        peer.reset();
        ZephTest::FinishesWithin("releasing the channel", [&] { channel.reset(); });
    }

    void Tell(const std::string& command) { ASSERT_TRUE(peer->WriteStdin(command + "\n")); }
};

// Releases the last reference to the channel on a thread of its own.
std::future<void> DestroyAsync(boost::intrusive_ptr<IDataChannel>& channel)
{
    IDataChannel* last = channel.detach();
    return std::async(std::launch::async, [last] { last->Release(); });
}

template <class T>
T Within(std::future<T>& done, std::chrono::milliseconds limit, const std::string& what)
{
    if (done.wait_for(limit) != std::future_status::ready)
        ZephTest::FailTimeout(what);
    return done.get();
}

class ChannelDestroyed : public ::testing::Test {
protected:
    void SetUp() override { m_descriptors = ZephTest::OpenDescriptors(); }
    void TearDown() override { EXPECT_EQ(ZephTest::OpenDescriptors(), m_descriptors) << "descriptors leaked"; }

    ZephTest::LogCapture m_quiet{google::GLOG_ERROR};

private:
    std::set<int> m_descriptors;
};

}  // namespace

TEST_F(ChannelDestroyed, AwaitingALengthWaitsForTheBlockedReadAndAnnouncesNothing)
{
    Link link;
    // A worker not yet in its read would stop at its first interruption point instead.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    auto destroyed = DestroyAsync(link.channel);
    EXPECT_EQ(destroyed.wait_for(kStillBlocked), std::future_status::timeout) << "Cancel cannot stop a pipe read";
    // A whole frame frees the blocked read; the interrupted worker drops it without a word.
    link.Tell("frame 3000");
    Within(destroyed, kPrompt, "destruction after the frame came");
    EXPECT_EQ(link.handler.calls, 0);
}

TEST_F(ChannelDestroyed, AwaitingTheRestOfAPayloadEndsWhenThePeerIsKilled)
{
    Link link;
    link.Tell("header 5000");  // the worker now waits for 5000 bytes that never come
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    auto destroyed = DestroyAsync(link.channel);
    EXPECT_EQ(destroyed.wait_for(kStillBlocked), std::future_status::timeout);
    link.peer.reset();  // SIGKILL: end of stream
    Within(destroyed, kPrompt, "destruction after the peer died");
    EXPECT_EQ(link.handler.calls, 0);
}

TEST_F(ChannelDestroyed, HoldingAFrameEndsAtOnce)
{
    Link link;
    link.Tell("frame 100000");
    EXPECT_TRUE(ZephTest::EventuallyTrue([&] { return link.channel->IsDataAvaliable(); }));
    EXPECT_EQ(link.handler.calls, 1);
    auto destroyed = DestroyAsync(link.channel);
    Within(destroyed, kPrompt, "destruction with a frame held");  // the peer is still there
}

TEST_F(ChannelDestroyed, AfterAnEmptyFrameEndedTheWorkerEndsAtOnce)
{
    Link link;
    link.Tell("frame 10");
    link.Tell("empty");
    unsigned char frame[10];
    auto read = std::async(std::launch::async, [&] { return link.channel->Read(frame, sizeof frame); });
    EXPECT_EQ(Within(read, kPrompt, "reading the frame"), 10u);
    unsigned char byte;
    read = std::async(std::launch::async, [&] { return link.channel->Read(&byte, 1); });
    EXPECT_EQ(Within(read, kPrompt, "the read after the worker's end"), 0u);
    auto destroyed = DestroyAsync(link.channel);
    Within(destroyed, kPrompt, "destruction after the worker's end");
}

TEST_F(ChannelDestroyed, AfterEndOfStreamEndedTheWorkerEndsAtOnce)
{
    Link link;
    link.Tell("close");
    unsigned char byte;
    auto read = std::async(std::launch::async, [&] { return link.channel->Read(&byte, 1); });
    EXPECT_EQ(Within(read, kPrompt, "the read at end of stream"), 0u);
    auto destroyed = DestroyAsync(link.channel);
    Within(destroyed, kPrompt, "destruction after end of stream");
}

TEST_F(ChannelDestroyed, WithAReaderWaitingTheReaderGetsNothingAndLeavesFirst)
{
    Link link;
    IDataChannel* channel = link.channel.get();
    unsigned char byte = 0x5a;
    auto read = std::async(std::launch::async, [&] { return channel->Read(&byte, 1); });
    std::this_thread::sleep_for(std::chrono::milliseconds(200));  // let it block in Read
    auto destroyed = DestroyAsync(link.channel);
    // The reader is woken with nothing although the worker is still blocked in the input.
    EXPECT_EQ(Within(read, kPrompt, "the waiting reader"), 0u);
    EXPECT_EQ(byte, 0x5a);
    EXPECT_EQ(destroyed.wait_for(std::chrono::milliseconds(0)), std::future_status::timeout);
    link.Tell("close");
    Within(destroyed, kPrompt, "destruction after end of stream");
}
