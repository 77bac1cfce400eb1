// DataInputPipe and DataOutputPipe over real FIFOs with the peer in another process, over
// pipe() handles, interrupted by signals, and the standard-stream adapters.
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <future>
#include <cerrno>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <boost/exception/get_error_info.hpp>
#include <gtest/gtest.h>

#include "IO/ZephIO.h"
#include "support/Fifo.h"
#include "support/LogCapture.h"
#include "common/Frames.h"
#include "common/Process.h"
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

// One end of a FIFO, reading or writing through the library.
struct End {
    bool input;
    boost::intrusive_ptr<IByteDataInputEx> in;
    boost::intrusive_ptr<IByteDataOutputEx> out;

    End(bool input, const std::string& path, const PipeOptions* options = nullptr) : input(input)
    {
        if (input)
            in = options ? DataInputPipe::Create(path, *options) : DataInputPipe::Create(path, false);
        else
            out = options ? DataOutputPipe::Create(path, *options) : DataOutputPipe::Create(path, false);
    }
    bool Raw(std::string& bytes, unsigned long long* count) const
    {
        auto* p = reinterpret_cast<unsigned char*>(&bytes[0]);
        return input ? in->ReadRaw(p, bytes.size(), count) : out->WriteRaw(p, bytes.size(), count);
    }
};

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
End OpenWithin(bool input, const std::string& path, const PipeOptions* options = nullptr)
{
    return ZephTest::FinishesWithin(
        "open of the FIFO", [&] { return End(input, path, options); }, kTimeout);
}

// The captured lines as "SEVERITY file: message".
std::vector<std::string> Logged(const ZephTest::LogCapture& capture)
{
    std::vector<std::string> lines;
    for (const auto& line : capture.Lines())
        lines.push_back(std::string(google::GetLogSeverityName(line.severity)) + " " + line.file + ": " + line.message);
    return lines;
}

void (*SigpipeDisposition())(int)
{
    struct sigaction current;
    sigaction(SIGPIPE, nullptr, &current);
    return current.sa_handler;
}

}  // namespace

// A peer that has gone: a read meets end of file, logged, and again on every later read; a
// write fails with EPIPE instead of ending the process.
TEST(Pipes, PeerGoneGivesEndOfFileOrEpipe)
{
    for (const bool input : {true, false}) {
        SCOPED_TRACE(input ? "input" : "output");
        Fifo fifo;
        auto peer = StartPeer({input ? "pipe-write" : "pipe-read", fifo.path, input ? "10" : "0"});
        End end = OpenWithin(input, fifo.path);
        ASSERT_EQ(ExitOf(peer), 0);
        ZephTest::LogCapture capture;
        std::string bytes = input ? std::string(100, '\0') : ZephCommon::Pattern(100);
        unsigned long long count = 99;
        EXPECT_FALSE(end.Raw(bytes, &count));
        EXPECT_EQ(count, input ? 10u : 0u);
        EXPECT_EQ(bytes.substr(0, 10), ZephCommon::Pattern(10));
        const std::vector<std::string> expected =
            input ? std::vector<std::string>{"INFO DataInputPipe.cpp: " + Trying(true, 100),
                                             "INFO DataInputPipe.cpp: 10 bytes have been read",
                                             "INFO DataInputPipe.cpp: " + Trying(true, 90),
                                             "WARNING DataInputPipe.cpp: The read syscall returned EOF. The other "
                                             "process probably has crashed."}
                  : std::vector<std::string>{"INFO DataOutputPipe.cpp: " + Trying(false, 100),
                                             "ERROR DataOutputPipe.cpp: " + Failed(false, EPIPE)};
        EXPECT_EQ(Logged(capture), expected);
        EXPECT_FALSE(end.Raw(bytes, nullptr));
        EXPECT_FALSE(end.Raw(bytes, &count));
        EXPECT_EQ(count, 0u);
    }
}

// The throw's details are checked with every other throw's (core_test); here, what goes
// beside it: the name in the log, nothing created, SIGPIPE left alone.
TEST(Pipes, MissingNameThrowsAndLogsTheName)
{
    ZephTest::TempDir dir;
    const std::string missing = dir.File("absent");
    void (*saved)(int) = signal(SIGPIPE, SIG_DFL);
    for (const bool input : {true, false}) {
        const std::string function = input ? "DataInputPipe" : "DataOutputPipe";
        SCOPED_TRACE(function);
        ZephTest::LogCapture capture;
        EXPECT_THROW(End(input, missing), IOException);
        EXPECT_EQ(Logged(capture), std::vector<std::string>{"ERROR " + function + ".cpp: Failed to open the " +
                                                            (input ? "input" : "output") + " pipe " + missing});
        EXPECT_NE(access(missing.c_str(), F_OK), 0);  // nothing was created
        EXPECT_EQ(SigpipeDisposition(), SIG_DFL);     // a failed open leaves SIGPIPE alone
    }
    signal(SIGPIPE, saved);
}

