// Throughput of the FIFO pipes between two processes, against a plain loop of 1024-byte
// read/write system calls over a FIFO measured in the same run.
//
//   pipe_throughput_bench [MiB] [repetitions]      (defaults: 256 MiB, 5 repetitions)
//
// Each run makes a FIFO, forks a reader and writes MiB megabytes to it; the time runs from
// the fork to the reader's exit. The library runs use DataOutputPipe/DataInputPipe with
// their Default protocols and 64 KiB Read/Write requests, which the pipes split into
// 1024-byte system calls, as the plain loop makes them. Library and plain runs alternate so
// that machine load falls on both alike. A last pair of runs has INFO logging on, written
// to log files in a temporary directory (two lines per system call and process).
#include <sys/stat.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <glog/logging.h>

#include "BenchRow.h"
#include "common/LatencySample.h"

#include "IO/KorvelIO/DataInputPipe.h"
#include "IO/KorvelIO/DataOutputPipe.h"

namespace {

const size_t kSyscallSize = 1024;
const size_t kRequestSize = 64 * 1024;

enum class Mode { Plain, Library, LibraryWithInfoLog };

std::string g_dir;

bool PlainRead(const std::string& fifo, size_t total)
{
    const int fd = open(fifo.c_str(), O_RDONLY);
    if (fd < 0)
        return false;
    std::vector<unsigned char> buffer(kSyscallSize);
    size_t done = 0;
    while (done < total) {
        const ssize_t n = read(fd, buffer.data(), kSyscallSize);
        if (n <= 0)
            break;
        done += static_cast<size_t>(n);
    }
    close(fd);
    return done == total;
}

bool PlainWrite(const std::string& fifo, size_t total)
{
    const int fd = open(fifo.c_str(), O_WRONLY);
    if (fd < 0)
        return false;
    std::vector<unsigned char> buffer(kSyscallSize, 0x5a);
    size_t done = 0;
    while (done < total) {
        const ssize_t n = write(fd, buffer.data(), kSyscallSize);
        if (n <= 0)
            break;
        done += static_cast<size_t>(n);
    }
    close(fd);
    return done == total;
}

bool LibraryRead(const std::string& fifo, size_t total)
{
    auto pipe = Korvel::Core::DataInputPipe::Create(fifo, false);
    std::vector<unsigned char> buffer(kRequestSize);
    size_t done = 0;
    while (done < total) {
        const unsigned long long n = pipe->Read(buffer.data(), kRequestSize);
        if (n == 0)
            break;
        done += n;
    }
    return done == total;
}

bool LibraryWrite(const std::string& fifo, size_t total)
{
    auto pipe = Korvel::Core::DataOutputPipe::Create(fifo, false);
    std::vector<unsigned char> buffer(kRequestSize, 0x5a);
    size_t done = 0;
    while (done < total) {
        const unsigned long long n = pipe->Write(buffer.data(), kRequestSize);
        if (n == 0)
            break;
        done += n;
    }
    return done == total;
}

void SetLogging(Mode mode, const char* role)
{
    if (mode == Mode::LibraryWithInfoLog) {
        FLAGS_minloglevel = google::GLOG_INFO;
        google::SetLogDestination(google::GLOG_INFO, (g_dir + "/" + role + ".").c_str());
    } else {
        FLAGS_minloglevel = google::GLOG_WARNING;
    }
}

// Seconds to move `total` bytes, or a negative value when the transfer failed.
double Run(Mode mode, size_t total)
{
    const std::string fifo = g_dir + "/fifo";
    unlink(fifo.c_str());
    if (mkfifo(fifo.c_str(), 0600) != 0)
        return -1;
    const auto start = std::chrono::steady_clock::now();
    const pid_t child = fork();
    if (child < 0)
        return -1;
    if (child == 0) {
        SetLogging(mode, "reader");
        const bool ok = mode == Mode::Plain ? PlainRead(fifo, total) : LibraryRead(fifo, total);
        google::FlushLogFiles(google::GLOG_INFO);
        _exit(ok ? 0 : 1);
    }
    SetLogging(mode, "writer");
    const bool written = mode == Mode::Plain ? PlainWrite(fifo, total) : LibraryWrite(fifo, total);
    int status = 0;
    waitpid(child, &status, 0);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    google::FlushLogFiles(google::GLOG_INFO);
    SetLogging(Mode::Library, "writer");
    const bool read = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return written && read ? seconds : -1;
}

double Median(const std::vector<double>& v)
{
    return ZephCommon::Percentile(v, 0.5);
}

}  // namespace

