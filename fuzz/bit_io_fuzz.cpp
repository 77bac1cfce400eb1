// The bit reader and writer driven by the fuzzer.
//
// Reader: bytes of the fuzzer's choosing, in a memory input and in a string input, read from
// a fuzzer-chosen start position with fuzzer-chosen operations (ReadBits of 0 to 72 bits,
// ReadBitsInt of 0 to 9, skips to the next byte), each checked against a plain bit-by-bit
// model, BitsLeft and the input's position included, running out of input only where the
// model does.
//
// Writer: fuzzer-chosen fields (WriteBits of 0 to 32 bits, WriteData runs, Flush calls) written
// to a string, then read back with the reader: every field must come back, followed by zero
// padding only. A second pass writes the same fields to an output whose Write throws once, at
// a fuzzer-chosen call: the exception must pass through, the completed byte must be written
// again by the next field, and the bytes that reach the output must be the expected ones.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "FuzzCheck.h"
#include "IO/Detail/RefCounting.h"
#include "IO/Exception.h"
#include "IO/KorvelIO/DataBitInput.h"
#include "IO/KorvelIO/DataBitOutput.h"
#include "IO/KorvelIO/DataInputMemory.h"
#include "IO/KorvelIO/DataInputString.h"
#include "IO/KorvelIO/DataOutputString.h"
#include "IO/LockImpl.h"

using namespace Korvel::Core;

namespace {

// ---- reader ------------------------------------------------------------------------------

struct ModelReader {
    const std::vector<uint8_t>& bytes;
    size_t position;
    uint8_t current = 0;
    unsigned left = 0;

    uint64_t Total() const { return left + 8 * (bytes.size() - position); }
    unsigned NextBit()
    {
        if (left == 0) {
            current = bytes[position++];
            left = 8;
        }
        return (current >> --left) & 1;
    }
};

void FuzzReaderOver(const boost::intrusive_ptr<IDataInput>& stream, const std::vector<uint8_t>& ops, size_t start,
                    const std::vector<uint8_t>& bytes);

void FuzzReader(FuzzedDataProvider& input)
{
    const std::vector<uint8_t> ops = input.ConsumeBytes<uint8_t>(input.ConsumeIntegralInRange<size_t>(0, 48));
    const size_t start = input.ConsumeIntegral<uint8_t>();
    const std::vector<uint8_t> bytes = input.ConsumeBytes<uint8_t>(input.ConsumeIntegralInRange<size_t>(0, 64));

    // The memory input, whose bytes the reader takes directly, and a string input, read one
    // Read at a time, must both behave as the model.
    const std::string text(bytes.begin(), bytes.end());
    FuzzReaderOver(DataInputMemory::Create(bytes.data(), bytes.size()), ops, start, bytes);
    FuzzReaderOver(DataInputString::Create(&text), ops, start, bytes);
}

void FuzzReaderOver(const boost::intrusive_ptr<IDataInput>& stream, const std::vector<uint8_t>& ops, size_t start,
                    const std::vector<uint8_t>& bytes)
{
    ModelReader model{bytes, start % (bytes.size() + 1)};
    stream->SetPosition(model.position);
    DataBitInput reader(stream);
    FUZZ_CHECK(reader.BitsLeft() == model.Total());

    for (const uint8_t op : ops) {
        if (op < 0x80) {
            const unsigned count = op % 73;
            if (count > 64) {
                // Wider than the result: refused, nothing consumed.
                bool threw = false;
                try {
                    reader.ReadBits(count);
                } catch (const std::invalid_argument&) {
                    threw = true;
                }
                FUZZ_CHECK(threw);
            } else if (count > model.Total()) {
                // Runs out: the bits it took are lost, and the input is at its end.
                bool threw = false;
                try {
                    reader.ReadBits(count);
                } catch (const IOException&) {
                    threw = true;
                }
                FUZZ_CHECK(threw);
                model.left = 0;
                model.position = bytes.size();
            } else {
                uint64_t expected = 0;
                for (unsigned i = 0; i < count; ++i)
                    expected = (expected << 1) | model.NextBit();
                FUZZ_CHECK(reader.ReadBits(count) == expected);
            }
        } else if (op < 0xe0) {
            const unsigned count = op % 10;
            // Asking for more than the buffered byte still holds is the caller's mistake.
            if (model.left != 0 && count > model.left && count <= 8)
                continue;
            const bool fails = count > 8 || (model.left == 0 && model.position == bytes.size());
            if (fails) {
                bool threw = false;
                try {
                    reader.ReadBitsInt(count);
                } catch (const IOException&) {
                    threw = true;
                }
                FUZZ_CHECK(threw);  // and nothing has changed
            } else {
                if (model.left == 0) {
                    model.current = bytes[model.position++];
                    model.left = 8;
                }
                model.left -= count;
                const unsigned expected = (model.current >> model.left) & ((1u << count) - 1);
                FUZZ_CHECK(reader.ReadBitsInt(count) == expected);
            }
        } else {
            reader.SkipBitsToNextByte();
            model.left = 0;
        }
        FUZZ_CHECK(reader.BitsLeft() == model.Total());
        FUZZ_CHECK(stream->GetPosition() == model.position);
    }
}

// ---- writer ------------------------------------------------------------------------------

struct Field {
    enum Kind { Bits, Data, Flush } kind;
    uint8_t value;
    unsigned count;
    std::vector<uint8_t> data;
};

std::vector<Field> Fields(FuzzedDataProvider& input)
{
    std::vector<Field> fields;
    while (input.remaining_bytes() >= 2 && fields.size() < 256) {
        const uint8_t shape = input.ConsumeIntegral<uint8_t>();
        if (shape < 0xa0) {
            fields.push_back({Field::Bits, input.ConsumeIntegral<uint8_t>(), shape % 33u, {}});
        } else if (shape < 0xf0) {
            fields.push_back({Field::Data, 0, 0, input.ConsumeBytes<uint8_t>(shape % 6)});
        } else {
            fields.push_back({Field::Flush, 0, 0, {}});
        }
    }
    return fields;
}

// The writer's documented behaviour, bit by bit, with the output's Write number `throwAt`
// (counting from 1; 0: none) failing.
class ModelWriter {
public:
    explicit ModelWriter(unsigned throwAt) : m_throwAt(throwAt) {}

