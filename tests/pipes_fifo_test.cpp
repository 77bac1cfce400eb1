// DataInputPipe and DataOutputPipe over real FIFOs with the peer in another process, over
// pipe() handles, interrupted by signals, and the standard-stream adapters.
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <boost/exception/get_error_info.hpp>
#include <gtest/gtest.h>

#include "IO/Exception.h"
#include "IO/KorvelIO/DataInputOutputPipe.h"
#include "IO/KorvelIO/DataInputPipe.h"
#include "IO/KorvelIO/DataOutputPipe.h"
#include "IO/KorvelIO/DataStdInput.h"
#include "IO/KorvelIO/DataStdOutput.h"
#include "IO/KorvelIO/PipeHandle.h"
#include "IO/KorvelIO/Protocols/ByteDataInputDefaultProtocol.h"
#include "IO/KorvelIO/Protocols/ByteDataInputRawProtocol.h"
#include "IO/KorvelIO/Protocols/ByteDataOutputDefaultProtocol.h"
#include "IO/KorvelIO/Protocols/ByteDataOutputRawProtocol.h"
#include "support/Fifo.h"
#include "support/LogCapture.h"
#include "support/Pattern.h"
#include "support/Peer.h"
#include "support/TempDir.h"
#include "support/Timeout.h"

using namespace Korvel::Core;
using ZephTest::ChildProcess;
using ZephTest::ExitOf;
using ZephTest::Fifo;
using ZephTest::StartPeer;

namespace {

const auto kTimeout = ZephTest::kPeerTimeout;

// One end of a FIFO, reading or writing through the library, with its log texts.
struct End {
    bool input;
    boost::intrusive_ptr<IByteDataInputEx> in;
    boost::intrusive_ptr<IByteDataOutputEx> out;

    End(bool input, const std::string& path) : input(input)
    {
        if (input)
            in = DataInputPipe::Create(path, false);
        else
            out = DataOutputPipe::Create(path, false);
    }
    bool Raw(std::string& bytes, unsigned long long* count) const
    {
        auto* p = reinterpret_cast<unsigned char*>(&bytes[0]);
        return input ? in->ReadRaw(p, bytes.size(), count) : out->WriteRaw(p, bytes.size(), count);
    }
    void Close()
    {
        in.reset();
        out.reset();
    }
};

const char* PeerOf(bool input)
{
    return input ? "pipe-write" : "pipe-read";
}
std::string Trying(bool input, size_t n)
{
    return input ? "Trying to read " + std::to_string(n) + " bytes from the input pipe"
                 : "Trying to write " + std::to_string(n) + " bytes to the output pipe";
}
std::string Moved(bool input, size_t n)
{
    return std::to_string(n) + (input ? " bytes have been read" : " bytes have been written");
}
std::string Failed(bool input, int error)
{
    return (input ? "Read failed, errno == " : "Write failed, errno == ") + std::to_string(error) +
           ", descrption:" + std::strerror(error);
}
std::string Opened(bool input, const std::string& path)
{
    return "The pipe " + path + " has been opened for " + (input ? "reading" : "writing") + " successfully, id == ";
}

End OpenWithin(bool input, const std::string& path)
{
    return ZephTest::FinishesWithin(
        "open of the FIFO", [&] { return End(input, path); }, kTimeout);
}

void (*SigpipeDisposition())(int)
{
    struct sigaction current;
    sigaction(SIGPIPE, nullptr, &current);
    return current.sa_handler;
}

}  // namespace

