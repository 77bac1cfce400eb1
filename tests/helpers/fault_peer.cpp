// The other process of the fault-injection tests.
//
//   fault_peer exchange TO FROM SEED MAXSIZE
//       Opens TO for reading, then FROM for writing, and runs a channel with a worker over
//       them. Waits for a 2-byte frame from the test, answers "ready", then sends the frames
//       FaultFrame(SEED, 0, 1, ...) without end while checking the test's frames
//       FaultFrame(TowardsPeer(SEED), ...) on another thread. After each frame whose Write has
//       returned it prints its count ("<n>\n") on stdout. Runs until it is killed; exits 3 if
//       a frame from the test arrives damaged.
//   fault_peer frames TO FROM
//       Opens TO for reading, then FROM for writing, with plain system calls, and obeys
//       commands read from stdin, one per line: "frame N" (a whole frame of N bytes),
//       "header N" (only the length), "empty" (a zero length), "close" (close FROM). Exits at
//       the end of stdin.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include <glog/logging.h>

#include "FrameQueue.h"
#include "IO/ZephIO.h"
#include "helpers/FaultFrames.h"

using namespace Korvel::Core;

namespace {

bool WriteAll(int fd, const void* data, size_t size)
{
    const char* p = static_cast<const char*>(data);
    while (size != 0) {
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

int Exchange(const std::string& to, const std::string& from, uint64_t seed, uint64_t maxSize)
{
    auto input = DataInputPipe::Create(to, false);
    auto output = DataOutputPipe::Create(from, false);
    ZephExamples::FrameQueue frames;
    auto channel = CommunicationChannel::Create(input, output, true);
    channel->SetDataAvailableHandler(&frames);

    unsigned char go[2];
    if (!frames.ReadFirst(*channel, go, sizeof go))
        return 5;
    const unsigned char ready[] = {'r', 'e', 'a', 'd', 'y'};
    channel->Write(ready, sizeof ready);

    std::thread checker([&] {
        std::vector<unsigned char> frame;
        for (uint64_t i = 0;; ++i) {
            const unsigned long long size = frames.Next(*channel);
            if (size == 0)
                return;
            frame.resize(size);
            channel->Read(frame.data(), size);
            if (frame != ZephTest::FaultFrame(ZephTest::TowardsPeer(seed), i, maxSize))
                std::_Exit(3);
        }
    });
    checker.detach();  // the process ends by SIGKILL, or by _Exit

    for (uint64_t i = 0;; ++i) {
        const auto frame = ZephTest::FaultFrame(seed, i, maxSize);
        if (channel->Write(frame.data(), frame.size()) != frame.size())
            std::_Exit(4);
        const std::string sent = std::to_string(i + 1) + "\n";
        if (!WriteAll(1, sent.data(), sent.size()))
            std::_Exit(6);
    }
}

int Frames(const std::string& to, const std::string& from)
{
    const int unused = open(to.c_str(), O_RDONLY);
    const int out = open(from.c_str(), O_WRONLY);
    if (unused < 0 || out < 0)
        return 8;
    std::string command;
    while (std::cin >> command) {
        if (command == "frame" || command == "header") {
            uint64_t size = 0;
            std::cin >> size;
            std::vector<unsigned char> payload(size);
            for (uint64_t i = 0; i < size; ++i)
                payload[i] = ZephTest::StreamByte(i);
            if (!WriteAll(out, &size, sizeof size) || (command == "frame" && !WriteAll(out, payload.data(), size)))
                return 9;
        } else if (command == "empty") {
            const uint64_t zero = 0;
            if (!WriteAll(out, &zero, sizeof zero))
                return 9;
        } else if (command == "close") {
            close(out);
        }
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    alarm(60);  // never outlive a test that has gone wrong
    FLAGS_logtostderr = true;
    FLAGS_minloglevel = google::GLOG_FATAL;  // interruptions and ends are expected here
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "exchange" && argc == 6)
        return Exchange(argv[2], argv[3], std::strtoull(argv[4], nullptr, 10), std::strtoull(argv[5], nullptr, 10));
    if (mode == "frames" && argc == 4)
        return Frames(argv[2], argv[3]);
    std::fprintf(stderr, "usage: fault_peer exchange TO FROM SEED MAXSIZE | frames TO FROM\n");
    return 2;
}
