#pragma once
// The command line of frame_exchange: its options, their limits and the usage text.
#include <string>
#include <vector>

namespace FrameExchange {

// A soak run compares memory and descriptors after this many frames with the end; memory must
// stay within this share.
constexpr unsigned long long kSoakSettled = 1000;
constexpr double kSoakMemoryTolerance = 0.10;

struct Options {
    unsigned long long frames = 5000, minSize = 1, maxSize = 64 << 10, seed = 1, crashPeerAfter = 0;
    bool verbose = false, soak = false, poll = false;
};

// Reads the options from `args` and checks their limits. -1 when the program goes on with
// `options`; else the exit code to end with, the usage text printed (on stderr after a
// problem, with exit code 2).
int ParseOptions(const std::vector<std::string>& args, Options& options);

// Prints the problem and the usage text on stderr; gives the exit code 2.
int Usage(const std::string& problem);

}  // namespace FrameExchange
