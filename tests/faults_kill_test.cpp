// A frame exchange between this process and a fault_peer process over two FIFOs, with the
// peer killed by SIGKILL at a random moment, many times over. Frames flow both ways while the
// kill lands. Each run must end within a bound; this side must see end of stream, not crash
// (writes to the dead peer fail with EPIPE instead of SIGPIPE), and receive intact every frame
// the peer had completely sent before it died. Only the frame in flight may arrive cut short,
// at its announced length, and only as the last one.
#include <signal.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdlib>
#include <future>
#include <iostream>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "FrameQueue.h"
#include "IO/ZephIO.h"
#include "helpers/FaultFrames.h"
#include "support/ChildProcess.h"
#include "support/LogCapture.h"
#include "support/TempDir.h"
#include "support/Timeout.h"

using namespace Korvel::Core;
using ZephTest::ChildProcess;
using ZephTest::FinishesWithin;

namespace {

constexpr uint64_t kMaxFrame = 64 * 1024;  // beyond the OS pipe buffer: writers block mid-frame
const std::chrono::seconds kBound(10);

// ZEPHTEST_KILL_RUNS sets the number of runs for a longer session by hand.
int KillRuns()
{
    const char* runs = std::getenv("ZEPHTEST_KILL_RUNS");
    return runs ? std::atoi(runs) : 100;
}

struct Outcome {
    bool handshake = false;   // the peer's "ready" arrived
    uint64_t reported = 0;    // frames the peer said it had completely sent
    uint64_t received = 0;    // frames after "ready"
    bool lastCut = false;     // the last frame arrived damaged
    uint64_t sentToPeer = 0;  // our frames whose Write succeeded
};

// Reads frames until end of stream; `firstFrame` is set once the first one (or the end) came.
std::vector<std::vector<unsigned char>> ReadUntilEnd(IDataChannel& channel, ZephExamples::FrameQueue& frames,
                                                     std::promise<void>& firstFrame)
{
    std::vector<std::vector<unsigned char>> received;
    while (const unsigned long long size = frames.Next(channel)) {
        std::vector<unsigned char> frame(size);
        EXPECT_EQ(channel.Read(frame.data(), size), size);
        received.push_back(std::move(frame));
        if (received.size() == 1)
            firstFrame.set_value();
    }
    if (received.empty())
        firstFrame.set_value();
    return received;
}

uint64_t LastReport(const std::string& report)
{
    std::istringstream lines(report);
    uint64_t last = 0;
    uint64_t n = 0;
    while (lines >> n)
        last = n;
    return last;
}

// The kill lands `killAfter` after both FIFOs are open or, with `afterReady`, after the peer's
// "ready" has arrived (so that frames flow however slowly the peer starts).
Outcome RunOnce(uint64_t seed, std::chrono::microseconds killAfter, bool afterReady)
{
    Outcome outcome;
    ZephTest::LogCapture log(google::GLOG_WARNING);
    ZephTest::TempDir dir;
    const std::string toPeer = dir.File("to-peer");
    const std::string fromPeer = dir.File("from-peer");
    if (mkfifo(toPeer.c_str(), 0600) != 0 || mkfifo(fromPeer.c_str(), 0600) != 0)
        throw std::runtime_error("mkfifo failed");
    ChildProcess peer({FAULT_PEER_PATH, "exchange", toPeer, fromPeer, std::to_string(seed), std::to_string(kMaxFrame)},
                      ChildProcess::Stdin::Inherit, ChildProcess::Stdout::Pipe);

    ZephExamples::FrameQueue frames;
    auto channel = FinishesWithin(
        "opening the FIFOs",
        [&] {
            auto output = DataOutputPipe::Create(toPeer, false);
            auto input = DataInputPipe::Create(fromPeer, false);
            return CommunicationChannel::Create(input, output, true);
        },
        kBound);
    channel->SetDataAvailableHandler(&frames);

    // Both ends are open now, so the kill can land anywhere without leaving us blocked in open.
    std::promise<void> firstFrame;
    std::thread killer([&, ready = firstFrame.get_future()] {
        if (afterReady)
            ready.wait_for(kBound);
        std::this_thread::sleep_for(killAfter);
        kill(peer.Pid(), SIGKILL);
    });
    const unsigned char go[] = {'g', 'o'};
    channel->Write(go, sizeof go);
    std::thread writer([&] {
        for (uint64_t i = 0;; ++i) {
            const auto frame = ZephTest::FaultFrame(ZephTest::TowardsPeer(seed), i, kMaxFrame);
            if (channel->Write(frame.data(), frame.size()) != frame.size())
                return;  // the peer is gone
            outcome.sentToPeer = i + 1;
        }
    });
    auto received = FinishesWithin(
        "reading until end of stream", [&] { return ReadUntilEnd(*channel, frames, firstFrame); }, kBound);
    FinishesWithin(
        "the writer meeting the dead peer", [&] { writer.join(); }, kBound);
    killer.join();

    int exitCode = -1;
    EXPECT_TRUE(peer.Wait(kBound, &exitCode));
    EXPECT_EQ(exitCode, 128 + SIGKILL) << "the peer ended on its own (3: it got a damaged frame)";
    std::string report;
    EXPECT_TRUE(peer.ReadStdout(report, kBound));
    outcome.reported = LastReport(report);

    EXPECT_FALSE(channel->IsDataAvaliable());
    EXPECT_TRUE(log.Contains("The read syscall returned EOF. The other process probably has crashed."));
    channel.reset();

    // The peer sent "ready", then its frames 0, 1, ... Whole frames come first; past the last
    // one it reported (and "ready" once it reported one), at most one more whole frame (sent,
    // not yet reported) and the one in flight, which keeps its announced length. "ready"
    // itself can be the frame in flight.
    const std::string ready = "ready";
    auto expected = [&](size_t i) {
        return i == 0 ? std::vector<unsigned char>(ready.begin(), ready.end())
                      : ZephTest::FaultFrame(seed, i - 1, kMaxFrame);
    };
    const uint64_t whole = outcome.reported == 0 ? 0 : outcome.reported + 1;
    EXPECT_GE(received.size(), whole);
    EXPECT_LE(received.size(), whole + 2);
    for (size_t i = 0; i < received.size(); ++i) {
        if (i + 1 < received.size() || i < whole) {
            EXPECT_EQ(received[i], expected(i)) << "frame " << i << " of " << received.size() << " (0 is ready)";
        } else {
            EXPECT_EQ(received[i].size(), expected(i).size()) << "the frame in flight keeps its announced length";
            outcome.lastCut = received[i] != expected(i);
        }
    }
    outcome.handshake = !received.empty() && received[0] == expected(0);
    outcome.received = received.empty() ? 0 : received.size() - 1;
    return outcome;
}

}  // namespace

