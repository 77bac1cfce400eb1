#pragma once
// Byte patterns and the checksum that the example, the benchmarks and the tests share: both
// ends of a transfer can rebuild the same bytes from a seed, so lost, doubled, reordered or
// damaged bytes show up without the sender describing what it sent.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace ZephCommon {

// splitmix64: a fast generator whose outputs are well mixed for any state.
inline uint64_t SplitMix64(uint64_t& state)
{
    uint64_t z = (state += 0x9e3779b97f4a7c15ull);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
    return z ^ (z >> 31);
}

// Fills `size` bytes with the generator's words, least significant byte first.
inline void FillPattern(unsigned char* data, size_t size, uint64_t& state)
{
    for (size_t i = 0; i < size; i += 8) {
        const uint64_t word = SplitMix64(state);
        for (size_t b = 0; b < 8 && i + b < size; ++b)
            data[i + b] = static_cast<unsigned char>(word >> (8 * b));
    }
}

// Frame `index` of a seeded sequence, between 1 and `maxSize` bytes: never empty, since an
// empty frame ends the receiving worker.
inline std::vector<unsigned char> FaultFrame(uint64_t seed, uint64_t index, uint64_t maxSize)
{
    uint64_t state = seed * 0x2545f4914f6cdd1dull + index;
    std::vector<unsigned char> frame(1 + SplitMix64(state) % maxSize);
    FillPattern(frame.data(), frame.size(), state);
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

// A cheaper sequence that differs at every offset of a short run, for transfers compared
// byte by byte.
inline unsigned char PatternByte(size_t i)
{
    return static_cast<unsigned char>((i * 31 + 7) ^ (i >> 8));
}

inline std::string Pattern(size_t size)
{
    std::string s(size, '\0');
    for (size_t i = 0; i < size; ++i)
        s[i] = static_cast<char>(PatternByte(i));
    return s;
}

// A 64-bit checksum over 8-byte words (FNV-1a style with extra mixing), fast enough not to
// dominate a throughput measurement. The size takes part, so trailing zero bytes count.
inline uint64_t Checksum(const unsigned char* data, size_t size)
{
    uint64_t h = 0xcbf29ce484222325ull ^ size;
    size_t i = 0;
    for (; i + 8 <= size; i += 8) {
        uint64_t word;
        std::memcpy(&word, data + i, 8);
        h = (h ^ word) * 0x100000001b3ull;
        h ^= h >> 29;
    }
    for (; i < size; ++i)
        h = (h ^ data[i]) * 0x100000001b3ull;
    return h;
}

}  // namespace ZephCommon
