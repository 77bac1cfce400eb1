// Bit reader and writer against minimal references written here. The reader is measured
// against a plain non-virtual reader over the raw bytes (the library takes the memory stream's
// bytes directly); over other inputs it makes one virtual one-byte Read per byte, as does the
// reference reader. The writer is measured against a reference that makes the same calls, one
// virtual one-byte Write per byte into the same string output. Each pass moves a 4 MiB stream;
// MB/s are of stream bytes, and a ratio of 1.00 is as fast as the baseline.
#include <cstdint>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <vector>

#include "BenchSupport.h"
#include "IO/ZephIO.h"

using namespace Korvel::Core;

namespace {

constexpr size_t kSize = 4u << 20;

const std::vector<unsigned char>& Source()
{
    return ZephBench::SharedRandomBytes<kSize>();
}

// Where a minimal reader gets its next byte: the stream's virtual one-byte Read (the
// reference, the same calls the library makes), or straight from memory (the plain reader).
class StreamBytes {
public:
    explicit StreamBytes(IDataInput* input) : m_input(input) {}
    unsigned Next()
    {
        unsigned char next;
        if (m_input->Read(&next, 1) != 1)
            throw std::runtime_error("end of input");
        return next;
    }

private:
    IDataInput* m_input;
};

class MemoryBytes {
public:
    explicit MemoryBytes(const unsigned char* data) : m_data(data) {}
    unsigned Next() { return *m_data++; }

private:
    const unsigned char* m_data;
};

// The library's rule, fetch a byte the first time one of its bits is needed, in a few lines.
template <class Bytes>
class MinimalBitReader {
public:
    explicit MinimalBitReader(Bytes bytes) : m_bytes(bytes) {}
    unsigned long long ReadBits(unsigned count)
    {
        unsigned long long result = 0;
        while (count != 0) {
            if (m_left == 0) {
                m_byte = m_bytes.Next();
                m_left = 8;
            }
            const unsigned take = m_left < count ? m_left : count;
            count -= take;
            m_left -= take;
            result |= static_cast<unsigned long long>((m_byte >> m_left) & ((1u << take) - 1u)) << count;
        }
        return result;
    }

private:
    Bytes m_bytes;
    unsigned m_byte = 0;
    unsigned m_left = 0;
};

// The reference writer: one virtual Write per completed byte.
class ReferenceBitWriter {
public:
    explicit ReferenceBitWriter(IDataOutput* output) : m_output(output) {}
    void WriteBits(unsigned char value, unsigned count)
    {
        while (count != 0) {
            const unsigned take = count < m_free ? count : m_free;
            count -= take;
            m_byte = static_cast<unsigned char>((m_byte << take) | ((value >> count) & ((1u << take) - 1u)));
            m_free -= take;
            if (m_free == 0) {
                m_output->Write(&m_byte, 1);
                m_byte = 0;
                m_free = 8;
            }
        }
    }

    void Flush()
    {
        if (m_free != 8) {
            const unsigned char last = static_cast<unsigned char>(m_byte << m_free);
            m_output->Write(&last, 1);
            m_byte = 0;
            m_free = 8;
        }
    }

private:
    IDataOutput* m_output;
    unsigned char m_byte = 0;
    unsigned m_free = 8;
};

template <class Reader>
unsigned long long ReadAll(Reader& reader, unsigned bits)
{
    const size_t fields = kSize * 8 / bits;
    unsigned long long sum = 0;
    for (size_t i = 0; i < fields; ++i)
        sum += reader.ReadBits(bits);
    return sum;
}

template <class Writer>
void WriteAll(Writer& writer, unsigned bits)
{
    const unsigned char* source = Source().data();
    const size_t fields = kSize * 8 / bits;
    for (size_t i = 0; i < fields; ++i)
        writer.WriteBits(source[i & (kSize - 1)], bits);
}

// The plain reader over the raw bytes is the baseline. The library over the memory stream
// takes its bytes straight from the block and should keep up with it; over a string input it
// makes one virtual one-byte Read per byte, as does the reference beside it.
void BitReader(benchmark::State& state)
{
    const unsigned bits = static_cast<unsigned>(state.range(0));
    auto memory = DataInputMemory::Create(Source().data(), kSize);
    const std::string text(Source().begin(), Source().end());
    auto string = DataInputString::Create(&text);
    ZephBench::Contest contest({"plain", "library over memory", "library over a string", "reference over a string"},
                               {"", ">= 1.00", "(one Read per byte)", "(one Read per byte)"});
    for (auto _ : state) {
        contest.Run(0, [&] {
            MinimalBitReader<MemoryBytes> reader(MemoryBytes(Source().data()));
            benchmark::DoNotOptimize(ReadAll(reader, bits));
        });
        double libraryStart = ZephBench::ThreadSeconds();
        contest.Run(1, [&] {
            memory->SetPosition(0);
            DataBitInput reader(memory);
            benchmark::DoNotOptimize(ReadAll(reader, bits));
        });
        state.SetIterationTime(ZephBench::ThreadSeconds() - libraryStart);
        contest.Run(2, [&] {
            string->SetPosition(0);
            DataBitInput reader(string);
            benchmark::DoNotOptimize(ReadAll(reader, bits));
        });
        contest.Run(3, [&] {
            string->SetPosition(0);
            MinimalBitReader<StreamBytes> reader(StreamBytes(string.get()));
            benchmark::DoNotOptimize(ReadAll(reader, bits));
        });
    }
    contest.Report(state, kSize, "bit reader, " + std::to_string(bits) + "-bit fields");
}

// Reference and library writer in turn into the same string output; `fill` writes the
// fields through either.
template <class Fill>
void WriterContest(benchmark::State& state, const std::string& what, Fill fill)
{
    std::string text;
    text.reserve(kSize + 1);
    auto output = DataOutputString::Create(&text);
    ZephBench::Contest contest({"reference", "library"}, {"", ">= 0.67 (1.5x)"});
    for (auto _ : state) {
        contest.Run(0, [&] {
            output->SetSize(0);
            ReferenceBitWriter writer(output.get());
            fill(writer);
            benchmark::DoNotOptimize(text.data());
        });
        double libraryStart = ZephBench::ThreadSeconds();
        contest.Run(1, [&] {
            output->SetSize(0);
            DataBitOutput writer(output);
            fill(writer);
            benchmark::DoNotOptimize(text.data());
        });
        state.SetIterationTime(ZephBench::ThreadSeconds() - libraryStart);
    }
    contest.Report(state, kSize, what);
}

void BitWriter(benchmark::State& state)
{
    const unsigned bits = static_cast<unsigned>(state.range(0));
    WriterContest(state, "bit writer, " + std::to_string(bits) + "-bit fields", [bits](auto& writer) {
        WriteAll(writer, bits);
        writer.Flush();
    });
}

// WriteData off the byte boundary; the reference writes the same bytes as 8-bit fields.
void BitWriterData(benchmark::State& state)
{
    WriterContest(state, "bit writer, WriteData off the byte boundary", [](auto& writer) {
        writer.WriteBits(1, 3);
        if constexpr (std::is_same_v<std::decay_t<decltype(writer)>, DataBitOutput>) {
            writer.WriteData(Source().data(), kSize);
        } else {
            for (size_t i = 0; i < kSize; ++i)
                writer.WriteBits(Source()[i], 8);
        }
        writer.Flush();
    });
}

BENCHMARK(BitReader)->ArgName("bits")->Arg(8)->Arg(3)->Iterations(15)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BitWriter)->ArgName("bits")->Arg(8)->Arg(3)->Iterations(15)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BitWriterData)->Iterations(15)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