    // False when the output's Write threw.
    bool Bits(uint8_t value, unsigned count)
    {
        if (count == 0)
            return true;
        if (m_free == 0 && !Complete())  // the byte kept from a failed Write goes first
            return false;
        for (unsigned i = count; i-- > 0;) {
            const unsigned bit = i < 8 ? (value >> i) & 1 : 0;
            m_current = static_cast<uint8_t>((m_current << 1) | bit);
            if (--m_free == 0 && !Complete())
                return false;
        }
        return true;
    }
    bool Data(const std::vector<uint8_t>& data)
    {
        for (const uint8_t byte : data)
            if (!Bits(byte, 8))
                return false;
        return true;
    }
    // A Flush whose Write throws leaves the pending bits as they were.
    bool Flush()
    {
        if (m_free == 8 || m_free == 0)
            return true;
        if (++m_writes == m_throwAt)
            return false;
        m_out.push_back(static_cast<char>(m_current << m_free));
        m_current = 0;
        m_free = 8;
        return true;
    }
    const std::string& Out() const { return m_out; }

private:
    bool Complete()
    {
        if (++m_writes == m_throwAt)
            return false;  // the byte stays, with no free bits
        m_out.push_back(static_cast<char>(m_current));
        m_current = 0;
        m_free = 8;
        return true;
    }

