// A communication channel fed with the fuzzer's bytes. The first byte picks the set-up (bit 0:
// a worker; bit 1: stop reading after (setup >> 2) % 4 frames and destroy the channel there;
// bit 4: the worker's frames bounded at kLargestFrame, a frame of exactly that allowed; bit 5: read-ahead) and seeds
// the read sizes; the rest is the input stream. With a worker, readers must get exactly the frames a model of the
// worker predicts, each announced once before its first byte, then end of stream; read-ahead changes none of that.
// Without, ReadHeader and Read pass the input's bytes through. (What Write puts out, every exchange with the test peer
// checks.)
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "FuzzCheck.h"
#include "IO/ZephIO.h"
#include "../tests/support/Doubles.h"

using namespace Korvel::Core;
using Frames = std::vector<std::vector<unsigned char>>;

namespace {

// No vector holds 2^63 bytes or more (the worker catches std::length_error). Lengths between
// kLargestFrame and that would really be allocated, which ASan ends the process for, so such
// inputs run without the worker.
constexpr uint64_t kLargestFrame = 1ull << 20;
constexpr uint64_t kUnallocatable = 1ull << 63;

// The next length of the input; the bytes of a short one stay zero.
uint64_t NextLength(const unsigned char* data, size_t size, size_t& position)
{
    uint64_t length = 0;
    const size_t n = std::min<size_t>(8, size - position);
    std::memcpy(&length, data + position, n);
    position += n;
    return length;
}

// Bit 4 of the set-up bounds the worker's frames.
uint64_t Bound(unsigned char setup)
{
    return setup & 0x10 ? kLargestFrame : ~0ull;
}

// The worker's frames: length 0 or one above the bound ends it; its buffer is resized to each
// length (new bytes zero, old ones kept) and the payload read over it. False for a length the
// run cannot afford.
bool WorkerModel(const unsigned char* data, size_t size, uint64_t bound, Frames& frames)
{
    std::vector<unsigned char> buffer;
    for (size_t position = 0;;) {
        const uint64_t length = NextLength(data, size, position);
        if (length == 0 || length > bound || length >= kUnallocatable)
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

// Read sizes, deterministic per input: 1 to about a sixteenth of `length` (at least 97).
struct Chunks {
    uint32_t state;
    uint64_t Next(uint64_t length)
    {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return 1 + state % (97 + length / 16);
    }
};

void RunWithWorker(const unsigned char* data, size_t size, unsigned char setup, const Frames& expected)
{
    const bool stopEarly = setup & 2;
    const size_t stopAfter = (setup >> 2) % 4;
    Chunks chunks{setup * 2654435761u + 1};
    ZephTest::RecordingHandler handler;
    boost::intrusive_ptr<ZephTest::MemoryInput> input(new ZephTest::MemoryInput(data, size, false));
    std::string sink;
    ChannelOptions options;
    options.maxFrameLength = Bound(setup);
    options.readAhead = setup & 0x20;
    auto channel = CommunicationChannel::Create(input, DataOutputString::Create(&sink), options);
    channel->SetDataAvailableHandler(&handler);
    input->Open();

    Frames got;
    unsigned char first = 0;
    while (!(stopEarly && got.size() == stopAfter) && channel->Read(&first, 1) == 1) {
        FUZZ_CHECK(got.size() < expected.size());
        const uint64_t length = expected[got.size()].size();
        // Announced once before its first byte was read (a one-byte frame is consumed by that
        // read, so the next one may be announced already).
        const auto sizes = handler.Sizes();
        FUZZ_CHECK(sizes.size() == got.size() + 1 || (length == 1 && sizes.size() == got.size() + 2));
        FUZZ_CHECK(sizes[got.size()] == length);
        std::vector<unsigned char> frame(length + 8);
        frame[0] = first;
        for (uint64_t done = 1; done < length;) {
            FUZZ_CHECK(channel->IsDataAvaliable());
            FUZZ_CHECK(channel->Read(frame.data() + done, 0) == 0);
            const uint64_t left = length - done;
            // Asking past the end of the frame gives only what is left.
            const uint64_t ask = left < 8 && (chunks.Next(0) & 1) ? left + 8 : std::min(chunks.Next(length), left);
            const uint64_t n = channel->Read(frame.data() + done, ask);
            FUZZ_CHECK(n == std::min(ask, left));
            done += n;
        }
        frame.resize(length);
        got.push_back(std::move(frame));
    }
    FUZZ_CHECK(std::equal(got.begin(), got.end(), expected.begin()));
    if (!stopEarly || got.size() < stopAfter) {
        FUZZ_CHECK(got.size() == expected.size() && handler.Sizes().size() == got.size());
        FUZZ_CHECK(!channel->IsDataAvaliable());
        FUZZ_CHECK(channel->Read(&first, 1) == 0);  // still the end, at once
    }
    channel.reset();  // with a frame held, the worker reading, or the worker ended
    FUZZ_CHECK(input->GetRefCount() == 1 && input->cancels == 1);
}

void RunWithoutWorker(const unsigned char* data, size_t size, unsigned char setup)
{
    Chunks chunks{setup * 2654435761u + 1};
    boost::intrusive_ptr<ZephTest::MemoryInput> input(new ZephTest::MemoryInput(data, size, true));
    std::string sink;
    auto channel = CommunicationChannel::Create(input, DataOutputString::Create(&sink), false);
    std::vector<unsigned char> buffer;
    for (size_t position = 0;;) {
        const uint64_t length = NextLength(data, size, position);
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
    // Cancel, reached through either face, goes to the input.
    channel->Cancel();
    static_cast<IByteDataOutput&>(*channel).Cancel();
    FUZZ_CHECK(input->cancels == 2);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* raw, size_t rawSize)
{
    if (rawSize == 0)
        return 0;
    Frames expected;
    if ((raw[0] & 1) && WorkerModel(raw + 1, rawSize - 1, Bound(raw[0]), expected))
        RunWithWorker(raw + 1, rawSize - 1, raw[0], expected);
    else
        RunWithoutWorker(raw + 1, rawSize - 1, raw[0]);
    return 0;
}
