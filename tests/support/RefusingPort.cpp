#include "support/RefusingPort.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace tarnwick::testing {

RefusingPort::RefusingPort() : fd_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (fd_ < 0 || ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) < 0 ||
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) < 0) {
        const int error = errno;
        if (fd_ >= 0) ::close(fd_);
        throw std::runtime_error(std::string("refusing port: ") + std::strerror(error));
    }
    port_ = ntohs(address.sin_port);
}

RefusingPort::~RefusingPort() { ::close(fd_); }

}  // namespace tarnwick::testing
