#include "support/ConnectProxy.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <cstdlib>

namespace tarnwick::testing {

namespace {

class Socket {
public:
    Socket() : fd_(::socket(AF_INET, SOCK_STREAM, 0)) {}
    ~Socket() {
        if (fd_ >= 0) ::close(fd_);
    }
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;
    int Fd() const { return fd_; }

private:
    int fd_;
};

bool ConnectLoopback(const Socket& socket, int port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    return socket.Fd() >= 0 &&
           ::connect(socket.Fd(), reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
}

// Moves what one side has to the other; false when the side closed or failed.
bool Pass(int from, int to) {
    std::array<char, 65536> buffer;
    const ssize_t n = ::recv(from, buffer.data(), buffer.size(), 0);
    if (n <= 0) return false;
    for (ssize_t sent = 0; sent < n;) {
        const ssize_t m = ::send(to, buffer.data() + sent, static_cast<std::size_t>(n - sent),
                                 MSG_NOSIGNAL);
        if (m <= 0) return false;
        sent += m;
    }
    return true;
}

void Tunnel(PeerConnection& c) {
    const std::string head = c.ReceiveUntil("\r\n\r\n");
    const std::string line = head.substr(0, head.find("\r\n"));
    // "CONNECT host:port HTTP/1.1", for loopback hosts only.
    int port = 0;
    for (const std::string host : {"127.0.0.1:", "localhost:"}) {
        const std::string prefix = "CONNECT " + host;
        if (line.rfind(prefix, 0) == 0) port = std::atoi(line.c_str() + prefix.size());
    }
    Socket upstream;
    if (port <= 0 || !ConnectLoopback(upstream, port)) {
        c.Send("HTTP/1.1 403 Forbidden\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
        return;
    }
    c.Send("HTTP/1.1 200 Connection established\r\n\r\n");
    std::array<pollfd, 2> fds{pollfd{c.Fd(), POLLIN, 0}, pollfd{upstream.Fd(), POLLIN, 0}};
    for (;;) {
        if (::poll(fds.data(), fds.size(), -1) < 0) return;
        if ((fds[0].revents & (POLLIN | POLLHUP | POLLERR)) && !Pass(c.Fd(), upstream.Fd()))
            return;
        if ((fds[1].revents & (POLLIN | POLLHUP | POLLERR)) && !Pass(upstream.Fd(), c.Fd()))
            return;
    }
}

}  // namespace

ConnectProxy::ConnectProxy() : peer_(Tunnel) {}

std::string ConnectProxy::RequestHead(int index) const {
    const std::string received = peer_.Received(index);
    const std::size_t end = received.find("\r\n\r\n");
    return end == std::string::npos ? received : received.substr(0, end + 4);
}

}  // namespace tarnwick::testing
