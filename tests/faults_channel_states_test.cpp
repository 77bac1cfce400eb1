// A channel over real FIFOs, destroyed in each of its states while a peer process holds the
// other ends: the worker blocked in a length or in a payload, holding a frame, ended, and with
// a reader waiting. A pipe input's Cancel cannot unblock a read, so a destructor whose worker
// is blocked waits for data or end of stream, and only then; every other state ends at once.
// Nothing may crash, hang or leak a descriptor.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <memory>
#include <future>
#include <set>
#include <string>
#include <thread>
#include <type_traits>
#include <vector>

#include <gtest/gtest.h>

#include "IO/ZephIO.h"
#include "common/Process.h"
#include "support/Doubles.h"
#include "support/Fifo.h"
#include "support/LogCapture.h"
#include "support/Peer.h"
#include "support/Timeout.h"

using namespace Korvel::Core;
using ZephTest::ChildProcess;

// Only the last Release may end a channel: `delete` on one must not compile.
static_assert(!std::is_destructible<CommunicationChannel>::value, "CommunicationChannel's destructor is callable");

namespace {

const std::chrono::seconds kPrompt(3);
const std::chrono::milliseconds kStillBlocked(300);

// Where thread `tid` of this process sleeps in the kernel.
std::string SleepsIn(const std::string& tid)
{
    std::string where;
    std::ifstream("/proc/self/task/" + tid + "/wchan") >> where;
    return where;
}

// True once a thread of this process sleeps in a pipe read (a cancellable pipe's in `poll`) after
// taking `bytes` bytes: the worker has reached the read that a destruction has to wait for.
bool WorkerBlockedInRead(unsigned long long bytes, const char* sleep = "pipe_read")
{
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
        std::string key;
        unsigned long long taken = 0;
        if (SleepsIn(task.path().filename()).find(sleep) != std::string::npos &&
            std::ifstream(task.path() / "io") >> key >> taken && taken == bytes)
            return true;
    }
    return false;
}

// This process's channel and a peer, by default in "frames" mode that sends what the test
// tells it. The peer goes first on destruction, so end of stream frees a worker still reading.
struct Link {
    ZephTest::Fifo to, from;
    ZephTest::RecordingHandler handler;
    boost::intrusive_ptr<IDataChannel> channel;
    ChildProcess peer;

    // With `inputOptions`, this side's input is a pipe with those options over the FIFO opened
    // here (so a wait limit does not bound the open), and its output a cancellable pipe.
    explicit Link(bool worker = true, unsigned long long bound = ~0ull, const char* mode = "frames",
                  const PipeOptions* inputOptions = nullptr, const ChannelOptions* channelOptions = nullptr)
        : peer(ZephTest::StartPeer({mode, to.path, from.path}, ChildProcess::Stdin::Pipe))
    {
        PipeOptions cancellable;
        cancellable.cancellable = true;
        ChannelOptions plain;
        plain.worker = worker;
        plain.maxFrameLength = bound;
        const ChannelOptions& options = channelOptions ? *channelOptions : plain;
        channel = ZephTest::FinishesWithin("opening the FIFOs", [&] {
            if (!inputOptions)
                return CommunicationChannel::Create(DataInputPipe::Create(from.path, false),
                                                    DataOutputPipe::Create(to.path, false), options);
            auto output = DataOutputPipe::Create(to.path, cancellable);
            auto input = DataInputPipe::Create(PipeHandleFromDescriptor(open(from.path.c_str(), O_RDONLY | O_CLOEXEC)),
                                               std::make_unique<ByteDataInputDefaultProtocol>(), *inputOptions);
            return CommunicationChannel::Create(input, output, options);
        });
        if (!channelOptions)
            channel->SetDataAvailableHandler(&handler);
    }
    void Tell(const std::string& command) { ASSERT_TRUE(peer.WriteStdin(command + "\n")); }
};

// Releases the last reference to the channel on a thread of its own.
std::future<void> DestroyAsync(boost::intrusive_ptr<IDataChannel>& channel)
{
    IDataChannel* last = channel.detach();
    return std::async(std::launch::async, [last] { last->Release(); });
}

template <class T>
T Within(std::future<T>& done, const std::string& what)
{
    if (done.wait_for(kPrompt) != std::future_status::ready)
        ZephTest::FailTimeout(what);
    return done.get();
}

