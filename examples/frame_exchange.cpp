// frame_exchange: two processes exchange length-prefixed frames through CommunicationChannel
// over a pair of FIFOs, the way the application family's processes talk to each other.
//
// Process A (this program as started) generates two pipe names, creates the FIFOs and starts
// process B (the same program in peer mode). A opens an output pipe on the first FIFO and an
// input pipe on the second; B opens them in the same order from its side. B runs its channel
// with the worker and a handler that hands each frame to its main thread, which answers each
// frame with its length and checksum. A sends random frames, checks every answer, measures
// round trips, removes the FIFOs and prints a summary.
//
// With --soak, the reliability run: A runs its channel with a worker too and keeps sending
// while it checks the answers, so that many frames are on their way at once; a lost,
// doubled, reordered or damaged frame gives an answer that does not match. Both processes
// check that their resident memory and open descriptors stay flat over the run and that
// releasing the channel closes everything it opened. Measuring, soak checks and the clean-up
// on failure are in common/, the command line in frame_exchange_options.cpp.
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <iostream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <glog/logging.h>

#include "IO/ZephIO.h"
#include "frame_exchange_options.h"

#include "common/EmergencyExit.h"
#include "common/Footprint.h"
#include "common/FrameQueue.h"
#include "common/Frames.h"
#include "common/Process.h"
#include "common/RandomFrames.h"
#include "common/RoundTripMeter.h"

using namespace Korvel::Core;
using namespace ZephCommon;
using namespace FrameExchange;
using EmergencyExit::Fail;
// A broken exchange usually means the peer died: its watch gets the chance to say so first.
using EmergencyExit::FailAfterGrace;

namespace {

const unsigned char kReady[] = {'r', 'e', 'a', 'd', 'y'};
constexpr double kSoakMemoryTolerance = 0.10;

// B's answer to one frame.
struct Answer {
    unsigned long long length, checksum;
};

void PrintSoak(const Footprint& footprint, const char* side)
{
    std::cout << "soak " << side << ":      " << footprint.Summary(std::to_string(kSoakSettled) + " frames")
              << ", all closed with the channel\n";
}

// ---- Process B -----------------------------------------------------------------------------

int RunPeer(const std::string& fromMain, const std::string& toMain, pid_t parent, const Options& options)
{
    const unsigned long long soakFrames = options.soak ? options.frames : 0;
    // Never outlive A: its FIFOs and its answers are all this process is for.
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (getppid() != parent)
        return 1;

    Footprint footprint(kSoakMemoryTolerance);
    footprint.Before();
    unsigned long long answered = 0;
    {
        auto input = DataInputPipe::Create(fromMain, false);
        auto output = DataOutputPipe::Create(toMain, false);
        FrameQueue frames;  // outlives the channel that calls it
        auto channel = CommunicationChannel::Create(input, output, true);
        channel->SetDataAvailableHandler(&frames);
        // Only now may A send: a frame arriving before the handler would go unannounced.
        channel->Write(kReady, sizeof kReady);

        std::vector<unsigned char> frame;
        while (const unsigned long long size = frames.Next(*channel)) {
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
    std::string problem = footprint.Problem("the channel");
    if (answered != soakFrames)
        problem = std::to_string(answered) + " frames came of " + std::to_string(soakFrames);
    if (!problem.empty()) {
        std::cerr << "frame_exchange (peer): error: " << problem << std::endl;
        return 1;
    }
    PrintSoak(footprint, "B");
    return 0;
}

// ---- Process A -----------------------------------------------------------------------------

// The answer to frame `i`, announced by `answers` when A reads with a worker, else read
// straight off the input.
Answer ReadAnswer(IDataChannel& channel, FrameQueue* answers, unsigned long long i)
{
    Answer answer{};
    if ((answers ? answers->Next(channel) : channel.ReadHeader()) != sizeof answer ||
        channel.Read(reinterpret_cast<unsigned char*>(&answer), sizeof answer) != sizeof answer)
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
        if (!EmergencyExit::RemoveOnExit(name))
            Fail("pipe name too long: " + name);
    for (const auto& name : fifos)
        if (mkfifo(name.c_str(), 0600) != 0)
            Fail("cannot create the FIFO " + name + ": " + std::strerror(errno));

    // B gets the FIFOs, A's process ID and A's own options.
    std::vector<std::string> args = {self, "--peer", fifos[0], fifos[1], std::to_string(getpid())};
    args.insert(args.end(), given.begin(), given.end());
    pid_t peer = 0;
    if (const int error = SpawnSelf(args, peer); error != 0)
        Fail(std::string("cannot start the peer process: ") + std::strerror(error));
    EmergencyExit::HelperWatch watch(peer, "the peer process ended before the exchange was over");

    Footprint footprint(kSoakMemoryTolerance);
    footprint.Before();
    RoundTripMeter meter(options.frames);
    {
        auto output = DataOutputPipe::Create(fifos[0], false);
        auto input = DataInputPipe::Create(fifos[1], false);
        FrameQueue answers;  // outlives the channel that calls it
        auto channel = CommunicationChannel::Create(input, output, options.soak);

        unsigned char ready[sizeof kReady];
        bool gotReady = false;
        if (options.soak) {
            channel->SetDataAvailableHandler(&answers);
            gotReady = answers.ReadFirst(*channel, ready, sizeof ready);
        } else {
            gotReady = channel->ReadHeader() == sizeof kReady && channel->Read(ready, sizeof ready) == sizeof ready;
        }
        if (!gotReady || std::memcmp(ready, kReady, sizeof ready) != 0)
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
    if (options.soak) {
        if (const std::string problem = footprint.Problem("the channel"); !problem.empty())
            Fail(problem);
        PrintSoak(footprint, "A");
    }
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
        const std::string report = boost::diagnostic_information(e);
        if (peer) {
            std::cerr << "frame_exchange (peer): error: " << report << std::endl;
            return 1;
        }
        Fail(report);
    }
}
