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
// releasing the channel closes everything it opened.
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cmath>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iomanip>
#include <iostream>
#include <deque>
#include <mutex>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <spawn.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <glog/logging.h>

#include "IO/ZephIO.h"
#include "common/FrameQueue.h"
#include "common/Frames.h"
#include "common/Process.h"

extern char** environ;

using namespace Korvel::Core;
using ZephCommon::Checksum;
using ZephCommon::ParseNumber;
using Clock = std::chrono::steady_clock;

namespace {

const char kUsage[] =
    "usage: frame_exchange [options]\n"
    "  -n, --frames N          frames to send (default 5000)\n"
    "      --min-size BYTES    smallest frame payload (default 1)\n"
    "      --max-size BYTES    largest frame payload (default 64k)\n"
    "      --seed N            seed for frame sizes and contents (default 1)\n"
    "      --soak              keep many frames on their way and check that memory and descriptors\n"
    "                          stay flat (more than 1000 frames)\n"
    "  -v, --verbose           log every pipe system call (glog INFO)\n"
    "      --crash-peer-after N  make the peer die abruptly after N answers (shows the error path)\n"
    "  -h, --help              show this text\n"
    "Sizes take an optional k or m suffix (KiB, MiB); payloads are 1 byte to 256m.\n";

constexpr unsigned long long kMaxFrameSize = 256ULL << 20;
constexpr unsigned long long kMaxFrames = 1000000000ULL;
const unsigned char kReady[] = {'r', 'e', 'a', 'd', 'y'};
// A soak run compares memory and descriptors after this many frames with the end.
constexpr unsigned long long kSoakSettled = 1000;
constexpr double kSoakMemoryTolerance = 0.10;

struct Options {
    unsigned long long frames = 5000;
    unsigned long long minSize = 1;
    unsigned long long maxSize = 64 << 10;
    unsigned long long seed = 1;
    unsigned long long crashPeerAfter = 0;
    bool verbose = false;
    bool soak = false;
};

// B's answer to one frame.
struct Answer {
    unsigned long long length;
    unsigned long long checksum;
};

std::string DescribeWaitStatus(int status)
{
    if (WIFEXITED(status))
        return "exit code " + std::to_string(WEXITSTATUS(status));
    if (WIFSIGNALED(status))
        return std::string("killed by signal ") + std::to_string(WTERMSIG(status)) + " (" +
               strsignal(WTERMSIG(status)) + ")";
    return "wait status " + std::to_string(status);
}

// ---- Process A's clean-up, usable from signal handlers ------------------------------------

char g_fifos[2][PATH_MAX];
// Read by the signal handler as well as by other threads: a lock-free atomic serves both.
std::atomic<pid_t> g_peer{0};
static_assert(std::atomic<pid_t>::is_always_lock_free, "g_peer is read in a signal handler");
std::atomic<bool> g_failing{false};
std::atomic<bool> g_finishing{false};

void RemoveFifos()
{
    for (auto& name : g_fifos)
        if (name[0] != '\0')
            unlink(name);
}

extern "C" void OnTerminationSignal(int signal)
{
    RemoveFifos();
    if (const pid_t peer = g_peer; peer > 0)
        kill(peer, SIGTERM);
    std::signal(signal, SIG_DFL);
    raise(signal);
}

// Reports the first failure of any thread, stops the peer, removes the FIFOs and exits.
[[noreturn]] void Fail(const std::string& message)
{
    if (g_failing.exchange(true))
        for (;;)
            pause();  // another thread is already ending the process
    // One write, so that log lines of other threads cannot cut the message in two.
    const std::string line = "frame_exchange: error: " + message + "\n";
    if (write(STDERR_FILENO, line.data(), line.size()) < 0) {
    }
    if (const pid_t peer = g_peer; peer > 0)
        kill(peer, SIGKILL);
    RemoveFifos();
    _exit(1);
}

// A broken exchange usually means the peer died; let the peer watcher say so if it can.
[[noreturn]] void FailExchange(const std::string& message)
{
    for (int i = 0; i < 100 && !g_failing; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    Fail(message);
}

// ---- Soak checks, made by both processes ---------------------------------------------------

// Resident memory and open descriptors once a soak run has settled and at its end: memory
// must stay within 10 %, and the descriptors must be the same ones.
struct Footprint {
    uint64_t settledKiB = 0, endKiB = 0;
    std::set<int> settledFds, endFds;

    void Settled()
    {
        settledKiB = ZephCommon::ResidentKiB();
        settledFds = ZephCommon::OpenDescriptors();
    }
    void End()
    {
        endKiB = ZephCommon::ResidentKiB();
        endFds = ZephCommon::OpenDescriptors();
    }
    double Growth() const { return (double(endKiB) - double(settledKiB)) / double(settledKiB); }

    // Empty when the checks held, else what failed.
    std::string Problem() const
    {
        if (settledKiB == 0 || endKiB == 0)
            return "cannot read the resident memory from /proc/self/statm";
        if (std::abs(Growth()) > kSoakMemoryTolerance)
            return "resident memory went from " + std::to_string(settledKiB) + " KiB to " + std::to_string(endKiB) +
                   " KiB";
        if (endFds != settledFds)
            return "open descriptors went from " + std::to_string(settledFds.size()) + " to " +
                   std::to_string(endFds.size());
        return "";
    }

    void Print(std::ostream& out, const char* side) const
    {
        out << std::fixed << std::setprecision(1) << "soak " << side << ":      resident " << settledKiB
            << " KiB after " << kSoakSettled << " frames, " << endKiB << " KiB at the end (" << std::showpos
            << 100 * Growth() << std::noshowpos << " %); " << endFds.size()
            << " descriptors throughout, all closed with the channel\n";
    }
};

// Checks a soak run's footprint and that releasing the channel closed everything it opened;
// empty when both held.
std::string SoakProblem(const Footprint& footprint, const std::set<int>& fdsBefore)
{
    std::string problem = footprint.Problem();
    if (problem.empty() && ZephCommon::OpenDescriptors() != fdsBefore)
        problem = "descriptors left open after the channel was released";
    return problem;
}

// ---- Process B -----------------------------------------------------------------------------

int RunPeer(const std::string& fromMain, const std::string& toMain, pid_t parent, unsigned long long crashAfter,
            unsigned long long soakFrames)
{
    // Never outlive A: its FIFOs and its answers are all this process is for.
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (getppid() != parent)
        return 1;

    const std::set<int> fdsBefore = ZephCommon::OpenDescriptors();
    Footprint footprint;
    unsigned long long answered = 0;
    {
        auto input = DataInputPipe::Create(fromMain, false);
        auto output = DataOutputPipe::Create(toMain, false);
        ZephCommon::FrameQueue frames;  // outlives the channel that calls it
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
            if (answered == crashAfter)
                raise(SIGKILL);
        }
        // In a soak run A reads with a worker too, and waits for this to end it.
        if (soakFrames != 0)
            channel->Write(nullptr, 0);
    }
    if (soakFrames == 0)
        return 0;
    std::string problem = SoakProblem(footprint, fdsBefore);
    if (answered != soakFrames)
        problem = std::to_string(answered) + " frames came of " + std::to_string(soakFrames);
    if (!problem.empty()) {
        std::cerr << "frame_exchange (peer): error: " << problem << std::endl;
        return 1;
    }
    footprint.Print(std::cout, "B");
    return 0;
}

// ---- Process A -----------------------------------------------------------------------------

pid_t StartPeer(const char* self, const Options& options)
{
    std::vector<std::string> args = {self,
                                     "--peer",
                                     g_fifos[0],
                                     g_fifos[1],
                                     std::to_string(getpid()),
                                     "--crash-after",
                                     std::to_string(options.crashPeerAfter),
                                     "--soak-frames",
                                     std::to_string(options.soak ? options.frames : 0)};
    if (options.verbose)
        args.push_back("--verbose");
    std::vector<char*> argv;
    for (auto& a : args)
        argv.push_back(&a[0]);
    argv.push_back(nullptr);
    pid_t pid = 0;
    const int error = posix_spawn(&pid, "/proc/self/exe", nullptr, nullptr, argv.data(), environ);
    if (error != 0)
        Fail(std::string("cannot start the peer process: ") + std::strerror(error));
    return pid;
}

// A frame A has sent, with what its answer must say.
struct Sent {
    unsigned long long length = 0;
    unsigned long long checksum = 0;
    Clock::time_point time;
};

// A's frames: random sizes and contents from the seed.
class FrameSource {
public:
    explicit FrameSource(const Options& options) : m_random(options.seed), m_sizes(options.minSize, options.maxSize) {}

