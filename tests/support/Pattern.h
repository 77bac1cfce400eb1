#pragma once
// A byte sequence that differs at every offset of a short run, so lost, doubled or
// reordered bytes show up when a transfer is compared with it.
#include <cstddef>
#include <string>

namespace ZephTest {

inline unsigned char PatternByte(std::size_t i)
{
    return static_cast<unsigned char>((i * 31 + 7) ^ (i >> 8));
}

inline std::string Pattern(std::size_t size)
{
    std::string s(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
        s[i] = static_cast<char>(PatternByte(i));
    return s;
}

}  // namespace ZephTest
