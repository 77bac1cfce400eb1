// Modes of the pipe tests. The FIFO modes use plain system calls, so the library is checked
// against an independent peer; the std modes run the standard-stream adapters in a child.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
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

}  // namespace

std::vector<Mode> PipeModes()
{
    return {{"pipe-write", "FIFO COUNT [wait]", [](const Args& a) { return OnFifo(a, true); }},
            {"pipe-read", "FIFO COUNT [wait]", [](const Args& a) { return OnFifo(a, false); }},
            {"std-echo", "", StdEcho}};
}

}  // namespace ZephPeer
