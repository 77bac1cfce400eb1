// MD5 of a 256 MiB real file: the whole-buffer MD5Generate against MD5GenerateStreaming with
// 1 MiB and 64 KiB pieces, same run, each iteration running every contender once in turn on
// the same file (in the page cache after it is written, so both sides read from memory).
// Time is the thread's CPU time, the reads' system time included. Memory is the growth of peak
// resident memory during one call (the peak is reset through /proc/self/clear_refs first).
// Usage: hash_bench [--benchmark_* options]; the file goes to $TMPDIR (or /tmp) and is removed.
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "IO/ZephIO.h"
#include "BenchSupport.h"

using namespace Korvel::Core;

namespace {

constexpr unsigned long long kSize = 256ull << 20;

// One line of /proc/self/status ("VmRSS:", "VmHWM:") in KiB, or -1.
long StatusKiB(const std::string& field)
{
    std::ifstream status("/proc/self/status");
    std::string name;
    long value = -1;
    while (status >> name) {
        if (name == field && status >> value)
            return value;
        status.ignore(1 << 10, '\n');
    }
    return -1;
}

// How far `fn` raises peak resident memory above where it stood, in KiB; -1 when the kernel
// cannot reset the peak.
double PeakGrowthKiB(const std::function<void()>& fn)
{
    {
        std::ofstream reset("/proc/self/clear_refs");
        if (!(reset << "5" << std::flush))
            return -1;
    }
    const long before = StatusKiB("VmRSS:");
    fn();
    const long peak = StatusKiB("VmHWM:");
    return before < 0 || peak < 0 ? -1 : peak - before;
}

class ScratchFile {
public:
    ScratchFile()
    {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/hash_bench.XXXXXX";
        if (!mkdtemp(&pattern[0])) {
            std::perror("mkdtemp");
            std::exit(1);
        }
        m_dir = pattern;
        m_path = m_dir + "/data";
        const std::vector<unsigned char> bytes = ZephBench::RandomBytes(kSize);  // freed before measuring
        std::ofstream(m_path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }
    ~ScratchFile()
    {
        std::remove(m_path.c_str());
        rmdir(m_dir.c_str());
    }
    const std::string& Path() const { return m_path; }

private:
    std::string m_dir;
    std::string m_path;
};

void Md5OfAFile(benchmark::State& state)
{
    ScratchFile file;
    auto input = DataInputFile::Create(Korvel::ioPath(file.Path()));
    const std::function<std::string()> contenders[] = {[&] { return MD5Generate(input, ""); },
                                                       [&] { return MD5GenerateStreaming(input, "", 1 << 20); },
                                                       [&] { return MD5GenerateStreaming(input, "", 1 << 16); }};
    const std::vector<std::string> names = {"MD5Generate, whole buffer", "MD5GenerateStreaming, 1 MiB pieces",
                                            "MD5GenerateStreaming, 64 KiB pieces"};
    ZephBench::Contest contest(names, {"", ">= 0.91 (within 1.1x)", ">= 0.91 (within 1.1x)"});
    // Memory first, while nothing has run: the pieces then need pages of their own instead of
    // reusing what the whole buffer left behind. The whole buffer goes last. A small hash
    // beforehand pays the digest library's one-time set-up and pages in its code.
    MD5GenerateStreaming(DataInputMemory::Create(nullptr, 0), "warm-up", 1);
    double growthKiB[3];
    for (size_t i : {1, 2, 0})
        growthKiB[i] = PeakGrowthKiB([&] {
            input->SetPosition(0);
            benchmark::DoNotOptimize(contenders[i]());
        });
    std::string expected;
    for (auto _ : state) {
        for (size_t i = 0; i < 3; ++i) {
            std::string digest;
            const double start = ZephBench::ThreadSeconds();
            contest.Run(i, [&] {
                input->SetPosition(0);
                digest = contenders[i]();
            });
            if (i == 1)
                state.SetIterationTime(ZephBench::ThreadSeconds() - start);
            if (expected.empty())
                expected = digest;
            if (digest != expected) {
                std::fprintf(stderr, "digests differ: %s and %s\n", expected.c_str(), digest.c_str());
                std::exit(1);
            }
        }
    }
    contest.Report(state, kSize, "MD5 of a 256 MiB file");
    for (size_t i = 1; i < 3; ++i) {
        char ratio[32];
        std::snprintf(ratio, sizeof ratio, "%.4fx", growthKiB[i] / growthKiB[0]);
        ZephBench::PrintRow("MD5 of a 256 MiB file, peak memory growth: " + names[i],
                            ZephBench::Figure(growthKiB[i], "KiB"),
                            "whole buffer " + ZephBench::Figure(growthKiB[0] / 1024, "MiB"), ratio,
                            i == 1 ? "<= 1 MiB + 64 KiB" : "<= 64 KiB + 64 KiB");
    }
}

BENCHMARK(Md5OfAFile)->Iterations(5)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
