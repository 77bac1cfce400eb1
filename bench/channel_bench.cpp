// CommunicationChannel between two processes over FIFOs, against plain FIFO loops that make
// the same system calls and against ZeroMQ (PAIR) and nng (pair1) over ipc://, measured in the
// same run. Every job runs in a fresh pair of processes, A and B:
//   round trip  A sends a 64-byte frame, B answers with the same bytes. Plain: write 8 + write
//               64, read 8 + read 64 on each side; and the same with a hand-rolled reader
//               thread in B, which isolates the cost of the thread hop. A channel in A has no
//               worker; B's channel has none, or a worker whose frames B's main thread waits
//               for in Read, or learns of through its handler first. CPU time of both processes.
//   one way     A sends 1 MiB frames, B reads them (channel with worker and handler), over
//               pipes with the default transfer size of 1024 bytes and with larger ones, and
//               without a worker (ReadHeader, then Read straight from the pipe), and with
//               read-ahead. Plain: an 8-byte write, then 1024-byte (or 64 KiB) writes, and the
//               same reads; the floor: 1 MiB writes and reads over a 1 MiB pipe buffer.
//   bulk recipe the one-way job one ingredient at a time (docs/usage.md): INFO logged to a
//               file as by a program that never turned glog down, then logging off, a 1 MiB
//               transfer size, B with and without a worker, and 4 MiB frames.
//   peak memory a receiving process whose peer announces a 2^30-byte frame and sends four
//               bytes, with a 1 MiB frame bound and without.
// ZeroMQ and nng run as their users would: a send from the caller's buffer (the library copies
// it), a receive into a message the library allocated (no copy out). Either is left out when
// the benchmark was built without it. INFO logging is off, as in production. Each job runs
// several times, in turn with the others; the median is reported.
// Usage: channel_bench [round-trips] [mebibytes] [repeats]
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <glog/logging.h>

#ifdef ZEPHIO_BENCH_ZMQ
#include <zmq.h>
#endif
#ifdef ZEPHIO_BENCH_NNG
#include <nng/nng.h>
#include <nng/protocol/pair1/pair.h>
#endif

#include "BenchRow.h"
#include "common/LatencySample.h"
#include "common/FrameQueue.h"
#include "IO/ZephIO.h"

using namespace Korvel::Core;
using Clock = std::chrono::steady_clock;

