#pragma once

// A loopback listener that never completes a handshake: it listens with the smallest backlog and
// never accepts, and its accept queue is filled by connections of its own, so the system drops
// every further SYN. A connect to Port() then hangs until its own time limit, without any traffic
// leaving the machine.

#include <cstdint>
#include <string>
#include <vector>

namespace tarnwick::testing {

class SaturatedListener {
public:
    SaturatedListener();
    ~SaturatedListener();
    SaturatedListener(const SaturatedListener&) = delete;
    SaturatedListener& operator=(const SaturatedListener&) = delete;

    std::uint16_t Port() const { return port_; }

private:
    int listen_fd_ = -1;
    std::uint16_t port_ = 0;
    std::vector<int> fillers_;
};

}  // namespace tarnwick::testing