// Starts a one-byte Read on a thread of its own and returns once that thread is parked in it.
std::future<unsigned long long> ParkedRead(IDataChannel& channel, unsigned char* byte)
{
    auto tid = std::make_shared<std::atomic<long>>(0);
    auto read = std::async(std::launch::async, [&channel, byte, tid] {
        *tid = syscall(SYS_gettid);
        return channel.Read(byte, 1);
    });
    EXPECT_TRUE(ZephTest::EventuallyTrue(
        [&] { return *tid != 0 && SleepsIn(std::to_string(*tid)).find("futex") != std::string::npos; }));
    return read;
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

class ChannelDestroyed : public ::testing::Test {
protected:
    void TearDown() override { EXPECT_EQ(ZephCommon::OpenDescriptors(), m_descriptors) << "descriptors leaked"; }
    ZephTest::LogCapture m_quiet{google::GLOG_ERROR};
    std::set<int> m_descriptors = ZephCommon::OpenDescriptors();
};

}  // namespace

TEST_F(ChannelDestroyed, AwaitingALengthOrAPayloadWaitsForTheBlockedReadAndAnnouncesNothing)
{
    struct Case {
        const char* first;         // what the peer sends first
        unsigned long long taken;  // what the worker has read when it blocks
        const char* release;       // what frees its read: a whole frame, or end of stream
    };
    for (const Case& c : {Case{"", 0, "frame 3000"}, Case{"header 5000", 8, "kill"}}) {
        SCOPED_TRACE(c.release);
        Link link;
        if (*c.first)
            link.Tell(c.first);
        ASSERT_TRUE(ZephTest::EventuallyTrue([&] { return WorkerBlockedInRead(c.taken); }));
        auto destroyed = DestroyAsync(link.channel);
        EXPECT_EQ(destroyed.wait_for(kStillBlocked), std::future_status::timeout) << "Cancel cannot stop a pipe read";
        if (std::string(c.release) == "kill")
            kill(link.peer.Pid(), SIGKILL);
        else
            link.Tell(c.release);
        Within(destroyed, "destruction once the read returned");
        EXPECT_TRUE(link.handler.Sizes().empty()) << "the interrupted worker drops its frame without a word";
    }
}

// The worker's end comes from an empty frame, a failing handler, or a length above the bound,
// for which a hostile peer's 2^30 bytes must not be allocated.
TEST_F(ChannelDestroyed, HoldingAFrameOrAfterTheWorkerEndedEndsAtOnce)
{
    struct Case {
        const char* commands;
        bool throws;  // the handler fails
        int frames;   // whole frames before the worker's end; -1: the worker holds one
        unsigned long long bound;
    };
    std::ofstream("/proc/self/clear_refs") << "5";  // resets the peak
    const long before = PeakKiB();
    for (const Case& c : {Case{"frame 10", false, -1, ~0ull}, Case{"frame 10\nempty", false, 1, ~0ull},
                          Case{"frame 10\nframe 10", true, 1, ~0ull}, Case{"header 1073741824", false, 0, 1 << 20}}) {
        SCOPED_TRACE(c.commands);
        Link link(true, c.bound);
        link.handler.throws = c.throws;
        link.Tell(c.commands);
        unsigned char frame[10];
        auto read = [&](unsigned long long n) {
            return ZephTest::FinishesWithin(
                "Read", [&] { return link.channel->Read(frame, n); }, kPrompt);
        };
        if (c.frames < 0) {
            EXPECT_TRUE(ZephTest::EventuallyTrue([&] { return link.channel->IsDataAvaliable(); }));
        } else {  // the frame the failing handler was told of stays readable
            EXPECT_EQ(read(sizeof frame), c.frames == 1 ? 10u : 0u);
            EXPECT_EQ(read(1), 0u);
            EXPECT_FALSE(link.channel->IsDataAvaliable());
        }
        EXPECT_EQ(link.handler.Sizes(), std::vector<unsigned long long>(c.frames != 0, 10));
        auto destroyed = DestroyAsync(link.channel);
        Within(destroyed, "destruction");  // the peer is still there
    }
    EXPECT_LT(PeakKiB() - before, 64 * 1024) << "the announced frame was allocated";
}