namespace {

constexpr size_t kSmall = 64;
constexpr size_t kLarge = 1 << 20;
constexpr size_t kHuge = 4 << 20;  // the bulk recipe's largest frames
constexpr size_t kChunk = 1024;    // the pipes' per-system-call limit
constexpr size_t kBig = 64 << 10;  // a larger transfer size

[[noreturn]] void Die(const std::string& what, const char* detail = nullptr)
{
    std::fprintf(stderr, "channel_bench: %s: %s\n", what.c_str(), detail ? detail : std::strerror(errno));
    std::exit(1);
}

// ---- plain FIFO side, the same calls the pipes make ----------------------------------------

void ReadFull(int fd, void* buffer, size_t size, size_t chunk = kChunk)
{
    auto* p = static_cast<unsigned char*>(buffer);
    for (size_t done = 0; done < size;) {
        const ssize_t n = read(fd, p + done, std::min(chunk, size - done));
        if (n <= 0)
            Die("read");
        done += static_cast<size_t>(n);
    }
}

void WriteFull(int fd, const void* data, size_t size, size_t chunk = kChunk)
{
    const auto* p = static_cast<const unsigned char*>(data);
    for (size_t done = 0; done < size;) {
        const ssize_t n = write(fd, p + done, std::min(chunk, size - done));
        if (n <= 0)
            Die("write");
        done += static_cast<size_t>(n);
    }
}

// ---- the place of one job: a FIFO pair and a socket address in a fresh folder -------------

struct Place {
    std::string dir, toB, toA, socket;
    Place()
    {
        char pattern[] = "/tmp/channel-bench-XXXXXX";
        if (!mkdtemp(pattern))
            Die("mkdtemp");
        dir = pattern;
        toB = dir + "/to-b";
        toA = dir + "/to-a";
        socket = dir + "/socket";
        if (mkfifo(toB.c_str(), 0600) != 0 || mkfifo(toA.c_str(), 0600) != 0)
            Die("mkfifo");
    }
    ~Place()
    {
        unlink(toB.c_str());
        unlink(toA.c_str());
        unlink(socket.c_str());
        unlink(Log().c_str());
        rmdir(dir.c_str());
    }
    std::string Address() const { return "ipc://" + socket; }
    std::string Log() const { return dir + "/log"; }
};

// ---- one side of a message link ------------------------------------------------------------

class Link {
public:
    virtual ~Link() = default;
    virtual void Send(const unsigned char* data, size_t size) = 0;
    // Waits for the next message and returns its size: 0 for the peer's empty end mark (or
    // when no more messages can come). `data` points at its bytes until the next call.
    virtual size_t Receive(const unsigned char*& data) = 0;
};

using MakeLink = std::function<std::unique_ptr<Link>(const Place&)>;

// Opens the FIFOs in the order that pairs A with B: A's output first, B's input first.
template <class OpenInput, class OpenOutput>
void OpenInOrder(const Place& place, bool sideA, OpenInput&& openInput, OpenOutput&& openOutput)
{
    if (sideA) {
        openOutput(place.toB);
        openInput(place.toA);
    } else {
        openInput(place.toB);
        openOutput(place.toA);
    }
}

// `chunk` bytes at most per system call; a larger chunk asks for a pipe buffer that large too.
class PlainLink : public Link {
public:
    PlainLink(const Place& place, bool sideA, size_t chunk = kChunk) : m_chunk(chunk)
    {
        OpenInOrder(
            place, sideA, [&](const std::string& name) { m_in = Open(name, O_RDONLY); },
            [&](const std::string& name) { m_out = Open(name, O_WRONLY); });
        if (chunk > kChunk)
            fcntl(m_out, F_SETPIPE_SZ, static_cast<int>(chunk));
    }
    ~PlainLink() override
    {
        close(m_in);
        close(m_out);
    }
    void Send(const unsigned char* data, size_t size) override
    {
        const unsigned long long length = size;
        WriteFull(m_out, &length, sizeof length);
        WriteFull(m_out, data, size, m_chunk);
    }
    size_t Receive(const unsigned char*& data) override
    {
        unsigned long long length = 0;
        ReadFull(m_in, &length, sizeof length);
        m_buffer.resize(length);
        ReadFull(m_in, m_buffer.data(), length, m_chunk);
        data = m_buffer.data();
        return length;
    }

private:
    static int Open(const std::string& name, int flags)
    {
        const int fd = open(name.c_str(), flags);
        if (fd < 0)
            Die("open " + name);
        return fd;
    }
    size_t m_chunk;
    int m_in = -1, m_out = -1;
    std::vector<unsigned char> m_buffer;
};

// Another link read by a hand-rolled reader thread: one message in flight, handed to the
// caller's thread through a std::mutex and std::condition_variable.
class ThreadedLink : public Link {
public:
    explicit ThreadedLink(std::unique_ptr<Link> inner) : m_inner(std::move(inner)), m_reader([this] { Pump(); }) {}
    ~ThreadedLink() override { m_reader.join(); }
    void Send(const unsigned char* data, size_t size) override { m_inner->Send(data, size); }
    size_t Receive(const unsigned char*& data) override
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_changed.wait(lock, [&] { return m_full || m_ended; });
        if (!m_full)
            return 0;
        m_frame = m_held;
        m_full = false;
        m_changed.notify_all();
        data = m_frame.data();
        return m_frame.size();
    }

private:
    void Pump()
    {
        const unsigned char* data = nullptr;
        while (const size_t size = m_inner->Receive(data)) {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_held.assign(data, data + size);
            m_full = true;
            m_changed.notify_all();
            m_changed.wait(lock, [&] { return !m_full; });
        }
        std::lock_guard<std::mutex> lock(m_mutex);
        m_ended = true;
        m_changed.notify_all();
    }
    std::unique_ptr<Link> m_inner;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<unsigned char> m_held, m_frame;
    bool m_full = false, m_ended = false;
    std::thread m_reader;  // last: starts once everything above exists
};

