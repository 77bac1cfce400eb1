// A communication channel whose input is the fuzzer's bytes: huge, truncated and zero
// lengths, frames cut short, empty input. The first byte picks the set-up, the rest is the
// input stream.
//
// With a worker, the frames a reader gets (and the lengths the handler is told) must be the
// frames that a model of the worker predicts from the same bytes, in order, nothing more;
// the channel must then report end of stream and be destructible. Some inputs stop reading
// after a few frames and destroy the channel with a frame held or the worker still reading.
// Without a worker, headers and payload reads must give back exactly the input's bytes.
// Every input also checks what Write puts on the output for the frames it holds.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <condition_variable>
#include <mutex>
#include <vector>

#include "FuzzCheck.h"
#include "IO/Detail/RefCounting.h"
#include "IO/KorvelIO/CommunicationChannel.h"
#include "IO/KorvelIO/DataInputMemory.h"

using namespace Korvel::Core;

namespace {

// The worker allocates whatever length it reads. Lengths from 2^63 up are more than a vector
// can hold (std::length_error, caught by the worker). Lengths between kLargestFrame and 2^63
// would really be allocated and zero-filled; ASan's operator new ends the process instead of
// throwing when that fails, so such inputs are only run without the worker.
constexpr uint64_t kLargestFrame = 1ull << 20;
constexpr uint64_t kUnallocatable = 1ull << 63;

// What the worker stores, frame by frame: it reads 8 bytes (missing ones stay zero), stops at
// length 0, resizes its own buffer to the length (new bytes zero, old ones kept) and reads the
// payload over it; bytes the input does not deliver keep what the buffer held. False when the
// input holds a length the fuzz run cannot afford.
bool WorkerModel(const unsigned char* data, size_t size, std::vector<std::vector<unsigned char>>& frames)
{
    std::vector<unsigned char> buffer;
    size_t position = 0;
    for (;;) {
        uint64_t length = 0;
        const size_t header = std::min<size_t>(8, size - position);
        std::memcpy(&length, data + position, header);
        position += header;
        if (length == 0 || length >= kUnallocatable)
            return true;
        if (length > kLargestFrame)
            return false;
        buffer.resize(length);
        const size_t payload = std::min<uint64_t>(length, size - position);
        std::memcpy(buffer.data(), data + position, payload);
        position += payload;
        frames.push_back(buffer);
    }
}

class Handler : public IDataAvailableHandler {
public:
    void OnDataAvailable(unsigned long long size) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_sizes.push_back(size);
    }
    std::vector<unsigned long long> Sizes()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_sizes;
    }

private:
    std::mutex m_mutex;
    std::vector<unsigned long long> m_sizes;
};

// The fuzzer's bytes, held back until Open, so the handler is in place before the worker can
// store a frame.
class GatedInput : public virtual IByteDataInput {
public:
    static boost::intrusive_ptr<GatedInput> Create(const unsigned char* data, size_t size)
    {
        return new GatedInput(data, size);
    }
    unsigned long long Read(unsigned char* buffer, unsigned long long size) override
    {
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_opened.wait(lock, [this] { return m_open; });
        }
        return m_bytes->Read(buffer, size);
    }
    void Open()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_open = true;
        m_opened.notify_all();
    }
    int AddRef() const override;
    int GetRefCount() const override;
    int Release() const override;

private:
    GatedInput(const unsigned char* data, size_t size) : m_bytes(DataInputMemory::Create(data, size)) {}
    Korvel::RefCountImpl m_refCount;
    boost::intrusive_ptr<IDataInput> m_bytes;
    std::mutex m_mutex;
    std::condition_variable m_opened;
    bool m_open = false;
};
KORVEL_DEFINE_REFCOUNT(GatedInput, m_refCount)

// Keeps every byte written to it.
class CollectingOutput : public virtual IByteDataOutput {
public:
    static boost::intrusive_ptr<CollectingOutput> Create() { return new CollectingOutput; }
    unsigned long long Write(const unsigned char* data, unsigned long long size) override
    {
        bytes.insert(bytes.end(), data, data + size);
        return size;
    }
    int AddRef() const override;
    int GetRefCount() const override;
    int Release() const override;

    std::vector<unsigned char> bytes;

private:
    CollectingOutput() = default;
    Korvel::RefCountImpl m_refCount;
};
KORVEL_DEFINE_REFCOUNT(CollectingOutput, m_refCount)

// Read sizes for the reader, deterministic per input.
class Chunks {
public:
    explicit Chunks(uint32_t seed) : m_state(seed * 2654435761u + 1) {}
    // Between 1 and about a sixteenth of `length`, at least up to 97.
    uint64_t Next(uint64_t length)
    {
        m_state ^= m_state << 13;
        m_state ^= m_state >> 17;
        m_state ^= m_state << 5;
        return 1 + m_state % (97 + length / 16);
    }

private:
    uint32_t m_state;
};

