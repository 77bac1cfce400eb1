// StreamToBuffer of a 64 MiB memory stream against plain memcpy of the same bytes, same run,
// each iteration running every contender once in turn.
//   Fresh: the helper must hand back a new vector, so the like-for-like baseline is memcpy into
//          a freshly allocated buffer. 64 MiB is above malloc's mmap threshold, so every
//          allocation maps new pages and pays their page faults, the helper and memcpy alike.
//   Warm:  the same after telling malloc to keep freed memory, so the new vector reuses mapped
//          pages; what is left is the helper's own work (its zero fill and its one copy)
//          against memcpy into a buffer that stays mapped. Runs last: it changes malloc's
//          settings for the rest of the process.
#include <malloc.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "IO/ZephIO.h"
#include "BenchSupport.h"

using namespace Korvel::Core;

namespace {

constexpr size_t kSize = 64u << 20;

const std::vector<unsigned char>& Source()
{
    return ZephBench::SharedRandomBytes<kSize>();
}

void Contenders(benchmark::State& state, bool freshBaseline)
{
    auto input = DataInputMemory::Create(Source().data(), kSize);
    const unsigned char* source = Source().data();
    std::vector<unsigned char> warm(kSize);
    ZephBench::Contest contest({"memcpy", "StreamToBuffer", "StreamToBufferString"}, {"", ">= 0.80", ">= 0.80"});
    for (auto _ : state) {
        contest.Run(0, [&] {
            if (freshBaseline) {
                auto* buffer = static_cast<unsigned char*>(std::malloc(kSize));
                std::memcpy(buffer, source, kSize);
                benchmark::DoNotOptimize(buffer);
                benchmark::ClobberMemory();
                std::free(buffer);
            } else {
                std::memcpy(warm.data(), source, kSize);
                benchmark::DoNotOptimize(warm.data());
                benchmark::ClobberMemory();
            }
        });
        const double start = ZephBench::ThreadSeconds();
        contest.Run(1, [&] {
            input->SetPosition(0);
            std::vector<unsigned char> buffer = StreamToBuffer(input.get(), false);
            benchmark::DoNotOptimize(buffer.data());
            benchmark::ClobberMemory();
        });
        state.SetIterationTime(ZephBench::ThreadSeconds() - start);
        contest.Run(2, [&] {
            input->SetPosition(0);
            std::string text = StreamToBufferString(input.get());
            benchmark::DoNotOptimize(text.data());
            benchmark::ClobberMemory();
        });
    }
    contest.Report(state, kSize,
                   freshBaseline ? "StreamToBuffer 64 MiB, fresh destination" : "StreamToBuffer 64 MiB, warm heap");
}

void Fresh(benchmark::State& state)
{
    Contenders(state, true);
}

void Warm(benchmark::State& state)
{
    mallopt(M_MMAP_THRESHOLD, 256 << 20);
    mallopt(M_TRIM_THRESHOLD, 512 << 20);
    Contenders(state, false);
}

BENCHMARK(Fresh)->Iterations(10)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(Warm)->Iterations(10)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
