// Modes of the channel and fault tests. Each opens TO for reading, then FROM for writing (the
// test opens them the other way round).
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include "IO/ZephIO.h"
#include "common/FrameQueue.h"
#include "common/Frames.h"
#include "peer/Peer.h"

using namespace Korvel::Core;

namespace ZephPeer {

namespace {

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
        if (channel->Write(frame.data(), frame.size()) != frame.size() || !(std::cout << i + 1 << std::endl))
            std::_Exit(4);
    }
}

// Plain file streams, not the library, obeying commands on stdin, one a line: "frame N" (a whole frame of N
// bytes), "header N" (its length only), "empty" (a zero length), "close" (closes FROM).
int Frames(const Args& args)
{
    if (args.size() != 2)
        return 2;
    std::ifstream unused(args[0]);
    std::ofstream out(args[1], std::ios::binary);
    for (std::string command, size; std::cin >> command;) {
        if (command == "close") {
            out.close();
            continue;
        }
        const uint64_t length = command == "empty" ? 0 : (std::cin >> size, Number(size));
        const std::string payload(command == "frame" ? length : 0, 'x');
        if (!(out.write(reinterpret_cast<const char*>(&length), sizeof length) << payload << std::flush))
            return 9;
    }
    return 0;
}

// Opens the FIFOs, writes the first `sent` bytes of a 1000-byte frame (0: nothing), and then
// stays silent until killed.
int Silent(const Args& args, std::streamsize sent)
{
    if (args.size() != 2)
        return 2;
    std::ifstream unused(args[0]);
    std::ofstream out(args[1], std::ios::binary);
    std::string frame(8 + 1000, 'x');
    const uint64_t length = 1000;
    frame.replace(0, 8, reinterpret_cast<const char*>(&length), 8);
    if (!out.write(frame.data(), sent).flush())
        return 9;
    for (;;)
        pause();
}

}  // namespace

std::vector<Mode> ChannelModes()
{
    return {{"exchange", "TO FROM SEED MAXSIZE", Exchange},
            {"frames", "TO FROM", Frames},
            {"silent", "TO FROM", [](const Args& args) { return Silent(args, 0); }},
            {"half-header", "TO FROM", [](const Args& args) { return Silent(args, 4); }},
            {"half-frame", "TO FROM", [](const Args& args) { return Silent(args, 12); }}};
}

}  // namespace ZephPeer
