// Modes of the pipe tests (to be filled from helpers/pipes_peer.cpp).
#include "peer/Peer.h"

namespace ZephPeer {

std::vector<Mode> PipeModes()
{
    return {};
}

}  // namespace ZephPeer
