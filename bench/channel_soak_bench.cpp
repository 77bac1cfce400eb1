// Soak run of the communication channel between two processes over a FIFO pair.
//
// Process A sends frames of random payload sizes (0 to --max-size bytes, 1 MiB by default),
// each led by a 16-byte header with its index and a checksum of the payload. Process B, a
// forked child, reads them through a channel with a worker, checks index and checksum (nothing
// lost, duplicated, reordered or damaged) and acknowledges each with its index and the
// checksum it computed; A checks every acknowledgement against what it sent. Both processes
// run their channel with a worker.
//
// Each process records its resident memory and open descriptors after the first 1000 frames
// and at the end: memory must stay within 10 % and descriptors must not change; once the
// channel and its pipes are released, descriptors are back to what they were before.
//
// Usage: channel_soak_bench [--frames N] [--max-size BYTES] [--seed N]
//   default 100000 frames (about 50 GiB each way: minutes); CI runs a few thousand.
// Exit status 0 when every check held.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <dirent.h>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <glog/logging.h>

#include "FrameQueue.h"
#include "IO/ZephIO.h"

using namespace Korvel::Core;
using Clock = std::chrono::steady_clock;

namespace {

constexpr uint64_t kMeasureAfter = 1000;
constexpr double kMemoryTolerance = 0.10;
constexpr size_t kHeader = 16;  // index, checksum

struct Options {
    uint64_t frames = 100000;
    uint64_t maxSize = 1 << 20;
    uint64_t seed = 1;
};

// Set in A: what a failure there must not leave behind.
pid_t g_receiver = -1;
std::string g_fifoDir;

[[noreturn]] void Fail(const char* side, const std::string& what)
{
    std::fprintf(stderr, "channel_soak_bench (%s): %s\n", side, what.c_str());
    std::fflush(stderr);
    if (g_receiver > 0) {
        kill(g_receiver, SIGKILL);
        waitpid(g_receiver, nullptr, 0);
    }
    if (!g_fifoDir.empty()) {
        unlink((g_fifoDir + "/to-b").c_str());
        unlink((g_fifoDir + "/to-a").c_str());
        rmdir(g_fifoDir.c_str());
    }
    std::_Exit(1);
}

uint64_t Checksum(const unsigned char* p, size_t n)
{
    uint64_t h = 0x9e3779b97f4a7c15ull ^ n;
    size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        uint64_t word;
        std::memcpy(&word, p + i, 8);
        h = (h ^ word) * 0xff51afd7ed558ccdull;
        h ^= h >> 32;
    }
    for (; i < n; ++i)
        h = (h ^ p[i]) * 0xc4ceb9fe1a85ec53ull;
    return h;
}

uint64_t ResidentKiB()
{
    FILE* statm = std::fopen("/proc/self/statm", "r");
    unsigned long long pages = 0, resident = 0;
    if (!statm || std::fscanf(statm, "%llu %llu", &pages, &resident) != 2)
        Fail("?", "cannot read /proc/self/statm");
    std::fclose(statm);
    return resident * static_cast<uint64_t>(sysconf(_SC_PAGESIZE)) / 1024;
}

int OpenDescriptors()
{
    DIR* dir = opendir("/proc/self/fd");
    if (!dir)
        Fail("?", "cannot list /proc/self/fd");
    int n = 0;
    while (const dirent* entry = readdir(dir))
        n += entry->d_name[0] != '.';
    closedir(dir);
    return n - 1;  // the directory's own descriptor
}

// Memory and descriptors after the first frames and at the end, checked at the end.
struct Usage {
    uint64_t rssEarly = 0, rssEnd = 0;
    int fdsEarly = 0, fdsEnd = 0;

    void Early()
    {
        rssEarly = ResidentKiB();
        fdsEarly = OpenDescriptors();
    }
    void End()
    {
        rssEnd = ResidentKiB();
        fdsEnd = OpenDescriptors();
    }
    // Empty when the checks held, else what failed.
    std::string Check(uint64_t frames) const
    {
        if (frames <= kMeasureAfter)
            return "";
        const double growth = (double(rssEnd) - double(rssEarly)) / double(rssEarly);
        if (std::fabs(growth) > kMemoryTolerance)
            return "resident memory went from " + std::to_string(rssEarly) + " KiB to " + std::to_string(rssEnd) +
                   " KiB";
        if (fdsEnd != fdsEarly)
            return "descriptors went from " + std::to_string(fdsEarly) + " to " + std::to_string(fdsEnd);
        return "";
    }
    void Print(const char* side, uint64_t frames) const
    {
        if (frames <= kMeasureAfter) {
            std::printf("%s: resident %" PRIu64 " KiB at the end (no check: %" PRIu64 " frames or fewer)\n", side,
                        rssEnd, kMeasureAfter);
            return;
        }
        std::printf("%s: resident %" PRIu64 " KiB after %" PRIu64 " frames, %" PRIu64
                    " KiB at the end (%+.1f %%); "
                    "descriptors %d then %d\n",
                    side, rssEarly, kMeasureAfter, rssEnd, 100.0 * (double(rssEnd) - double(rssEarly)) / rssEarly,
                    fdsEarly, fdsEnd);
    }
};