    // Makes the next frame in `frame`, stamped as sent now.
    Sent Next(std::vector<unsigned char>& frame)
    {
        frame.resize(m_sizes(m_random));
        uint64_t state = m_random();
        ZephCommon::FillPattern(frame.data(), frame.size(), state);
        return {frame.size(), Checksum(frame.data(), frame.size()), Clock::now()};
    }

private:
    std::mt19937_64 m_random;
    std::uniform_int_distribution<unsigned long long> m_sizes;
};

void CheckAnswer(unsigned long long i, const Answer& answer, const Sent& sent)
{
    if (answer.length == sent.length && answer.checksum == sent.checksum)
        return;
    std::ostringstream text;
    text << "wrong answer to frame " << i << ": length " << answer.length << " checksum " << std::hex << answer.checksum
         << ", expected length " << std::dec << sent.length << " checksum " << std::hex << sent.checksum;
    Fail(text.str());
}

double Percentile(std::vector<double> values, double fraction)
{
    if (values.empty())
        return 0;
    const size_t k = std::min(values.size() - 1, static_cast<size_t>(fraction * values.size()));
    std::nth_element(values.begin(), values.begin() + k, values.end());
    return values[k];
}

// Every round trip counted in buckets of powers of two microseconds: bucket 0 holds times
// under 2 us, bucket k (k >= 1) those from 2^k to 2^(k+1) us. Exact for runs of any length,
// unlike the sampled percentiles.
class RoundTripHistogram {
public:
    void Add(double microseconds)
    {
        size_t k = 0;
        while (k + 1 < kBuckets && microseconds >= static_cast<double>(2ULL << k))
            ++k;
        ++counts_[k];
    }

