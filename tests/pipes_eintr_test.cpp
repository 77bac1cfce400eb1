// Signals that interrupt a blocked open, read or write: the pipes log the interruption and
// retry the same call. The handler is installed without SA_RESTART, so the kernel really
// fails the blocked call with EINTR, and the signal is sent to the blocked thread only.
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "IO/KorvelIO/DataInputPipe.h"
#include "IO/KorvelIO/DataOutputPipe.h"
#include "helpers/PipesPeer.h"
#include "support/ChildProcess.h"
#include "support/Fifo.h"
#include "support/LogCapture.h"
#include "support/Pattern.h"
#include "support/Timeout.h"

using namespace Korvel::Core;
using ZephTest::ChildProcess;

namespace {

using ZephTest::Fifo;
const auto kTimeout = ZephTest::kPeerTimeout;

void OnSignal(int) {}

class InterruptingSignal {
public:
    InterruptingSignal()
    {
        struct sigaction action = {};
        action.sa_handler = OnSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = 0;  // no SA_RESTART
        sigaction(SIGUSR1, &action, &m_saved);
    }
    ~InterruptingSignal() { sigaction(SIGUSR1, &m_saved, nullptr); }

private:
    struct sigaction m_saved;
};

// Signals `thread` until `message` has been logged; false when it never is.
bool InterruptUntilLogged(std::thread& thread, const ZephTest::LogCapture& capture, const std::string& message)
{
    return ZephTest::EventuallyTrue(
        [&] {
            if (capture.Count(message) != 0)
                return true;
            pthread_kill(thread.native_handle(), SIGUSR1);
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            return false;
        },
        kTimeout);
}

ChildProcess Peer(const std::vector<std::string>& args, ChildProcess::Stdout out = ChildProcess::Stdout::Inherit)
{
    return ZephTest::StartPeer(args, ChildProcess::Stdin::Pipe, out);
}

// Every interruption must be followed by the retry notice and the same chunk asked again.
void ExpectRetries(const std::vector<std::string>& messages, const std::string& failure, const std::string& notice,
                   const std::string& attempt)
{
    size_t failures = 0;
    for (size_t i = 0; i < messages.size(); ++i) {
        if (messages[i] != failure)
            continue;
        ++failures;
        ASSERT_GT(i, 0u);
        ASSERT_LT(i + 2, messages.size());
        EXPECT_EQ(messages[i - 1], attempt);
        EXPECT_EQ(messages[i + 1], notice);
        EXPECT_EQ(messages[i + 2], attempt);
    }
    EXPECT_GE(failures, 1u);
}

}  // namespace

// Each direction: the interrupted open is retried, and every line of the pipe's life (the
// WARNING, the open, the transfer, the close) names the pipe's own source, not a shared helper.
TEST(Interruptions, BlockedOpenIsRetriedAndLoggedFromThePipe)
{
    struct Direction {
        bool input;
        const char* source;
        const char* peerMode;
        const char* opened;
    };
    for (const Direction d : {Direction{true, "DataInputPipe.cpp", "write", "reading"},
                              Direction{false, "DataOutputPipe.cpp", "read", "writing"}}) {
        SCOPED_TRACE(d.source);
        Fifo fifo;
        InterruptingSignal signal;
        ZephTest::LogCapture capture;
        boost::intrusive_ptr<IByteDataInputEx> input;
        boost::intrusive_ptr<IByteDataOutputEx> output;
        std::thread opener([&] {
            try {
                if (d.input)
                    input = DataInputPipe::Create(fifo.path, false);
                else
                    output = DataOutputPipe::Create(fifo.path, false);
            } catch (...) {
            }
        });
        EXPECT_TRUE(InterruptUntilLogged(opener, capture, "The open syscall has been interrupted by a signal"));
        auto peer = Peer({d.peerMode, fifo.path, "5"});  // the open completes once the peer comes
        peer.CloseStdin();
        ZephTest::FinishesWithin(
            "the interrupted open", [&] { opener.join(); }, kTimeout);
        ASSERT_TRUE(input || output);
        const std::string opened = "The pipe " + fifo.path + " has been opened for " + d.opened + " successfully";
        EXPECT_EQ(capture.Lines().back().message.rfind(opened, 0), 0u);
        std::string data = ZephTest::Pattern(5);
        auto* bytes = reinterpret_cast<unsigned char*>(&data[0]);
        EXPECT_EQ(input ? input->Read(bytes, 5) : output->Write(bytes, 5), 5u);
        input.reset();
        output.reset();

        const auto lines = capture.Lines();
        ASSERT_GE(lines.size(), 5u);  // WARNING, opened, attempt, moved, closing
        EXPECT_EQ(lines[0].severity, google::GLOG_WARNING);
        for (const auto& line : lines)
            EXPECT_EQ(line.file, d.source) << line.message;
        EXPECT_EQ(ZephTest::ExitOf(peer), 0);
    }
}

