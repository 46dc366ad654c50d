#pragma once

// A loopback port that refuses connections: bound on 127.0.0.1 but not listening, and held for
// the object's life so no one else takes it.

#include <cstdint>
#include <string>

namespace tarnwick::testing {

class RefusingPort {
public:
    RefusingPort();
    ~RefusingPort();
    RefusingPort(const RefusingPort&) = delete;
    RefusingPort& operator=(const RefusingPort&) = delete;

    std::uint16_t Port() const { return port_; }
    std::string PortText() const { return std::to_string(port_); }

private:
    int fd_ = -1;
    std::uint16_t port_ = 0;
};

}  // namespace tarnwick::testing
