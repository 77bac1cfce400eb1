// The four pipe protocols over a raw input and output whose every call the fuzzer scripts:
// whether it succeeds and how many bytes it moved (a success short of the request still moves
// at least one byte, which the Default loop relies on). The fuzzer also picks the request
// sizes, the protocol and whether it is bound. Checked for every request:
//   Default: the first raw call gets the whole request; each later call continues exactly
//     where the successful ones ended, for the rest; the loop stops at the first failure or
//     when the request is complete; the result counts only successful calls.
//   Raw: exactly one raw call for the whole request; the result is the count it stored,
//     whether it succeeded or not.
//   Unbound: the result is 0 and no raw call is made.
// The bytes moved land where the calls put them and nowhere else.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <vector>

#include <glog/logging.h>

#include "FuzzCheck.h"
#include "IO/Detail/RefCounting.h"
#include "IO/KorvelIO/Protocols/ByteDataInputDefaultProtocol.h"
#include "IO/KorvelIO/Protocols/ByteDataInputRawProtocol.h"
#include "IO/KorvelIO/Protocols/ByteDataOutputDefaultProtocol.h"
#include "IO/KorvelIO/Protocols/ByteDataOutputRawProtocol.h"

using namespace Korvel::Core;

namespace {

struct RawCall {
    const unsigned char* buffer;
    uint64_t size;
    bool ok;
    uint64_t moved;
};

// One scripted raw call: the fuzzer decides success and the count.
RawCall Script(FuzzedDataProvider& script, const unsigned char* buffer, uint64_t size)
{
    RawCall call{buffer, size, script.ConsumeBool(), 0};
    call.moved = script.ConsumeIntegralInRange<uint64_t>(0, size);
    if (call.ok && call.moved == 0 && size != 0)
        call.moved = 1;
    return call;
}

unsigned char SourceByte(uint64_t i)
{
    return static_cast<unsigned char>(i * 131 + (i >> 7) + 1);
}

class ScriptedInput : public virtual IByteDataInputEx {
public:
    explicit ScriptedInput(FuzzedDataProvider& script) : m_script(script) {}

    bool ReadRaw(unsigned char* buffer, unsigned long long size, unsigned long long* readCount) override
    {
        const RawCall call = Script(m_script, buffer, size);
        for (uint64_t i = 0; i < call.moved; ++i)
            buffer[i] = SourceByte(m_delivered++);
        if (readCount)
            *readCount = call.moved;
        calls.push_back(call);
        return call.ok;
    }
    unsigned long long Read(unsigned char*, unsigned long long) override { return 0; }
    unsigned long long GetMaxReadSizeAtTime() override { return 1024; }
    int AddRef() const override;
    int GetRefCount() const override;
    int Release() const override;

    std::vector<RawCall> calls;

private:
    FuzzedDataProvider& m_script;
    uint64_t m_delivered = 0;
    Korvel::RefCountImpl m_refCount;
};
KORVEL_DEFINE_REFCOUNT(ScriptedInput, m_refCount)

class ScriptedOutput : public virtual IByteDataOutputEx {
public:
    explicit ScriptedOutput(FuzzedDataProvider& script) : m_script(script) {}

    bool WriteRaw(const unsigned char* data, unsigned long long size, unsigned long long* writtenCount) override
    {
        const RawCall call = Script(m_script, data, size);
        accepted.insert(accepted.end(), data, data + call.moved);
        if (writtenCount)
            *writtenCount = call.moved;
        calls.push_back(call);
        return call.ok;
    }
    unsigned long long Write(const unsigned char*, unsigned long long) override { return 0; }
    unsigned long long GetMaxWriteSizeAtTime() override { return 1024; }
    int AddRef() const override;
    int GetRefCount() const override;
    int Release() const override;

