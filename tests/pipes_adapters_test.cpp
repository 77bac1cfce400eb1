// The duplex pipe and the standard-stream adapters: what they forward where, and the
// adapters at work in a child process whose stdin and stdout are pipes.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "IO/KorvelIO/DataInputOutputPipe.h"
#include "IO/KorvelIO/DataStdInput.h"
#include "IO/KorvelIO/DataStdOutput.h"
#include "IO/KorvelIO/PipeHandle.h"
#include "ZephPointer/RefCountImpl.h"
#include "helpers/PipesPeer.h"
#include "support/ChildProcess.h"
#include "support/LogCapture.h"
#include "support/Pattern.h"

using namespace Korvel::Core;
using ZephTest::ChildProcess;

namespace {

const auto kTimeout = ZephTest::kPeerTimeout;

// Reference counting for the test doubles below.
class Counted : public virtual Korvel::IRefCountable {
public:
    int AddRef() const override { return m_count.AddRefImpl(); }
    int GetRefCount() const override { return m_count.GetRefCountImpl(); }
    int Release() const override
    {
        const int n = m_count.ReleaseImpl();
        if (n == 0)
            delete this;
        return n;
    }

private:
    Korvel::RefCountImpl m_count;
};

// Counted sides that record what reaches them.
class InputSide : public virtual IByteDataInput, public Counted {
public:
    explicit InputSide(bool* destroyed = nullptr) : m_destroyed(destroyed) {}
    ~InputSide() override
    {
        if (m_destroyed)
            *m_destroyed = true;
    }
    unsigned long long Read(unsigned char*, unsigned long long size) override { return size / 2; }
    void Cancel() override { ++cancels; }
    int cancels = 0;

private:
    bool* m_destroyed;
};

class OutputSide : public virtual IByteDataOutput, public Counted {
public:
    unsigned long long Write(const unsigned char* data, unsigned long long size) override
    {
        written.append(reinterpret_cast<const char*>(data), size);
        return size;
    }
    void Cancel() override { ++cancels; }
    std::string written;
    int cancels = 0;
};

// Protocols that answer on their own and remember the raw side they were bound to.
class TellingInputProtocol : public IByteDataInputProtocol {
public:
    unsigned long long Read(unsigned char*, unsigned long long size) override { return size + 1; }
    void SetByteDataInput(IByteDataInputEx* source) override { bound = source; }
    IByteDataInputEx* bound = nullptr;
};

class TellingOutputProtocol : public IByteDataOutputProtocol {
public:
    unsigned long long Write(const unsigned char*, unsigned long long size) override { return size + 2; }
    void SetByteDataOutput(IByteDataOutputEx* sink) override { bound = sink; }
    IByteDataOutputEx* bound = nullptr;
};

bool SameFile(int a, int b)
{
    struct stat sa, sb;
    return fstat(a, &sa) == 0 && fstat(b, &sb) == 0 && sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

}  // namespace

TEST(DuplexPipe, CreateReportsTheTransferSizeAndInstallsDescriptorlessSides)
{
    ZephTest::LogCapture capture;
    unsigned long size = 0;
    auto duplex = DataInputOutputPipe::Create("ignored", true, size);
    ASSERT_TRUE(duplex);
    EXPECT_EQ(size, 1024u);
    EXPECT_EQ(dynamic_cast<DataInputOutputPipe&>(*duplex).GetPipeHandle(), nullptr);

    // Both sides exist but own no descriptor: their raw transfers fail and nothing is closed.
    unsigned char buffer[16] = {};
    EXPECT_EQ(duplex->Read(buffer, 16), 0u);
    EXPECT_EQ(duplex->Write(buffer, 16), 0u);
    EXPECT_EQ(capture.Count(std::string("Read failed, errno == 9, descrption:") + std::strerror(EBADF)), 1u);
    EXPECT_EQ(capture.Count(std::string("Write failed, errno == 9, descrption:") + std::strerror(EBADF)), 1u);
    EXPECT_EQ(capture.Count("Implementation IByteDataInputEx not defined"), 0u);

    // The protocols handed over serve Read and Write, bound to pipes of 1024-byte transfers.
    auto* in = new TellingInputProtocol;
    auto* out = new TellingOutputProtocol;
    size = 5;
    auto told = DataInputOutputPipe::Create("ignored", std::unique_ptr<IByteDataInputProtocol>(in),
                                            std::unique_ptr<IByteDataOutputProtocol>(out), false, size);
    EXPECT_EQ(size, 1024u);
    ASSERT_TRUE(in->bound && out->bound);
    EXPECT_EQ(in->bound->GetMaxReadSizeAtTime(), 1024u);
    EXPECT_EQ(out->bound->GetMaxWriteSizeAtTime(), 1024u);
    EXPECT_EQ(told->Read(buffer, 10), 11u);
    EXPECT_EQ(told->Write(buffer, 10), 12u);
}

TEST(DuplexPipe, ForwardsToReplacedSidesAndCancelsOnlyTheInput)
{
    unsigned long size = 0;
    auto duplex = DataInputOutputPipe::Create("ignored", false, size);
    auto& concrete = dynamic_cast<DataInputOutputPipe&>(*duplex);

    const unsigned char bytes[] = "abc";
    unsigned char buffer[8] = {};
    bool destroyed = false;
    InputSide* input = new InputSide(&destroyed);
    OutputSide* output = new OutputSide;
    concrete.SetInputPipe(input);
    concrete.SetOutputPipe(output);
    EXPECT_EQ(duplex->Read(buffer, 8), 4u);
    EXPECT_EQ(duplex->Write(bytes, 3), 3u);
    EXPECT_EQ(output->written, "abc");

    static_cast<IByteDataOutput&>(*duplex).Cancel();
    static_cast<IByteDataInput&>(*duplex).Cancel();
    EXPECT_EQ(input->cancels, 2);
    EXPECT_EQ(output->cancels, 0);

    // Installing the side already installed, when the duplex is its only holder, keeps it.
    concrete.SetInputPipe(input);
    EXPECT_FALSE(destroyed);
    EXPECT_EQ(input->GetRefCount(), 1);

    ZephTest::LogCapture capture;
    concrete.SetInputPipe(nullptr);
    concrete.SetOutputPipe(nullptr);
    EXPECT_TRUE(destroyed);
    EXPECT_EQ(duplex->Read(buffer, 8), 0u);
    EXPECT_EQ(duplex->Write(bytes, 3), 0u);
    concrete.Cancel();  // no input side: nothing to cancel
    const auto lines = capture.Lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].message, "Implementation IByteDataInputEx not defined");
    EXPECT_EQ(lines[1].message, "Implementation IByteDataOutputEx not defined");
    for (const auto& line : lines) {
        EXPECT_EQ(line.severity, google::GLOG_ERROR);
        EXPECT_EQ(line.file, "DataInputOutputPipe.cpp");
    }
}

