// One volume query over a generated mount table, against just reading and parsing the same
// table in the same run. The query reads the table once, then picks the visible volumes and
// resolves their devices; a query that re-read the table per volume would take seconds here.
// The path names no volume, so the query looks at every volume before it answers.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>

#include "BenchSupport.h"
#include "DeviceLayer.h"
#include "IO/ZephIO.h"
#include "MountInfo.h"

namespace {

// A root file system, then local disks, network shares and bind mounts under /Volumes.
std::string GenerateMountTable(int entries)
{
    std::string table = "21 1 254:1 / / rw,relatime - ext4 /dev/vda1 rw\n";
    for (int i = 1; i < entries; ++i) {
        char line[256];
        const int id = 100 + i;
        if (i % 5 == 0)
            std::snprintf(line, sizeof line,
                          "%d 21 0:%d / /Volumes/Share\\040%04d rw,relatime shared:%d - nfs4 server:/export/%d "
                          "rw,vers=4.2\n",
                          id, i, i, i, i);
        else if (i % 7 == 0)
            std::snprintf(line, sizeof line, "%d 21 8:%d /photos/%d /Volumes/Photos%04d rw - ext4 /dev/sdb%d rw\n", id,
                          i % 16, i, i, i % 16);
        else
            std::snprintf(line, sizeof line,
                          "%d 21 8:%d / /Volumes/Disk%04d rw,nosuid,nodev master:%d - hfsplus /dev/sdc%d rw\n", id,
                          i % 16, i, i, i % 16);
        table += line;
    }
    return table;
}

// The generated table in a temporary file, removed afterwards.
class TableFile {
public:
    explicit TableFile(const std::string& content)
    {
        char name[] = "/tmp/zephio-mountinfo-XXXXXX";
        const int fd = mkstemp(name);
        if (fd < 0)
            throw std::runtime_error("mkstemp failed");
        close(fd);
        m_path = name;
        std::ofstream(m_path) << content;
    }
    ~TableFile() { std::remove(m_path.c_str()); }
    const std::string& Path() const { return m_path; }

private:
    std::string m_path;
};

void VolumeQuery(benchmark::State& state)
{
    const int entries = static_cast<int>(state.range(0));
    TableFile table(GenerateMountTable(entries));
    std::unique_ptr<Korvel::Platform::IDeviceLayer> layer = Korvel::Platform::CreateLinuxDeviceLayer(table.Path());
    Korvel::Platform::SetDeviceLayerForTesting(layer.get());

    ZephBench::Contest contest({"parse", "query"});
    size_t parsed = 0;
    std::string found;
    for (auto _ : state) {
        contest.Run(0, [&] {
            std::ifstream input(table.Path());
            parsed = Korvel::Platform::ParseMountInfo(input).size();
        });
        const double start = ZephBench::ThreadSeconds();
        contest.Run(1, [&] { found = Korvel::Core::DetermineDeviceIdForVolume("/Volumes/Elsewhere/file"); });
        state.SetIterationTime(ZephBench::ThreadSeconds() - start);
    }
    Korvel::Platform::SetDeviceLayerForTesting(nullptr);
    if (parsed != static_cast<size_t>(entries) || !found.empty())
        state.SkipWithError("the generated table did not read back as generated");

    const double parseMs = contest.Best(0) * 1e3;
    const double queryMs = contest.Best(1) * 1e3;
    state.counters["parse ms"] = parseMs;
    state.counters["query ms"] = queryMs;
    char ratio[32];
    std::snprintf(ratio, sizeof ratio, "%.1f", queryMs / parseMs);
    ZephBench::PrintRow("one volume query, " + std::to_string(entries) + "-entry mount table",
                        ZephBench::Figure(queryMs, "ms"), "read and parse " + ZephBench::Figure(parseMs, "ms"),
                        std::string(ratio) + " (query/parse)", "< 10 ms");
}

BENCHMARK(VolumeQuery)->ArgName("entries")->Arg(1000)->Iterations(10)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