// How a channel's reader learns of the next frame: without a worker (ReadHeader), from the
// handler, by waiting in Read for a frame of a known size, or from a pollable descriptor, as a
// program's event loop would.
enum class Wait { Header, Handler, Read, Descriptor };

class ChannelLink : public Link {
public:
    // `transferSize` 0: the pipes of the plain Create functions (1024 bytes per system call).
    ChannelLink(const Place& place, bool sideA, Wait wait, size_t frameSize = 0, size_t transferSize = 0,
                bool readAhead = false)
        : m_wait(wait)
    {
        PipeOptions options;
        options.transferSize = transferSize;
        boost::intrusive_ptr<IByteDataInput> input;
        boost::intrusive_ptr<IByteDataOutput> output;
        OpenInOrder(
            place, sideA,
            [&](const std::string& name) {
                input = transferSize ? DataInputPipe::Create(name, options) : DataInputPipe::Create(name, false);
            },
            [&](const std::string& name) {
                output = transferSize ? DataOutputPipe::Create(name, options) : DataOutputPipe::Create(name, false);
            });
        ChannelOptions channelOptions;
        channelOptions.worker = wait != Wait::Header;
        channelOptions.readAhead = readAhead;
        if (wait == Wait::Handler)
            channelOptions.handler = &m_frames;
        if (wait == Wait::Descriptor)
            channelOptions.handler = &m_descriptor;
        m_channel = CommunicationChannel::Create(input, output, channelOptions);
        m_buffer.resize(frameSize);
    }
    void Send(const unsigned char* data, size_t size) override { m_channel->Write(data, size); }
    size_t Receive(const unsigned char*& data) override
    {
        data = m_buffer.data();
        if (m_wait == Wait::Read)
            return m_channel->Read(m_buffer.data(), m_buffer.size());
        const unsigned long long size = m_wait == Wait::Header    ? m_channel->ReadHeader()
                                        : m_wait == Wait::Handler ? m_frames.Next(*m_channel)
                                                                  : Poll();
        m_buffer.resize(size);
        data = m_buffer.data();
        if (size != 0 && m_channel->Read(m_buffer.data(), size) != size)
            Die("channel read", "short frame");
        return size;
    }

private:
    // The next frame's size from the descriptor, 0 once the worker has ended.
    unsigned long long Poll()
    {
        for (pollfd watched{m_descriptor.Descriptor(), POLLIN, 0};;) {
            if (poll(&watched, 1, -1) < 0 && errno != EINTR)
                Die("poll");
            const DataAvailableDescriptor::Event event = m_descriptor.Drain();
            if (event.kind != DataAvailableDescriptor::Kind::Nothing)
                return event.size;
        }
    }

    Wait m_wait;
    // Both outlive the channel, whose worker may announce to them.
    ZephCommon::FrameQueue m_frames;
    DataAvailableDescriptor m_descriptor;
    boost::intrusive_ptr<IDataChannel> m_channel;
    std::vector<unsigned char> m_buffer;
};

#ifdef ZEPHIO_BENCH_ZMQ
class ZmqLink : public Link {
public:
    ZmqLink(const Place& place, bool sideA) : m_context(zmq_ctx_new())
    {
        m_socket = zmq_socket(m_context, ZMQ_PAIR);
        const std::string address = place.Address();
        if (!m_socket || (sideA ? zmq_connect(m_socket, address.c_str()) : zmq_bind(m_socket, address.c_str())) != 0)
            Die("zmq socket", zmq_strerror(zmq_errno()));
        zmq_msg_init(&m_message);
    }
    ~ZmqLink() override
    {
        zmq_msg_close(&m_message);
        zmq_close(m_socket);
        zmq_ctx_term(m_context);
    }
    void Send(const unsigned char* data, size_t size) override
    {
        if (zmq_send(m_socket, data, size, 0) != static_cast<int>(size))
            Die("zmq_send", zmq_strerror(zmq_errno()));
    }
    size_t Receive(const unsigned char*& data) override
    {
        if (zmq_msg_recv(&m_message, m_socket, 0) < 0)
            Die("zmq_msg_recv", zmq_strerror(zmq_errno()));
        data = static_cast<const unsigned char*>(zmq_msg_data(&m_message));
        return zmq_msg_size(&m_message);
    }

private:
    void* m_context;
    void* m_socket = nullptr;
    zmq_msg_t m_message;
};
#endif

