#include "frame_exchange_options.h"

#include <iostream>

#include "common/OptionParser.h"

namespace FrameExchange {
namespace {

const char kUsage[] =
    "usage: frame_exchange [options]\n"
    "  -n, --frames N          frames to send (default 5000)\n"
    "      --min-size BYTES    smallest frame payload (default 1)\n"
    "      --max-size BYTES    largest frame payload (default 64k)\n"
    "      --seed N            seed for frame sizes and contents (default 1)\n"
    "      --soak              keep many frames on their way and check that memory and descriptors\n"
    "                          stay flat (more than 1000 frames)\n"
    "      --poll              the peer waits for frames in its own poll() loop on a descriptor\n"
    "  -v, --verbose           log every pipe system call (glog INFO)\n"
    "      --crash-peer-after N  make the peer die abruptly after N answers (shows the error path)\n"
    "  -h, --help              show this text\n"
    "Sizes take an optional k or m suffix (KiB, MiB); payloads are 1 byte to 256m.\n";

constexpr unsigned long long kMaxFrameSize = 256ULL << 20;
constexpr unsigned long long kMaxFrames = 1000000000ULL;

}  // namespace

int Usage(const std::string& problem)
{
    std::cerr << "frame_exchange: " << problem << "\n" << kUsage;
    return 2;
}

int ParseOptions(const std::vector<std::string>& args, Options& options)
{
    ZephCommon::OptionParser parser;
    parser.Number("-n", "--frames", options.frames);
    parser.Number("--min-size", "", options.minSize);
    parser.Number("--max-size", "", options.maxSize);
    parser.Number("--seed", "", options.seed);
    parser.Number("--crash-peer-after", "", options.crashPeerAfter);
    parser.Switch("-v", "--verbose", options.verbose);
    parser.Switch("--soak", "", options.soak);
    parser.Switch("--poll", "", options.poll);
    bool help = false;
    if (const std::string problem = parser.Parse(args, help); !problem.empty())
        return Usage(problem);
    if (help) {
        std::cout << kUsage;
        return 0;
    }
    if (options.frames < 1 || options.frames > kMaxFrames)
        return Usage("--frames must be between 1 and " + std::to_string(kMaxFrames));
    if (options.minSize < 1 || options.maxSize > kMaxFrameSize)
        return Usage("frame sizes must be between 1 and " + std::to_string(kMaxFrameSize) +
                     " (an empty frame would end the peer)");
    if (options.minSize > options.maxSize)
        return Usage("--min-size is larger than --max-size");
    if (options.soak && options.frames <= kSoakSettled)
        return Usage("--soak needs more than " + std::to_string(kSoakSettled) + " frames");
    return -1;
}

}  // namespace FrameExchange