int main(int argc, char** argv)
{
    const size_t mib = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 256;
    const int repetitions = argc > 2 ? std::atoi(argv[2]) : 5;
    const size_t total = mib * 1024 * 1024;

    char pattern[] = "/tmp/zephio-bench-XXXXXX";
    if (!mkdtemp(pattern))
        return 1;
    g_dir = pattern;
    FLAGS_logtostderr = false;
    FLAGS_log_dir = g_dir;
    google::InitGoogleLogging(argv[0]);

    std::vector<double> plain, library;
    for (int i = 0; i < repetitions; ++i) {
        const double p = Run(Mode::Plain, total);
        const double l = Run(Mode::Library, total);
        if (p < 0 || l < 0) {
            std::fprintf(stderr, "a transfer failed\n");
            return 1;
        }
        plain.push_back(mib / p);
        library.push_back(mib / l);
    }
    const double logged = Run(Mode::LibraryWithInfoLog, total);
    const double plainAgain = Run(Mode::Plain, total);
    std::uintmax_t logBytes = 0;
    for (const auto& entry : std::filesystem::directory_iterator(g_dir))
        if (entry.is_regular_file())
            logBytes += entry.file_size();
    google::ShutdownGoogleLogging();
    std::filesystem::remove_all(g_dir);
    if (logged < 0 || plainAgain < 0) {
        std::fprintf(stderr, "a transfer failed\n");
        return 1;
    }

    std::printf("%zu MiB through a FIFO between two processes, %d repetitions, %ld cores online\n", mib, repetitions,
                sysconf(_SC_NPROCESSORS_ONLN));
    std::printf("plain 1024-byte read/write loop : median %8.1f MiB/s, best %8.1f MiB/s\n", Median(plain),
                *std::max_element(plain.begin(), plain.end()));
    std::printf("library, Default, INFO off     : median %8.1f MiB/s, best %8.1f MiB/s\n", Median(library),
                *std::max_element(library.begin(), library.end()));
    std::printf(
        "ratio library / plain           : median %6.1f %%, best %6.1f %%\n", 100 * Median(library) / Median(plain),
        100 * *std::max_element(library.begin(), library.end()) / *std::max_element(plain.begin(), plain.end()));
    std::printf(
        "library, INFO logged to files  : %8.1f MiB/s (%.1f %% of a plain run right after it; %.0f MB of logs)\n",
        mib / logged, 100 * plainAgain / logged, logBytes / 1e6);
    char ratio[32];
    std::snprintf(ratio, sizeof ratio, "%.1f %%", 100 * Median(library) / Median(plain));
    ZephBench::PrintRow("FIFO pipes, Default protocols, INFO off", ZephBench::Figure(Median(library), "MiB/s"),
                        "plain 1024-byte loop " + ZephBench::Figure(Median(plain), "MiB/s"), ratio, ">= 90 %");
    std::snprintf(ratio, sizeof ratio, "%.1f %%", 100 * plainAgain / logged);
    ZephBench::PrintRow("FIFO pipes, INFO logged to files", ZephBench::Figure(mib / logged, "MiB/s"),
                        "plain 1024-byte loop " + ZephBench::Figure(mib / plainAgain, "MiB/s"), ratio, "(cost)");
    return 0;
}