void RunWithWorker(const unsigned char* data, size_t size, unsigned char setup,
                   boost::intrusive_ptr<CollectingOutput> output,
                   const std::vector<std::vector<unsigned char>>& expected)
{
    // Bit 1 set: stop reading after (setup >> 2) % 4 frames and destroy the channel there.
    const bool stopEarly = setup & 2;
    const size_t stopAfter = (setup >> 2) % 4;
    Chunks chunks(setup);
    Handler handler;

    auto input = GatedInput::Create(data, size);
    auto channel = CommunicationChannel::Create(input, output, true);
    channel->SetDataAvailableHandler(&handler);
    input->Open();

    std::vector<std::vector<unsigned char>> got;
    for (;;) {
        if (stopEarly && got.size() == stopAfter)
            break;
        unsigned char first = 0;
        if (channel->Read(&first, 1) == 0)
            break;  // the worker has ended and holds nothing
        FUZZ_CHECK(got.size() < expected.size());
        const uint64_t length = expected[got.size()].size();
        // The handler was told of this frame, once, before its first byte could be read. (A
        // one-byte frame is consumed by that read: the next one may be announced already.)
        const auto sizes = handler.Sizes();
        FUZZ_CHECK(sizes.size() == got.size() + 1 || (length == 1 && sizes.size() == got.size() + 2));
        FUZZ_CHECK(sizes[got.size()] == length);
        std::vector<unsigned char> frame(length + 8);
        frame[0] = first;
        uint64_t done = 1;
        while (done < length) {
            FUZZ_CHECK(channel->IsDataAvaliable());
            FUZZ_CHECK(channel->Read(frame.data() + done, 0) == 0);  // takes nothing
            const uint64_t left = length - done;
            uint64_t ask = std::min(chunks.Next(length), left);
            // Asking past the end of the frame gives only what is left.
            if (left < 8 && (chunks.Next(0) & 1))
                ask = left + 8;
            const uint64_t n = channel->Read(frame.data() + done, ask);
            FUZZ_CHECK(n == std::min(ask, left));
            done += n;
        }
        frame.resize(length);
        got.push_back(std::move(frame));
    }

    for (size_t i = 0; i < got.size(); ++i)
        FUZZ_CHECK(got[i] == expected[i]);
    if (!stopEarly || got.size() < stopAfter) {
        FUZZ_CHECK(got.size() == expected.size());  // read to the end: every frame came
        FUZZ_CHECK(handler.Sizes().size() == got.size());
        FUZZ_CHECK(!channel->IsDataAvaliable());
        unsigned char byte = 0;
        FUZZ_CHECK(channel->Read(&byte, 1) == 0);  // still the end, at once
    }
    channel.reset();  // with a frame held, the worker reading, or the worker ended
    FUZZ_CHECK(input->GetRefCount() == 1);
}

void RunWithoutWorker(const unsigned char* data, size_t size, unsigned char setup,
                      boost::intrusive_ptr<CollectingOutput> output)
{
    Chunks chunks(setup);
    auto input = DataInputMemory::Create(data, size);
    auto channel = CommunicationChannel::Create(input, output, false);
    size_t position = 0;
    std::vector<unsigned char> buffer;
    for (;;) {
        uint64_t length = 0;
        const size_t header = std::min<size_t>(8, size - position);
        std::memcpy(&length, data + position, header);
        position += header;
        FUZZ_CHECK(channel->ReadHeader() == length);
        if (length == 0)
            break;
        uint64_t done = 0;
        while (done < length) {
            const uint64_t ask = std::min(chunks.Next(std::min(length, kLargestFrame)), length - done);
            buffer.assign(ask, 0);
            const uint64_t n = channel->Read(buffer.data(), ask);
            FUZZ_CHECK(n == std::min<uint64_t>(ask, size - position));
            FUZZ_CHECK(std::equal(buffer.begin(), buffer.begin() + n, data + position));
            position += n;
            done += n;
            if (n < ask)
                break;  // the input has run dry in the middle of the frame
        }
        if (done < length) {
            FUZZ_CHECK(channel->ReadHeader() == 0);  // end of stream stays the end
            break;
        }
    }
    FUZZ_CHECK(!channel->IsDataAvaliable());
}

// Write puts the 8-byte length in this machine's order, then the payload, and returns the
// output's count for the payload.
void CheckWrites(const unsigned char* data, size_t size, CollectingOutput& output, IDataChannel& channel)
{
    output.bytes.clear();
    std::vector<unsigned char> wanted;
    for (size_t offset = 0, part = 0; offset <= size && part < 4; ++part) {
        const size_t length = std::min<size_t>(data[offset % size] % 64, size - offset);
        const uint64_t prefix = length;
        wanted.insert(wanted.end(), reinterpret_cast<const unsigned char*>(&prefix),
                      reinterpret_cast<const unsigned char*>(&prefix) + 8);
        wanted.insert(wanted.end(), data + offset, data + offset + length);
        FUZZ_CHECK(channel.Write(data + offset, length) == length);
        offset += length + 1;
    }
    FUZZ_CHECK(output.bytes == wanted);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* raw, size_t rawSize)
{
    if (rawSize == 0)
        return 0;
    const unsigned char setup = raw[0];
    const unsigned char* data = raw + 1;
    const size_t size = rawSize - 1;
    auto output = CollectingOutput::Create();
    std::vector<std::vector<unsigned char>> expected;
    if ((setup & 1) && WorkerModel(data, size, expected))
        RunWithWorker(data, size, setup, output, expected);
    else
        RunWithoutWorker(data, size, setup, output);
    if (size != 0) {
        auto channel = CommunicationChannel::Create(DataInputMemory::Create(nullptr, 0), output, false);
        CheckWrites(data, size, *output, *channel);
    }
    return 0;
}
