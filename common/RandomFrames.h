#pragma once
// RandomFrames: a sender's frames of random sizes and contents from a seed, each recorded with
// what its receiver must see (length and checksum) and when it was made; and SentFrames, the
// record of frames sent and not yet answered, shared between a sending and a checking thread.
#include <chrono>
#include <cstdint>
#include <deque>
#include <mutex>
#include <random>
#include <vector>

#include "common/Frames.h"

namespace ZephCommon {

struct SentFrame {
    unsigned long long length = 0, checksum = 0;
    std::chrono::steady_clock::time_point time;
};

class RandomFrames {
public:
    RandomFrames(uint64_t seed, unsigned long long minSize, unsigned long long maxSize)
        : m_random(seed), m_sizes(minSize, maxSize)
    {
    }

    // Makes the next frame in `frame`, stamped as sent now.
    SentFrame Next(std::vector<unsigned char>& frame)
    {
        frame.resize(m_sizes(m_random));
        uint64_t state = m_random();
        FillPattern(frame.data(), frame.size(), state);
        return {frame.size(), Checksum(frame.data(), frame.size()), std::chrono::steady_clock::now()};
    }

private:
    std::mt19937_64 m_random;
    std::uniform_int_distribution<unsigned long long> m_sizes;
};

class SentFrames {
public:
    void Push(const SentFrame& frame)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_frames.push_back(frame);
    }
    // The oldest frame not yet taken; false when there is none.
    bool Pop(SentFrame& frame)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_frames.empty())
            return false;
        frame = m_frames.front();
        m_frames.pop_front();
        return true;
    }

private:
    std::mutex m_mutex;
    std::deque<SentFrame> m_frames;
};

}  // namespace ZephCommon