TEST(Pipes, TransferInLoggedSystemCallsOf1024)
{
    for (const bool input : {true, false}) {
        SCOPED_TRACE(input ? "input" : "output");
        Fifo fifo;
        // A reading peer asks for more than is sent, so it only finishes at end of file.
        auto peer = StartPeer({PeerOf(input), fifo.path, input ? "3000" : "5000"}, ChildProcess::Stdin::Inherit,
                              ChildProcess::Stdout::Pipe);
        signal(SIGPIPE, SIG_DFL);
        ZephTest::LogCapture capture;
        End end = OpenWithin(input, fifo.path);
        ASSERT_EQ(capture.Messages().size(), 1u);
        EXPECT_EQ(capture.Messages()[0].rfind(Opened(input, fifo.path), 0), 0u);
        EXPECT_EQ(SigpipeDisposition(), SIG_IGN);
        EXPECT_EQ(input ? end.in->GetMaxReadSizeAtTime() : end.out->GetMaxWriteSizeAtTime(), 1024u);

        capture.Clear();
        std::string bytes = input ? std::string(3000, '\0') : ZephTest::Pattern(3000);
        unsigned long long count = 0;
        EXPECT_TRUE(end.Raw(bytes, &count));
        EXPECT_EQ(count, 3000u);
        EXPECT_EQ(bytes, ZephTest::Pattern(3000));
        EXPECT_EQ(capture.Messages(),
                  (std::vector<std::string>{Trying(input, 1024), Moved(input, 1024), Trying(input, 1024),
                                            Moved(input, 1024), Trying(input, 952), Moved(input, 952)}));
        capture.Clear();
        std::string none;
        EXPECT_TRUE(end.Raw(none, &count));  // nothing asked: no system call, no log line
        EXPECT_EQ(count, 0u);
        EXPECT_TRUE(capture.Messages().empty());

        end.Close();
        EXPECT_EQ(capture.Messages(), std::vector<std::string>{input ? "Closing input pipe" : "Closing output pipe"});
        std::string report;
        EXPECT_TRUE(peer.ReadStdout(report, kTimeout));
        EXPECT_EQ(report, input ? "" : "3000 ok");
        EXPECT_EQ(ExitOf(peer), 0);
    }
}

TEST(InputPipe, EndOfFileEndsTheTransferWithItsLogLine)
{
    for (bool raw : {false, true}) {
        SCOPED_TRACE(raw ? "Raw protocol" : "Default protocol");
        Fifo fifo;
        auto peer = StartPeer({"pipe-write", fifo.path, "10"});
        ZephTest::LogCapture capture;
        auto pipe = ZephTest::FinishesWithin(
            "open of the input FIFO",
            [&] {
                std::unique_ptr<IByteDataInputProtocol> protocol(
                    raw ? static_cast<IByteDataInputProtocol*>(new ByteDataInputRawProtocol)
                        : new ByteDataInputDefaultProtocol);
                return DataInputPipe::Create(fifo.path, std::move(protocol), true);
            },
            kTimeout);
        std::vector<unsigned char> buffer(100, 0);
        EXPECT_EQ(pipe->Read(buffer.data(), 100), raw ? 10u : 0u);
        EXPECT_EQ(std::string(buffer.begin(), buffer.begin() + 10), ZephTest::Pattern(10));
        EXPECT_EQ(capture.Count("The read syscall returned EOF. The other process probably has crashed."), 1u);
        EXPECT_EQ(capture.Count("10 bytes have been read"), 1u);
        // The pipe stays usable and meets end of file again.
        unsigned long long count = 99;
        EXPECT_FALSE(pipe->ReadRaw(buffer.data(), 100, nullptr));
        EXPECT_FALSE(pipe->ReadRaw(buffer.data(), 100, &count));
        EXPECT_EQ(count, 0u);
        EXPECT_EQ(ExitOf(peer), 0);
    }
}

TEST(OutputPipe, WriteAfterTheReaderHasGoneFailsWithEpipeAndTheProcessLivesOn)
{
    Fifo fifo;
    auto peer = StartPeer({"pipe-read", fifo.path, "0"});  // opens, reads nothing, closes
    End end = OpenWithin(false, fifo.path);
    ASSERT_EQ(ExitOf(peer), 0);

    ZephTest::LogCapture capture;
    std::string bytes = ZephTest::Pattern(100);
    unsigned long long count = 99;
    EXPECT_FALSE(end.Raw(bytes, &count));
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(capture.Messages(), (std::vector<std::string>{Trying(false, 100), Failed(false, EPIPE)}));
    EXPECT_EQ(capture.Lines()[1].severity, google::GLOG_ERROR);

    const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
    EXPECT_EQ(end.out->Write(data, 100), 0u);  // Default protocol
    std::unique_ptr<IByteDataOutputProtocol> raw(new ByteDataOutputRawProtocol);
    raw->SetByteDataOutput(end.out.get());
    dynamic_cast<DataOutputPipe&>(*end.out).SetProtocol(std::move(raw));
    EXPECT_EQ(end.out->Write(data, 100), 0u);
    EXPECT_EQ(capture.Count(Failed(false, EPIPE)), 3u);
}

