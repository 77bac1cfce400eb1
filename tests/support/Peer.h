#pragma once
// Starts the test peer program (tests/peer) in one of its modes.
#include <chrono>
#include <string>
#include <vector>

#include "support/ChildProcess.h"

namespace ZephTest {

const std::chrono::seconds kPeerTimeout(20);

inline ChildProcess StartPeer(const std::vector<std::string>& args,
                              ChildProcess::Stdin in = ChildProcess::Stdin::Inherit,
                              ChildProcess::Stdout out = ChildProcess::Stdout::Inherit)
{
    std::vector<std::string> argv{ZEPHTEST_PEER};
    argv.insert(argv.end(), args.begin(), args.end());
    return ChildProcess(argv, in, out);
}

// The peer's exit code, or -1 when it did not end within kPeerTimeout (it is then killed).
inline int ExitOf(ChildProcess& peer)
{
    int code = -1;
    return peer.Wait(kPeerTimeout, &code) ? code : -1;
}

}  // namespace ZephTest