    // One line per bucket from the first to the last non-empty one, with a bar scaled to the
    // largest bucket (any non-empty bucket gets at least one mark) and the count.
    void Print(std::ostream& out) const
    {
        size_t first = 0, last = kBuckets;
        unsigned long long largest = 0;
        for (size_t k = 0; k < kBuckets; ++k) {
            if (counts_[k] == 0)
                continue;
            if (last == kBuckets)
                first = k;
            last = k;
            largest = std::max(largest, counts_[k]);
        }
        if (last == kBuckets)
            return;
        for (size_t k = first; k <= last; ++k) {
            const unsigned long long low = k == 0 ? 0 : 1ULL << k;
            const size_t width = counts_[k] == 0 ? 0 : std::max<size_t>(1, counts_[k] * kBarWidth / largest);
            std::ostringstream range;
            range << low << "-" << (2ULL << k) << " us";
            out << "  " << std::setw(16) << std::left << range.str() << std::right << std::string(width, '#')
                << std::string(kBarWidth - width, ' ') << " " << counts_[k] << "\n";
        }
    }

private:
    static constexpr size_t kBuckets = 40;
    static constexpr size_t kBarWidth = 30;
    unsigned long long counts_[kBuckets] = {};
};

// What A measures of a run: bytes, every round trip in the histogram and at most kSamples of
// them, chosen uniformly (reservoir sampling), for the percentiles, so that a run of any length
// fits in memory. Long runs report progress once a second on stderr.
class Measurements {
public:
    explicit Measurements(const Options& options) : m_options(options)
    {
        m_roundTrips.reserve(std::min<unsigned long long>(options.frames, kSamples));
    }

    // Frame `i` (from 1) has just been answered correctly.
    void Answered(unsigned long long i, const Sent& sent)
    {
        const auto now = Clock::now();
        const double roundTrip = std::chrono::duration<double, std::micro>(now - sent.time).count();
        m_histogram.Add(roundTrip);
        if (m_roundTrips.size() < kSamples)
            m_roundTrips.push_back(roundTrip);
        else if (const unsigned long long slot =
                     std::uniform_int_distribution<unsigned long long>(0, i - 1)(m_sampling);
                 slot < kSamples)
            m_roundTrips[slot] = roundTrip;
        m_bytes += sent.length;

        if (now - m_lastProgress >= std::chrono::seconds(1)) {
            m_lastProgress = now;
            std::cerr << "progress: " << i << "/" << m_options.frames << " frames (" << (100 * i / m_options.frames)
                      << "%), " << std::fixed << std::setprecision(1) << m_bytes / 1e6 / Seconds(now) << " MB/s"
                      << std::endl;
        }
    }

    void Finish() { m_seconds = Seconds(Clock::now()); }

    void Print(std::ostream& out) const
    {
        out << std::fixed << std::setprecision(1) << "frames:      " << m_options.frames << " (" << m_options.minSize
            << " to " << m_options.maxSize << " bytes, seed " << m_options.seed << "), all answers checked"
            << (m_options.soak ? " in order, many frames on their way at once" : "") << "\n"
            << "bytes:       " << m_bytes << "\n"
            << std::setprecision(3) << "time:        " << m_seconds << " s\n"
            << std::setprecision(1) << "throughput:  " << m_bytes / 1e6 / m_seconds << " MB/s\n"
            << "round trip:  p50 " << Percentile(m_roundTrips, 0.50) << " us, p99 " << Percentile(m_roundTrips, 0.99)
            << " us\n";
        m_histogram.Print(out);
    }

private:
    static constexpr size_t kSamples = 1 << 20;
    double Seconds(Clock::time_point now) const { return std::chrono::duration<double>(now - m_start).count(); }