TEST(Pipes, MissingNameThrowsWithEnoentDetailsAndLogsTheName)
{
    ZephTest::TempDir dir;
    const std::string missing = dir.File("absent");
    void (*saved)(int) = signal(SIGPIPE, SIG_DFL);
    for (const bool input : {true, false}) {
        const std::string function = input ? "DataInputPipe" : "DataOutputPipe";
        SCOPED_TRACE(function);
        ZephTest::LogCapture capture;
        try {
            End(input, missing);
            ADD_FAILURE() << "no exception";
        } catch (const IOException& e) {
            using boost::get_error_info;
            ASSERT_TRUE(get_error_info<Korvel::DescriptionInfo>(e) && get_error_info<Korvel::SystemErrorCodeInfo>(e) &&
                        get_error_info<Korvel::DetailsInfo>(e) && get_error_info<boost::throw_function>(e));
            EXPECT_EQ(*get_error_info<Korvel::DescriptionInfo>(e),
                      input ? "Failed to open input pipe" : "Failed to open output pipe");
            EXPECT_EQ(*get_error_info<Korvel::SystemErrorCodeInfo>(e), ENOENT);
            EXPECT_EQ(*get_error_info<Korvel::DetailsInfo>(e), std::strerror(ENOENT));
            EXPECT_EQ(get_error_info<Korvel::FilenameInfo>(e), nullptr);
            EXPECT_EQ(get_error_info<Korvel::CallStackInfo>(e), nullptr);
            EXPECT_EQ(*get_error_info<boost::throw_function>(e), function);
            const std::string thrownFrom = *get_error_info<boost::throw_file>(e);
            EXPECT_EQ(thrownFrom.substr(thrownFrom.rfind('/') + 1), function + ".cpp");
        }
        ASSERT_EQ(capture.Lines().size(), 1u);
        EXPECT_EQ(capture.Lines()[0].severity, google::GLOG_ERROR);
        EXPECT_EQ(capture.Lines()[0].message,
                  (input ? "Failed to open the input pipe " : "Failed to open the output pipe ") + missing);
        EXPECT_EQ(capture.Lines()[0].file, function + ".cpp");
        EXPECT_NE(access(missing.c_str(), F_OK), 0);  // nothing was created
        EXPECT_EQ(SigpipeDisposition(), SIG_DFL);     // a failed open leaves SIGPIPE alone
    }
    signal(SIGPIPE, saved);
}

TEST(Pipes, OverHandlesOwnTheirDescriptorAndANullHandleHasNone)
{
    EXPECT_EQ(DescriptorFromPipeHandle(PipeHandleFromDescriptor(0)), 0);
    EXPECT_EQ(PipeHandleFromDescriptor(-1), nullptr);
    EXPECT_EQ(DescriptorFromPipeHandle(nullptr), -1);

    int ends[2];
    ASSERT_EQ(pipe(ends), 0);
    auto input = DataInputPipe::Create(PipeHandleFromDescriptor(ends[0]),
                                       std::unique_ptr<IByteDataInputProtocol>(new ByteDataInputRawProtocol));
    auto output = DataOutputPipe::Create(PipeHandleFromDescriptor(ends[1]),
                                         std::unique_ptr<IByteDataOutputProtocol>(new ByteDataOutputDefaultProtocol));
    const std::string data = ZephTest::Pattern(3000);
    EXPECT_EQ(output->Write(reinterpret_cast<const unsigned char*>(data.data()), data.size()), 3000u);
    output.reset();
    EXPECT_EQ(fcntl(ends[1], F_GETFD), -1);  // closed by its pipe
    std::vector<unsigned char> buffer(4000);
    EXPECT_EQ(input->Read(buffer.data(), buffer.size()), 3000u);  // Raw: stops at end of file
    EXPECT_EQ(std::string(buffer.begin(), buffer.begin() + 3000), data);
    input.reset();
    EXPECT_EQ(fcntl(ends[0], F_GETFD), -1);

    ZephTest::LogCapture capture;
    auto none = DataInputPipe::Create(nullptr, std::unique_ptr<IByteDataInputProtocol>(new ByteDataInputRawProtocol));
    EXPECT_EQ(none->Read(buffer.data(), 10), 0u);
    EXPECT_EQ(capture.Count(Failed(true, EBADF)), 1u);
    auto noOutput =
        DataOutputPipe::Create(nullptr, std::unique_ptr<IByteDataOutputProtocol>(new ByteDataOutputRawProtocol));
    EXPECT_EQ(noOutput->Write(buffer.data(), 10), 0u);
    capture.Clear();
    none.reset();
    noOutput.reset();
    EXPECT_TRUE(capture.Messages().empty());  // nothing to close, nothing logged
}

