// 64 MiB through a FIFO from a fault_peer process while signals rain on both ends every 100
// microseconds, caught by handlers installed without SA_RESTART: every blocked open, read and
// write of the pipes keeps failing with EINTR. The bytes must arrive identical and in order.
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "IO/ZephIO.h"
#include "helpers/FaultFrames.h"
#include "support/ChildProcess.h"
#include "support/Fifo.h"
#include "support/LogCapture.h"
#include "support/Timeout.h"

using namespace Korvel::Core;
using ZephTest::ChildProcess;

namespace {

std::atomic<unsigned long> g_caught{0};

void CountSignal(int)
{
    g_caught.fetch_add(1, std::memory_order_relaxed);
}

// Sends SIGUSR1 to one thread every 100 microseconds while it lives.
class SignalStorm {
public:
    explicit SignalStorm(pthread_t target) : m_target(target)
    {
        struct sigaction action = {};
        action.sa_handler = CountSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = 0;  // no SA_RESTART
        sigaction(SIGUSR1, &action, &m_saved);
        m_thread = std::thread([this] {
            timespec next;
            clock_gettime(CLOCK_MONOTONIC, &next);
            while (!m_stop.load()) {
                next.tv_nsec += 100000;
                if (next.tv_nsec >= 1000000000) {
                    next.tv_nsec -= 1000000000;
                    ++next.tv_sec;
                }
                clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &next, nullptr);
                pthread_kill(m_target, SIGUSR1);
                ++m_sent;
            }
        });
    }
    ~SignalStorm()
    {
        m_stop = true;
        m_thread.join();
        sigaction(SIGUSR1, &m_saved, nullptr);
    }
    unsigned long Sent() const { return m_sent; }

private:
    pthread_t m_target;
    struct sigaction m_saved;
    std::atomic<bool> m_stop{false};
    std::atomic<unsigned long> m_sent{0};
    std::thread m_thread;
};

// Sends stderr to /dev/null while it lives: each interruption is logged, thousands of times.
class QuietStderr {
public:
    QuietStderr() : m_saved(dup(2))
    {
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, 2);
        close(null);
    }
    ~QuietStderr()
    {
        dup2(m_saved, 2);
        close(m_saved);
    }

private:
    int m_saved;
};

}  // namespace

TEST(SignalStorm, SixtyFourMiBArriveIdenticalThroughInterruptedCalls)
{
    constexpr uint64_t kSize = 64ull << 20;
    ZephTest::Fifo fifo;
    // ERROR keeps the interruption lines (one per EINTR) and drops the per-call INFO lines.
    ZephTest::LogCapture log(google::GLOG_ERROR);
    QuietStderr quiet;
    ChildProcess peer({FAULT_PEER_PATH, "storm-write", fifo.path, std::to_string(kSize)}, ChildProcess::Stdin::Inherit,
                      ChildProcess::Stdout::Pipe);

    uint64_t received = 0;
    uint64_t firstBad = kSize;
    unsigned long sent = 0;
    ZephTest::FinishesWithin(
        "the transfer under the signal storm",
        [&] {
            SignalStorm storm(pthread_self());
            auto input = DataInputPipe::Create(fifo.path, false);  // the open is interrupted too
            std::vector<unsigned char> buffer(1 << 20);
            while (received < kSize) {
                const uint64_t n = input->Read(buffer.data(), buffer.size());
                if (n != buffer.size())
                    break;
                for (uint64_t i = 0; i < n && firstBad == kSize; ++i)
                    if (buffer[i] != ZephTest::StreamByte(received + i))
                        firstBad = received + i;
                received += n;
            }
            sent = storm.Sent();
        },
        std::chrono::seconds(100));

    EXPECT_EQ(received, kSize);
    EXPECT_EQ(firstBad, kSize) << "first differing byte";
    std::string report;
    EXPECT_TRUE(peer.ReadStdout(report, std::chrono::seconds(10)));
    int exitCode = -1;
    EXPECT_TRUE(peer.Wait(std::chrono::seconds(10), &exitCode));
    EXPECT_EQ(exitCode, 0) << report;
    unsigned long long written = 0;
    unsigned long peerSignals = 0;
    unsigned long interruptedWrites = 0;
    EXPECT_EQ(std::sscanf(report.c_str(), "%llu %lu %lu", &written, &peerSignals, &interruptedWrites), 3) << report;
    EXPECT_EQ(written, kSize);

    // The storm really did interrupt system calls on both sides.
    const size_t interruptedReads =
        log.Count(std::string("Read failed, errno == 4, descrption:") + std::strerror(EINTR));
    EXPECT_GT(interruptedReads, 0u);
    EXPECT_GT(interruptedWrites, 0u);
    std::cout << "reader: " << sent << " signals sent, " << g_caught.load() << " caught, " << interruptedReads
              << " reads interrupted; writer: " << peerSignals << " signals caught, " << interruptedWrites
              << " writes interrupted\n";
}
