#pragma once

// A connection to a server whose whole answer is known up front, for the fuzz targets.

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <string>
#include <string_view>

#include "net/IdIOHandler.h"

namespace tarnwick {

// A connection to a server whose whole answer is known up front: each receive takes the next
// piece, and the end of the bytes is the server's close. Requests are swallowed.
class TMemoryIOHandler : public TIdIOHandler {
public:
    TMemoryIOHandler(std::string_view bytes, std::size_t piece) : bytes_(bytes), piece_(piece) {}

    void ConnectTo(const std::string&, int, const std::string&, int, int, int, int) override {
        connected_ = true;
    }
    void CloseHandler() override { connected_ = false; }
    bool HandlerConnected() override { return connected_; }
    bool WaitReadable(int) override { return true; }
    int ReceiveInto(void* buffer, int length) override {
        if (!connected_) return -1;
        const std::size_t n = std::min({piece_, std::size_t(length), bytes_.size()});
        std::memcpy(buffer, bytes_.data(), n);
        bytes_.remove_prefix(n);
        return int(n);
    }
    int SendFrom(const void*, int length) override { return connected_ ? length : -1; }

private:
    std::string_view bytes_;
    std::size_t piece_;
    bool connected_ = false;
};

}  // namespace tarnwick