TEST(Pipes, NoDescriptorIsLeaked)
{
    ZephTest::TempDir dir;
    const std::string missing = dir.File("absent");
    auto exercise = [&] {
        Fifo fifo;
        auto peer = StartPeer({"pipe-write", fifo.path, "10"});
        std::string bytes(10, '\0');
        EXPECT_TRUE(OpenWithin(true, fifo.path).Raw(bytes, nullptr));
        EXPECT_EQ(ExitOf(peer), 0);
        EXPECT_THROW(End(true, missing), IOException);
        EXPECT_THROW(End(false, missing), IOException);
        End(false, "/dev/null");
        unsigned long size = 0;
        DataInputOutputPipe::Create("unused", false, size);
        DataStdInput::Create(size);
        DataStdOutput::Create(size);
    };
    ZephTest::LogCapture capture;  // log files and sinks settle during the first round
    exercise();
    const std::set<int> before = ZephTest::OpenDescriptors();
    exercise();
    exercise();
    EXPECT_EQ(ZephTest::OpenDescriptors(), before);
}

namespace {

void OnSignal(int) {}

// A SIGUSR1 handler without SA_RESTART, so the kernel really fails a blocked call with EINTR.
class InterruptingSignal {
public:
    InterruptingSignal()
    {
        struct sigaction action = {};
        action.sa_handler = OnSignal;
        sigaction(SIGUSR1, &action, &m_saved);
    }
    ~InterruptingSignal() { sigaction(SIGUSR1, &m_saved, nullptr); }

private:
    struct sigaction m_saved;
};

// Signals `thread` (only it) until `message` has been logged; false when it never is.
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

}  // namespace

// Each direction: the interrupted open is retried, and every line of the pipe's life (the
// WARNING, the open, the transfer, the close) names the pipe's own source, not a shared helper.
TEST(Interruptions, BlockedOpenIsRetriedAndLoggedFromThePipe)
{
    for (const bool input : {true, false}) {
        SCOPED_TRACE(input ? "input" : "output");
        Fifo fifo;
        InterruptingSignal signal;
        ZephTest::LogCapture capture;
        std::unique_ptr<End> end;
        std::thread opener([&] {
            try {
                end.reset(new End(input, fifo.path));
            } catch (...) {
            }
        });
        EXPECT_TRUE(InterruptUntilLogged(opener, capture, "The open syscall has been interrupted by a signal"));
        auto peer = StartPeer({PeerOf(input), fifo.path, "5"});  // the open completes once the peer comes
        ZephTest::FinishesWithin(
            "the interrupted open", [&] { opener.join(); }, kTimeout);
        ASSERT_TRUE(end);
        EXPECT_EQ(capture.Lines().back().message.rfind(Opened(input, fifo.path), 0), 0u);
        std::string bytes = ZephTest::Pattern(5);
        EXPECT_TRUE(end->Raw(bytes, nullptr));
        end.reset();

        const auto lines = capture.Lines();
        ASSERT_GE(lines.size(), 5u);  // WARNING, opened, attempt, moved, closing
        EXPECT_EQ(lines[0].severity, google::GLOG_WARNING);
        for (const auto& line : lines)
            EXPECT_EQ(line.file, input ? "DataInputPipe.cpp" : "DataOutputPipe.cpp") << line.message;
        EXPECT_EQ(ExitOf(peer), 0);
    }
}