void PutHeader(unsigned char* frame, uint64_t index, uint64_t checksum)
{
    std::memcpy(frame, &index, 8);
    std::memcpy(frame + 8, &checksum, 8);
}

void GetHeader(const unsigned char* frame, uint64_t& index, uint64_t& checksum)
{
    std::memcpy(&index, frame, 8);
    std::memcpy(&checksum, frame + 8, 8);
}

// Process B: checks every frame and acknowledges it; ends on the empty frame.
int Receiver(const std::string& toB, const std::string& toA, const Options& options)
{
    const int fdsBefore = OpenDescriptors();
    Usage usage;
    uint64_t received = 0;
    {
        auto input = DataInputPipe::Create(toB, false);
        auto output = DataOutputPipe::Create(toA, false);
        ZephExamples::FrameQueue frames;
        auto channel = CommunicationChannel::Create(input, output, true);
        channel->SetDataAvailableHandler(&frames);
        unsigned char go[2];
        if (!frames.ReadFirst(*channel, go, sizeof go))
            Fail("B", "no go frame");

        std::vector<unsigned char> frame;
        unsigned char ack[kHeader];
        while (const unsigned long long size = frames.Next(*channel)) {
            frame.resize(size);
            if (channel->Read(frame.data(), size) != size || size < kHeader)
                Fail("B", "short frame " + std::to_string(received));
            uint64_t index = 0, checksum = 0;
            GetHeader(frame.data(), index, checksum);
            if (index != received)
                Fail("B", "frame " + std::to_string(index) + " came where " + std::to_string(received) + " was due");
            const uint64_t actual = Checksum(frame.data() + kHeader, size - kHeader);
            if (actual != checksum)
                Fail("B", "frame " + std::to_string(index) + " damaged");
            // Measured before the acknowledgement: the last one makes A end our worker.
            if (++received == kMeasureAfter)
                usage.Early();
            if (received == options.frames)
                usage.End();
            PutHeader(ack, index, actual);
            if (channel->Write(ack, sizeof ack) != sizeof ack)
                Fail("B", "acknowledgement not sent");
        }
    }
    if (received != options.frames)
        Fail("B", "received " + std::to_string(received) + " frames of " + std::to_string(options.frames));
    usage.Print("B", received);
    std::fflush(stdout);
    if (const std::string problem = usage.Check(received); !problem.empty())
        Fail("B", problem);
    if (OpenDescriptors() != fdsBefore)
        Fail("B", "descriptors left open after the channel was released");
    return 0;
}

