// frame_exchange: two processes exchange length-prefixed frames through CommunicationChannel
// over a pair of FIFOs, the way the application family's processes talk to each other.
//
// Process A (this program as started) generates two pipe names, creates the FIFOs and starts
// process B (this program in peer mode). A opens an output pipe on the first FIFO, then an input
// pipe on the second; B opens them in the same order. B's channel has the worker and a handler
// that hands each frame to B's main thread (with --poll, a descriptor that thread polls), which
// answers with the frame's length and checksum. A sends random frames and checks every answer.
//
// With --soak, the reliability run: A reads with a worker too and keeps sending while it checks
// the answers in order, many frames on their way at once; both processes check that memory and
// descriptors stay flat and that releasing the channel closes all it opened. Measuring, soak
// checks and clean-up on failure are in common/, the command line in frame_exchange_options.cpp.
#include <poll.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <iostream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <glog/logging.h>

#include "IO/ZephIO.h"
#include "common/EmergencyExit.h"
#include "common/Footprint.h"
#include "common/FrameQueue.h"
#include "common/Process.h"
#include "common/RandomFrames.h"
#include "common/RoundTripMeter.h"
#include "frame_exchange_options.h"

using namespace Korvel::Core;
using namespace ZephCommon;
using namespace FrameExchange;
using EmergencyExit::Fail;
using EmergencyExit::FailAfterGrace;  // a broken exchange: the peer's watch may tell first that it died