    const Options& m_options;
    std::vector<double> m_roundTrips;
    std::minstd_rand m_sampling{1};
    RoundTripHistogram m_histogram;
    unsigned long long m_bytes = 0;
    const Clock::time_point m_start = Clock::now();
    Clock::time_point m_lastProgress = m_start;
    double m_seconds = 0;
};

// One frame at a time: each answer comes before the next frame goes.
void Exchange(IDataChannel& channel, const Options& options, Measurements& measured)
{
    FrameSource source(options);
    std::vector<unsigned char> frame;
    for (unsigned long long i = 1; i <= options.frames; ++i) {
        const Sent sent = source.Next(frame);
        if (channel.Write(frame.data(), frame.size()) != frame.size())
            FailExchange("frame " + std::to_string(i) + " could not be written in full");
        Answer answer{};
        if (channel.ReadHeader() != sizeof answer ||
            channel.Read(reinterpret_cast<unsigned char*>(&answer), sizeof answer) != sizeof answer)
            FailExchange("no answer to frame " + std::to_string(i));
        CheckAnswer(i, answer, sent);
        measured.Answered(i, sent);
    }
}

// The soak: a thread keeps sending while this one checks the answers in order, so a frame
// lost, doubled or reordered on the way shows as an answer that does not match its frame.
void Soak(IDataChannel& channel, ZephCommon::FrameQueue& answers, const Options& options, Measurements& measured,
          Footprint& footprint)
{
    std::mutex mutex;
    std::deque<Sent> inFlight;
    // Out here, so that it is still there when the end is measured.
    std::vector<unsigned char> frame;
    std::thread sender([&] {
        FrameSource source(options);
        for (unsigned long long i = 1; i <= options.frames; ++i) {
            const Sent sent = source.Next(frame);
            {
                std::lock_guard<std::mutex> lock(mutex);
                inFlight.push_back(sent);
            }
            if (channel.Write(frame.data(), frame.size()) != frame.size())
                FailExchange("frame " + std::to_string(i) + " could not be written in full");
        }
    });
    for (unsigned long long i = 1; i <= options.frames; ++i) {
        Answer answer{};
        if (answers.Next(channel) != sizeof answer ||
            channel.Read(reinterpret_cast<unsigned char*>(&answer), sizeof answer) != sizeof answer)
            FailExchange("no answer to frame " + std::to_string(i));
        Sent sent;
        {
            std::lock_guard<std::mutex> lock(mutex);
            if (inFlight.empty())
                Fail("an answer came before frame " + std::to_string(i) + " was sent");
            sent = inFlight.front();
            inFlight.pop_front();
        }
        CheckAnswer(i, answer, sent);
        measured.Answered(i, sent);
        if (i == kSoakSettled)
            footprint.Settled();
    }
    sender.join();
    footprint.End();
}

int RunMain(const char* self, const Options& options)
{
    for (int i = 0; i < 2; ++i) {
        const std::string name = GeneratePipeName();
        if (name.size() >= sizeof g_fifos[i])
            Fail("pipe name too long: " + name);
        std::strcpy(g_fifos[i], name.c_str());
    }
    struct sigaction action {};
    action.sa_handler = OnTerminationSignal;
    sigemptyset(&action.sa_mask);
    for (int s : {SIGINT, SIGTERM, SIGHUP})
        sigaction(s, &action, nullptr);
    for (auto& name : g_fifos)
        if (mkfifo(name, 0600) != 0)
            Fail(std::string("cannot create the FIFO ") + name + ": " + std::strerror(errno));

    const pid_t peer = StartPeer(self, options);
    g_peer = peer;
    int peerStatus = 0;
    std::thread watcher([&] {
        while (waitpid(peer, &peerStatus, 0) < 0 && errno == EINTR) {
        }
        g_peer = 0;
        if (!g_finishing)
            Fail("the peer process ended before the exchange was over (" + DescribeWaitStatus(peerStatus) + ")");
    });

    const std::set<int> fdsBefore = ZephCommon::OpenDescriptors();
    Measurements measured(options);
    Footprint footprint;
    {
        auto output = DataOutputPipe::Create(g_fifos[0], false);
        auto input = DataInputPipe::Create(g_fifos[1], false);
        ZephCommon::FrameQueue answers;  // outlives the channel that calls it
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
            FailExchange("the peer did not report ready");

        if (options.soak)
            Soak(*channel, answers, options, measured, footprint);
        else
            Exchange(*channel, options, measured);
        measured.Finish();

        // An empty frame ends B's worker, and with it B. In a soak run B's empty frame back ends
        // our worker; nothing may come before it.
        g_finishing = true;
        channel->Write(nullptr, 0);
        if (options.soak && answers.Next(*channel) != 0)
            Fail("an answer came for a frame never sent");
    }
    watcher.join();
    RemoveFifos();
    if (!WIFEXITED(peerStatus) || WEXITSTATUS(peerStatus) != 0) {
        std::cerr << "frame_exchange: error: the peer process failed (" << DescribeWaitStatus(peerStatus) << ")"
                  << std::endl;
        return 1;
    }
    measured.Print(std::cout);
    if (options.soak) {
        if (const std::string problem = SoakProblem(footprint, fdsBefore); !problem.empty())
            Fail(problem);
        footprint.Print(std::cout, "A");
    }
    return 0;
}

int Usage(const std::string& problem)
{
    std::cerr << "frame_exchange: " << problem << "\n" << kUsage;
    return 2;
}

}  // namespace

