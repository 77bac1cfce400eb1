// Modes of the channel and fault tests (to be filled from helpers/channel_peer.cpp and helpers/fault_peer.cpp).
#include "peer/Peer.h"

namespace ZephPeer {

std::vector<Mode> ChannelModes()
{
    return {};
}

}  // namespace ZephPeer