TEST_F(ChannelDestroyed, WithReadersWaitingTheWorkersEndOrTheDestructionWakesThemWithNothing)
{
    {
        Link link;
        unsigned char bytes[4] = {0x5a, 0x5a, 0x5a, 0x5a};
        std::vector<std::future<unsigned long long>> reads;
        for (unsigned char& byte : bytes)
            reads.push_back(ParkedRead(*link.channel, &byte));
        // A reader that takes part of the frame wakes the next one; end of stream then ends the
        // worker, and every reader still waiting hears of it.
        link.Tell("frame 2\nclose");
        unsigned long long taken = 0;
        for (auto& read : reads)
            taken += Within(read, "a waiting reader");
        EXPECT_EQ(taken, 2u);
        EXPECT_EQ(std::count(bytes, bytes + 4, 'x'), 2);
        auto destroyed = DestroyAsync(link.channel);
        Within(destroyed, "destruction after end of stream");
    }
    Link link;
    unsigned char byte = 0x5a;
    auto read = ParkedRead(*link.channel, &byte);
    auto destroyed = DestroyAsync(link.channel);
    // The reader is woken with nothing although the worker is still blocked in the input.
    EXPECT_EQ(Within(read, "the waiting reader"), 0u);
    EXPECT_EQ(byte, 0x5a);
    EXPECT_EQ(destroyed.wait_for(std::chrono::milliseconds(0)), std::future_status::timeout);
    link.Tell("close");
    Within(destroyed, "destruction after end of stream");
}

// Without a worker ReadHeader refuses a length above the bound, and only such a length.
TEST_F(ChannelDestroyed, AfterReadHeaderRefusedALengthAboveTheBound)
{
    for (const unsigned long long bound : {1ull << 30, (1ull << 30) - 1}) {
        Link link(false, bound);
        link.Tell("header 1073741824");
        unsigned long long length = 0;
        std::string details = "no exception";
        try {
            length = link.channel->ReadHeader();
        } catch (const IOException& e) {
            const std::string* info = boost::get_error_info<Korvel::DetailsInfo>(e);
            details = info ? *info : "no details";
        }
        if (bound == 1ull << 30)
            EXPECT_EQ(length, bound) << "the bound itself is allowed";
        else
            EXPECT_EQ(details, "1073741824");
    }
}

using ChannelWaits = ChannelDestroyed;

// A thread asked to stop that calls Read with no frame held leaves by boost::thread_interrupted
// and takes nothing, also when the frame lands while it spins (it writes the frame itself, a
// second writer beside the peer, just before it reads: most rounds it lands then). A round whose
// frame was announced before the call may hand it out.
TEST_F(ChannelWaits, ReadIsAnInterruptionPointEvenForAFrameLandingWhileItSpins)
{
    using Clock = std::chrono::steady_clock;
    struct Stamp : IDataAvailableHandler {
        std::atomic<Clock::time_point> at;
        void OnDataAvailable(unsigned long long) override { at = Clock::now(); }
    } landed;
    Link link;
    link.channel->SetDataAvailableHandler(&landed);
    const int writer = open(link.from.path.c_str(), O_WRONLY | O_CLOEXEC);
    ASSERT_GE(writer, 0);
    const unsigned long long frame[2] = {8, 0x0807060504030201};
    for (int round = 0; round < 50; ++round) {
        std::atomic<bool> interrupted{false};
        std::atomic<Clock::time_point> called;
        unsigned char bytes[8] = {};
        boost::thread reader([&] {
            while (!boost::this_thread::interruption_requested())
                boost::this_thread::yield();
            if (write(writer, frame, sizeof frame) != sizeof frame)
                return;
            called = Clock::now();
            try {
                link.channel->Read(bytes, 1);
            } catch (const boost::thread_interrupted&) {
                interrupted = true;
            }
        });
        reader.interrupt();
        reader.join();
        if (!interrupted) {
            // A frame stored while Read waited for the worker's mutex was already held.
            ASSERT_LT(landed.at.load(), called.load() + std::chrono::microseconds(10))
                << "round " << round << ": a frame landing in Read was taken";
        }
        EXPECT_EQ(link.channel->Read(bytes + !interrupted, 8 - !interrupted), 8u - !interrupted);
        EXPECT_EQ(std::memcmp(bytes, &frame[1], 8), 0);
    }
    close(writer);
}

