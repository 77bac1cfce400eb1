// DataInputPipe and DataOutputPipe over real FIFOs, with the peer in another process.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <string>
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
#include "helpers/PipesPeer.h"
#include "support/ChildProcess.h"
#include "support/Fifo.h"
#include "support/LogCapture.h"
#include "support/Pattern.h"
#include "support/TempDir.h"
#include "support/Timeout.h"

using namespace Korvel::Core;
using ZephTest::ChildProcess;

namespace {

using ZephTest::ExitOf;
using ZephTest::Fifo;
const auto kTimeout = ZephTest::kPeerTimeout;

ChildProcess Peer(const std::vector<std::string>& args, ChildProcess::Stdin in = ChildProcess::Stdin::Inherit,
                  ChildProcess::Stdout out = ChildProcess::Stdout::Inherit)
{
    return ZephTest::StartPeer(args, in, out);
}

std::string AsString(const std::vector<unsigned char>& v, size_t n)
{
    return std::string(v.begin(), v.begin() + n);
}

void (*SigpipeDisposition())(int)
{
    struct sigaction current;
    sigaction(SIGPIPE, nullptr, &current);
    return current.sa_handler;
}

}  // namespace

TEST(InputPipe, ReadsThreeThousandBytesInLoggedSystemCallsOf1024)
{
    Fifo fifo;
    auto peer = Peer({"write", fifo.path, "3000"});
    ZephTest::LogCapture capture;
    auto pipe = ZephTest::FinishesWithin(
        "open of the input FIFO", [&] { return DataInputPipe::Create(fifo.path, false); }, kTimeout);
    ASSERT_EQ(capture.Messages().size(), 1u);
    // glog folds the message's own end-of-line into the end of the line.
    EXPECT_EQ(
        capture.Messages()[0].rfind("The pipe " + fifo.path + " has been opened for reading successfully, id == ", 0),
        0u);
    EXPECT_EQ(SigpipeDisposition(), SIG_IGN);
    EXPECT_EQ(pipe->GetMaxReadSizeAtTime(), 1024u);

    capture.Clear();
    std::vector<unsigned char> buffer(3000);
    unsigned long long count = 0;
    EXPECT_TRUE(pipe->ReadRaw(buffer.data(), 3000, &count));
    EXPECT_EQ(count, 3000u);
    EXPECT_EQ(AsString(buffer, 3000), ZephTest::Pattern(3000));
    EXPECT_EQ(capture.Messages(),
              (std::vector<std::string>{"Trying to read 1024 bytes from the input pipe", "1024 bytes have been read",
                                        "Trying to read 1024 bytes from the input pipe", "1024 bytes have been read",
                                        "Trying to read 952 bytes from the input pipe", "952 bytes have been read"}));

    // Nothing asked, nothing done: no system call, no log line.
    capture.Clear();
    count = 99;
    EXPECT_TRUE(pipe->ReadRaw(buffer.data(), 0, &count));
    EXPECT_EQ(count, 0u);
    EXPECT_TRUE(capture.Messages().empty());

    pipe.reset();
    EXPECT_EQ(capture.Messages(), std::vector<std::string>{"Closing input pipe"});
    EXPECT_EQ(ExitOf(peer), 0);
}