TEST(StdAdapters, WorkOnDuplicatesOfTheStandardDescriptors)
{
    if (fcntl(0, F_GETFD) == -1 || fcntl(1, F_GETFD) == -1)
        GTEST_SKIP() << "the test process has no standard input or output";
    unsigned long inSize = 0;
    unsigned long outSize = 0;
    auto in = DataStdInput::Create(inSize);
    auto out = DataStdOutput::Create(outSize);
    ASSERT_TRUE(in && out);
    EXPECT_EQ(inSize, 1024u);
    EXPECT_EQ(outSize, 1024u);
    auto& stdIn = dynamic_cast<DataStdInput&>(*in);
    auto& stdOut = dynamic_cast<DataStdOutput&>(*out);
    const int inCopy = DescriptorFromPipeHandle(stdIn.GetPipeHandle());
    const int outCopy = DescriptorFromPipeHandle(stdOut.GetPipeHandle());
    EXPECT_GT(inCopy, 2);
    EXPECT_GT(outCopy, 2);
    EXPECT_TRUE(SameFile(inCopy, 0));
    EXPECT_TRUE(SameFile(outCopy, 1));

    // Replacing the pipes closes the duplicates they owned, not the process's descriptors.
    ZephTest::LogCapture capture;
    stdIn.SetInputPipe(nullptr);
    stdOut.SetOutputPipe(nullptr);
    EXPECT_EQ(fcntl(inCopy, F_GETFD), -1);
    EXPECT_EQ(fcntl(outCopy, F_GETFD), -1);
    EXPECT_EQ(capture.Messages(), (std::vector<std::string>{"Closing input pipe", "Closing output pipe"}));
    capture.Clear();
    unsigned char buffer[8] = {};
    EXPECT_EQ(in->Read(buffer, 8), 0u);
    EXPECT_EQ(out->Write(buffer, 8), 0u);
    const auto lines = capture.Lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].message, "Implementation IByteDataInputEx not defined");
    EXPECT_EQ(lines[0].file, "DataStdInput.cpp");
    EXPECT_EQ(lines[1].message, "Implementation IByteDataOutputEx not defined");
    EXPECT_EQ(lines[1].file, "DataStdOutput.cpp");

    in.reset();
    out.reset();
    EXPECT_NE(fcntl(0, F_GETFD), -1);
    EXPECT_NE(fcntl(1, F_GETFD), -1);
}

TEST(StdAdapters, CopyAChildsStdinToItsStdout)
{
    auto child = ZephTest::StartPeer({"std-echo"}, ChildProcess::Stdin::Pipe, ChildProcess::Stdout::Pipe);
    const std::string data = ZephTest::Pattern(5000);
    // Less than the system's pipe holds, so writing all before reading cannot deadlock.
    EXPECT_TRUE(child.WriteStdin(data));
    child.CloseStdin();
    std::string echoed;
    EXPECT_TRUE(child.ReadStdout(echoed, kTimeout));
    EXPECT_EQ(echoed, data + "|end");
    EXPECT_EQ(ZephTest::ExitOf(child), 0);
}

TEST(StdAdapters, ClosedStdinGivesNoAdapterAndLeavesTheTransferSize)
{
    auto child = ZephTest::StartPeer({"std-closed"}, ChildProcess::Stdin::Closed);
    EXPECT_EQ(ZephTest::ExitOf(child), 0);
}