TEST(Interruptions, BlockedReadIsRetriedWithTheSameChunk)
{
    Fifo fifo;
    auto peer = Peer({"write", fifo.path, "10", "wait"});
    InterruptingSignal signal;
    ZephTest::LogCapture capture;
    auto pipe = ZephTest::FinishesWithin(
        "open of the input FIFO", [&] { return DataInputPipe::Create(fifo.path, false); }, kTimeout);
    capture.Clear();

    unsigned char buffer[10] = {};
    unsigned long long count = 0;
    bool ok = false;
    std::thread reader([&] { ok = pipe->ReadRaw(buffer, 10, &count); });
    const std::string failure = std::string("Read failed, errno == 4, descrption:") + std::strerror(EINTR);
    EXPECT_TRUE(InterruptUntilLogged(reader, capture, failure));
    peer.WriteStdin("go");
    ZephTest::FinishesWithin(
        "the interrupted read", [&] { reader.join(); }, kTimeout);

    EXPECT_TRUE(ok);
    EXPECT_EQ(count, 10u);
    EXPECT_EQ(std::string(buffer, buffer + 10), ZephTest::Pattern(10));
    const auto messages = capture.Messages();
    ExpectRetries(messages, failure, "The read syscall has been interrupted. Trying to read again...",
                  "Trying to read 10 bytes from the input pipe");
    EXPECT_EQ(messages.back(), "10 bytes have been read");
    EXPECT_EQ(ZephTest::ExitOf(peer), 0);
}

TEST(Interruptions, BlockedWriteIsRetriedWithTheSameChunk)
{
    Fifo fifo;
    // More than the system's pipe holds, so the writer blocks until the peer drains it.
    const size_t size = 256 * 1024;
    auto peer = Peer({"read", fifo.path, std::to_string(size), "wait"}, ChildProcess::Stdout::Pipe);
    InterruptingSignal signal;
    ZephTest::LogCapture capture;
    auto pipe = ZephTest::FinishesWithin(
        "open of the output FIFO", [&] { return DataOutputPipe::Create(fifo.path, false); }, kTimeout);
    capture.Clear();

    const std::string data = ZephTest::Pattern(size);
    unsigned long long count = 0;
    bool ok = false;
    std::thread writer(
        [&] { ok = pipe->WriteRaw(reinterpret_cast<const unsigned char*>(data.data()), data.size(), &count); });
    const std::string failure = std::string("Write failed, errno == 4, descrption:") + std::strerror(EINTR);
    EXPECT_TRUE(InterruptUntilLogged(writer, capture, failure));
    peer.WriteStdin("go");
    ZephTest::FinishesWithin(
        "the interrupted write", [&] { writer.join(); }, kTimeout);
    pipe.reset();

    EXPECT_TRUE(ok);
    EXPECT_EQ(count, size);
    ExpectRetries(capture.Messages(), failure, "The write syscall has been interrupted. Trying to write again...",
                  "Trying to write 1024 bytes to the output pipe");
    std::string report;
    EXPECT_TRUE(peer.ReadStdout(report, kTimeout));
    EXPECT_EQ(report, std::to_string(size) + " ok");
    EXPECT_EQ(ZephTest::ExitOf(peer), 0);
}
