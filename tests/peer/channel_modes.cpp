// Modes of the channel and fault tests. Each opens TO for reading, then FROM for writing (the
// test opens them the other way round).
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include "common/FrameQueue.h"
#include "IO/ZephIO.h"
#include "common/Frames.h"
#include "peer/Peer.h"

using namespace Korvel::Core;

namespace ZephPeer {

namespace {

bool WriteAll(int fd, const void* data, size_t size)
{
    for (const char* p = static_cast<const char*>(data); size != 0;) {
        const ssize_t n = write(fd, p, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        p += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

// A channel with a worker. Waits for a 2-byte frame, then sends the frames
// FaultFrame(SEED, 0, 1, ...) and prints the count sent after each, while checking the test's
// frames FaultFrame(TowardsPeer(SEED), ...) (exit 3 on a damaged one). Runs until killed.
int Exchange(const Args& args)
{
    if (args.size() != 4)
        return 2;
    const uint64_t seed = Number(args[2]);
    const uint64_t maxSize = Number(args[3]);
    auto input = DataInputPipe::Create(args[0], false);
    auto output = DataOutputPipe::Create(args[1], false);
    ZephCommon::FrameQueue frames;
    auto channel = CommunicationChannel::Create(input, output, true);
    channel->SetDataAvailableHandler(&frames);
    unsigned char go[2];
    if (!frames.ReadFirst(*channel, go, sizeof go))
        return 5;
    std::thread([&] {
        std::vector<unsigned char> frame;
        for (uint64_t i = 0; const unsigned long long size = frames.Next(*channel); ++i) {
            frame.resize(size);
            channel->Read(frame.data(), size);
            if (frame != ZephCommon::FaultFrame(ZephCommon::TowardsPeer(seed), i, maxSize))
                std::_Exit(3);
        }
    }).detach();  // the process ends by SIGKILL, or by _Exit
    for (uint64_t i = 0;; ++i) {
        const auto frame = ZephCommon::FaultFrame(seed, i, maxSize);
        const std::string sent = std::to_string(i + 1) + "\n";
        if (channel->Write(frame.data(), frame.size()) != frame.size() || !WriteAll(1, sent.data(), sent.size()))
            std::_Exit(4);
    }
}

// Plain system calls, obeying commands on stdin, one a line: "frame N" (a whole frame of N
// bytes), "header N" (its length only), "empty" (a zero length), "close" (closes FROM).
int Frames(const Args& args)
{
    if (args.size() != 2)
        return 2;
    const int unused = open(args[0].c_str(), O_RDONLY);
    const int out = open(args[1].c_str(), O_WRONLY);
    if (unused < 0 || out < 0)
        return 8;
    for (std::string command, size; std::cin >> command;) {
        if (command == "close") {
            close(out);
            continue;
        }
        const uint64_t length = command == "empty" ? 0 : (std::cin >> size, Number(size));
        const std::vector<unsigned char> payload(command == "frame" ? length : 0, 'x');
        if (!WriteAll(out, &length, sizeof length) || !WriteAll(out, payload.data(), payload.size()))
            return 9;
    }
    return 0;
}

}  // namespace

std::vector<Mode> ChannelModes()
{
    return {{"exchange", "TO FROM SEED MAXSIZE", Exchange}, {"frames", "TO FROM", Frames}};
}

}  // namespace ZephPeer
