// The bit reader and writer against plain bit-by-bit models.
// Reader: fuzzer-chosen bytes from a fuzzer-chosen start, in a memory input (whose block the
// reader takes directly) and in a string input, with ReadBits of 0 to 72, ReadBitsInt of 0 to 9
// and skips; BitsLeft and the input's position are checked after every step.
// Writer: fuzzer-chosen fields against a bit-by-bit model, on an output whose Write number
// `throwAt` throws: the completed byte must be written again by the next field. Bits still
// pending when the writer goes are dropped.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <stdexcept>
#include <vector>

#include "FuzzCheck.h"
#include "support/Doubles.h"

using namespace Korvel::Core;

namespace {

template <class Error, class Call>
bool Throws(Call call)
{
    try {
        call();
    } catch (const Error&) {
        return true;
    }
    return false;
}

struct ModelReader {
    const std::vector<uint8_t>& bytes;
    size_t position;
    uint8_t current = 0;
    unsigned left = 0;

    uint64_t Total() const { return left + 8 * (bytes.size() - position); }
    void Fetch()
    {
        current = bytes[position++];
        left = 8;
    }
};

void FuzzReader(const boost::intrusive_ptr<IDataInput>& stream, const std::vector<uint8_t>& ops, size_t start,
                const std::vector<uint8_t>& bytes)
{
    ModelReader model{bytes, start % (bytes.size() + 1)};
    stream->SetPosition(model.position);
    DataBitInput reader(stream);
    FUZZ_CHECK(reader.BitsLeft() == model.Total());
    for (const uint8_t op : ops) {
        if (op < 0x80) {
            const unsigned count = op % 73;
            if (count > 64) {  // wider than the result: refused, nothing consumed
                FUZZ_CHECK(Throws<std::invalid_argument>([&] { reader.ReadBits(count); }));
            } else if (count > model.Total()) {  // runs out: the bits it took are lost
                FUZZ_CHECK(Throws<IOException>([&] { reader.ReadBits(count); }));
                model.left = 0;
                model.position = bytes.size();
            } else {
                uint64_t expected = 0;
                for (unsigned i = 0; i < count; ++i) {
                    if (model.left == 0)
                        model.Fetch();
                    expected = (expected << 1) | ((model.current >> --model.left) & 1);
                }
                FUZZ_CHECK(reader.ReadBits(count) == expected);
            }
        } else if (op < 0xe0) {
            const unsigned count = op % 10;
            // Wider than a byte or than the byte buffered, or no byte left: refused, nothing taken.
            if (count > 8 || (model.left != 0 ? count > model.left : model.position == bytes.size())) {
                FUZZ_CHECK(Throws<IOException>([&] { reader.ReadBitsInt(count); }));
            } else {
                if (model.left == 0)
                    model.Fetch();
                model.left -= count;
                FUZZ_CHECK(reader.ReadBitsInt(count) == ((model.current >> model.left) & ((1u << count) - 1)));
            }
        } else {
            reader.SkipBitsToNextByte();
            model.left = 0;
        }
        FUZZ_CHECK(reader.BitsLeft() == model.Total());
        FUZZ_CHECK(stream->GetPosition() == model.position);
    }
}

struct Field {
    enum Kind { Bits, Data, Flush } kind;
    uint8_t value;
    unsigned count;
    std::vector<uint8_t> data;
};

// The writer bit by bit, with Write number `throwAt` (from 1; 0: none) failing; false when it did.
class ModelWriter {
public:
    explicit ModelWriter(unsigned throwAt) : m_throwAt(throwAt) {}
    bool Apply(const Field& field)
    {
        if (field.kind == Field::Bits)
            return Bits(field.value, field.count);
        if (field.kind == Field::Data) {
            for (const uint8_t byte : field.data)
                if (!Bits(byte, 8))
                    return false;
            return true;
        }
        // A Flush whose Write throws leaves the pending bits as they were.
        if (m_free == 8 || m_free == 0)
            return true;
        if (++m_writes == m_throwAt)
            return false;
        out.push_back(static_cast<char>(m_current << m_free));
        m_current = 0;
        m_free = 8;
        return true;
    }
    std::string out;

private:
    bool Bits(uint8_t value, unsigned count)
    {
        if (count == 0)
            return true;
        if (m_free == 0 && !Complete())  // the byte kept from a failed Write goes first
            return false;
        for (unsigned i = count; i-- > 0;) {
            m_current = static_cast<uint8_t>((m_current << 1) | (i < 8 ? (value >> i) & 1 : 0));
            if (--m_free == 0 && !Complete())
                return false;
        }
        return true;
    }
    bool Complete()
    {
        if (++m_writes == m_throwAt)
            return false;  // the byte stays, with no free bits
        out.push_back(static_cast<char>(m_current));
        m_current = 0;
        m_free = 8;
        return true;
    }
    unsigned m_throwAt;
    unsigned m_writes = 0;
    uint8_t m_current = 0;
    unsigned m_free = 8;
};

bool Apply(DataBitOutput& writer, const Field& field)
{
    return !Throws<std::runtime_error>([&] {
        if (field.kind == Field::Bits)
            writer.WriteBits(field.value, field.count);
        else if (field.kind == Field::Data)
            writer.WriteData(field.data.data(), field.data.size());
        else
            writer.Flush();
    });
}

void FuzzWriter(const std::vector<Field>& fields, unsigned throwAt)
{
    auto output = ZephTest::ScriptedOutput::Create(throwAt);
    ModelWriter model(throwAt);
    {
        DataBitOutput writer(output);
        for (const Field& field : fields)
            FUZZ_CHECK(Apply(writer, field) == model.Apply(field));
    }  // pending bits are dropped with the writer
    FUZZ_CHECK(output->text == model.out);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider input(data, size);
    const std::vector<uint8_t> ops = input.ConsumeBytes<uint8_t>(input.ConsumeIntegralInRange<size_t>(0, 48));
    const size_t start = input.ConsumeIntegral<uint8_t>();
    const std::vector<uint8_t> bytes = input.ConsumeBytes<uint8_t>(input.ConsumeIntegralInRange<size_t>(0, 64));
    const std::string text(bytes.begin(), bytes.end());
    FuzzReader(DataInputMemory::Create(bytes.data(), bytes.size()), ops, start, bytes);
    FuzzReader(DataInputString::Create(&text), ops, start, bytes);

    const unsigned throwAt = input.ConsumeIntegralInRange<unsigned>(1, 64);
    std::vector<Field> fields;
    while (input.remaining_bytes() >= 2 && fields.size() < 256) {
        const uint8_t shape = input.ConsumeIntegral<uint8_t>();
        if (shape < 0xa0)
            fields.push_back({Field::Bits, input.ConsumeIntegral<uint8_t>(), shape % 33u, {}});
        else if (shape < 0xf0)
            fields.push_back({Field::Data, 0, 0, input.ConsumeBytes<uint8_t>(shape % 6)});
        else
            fields.push_back({Field::Flush, 0, 0, {}});
    }
    FuzzWriter(fields, throwAt);
    return 0;
}