// An event loop's view: readable for each frame until drained, then for the worker's end,
// whatever ended it, and at once for a descriptor set after that end.
TEST_F(ChannelWaits, TheDescriptorIsReadableForEachFrameAndForTheWorkersEnd)
{
    using Kind = DataAvailableDescriptor::Kind;
    const std::pair<const char*, WorkerEnd> endings[] = {
        {"empty", WorkerEnd::EndFrame}, {"header 2000000", WorkerEnd::FrameTooLong}, {"kill", WorkerEnd::EndOfInput}};
    for (const auto& [ending, reason] : endings) {
        SCOPED_TRACE(ending);
        DataAvailableDescriptor descriptor, late;
        auto readable = [&](int ms) {
            pollfd watched{descriptor.Descriptor(), POLLIN, 0};
            return poll(&watched, 1, ms) == 1;
        };
        Link link(true, 1 << 20);
        link.channel->SetDataAvailableHandler(&descriptor);
        EXPECT_FALSE(readable(0));
        link.Tell("frame 3");
        ASSERT_TRUE(readable(3000));
        const auto event = descriptor.Drain();
        EXPECT_EQ(event.kind, Kind::Frame);
        EXPECT_EQ(event.size, 3u);
        EXPECT_FALSE(readable(0));
        EXPECT_EQ(descriptor.Drain().kind, Kind::Nothing);
        unsigned char bytes[3];
        EXPECT_EQ(link.channel->Read(bytes, 3), 3u);
        if (std::string(ending) == "kill")
            kill(link.peer.Pid(), SIGKILL);
        else
            link.Tell(ending);
        ASSERT_TRUE(readable(3000));
        const auto end = descriptor.Drain();
        EXPECT_EQ(end.kind, Kind::Ended);
        EXPECT_EQ(end.end, reason) << WorkerEndName(end.end);
        EXPECT_TRUE(readable(0)) << "the end stays readable";
        link.channel->SetDataAvailableHandler(&late);
        EXPECT_EQ(late.Drain().end, reason);
    }
}

// Over pipes made with options, a stop at any point of a frame (before it, inside its length,
// inside its payload) ends the worker, wakes a waiting reader with nothing and announces no
// frame made up of missing bytes, whichever stop it was: the pipe's own Cancel (reached through
// the channel's), its PipeCanceller, a wait limit, or destruction, which is not held up either.
TEST_F(ChannelWaits, OverPipesWithOptionsAStopAtAnyPointOfAFrameMakesUpNoFrame)
{
    enum class Stop { Cancel, Canceller, WaitLimit, Destruction };
    const char* const names[] = {"Cancel", "canceller", "wait limit", "destruction"};
    struct Case {
        const char* mode;
        unsigned long long sent;
    };
    for (const Case& c : {Case{"silent", 0}, Case{"half-header", 4}, Case{"half-frame", 12}}) {
        for (const Stop stop : {Stop::Cancel, Stop::Canceller, Stop::WaitLimit, Stop::Destruction}) {
            // A wait limit before a frame is no end (next test).
            if (stop == Stop::WaitLimit && c.sent == 0)
                continue;
            SCOPED_TRACE(std::string(c.mode) + ", " + names[static_cast<int>(stop)]);
            PipeOptions options;
            options.cancellable = true;
            // Each stop beside other options: a large and a tiny transfer size, close-on-exec.
            if (stop == Stop::Canceller) {
                options.canceller = PipeCanceller::Create();
                options.transferSize = 1 << 20;
                options.closeOnExec = true;
            }
            if (stop == Stop::WaitLimit) {
                options.waitLimit = std::chrono::milliseconds(100);
                options.transferSize = 3;
            }
            DataAvailableDescriptor descriptor;
            Link link(true, ~0ull, c.mode, &options);
            link.channel->SetDataAvailableHandler(&descriptor);
            if (stop != Stop::WaitLimit) {
                ASSERT_TRUE(ZephTest::EventuallyTrue([&] { return WorkerBlockedInRead(c.sent, "poll"); }));
            }
            if (stop == Stop::Destruction) {
                const auto start = std::chrono::steady_clock::now();
                link.channel.reset();
                EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(10));
                EXPECT_EQ(descriptor.Drain().end, WorkerEnd::Cancelled);
                continue;
            }
            unsigned char byte = 0x5a;
            if (stop != Stop::WaitLimit) {
                auto read = ParkedRead(*link.channel, &byte);
                if (stop == Stop::Cancel)
                    link.channel->Cancel();
                else
                    options.canceller->Cancel();
                EXPECT_EQ(Within(read, "the waiting reader"), 0u);
            }
            pollfd watched{descriptor.Descriptor(), POLLIN, 0};
            ASSERT_EQ(poll(&watched, 1, 3000), 1);
            const auto end = descriptor.Drain();
            EXPECT_EQ(end.kind, DataAvailableDescriptor::Kind::Ended) << "a frame was made up";
            EXPECT_EQ(end.end, stop == Stop::WaitLimit ? WorkerEnd::Stalled : WorkerEnd::Cancelled);
            EXPECT_EQ(link.channel->Read(&byte, 1), 0u);
            EXPECT_EQ(byte, 0x5a);
        }
    }
}

