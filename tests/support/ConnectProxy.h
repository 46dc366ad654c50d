#pragma once

// A small HTTP proxy on 127.0.0.1 that only opens tunnels: it answers "CONNECT host:port" for a
// loopback host with "200 Connection established" and then relays bytes both ways until either
// side closes; anything else gets "403 Forbidden". Each connection's request head is recorded.

#include <cstdint>
#include <string>

#include "support/LoopbackPeer.h"

namespace tarnwick::testing {

class ConnectProxy {
public:
    ConnectProxy();

    std::uint16_t Port() const { return peer_.Port(); }
    int Accepted() const { return peer_.Accepted(); }
    // The request head the index-th connection sent (0-based), up to its empty line.
    std::string RequestHead(int index = 0) const;

private:
    LoopbackPeer peer_;
};

}  // namespace tarnwick::testing
