// The other process of the pipe tests. It uses plain system calls on the FIFO, so that what
// the library does is checked against an independent peer, except in "std-echo" and
// "std-closed", which exercise the standard-stream adapters from inside a child.
//
//   pipes_peer write <fifo> <count> [wait]   open for writing, write the pattern, close
//   pipes_peer read <fifo> <count> [wait]    open for reading, read up to count bytes or
//                                            end of file, print "<bytes> ok|bad"
//   pipes_peer std-echo                      copy stdin to stdout through the adapters,
//                                            then print "|end" if fds 0 and 1 survived
//   pipes_peer std-closed                    check DataStdInput::Create with stdin closed
//
// "wait" makes the peer open the FIFO and then wait for a byte (or end of file) on its
// stdin before transferring, so the test decides when data moves.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <glog/logging.h>

#include "IO/KorvelIO/DataStdInput.h"
#include "IO/KorvelIO/DataStdOutput.h"
#include "support/Pattern.h"

namespace {

void WaitForGo()
{
    char c;
    while (read(0, &c, 1) < 0 && errno == EINTR) {
    }
}

int WriteMode(const char* fifo, size_t count, bool wait)
{
    const int fd = open(fifo, O_WRONLY);
    if (fd < 0)
        return 10;
    if (wait)
        WaitForGo();
    const std::string data = ZephTest::Pattern(count);
    size_t done = 0;
    while (done < count) {
        const ssize_t n = write(fd, data.data() + done, count - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return 11;
        done += static_cast<size_t>(n);
    }
    close(fd);
    return 0;
}

int ReadMode(const char* fifo, size_t count, bool wait)
{
    const int fd = open(fifo, O_RDONLY);
    if (fd < 0)
        return 20;
    if (wait)
        WaitForGo();
    std::vector<unsigned char> buffer(count + 1);
    size_t done = 0;
    while (done < count) {
        const ssize_t n = read(fd, buffer.data() + done, count - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += static_cast<size_t>(n);
    }
    close(fd);
    bool ok = true;
    for (size_t i = 0; i < done; ++i)
        ok = ok && buffer[i] == ZephTest::PatternByte(i);
    std::printf("%zu %s", done, ok ? "ok" : "bad");
    return 0;
}

int StdEcho()
{
    unsigned long inSize = 0;
    unsigned long outSize = 0;
    {
        auto in = Korvel::Core::DataStdInput::Create(inSize);
        auto out = Korvel::Core::DataStdOutput::Create(outSize);
        if (!in || !out)
            return 30;
        if (inSize != 1024 || outSize != 1024)
            return 31;
        std::vector<unsigned char> buffer(inSize);
        for (;;) {
            const unsigned long long n = in->Read(buffer.data(), buffer.size());
            if (n == 0)
                break;
            if (out->Write(buffer.data(), n) != n)
                return 32;
        }
    }
    // The adapters worked on duplicates: the process's own descriptors are still open.
    if (fcntl(0, F_GETFD) == -1 || fcntl(1, F_GETFD) == -1)
        return 33;
    return write(1, "|end", 4) == 4 ? 0 : 34;
}

int StdClosed()
{
    unsigned long size = 77;
    auto in = Korvel::Core::DataStdInput::Create(size);
    return !in && size == 77 ? 0 : 40;
}

}  // namespace

int main(int argc, char** argv)
{
    // Never outlive a test that has gone wrong.
    alarm(30);
    FLAGS_logtostderr = true;
    FLAGS_minloglevel = google::GLOG_ERROR;
    const std::string mode = argc > 1 ? argv[1] : "";
    const bool wait = argc > 4 && std::string(argv[4]) == "wait";
    if (mode == "write" && argc > 3)
        return WriteMode(argv[2], std::strtoull(argv[3], nullptr, 10), wait);
    if (mode == "read" && argc > 3)
        return ReadMode(argv[2], std::strtoull(argv[3], nullptr, 10), wait);
    if (mode == "std-echo")
        return StdEcho();
    if (mode == "std-closed")
        return StdClosed();
    std::fprintf(stderr, "usage: pipes_peer write|read <fifo> <count> [wait] | std-echo | std-closed\n");
    return 2;
}