// Each direction: every interruption is logged, then the retry notice, then the same chunk is
// asked again, and all the bytes arrive.
TEST(Interruptions, BlockedReadAndWriteAreRetriedWithTheSameChunk)
{
    for (const bool input : {true, false}) {
        SCOPED_TRACE(input ? "read" : "write");
        // More than the system's pipe holds, so that the writer blocks until the peer drains it.
        const size_t size = input ? 10 : 256 * 1024;
        Fifo fifo;
        auto peer = StartPeer({PeerOf(input), fifo.path, std::to_string(size), "wait"}, ChildProcess::Stdin::Pipe,
                              ChildProcess::Stdout::Pipe);
        InterruptingSignal signal;
        ZephTest::LogCapture capture;
        End end = OpenWithin(input, fifo.path);
        capture.Clear();

        std::string bytes = input ? std::string(size, '\0') : ZephTest::Pattern(size);
        unsigned long long count = 0;
        bool ok = false;
        std::thread mover([&] { ok = end.Raw(bytes, &count); });
        EXPECT_TRUE(InterruptUntilLogged(mover, capture, Failed(input, EINTR)));
        peer.WriteStdin("go");
        ZephTest::FinishesWithin(
            "the interrupted transfer", [&] { mover.join(); }, kTimeout);
        end.Close();
        EXPECT_TRUE(ok);
        EXPECT_EQ(count, size);
        EXPECT_EQ(bytes, ZephTest::Pattern(size));

        const auto messages = capture.Messages();
        const std::string notice = input ? "The read syscall has been interrupted. Trying to read again..."
                                         : "The write syscall has been interrupted. Trying to write again...";
        for (size_t i = 0; i < messages.size(); ++i) {
            if (messages[i] != Failed(input, EINTR))
                continue;
            ASSERT_TRUE(i > 0 && i + 2 < messages.size());
            EXPECT_EQ(messages[i - 1], Trying(input, std::min<size_t>(size, 1024)));
            EXPECT_EQ(messages[i + 1], notice);
            EXPECT_EQ(messages[i + 2], messages[i - 1]);
        }
        std::string report;
        EXPECT_TRUE(peer.ReadStdout(report, kTimeout));
        EXPECT_EQ(report, input ? "" : std::to_string(size) + " ok");
        EXPECT_EQ(ExitOf(peer), 0);
    }
}

TEST(StdAdapters, WorkOnDuplicatesOfTheStandardDescriptors)
{
    if (fcntl(0, F_GETFD) == -1 || fcntl(1, F_GETFD) == -1)
        GTEST_SKIP() << "the test process has no standard input or output";
    unsigned long inSize = 0, outSize = 0;
    auto in = DataStdInput::Create(inSize);
    auto out = DataStdOutput::Create(outSize);
    ASSERT_TRUE(in && out);
    EXPECT_EQ(inSize, 1024u);
    EXPECT_EQ(outSize, 1024u);
    auto& stdIn = dynamic_cast<DataStdInput&>(*in);
    auto& stdOut = dynamic_cast<DataStdOutput&>(*out);
    const int copies[] = {DescriptorFromPipeHandle(stdIn.GetPipeHandle()),
                          DescriptorFromPipeHandle(stdOut.GetPipeHandle())};
    for (int fd : {0, 1}) {
        struct stat original, copy;
        ASSERT_EQ(fstat(fd, &original) | fstat(copies[fd], &copy), 0);
        EXPECT_GT(copies[fd], 2);
        EXPECT_EQ(std::make_pair(copy.st_dev, copy.st_ino), std::make_pair(original.st_dev, original.st_ino));
    }
    // Replacing the pipes closes the duplicates they owned, not the process's descriptors.
    ZephTest::LogCapture capture;
    stdIn.SetInputPipe(nullptr);
    stdOut.SetOutputPipe(nullptr);
    EXPECT_EQ(fcntl(copies[0], F_GETFD), -1);
    EXPECT_EQ(fcntl(copies[1], F_GETFD), -1);
    unsigned char buffer[8] = {};
    EXPECT_EQ(in->Read(buffer, 8), 0u);
    EXPECT_EQ(out->Write(buffer, 8), 0u);
    const auto lines = capture.Lines();
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0].message, "Closing input pipe");
    EXPECT_EQ(lines[1].message, "Closing output pipe");
    EXPECT_EQ(lines[2].message + lines[2].file, "Implementation IByteDataInputEx not definedDataStdInput.cpp");
    EXPECT_EQ(lines[3].message + lines[3].file, "Implementation IByteDataOutputEx not definedDataStdOutput.cpp");
    in.reset();
    out.reset();
    EXPECT_NE(fcntl(0, F_GETFD), -1);
    EXPECT_NE(fcntl(1, F_GETFD), -1);
}

TEST(StdAdapters, CopyAChildsStdinToItsStdoutAndGiveNothingWithoutStdin)
{
    auto child = StartPeer({"std-echo"}, ChildProcess::Stdin::Pipe, ChildProcess::Stdout::Pipe);
    const std::string data = ZephTest::Pattern(5000);
    // Less than the system's pipe holds, so writing all before reading cannot deadlock.
    EXPECT_TRUE(child.WriteStdin(data));
    child.CloseStdin();
    std::string echoed;
    EXPECT_TRUE(child.ReadStdout(echoed, kTimeout));
    EXPECT_EQ(echoed, data + "|end");
    EXPECT_EQ(ExitOf(child), 0);

    auto closed = StartPeer({"std-closed"}, ChildProcess::Stdin::Closed);
    EXPECT_EQ(ExitOf(closed), 0);
}