// A wait limit that passes before the first byte of a frame is a quiet peer, not an end: the
// worker waits again, and the frame that comes late arrives whole.
TEST_F(ChannelWaits, AWaitLimitBetweenFramesIsNoEnd)
{
    PipeOptions options;
    options.waitLimit = std::chrono::milliseconds(30);
    DataAvailableDescriptor descriptor;
    Link link(true, ~0ull, "frames", &options);
    link.channel->SetDataAvailableHandler(&descriptor);
    pollfd watched{descriptor.Descriptor(), POLLIN, 0};
    for (int frame = 0; frame < 2; ++frame) {
        EXPECT_EQ(poll(&watched, 1, 200), 0) << "the worker ended on a quiet peer";
        link.Tell("frame 1000");
        ASSERT_EQ(poll(&watched, 1, 3000), 1);
        const auto event = descriptor.Drain();
        ASSERT_EQ(event.kind, DataAvailableDescriptor::Kind::Frame);
        ASSERT_EQ(event.size, 1000u);
        std::string bytes(1000, '\0');
        EXPECT_EQ(link.channel->Read(reinterpret_cast<unsigned char*>(&bytes[0]), 1000), 1000u);
        EXPECT_EQ(bytes, std::string(1000, 'x'));
    }
}

// Over default pipes, whose Cancel does nothing, the channel's Cancel changes nothing: the worker
// goes on, and a payload that the peer's end cuts short is still stored and announced with
// what the buffer held in place of the missing bytes. A handler that hears of the worker's end
// is told once, however often set.
TEST_F(ChannelWaits, CancelOverADefaultPipeChangesNothingAndAnEndIsToldOncePerHandler)
{
    struct Ends : ZephTest::RecordingHandler, IWorkerEndHandler {
        std::atomic<int> ended{0};
        void OnWorkerEnded(WorkerEnd) override { ++ended; }
    } handler;
    Link link;
    link.channel->SetDataAvailableHandler(&handler);
    link.channel->Cancel();
    unsigned char frame[1000];
    // A reader that comes before the frame still waits for it.
    auto first = std::async(std::launch::async, [&] { return link.channel->Read(frame, 3); });
    link.Tell("frame 3");
    link.Tell("header 1000");
    link.Tell("close");
    EXPECT_EQ(Within(first, "the first frame"), 3u);
    ASSERT_TRUE(ZephTest::EventuallyTrue([&] { return handler.Sizes().size() == 2; }));
    EXPECT_EQ(handler.Sizes()[1], 1000u);
    std::memset(frame, 0x5a, sizeof frame);
    EXPECT_EQ(link.channel->Read(frame, 1000), 1000u);
    // The earlier frame's bytes, then the zeros of a grown buffer.
    EXPECT_EQ(std::string(frame, frame + 3), "xxx");
    EXPECT_TRUE(std::all_of(frame + 3, frame + 1000, [](unsigned char b) { return b == 0; }));
    ASSERT_TRUE(ZephTest::EventuallyTrue([&] { return handler.ended == 1; }));
    link.channel->SetDataAvailableHandler(&handler);
    link.channel->SetDataAvailableHandler(nullptr);
    link.channel->SetDataAvailableHandler(&handler);
    EXPECT_EQ(handler.ended, 1);
}

// The length travels as 8 little-endian bytes, written and read byte by byte.
TEST(ChannelFrame, TheLengthIsLittleEndianOnTheWire)
{
    const unsigned char wire[] = {0x08, 0x07, 0x06, 0x05, 0x04, 0x03, 0x02, 0x01};
    std::string written;
    auto channel = CommunicationChannel::Create(DataInputMemory::Create(wire, sizeof wire),
                                                DataOutputString::Create(&written), false);
    EXPECT_EQ(channel->ReadHeader(), 0x0102030405060708u);
    EXPECT_EQ(channel->Write(reinterpret_cast<const unsigned char*>("abc"), 3), 3u);
    EXPECT_EQ(written, std::string("\x03\0\0\0\0\0\0\0abc", 11));
}

