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

// Every process is several times slower under the sanitizers; fewer runs keep CI's time in
// bounds there. ZEPHTEST_KILL_RUNS sets the number for a longer run by hand.
int KillRuns()
{
    if (const char* runs = std::getenv("ZEPHTEST_KILL_RUNS"))
        return std::atoi(runs);
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    return 30;
#else
    return 100;
#endif
}

struct Outcome {
    bool handshake = false;   // the peer's "ready" arrived
    uint64_t reported = 0;    // frames the peer said it had completely sent
    uint64_t received = 0;    // frames after "ready"
    bool lastCut = false;     // the last frame arrived damaged
    uint64_t sentToPeer = 0;  // our frames whose Write succeeded
};

std::vector<std::vector<unsigned char>> ReadUntilEnd(IDataChannel& channel, ZephExamples::FrameQueue& frames)
{
    std::vector<std::vector<unsigned char>> received;
    while (const unsigned long long size = frames.Next(channel)) {
        std::vector<unsigned char> frame(size);
        EXPECT_EQ(channel.Read(frame.data(), size), size);
        received.push_back(std::move(frame));
    }
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

Outcome RunOnce(uint64_t seed, std::chrono::microseconds killAfter)
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
    std::thread killer([&] {
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
        "reading until end of stream", [&] { return ReadUntilEnd(*channel, frames); }, kBound);
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

    if (received.empty()) {
        EXPECT_EQ(outcome.reported, 0u);
        return outcome;
    }
    EXPECT_EQ(std::string(received[0].begin(), received[0].end()), "ready");
    outcome.handshake = true;
    received.erase(received.begin());
    outcome.received = received.size();
    // Whole frames first; past the last reported one, at most one more whole frame (sent,
    // not yet reported) and the one in flight.
    EXPECT_GE(received.size(), outcome.reported);
    EXPECT_LE(received.size(), outcome.reported + 2);
    for (size_t i = 0; i < received.size(); ++i) {
        const auto expected = ZephTest::FaultFrame(seed, i, kMaxFrame);
        const bool last = i + 1 == received.size();
        if (!last || i < outcome.reported) {
            EXPECT_EQ(received[i], expected) << "frame " << i << " of " << received.size();
        } else {
            EXPECT_EQ(received[i].size(), expected.size()) << "the frame in flight keeps its announced length";
            outcome.lastCut = received[i] != expected;
        }
    }
    return outcome;
}

}  // namespace

TEST(PeerKilled, EveryWholeFrameArrivesAndTheSurvivorSeesEndOfStream)
{
    const int runs = KillRuns();
    std::random_device device;
    const uint64_t baseSeed = (uint64_t(device()) << 32) | device();
    std::mt19937_64 random(baseSeed);
    // A quarter of the kills land in the first 2 ms (around the handshake), the rest spread
    // over the exchange.
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
        const std::chrono::microseconds killAfter(run % 4 == 0 ? early(random) : later(random));
        SCOPED_TRACE("run " + std::to_string(run) + ", seed " + std::to_string(seed) + ", kill after " +
                     std::to_string(killAfter.count()) + " us");
        const Outcome outcome = RunOnce(seed, killAfter);
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
    std::cout << runs << " kills (base seed " << baseSeed << "): " << beforeHandshake << " before the handshake, "
              << cut << " with the last frame cut, " << whole << " with every frame whole; " << framesIn
              << " frames received, " << framesOut << " sent to the peer, at most " << reportedMax
              << " reported sent in one run\n";
}