    std::vector<RawCall> calls;
    std::vector<unsigned char> accepted;

private:
    FuzzedDataProvider& m_script;
    Korvel::RefCountImpl m_refCount;
};
KORVEL_DEFINE_REFCOUNT(ScriptedOutput, m_refCount)

// The Default loop's shape; returns the bytes the successful calls moved.
uint64_t CheckDefaultCalls(const std::vector<RawCall>& calls, const unsigned char* base, uint64_t size)
{
    FUZZ_CHECK(!calls.empty());
    uint64_t done = 0;
    for (size_t i = 0; i < calls.size(); ++i) {
        const RawCall& call = calls[i];
        FUZZ_CHECK(call.buffer == base + done);
        FUZZ_CHECK(call.size == size - done);
        const bool last = i + 1 == calls.size();
        if (!call.ok) {
            FUZZ_CHECK(last);
            break;
        }
        done += call.moved;
        FUZZ_CHECK(last == (done == size));
    }
    return done;
}

void CheckRawCall(const std::vector<RawCall>& calls, const unsigned char* base, uint64_t size)
{
    FUZZ_CHECK(calls.size() == 1);
    FUZZ_CHECK(calls[0].buffer == base);
    FUZZ_CHECK(calls[0].size == size);
}

void ReadOnce(FuzzedDataProvider& script, bool useDefault, bool bound, uint64_t size)
{
    ScriptedInput raw(script);
    std::unique_ptr<IByteDataInputProtocol> protocol;
    if (useDefault)
        protocol.reset(new ByteDataInputDefaultProtocol);
    else
        protocol.reset(new ByteDataInputRawProtocol);
    if (bound)
        protocol->SetByteDataInput(&raw);

    // Exactly `size` bytes, so ASan sees any write past the request.
    constexpr unsigned char kUntouched = 0xA5;
    std::vector<unsigned char> buffer(size, kUntouched);
    const uint64_t result = protocol->Read(buffer.data(), size);
    if (!bound) {
        FUZZ_CHECK(result == 0);
        FUZZ_CHECK(raw.calls.empty());
        FUZZ_CHECK(std::count(buffer.begin(), buffer.end(), kUntouched) == static_cast<long>(size));
        return;
    }
    uint64_t written = 0;  // bytes the raw calls placed, failed calls included
    if (useDefault) {
        FUZZ_CHECK(result == CheckDefaultCalls(raw.calls, buffer.data(), size));
        written = result + (raw.calls.back().ok ? 0 : raw.calls.back().moved);
    } else {
        CheckRawCall(raw.calls, buffer.data(), size);
        FUZZ_CHECK(result == raw.calls[0].moved);
        written = result;
    }
    for (uint64_t i = 0; i < size; ++i)
        FUZZ_CHECK(buffer[i] == (i < written ? SourceByte(i) : kUntouched));
}

void WriteOnce(FuzzedDataProvider& script, bool useDefault, bool bound, uint64_t size)
{
    ScriptedOutput raw(script);
    std::unique_ptr<IByteDataOutputProtocol> protocol;
    if (useDefault)
        protocol.reset(new ByteDataOutputDefaultProtocol);
    else
        protocol.reset(new ByteDataOutputRawProtocol);
    if (bound)
        protocol->SetByteDataOutput(&raw);

    std::vector<unsigned char> data(size);
    for (uint64_t i = 0; i < size; ++i)
        data[i] = SourceByte(i);
    const uint64_t result = protocol->Write(data.data(), size);
    if (!bound) {
        FUZZ_CHECK(result == 0);
        FUZZ_CHECK(raw.calls.empty());
        return;
    }
    uint64_t accepted = 0;  // bytes the raw calls took, failed calls included
    if (useDefault) {
        FUZZ_CHECK(result == CheckDefaultCalls(raw.calls, data.data(), size));
        accepted = result + (raw.calls.back().ok ? 0 : raw.calls.back().moved);
    } else {
        CheckRawCall(raw.calls, data.data(), size);
        FUZZ_CHECK(result == raw.calls[0].moved);
        accepted = result;
    }
    // The raw side took the leading bytes, in order, each once.
    FUZZ_CHECK(raw.accepted.size() == accepted);
    FUZZ_CHECK(std::equal(raw.accepted.begin(), raw.accepted.end(), data.begin()));
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    // Unbound protocols log an ERROR on every request; the result is what is checked.
    FLAGS_minloglevel = google::GLOG_FATAL;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider script(data, size);
    while (script.remaining_bytes() != 0) {
        const unsigned char op = script.ConsumeIntegral<unsigned char>();
        const bool useDefault = op & 1;
        const bool bound = (op & 0x1c) != 0;  // unbound one time in eight
        const uint64_t request = script.ConsumeIntegralInRange<uint64_t>(0, 4096);
        if (op & 2)
            WriteOnce(script, useDefault, bound, request);
        else
            ReadOnce(script, useDefault, bound, request);
    }
    return 0;
}