#ifdef ZEPHIO_BENCH_NNG
class NngLink : public Link {
public:
    NngLink(const Place& place, bool sideA)
    {
        const std::string address = place.Address();
        // A dials in the background until B listens. No size limit: nng's default of 1 MiB
        // counts the protocol's header too and would drop 1 MiB frames.
        int rv = nng_pair1_open(&m_socket);
        if (rv == 0)
            rv = nng_socket_set_size(m_socket, NNG_OPT_RECVMAXSZ, 0);
        if (rv == 0)
            rv = sideA ? nng_dial(m_socket, address.c_str(), nullptr, NNG_FLAG_NONBLOCK)
                       : nng_listen(m_socket, address.c_str(), nullptr, 0);
        if (rv != 0)
            Die("nng socket", nng_strerror(rv));
    }
    ~NngLink() override
    {
        if (m_message)
            nng_msg_free(m_message);
        nng_close(m_socket);
    }
    void Send(const unsigned char* data, size_t size) override
    {
        if (const int rv = nng_send(m_socket, const_cast<unsigned char*>(data), size, 0))
            Die("nng_send", nng_strerror(rv));
    }
    size_t Receive(const unsigned char*& data) override
    {
        if (m_message)
            nng_msg_free(m_message);
        m_message = nullptr;
        if (const int rv = nng_recvmsg(m_socket, &m_message, 0))
            Die("nng_recvmsg", nng_strerror(rv));
        data = static_cast<const unsigned char*>(nng_msg_body(m_message));
        return nng_msg_len(m_message);
    }

private:
    nng_socket m_socket = NNG_SOCKET_INITIALIZER;
    nng_msg* m_message = nullptr;
};
#endif

// ---- the two sides of a job ----------------------------------------------------------------

// Side B: answers each message with its first `answerSize` bytes (0: no answer), says "done"
// with a 1-byte message after `doneAfter` messages, and ends on the empty end mark with a last
// 1-byte message, after which A may close (a socket library may drop what is still queued).
void Echo(Link& link, size_t answerSize, long long doneAfter)
{
    const unsigned char mark = 1;
    link.Send(&mark, 1);  // ready
    const unsigned char* data = nullptr;
    for (long long n = 1; link.Receive(data) != 0; ++n) {
        if (answerSize != 0)
            link.Send(data, answerSize);
        if (n == doneAfter)
            link.Send(&mark, 1);
    }
    link.Send(&mark, 1);  // bye
}

// Side A: times `frames` messages of `size` bytes, each answered (round trip) or all answered
// once at the end (one way), and returns the seconds.
double TimeFrames(Link& link, size_t size, long long frames, bool roundTrip)
{
    const std::vector<unsigned char> payload(size, 0x5a);
    const unsigned char* answer = nullptr;
    link.Receive(answer);  // ready
    const auto start = Clock::now();
    for (long long i = 0; i < frames; ++i) {
        link.Send(payload.data(), payload.size());
        if (roundTrip && link.Receive(answer) != size)
            Die("round trip", "wrong answer");
    }
    if (!roundTrip)
        link.Receive(answer);
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    link.Send(payload.data(), 0);
    link.Receive(answer);  // bye
    return seconds;
}

// Wall-clock seconds that side A reports, and the CPU seconds both processes used.
struct Run {
    double seconds;
    double cpuSeconds;
};