TEST(Pipes, NullHandleHasNoDescriptorToUseOrClose)
{
    ZephTest::LogCapture capture;
    unsigned char buffer[10];
    auto none = DataInputPipe::Create(nullptr, std::unique_ptr<IByteDataInputProtocol>(new ByteDataInputRawProtocol));
    EXPECT_EQ(none->Read(buffer, 10), 0u);
    EXPECT_EQ(capture.Count(Failed(true, EBADF)), 1u);
    auto noOutput =
        DataOutputPipe::Create(nullptr, std::unique_ptr<IByteDataOutputProtocol>(new ByteDataOutputRawProtocol));
    EXPECT_EQ(noOutput->Write(buffer, 10), 0u);
    capture.Clear();
    none.reset();
    noOutput.reset();
    EXPECT_TRUE(capture.Messages().empty());  // nothing to close, nothing logged
}

// Every kind of pipe closes what it owns: a FIFO, pipe() ends handed over as handles, the
// duplicates of the adapters; a failed open leaves nothing open.
TEST(Pipes, NoDescriptorIsLeaked)
{
    ZephTest::TempDir dir;
    const std::string missing = dir.File("absent");
    auto exercise = [&] {
        Fifo fifo;
        auto peer = StartPeer({"pipe-write", fifo.path, "10"});
        auto pipe = ZephTest::FinishesWithin(
            "open of the FIFO",
            [&] {
                return DataInputPipe::Create(
                    fifo.path, std::unique_ptr<IByteDataInputProtocol>(new ByteDataInputRawProtocol), false);
            },
            kTimeout);
        unsigned char buffer[4000];
        EXPECT_EQ(pipe->Read(buffer, 100), 10u);  // the protocol given: Raw stops at end of file
        EXPECT_EQ(ExitOf(peer), 0);
        int ends[2];
        ASSERT_EQ(::pipe(ends), 0);
        auto input = DataInputPipe::Create(PipeHandleFromDescriptor(ends[0]),
                                           std::unique_ptr<IByteDataInputProtocol>(new ByteDataInputRawProtocol));
        const std::string data = ZephCommon::Pattern(3000);
        EXPECT_EQ(DataOutputPipe::Create(PipeHandleFromDescriptor(ends[1]),
                                         std::unique_ptr<IByteDataOutputProtocol>(new ByteDataOutputDefaultProtocol))
                      ->Write(reinterpret_cast<const unsigned char*>(data.data()), data.size()),
                  3000u);
        EXPECT_EQ(input->Read(buffer, 4000), 3000u);  // the writer has closed its end
        EXPECT_EQ(std::string(buffer, buffer + 3000), data);
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
    const std::set<int> before = ZephCommon::OpenDescriptors();
    exercise();
    exercise();
    EXPECT_EQ(ZephCommon::OpenDescriptors(), before);
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

// Each direction, under a signal without SA_RESTART: the interrupted open, read or write is
// logged and retried (with the same chunk); transfers go in logged system calls of at most
// 1024 bytes; every line of the pipe's life names the pipe's own source, not a shared helper.
TEST(Pipes, TransferInLoggedChunksOf1024RetryingInterruptedCalls)
{
    for (const bool input : {true, false}) {
        SCOPED_TRACE(input ? "input" : "output");
        // More than the system's pipe holds, so that the writer blocks until the peer drains it.
        const size_t size = input ? 3000 : 256 * 1024;
        Fifo fifo;
        signal(SIGPIPE, SIG_DFL);
        InterruptingSignal interrupting;
        ZephTest::LogCapture capture;
        std::unique_ptr<End> end;
        std::thread opener([&] { end.reset(new End(input, fifo.path)); });
        const std::string openInterrupted = "The open syscall has been interrupted by a signal";
        EXPECT_TRUE(InterruptUntilLogged(opener, capture, openInterrupted));
        auto peer = StartPeer({input ? "pipe-write" : "pipe-read", fifo.path, std::to_string(size), "wait"},
                              ChildProcess::Stdin::Pipe, ChildProcess::Stdout::Pipe);
        ZephTest::FinishesWithin(
            "the interrupted open", [&] { opener.join(); }, kTimeout);
        EXPECT_EQ(capture.Lines()[0].severity, google::GLOG_WARNING);
        EXPECT_EQ(SigpipeDisposition(), SIG_IGN);
        EXPECT_EQ(input ? end->in->GetMaxReadSizeAtTime() : end->out->GetMaxWriteSizeAtTime(), 1024u);

        std::string bytes = input ? std::string(size, '\0') : ZephCommon::Pattern(size);
        unsigned long long count = 0;
        bool ok = false;
        std::thread mover([&] { ok = end->Raw(bytes, &count); });
        EXPECT_TRUE(InterruptUntilLogged(mover, capture, Failed(input, EINTR)));
        peer.WriteStdin("go");
        ZephTest::FinishesWithin(
            "the interrupted transfer", [&] { mover.join(); }, kTimeout);
        EXPECT_TRUE(ok);
        EXPECT_EQ(count, size);
        EXPECT_EQ(bytes, ZephCommon::Pattern(size));
        std::string none;
        const size_t logged = capture.Lines().size();
        EXPECT_TRUE(end->Raw(none, &count));  // nothing asked: no system call, no log line
        EXPECT_EQ(count, 0u);
        EXPECT_EQ(capture.Lines().size(), logged);
        end.reset();

        // Without its interruptions and their retries, the log is the plain life of the pipe.
        const auto messages = capture.Messages();
        const std::string notice = input ? "The read syscall has been interrupted. Trying to read again..."
                                         : "The write syscall has been interrupted. Trying to write again...";
        std::vector<std::string> plain;
        for (size_t i = 0; i < messages.size(); ++i) {
            if (messages[i] == Failed(input, EINTR)) {
                ASSERT_TRUE(i > 0 && i + 2 < messages.size());
                EXPECT_EQ(messages[i + 1], notice);
                EXPECT_EQ(messages[i + 2], messages[i - 1]);
                i += 2;
            } else if (messages[i] != openInterrupted) {
                plain.push_back(messages[i]);
            }
        }
        ASSERT_FALSE(plain.empty());
        EXPECT_EQ(plain[0].rfind("The pipe " + fifo.path + " has been opened for " + (input ? "reading" : "writing") +
                                     " successfully, id == ",
                                 0),
                  0u);
        std::vector<std::string> expected{plain[0]};
        for (size_t done = 0; done < size; done += 1024) {
            expected.push_back(Trying(input, std::min<size_t>(1024, size - done)));
            expected.push_back(Moved(input, std::min<size_t>(1024, size - done)));
        }
        expected.push_back(input ? "Closing input pipe" : "Closing output pipe");
        EXPECT_EQ(plain, expected);
        for (const auto& line : capture.Lines())
            EXPECT_EQ(line.file, input ? "DataInputPipe.cpp" : "DataOutputPipe.cpp") << line.message;
        std::string report;
        EXPECT_TRUE(peer.ReadStdout(report, kTimeout));
        EXPECT_EQ(report, input ? "" : std::to_string(size) + " ok");
        EXPECT_EQ(ExitOf(peer), 0);
    }
}

// The adapters own duplicates of descriptors 0 and 1: replacing their pipes closes those, not
// the process's own.
TEST(StdAdapters, OwnDuplicatesOfTheStandardDescriptors)
{
    if (fcntl(0, F_GETFD) == -1 || fcntl(1, F_GETFD) == -1)
        GTEST_SKIP() << "the test process has no standard input or output";
    unsigned long size = 0;
    auto in = DataStdInput::Create(size);
    auto out = DataStdOutput::Create(size);
    auto& stdIn = dynamic_cast<DataStdInput&>(*in);
    auto& stdOut = dynamic_cast<DataStdOutput&>(*out);
    const int copies[] = {DescriptorFromPipeHandle(stdIn.GetPipeHandle()),
                          DescriptorFromPipeHandle(stdOut.GetPipeHandle())};
    ZephTest::LogCapture capture;
    stdIn.SetInputPipe(nullptr);
    stdOut.SetOutputPipe(nullptr);
    EXPECT_EQ(fcntl(copies[0], F_GETFD) + fcntl(copies[1], F_GETFD), -2);
    unsigned char buffer[8] = {};
    EXPECT_EQ(in->Read(buffer, 8) + out->Write(buffer, 8), 0u);
    in.reset();
    out.reset();
    EXPECT_NE(fcntl(0, F_GETFD), -1);
    EXPECT_NE(fcntl(1, F_GETFD), -1);
    EXPECT_EQ(Logged(capture),
              (std::vector<std::string>{"INFO DataInputPipe.cpp: Closing input pipe",
                                        "INFO DataOutputPipe.cpp: Closing output pipe",
                                        "ERROR DataStdInput.cpp: Implementation IByteDataInputEx not defined",
                                        "ERROR DataStdOutput.cpp: Implementation IByteDataOutputEx not defined"}));
}

TEST(StdAdapters, CopyAChildsStdinToItsStdoutAndGiveNothingWithoutStdin)
{
    auto child = StartPeer({"std-echo"}, ChildProcess::Stdin::Pipe, ChildProcess::Stdout::Pipe);
    const std::string data = ZephCommon::Pattern(5000);
    // Less than the system's pipe holds, so writing all before reading cannot deadlock.
    EXPECT_TRUE(child.WriteStdin(data));
    child.CloseStdin();
    std::string echoed;
    EXPECT_TRUE(child.ReadStdout(echoed, kTimeout));
    EXPECT_EQ(echoed, data + "|end");
    EXPECT_EQ(ExitOf(child), 0);

    auto closed = StartPeer({"std-echo"}, ChildProcess::Stdin::Closed);
    EXPECT_EQ(ExitOf(closed), 40);
}

namespace {

// Runs `call` on a thread of its own, lets it block, then runs `stop`; the milliseconds from
// `stop` to the end of `call`.
template <class Call, class Stop>
double MsUntilStopped(Call call, Stop stop)
{
    std::thread blocked(call);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const auto start = std::chrono::steady_clock::now();
    stop();
    ZephTest::FinishesWithin(
        "the stopped call", [&] { blocked.join(); }, kTimeout);
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

std::string Named(bool input, const std::string& name, const std::string& what)
{
    return (input ? "Reading from the input pipe " : "Writing to the output pipe ") + name + what;
}

// Runs `open` and returns the system error code of the IOException it threw, 0 when none.
template <class Open>
int OpenFailure(Open open)
{
    try {
        open();
    } catch (const IOException& e) {
        return *boost::get_error_info<Korvel::SystemErrorCodeInfo>(e);
    }
    return 0;
}

}  // namespace

// A cancellable pipe: its own Cancel (input) or its canceller's (output) ends a read of a
// silent peer or a write into a full pipe at once; the call keeps what it moved, one WARNING
// names the pipe, and later calls return without a system call. Opened with close on exec.
TEST(PipeOptions, CancelEndsABlockedReadOrWriteForGood)
{
    for (const bool input : {true, false}) {
        SCOPED_TRACE(input ? "input" : "output");
        Fifo fifo;
        auto peer = StartPeer({input ? "pipe-write" : "pipe-read", fifo.path, "10", "wait"}, ChildProcess::Stdin::Pipe);
        PipeOptions options;
        options.closeOnExec = true;
        options.cancellable = input;
        if (!input)
            options.canceller = PipeCanceller::Create();
        ZephTest::LogCapture capture;
        End end = OpenWithin(input, fifo.path, &options);
        const std::string opened = capture.Messages().at(0);
        EXPECT_EQ(fcntl(std::stoi(opened.substr(opened.rfind("== ") + 3)), F_GETFD), FD_CLOEXEC);
        const size_t size = input ? 100 : 256 * 1024;
        std::string bytes = input ? std::string(size, '\0') : ZephCommon::Pattern(size);
        unsigned long long count = 1;
        bool ok = true;
        const double ms = MsUntilStopped([&] { ok = end.Raw(bytes, &count); },
                                         [&] { input ? end.in->Cancel() : options.canceller->Cancel(); });
        EXPECT_LT(ms, 1000.0);
        RecordProperty(input ? "read_cancel_us" : "write_cancel_us", static_cast<int>(ms * 1000));
        EXPECT_FALSE(ok);
        EXPECT_EQ(count % 1024, 0u);  // whole chunks into a pipe that filled up
        EXPECT_EQ(count == 0, input);
        EXPECT_LT(count, size);
        EXPECT_EQ(capture.Count(Named(input, fifo.path, " has been cancelled")), 1u);
        const size_t logged = capture.Lines().size();
        EXPECT_FALSE(end.Raw(bytes, &count));
        EXPECT_EQ(count, 0u);
        EXPECT_EQ(capture.Lines().size(), logged);
    }
}

// An open waiting for its peer gives up when its canceller fires or its wait limit passes,
// throwing as a failed open does; a read that waited the limit returns, the pipe stays usable.
TEST(PipeOptions, OpenGivesUpOnCancelOrWaitLimitAndAReadWaitsAtMostTheLimit)
{
    for (const bool input : {true, false}) {
        for (const bool cancel : {true, false}) {
            SCOPED_TRACE(std::string(input ? "input" : "output") + (cancel ? ", cancelled" : ", wait limit"));
            Fifo fifo;
            PipeOptions options;
            options.waitLimit = std::chrono::milliseconds(cancel ? 0 : 100);
            options.canceller = cancel ? PipeCanceller::Create() : nullptr;
            std::string description;
            int code = 0;
            const auto start = std::chrono::steady_clock::now();
            const double ms = MsUntilStopped(
                [&] {
                    try {
                        End(input, fifo.path, &options);
                    } catch (const IOException& e) {
                        description = *boost::get_error_info<Korvel::DescriptionInfo>(e);
                        code = *boost::get_error_info<Korvel::SystemErrorCodeInfo>(e);
                    }
                },
                [&] {
                    if (cancel)
                        options.canceller->Cancel();
                });
            EXPECT_LT(ms, 1000.0);
            if (cancel)
                RecordProperty(input ? "input_open_cancel_us" : "output_open_cancel_us", static_cast<int>(ms * 1000));
            EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(50));
            EXPECT_EQ(description, std::string("Failed to open ") + (input ? "input" : "output") +
                                       " pipe: " + (cancel ? "cancelled" : "wait limit reached"));
            EXPECT_EQ(code, cancel ? ECANCELED : ETIMEDOUT);
        }
    }
    Fifo fifo;
    auto peer = StartPeer({"pipe-write", fifo.path, "10", "wait"}, ChildProcess::Stdin::Pipe);
    PipeOptions options;
    options.waitLimit = std::chrono::milliseconds(100);
    // On a busy machine the peer may reach its open() after the limit: try again, as the
    // read after "go" below does.
    std::unique_ptr<End> opened;
    for (int tries = 0; !opened && tries < 100; ++tries)
        OpenFailure([&] { opened.reset(new End(true, fifo.path, &options)); });
    ASSERT_TRUE(opened);
    End& end = *opened;
    ZephTest::LogCapture capture;
    std::string bytes(10, '\0');
    unsigned long long count = 1;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(end.Raw(bytes, &count));
    EXPECT_GE(std::chrono::steady_clock::now() - start, options.waitLimit);
    EXPECT_EQ(count, 0u);
    EXPECT_TRUE(
        capture.Contains(Named(true, fifo.path, " stopped: the other process sent nothing within the wait limit")));
    peer.WriteStdin("go");
    for (int tries = 0; tries < 100 && !end.Raw(bytes, &count); ++tries) {
    }
    EXPECT_EQ(count, 10u);
    EXPECT_EQ(bytes, ZephCommon::Pattern(10));
}

// Handed-over descriptors: the transfer size sets the bytes per system call and, above the
// system's pipe buffer, the buffer where the system can grow it (Linux); close on exec sets FD_CLOEXEC; invalid options
// throw and close what was handed over; the duplex over two descriptors carries the options.
TEST(PipeOptions, TransferSizeCloseOnExecAndInvalidOptionsOnHandedOverDescriptors)
{
    int ends[2];
    ASSERT_EQ(::pipe(ends), 0);
    PipeOptions big;
    big.transferSize = kMaxPipeTransferSize;
    big.closeOnExec = true;
    PipeOptions small;
    small.transferSize = 3;
    ZephTest::LogCapture capture;
    auto out = DataOutputPipe::Create(PipeHandleFromDescriptor(ends[1]),
                                      std::unique_ptr<IByteDataOutputProtocol>(new ByteDataOutputDefaultProtocol), big);
    auto in = DataInputPipe::Create(PipeHandleFromDescriptor(ends[0]),
                                    std::unique_ptr<IByteDataInputProtocol>(new ByteDataInputRawProtocol), small);
#ifdef ZEPHTEST_POSIX_ONLY
    EXPECT_EQ(fcntl(ends[1], F_GETPIPE_SZ), 64 * 1024) << "POSIX has no way to ask: the system's buffer stays";
#else
    EXPECT_EQ(fcntl(ends[1], F_GETPIPE_SZ), static_cast<int>(kMaxPipeTransferSize));
#endif
    EXPECT_EQ(fcntl(ends[1], F_GETFD), FD_CLOEXEC);
    EXPECT_EQ(fcntl(ends[0], F_GETFD), 0);
    EXPECT_EQ(out->GetMaxWriteSizeAtTime(), kMaxPipeTransferSize);
    EXPECT_EQ(in->GetMaxReadSizeAtTime(), 3u);
    const std::string data = ZephCommon::Pattern(60 * 1024);  // one system call
    EXPECT_EQ(out->Write(reinterpret_cast<const unsigned char*>(data.data()), data.size()), data.size());
    unsigned char buffer[7];
    EXPECT_EQ(in->Read(buffer, 7), 7u);
    EXPECT_EQ(capture.Messages(), (std::vector<std::string>{Trying(false, data.size()), Moved(false, data.size()),
                                                            Trying(true, 3), Moved(true, 3), Trying(true, 3),
                                                            Moved(true, 3), Trying(true, 1), Moved(true, 1)}));

    for (const auto& [size, limit, field] :
         {std::make_tuple(0ull, 0, "transferSize"), std::make_tuple(kMaxPipeTransferSize + 1, 0, "transferSize"),
          std::make_tuple(1024ull, -1, "waitLimit")}) {
        PipeOptions bad;
        bad.transferSize = size;
        bad.waitLimit = std::chrono::milliseconds(limit);
        int fresh[2];
        ASSERT_EQ(::pipe(fresh), 0);
        unsigned long transfer = 5;
        try {
            DataInputOutputPipe::Create(PipeHandleFromDescriptor(fresh[0]), PipeHandleFromDescriptor(fresh[1]), bad,
                                        transfer);
            ADD_FAILURE() << "no exception";
        } catch (const std::invalid_argument& e) {
            EXPECT_NE(std::string(e.what()).find(std::string("PipeOptions::") + field), std::string::npos) << e.what();
        }
        EXPECT_EQ(fcntl(fresh[0], F_GETFD) + fcntl(fresh[1], F_GETFD), -2);
        EXPECT_EQ(transfer, 5u);
    }
    ASSERT_EQ(::pipe(ends), 0);
    unsigned long transfer = 0;
    auto duplex = DataInputOutputPipe::Create(PipeHandleFromDescriptor(ends[0]), PipeHandleFromDescriptor(ends[1]),
                                              small, transfer);
    EXPECT_EQ(transfer, 3u);
    EXPECT_EQ(duplex->Write(reinterpret_cast<const unsigned char*>(data.data()), 10), 10u);
    EXPECT_EQ(duplex->Read(buffer, 7), 7u);  // the Default protocol: the whole count
    EXPECT_EQ(std::string(buffer, buffer + 7), data.substr(0, 7));
}

// With options the adapters move up to the transfer size a call, and their Cancel ends a read
// or write blocked in the pipe. Runs over pipes put in the place of descriptors 0 and 1 for the
// test (nothing is checked while descriptor 1 is a full pipe: a failure report would block).
TEST(StdAdapters, TakePipeOptionsAndThenForwardCancel)
{
    struct Swapped {
        int target, saved, ends[2];
        explicit Swapped(int fd) : target(fd), saved(dup(fd))
        {
            EXPECT_EQ(pipe2(ends, O_CLOEXEC), 0);
            dup2(ends[fd == 0 ? 0 : 1], fd);
        }
        ~Swapped()
        {
            dup2(saved, target);
            close(saved);
            close(ends[0]);
            close(ends[1]);
        }
    };
    PipeOptions options;
    options.cancellable = true;
    options.transferSize = 64 * 1024;
    ZephTest::LogCapture quiet{google::GLOG_ERROR};
    {
        Swapped in(0);
        unsigned long size = 0;
        unsigned char bytes[2];
        auto adapter = DataStdInput::Create(size, options);
        EXPECT_EQ(size, 64u * 1024);
        auto read = std::async(std::launch::async, [&] { return adapter->Read(bytes, 2); });
        EXPECT_EQ(read.wait_for(std::chrono::milliseconds(100)), std::future_status::timeout);
        adapter->Cancel();
        ASSERT_EQ(read.wait_for(std::chrono::seconds(3)), std::future_status::ready) << "Cancel did not reach the pipe";
        EXPECT_EQ(read.get(), 0u);
    }
    const std::vector<unsigned char> data(1 << 20, 'x');  // more than the pipe holds
    unsigned long size = 0;
    bool blocked = false, ended = false;
    unsigned long long written = 0;
    {
        Swapped out(1);
        auto adapter = DataStdOutput::Create(size, options);
        auto write = std::async(std::launch::async, [&] { return adapter->Write(data.data(), data.size()); });
        blocked = write.wait_for(std::chrono::milliseconds(100)) == std::future_status::timeout;
        adapter->Cancel();
        ended = write.wait_for(std::chrono::seconds(3)) == std::future_status::ready;
        if (ended)
            written = write.get();
        else
            close(out.ends[0]);  // frees the write (EPIPE) so that the test can go on
    }
    EXPECT_EQ(size, 64u * 1024);
    EXPECT_TRUE(blocked);
    ASSERT_TRUE(ended) << "Cancel did not reach the pipe";
    EXPECT_LT(written, data.size());
}

// Options change nothing outside their pipe: no SIGPIPE raised or ignored process-wide (in a
// child whose SIGPIPE is at its default, so a raised one ends it), and a handed-over
// descriptor's duplicates are blocking again once the pipe is gone.
TEST(PipeOptions, LeaveNoSignalOrFileStateBehind)
{
    Fifo fifo;
    auto child = StartPeer({"pipe-sigpipe", fifo.path});
    EXPECT_EQ(ExitOf(child), 0);

    int ends[2];
    ASSERT_EQ(::pipe(ends), 0);
    const int duplicate = dup(ends[1]);
    PipeOptions options;
    options.cancellable = true;
    auto out = DataOutputPipe::Create(PipeHandleFromDescriptor(ends[1]),
                                      std::make_unique<ByteDataOutputDefaultProtocol>(), options);
    EXPECT_NE(fcntl(duplicate, F_GETFL) & O_NONBLOCK, 0);  // shared while the pipe lives
    out.reset();
    EXPECT_EQ(fcntl(duplicate, F_GETFL) & O_NONBLOCK, 0);
    close(duplicate);
    close(ends[0]);
}

// A wait limit past what poll() takes in one call is honoured (an open and a read wait for a
// peer that comes after half a second); one above kMaxPipeWaitLimit is refused.
TEST(PipeOptions, LongWaitLimitsAreHonouredAndTooLongOnesRefused)
{
    for (const auto limit : {std::chrono::milliseconds((1ll << 32) + 300), kMaxPipeWaitLimit}) {
        SCOPED_TRACE(limit.count());
        Fifo fifo;
        PipeOptions options;
        options.waitLimit = limit;
        std::unique_ptr<ChildProcess> peer;
        std::thread late([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(500));
            peer.reset(
                new ChildProcess({ZEPHTEST_PEER, "pipe-write", fifo.path, "10", "wait"}, ChildProcess::Stdin::Pipe));
            std::this_thread::sleep_for(std::chrono::milliseconds(500));
            peer->WriteStdin("go");
        });
        End end = OpenWithin(true, fifo.path, &options);
        std::string bytes(10, '\0');
        EXPECT_TRUE(end.Raw(bytes, nullptr));
        EXPECT_EQ(bytes, ZephCommon::Pattern(10));
        late.join();
        EXPECT_EQ(ExitOf(*peer), 0);
    }
    for (const auto limit : {kMaxPipeWaitLimit + std::chrono::milliseconds(1), std::chrono::milliseconds::max()}) {
        PipeOptions options;
        options.waitLimit = limit;
        EXPECT_THROW(DataOutputPipe::Create("/dev/null", options), std::invalid_argument);
    }
}

// An open waiting for its peer is released by its wait limit (input) or its canceller
// (output) also when its FIFO was removed meanwhile, or its relative name no longer resolves;
// it leaves nothing behind (on Linux, where the FIFO is reached without its name).
TEST(PipeOptions, AWaitingOpenIsReleasedWhenItsFifoCanNoLongerBeReachedByName)
{
    ZephTest::LogCapture capture;
    for (const bool removed : {true, false}) {
        SCOPED_TRACE(removed ? "removed" : "relative name, directory changed");
        Fifo fifo;
        char saved[4096];
        ASSERT_NE(getcwd(saved, sizeof saved), nullptr);
        ASSERT_EQ(chdir(fifo.dir.Path().c_str()), 0);
        PipeOptions options;
        options.waitLimit = std::chrono::milliseconds(removed ? 300 : 0);
        options.canceller = removed ? nullptr : PipeCanceller::Create();
        const std::set<int> before = ZephCommon::OpenDescriptors();
        std::thread away([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            EXPECT_EQ(removed ? unlink(fifo.path.c_str()) : chdir("/"), 0);
            if (!removed)
                options.canceller->Cancel();
        });
        const int code = ZephTest::FinishesWithin(
            "the open of an unreachable FIFO", [&] { return OpenFailure([&] { End(removed, "fifo", &options); }); },
            kTimeout);
        away.join();
        EXPECT_EQ(code, removed ? ETIMEDOUT : ECANCELED);
#ifndef ZEPHTEST_POSIX_ONLY
        // Where the FIFO stays reachable without its name, nothing is left behind; elsewhere the
        // helper thread waits on for a peer, holding its wake descriptors.
        EXPECT_EQ(ZephCommon::OpenDescriptors(), before);
#endif
        ASSERT_EQ(chdir(saved), 0);
    }
}

// A canceller cancelled before the open refuses it every time, even with the peer there; and
// a peer that opens right at the wait limit either connects to a pipe that works at this side
// or does not open at all, never to an open that this side then throws away.
TEST(PipeOptions, AnOpenIsGivenUpOnlyWhenThePeerDidNotConnect)
{
    Fifo fifo;
    for (const bool input : {true, false}) {
        const int other = open(fifo.path.c_str(), (input ? O_RDWR : O_RDONLY) | O_NONBLOCK);
        PipeOptions cancelled;
        cancelled.canceller = PipeCanceller::Create();
        cancelled.canceller->Cancel();
        for (int i = 0; i < 20; ++i)
            EXPECT_EQ(OpenFailure([&] { End(input, fifo.path, &cancelled); }), ECANCELED);
        close(other);
    }
    PipeOptions options;
    options.waitLimit = std::chrono::milliseconds(10);
    for (const bool input : {true, false}) {
        auto peer = StartPeer({"pipe-open-race", fifo.path, input ? "write" : "read"}, ChildProcess::Stdin::Pipe,
                              ChildProcess::Stdout::Pipe);
        int connected = 0;
        for (int i = 0; i < 100; ++i) {
            // The peer opens 5 to 15 ms after this side began, around the 10 ms limit.
            ASSERT_TRUE(peer.WriteStdin(std::string(1, static_cast<char>(50 + i * 37 % 100))));
            bool works = false;
            try {
                End end(input, fifo.path, &options);
                std::string x = "x";
                unsigned long long count = 0;
                for (int tries = 0; tries < 100 && count == 0; ++tries)
                    end.Raw(x, &count);  // a read gives up at the limit too
                works = count == 1 && x == "x";
            } catch (const IOException&) {
            }
            std::string report;
            ASSERT_TRUE(peer.ReadStdout(report, kTimeout, 1));
            EXPECT_EQ(report, works ? "1" : "0") << "open " << i << (input ? ", input" : ", output");
            connected += works;
        }
        RecordProperty(input ? "input_connected_of_100" : "output_connected_of_100", connected);
        peer.CloseStdin();
        EXPECT_EQ(ExitOf(peer), 0);
    }
}

// An open limit bounds the open alone: without a peer the open gives up at it, and the reads of
// a pipe that opened wait for as long as the peer takes.
TEST(PipeOptions, AnOpenLimitBoundsTheOpenAlone)
{
    ZephTest::LogCapture quiet{google::GLOG_ERROR};
    Fifo fifo;
    PipeOptions options;
    options.openLimit = std::chrono::milliseconds(100);
    const auto start = std::chrono::steady_clock::now();
    try {
        DataInputPipe::Create(fifo.path, options);
        FAIL() << "the open did not give up";
    } catch (const IOException& e) {
        EXPECT_EQ(*boost::get_error_info<Korvel::SystemErrorCodeInfo>(e), ETIMEDOUT);
    }
    EXPECT_GE(std::chrono::steady_clock::now() - start, options.openLimit);
    ChildProcess peer = StartPeer({"pipe-write", fifo.path, "3", "wait"}, ChildProcess::Stdin::Pipe);
    options.openLimit = std::chrono::seconds(20);
    options.cancellable = true;
    auto input = DataInputPipe::Create(fifo.path, options);
    unsigned char bytes[3];
    auto read = std::async(std::launch::async, [&] { return input->Read(bytes, 3); });
    EXPECT_EQ(read.wait_for(std::chrono::milliseconds(300)), std::future_status::timeout) << "the read gave up";
    ASSERT_TRUE(peer.WriteStdin("g"));
    ASSERT_EQ(read.wait_for(std::chrono::seconds(5)), std::future_status::ready);
    EXPECT_EQ(read.get(), 3u);
    EXPECT_EQ(ExitOf(peer), 0);
}