// A handler given at creation is told of a frame that is already there when the worker starts,
// every time; whole frames only never delivers a frame the peer's death cut short, inside its
// length or its payload, even over default pipes; a throwing handler ends the worker as Failed.
TEST_F(ChannelWaits, ChannelOptionsAnnounceTheFirstFrameAndDeliverOnlyWholeFrames)
{
    ZephTest::Fifo fifo;
    std::string sent;
    for (int round = 0; round < 200; ++round) {
        const int reader = open(fifo.path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        const int writer = open(fifo.path.c_str(), O_WRONLY | O_CLOEXEC);
        const unsigned char frame[9] = {1, 0, 0, 0, 0, 0, 0, 0, 0x5a};
        ASSERT_EQ(write(writer, frame, sizeof frame), 9);
        close(writer);
        fcntl(reader, F_SETFL, fcntl(reader, F_GETFL) & ~O_NONBLOCK);
        DataAvailableDescriptor descriptor;
        ChannelOptions options;
        options.handler = &descriptor;
        auto channel = CommunicationChannel::Create(
            DataInputPipe::Create(PipeHandleFromDescriptor(reader), std::make_unique<ByteDataInputDefaultProtocol>()),
            DataOutputString::Create(&sent), options);
        pollfd watched{descriptor.Descriptor(), POLLIN, 0};
        ASSERT_EQ(poll(&watched, 1, 3000), 1) << "round " << round;
        ASSERT_EQ(descriptor.Drain().size, 1u) << "round " << round << ": the first frame was not announced";
    }
    for (const char* mode : {"half-header", "half-frame"}) {
        SCOPED_TRACE(mode);
        DataAvailableDescriptor descriptor;
        ChannelOptions options;
        options.handler = &descriptor;
        options.wholeFramesOnly = true;
        Link link(true, ~0ull, mode, nullptr, &options);
        ASSERT_TRUE(
            ZephTest::EventuallyTrue([&] { return WorkerBlockedInRead(std::string(mode) == "half-frame" ? 12 : 4); }));
        kill(link.peer.Pid(), SIGKILL);
        pollfd watched{descriptor.Descriptor(), POLLIN, 0};
        ASSERT_EQ(poll(&watched, 1, 3000), 1);
        const auto end = descriptor.Drain();
        EXPECT_EQ(end.kind, DataAvailableDescriptor::Kind::Ended) << "a frame cut short was delivered";
        EXPECT_EQ(end.end, WorkerEnd::EndOfInput);
    }
    ZephTest::RecordingHandler throwing;
    throwing.throws = true;
    struct : IDataAvailableHandler, IWorkerEndHandler {
        ZephTest::RecordingHandler* inner;
        std::atomic<int> reason{-1};
        void OnDataAvailable(unsigned long long size) override { inner->OnDataAvailable(size); }
        void OnWorkerEnded(WorkerEnd why) override { reason = static_cast<int>(why); }
    } failing;
    failing.inner = &throwing;
    for (const bool readAhead : {false, true}) {
        failing.reason = -1;
        ChannelOptions options;
        options.handler = &failing;
        options.readAhead = readAhead;  // the end comes at once, with the frame still held
        Link link(true, ~0ull, "frames", nullptr, &options);
        link.Tell("frame 3");
        ASSERT_TRUE(ZephTest::EventuallyTrue([&] { return failing.reason != -1; }));
        EXPECT_EQ(failing.reason, static_cast<int>(WorkerEnd::Failed));
    }
}

TEST(ChannelOptionsCheck, RefuseWhatNeedsAWorkerWithoutOneAndAZeroBound)
{
    std::string text;
    ZephTest::RecordingHandler handler;
    ChannelOptions invalid[4], plain;
    invalid[0].worker = invalid[1].worker = invalid[3].worker = plain.worker = false;
    invalid[0].handler = &handler;
    invalid[1].wholeFramesOnly = true;
    invalid[2].maxFrameLength = 0;
    invalid[3].readAhead = true;
    for (const ChannelOptions& options : invalid)
        EXPECT_THROW(
            CommunicationChannel::Create(DataInputMemory::Create(nullptr, 0), DataOutputString::Create(&text), options),
            std::invalid_argument);
    EXPECT_NO_THROW(
        CommunicationChannel::Create(DataInputMemory::Create(nullptr, 0), DataOutputString::Create(&text), plain));
}

using ChannelReadAhead = ChannelDestroyed;

// Frames of varied sizes and contents, written into the FIFO beside the peer, reach a slow reader
// whole and in order, each announced once and only when the frame before it is used up, while
// the worker has already taken the next one off the pipe.
TEST_F(ChannelReadAhead, FramesArriveWholeAndInOrderAnnouncedOnceEachWhileTheNextIsReadAhead)
{
    ZephTest::RecordingHandler handler;
    ChannelOptions options;
    options.handler = &handler;
    options.readAhead = true;
    Link link(true, ~0ull, "frames", nullptr, &options);
    const int writer = open(link.from.path.c_str(), O_WRONLY | O_CLOEXEC);
    ASSERT_GE(writer, 0);
    const std::vector<unsigned long long> sizes = {1000, 3, 1, 200000, 65536, 7, 1 << 20, 2, 70000, 1};
    auto frame = [&](size_t i) {
        std::vector<unsigned char> bytes(8 + sizes[i]);
        std::memcpy(bytes.data(), &sizes[i], 8);
        for (size_t j = 0; j < sizes[i]; ++j)
            bytes[8 + j] = static_cast<unsigned char>(i * 37 + j * 7 + j / 251);
        return bytes;
    };
    auto send = [&](size_t i) {
        const std::vector<unsigned char> bytes = frame(i);
        for (size_t done = 0; done < bytes.size();) {
            const ssize_t n = write(writer, bytes.data() + done, bytes.size() - done);
            if (n <= 0)
                return false;
            done += static_cast<size_t>(n);
        }
        return true;
    };
    ASSERT_TRUE(send(0) && send(1));
    // Holding the first frame, the worker has taken the second off the pipe too.
    ASSERT_TRUE(ZephTest::EventuallyTrue([&] { return WorkerBlockedInRead(8 + 1000 + 8 + 3, "futex"); }));
    EXPECT_EQ(handler.Sizes(), std::vector<unsigned long long>{1000});
    // Non-fatal checks from here on: the writer must be waited for and closed.
    auto rest = std::async(std::launch::async, [&] {
        for (size_t i = 2; i < sizes.size(); ++i)
            if (!send(i))
                return false;
        return true;
    });
    for (size_t i = 0; i < sizes.size(); ++i) {
        const std::vector<unsigned char> sent = frame(i);
        std::vector<unsigned char> got(sizes[i]);
        for (unsigned long long done = 0, piece = sizes[i] / 3 + 1; done < sizes[i]; done += piece) {
            piece = std::min(piece, sizes[i] - done);
            EXPECT_EQ(ZephTest::FinishesWithin("Read", [&] { return link.channel->Read(&got[done], piece); }), piece);
            if (done + piece < sizes[i]) {
                EXPECT_EQ(handler.Sizes().size(), i + 1)
                    << "frame " << i + 1 << " announced before " << i << " was used up";
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            }
        }
        EXPECT_TRUE(std::equal(got.begin(), got.end(), sent.begin() + 8, sent.end())) << "frame " << i;
    }
    EXPECT_TRUE(Within(rest, "the writer"));
    EXPECT_EQ(handler.Sizes(), sizes);
    close(writer);
}

// Read ahead, the worker's end is announced only after every frame it holds was used up: a
// frame that came whole before the peer's end (or its end frame) is delivered, one that the
// peer's death cut short is not.
TEST_F(ChannelReadAhead, ThePeersEndComesAfterTheFrameReadAheadAndNoFrameCutShort)
{
    struct Case {
        const char* commands;
        const char* end;  // sent once the worker holds the first frame and has read the second
        std::vector<unsigned long long> frames;
        WorkerEnd reason;
    };
    for (const Case& c : {Case{"frame 10\nframe 20", "close", {10, 20}, WorkerEnd::EndOfInput},
                          Case{"frame 10\nframe 20", "empty", {10, 20}, WorkerEnd::EndFrame},
                          Case{"frame 10\nheader 5000", "kill", {10}, WorkerEnd::EndOfInput}}) {
        SCOPED_TRACE(c.end);
        DataAvailableDescriptor descriptor;
        ChannelOptions options;
        options.handler = &descriptor;
        options.readAhead = true;
        options.wholeFramesOnly = true;
        Link link(true, ~0ull, "frames", nullptr, &options);
        link.Tell(c.commands);
        // Holding the first frame, the worker has taken the second, or blocks in its payload.
        ASSERT_TRUE(ZephTest::EventuallyTrue(
            [&] { return c.frames.size() == 2 ? WorkerBlockedInRead(46, "futex") : WorkerBlockedInRead(26); }));
        if (std::string(c.end) == "kill")
            kill(link.peer.Pid(), SIGKILL);
        else
            link.Tell(c.end);
        pollfd watched{descriptor.Descriptor(), POLLIN, 0};
        for (const unsigned long long size : c.frames) {
            ASSERT_EQ(poll(&watched, 1, 3000), 1);
            const auto event = descriptor.Drain();
            ASSERT_EQ(event.kind, DataAvailableDescriptor::Kind::Frame);
            EXPECT_EQ(event.size, size);
            EXPECT_EQ(poll(&watched, 1, 50), 0) << "announced while a frame is held";
            std::string bytes(size, '\0');
            EXPECT_EQ(link.channel->Read(reinterpret_cast<unsigned char*>(&bytes[0]), size), size);
            EXPECT_EQ(bytes, std::string(size, 'x'));
        }
        ASSERT_EQ(poll(&watched, 1, 3000), 1);
        const auto end = descriptor.Drain();
        EXPECT_EQ(end.kind, DataAvailableDescriptor::Kind::Ended) << "a frame cut short was delivered";
        EXPECT_EQ(end.end, c.reason) << WorkerEndName(end.end);
        unsigned char byte = 0x5a;
        EXPECT_EQ(link.channel->Read(&byte, 1), 0u);
    }
}

// A cancel, or the destruction, while a frame is held and the next is being read ahead over a
// cancellable pipe: the held frame stays readable, the one cut short is never announced, and
// the destructor does not wait for the peer. Destroyed while holding a frame, the worker ends
// as Cancelled, as without read-ahead, announcing no frame it read ahead, even when it has
// already met the peer's end.
TEST_F(ChannelReadAhead, ACancelOrDestructionWhileReadingAheadMakesUpNoFrame)
{
    struct Case {
        const char* commands;
        bool destroy;
        unsigned long long taken;  // by the worker when it waits
        const char* sleep;
    };
    for (const Case& c :
         {Case{"frame 10\nheader 5000", false, 26, "poll"}, Case{"frame 10\nheader 5000", true, 26, "poll"},
          Case{"frame 10\nframe 20", true, 46, "futex"}, Case{"frame 10\nclose", true, 18, "futex"}}) {
        const bool destroy = c.destroy;
        SCOPED_TRACE(std::string(c.commands) + (destroy ? ", destruction" : ", Cancel"));
        PipeOptions pipe;
        pipe.cancellable = true;
        DataAvailableDescriptor descriptor;
        ChannelOptions options;
        options.handler = &descriptor;
        options.readAhead = true;
        Link link(true, ~0ull, "frames", &pipe, &options);
        link.Tell(c.commands);
        ASSERT_TRUE(ZephTest::EventuallyTrue([&] { return WorkerBlockedInRead(c.taken, c.sleep); }));
        pollfd watched{descriptor.Descriptor(), POLLIN, 0};
        ASSERT_EQ(poll(&watched, 1, 3000), 1);
        EXPECT_EQ(descriptor.Drain().size, 10u);
        if (destroy) {
            const auto start = std::chrono::steady_clock::now();
            link.channel.reset();
            EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));
            EXPECT_EQ(descriptor.Drain().end, WorkerEnd::Cancelled);
            continue;
        }
        link.channel->Cancel();
        EXPECT_EQ(poll(&watched, 1, 50), 0) << "the end announced while a frame is held";
        unsigned char bytes[10];
        EXPECT_EQ(link.channel->Read(bytes, 10), 10u);
        ASSERT_EQ(poll(&watched, 1, 3000), 1);
        const auto end = descriptor.Drain();
        EXPECT_EQ(end.kind, DataAvailableDescriptor::Kind::Ended) << "a frame was made up";
        EXPECT_EQ(end.end, WorkerEnd::Cancelled);
        EXPECT_EQ(link.channel->Read(bytes, 1), 0u);
    }
}
