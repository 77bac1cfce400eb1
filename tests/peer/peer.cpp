#include "peer/Peer.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include <glog/logging.h>

#include "common/Process.h"

namespace ZephPeer {

unsigned long long Number(const std::string& text)
{
    unsigned long long value = 0;
    if (!ZephCommon::ParseNumber(text, value)) {
        std::fprintf(stderr, "test_peer: not a number: '%s'\n", text.c_str());
        std::exit(2);
    }
    return value;
}

}  // namespace ZephPeer

int main(int argc, char** argv)
{
    // Never outlive a test that has gone wrong.
    alarm(30);
    FLAGS_logtostderr = true;
    FLAGS_minloglevel = google::GLOG_ERROR;
    std::vector<ZephPeer::Mode> modes = ZephPeer::PipeModes();
    for (const ZephPeer::Mode& mode : ZephPeer::ChannelModes())
        modes.push_back(mode);
    const std::string name = argc > 1 ? argv[1] : "";
    for (const ZephPeer::Mode& mode : modes) {
        if (name == mode.name)
            return mode.run(ZephPeer::Args(argv + 2, argv + argc));
    }
    std::fprintf(stderr, "usage: test_peer MODE ARGS...\n");
    for (const ZephPeer::Mode& mode : modes)
        std::fprintf(stderr, "  %s %s\n", mode.name, mode.usage);
    return 2;
}