    unsigned m_throwAt;
    unsigned m_writes = 0;
    std::string m_out;
    uint8_t m_current = 0;
    unsigned m_free = 8;
};

// A string output whose Write number `throwAt` (from 1) throws instead of writing.
class FlakyOutput : public virtual IDataOutput {
public:
    static boost::intrusive_ptr<FlakyOutput> Create(unsigned throwAt) { return new FlakyOutput(throwAt); }
    unsigned long long Write(const unsigned char* data, unsigned long long size) override
    {
        if (++m_writes == m_throwAt)
            throw std::runtime_error("injected write failure");
        text.append(reinterpret_cast<const char*>(data), size);
        return size;
    }
    const Korvel::ioPath& GetFilename() const override { return m_name; }
    unsigned long long GetSize() const override { return text.size(); }
    void SetSize(unsigned long long) override {}
    unsigned long long GetPosition() const override { return text.size(); }
    void SetPosition(unsigned long long) override {}
    void Lock() override { m_lock.Lock_Impl(); }
    bool TryLock() override { return m_lock.TryLock_Impl(); }
    void Unlock() override { m_lock.Unlock_Impl(); }
    int AddRef() const override;
    int GetRefCount() const override;
    int Release() const override;

    std::string text;

private:
    explicit FlakyOutput(unsigned throwAt) : m_throwAt(throwAt) {}
    Korvel::LockImpl m_lock;
    Korvel::RefCountImpl m_refCount;
    unsigned m_throwAt;
    unsigned m_writes = 0;
    Korvel::ioPath m_name;
};
KORVEL_DEFINE_REFCOUNT(FlakyOutput, m_refCount)

// Applies one field to the writer; false when the output's Write threw.
bool Apply(DataBitOutput& writer, const Field& field)
{
    try {
        if (field.kind == Field::Bits)
            writer.WriteBits(field.value, field.count);
        else if (field.kind == Field::Data)
            writer.WriteData(field.data.data(), field.data.size());
        else
            writer.Flush();
        return true;
    } catch (const std::runtime_error&) {
        return false;
    }
}

bool Apply(ModelWriter& model, const Field& field)
{
    if (field.kind == Field::Bits)
        return model.Bits(field.value, field.count);
    if (field.kind == Field::Data)
        return model.Data(field.data);
    return model.Flush();
}

void FuzzRoundTrip(const std::vector<Field>& fields)
{
    std::string text;
    {
        DataBitOutput writer(DataOutputString::Create(&text));
        for (const Field& field : fields)
            FUZZ_CHECK(Apply(writer, field));
        writer.Flush();
    }

    auto stream = DataInputMemory::Create(reinterpret_cast<const unsigned char*>(text.data()), text.size());
    DataBitInput reader(stream);
    for (const Field& field : fields) {
        if (field.kind == Field::Bits) {
            const uint64_t mask = (1ull << field.count) - 1;  // counts are at most 32
            FUZZ_CHECK(reader.ReadBits(field.count) == (field.value & mask));
        } else if (field.kind == Field::Data) {
            for (const uint8_t byte : field.data)
                FUZZ_CHECK(reader.ReadBits(8) == byte);
        } else {
            // A Flush pads to the byte boundary with zeros.
            const uint64_t padding = reader.BitsLeft() % 8;
            FUZZ_CHECK(reader.ReadBits(padding) == 0);
        }
    }
    // Only the final padding is left.
    const uint64_t left = reader.BitsLeft();
    FUZZ_CHECK(left < 8);
    FUZZ_CHECK(reader.ReadBits(left) == 0);
}

void FuzzFailingOutput(const std::vector<Field>& fields, unsigned throwAt)
{
    auto output = FlakyOutput::Create(throwAt);
    ModelWriter model(throwAt);
    {
        DataBitOutput writer(output);
        for (const Field& field : fields)
            FUZZ_CHECK(Apply(writer, field) == Apply(model, field));
        FUZZ_CHECK(Apply(writer, Field{Field::Flush, 0, 0, {}}) == model.Flush());
    }
    FUZZ_CHECK(output->text == model.Out());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider input(data, size);
    FuzzReader(input);
    const unsigned throwAt = input.ConsumeIntegralInRange<unsigned>(1, 64);
    const std::vector<Field> fields = Fields(input);
    FuzzRoundTrip(fields);
    FuzzFailingOutput(fields, throwAt);
    return 0;
}
