#pragma once
// Frames that both processes of a fault test build from the same (seed, index), so the
// receiver checks every byte of what arrived without the sender telling it.
#include <cstdint>
#include <vector>

namespace ZephTest {

inline uint64_t SplitMix64(uint64_t& state)
{
    uint64_t z = (state += 0x9e3779b97f4a7c15ull);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
    return z ^ (z >> 31);
}

// Between 1 and `maxSize` bytes: never empty, since an empty frame ends the receiving worker.
inline std::vector<unsigned char> FaultFrame(uint64_t seed, uint64_t index, uint64_t maxSize)
{
    uint64_t state = seed * 0x2545f4914f6cdd1dull + index;
    std::vector<unsigned char> frame(1 + SplitMix64(state) % maxSize);
    for (size_t i = 0; i < frame.size(); i += 8) {
        const uint64_t word = SplitMix64(state);
        for (size_t b = 0; b < 8 && i + b < frame.size(); ++b)
            frame[i + b] = static_cast<unsigned char>(word >> (8 * b));
    }
    return frame;
}

// The sides of an exchange use different seeds for the two directions.
inline uint64_t TowardsPeer(uint64_t seed)
{
    return seed ^ 0x70c0ffee;
}

// Byte `offset` of an endless stream without short repeats, so lost, doubled or reordered
// blocks of any size show up.
inline unsigned char StreamByte(uint64_t offset)
{
    uint64_t state = offset / 8;
    return static_cast<unsigned char>(SplitMix64(state) >> (8 * (offset % 8)));
}

}  // namespace ZephTest