TEST(InputPipe, EndOfFileAfterTenOfHundredBytes)
{
    for (bool raw : {false, true}) {
        SCOPED_TRACE(raw ? "Raw protocol" : "Default protocol");
        Fifo fifo;
        auto peer = Peer({"write", fifo.path, "10"});
        ZephTest::LogCapture capture;
        auto pipe = ZephTest::FinishesWithin(
            "open of the input FIFO",
            [&] {
                std::unique_ptr<IByteDataInputProtocol> protocol;
                if (raw)
                    protocol.reset(new ByteDataInputRawProtocol);
                else
                    protocol.reset(new ByteDataInputDefaultProtocol);
                return DataInputPipe::Create(fifo.path, std::move(protocol), true);
            },
            kTimeout);
        std::vector<unsigned char> buffer(100, 0);
        EXPECT_EQ(pipe->Read(buffer.data(), 100), raw ? 10u : 0u);
        EXPECT_EQ(AsString(buffer, 10), ZephTest::Pattern(10));
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

TEST(InputPipe, RegularFileReadsItsContentsThenEndOfFile)
{
    ZephTest::TempDir dir;
    const std::string path = dir.File("plain");
    {
        const int fd = open(path.c_str(), O_WRONLY | O_CREAT, 0600);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(write(fd, "0123456789", 10), 10);
        close(fd);
    }
    ZephTest::LogCapture capture;
    auto pipe = DataInputPipe::Create(path, false);
    unsigned char buffer[32];
    unsigned long long count = 0;
    EXPECT_FALSE(pipe->ReadRaw(buffer, sizeof buffer, &count));
    EXPECT_EQ(count, 10u);
    EXPECT_EQ(std::string(buffer, buffer + 10), "0123456789");
    EXPECT_EQ(capture.Count("The read syscall returned EOF. The other process probably has crashed."), 1u);
}

TEST(OutputPipe, WritesInLoggedSystemCallsOf1024AndClosingGivesTheReaderEndOfFile)
{
    Fifo fifo;
    // The peer asks for more than is sent, so it only finishes at end of file.
    auto peer = Peer({"read", fifo.path, "5000"}, ChildProcess::Stdin::Inherit, ChildProcess::Stdout::Pipe);
    ZephTest::LogCapture capture;
    auto pipe = ZephTest::FinishesWithin(
        "open of the output FIFO", [&] { return DataOutputPipe::Create(fifo.path, false); }, kTimeout);
    ASSERT_EQ(capture.Messages().size(), 1u);
    EXPECT_EQ(
        capture.Messages()[0].rfind("The pipe " + fifo.path + " has been opened for writing successfully, id == ", 0),
        0u);
    EXPECT_EQ(pipe->GetMaxWriteSizeAtTime(), 1024u);

    capture.Clear();
    const std::string data = ZephTest::Pattern(2500);
    unsigned long long count = 0;
    EXPECT_TRUE(pipe->WriteRaw(reinterpret_cast<const unsigned char*>(data.data()), data.size(), &count));
    EXPECT_EQ(count, 2500u);
    EXPECT_EQ(capture.Messages(), (std::vector<std::string>{
                                      "Trying to write 1024 bytes to the output pipe", "1024 bytes have been written",
                                      "Trying to write 1024 bytes to the output pipe", "1024 bytes have been written",
                                      "Trying to write 452 bytes to the output pipe", "452 bytes have been written"}));
    capture.Clear();
    EXPECT_TRUE(pipe->WriteRaw(nullptr, 0, &count));
    EXPECT_EQ(count, 0u);
    EXPECT_TRUE(capture.Messages().empty());

    pipe.reset();
    EXPECT_EQ(capture.Messages(), std::vector<std::string>{"Closing output pipe"});
    std::string report;
    EXPECT_TRUE(peer.ReadStdout(report, kTimeout));
    EXPECT_EQ(report, "2500 ok");
    EXPECT_EQ(ExitOf(peer), 0);
}

TEST(OutputPipe, WriteAfterTheReaderHasGoneFailsWithEpipeAndTheProcessLivesOn)
{
    Fifo fifo;
    auto peer = Peer({"read", fifo.path, "0"});  // opens, reads nothing, closes, exits
    auto pipe = ZephTest::FinishesWithin(
        "open of the output FIFO", [&] { return DataOutputPipe::Create(fifo.path, false); }, kTimeout);
    ASSERT_EQ(ExitOf(peer), 0);

    ZephTest::LogCapture capture;
    const std::string data = ZephTest::Pattern(100);
    const auto* bytes = reinterpret_cast<const unsigned char*>(data.data());
    unsigned long long count = 99;
    EXPECT_FALSE(pipe->WriteRaw(bytes, data.size(), &count));
    EXPECT_EQ(count, 0u);
    const std::string failure = std::string("Write failed, errno == 32, descrption:") + std::strerror(EPIPE);
    EXPECT_EQ(capture.Messages(), (std::vector<std::string>{"Trying to write 100 bytes to the output pipe", failure}));
    EXPECT_EQ(capture.Lines()[1].severity, google::GLOG_ERROR);

    EXPECT_EQ(pipe->Write(bytes, data.size()), 0u);  // Default protocol
    auto* concrete = dynamic_cast<DataOutputPipe*>(pipe.get());
    ASSERT_NE(concrete, nullptr);
    std::unique_ptr<IByteDataOutputProtocol> raw(new ByteDataOutputRawProtocol);
    raw->SetByteDataOutput(pipe.get());
    concrete->SetProtocol(std::move(raw));
    EXPECT_EQ(pipe->Write(bytes, data.size()), 0u);
    EXPECT_EQ(capture.Count(failure), 3u);
}

TEST(Pipes, MissingNameThrowsWithEnoentDetailsAndLogsTheName)
{
    ZephTest::TempDir dir;
    const std::string missing = dir.File("absent");
    void (*saved)(int) = signal(SIGPIPE, SIG_DFL);
    ZephTest::LogCapture capture;

    struct Case {
        bool input;
        std::string description, function, logged;
    };
    for (const Case& c :
         {Case{true, "Failed to open input pipe", "DataInputPipe", "Failed to open the input pipe "},
          Case{false, "Failed to open output pipe", "DataOutputPipe", "Failed to open the output pipe "}}) {
        SCOPED_TRACE(c.function);
        capture.Clear();
        try {
            if (c.input)
                DataInputPipe::Create(missing, false);
            else
                DataOutputPipe::Create(missing, false);
            ADD_FAILURE() << "no exception";
        } catch (const IOException& e) {
            ASSERT_NE(boost::get_error_info<Korvel::DescriptionInfo>(e), nullptr);
            EXPECT_EQ(*boost::get_error_info<Korvel::DescriptionInfo>(e), c.description);
            ASSERT_NE(boost::get_error_info<Korvel::SystemErrorCodeInfo>(e), nullptr);
            EXPECT_EQ(*boost::get_error_info<Korvel::SystemErrorCodeInfo>(e), ENOENT);
            ASSERT_NE(boost::get_error_info<Korvel::DetailsInfo>(e), nullptr);
            EXPECT_EQ(*boost::get_error_info<Korvel::DetailsInfo>(e), std::strerror(ENOENT));
            EXPECT_EQ(boost::get_error_info<Korvel::FilenameInfo>(e), nullptr);
            EXPECT_EQ(boost::get_error_info<Korvel::CallStackInfo>(e), nullptr);
            ASSERT_NE(boost::get_error_info<boost::throw_function>(e), nullptr);
            EXPECT_STREQ(*boost::get_error_info<boost::throw_function>(e), c.function.c_str());
            const std::string thrownFrom = *boost::get_error_info<boost::throw_file>(e);
            EXPECT_EQ(thrownFrom.substr(thrownFrom.rfind('/') + 1), c.function + ".cpp");
        }
        ASSERT_EQ(capture.Lines().size(), 1u);
        EXPECT_EQ(capture.Lines()[0].severity, google::GLOG_ERROR);
        EXPECT_EQ(capture.Lines()[0].message, c.logged + missing);
        EXPECT_EQ(capture.Lines()[0].file, c.function + ".cpp");
        EXPECT_NE(access(missing.c_str(), F_OK), 0);  // nothing was created
        EXPECT_EQ(SigpipeDisposition(), SIG_DFL);     // a failed open leaves SIGPIPE alone
    }
    signal(SIGPIPE, saved);
}

TEST(HandlePipes, OwnTheDescriptorOfTheirHandleAndANullHandleHasNone)
{
    EXPECT_NE(PipeHandleFromDescriptor(0), nullptr);
    EXPECT_EQ(DescriptorFromPipeHandle(PipeHandleFromDescriptor(0)), 0);
    EXPECT_EQ(PipeHandleFromDescriptor(-1), nullptr);
    EXPECT_EQ(DescriptorFromPipeHandle(nullptr), -1);

    int ends[2];
    ASSERT_EQ(pipe(ends), 0);
    auto input = DataInputPipe::Create(PipeHandleFromDescriptor(ends[0]),
                                       std::unique_ptr<IByteDataInputProtocol>(new ByteDataInputRawProtocol));
    auto output = DataOutputPipe::Create(PipeHandleFromDescriptor(ends[1]),
                                         std::unique_ptr<IByteDataOutputProtocol>(new ByteDataOutputDefaultProtocol));
    EXPECT_EQ(input->GetMaxReadSizeAtTime(), 1024u);
    EXPECT_EQ(output->GetMaxWriteSizeAtTime(), 1024u);
    const std::string data = ZephTest::Pattern(3000);
    EXPECT_EQ(output->Write(reinterpret_cast<const unsigned char*>(data.data()), data.size()), 3000u);
    output.reset();
    EXPECT_EQ(fcntl(ends[1], F_GETFD), -1);  // closed by its pipe
    std::vector<unsigned char> buffer(4000);
    EXPECT_EQ(input->Read(buffer.data(), buffer.size()), 3000u);  // Raw: stops at end of file
    EXPECT_EQ(AsString(buffer, 3000), data);
    input.reset();
    EXPECT_EQ(fcntl(ends[0], F_GETFD), -1);

    ZephTest::LogCapture capture;
    auto none = DataInputPipe::Create(nullptr, std::unique_ptr<IByteDataInputProtocol>(new ByteDataInputRawProtocol));
    EXPECT_EQ(none->Read(buffer.data(), 10), 0u);
    EXPECT_EQ(capture.Count(std::string("Read failed, errno == 9, descrption:") + std::strerror(EBADF)), 1u);
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
        auto peer = Peer({"write", fifo.path, "10"});
        ZephTest::FinishesWithin(
            "open of the input FIFO",
            [&] {
                auto pipe = DataInputPipe::Create(fifo.path, false);
                unsigned char buffer[10];
                EXPECT_EQ(pipe->Read(buffer, 10), 10u);
            },
            kTimeout);
        EXPECT_EQ(ExitOf(peer), 0);
        EXPECT_THROW(DataInputPipe::Create(missing, false), IOException);
        EXPECT_THROW(DataOutputPipe::Create(missing, false), IOException);
        DataOutputPipe::Create(std::string("/dev/null"), false);
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
