#pragma once
// FrameQueue: the IDataAvailableHandler of a process that reads a channel with a worker on
// another thread. The worker announces each frame's size here (with the channel mutex held,
// before any reader can take a byte of it); the reading thread picks the size up with Next
// and then reads the frame.
//
// Set it on the channel before the peer sends anything: a frame that arrives before the
// handler is never announced. Peers therefore wait for a first frame from this side.
#include <deque>
#include <mutex>

#include "IO/IDataChannel.h"

namespace ZephCommon {

class FrameQueue : public Korvel::Core::IDataAvailableHandler {
public:
    void OnDataAvailable(unsigned long long size) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_sizes.push_back(size);
    }

    // Waits for the next frame and returns its size, or 0 once the channel's worker has ended
    // (empty frame, end of input or a failure): then no frame will come any more. An empty
    // Read waits for a held frame or for the worker's end; the size of a held frame is
    // already queued by then.
    unsigned long long Next(Korvel::Core::IDataChannel& channel)
    {
        unsigned char none = 0;
        channel.Read(&none, 0);
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_sizes.empty())
            return 0;
        const unsigned long long size = m_sizes.front();
        m_sizes.pop_front();
        return size;
    }

    // Reads a first frame of a known `size` that the peer may have sent before this handler
    // was set: held but never announced, or announced and queued. False when no such frame
    // came (the worker ended, or the frame has another size).
    bool ReadFirst(Korvel::Core::IDataChannel& channel, unsigned char* buffer, unsigned long long size)
    {
        const unsigned long long announced = Next(channel);
        if (announced != size && !(announced == 0 && channel.IsDataAvaliable()))
            return false;
        return channel.Read(buffer, size) == size;
    }

private:
    std::mutex m_mutex;
    std::deque<unsigned long long> m_sizes;
};

}  // namespace ZephCommon
