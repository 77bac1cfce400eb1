// CommunicationChannel between two processes over real FIFOs and pipes: many frames with
// their contents checked, and a peer that dies mid-frame, sends garbage or announces too much.
#include <csignal>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include <sys/stat.h>

#include <gtest/gtest.h>

#include "FrameQueue.h"
#include "IO/ZephIO.h"
#include "support/ChildProcess.h"
#include "support/LogCapture.h"
#include "support/TempDir.h"
#include "support/Timeout.h"

using namespace Korvel::Core;
using ZephTest::ChildProcess;
using ZephTest::FinishesWithin;

namespace {

// This process's side of a conversation with a channel_peer process in `mode`. With a worker,
// the peer must not send before this side's handler is set; the peer modes that this side
// runs a worker for wait for a first frame from here.
struct Conversation {
    bool withWorker;
    ZephTest::TempDir dir;
    std::string toPeer = dir.File("to-peer");
    std::string fromPeer = dir.File("from-peer");
    std::unique_ptr<ChildProcess> peer;
    ZephExamples::FrameQueue frames;
    boost::intrusive_ptr<IDataChannel> channel;

    // `bound`: the largest frame length this side trusts; 0 for none.
    Conversation(const std::string& mode, bool worker, unsigned long long bound = 0) : withWorker(worker)
    {
        if (mkfifo(toPeer.c_str(), 0600) != 0 || mkfifo(fromPeer.c_str(), 0600) != 0)
            throw std::runtime_error("mkfifo failed");
        peer = std::make_unique<ChildProcess>(std::vector<std::string>{CHANNEL_PEER_PATH, mode, toPeer, fromPeer});
        FinishesWithin("opening the FIFOs", [&] {
            auto output = DataOutputPipe::Create(toPeer, false);
            auto input = DataInputPipe::Create(fromPeer, false);
            channel = bound ? CommunicationChannel::Create(input, output, withWorker, bound)
                            : CommunicationChannel::Create(input, output, withWorker);
        });
        if (withWorker)
            channel->SetDataAvailableHandler(&frames);
    }

    // After a failed check the peer may still be running, and our worker blocked reading from
    // it: the peer goes first, so that end of input lets the worker end.
    ~Conversation()
    {
        peer.reset();
        FinishesWithin("closing the channel", [&] { channel.reset(); });
    }

    // The peer's exit code (128 + signal when a signal ended it).
    int PeerExit()
    {
        int code = -1;
        EXPECT_TRUE(peer->Wait(std::chrono::seconds(10), &code)) << "the peer did not end";
        return code;
    }

    void Send(const std::vector<unsigned char>& payload)
    {
        ASSERT_EQ(channel->Write(payload.data(), payload.size()), payload.size());
    }
    void Send(const std::string& text) { Send(std::vector<unsigned char>(text.begin(), text.end())); }

    // The next frame from the peer; empty once the peer is gone (or, with a worker, once the
    // worker has ended).
    std::vector<unsigned char> Receive()
    {
        return FinishesWithin("receiving a frame", [&] {
            std::vector<unsigned char> frame(withWorker ? frames.Next(*channel) : channel->ReadHeader());
            if (!frame.empty())
                channel->Read(frame.data(), frame.size());
            return frame;
        });
    }
    std::string ReceiveText()
    {
        const auto frame = Receive();
        return std::string(frame.begin(), frame.end());
    }
};

}  // namespace

TEST(ChannelOverFifos, ManyFramesEchoedByAnotherProcessArriveIntact)
{
    ZephTest::LogCapture quiet(google::GLOG_WARNING);
    Conversation talk("echo", false);  // the peer runs the worker
    ASSERT_EQ(talk.ReceiveText(), "ready");

    std::mt19937 random(42);
    // Sizes around the 1024-byte system-call limit and beyond the 64 KiB OS pipe buffer.
    std::uniform_int_distribution<size_t> sizes(1, 70000);
    for (int i = 0; i < 1500; ++i) {
        std::vector<unsigned char> payload(i < 4 ? std::vector<size_t>{1, 1023, 1024, 1025}[i] : sizes(random));
        for (auto& b : payload)
            b = static_cast<unsigned char>(random());
        talk.Send(payload);
        ASSERT_EQ(talk.Receive(), payload) << "frame " << i;
    }

    talk.Send("");  // an empty frame ends the peer's worker, and the peer with it
    EXPECT_EQ(talk.PeerExit(), 0);
    EXPECT_TRUE(talk.Receive().empty());  // the peer closed its end
}

TEST(ChannelOverFifos, PeerDyingMidFrameLosesNoWholeFrameAndEndsTheWorker)
{
    ZephTest::LogCapture log(google::GLOG_WARNING);
    Conversation talk("send-then-die", true);
    talk.Send("go");
    EXPECT_EQ(talk.ReceiveText(), "one");
    EXPECT_EQ(talk.ReceiveText(), "two");
    EXPECT_EQ(talk.ReceiveText(), "three");
    // The cut frame is delivered at its announced length: what arrived, then zero bytes.
    std::string cut = talk.ReceiveText();
    EXPECT_EQ(cut, "0123456789" + std::string(90, '\0'));
    EXPECT_TRUE(talk.Receive().empty());
    EXPECT_EQ(talk.PeerExit(), 128 + SIGKILL);
    EXPECT_TRUE(log.Contains("The read syscall returned EOF. The other process probably has crashed."));
}

TEST(ChannelOverFifos, GarbageLengthEndsTheWorkerWhileThePeerStillRuns)
{
    ZephTest::LogCapture quiet(google::GLOG_WARNING);
    Conversation talk("garbage", true);
    talk.Send("go");
    EXPECT_EQ(talk.ReceiveText(), "whole");
    EXPECT_TRUE(talk.Receive().empty());
    // Closing our end lets the peer see end of input and finish.
    FinishesWithin("closing the channel", [&] { talk.channel.reset(); });
    EXPECT_EQ(talk.PeerExit(), 0);
}

// Peak resident memory of this process since the last reset, in KiB.
long PeakKiB()
{
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.compare(0, 6, "VmHWM:") == 0)
            return std::stol(line.substr(6));
    return -1;
}

TEST(ChannelOverFifos, LengthAboveTheBoundEndsTheWorkerOrThrowsWithoutAllocatingIt)
{
    ZephTest::LogCapture quiet(google::GLOG_WARNING);
    std::ofstream("/proc/self/clear_refs") << "5";  // resets the peak
    const long before = PeakKiB();
    {
        Conversation talk("huge", true, 1 << 20);
        talk.Send("go");
        EXPECT_TRUE(talk.Receive().empty());  // 2^30 announced: the worker ends, nothing is held
        EXPECT_FALSE(talk.channel->IsDataAvaliable());
        FinishesWithin("closing the channel", [&] { talk.channel.reset(); });
        EXPECT_EQ(talk.PeerExit(), 0);
    }
    {
        Conversation talk("huge", false, 1 << 30);  // the bound itself is allowed
        talk.Send("go");
        EXPECT_EQ(FinishesWithin("ReadHeader", [&] { return talk.channel->ReadHeader(); }), 1u << 30);
    }
    Conversation talk("huge", false, (1 << 30) - 1);
    talk.Send("go");
    try {
        talk.channel->ReadHeader();
        ADD_FAILURE() << "no exception";
    } catch (const IOException& e) {
        const std::string* details = boost::get_error_info<Korvel::DetailsInfo>(e);
        ASSERT_TRUE(details);
        EXPECT_EQ(*details, "1073741824");
    }
    EXPECT_LT(PeakKiB() - before, 64 * 1024) << "the announced frame was allocated";
}