namespace {

const unsigned char kReady[] = {'r', 'e', 'a', 'd', 'y'};

// B's answer to one frame.
struct Answer {
    unsigned long long length, checksum;
};

// A soak run's checks of this process: empty and the footprint printed when they held, else
// what failed.
std::string FinishSoak(const Footprint& footprint, const char* side)
{
    std::string problem = footprint.Problem("the channel");
    if (problem.empty())
        std::cout << "soak " << side << ":      " << footprint.Summary(std::to_string(kSoakSettled) + " frames")
                  << ", all closed with the channel\n";
    return problem;
}

// ---- Process B -----------------------------------------------------------------------------

// With --poll, B's main thread waits for frames as an event-driven program does: in its own
// poll() loop on the handler's descriptor, draining it before reading. 0 once no frame will come.
unsigned long long NextPolled(DataAvailableDescriptor& frames)
{
    for (;;) {
        pollfd watched{frames.Descriptor(), POLLIN, 0};
        if (poll(&watched, 1, -1) < 0 && errno != EINTR)
            return 0;
        const DataAvailableDescriptor::Event event = frames.Drain();
        if (event.kind != DataAvailableDescriptor::Kind::Nothing)
            return event.kind == DataAvailableDescriptor::Kind::Frame ? event.size : 0;
    }
}

int RunPeer(const std::string& fromMain, const std::string& toMain, pid_t parent, const Options& options)
{
    const unsigned long long soakFrames = options.soak ? options.frames : 0;
    // Never outlive A: its FIFOs and its answers are all this process is for.
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (getppid() != parent)
        return 1;

    Footprint footprint(kSoakMemoryTolerance);  // the descriptors open before the run
    unsigned long long answered = 0;
    {
        auto input = DataInputPipe::Create(fromMain, false);
        auto output = DataOutputPipe::Create(toMain, false);
        FrameQueue frames;  // these two outlive the channel that calls them
        std::optional<DataAvailableDescriptor> polled;
        if (options.poll)
            polled.emplace();
        // Given at creation, the handler hears of every frame, even one that comes at once.
        ChannelOptions channelOptions;
        channelOptions.handler = polled ? static_cast<IDataAvailableHandler*>(&*polled) : &frames;
        auto channel = CommunicationChannel::Create(input, output, channelOptions);
        channel->Write(kReady, sizeof kReady);

        std::vector<unsigned char> frame;
        while (const unsigned long long size = polled ? NextPolled(*polled) : frames.Next(*channel)) {
            frame.resize(size);
            channel->Read(frame.data(), size);
            const Answer answer{size, Checksum(frame.data(), frame.size())};
            ++answered;
            if (soakFrames != 0 && answered == kSoakSettled)
                footprint.Settled();
            if (answered == soakFrames)
                footprint.End();  // before the last answer, after which A ends our worker
            if (channel->Write(reinterpret_cast<const unsigned char*>(&answer), sizeof answer) != sizeof answer) {
                std::cerr << "frame_exchange (peer): the answer to frame " << answered << " could not be written"
                          << std::endl;
                return 1;
            }
            if (answered == options.crashPeerAfter)
                raise(SIGKILL);
        }
        // In a soak run A reads with a worker too, and waits for this to end it.
        if (soakFrames != 0)
            channel->Write(nullptr, 0);
    }
    if (soakFrames == 0)
        return 0;
    const std::string problem = answered != soakFrames
                                    ? std::to_string(answered) + " frames came of " + std::to_string(soakFrames)
                                    : FinishSoak(footprint, "B");
    if (!problem.empty())
        std::cerr << "frame_exchange (peer): error: " << problem << std::endl;
    return problem.empty() ? 0 : 1;
}

// ---- Process A -----------------------------------------------------------------------------

// Reads the next frame, which must be of `size` bytes: announced by `answers` when A reads with
// a worker (ReadFirst: also a first frame sent before the handler was set), else off the input.
bool ReadSized(IDataChannel& channel, FrameQueue* answers, unsigned char* buffer, unsigned long long size)
{
    if (answers)
        return answers->ReadFirst(channel, buffer, size);
    return channel.ReadHeader() == size && channel.Read(buffer, size) == size;
}

Answer ReadAnswer(IDataChannel& channel, FrameQueue* answers, unsigned long long i)
{
    Answer answer{};
    if (!ReadSized(channel, answers, reinterpret_cast<unsigned char*>(&answer), sizeof answer))
        FailAfterGrace("no answer to frame " + std::to_string(i));
    return answer;
}

void CheckAnswer(unsigned long long i, const Answer& answer, const SentFrame& sent, RoundTripMeter& meter)
{
    if (answer.length != sent.length || answer.checksum != sent.checksum) {
        std::ostringstream text;
        text << "wrong answer to frame " << i << ": length " << answer.length << " checksum " << std::hex
             << answer.checksum << ", expected length " << std::dec << sent.length << " checksum " << std::hex
             << sent.checksum;
        Fail(text.str());
    }
    meter.Answered(i, sent.length, sent.time);
}

void Send(IDataChannel& channel, const std::vector<unsigned char>& frame, unsigned long long i)
{
    if (channel.Write(frame.data(), frame.size()) != frame.size())
        FailAfterGrace("frame " + std::to_string(i) + " could not be written in full");
}

// One frame at a time: each answer comes before the next frame goes.
void Exchange(IDataChannel& channel, const Options& options, RoundTripMeter& meter)
{
    RandomFrames source(options.seed, options.minSize, options.maxSize);
    std::vector<unsigned char> frame;
    for (unsigned long long i = 1; i <= options.frames; ++i) {
        const SentFrame sent = source.Next(frame);
        Send(channel, frame, i);
        CheckAnswer(i, ReadAnswer(channel, nullptr, i), sent, meter);
    }
}

// The soak: a thread keeps sending while this one checks the answers in order, so a frame
// lost, doubled or reordered on the way shows as an answer that does not match its frame.
void Soak(IDataChannel& channel, FrameQueue& answers, const Options& options, RoundTripMeter& meter,
          Footprint& footprint)
{
    SentFrames inFlight;
    std::vector<unsigned char> frame;  // out here, so that it is still there when the end is measured
    std::thread sender([&] {
        RandomFrames source(options.seed, options.minSize, options.maxSize);
        for (unsigned long long i = 1; i <= options.frames; ++i) {
            inFlight.Push(source.Next(frame));
            Send(channel, frame, i);
        }
    });
    for (unsigned long long i = 1; i <= options.frames; ++i) {
        const Answer answer = ReadAnswer(channel, &answers, i);
        SentFrame sent;
        if (!inFlight.Pop(sent))
            Fail("an answer came before frame " + std::to_string(i) + " was sent");
        CheckAnswer(i, answer, sent, meter);
        if (i == kSoakSettled)
            footprint.Settled();
    }
    sender.join();
    footprint.End();
}

int RunMain(const char* self, const std::vector<std::string>& given, const Options& options)
{
    EmergencyExit::Arm("frame_exchange: error: ");
    const std::string fifos[2] = {GeneratePipeName(), GeneratePipeName()};
    for (const auto& name : fifos)
        EmergencyExit::MakeFifo(name);  // removed again on a failure or signal

    // B gets the FIFOs, A's process ID and A's own options.
    std::vector<std::string> args = {self, "--peer", fifos[0], fifos[1], std::to_string(getpid())};
    args.insert(args.end(), given.begin(), given.end());
    EmergencyExit::HelperWatch watch(args, "the peer process", "the exchange was over");

    Footprint footprint(kSoakMemoryTolerance);  // the descriptors open before the run
    RoundTripMeter meter(options.frames);
    {
        auto output = DataOutputPipe::Create(fifos[0], false);
        auto input = DataInputPipe::Create(fifos[1], false);
        FrameQueue answers;  // outlives the channel that calls it
        auto channel = CommunicationChannel::Create(input, output, options.soak);

        if (options.soak)
            channel->SetDataAvailableHandler(&answers);
        unsigned char ready[sizeof kReady];
        if (!ReadSized(*channel, options.soak ? &answers : nullptr, ready, sizeof ready) ||
            std::memcmp(ready, kReady, sizeof ready) != 0)
            FailAfterGrace("the peer did not report ready");

        if (options.soak)
            Soak(*channel, answers, options, meter, footprint);
        else
            Exchange(*channel, options, meter);
        meter.Finish();

        // An empty frame ends B's worker, and with it B. In a soak run B's empty frame back ends
        // our worker; nothing may come before it.
        watch.Finishing();
        channel->Write(nullptr, 0);
        if (options.soak && answers.Next(*channel) != 0)
            Fail("an answer came for a frame never sent");
    }
    const int peerStatus = watch.Wait();
    EmergencyExit::RemoveFiles();
    if (!WIFEXITED(peerStatus) || WEXITSTATUS(peerStatus) != 0) {
        std::cerr << "frame_exchange: error: the peer process failed (" << DescribeWaitStatus(peerStatus) << ")"
                  << std::endl;
        return 1;
    }
    std::cout << "frames:      " << options.frames << " (" << options.minSize << " to " << options.maxSize
              << " bytes, seed " << options.seed << "), all answers checked"
              << (options.soak ? " in order, many frames on their way at once" : "") << "\n";
    meter.Print(std::cout);
    if (const std::string problem = options.soak ? FinishSoak(footprint, "A") : ""; !problem.empty())
        Fail(problem);
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    google::InitGoogleLogging(argv[0]);
    FLAGS_logtostderr = true;
    FLAGS_minloglevel = google::GLOG_WARNING;

    const std::vector<std::string> args(argv + 1, argv + argc);
    // Process B is started as: --peer FROM TO PARENT, then A's own options.
    const bool peer = !args.empty() && args[0] == "--peer";
    unsigned long long parent = 0;
    if (peer && (args.size() < 4 || !ParseNumber(args[3], parent)))
        return Usage("bad peer-mode arguments");
    Options options;
    if (const int exitCode = ParseOptions({args.begin() + (peer ? 4 : 0), args.end()}, options); exitCode >= 0)
        return exitCode;
    if (options.verbose)
        FLAGS_minloglevel = google::GLOG_INFO;
    try {
        return peer ? RunPeer(args[1], args[2], static_cast<pid_t>(parent), options) : RunMain(argv[0], args, options);
    } catch (const std::exception& e) {
        // Opening a pipe or generating a name failed; the report carries the details.
        const std::string report = Korvel::DescribeException(e);
        if (peer) {
            std::cerr << "frame_exchange (peer): error: " << report << std::endl;
            return 1;
        }
        Fail(report);
    }
}
