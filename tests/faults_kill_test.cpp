// A frame exchange with a peer process over two FIFOs, the peer killed by SIGKILL at a random
// moment while frames (larger than the OS pipe buffer, so writers block mid-frame) flow both
// ways, many times over. This side must see end of stream within a bound, not crash (a write
// to the dead peer fails instead of raising SIGPIPE), leak no descriptor, and receive intact
// every frame the peer had completely sent; only the frame in flight may arrive cut, at its
// announced length, and only as the last one.
#include <signal.h>

#include <cstdlib>
#include <future>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "common/FrameQueue.h"
#include "IO/ZephIO.h"
#include "common/Process.h"
#include "common/Frames.h"
#include "support/Fifo.h"
#include "support/LogCapture.h"
#include "support/Peer.h"
#include "support/Timeout.h"

using namespace Korvel::Core;
using ZephTest::ChildProcess;
using ZephTest::FinishesWithin;

namespace {

constexpr uint64_t kMaxFrame = 64 * 1024;
const std::chrono::seconds kBound(10);

// The kill lands `killAfter` after both FIFOs are open or, with `afterFirst`, after the peer's
// first frame has arrived (so that frames flow however slowly the peer starts).
void RunOnce(uint64_t seed, std::chrono::microseconds killAfter, bool afterFirst)
{
    ZephTest::LogCapture log(google::GLOG_WARNING);
    ZephTest::Fifo to, from;
    ChildProcess peer =
        ZephTest::StartPeer({"exchange", to.path, from.path, std::to_string(seed), std::to_string(kMaxFrame)},
                            ChildProcess::Stdin::Inherit, ChildProcess::Stdout::Pipe);
    ZephCommon::FrameQueue frames;
    auto channel = FinishesWithin(
        "opening the FIFOs",
        [&] {
            auto output = DataOutputPipe::Create(to.path, false);
            auto input = DataInputPipe::Create(from.path, false);
            return CommunicationChannel::Create(input, output, true);
        },
        kBound);
    channel->SetDataAvailableHandler(&frames);

    // Both ends are open now, so the kill can land anywhere without leaving us blocked in open.
    std::promise<void> firstFrame;
    std::thread killer([&, ready = firstFrame.get_future()] {
        if (afterFirst)
            ready.wait_for(kBound);
        std::this_thread::sleep_for(killAfter);
        kill(peer.Pid(), SIGKILL);
    });
    channel->Write(reinterpret_cast<const unsigned char*>("go"), 2);
    std::thread writer([&] {
        for (uint64_t i = 0;; ++i) {
            const auto frame = ZephCommon::FaultFrame(ZephCommon::TowardsPeer(seed), i, kMaxFrame);
            if (channel->Write(frame.data(), frame.size()) != frame.size())
                return;  // the peer is gone
        }
    });
    auto received = FinishesWithin(
        "reading until end of stream",
        [&] {
            std::vector<std::vector<unsigned char>> got;
            while (const unsigned long long size = frames.Next(*channel)) {
                got.emplace_back(size);
                EXPECT_EQ(channel->Read(got.back().data(), size), size);
                if (got.size() == 1)
                    firstFrame.set_value();
            }
            if (got.empty())
                firstFrame.set_value();
            return got;
        },
        kBound);
    FinishesWithin(
        "the writer meeting the dead peer", [&] { writer.join(); }, kBound);
    killer.join();

    int exitCode = -1;
    EXPECT_TRUE(peer.Wait(kBound, &exitCode));
    EXPECT_EQ(exitCode, 128 + SIGKILL) << "the peer ended on its own (3: it got a damaged frame)";
    std::string report;
    EXPECT_TRUE(peer.ReadStdout(report, kBound));
    std::istringstream lines(report);
    uint64_t reported = 0;  // frames the peer said it had completely sent
    for (uint64_t n = 0; lines >> n;)
        reported = n;
    EXPECT_FALSE(channel->IsDataAvaliable());
    EXPECT_TRUE(log.Contains("The read syscall returned EOF. The other process probably has crashed."));
    channel.reset();

    // The peer sent its frames 0, 1, ... Whole frames come first; past the last one it
    // reported, at most one more whole frame (sent, not yet reported) and the one in flight,
    // which keeps its announced length.
    EXPECT_GE(received.size(), reported);
    EXPECT_LE(received.size(), reported + 2);
    for (size_t i = 0; i < received.size(); ++i) {
        const auto expected = ZephCommon::FaultFrame(seed, i, kMaxFrame);
        if (i + 1 < received.size() || i < reported)
            EXPECT_EQ(received[i], expected) << "frame " << i << " of " << received.size();
        else
            EXPECT_EQ(received[i].size(), expected.size()) << "the frame in flight keeps its announced length";
    }
}

}  // namespace

TEST(PeerKilled, EveryWholeFrameArrivesAndTheSurvivorSeesEndOfStream)
{
    const char* runs = std::getenv("ZEPHTEST_KILL_RUNS");  // more runs for a longer session by hand
    std::random_device device;
    std::mt19937_64 random((uint64_t(device()) << 32) | device());
    // A quarter of the kills land in the first 2 ms after the FIFOs are open (around the
    // handshake), the rest within 40 ms of the first frame, while frames flow both ways.
    std::uniform_int_distribution<int> early(0, 2000), later(0, 40000);
    const auto descriptors = ZephCommon::OpenDescriptors();
    for (int run = 0; run < (runs ? std::atoi(runs) : 100) && !HasFailure(); ++run) {
        const uint64_t seed = random();
        const bool afterFirst = run % 4 != 0;
        const std::chrono::microseconds killAfter(afterFirst ? later(random) : early(random));
        SCOPED_TRACE("run " + std::to_string(run) + ", seed " + std::to_string(seed) + ", kill " +
                     std::to_string(killAfter.count()) + " us after " + (afterFirst ? "the first frame" : "opening"));
        RunOnce(seed, killAfter, afterFirst);
        ASSERT_EQ(ZephCommon::OpenDescriptors(), descriptors) << "descriptors leaked";
    }
}
