// A relay on loopback that paces each connection on its own, as hosts that limit every connection
// do: a connection accepted on a free port is joined to UPSTREAM_PORT on 127.0.0.1, the request
// bytes go up as they come, and the answer bytes come down at most at RATE bytes per second for
// that connection (a burst of one 16 KiB block). RATE 0 relays without pacing.
//
//   bench_relay UPSTREAM_PORT RATE
//
// Prints the port it listens on as its first line, then runs until SIGINT or SIGTERM; every
// connection's thread is joined before it exits.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <list>
#include <memory>
#include <thread>

#include "core/ScopedFd.h"

namespace {

using tarnwick::ScopedFd;
using Clock = std::chrono::steady_clock;

constexpr std::size_t kBlock = 16 * 1024;
std::atomic<bool> gStop{false};

sockaddr_in Loopback(int port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

bool SendAll(int fd, const char* bytes, ssize_t count) {
    while (count > 0) {
        const ssize_t n = ::send(fd, bytes, static_cast<std::size_t>(count), MSG_NOSIGNAL);
        if (n <= 0) return false;
        bytes += n;
        count -= n;
    }
    return true;
}

// One connection: request bytes up at once, answer bytes down at the pace.
void Relay(int clientFd, int upstreamPort, long rate) {
    const ScopedFd client(clientFd);
    ScopedFd upstream(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    const sockaddr_in address = Loopback(upstreamPort);
    if (::connect(upstream.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
        return;
    char buffer[kBlock];
    Clock::time_point due = Clock::now();  // when the next block may go down
    while (!gStop) {
        const Clock::time_point now = Clock::now();
        const bool mayRead = rate == 0 || now >= due;
        pollfd fds[2] = {{client.Get(), POLLIN, 0},
                         {upstream.Get(), short(mayRead ? POLLIN : 0), 0}};
        const auto wait = mayRead ? 100 : std::clamp<long>(
            std::chrono::duration_cast<std::chrono::milliseconds>(due - now).count() + 1, 1, 100);
        if (::poll(fds, 2, static_cast<int>(wait)) < 0) return;
        if (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) {
            const ssize_t n = ::recv(client.Get(), buffer, sizeof buffer, 0);
            if (n <= 0 || !SendAll(upstream.Get(), buffer, n)) return;
        }
        if (fds[1].revents & (POLLIN | POLLHUP | POLLERR)) {
            const ssize_t n = ::recv(upstream.Get(), buffer, sizeof buffer, 0);
            if (n <= 0 || !SendAll(client.Get(), buffer, n)) return;
            if (rate > 0) {
                const auto cost = std::chrono::duration_cast<Clock::duration>(
                    std::chrono::duration<double>(double(n) / double(rate)));
                due = std::max(due, Clock::now() - cost) + cost;
            }
        }
    }
}

struct Connection {
    std::atomic<bool> done{false};
    std::jthread thread;
};

// The listening socket, its port printed.
int Listen() {
    ScopedFd listener(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    const sockaddr_in address = Loopback(0);
    if (::bind(listener.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener.Get(), 128) != 0) {
        std::perror("bench_relay: listen");
        std::exit(1);
    }
    sockaddr_in bound{};
    socklen_t size = sizeof bound;
    ::getsockname(listener.Get(), reinterpret_cast<sockaddr*>(&bound), &size);
    std::printf("%d\n", ntohs(bound.sin_port));
    std::fflush(stdout);
    return listener.Release();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fputs("usage: bench_relay UPSTREAM_PORT RATE\n", stderr);
        return 2;
    }
    const int upstreamPort = std::atoi(argv[1]);
    const long rate = std::atol(argv[2]);
    sigset_t signals;
    ::sigemptyset(&signals);
    ::sigaddset(&signals, SIGINT);
    ::sigaddset(&signals, SIGTERM);
    ::pthread_sigmask(SIG_BLOCK, &signals, nullptr);  // for every thread started after
    const ScopedFd stop(::signalfd(-1, &signals, SFD_CLOEXEC));
    const ScopedFd listener(Listen());

    std::list<std::unique_ptr<Connection>> connections;
    for (;;) {
        pollfd fds[2] = {{listener.Get(), POLLIN, 0}, {stop.Get(), POLLIN, 0}};
        ::poll(fds, 2, 1000);
        if (fds[1].revents & POLLIN) break;
        connections.remove_if([](const auto& c) { return c->done.load(); });
        if (!(fds[0].revents & POLLIN)) continue;
        const int client = ::accept4(listener.Get(), nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0) continue;
        auto& connection = *connections.emplace_back(std::make_unique<Connection>());
        // The thread owns the socket from here.
        connection.thread = std::jthread([&connection, client, upstreamPort, rate] {
            Relay(client, upstreamPort, rate);
            connection.done = true;
        });
    }
    gStop = true;
    connections.clear();  // joins each thread
    return 0;
}