// Process A: sends the frames on one thread and checks the acknowledgements on this one.
int Sender(const std::string& toB, const std::string& toA, const Options& options, pid_t receiver)
{
    const int fdsBefore = OpenDescriptors();
    Usage usage;
    uint64_t bytes = 0;
    const auto start = Clock::now();
    {
        auto output = DataOutputPipe::Create(toB, false);
        auto input = DataInputPipe::Create(toA, false);
        ZephExamples::FrameQueue frames;
        auto channel = CommunicationChannel::Create(input, output, true);
        channel->SetDataAvailableHandler(&frames);
        const unsigned char go[] = {'g', 'o'};
        channel->Write(go, sizeof go);

        std::mutex mutex;
        std::deque<std::pair<uint64_t, uint64_t>> inFlight;  // index, checksum
        // Outside the writer, so that they are still there when the end is measured.
        std::vector<unsigned char> pool(2 * options.maxSize + 8);
        std::vector<unsigned char> frame;
        std::thread writer([&] {
            std::mt19937_64 random(options.seed);
            for (size_t i = 0; i < pool.size(); i += 8) {
                const uint64_t word = random();
                std::memcpy(pool.data() + i, &word, std::min<size_t>(8, pool.size() - i));
            }
            std::uniform_int_distribution<uint64_t> sizes(0, options.maxSize);
            std::uniform_int_distribution<uint64_t> offsets(0, options.maxSize);
            for (uint64_t i = 0; i < options.frames; ++i) {
                const uint64_t size = sizes(random);
                frame.resize(kHeader + size);
                std::memcpy(frame.data() + kHeader, pool.data() + offsets(random), size);
                const uint64_t checksum = Checksum(frame.data() + kHeader, size);
                PutHeader(frame.data(), i, checksum);
                {
                    std::lock_guard<std::mutex> lock(mutex);
                    inFlight.emplace_back(i, checksum);
                }
                if (channel->Write(frame.data(), frame.size()) != frame.size())
                    Fail("A", "frame " + std::to_string(i) + " not sent");
                bytes += frame.size();
            }
        });

        std::vector<unsigned char> ack(kHeader);
        for (uint64_t acked = 0; acked < options.frames; ++acked) {
            const unsigned long long size = frames.Next(*channel);
            if (size != kHeader || channel->Read(ack.data(), size) != size)
                Fail("A", "acknowledgement " + std::to_string(acked) + " missing");
            uint64_t index = 0, checksum = 0;
            GetHeader(ack.data(), index, checksum);
            std::pair<uint64_t, uint64_t> sent;
            {
                std::lock_guard<std::mutex> lock(mutex);
                if (inFlight.empty())
                    Fail("A", "acknowledgement for a frame not sent yet");
                sent = inFlight.front();
                inFlight.pop_front();
            }
            if (index != sent.first || checksum != sent.second)
                Fail("A", "acknowledgement " + std::to_string(acked) + " does not match frame " +
                              std::to_string(sent.first));
            if (acked + 1 == kMeasureAfter)
                usage.Early();
            if ((acked + 1) % 10000 == 0)
                std::fprintf(stderr, "%" PRIu64 " frames\n", acked + 1);
        }
        writer.join();
        usage.End();
        // Only now, so that B measures its end with its worker still running.
        channel->Write(nullptr, 0);  // ends B's worker
        int status = 0;
        if (waitpid(receiver, &status, 0) != receiver || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
            Fail("A", "process B failed");
        g_receiver = -1;
    }  // B has closed its ends: our worker has met end of stream, the channel ends at once
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();

    std::printf("A: %" PRIu64 " frames, payloads 0..%" PRIu64
                " bytes, %.2f GiB in %.1f s (%.1f MiB/s), "
                "all acknowledged in order with matching checksums\n",
                options.frames, options.maxSize, bytes / double(1 << 30), seconds, bytes / double(1 << 20) / seconds);
    usage.Print("A", options.frames);
    if (const std::string problem = usage.Check(options.frames); !problem.empty())
        Fail("A", problem);
    if (OpenDescriptors() != fdsBefore)
        Fail("A", "descriptors left open after the channel was released");
    return 0;
}

bool ParseNumber(const char* text, uint64_t& value)
{
    char* end = nullptr;
    value = std::strtoull(text, &end, 10);
    return end != text && *end == '\0';
}

}  // namespace

int main(int argc, char** argv)
{
    // Each side meets end of stream when the other closes: a WARNING that is expected here.
    FLAGS_minloglevel = google::GLOG_ERROR;
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        uint64_t* target = arg == "--frames"     ? &options.frames
                           : arg == "--max-size" ? &options.maxSize
                           : arg == "--seed"     ? &options.seed
                                                 : nullptr;
        if (!target || i + 1 >= argc || !ParseNumber(argv[++i], *target) || options.frames == 0) {
            std::fprintf(stderr, "usage: channel_soak_bench [--frames N] [--max-size BYTES] [--seed N]\n");
            return 2;
        }
    }

    char pattern[] = "/tmp/channel-soak-XXXXXX";
    if (!mkdtemp(pattern))
        Fail("A", "mkdtemp");
    const std::string dir = g_fifoDir = pattern;
    const std::string toB = dir + "/to-b";
    const std::string toA = dir + "/to-a";
    if (mkfifo(toB.c_str(), 0600) != 0 || mkfifo(toA.c_str(), 0600) != 0)
        Fail("A", "mkfifo");

    std::fflush(stdout);
    const pid_t pid = fork();  // before any thread exists in this process
    if (pid < 0)
        Fail("A", "fork");
    if (pid == 0) {
        g_fifoDir.clear();  // the sender's to remove
        _exit(Receiver(toB, toA, options));
    }
    g_receiver = pid;
    const int status = Sender(toB, toA, options, pid);
    unlink(toB.c_str());
    unlink(toA.c_str());
    rmdir(dir.c_str());
    return status;
}
