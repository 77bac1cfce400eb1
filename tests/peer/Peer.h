#pragma once
// The one peer program of the multi-process tests: `test_peer MODE ARGS...`. Each area of the
// suite adds its modes in its own source file; main() finds the mode and runs it.
#include <string>
#include <vector>

namespace ZephPeer {

using Args = std::vector<std::string>;

struct Mode {
    const char* name;
    const char* usage;  // the arguments after the mode's name
    int (*run)(const Args& args);
};

std::vector<Mode> PipeModes();
std::vector<Mode> ChannelModes();

// A whole number (decimal, k or m suffix); ends the peer with status 2 for anything else.
unsigned long long Number(const std::string& text);

}  // namespace ZephPeer
