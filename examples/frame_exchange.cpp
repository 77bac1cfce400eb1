// frame_exchange: two processes exchange length-prefixed frames through CommunicationChannel
// over a pair of FIFOs, the way the application family's processes talk to each other.
//
// Process A (this program as started) generates two pipe names, creates the FIFOs and starts
// process B (the same program in peer mode). A opens an output pipe on the first FIFO and an
// input pipe on the second; B opens them in the same order from its side. B runs its channel
// with the worker and a handler that hands each frame to its main thread, which answers each
// frame with its length and checksum. A sends random frames, checks every answer, measures
// round trips, removes the FIFOs and prints a summary.
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iomanip>
#include <iostream>
#include <random>
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

#include "FrameQueue.h"
#include "IO/ZephIO.h"

extern char** environ;

using namespace Korvel::Core;

namespace {

const char kUsage[] =
    "usage: frame_exchange [options]\n"
    "  -n, --frames N          frames to send (default 5000)\n"
    "      --min-size BYTES    smallest frame payload (default 1)\n"
    "      --max-size BYTES    largest frame payload (default 64k)\n"
    "      --seed N            seed for frame sizes and contents (default 1)\n"
    "  -v, --verbose           log every pipe system call (glog INFO)\n"
    "      --crash-peer-after N  make the peer die abruptly after N answers (shows the error path)\n"
    "  -h, --help              show this text\n"
    "Sizes take an optional k or m suffix (KiB, MiB); payloads are 1 byte to 256m.\n";

constexpr unsigned long long kMaxFrameSize = 256ULL << 20;
constexpr unsigned long long kMaxFrames = 1000000000ULL;
const unsigned char kReady[] = {'r', 'e', 'a', 'd', 'y'};

struct Options {
    unsigned long long frames = 5000;
    unsigned long long minSize = 1;
    unsigned long long maxSize = 64 << 10;
    unsigned long long seed = 1;
    unsigned long long crashPeerAfter = 0;
    bool verbose = false;
};

// B's answer to one frame.
struct Answer {
    unsigned long long length;
    unsigned long long checksum;
};

// Decimal digits with an optional k/m suffix; rejects signs, junk and overflow.
bool ParseNumber(const std::string& text, unsigned long long& value)
{
    if (text.empty() || text[0] < '0' || text[0] > '9')
        return false;
    size_t used = 0;
    unsigned long long n = 0;
    try {
        n = std::stoull(text, &used, 10);
    } catch (const std::exception&) {
        return false;
    }
    unsigned shift = 0;
    if (used + 1 == text.size() && (text[used] == 'k' || text[used] == 'K'))
        shift = 10;
    else if (used + 1 == text.size() && (text[used] == 'm' || text[used] == 'M'))
        shift = 20;
    else if (used != text.size())
        return false;
    if (shift != 0 && n > (ULLONG_MAX >> shift))
        return false;
    value = n << shift;
    return true;
}

// A 64-bit checksum over 8-byte words (FNV-1a style with extra mixing), fast enough not to
// dominate the measurements.
unsigned long long Checksum(const unsigned char* data, size_t size)
{
    unsigned long long h = 0xcbf29ce484222325ULL ^ size;
    size_t i = 0;
    for (; i + 8 <= size; i += 8) {
        unsigned long long word;
        std::memcpy(&word, data + i, 8);
        h = (h ^ word) * 0x100000001b3ULL;
        h ^= h >> 29;
    }
    for (; i < size; ++i)
        h = (h ^ data[i]) * 0x100000001b3ULL;
    return h;
}

void FillRandom(std::vector<unsigned char>& buffer, unsigned long long state)
{
    size_t i = 0;
    for (; i < buffer.size(); i += 8) {
        // splitmix64
        unsigned long long z = (state += 0x9e3779b97f4a7c15ULL);
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
        z ^= z >> 31;
        std::memcpy(buffer.data() + i, &z, std::min<size_t>(8, buffer.size() - i));
    }
}

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

// ---- Process B -----------------------------------------------------------------------------

int RunPeer(const std::string& fromMain, const std::string& toMain, pid_t parent, unsigned long long crashAfter)
{
    // Never outlive A: its FIFOs and its answers are all this process is for.
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (getppid() != parent)
        return 1;

    auto input = DataInputPipe::Create(fromMain, false);
    auto output = DataOutputPipe::Create(toMain, false);
    ZephExamples::FrameQueue frames;  // outlives the channel that calls it
    auto channel = CommunicationChannel::Create(input, output, true);
    channel->SetDataAvailableHandler(&frames);
    // Only now may A send: a frame arriving before the handler would go unannounced.
    channel->Write(kReady, sizeof kReady);

    std::vector<unsigned char> frame;
    unsigned long long answered = 0;
    while (const unsigned long long size = frames.Next(*channel)) {
        frame.resize(size);
        channel->Read(frame.data(), size);
        const Answer answer{size, Checksum(frame.data(), frame.size())};
        if (channel->Write(reinterpret_cast<const unsigned char*>(&answer), sizeof answer) != sizeof answer) {
            std::cerr << "frame_exchange (peer): the answer to frame " << answered + 1 << " could not be written"
                      << std::endl;
            return 1;
        }
        if (++answered == crashAfter)
            raise(SIGKILL);
    }
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
                                     std::to_string(options.crashPeerAfter)};
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

