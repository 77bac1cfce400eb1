// Bit reader and writer against minimal references written here that make the same calls:
// one virtual one-byte Read (or Write) per byte on the same kind of stream, the bit handling
// inlined. A plain non-virtual reader over the raw bytes shows what the one-byte stream
// contract itself costs. Each pass moves a 4 MiB stream; MB/s are of stream bytes, and
// "library/reference" >= 0.67 means the library is within 1.5x of the reference.
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "Interleaved.h"
#include "IO/ZephIO.h"

using namespace Korvel::Core;

namespace {

constexpr size_t kSize = 4u << 20;

const std::vector<unsigned char>& Source()
{
    static const std::vector<unsigned char> bytes = [] {
        std::vector<unsigned char> b(kSize);
        std::uint32_t x = 2463534242u;
        for (auto& byte : b) {
            x ^= x << 13;
            x ^= x >> 17;
            x ^= x << 5;
            byte = static_cast<unsigned char>(x);
        }
        return b;
    }();
    return bytes;
}

// The reference reader: the same fetch-a-byte-when-needed rule, one virtual Read per byte.
class ReferenceBitReader {
public:
    explicit ReferenceBitReader(IDataInput* input) : m_input(input) {}
    unsigned long long ReadBits(unsigned count)
    {
        unsigned long long result = 0;
        while (count != 0) {
            if (m_left == 0) {
                unsigned char next;
                if (m_input->Read(&next, 1) != 1)
                    throw std::runtime_error("end of input");
                m_byte = next;
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
    IDataInput* m_input;
    unsigned m_byte = 0;
    unsigned m_left = 0;
};

// The reference's logic with no stream at all: bytes straight from memory, no virtual call.
class PlainBitReader {
public:
    explicit PlainBitReader(const unsigned char* data) : m_data(data) {}
    unsigned long long ReadBits(unsigned count)
    {
        unsigned long long result = 0;
        while (count != 0) {
            if (m_left == 0) {
                m_byte = *m_data++;
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
    const unsigned char* m_data;
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

// Reference, library and plain reader in turn over the same memory stream.
void BitReader(benchmark::State& state)
{
    const unsigned bits = static_cast<unsigned>(state.range(0));
    auto input = DataInputMemory::Create(Source().data(), kSize);
    ZephBench::Contest contest({"reference", "library", "plain"});
    for (auto _ : state) {
        contest.Run(0, [&] {
            input->SetPosition(0);
            ReferenceBitReader reader(input.get());
            benchmark::DoNotOptimize(ReadAll(reader, bits));
        });
        double libraryStart = ZephBench::ThreadSeconds();
        contest.Run(1, [&] {
            input->SetPosition(0);
            DataBitInput reader(input);
            benchmark::DoNotOptimize(ReadAll(reader, bits));
        });
        state.SetIterationTime(ZephBench::ThreadSeconds() - libraryStart);
        contest.Run(2, [&] {
            PlainBitReader reader(Source().data());
            benchmark::DoNotOptimize(ReadAll(reader, bits));
        });
    }
    contest.Report(state, kSize);
}

// Reference and library writer in turn into the same string output.
void BitWriter(benchmark::State& state)
{
    const unsigned bits = static_cast<unsigned>(state.range(0));
    std::string text;
    text.reserve(kSize + 1);
    auto output = DataOutputString::Create(&text);
    ZephBench::Contest contest({"reference", "library"});
    for (auto _ : state) {
        contest.Run(0, [&] {
            output->SetSize(0);
            ReferenceBitWriter writer(output.get());
            WriteAll(writer, bits);
            benchmark::DoNotOptimize(text.data());
        });
        double libraryStart = ZephBench::ThreadSeconds();
        contest.Run(1, [&] {
            output->SetSize(0);
            DataBitOutput writer(output);
            WriteAll(writer, bits);
            writer.Flush();
            benchmark::DoNotOptimize(text.data());
        });
        state.SetIterationTime(ZephBench::ThreadSeconds() - libraryStart);
    }
    contest.Report(state, kSize);
}

// WriteData off the byte boundary against the reference writing the same bytes as 8-bit fields.
void BitWriterData(benchmark::State& state)
{
    std::string text;
    text.reserve(kSize + 1);
    auto output = DataOutputString::Create(&text);
    ZephBench::Contest contest({"reference", "library"});
    for (auto _ : state) {
        contest.Run(0, [&] {
            output->SetSize(0);
            ReferenceBitWriter writer(output.get());
            writer.WriteBits(1, 3);
            for (size_t i = 0; i < kSize; ++i)
                writer.WriteBits(Source()[i], 8);
            benchmark::DoNotOptimize(text.data());
        });
        double libraryStart = ZephBench::ThreadSeconds();
        contest.Run(1, [&] {
            output->SetSize(0);
            DataBitOutput writer(output);
            writer.WriteBits(1, 3);
            writer.WriteData(Source().data(), kSize);
            writer.Flush();
            benchmark::DoNotOptimize(text.data());
        });
        state.SetIterationTime(ZephBench::ThreadSeconds() - libraryStart);
    }
    contest.Report(state, kSize);
}

BENCHMARK(BitReader)->ArgName("bits")->Arg(8)->Arg(3)->Iterations(15)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BitWriter)->ArgName("bits")->Arg(8)->Arg(3)->Iterations(15)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BitWriterData)->Iterations(15)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