int main(int argc, char** argv)
{
    google::InitGoogleLogging(argv[0]);
    FLAGS_logtostderr = true;
    FLAGS_minloglevel = google::GLOG_WARNING;

    std::vector<std::string> args(argv + 1, argv + argc);
    try {
        if (!args.empty() && args[0] == "--peer") {
            unsigned long long parent = 0, crashAfter = 0, soakFrames = 0;
            if (args.size() < 8 || !ParseNumber(args[3], parent) || args[4] != "--crash-after" ||
                !ParseNumber(args[5], crashAfter) || args[6] != "--soak-frames" || !ParseNumber(args[7], soakFrames))
                return Usage("bad peer-mode arguments");
            if (args.size() > 8 && args[8] == "--verbose")
                FLAGS_minloglevel = google::GLOG_INFO;
            return RunPeer(args[1], args[2], static_cast<pid_t>(parent), crashAfter, soakFrames);
        }

        Options options;
        for (size_t i = 0; i < args.size(); ++i) {
            std::string name = args[i], value;
            const size_t equals = name.find('=');
            const bool inlineValue = name.rfind("--", 0) == 0 && equals != std::string::npos;
            if (inlineValue) {
                value = name.substr(equals + 1);
                name = name.substr(0, equals);
            }
            if (name == "-h" || name == "--help") {
                std::cout << kUsage;
                return 0;
            }
            if (name == "-v" || name == "--verbose" || name == "--soak") {
                if (inlineValue)
                    return Usage("option " + name + " takes no value");
                (name == "--soak" ? options.soak : options.verbose) = true;
                continue;
            }
            unsigned long long* target = nullptr;
            if (name == "-n" || name == "--frames")
                target = &options.frames;
            else if (name == "--min-size")
                target = &options.minSize;
            else if (name == "--max-size")
                target = &options.maxSize;
            else if (name == "--seed")
                target = &options.seed;
            else if (name == "--crash-peer-after")
                target = &options.crashPeerAfter;
            else
                return Usage("unknown option '" + args[i] + "'");
            if (!inlineValue) {
                if (i + 1 == args.size())
                    return Usage("option " + name + " needs a value");
                value = args[++i];
            }
            if (!ParseNumber(value, *target))
                return Usage("bad number '" + value + "' for " + name);
        }
        if (options.frames < 1 || options.frames > kMaxFrames)
            return Usage("--frames must be between 1 and " + std::to_string(kMaxFrames));
        if (options.minSize < 1 || options.maxSize > kMaxFrameSize)
            return Usage("frame sizes must be between 1 and " + std::to_string(kMaxFrameSize) +
                         " (an empty frame would end the peer)");
        if (options.minSize > options.maxSize)
            return Usage("--min-size is larger than --max-size");
        if (options.soak && options.frames <= kSoakSettled)
            return Usage("--soak needs more than " + std::to_string(kSoakSettled) + " frames");
        if (options.verbose)
            FLAGS_minloglevel = google::GLOG_INFO;
        return RunMain(argv[0], options);
    } catch (const std::exception& e) {
        // Opening a pipe or generating a name failed; the report carries the details.
        const std::string report = Korvel::DescribeException(e);
        if (!args.empty() && args[0] == "--peer") {
            std::cerr << "frame_exchange (peer): error: " << report << std::endl;
            return 1;
        }
        Fail(report);
    }
}