TEST(PeerKilled, EveryWholeFrameArrivesAndTheSurvivorSeesEndOfStream)
{
    const int runs = KillRuns();
    std::random_device device;
    const uint64_t baseSeed = (uint64_t(device()) << 32) | device();
    std::mt19937_64 random(baseSeed);
    // A quarter of the kills land in the first 2 ms after the FIFOs are open (around the
    // handshake), the rest within 40 ms of the handshake, while frames flow both ways.
    std::uniform_int_distribution<int> early(0, 2000);
    std::uniform_int_distribution<int> later(0, 40000);

    const auto descriptors = ZephTest::OpenDescriptors();
    int beforeHandshake = 0;
    int cut = 0;
    int whole = 0;
    uint64_t framesIn = 0;
    uint64_t framesOut = 0;
    uint64_t reportedMax = 0;
    for (int run = 0; run < runs; ++run) {
        const uint64_t seed = random();
        const bool afterReady = run % 4 != 0;
        const std::chrono::microseconds killAfter(afterReady ? later(random) : early(random));
        SCOPED_TRACE("run " + std::to_string(run) + ", seed " + std::to_string(seed) + ", kill " +
                     std::to_string(killAfter.count()) + " us after " + (afterReady ? "ready" : "opening"));
        const Outcome outcome = RunOnce(seed, killAfter, afterReady);
        if (::testing::Test::HasFailure())
            break;
        beforeHandshake += !outcome.handshake;
        cut += outcome.handshake && outcome.lastCut;
        whole += outcome.handshake && !outcome.lastCut;
        framesIn += outcome.received;
        framesOut += outcome.sentToPeer;
        reportedMax = std::max(reportedMax, outcome.reported);
        ASSERT_EQ(ZephTest::OpenDescriptors(), descriptors) << "descriptors leaked";
    }
    std::cout << runs << " kills (base seed " << baseSeed << "): " << beforeHandshake
              << " before the handshake was through, " << cut << " with the last frame cut, " << whole
              << " with every frame whole; " << framesIn << " frames received, " << framesOut
              << " sent to the peer, at most " << reportedMax << " reported sent in one run\n";
}