double CpuSeconds(const struct rusage& usage)
{
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Starts a child process that runs `body` and exits. A side whose peer died may wait for it
// for good (a socket library waits for a reconnection): the alarm ends it, and the run fails.
pid_t Spawn(const std::function<void()>& body)
{
    const pid_t pid = fork();
    if (pid < 0)
        Die("fork");
    if (pid == 0) {
        alarm(600);
        body();
        _exit(0);
    }
    return pid;
}

// Waits for a child that must succeed; returns what it used.
struct rusage Reap(pid_t pid)
{
    int status = 0;
    struct rusage usage {};
    if (wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        Die("child process failed", "see above");
    return usage;
}

// Runs a job in two fresh processes, so that no library's threads or state outlive it here.
Run RunJob(const MakeLink& makeA, const MakeLink& makeB, size_t size, long long frames, bool roundTrip)
{
    Place place;
    int result[2];
    if (pipe(result) != 0)
        Die("pipe");
    const pid_t b = Spawn([&] {
        close(result[0]);
        close(result[1]);
        Echo(*makeB(place), roundTrip ? size : 0, roundTrip ? -1 : frames);
    });
    const pid_t a = Spawn([&] {
        const double seconds = TimeFrames(*makeA(place), size, frames, roundTrip);
        WriteFull(result[1], &seconds, sizeof seconds);
    });
    close(result[1]);
    double seconds = 0;
    ReadFull(result[0], &seconds, sizeof seconds);
    close(result[0]);
    const double cpu = CpuSeconds(Reap(a)) + CpuSeconds(Reap(b));
    return Run{seconds, cpu};
}

// Peak resident memory, in MiB, of a receiving process (channel with a worker, bounded to
// `bound` bytes or not at all when 0) whose peer announces a 2^30-byte frame, sends four bytes
// of it and closes.
double ReceiverPeakMiB(unsigned long long bound)
{
    Place f;
    const pid_t pid = Spawn([&] {
        FLAGS_minloglevel = google::GLOG_ERROR;  // the unbounded receiver meets end of stream
        auto input = DataInputPipe::Create(f.toB, false);
        auto output = DataOutputPipe::Create(f.toA, false);
        auto channel = bound ? CommunicationChannel::Create(input, output, true, bound)
                             : CommunicationChannel::Create(input, output, true);
        unsigned char four[4];
        channel->Read(four, sizeof four);
    });
    const int out = open(f.toB.c_str(), O_WRONLY);
    const int in = open(f.toA.c_str(), O_RDONLY);
    const unsigned long long length = 1ULL << 30;
    WriteFull(out, &length, sizeof length);
    WriteFull(out, "four", 4);
    close(out);
    const double peak = Reap(pid).ru_maxrss / 1024.0;
    close(in);
    return peak;
}

double Median(const std::vector<double>& v)
{
    return ZephCommon::Percentile(v, 0.5);
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

// A contender of one job: how each side makes its link, and what it is called.
struct Contender {
    std::string key;
    std::string what;
    MakeLink a, b;
};

template <class L, class... Args>
MakeLink Side(bool sideA, Args... args)
{
    return [=](const Place& place) { return std::make_unique<L>(place, sideA, args...); };
}

// `make` in a process that logs at INFO (glog never configured, so to stderr) with its stderr
// in a file, as a program that never turned logging down and keeps its output.
MakeLink Logged(MakeLink make)
{
    return [=](const Place& place) {
        const int log = open(place.Log().c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
        if (log < 0 || dup2(log, 2) < 0)
            Die("log file");
        close(log);
        FLAGS_minloglevel = google::GLOG_INFO;
        return make(place);
    };
}

std::vector<Contender> Peers()
{
    std::vector<Contender> peers;
#ifdef ZEPHIO_BENCH_ZMQ
    int major = 0, minor = 0, patch = 0;
    zmq_version(&major, &minor, &patch);
    peers.push_back({"zmq", "ZeroMQ " + std::to_string(major) + "." + std::to_string(minor) + " PAIR, ipc://",
                     Side<ZmqLink>(true), Side<ZmqLink>(false)});
#else
    std::printf("ZeroMQ rows left out: built without libzmq (libzmq3-dev)\n");
#endif
#ifdef ZEPHIO_BENCH_NNG
    peers.push_back(
        {"nng", std::string("nng ") + nng_version() + " pair1, ipc://", Side<NngLink>(true), Side<NngLink>(false)});
#else
    std::printf("nng rows left out: built without libnng (libnng-dev)\n");
#endif
    return peers;
}

// The measured runs of every contender of one job, and their table rows.
class Job {
public:
    Job(std::vector<Contender> contenders, size_t size, long long frames, bool roundTrip)
        : m_contenders(std::move(contenders)), m_size(size), m_frames(frames), m_roundTrip(roundTrip)
    {
    }

    void RunEach()
    {
        for (const Contender& c : m_contenders)
            m_runs[c.key].push_back(RunJob(c.a, c.b, m_size, m_frames, m_roundTrip));
    }

    bool Has(const std::string& key) const { return m_runs.count(key) != 0; }

    // Median microseconds per round trip (wall time, or the CPU time of both processes).
    double Us(const std::string& key, double Run::*field) const
    {
        std::vector<double> values;
        for (const Run& run : m_runs.at(key))
            values.push_back(run.*field);
        return Median(values) / m_frames * 1e6;
    }

    double MBs(const std::string& key) const { return double(m_size) / Us(key, &Run::seconds); }

    // Figure, with CPU time for round trips, and the ratio to `baseline` (time over time for
    // round trips, throughput over throughput one way).
    void PrintRow(const std::string& key, const std::string& baseline, const std::string& target,
                  bool percent = false) const
    {
        PrintRow(key, *this, baseline, target, percent);
    }

    // The same against the `baseline` of another job of the same kind.
    void PrintRow(const std::string& key, const Job& other, const std::string& baseline, const std::string& target,
                  bool percent = false) const
    {
        if (!Has(key) || !other.Has(baseline))
            return;
        const double ratio =
            m_roundTrip ? Us(key, &Run::seconds) / other.Us(baseline, &Run::seconds) : MBs(key) / other.MBs(baseline);
        char text[32];
        std::snprintf(text, sizeof text, percent ? "%.0f %%" : "%.2fx", percent ? 100 * ratio : ratio);
        ZephBench::PrintRow(What(key) + (m_roundTrip ? ", 64-byte round trip"
                                                     : ", " + std::to_string(m_size >> 20) + " MiB frames one way"),
                            Figure(key, m_roundTrip), other.What(baseline) + " " + other.Figure(baseline, false), text,
                            target);
    }

    void PrintAll() const
    {
        for (const Contender& c : m_contenders)
            std::printf("  %-55s %s\n", c.what.c_str(), Figure(c.key, true).c_str());
    }

private:
    const std::string& What(const std::string& key) const
    {
        return std::find_if(m_contenders.begin(), m_contenders.end(), [&](const Contender& c) { return c.key == key; })
            ->what;
    }
    // Time per round trip or throughput, and the CPU time of both processes per message.
    std::string Figure(const std::string& key, bool withCpu) const
    {
        std::string figure =
            m_roundTrip ? ZephBench::Figure(Us(key, &Run::seconds), "us") : ZephBench::Figure(MBs(key), "MB/s");
        if (withCpu)
            figure += std::string(", CPU ") + ZephBench::Figure(Us(key, &Run::cpuSeconds), "us") +
                      (m_roundTrip ? "" : " a frame");
        return figure;
    }

    std::vector<Contender> m_contenders;
    size_t m_size;
    long long m_frames;
    bool m_roundTrip;
    std::map<std::string, std::vector<Run>> m_runs;
};

}  // namespace

int main(int argc, char** argv)
{
    FLAGS_minloglevel = google::GLOG_WARNING;
    const long long trips = Argument(argc, argv, 1, 20000);
    const long long mebibytes = Argument(argc, argv, 2, 512);
    const int repeats = static_cast<int>(Argument(argc, argv, 3, 7));
    const std::vector<Contender> peers = Peers();

    std::vector<Contender> tripContenders = {
        {"plain", "plain FIFO ping-pong", Side<PlainLink>(true), Side<PlainLink>(false)},
        {"thread", "plain ping-pong, reader thread in B", Side<PlainLink>(true),
         [](const Place& place) { return std::make_unique<ThreadedLink>(std::make_unique<PlainLink>(place, false)); }},
        {"sync", "channel, B without worker", Side<ChannelLink>(true, Wait::Header),
         Side<ChannelLink>(false, Wait::Header)},
        {"read", "channel, B waits in Read", Side<ChannelLink>(true, Wait::Header),
         Side<ChannelLink>(false, Wait::Read, kSmall)},
        {"handler", "channel, B through its handler", Side<ChannelLink>(true, Wait::Header),
         Side<ChannelLink>(false, Wait::Handler)},
        {"descriptor", "channel, B polls a DataAvailableDescriptor", Side<ChannelLink>(true, Wait::Header),
         Side<ChannelLink>(false, Wait::Descriptor)},
    };
    std::vector<Contender> flowContenders = {
        {"plain", "plain FIFO, 1024-byte calls", Side<PlainLink>(true), Side<PlainLink>(false)},
        {"plain-big", "plain FIFO, 64 KiB calls", Side<PlainLink>(true, kBig), Side<PlainLink>(false, kBig)},
        {"channel", "channel, B with worker", Side<ChannelLink>(true, Wait::Header),
         Side<ChannelLink>(false, Wait::Handler)},
        {"channel-64k", "channel, B with worker, 64 KiB transfer size", Side<ChannelLink>(true, Wait::Header, 0, kBig),
         Side<ChannelLink>(false, Wait::Handler, 0, kBig)},
        {"sync-64k", "channel, B without worker, 64 KiB transfer size", Side<ChannelLink>(true, Wait::Header, 0, kBig),
         Side<ChannelLink>(false, Wait::Header, 0, kBig)},
        {"channel-1m", "channel, B with worker, 1 MiB transfer size", Side<ChannelLink>(true, Wait::Header, 0, kLarge),
         Side<ChannelLink>(false, Wait::Handler, 0, kLarge)},
        {"floor", "plain FIFO, 1 MiB calls and pipe buffer", Side<PlainLink>(true, kLarge),
         Side<PlainLink>(false, kLarge)},
        {"ahead-64k", "channel, B with read-ahead, 64 KiB transfer size",
         Side<ChannelLink>(true, Wait::Header, 0, kBig), Side<ChannelLink>(false, Wait::Handler, 0, kBig, true)},
        {"ahead-1m", "channel, B with read-ahead, 1 MiB transfer size",
         Side<ChannelLink>(true, Wait::Header, 0, kLarge), Side<ChannelLink>(false, Wait::Handler, 0, kLarge, true)},
    };
    tripContenders.insert(tripContenders.end(), peers.begin(), peers.end());
    flowContenders.insert(flowContenders.end(), peers.begin(), peers.end());

    Job trip(tripContenders, kSmall, trips, true);
    Job flow(flowContenders, kLarge, mebibytes, false);
    // Logged runs (two lines per system call in each process) move a sixteenth of the bytes.
    const auto oneMiB = Side<ChannelLink>(true, Wait::Header, 0, kLarge);
    Job logged({{"logged", "channel, B with worker, INFO logged to a file",
                 Logged(Side<ChannelLink>(true, Wait::Header)), Logged(Side<ChannelLink>(false, Wait::Handler))}},
               kLarge, std::max(1LL, mebibytes / 16), false);
    Job recipe({{"sync-1m", "channel, B without worker, 1 MiB transfer size", oneMiB,
                 Side<ChannelLink>(false, Wait::Header, 0, kLarge)}},
               kLarge, mebibytes, false);
    Job huge({{"channel-1m-4m", "channel, B with worker, 1 MiB transfer size", oneMiB,
               Side<ChannelLink>(false, Wait::Handler, 0, kLarge)},
              {"sync-1m-4m", "channel, B without worker, 1 MiB transfer size", oneMiB,
               Side<ChannelLink>(false, Wait::Header, 0, kLarge)}},
             kHuge, std::max(1LL, mebibytes / 4), false);
    for (int r = 0; r < repeats; ++r) {
        trip.RunEach();
        flow.RunEach();
        logged.RunEach();
        recipe.RunEach();
        huge.RunEach();
    }

    std::printf("round trip, 64-byte frames (%lld per run, median of %d runs; CPU of both processes)\n", trips,
                repeats);
    trip.PrintAll();
    std::printf("one way, 1 MiB frames (%lld MiB per run, median of %d runs)\n", mebibytes, repeats);
    flow.PrintAll();
    std::printf("bulk recipe, one way, 1 MiB frames (median of %d runs)\n", repeats);
    logged.PrintAll();
    recipe.PrintAll();
    std::printf("bulk recipe, one way, 4 MiB frames (median of %d runs)\n", repeats);
    huge.PrintAll();

    trip.PrintRow("thread", "plain", "(reference)");
    trip.PrintRow("sync", "plain", "(reference)");
    trip.PrintRow("read", "plain", "<= 1.3x");
    trip.PrintRow("handler", "plain", "(reported)");
    trip.PrintRow("descriptor", "plain", "(reported)");
    trip.PrintRow("zmq", "plain", "(peer)");
    trip.PrintRow("nng", "plain", "(peer)");
    trip.PrintRow("read", "zmq", "<= 0.5x");
    trip.PrintRow("handler", "zmq", "<= 1.0x");
    trip.PrintRow("descriptor", "zmq", "<= 1.0x");
    flow.PrintRow("channel", "plain", ">= 80 %", true);
    flow.PrintRow("zmq", "plain", "(peer)");
    flow.PrintRow("nng", "plain", "(peer)");
    flow.PrintRow("plain-big", "zmq", "(reference)");
    flow.PrintRow("channel", "zmq", "(reported)");
    flow.PrintRow("sync-64k", "zmq", "(reference)");
    // Against the floor: what two processes get from a FIFO at all.
    flow.PrintRow("zmq", "floor", "(peer)");
    flow.PrintRow("nng", "floor", "(peer)");
    flow.PrintRow("channel-1m", "floor", "(reference)");
    flow.PrintRow("ahead-64k", "floor", "(reported)");
    flow.PrintRow("ahead-1m", "floor", ">= 0.95x");
    for (const char* size : {"channel-64k", "channel-1m", "ahead-64k", "ahead-1m"}) {
        flow.PrintRow(size, "zmq", ">= 1.0x");
        flow.PrintRow(size, "nng", ">= 1.0x");
    }

    // The bulk recipe, step by step against the defaults with INFO logged.
    for (const Job* job : {&flow, &recipe})
        for (const char* key : {"channel", "channel-1m", "sync-1m"})
            if (job->Has(key))
                job->PrintRow(key, logged, "logged", "(recipe)");
    huge.PrintRow("channel-1m-4m", logged, "logged", "(recipe)");
    huge.PrintRow("sync-1m-4m", logged, "logged", "(recipe)");

    const double unboundedMiB = ReceiverPeakMiB(0);
    const double boundedMiB = ReceiverPeakMiB(1 << 20);
    std::printf("receiver's peak memory, peer announces 2^30 bytes and sends 4\n");
    std::printf("  no bound                    %8.1f MiB\n", unboundedMiB);
    std::printf("  bound of 1 MiB              %8.1f MiB\n", boundedMiB);
    char ratio[32];
    std::snprintf(ratio, sizeof ratio, "%.3fx", boundedMiB / unboundedMiB);
    ZephBench::PrintRow("receiver's peak memory, 2^30 announced, 1 MiB bound", ZephBench::Figure(boundedMiB, "MiB"),
                        "no bound " + ZephBench::Figure(unboundedMiB, "MiB"), ratio, "no frame allocated");
    return 0;
}