    auto output = DataOutputPipe::Create(g_fifos[0], false);
    auto input = DataInputPipe::Create(g_fifos[1], false);
    auto channel = CommunicationChannel::Create(input, output, false);

    unsigned char ready[sizeof kReady];
    if (channel->ReadHeader() != sizeof kReady || channel->Read(ready, sizeof ready) != sizeof ready ||
        std::memcmp(ready, kReady, sizeof ready) != 0)
        FailExchange("the peer did not report ready");

    std::mt19937_64 random(options.seed);
    std::uniform_int_distribution<unsigned long long> sizes(options.minSize, options.maxSize);
    std::vector<unsigned char> frame;
    // Round trips of at most kSamples frames, chosen uniformly (reservoir sampling), so that
    // the percentiles of a run of any length fit in memory.
    constexpr size_t kSamples = 1 << 20;
    std::vector<double> roundTrips;
    roundTrips.reserve(std::min<unsigned long long>(options.frames, kSamples));
    std::minstd_rand sampling(1);
    RoundTripHistogram histogram;
    unsigned long long bytes = 0;
    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    auto lastProgress = start;

    for (unsigned long long i = 1; i <= options.frames; ++i) {
        frame.resize(sizes(random));
        FillRandom(frame, random());
        const unsigned long long sum = Checksum(frame.data(), frame.size());

        const auto sent = Clock::now();
        if (channel->Write(frame.data(), frame.size()) != frame.size())
            FailExchange("frame " + std::to_string(i) + " could not be written in full");
        Answer answer{};
        if (channel->ReadHeader() != sizeof answer ||
            channel->Read(reinterpret_cast<unsigned char*>(&answer), sizeof answer) != sizeof answer)
            FailExchange("no answer to frame " + std::to_string(i));
        const auto answered = Clock::now();

        if (answer.length != frame.size() || answer.checksum != sum) {
            std::ostringstream text;
            text << "wrong answer to frame " << i << ": length " << answer.length << " checksum " << std::hex
                 << answer.checksum << ", expected length " << std::dec << frame.size() << " checksum " << std::hex
                 << sum;
            Fail(text.str());
        }
        const double roundTrip = std::chrono::duration<double, std::micro>(answered - sent).count();
        histogram.Add(roundTrip);
        if (roundTrips.size() < kSamples)
            roundTrips.push_back(roundTrip);
        else if (const unsigned long long slot = std::uniform_int_distribution<unsigned long long>(0, i - 1)(sampling);
                 slot < kSamples)
            roundTrips[slot] = roundTrip;
        bytes += frame.size();

        if (answered - lastProgress >= std::chrono::seconds(1)) {
            lastProgress = answered;
            const double seconds = std::chrono::duration<double>(answered - start).count();
            std::cerr << "progress: " << i << "/" << options.frames << " frames (" << (100 * i / options.frames)
                      << "%), " << std::fixed << std::setprecision(1) << bytes / 1e6 / seconds << " MB/s" << std::endl;
        }
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();

    // An empty frame ends B's worker, and with it B.
    g_finishing = true;
    channel->Write(nullptr, 0);
    channel.reset();
    input.reset();
    output.reset();
    watcher.join();
    RemoveFifos();
    if (!WIFEXITED(peerStatus) || WEXITSTATUS(peerStatus) != 0) {
        std::cerr << "frame_exchange: error: the peer process failed (" << DescribeWaitStatus(peerStatus) << ")"
                  << std::endl;
        return 1;
    }

    std::cout << std::fixed << std::setprecision(1) << "frames:      " << options.frames << " (" << options.minSize
              << " to " << options.maxSize << " bytes, seed " << options.seed << "), all answers checked\n"
              << "bytes:       " << bytes << "\n"
              << std::setprecision(3) << "time:        " << seconds << " s\n"
              << std::setprecision(1) << "throughput:  " << bytes / 1e6 / seconds << " MB/s\n"
              << "round trip:  p50 " << Percentile(roundTrips, 0.50) << " us, p99 " << Percentile(roundTrips, 0.99)
              << " us\n";
    histogram.Print(std::cout);
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
            unsigned long long parent = 0, crashAfter = 0;
            if (args.size() < 6 || !ParseNumber(args[3], parent) || args[4] != "--crash-after" ||
                !ParseNumber(args[5], crashAfter))
                return Usage("bad peer-mode arguments");
            if (args.size() > 6 && args[6] == "--verbose")
                FLAGS_minloglevel = google::GLOG_INFO;
            return RunPeer(args[1], args[2], static_cast<pid_t>(parent), crashAfter);
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
            if (name == "-v" || name == "--verbose") {
                if (inlineValue)
                    return Usage("option " + name + " takes no value");
                options.verbose = true;
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
        if (options.verbose)
            FLAGS_minloglevel = google::GLOG_INFO;
        return RunMain(argv[0], options);
    } catch (const std::exception& e) {
        // Opening a pipe or generating a name failed; the report carries the details.
        const std::string report = boost::diagnostic_information(e);
        if (!args.empty() && args[0] == "--peer") {
            std::cerr << "frame_exchange (peer): error: " << report << std::endl;
            return 1;
        }
        Fail(report);
    }
}
