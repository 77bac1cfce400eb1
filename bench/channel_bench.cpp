// CommunicationChannel between two processes over FIFOs, against plain FIFO loops that make
// the same system calls, measured in the same run:
//   round trip  A sends a 64-byte frame, B (channel with worker) answers with the same bytes;
//               plain: write 8 + write 64, read 8 + read 64 on each side; and the same with a
//               hand-rolled reader thread in B, which isolates the cost of the thread hop.
//               Two channel variants: B's main thread waits in Read itself, or learns of each
//               frame through its handler (FrameQueue) first. CPU time of both processes too.
//   one way     A sends 1 MiB frames, B reads them (channel with worker); plain: an 8-byte
//               write, then 1024-byte writes, and the same reads.
//   peak memory a receiving process whose peer announces a 2^30-byte frame and sends four
//               bytes, with a 1 MiB frame bound and without.
// INFO logging is off, as in production. Each variant runs several times, alternating with its
// baseline; the median is reported. Usage: channel_bench [round-trips] [mebibytes] [repeats]
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <stdexcept>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <glog/logging.h>

#include "BenchRow.h"
#include "common/FrameQueue.h"
#include "IO/ZephIO.h"

using namespace Korvel::Core;
using Clock = std::chrono::steady_clock;

namespace {

constexpr size_t kSmall = 64;
constexpr size_t kLarge = 1 << 20;
constexpr size_t kChunk = 1024;  // the pipes' per-system-call limit

[[noreturn]] void Die(const std::string& what)
{
    std::fprintf(stderr, "channel_bench: %s: %s\n", what.c_str(), std::strerror(errno));
    std::exit(1);
}

// ---- plain FIFO side, the same calls the pipes make ----------------------------------------

void ReadFull(int fd, void* buffer, size_t size)
{
    auto* p = static_cast<unsigned char*>(buffer);
    for (size_t done = 0; done < size;) {
        const ssize_t n = read(fd, p + done, std::min(kChunk, size - done));
        if (n <= 0)
            Die("read");
        done += static_cast<size_t>(n);
    }
}

void WriteFull(int fd, const void* data, size_t size)
{
    const auto* p = static_cast<const unsigned char*>(data);
    for (size_t done = 0; done < size;) {
        const ssize_t n = write(fd, p + done, std::min(kChunk, size - done));
        if (n <= 0)
            Die("write");
        done += static_cast<size_t>(n);
    }
}

void PlainSend(int fd, const unsigned char* data, unsigned long long size)
{
    WriteFull(fd, &size, sizeof size);
    WriteFull(fd, data, size);
}

unsigned long long PlainReceive(int fd, std::vector<unsigned char>& buffer)
{
    unsigned long long size = 0;
    ReadFull(fd, &size, sizeof size);
    buffer.resize(size);
    ReadFull(fd, buffer.data(), size);
    return size;
}

// ---- two processes over a FIFO pair --------------------------------------------------------

struct FifoPair {
    std::string dir, toB, toA;
    FifoPair()
    {
        char pattern[] = "/tmp/channel-bench-XXXXXX";
        if (!mkdtemp(pattern))
            Die("mkdtemp");
        dir = pattern;
        toB = dir + "/to-b";
        toA = dir + "/to-a";
        if (mkfifo(toB.c_str(), 0600) != 0 || mkfifo(toA.c_str(), 0600) != 0)
            Die("mkfifo");
    }
    ~FifoPair()
    {
        unlink(toB.c_str());
        unlink(toA.c_str());
        rmdir(dir.c_str());
    }
};

// Wall-clock seconds that side A reports, and the CPU seconds both processes used.
struct Run {
    double seconds;
    double cpuSeconds;
};

double CpuSeconds(const struct rusage& usage)
{
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double ProcessCpuSeconds()
{
    struct rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return CpuSeconds(usage);
}

// Runs `b` in a child process and `a` here.
Run RunPair(const std::function<double(const FifoPair&)>& a, const std::function<void(const FifoPair&)>& b)
{
    FifoPair fifos;
    const pid_t pid = fork();
    if (pid < 0)
        Die("fork");
    if (pid == 0) {
        b(fifos);
        _exit(0);
    }
    const double cpuBefore = ProcessCpuSeconds();
    const double seconds = a(fifos);
    const double cpuA = ProcessCpuSeconds() - cpuBefore;
    int status = 0;
    struct rusage usage {};
    if (wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        Die("peer process failed");
    return Run{seconds, cpuA + CpuSeconds(usage)};
}

// Side B of every variant: answers each frame with `answer(size)` bytes of it (0: no answer),
// and says "done" with a 1-byte frame after `frames` frames. Ends on an empty frame.
void PlainB(const FifoPair& f, size_t answerSize, long long doneAfter)
{
    const int in = open(f.toB.c_str(), O_RDONLY);
    const int out = open(f.toA.c_str(), O_WRONLY);
    std::vector<unsigned char> frame;
    const unsigned char done = 1;
    PlainSend(out, &done, 1);  // ready
    for (long long n = 1; PlainReceive(in, frame) != 0; ++n) {
        if (answerSize != 0)
            PlainSend(out, frame.data(), answerSize);
        if (n == doneAfter)
            PlainSend(out, &done, 1);
    }
    close(in);
    close(out);
}

// PlainB with a hand-rolled reader thread: one frame in flight, handed to the main thread
// through a std::mutex and std::condition_variable. Shows what the thread hop alone costs.
void PlainThreadB(const FifoPair& f, size_t answerSize, long long doneAfter)
{
    const int in = open(f.toB.c_str(), O_RDONLY);
    const int out = open(f.toA.c_str(), O_WRONLY);
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<unsigned char> held;
    bool full = false, ended = false;
    std::thread reader([&] {
        std::vector<unsigned char> frame;
        while (PlainReceive(in, frame) != 0) {
            std::unique_lock<std::mutex> lock(mutex);
            held.assign(frame.begin(), frame.end());
            full = true;
            changed.notify_all();
            changed.wait(lock, [&] { return !full; });
        }
        std::lock_guard<std::mutex> lock(mutex);
        ended = true;
        changed.notify_all();
    });
    std::vector<unsigned char> frame;
    const unsigned char done = 1;
    PlainSend(out, &done, 1);  // ready
    for (long long n = 1;; ++n) {
        {
            std::unique_lock<std::mutex> lock(mutex);
            changed.wait(lock, [&] { return full || ended; });
            if (!full)
                break;
            frame = held;
            full = false;
            changed.notify_all();
        }
        if (answerSize != 0)
            PlainSend(out, frame.data(), answerSize);
        if (n == doneAfter)
            PlainSend(out, &done, 1);
    }
    reader.join();
    close(in);
    close(out);
}

void ChannelB(const FifoPair& f, size_t answerSize, long long doneAfter)
{
    auto input = DataInputPipe::Create(f.toB, false);
    auto output = DataOutputPipe::Create(f.toA, false);
    ZephCommon::FrameQueue frames;
    auto channel = CommunicationChannel::Create(input, output, true);
    channel->SetDataAvailableHandler(&frames);
    std::vector<unsigned char> frame;
    const unsigned char done = 1;
    channel->Write(&done, 1);  // ready
    long long n = 0;
    while (const unsigned long long size = frames.Next(*channel)) {
        frame.resize(size);
        channel->Read(frame.data(), size);
        if (answerSize != 0)
            channel->Write(frame.data(), answerSize);
        if (++n == doneAfter)
            channel->Write(&done, 1);
    }
}

// ChannelB for fixed-size frames without a handler: B's main thread waits in Read itself, on
// the worker's frame or, without a worker, straight on the pipe after ReadHeader (no thread hop).
void ChannelDirectB(const FifoPair& f, size_t size, bool withWorker)
{
    auto input = DataInputPipe::Create(f.toB, false);
    auto output = DataOutputPipe::Create(f.toA, false);
    auto channel = CommunicationChannel::Create(input, output, withWorker);
    std::vector<unsigned char> frame(size);
    const unsigned char done = 1;
    channel->Write(&done, 1);  // ready
    while ((withWorker || channel->ReadHeader() == size) && channel->Read(frame.data(), size) == size)
        channel->Write(frame.data(), size);
}

// Side A: plain or through a channel without a worker. Times `frames` frames of `size` bytes,
// each answered (round trip) or all answered once at the end (one way).
double PlainA(const FifoPair& f, size_t size, long long frames, bool roundTrip)
{
    const int out = open(f.toB.c_str(), O_WRONLY);
    const int in = open(f.toA.c_str(), O_RDONLY);
    std::vector<unsigned char> payload(size, 0x5a), answer;
    PlainReceive(in, answer);  // ready
    const auto start = Clock::now();
    for (long long i = 0; i < frames; ++i) {
        PlainSend(out, payload.data(), payload.size());
        if (roundTrip)
            PlainReceive(in, answer);
    }
    if (!roundTrip)
        PlainReceive(in, answer);
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    PlainSend(out, nullptr, 0);
    close(out);
    close(in);
    return seconds;
}

double ChannelA(const FifoPair& f, size_t size, long long frames, bool roundTrip)
{
    auto output = DataOutputPipe::Create(f.toB, false);
    auto input = DataInputPipe::Create(f.toA, false);
    auto channel = CommunicationChannel::Create(input, output, false);
    std::vector<unsigned char> payload(size, 0x5a), answer(size);
    auto receive = [&] {
        const unsigned long long n = channel->ReadHeader();
        if (n == 0 || n > answer.size() || channel->Read(answer.data(), n) != n)
            Die("channel answer");
    };
    receive();  // ready
    const auto start = Clock::now();
    for (long long i = 0; i < frames; ++i) {
        channel->Write(payload.data(), payload.size());
        if (roundTrip)
            receive();
    }
    if (!roundTrip)
        receive();
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    channel->Write(nullptr, 0);
    return seconds;
}

// Peak resident memory, in MiB, of a receiving process (channel with a worker, bounded to
// `bound` bytes or not at all when 0) whose peer announces a 2^30-byte frame, sends four bytes
// of it and closes.
double ReceiverPeakMiB(unsigned long long bound)
{
    FifoPair f;
    const pid_t pid = fork();
    if (pid < 0)
        Die("fork");
    if (pid == 0) {
        FLAGS_minloglevel = google::GLOG_ERROR;  // the unbounded receiver meets end of stream
        auto input = DataInputPipe::Create(f.toB, false);
        auto output = DataOutputPipe::Create(f.toA, false);
        auto channel = bound ? CommunicationChannel::Create(input, output, true, bound)
                             : CommunicationChannel::Create(input, output, true);
        unsigned char four[4];
        channel->Read(four, sizeof four);
        _exit(0);
    }
    const int out = open(f.toB.c_str(), O_WRONLY);
    const int in = open(f.toA.c_str(), O_RDONLY);
    const unsigned long long length = 1ULL << 30;
    WriteFull(out, &length, sizeof length);
    WriteFull(out, "four", 4);
    close(out);
    int status = 0;
    struct rusage usage {};
    if (wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        Die("receiver process failed");
    close(in);
    return usage.ru_maxrss / 1024.0;
}

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

long long Argument(int argc, char** argv, int index, long long fallback)
{
    if (argc <= index)
        return fallback;
    char* end = nullptr;
    const long long v = std::strtoll(argv[index], &end, 10);
    if (*end != '\0' || v <= 0) {
        std::fprintf(stderr, "usage: channel_bench [round-trips] [mebibytes] [repeats]\n");
        std::exit(2);
    }
    return v;
}

}  // namespace

int main(int argc, char** argv)
{
    FLAGS_minloglevel = google::GLOG_WARNING;
    const long long trips = Argument(argc, argv, 1, 20000);
    const long long mebibytes = Argument(argc, argv, 2, 256);
    const int repeats = static_cast<int>(Argument(argc, argv, 3, 5));

    std::vector<Run> plainTrip, threadTrip, syncTrip, handlerTrip, directTrip, plainFlow, channelFlow;
    auto roundTrip = [&](const std::function<void(const FifoPair&)>& b, bool channelA) {
        return RunPair(
            [&](const FifoPair& f) {
                return channelA ? ChannelA(f, kSmall, trips, true) : PlainA(f, kSmall, trips, true);
            },
            b);
    };
    for (int r = 0; r < repeats; ++r) {
        plainTrip.push_back(roundTrip([&](const FifoPair& f) { PlainB(f, kSmall, -1); }, false));
        threadTrip.push_back(roundTrip([&](const FifoPair& f) { PlainThreadB(f, kSmall, -1); }, false));
        syncTrip.push_back(roundTrip([&](const FifoPair& f) { ChannelDirectB(f, kSmall, false); }, true));
        handlerTrip.push_back(roundTrip([&](const FifoPair& f) { ChannelB(f, kSmall, -1); }, true));
        directTrip.push_back(roundTrip([&](const FifoPair& f) { ChannelDirectB(f, kSmall, true); }, true));
        plainFlow.push_back(RunPair([&](const FifoPair& f) { return PlainA(f, kLarge, mebibytes, false); },
                                    [&](const FifoPair& f) { PlainB(f, 0, mebibytes); }));
        channelFlow.push_back(RunPair([&](const FifoPair& f) { return ChannelA(f, kLarge, mebibytes, false); },
                                      [&](const FifoPair& f) { ChannelB(f, 0, mebibytes); }));
    }

    // Microseconds per round trip: the median wall time, and the median CPU time of both sides.
    auto us = [&](const std::vector<Run>& runs, double Run::*field) {
        std::vector<double> values;
        for (const Run& run : runs)
            values.push_back(run.*field);
        return Median(values) / trips * 1e6;
    };
    auto flowMBs = [&](const std::vector<Run>& runs) {
        std::vector<double> values;
        for (const Run& run : runs)
            values.push_back(run.seconds);
        return mebibytes * double(kLarge) / 1e6 / Median(values);
    };
    const double plainUs = us(plainTrip, &Run::seconds);
    const double plainMBs = flowMBs(plainFlow);
    const double channelMBs = flowMBs(channelFlow);
    const std::string baseline = "plain FIFO ping-pong " + ZephBench::Figure(plainUs, "us");
    char ratio[32];
    std::printf("round trip, 64-byte frames (%lld per run, median of %d runs; CPU of both processes)\n", trips,
                repeats);
    std::printf("  plain FIFO ping-pong           %8.2f us   CPU %6.2f us\n", plainUs, us(plainTrip, &Run::cpuSeconds));
    struct Variant {
        const char* what;
        const char* row;
        const std::vector<Run>& runs;
        const char* target;
    } variants[] = {
        {"plain, B with reader thread", "plain ping-pong with a reader thread in B", threadTrip, "(reference)"},
        {"channel, B without worker", "channel round trip, 64-byte frames, B without worker", syncTrip, "(reference)"},
        {"channel, B reads in Read", "channel round trip, 64-byte frames, B waits in Read", directTrip, "<= 1.3x"},
        {"channel, B through its handler", "channel round trip, 64-byte frames, B through its handler", handlerTrip,
         "(reported)"},
    };
    for (const Variant& v : variants) {
        const double wall = us(v.runs, &Run::seconds);
        const double cpu = us(v.runs, &Run::cpuSeconds);
        std::printf("  %-30s %8.2f us   CPU %6.2f us   ratio %.2fx (target %s)\n", v.what, wall, cpu, wall / plainUs,
                    v.target);
        std::snprintf(ratio, sizeof ratio, "%.2fx", wall / plainUs);
        ZephBench::PrintRow(v.row, ZephBench::Figure(wall, "us") + ", CPU " + ZephBench::Figure(cpu, "us"), baseline,
                            ratio, v.target);
    }
    std::printf("one way, 1 MiB frames (%lld MiB per run, median of %d runs)\n", mebibytes, repeats);
    std::printf("  plain FIFO, 1024-byte calls %8.1f MB/s\n", plainMBs);
    std::printf("  channel, B with worker      %8.1f MB/s   %.0f%% of plain (target >= 80%%)\n", channelMBs,
                100 * channelMBs / plainMBs);
    std::snprintf(ratio, sizeof ratio, "%.0f %%", 100 * channelMBs / plainMBs);
    ZephBench::PrintRow("channel one way, 1 MiB frames, worker", ZephBench::Figure(channelMBs, "MB/s"),
                        "plain FIFO, 1024-byte calls " + ZephBench::Figure(plainMBs, "MB/s"), ratio, ">= 80 %");

    const double unboundedMiB = ReceiverPeakMiB(0);
    const double boundedMiB = ReceiverPeakMiB(1 << 20);
    std::printf("receiver's peak memory, peer announces 2^30 bytes and sends 4\n");
    std::printf("  no bound                    %8.1f MiB\n", unboundedMiB);
    std::printf("  bound of 1 MiB              %8.1f MiB\n", boundedMiB);
    std::snprintf(ratio, sizeof ratio, "%.3fx", boundedMiB / unboundedMiB);
    ZephBench::PrintRow("receiver's peak memory, 2^30 announced, 1 MiB bound", ZephBench::Figure(boundedMiB, "MiB"),
                        "no bound " + ZephBench::Figure(unboundedMiB, "MiB"), ratio, "no frame allocated");
    return 0;
}
