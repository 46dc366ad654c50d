#include "support/SaturatedListener.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace tarnwick::testing {

namespace {

[[noreturn]] void Fail(const char* what) {
    throw std::runtime_error(std::string(what) + ": " + std::strerror(errno));
}

}  // namespace

SaturatedListener::SaturatedListener() {
    listen_fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listen_fd_ < 0) Fail("socket");
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(listen_fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) < 0 ||
        ::listen(listen_fd_, 0) < 0) {
        ::close(listen_fd_);
        Fail("listen");
    }
    socklen_t length = sizeof address;
    ::getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);

    // Connect until a handshake no longer completes: the queue is then full. On loopback a
    // handshake takes microseconds, so a quarter second without completion means dropped.
    for (int attempt = 0; attempt < 16; ++attempt) {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        if (fd < 0) Fail("socket");
        fillers_.push_back(fd);
        if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) continue;
        if (errno != EINPROGRESS) Fail("connect");
        pollfd p{fd, POLLOUT, 0};
        if (::poll(&p, 1, 250) == 0) return;
    }
    throw std::runtime_error("the listener's accept queue did not fill");
}

SaturatedListener::~SaturatedListener() {
    for (int fd : fillers_) ::close(fd);
    ::close(listen_fd_);
}

}  // namespace tarnwick::testing
