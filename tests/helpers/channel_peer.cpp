// The other process of the two-process channel tests. Usage: channel_peer MODE IN OUT
// It opens IN for reading, then OUT for writing (the test opens them the other way round).
//   echo           channel with a worker; says "ready", then sends every frame back unchanged
//                  until its worker ends.
//   send-then-die  waits for a frame, sends "one", "two", "three", then the first 10 bytes of
//                  a 100-byte frame, and kills itself.
//   garbage        waits for a frame, sends "whole", then a length of 2^64-1 and some junk;
//                  exits when the test closes its end.
//   huge           waits for a frame, announces 2^30 bytes and sends four; exits when the test
//                  closes its end.
#include <csignal>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include <glog/logging.h>

#include "FrameQueue.h"
#include "IO/ZephIO.h"

using namespace Korvel::Core;

namespace {

void Send(IDataChannel& channel, const std::string& text)
{
    channel.Write(reinterpret_cast<const unsigned char*>(text.data()), text.size());
}

int Echo(IDataChannel& channel, ZephExamples::FrameQueue& frames)
{
    Send(channel, "ready");
    std::vector<unsigned char> frame;
    while (const unsigned long long size = frames.Next(channel)) {
        frame.resize(size);
        channel.Read(frame.data(), size);
        if (channel.Write(frame.data(), size) != size)
            return 1;
    }
    return 0;
}

// Without a worker: the test's "go" frame says its handler is in place.
void AwaitGo(IDataChannel& channel)
{
    std::vector<unsigned char> go(channel.ReadHeader());
    channel.Read(go.data(), go.size());
}

}  // namespace

int main(int argc, char** argv)
{
    FLAGS_minloglevel = google::GLOG_WARNING;
    if (argc != 4) {
        std::cerr << "usage: channel_peer echo|send-then-die|garbage|huge IN OUT\n";
        return 2;
    }
    const std::string mode = argv[1];
    auto input = DataInputPipe::Create(argv[2], false);
    auto output = DataOutputPipe::Create(argv[3], false);
    ZephExamples::FrameQueue frames;
    auto channel = CommunicationChannel::Create(input, output, mode == "echo");
    if (mode == "echo") {
        channel->SetDataAvailableHandler(&frames);
        return Echo(*channel, frames);
    }
    AwaitGo(*channel);
    if (mode == "send-then-die") {
        Send(*channel, "one");
        Send(*channel, "two");
        Send(*channel, "three");
        const unsigned long long length = 100;
        output->Write(reinterpret_cast<const unsigned char*>(&length), sizeof length);
        output->Write(reinterpret_cast<const unsigned char*>("0123456789"), 10);
        raise(SIGKILL);
    }
    if (mode == "garbage") {
        Send(*channel, "whole");
        const unsigned char junk[] = {0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 1, 2, 3, 4, 5, 6, 7};
        output->Write(junk, sizeof junk);
        channel->ReadHeader();  // returns at end of input: the test has closed its end
        return 0;
    }
    if (mode == "huge") {
        const unsigned long long length = 1ULL << 30;
        output->Write(reinterpret_cast<const unsigned char*>(&length), sizeof length);
        output->Write(reinterpret_cast<const unsigned char*>("four"), 4);
        channel->ReadHeader();
        return 0;
    }
    return 2;
}
