// Modes of the pipe tests. The FIFO modes use plain system calls, so the library is checked
// against an independent peer; the std modes run the standard-stream adapters in a child, and
// pipe-sigpipe pipes with options in a process whose SIGPIPE is at its default.
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <memory>
#include <string>

#include "IO/ZephIO.h"
#include "peer/Peer.h"
#include "common/Frames.h"

namespace ZephPeer {
namespace {

// Bytes moved by read() or write() calls until `size`, end of file or a failure.
template <class Call, class Byte>
size_t Transfer(Call call, int fd, Byte* data, size_t size)
{
    size_t done = 0;
    for (ssize_t n = 0; done < size; done += static_cast<size_t>(n)) {
        while ((n = call(fd, data + done, size - done)) < 0 && errno == EINTR) {
        }
        if (n <= 0)
            break;
    }
    return done;
}

// FIFO COUNT [wait]: writes COUNT pattern bytes, or reads up to COUNT and prints
// "<bytes> ok|bad". With "wait", the transfer starts only after a byte or end of file on
// stdin, so the test decides when data moves.
int OnFifo(const Args& args, bool writing)
{
    const size_t count = Number(args.at(1));
    const int fd = open(args[0].c_str(), writing ? O_WRONLY : O_RDONLY);
    if (fd < 0)
        return 10;
    char go;
    while (args.size() > 2 && args[2] == "wait" && read(0, &go, 1) < 0 && errno == EINTR) {
    }
    std::string data = writing ? ZephCommon::Pattern(count) : std::string(count, '\0');
    const size_t done = writing ? Transfer(::write, fd, data.data(), count) : Transfer(::read, fd, &data[0], count);
    close(fd);
    if (!writing)
        std::printf("%zu %s", done, data.compare(0, done, ZephCommon::Pattern(done)) == 0 ? "ok" : "bad");
    return done == count || !writing ? 0 : 11;
}

// Copies stdin to stdout through the adapters, then prints "|end" if fds 0 and 1 survived
// them. With stdin closed, ends with 40 when no adapter came and the transfer size was left.
int StdEcho(const Args&)
{
    unsigned long inSize = 0, outSize = 0;
    {
        auto in = Korvel::Core::DataStdInput::Create(inSize);
        if (!in)
            return inSize == 0 ? 40 : 41;
        auto out = Korvel::Core::DataStdOutput::Create(outSize);
        if (!out || inSize != 1024 || outSize != 1024)
            return 30;
        unsigned char buffer[1024];
        for (unsigned long long n; (n = in->Read(buffer, sizeof buffer)) != 0;)
            if (out->Write(buffer, n) != n)
                return 32;
    }
    return fcntl(0, F_GETFD) != -1 && fcntl(1, F_GETFD) != -1 && write(1, "|end", 4) == 4 ? 0 : 33;
}

// FIFO: writes through pipes made with default PipeOptions whose readers have gone: a
// handed-over pipe() end, a duplex over two, FIFO opened by name. 0 when every write failed
// and SIGPIPE (at its default here: it would end this process) was neither raised, nor set to
// ignored, nor left blocked or pending.
int SigpipeFree(const Args& args)
{
    using namespace Korvel::Core;
    const unsigned char byte = 'x';
    int lone[2], in[2], out[2];
    if (pipe(lone) != 0 || pipe(in) != 0 || pipe(out) != 0)
        return 20;
    close(lone[0]);
    close(out[0]);
    auto handed = DataOutputPipe::Create(PipeHandleFromDescriptor(lone[1]),
                                         std::make_unique<ByteDataOutputDefaultProtocol>(), PipeOptions());
    unsigned long size = 0;
    auto duplex = DataInputOutputPipe::Create(PipeHandleFromDescriptor(in[0]), PipeHandleFromDescriptor(out[1]),
                                              PipeOptions(), size);
    const int reader = open(args.at(0).c_str(), O_RDONLY | O_NONBLOCK);
    auto named = DataOutputPipe::Create(args[0], PipeOptions());
    close(reader);
    if (handed->Write(&byte, 1) + duplex->Write(&byte, 1) + named->Write(&byte, 1) != 0)
        return 21;
    struct sigaction now;
    sigset_t pending, blocked;
    sigaction(SIGPIPE, nullptr, &now);
    sigpending(&pending);
    pthread_sigmask(SIG_SETMASK, nullptr, &blocked);
    return now.sa_handler == SIG_DFL && !sigismember(&pending, SIGPIPE) && !sigismember(&blocked, SIGPIPE) ? 0 : 22;
}

void OnAlarm(int) {}

// FIFO read|write: for each byte D on stdin, waits D tenths of a millisecond, opens FIFO (a
// blocking open, given up after 10 ms), then reads one byte, or writes "x", and prints 1 when
// it opened and "x" went through, 2 when it opened but the transfer failed, 0 when it never
// opened. Ends at the end of stdin.
int OpenRace(const Args& args)
{
    const bool reading = args.at(1) == "read";
    struct sigaction alarm = {};
    alarm.sa_handler = OnAlarm;  // without SA_RESTART: the open ends with EINTR
    sigaction(SIGALRM, &alarm, nullptr);
    signal(SIGPIPE, SIG_IGN);
    unsigned char delay;
    while (read(0, &delay, 1) == 1) {
        usleep(delay * 100u);
        itimerval limit = {{0, 0}, {0, 10000}};
        setitimer(ITIMER_REAL, &limit, nullptr);
        const int fd = open(args[0].c_str(), reading ? O_RDONLY : O_WRONLY);
        limit = {};
        setitimer(ITIMER_REAL, &limit, nullptr);
        char x = 'x';
        const char result = fd < 0 ? '0' : (reading ? read(fd, &x, 1) : write(fd, &x, 1)) == 1 && x == 'x' ? '1' : '2';
        if (fd >= 0)
            close(fd);
        if (write(1, &result, 1) != 1)
            return 12;
    }
    return 0;
}

}  // namespace

std::vector<Mode> PipeModes()
{
    return {{"pipe-write", "FIFO COUNT [wait]", [](const Args& a) { return OnFifo(a, true); }},
            {"pipe-read", "FIFO COUNT [wait]", [](const Args& a) { return OnFifo(a, false); }},
            {"std-echo", "", StdEcho},
            {"pipe-sigpipe", "FIFO", SigpipeFree},
            {"pipe-open-race", "FIFO read|write", OpenRace}};
}

}  // namespace ZephPeer
