#include "support/LoopbackPeer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace tarnwick::testing {

void Event::Set() {
    {
        std::lock_guard lock(mutex_);
        set_ = true;
    }
    cv_.notify_all();
}

bool Event::IsSet() const {
    std::lock_guard lock(mutex_);
    return set_;
}

bool Event::Wait(std::chrono::milliseconds limit) const {
    std::unique_lock lock(mutex_);
    return cv_.wait_for(lock, limit, [&] { return set_; });
}

namespace {

[[noreturn]] void Fail(const char* what) {
    throw std::runtime_error(std::string(what) + ": " + std::strerror(errno));
}

}  // namespace

PeerConnection::PeerConnection(LoopbackPeer& peer, int fd, std::shared_ptr<std::string> record,
                               std::shared_ptr<std::mutex> lock)
    : peer_(peer), fd_(fd), record_(std::move(record)), record_lock_(std::move(lock)) {}

PeerConnection::~PeerConnection() {
    if (fd_ >= 0) Release(false);
}

void PeerConnection::Release(bool reset) {
    peer_.CloseConnectionFd(fd_, reset);
    fd_ = -1;
}

void PeerConnection::Send(std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EINTR) continue;
            Fail("send");
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
}

void PeerConnection::SendInPieces(std::string_view bytes, std::size_t piece,
                                  std::chrono::milliseconds pause) {
    // No coalescing, so each piece leaves as a segment of its own.
    int one = 1;
    ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    while (!bytes.empty()) {
        const std::size_t n = std::min(piece, bytes.size());
        Send(bytes.substr(0, n));
        bytes.remove_prefix(n);
        if (!bytes.empty() && pause.count() > 0) std::this_thread::sleep_for(pause);
    }
}

std::size_t PeerConnection::ReceiveSome(std::string& into) {
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
        if (n < 0) {
            if (errno == EINTR) continue;
            if (errno == ECONNRESET) return 0;
            Fail("recv");
        }
        into.append(buffer, static_cast<std::size_t>(n));
        std::lock_guard lock(*record_lock_);
        record_->append(buffer, static_cast<std::size_t>(n));
        return static_cast<std::size_t>(n);
    }
}

std::string PeerConnection::ReceiveUntil(std::string_view terminator) {
    std::string got;
    while (got.size() < terminator.size() ||
           got.compare(got.size() - terminator.size(), terminator.size(), terminator) != 0) {
        // One byte at a time, so nothing after the terminator is taken from the socket.
        char c;
        ssize_t n;
        do {
            n = ::recv(fd_, &c, 1, 0);
        } while (n < 0 && errno == EINTR);
        if (n < 0 && errno != ECONNRESET) Fail("recv");
        if (n <= 0) break;
        got.push_back(c);
        std::lock_guard lock(*record_lock_);
        record_->push_back(c);
    }
    return got;
}

std::string PeerConnection::ReceiveExactly(std::size_t count) {
    std::string got;
    while (got.size() < count) {
        char buffer[65536];
        const std::size_t want = std::min(sizeof buffer, count - got.size());
        ssize_t n;
        do {
            n = ::recv(fd_, buffer, want, 0);
        } while (n < 0 && errno == EINTR);
        if (n < 0 && errno != ECONNRESET) Fail("recv");
        if (n <= 0) break;
        got.append(buffer, static_cast<std::size_t>(n));
        std::lock_guard lock(*record_lock_);
        record_->append(buffer, static_cast<std::size_t>(n));
    }
    return got;
}

std::string PeerConnection::ReceiveAll() {
    std::string got;
    while (ReceiveSome(got) > 0) {
    }
    return got;
}

bool PeerConnection::WaitForClose(std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    std::string ignored;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return false;
        pollfd p{fd_, POLLIN, 0};
        const int r = ::poll(&p, 1, static_cast<int>(left.count()));
        if (r < 0 && errno == EINTR) continue;
        if (r < 0) Fail("poll");
        if (r == 0) return false;
        if (ReceiveSome(ignored) == 0) return true;
    }
}

void PeerConnection::ShutdownWrite() { ::shutdown(fd_, SHUT_WR); }

void PeerConnection::Close() {
    if (fd_ >= 0) Release(false);
}

void PeerConnection::Reset() {
    if (fd_ >= 0) Release(true);
}

LoopbackPeer::LoopbackPeer(Script script, int backlog) : script_(std::move(script)) {
    listen_fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listen_fd_ < 0) Fail("socket");
    int one = 1;
    ::setsockopt(listen_fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    if (::bind(listen_fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) < 0) {
        ::close(listen_fd_);
        Fail("bind");
    }
    if (::listen(listen_fd_, backlog) < 0) {
        ::close(listen_fd_);
        Fail("listen");
    }
    socklen_t length = sizeof address;
    ::getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    acceptor_ = std::thread([this] { AcceptLoop(); });
}

LoopbackPeer::~LoopbackPeer() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        // Wakes the acceptor (accept fails on a shut-down listener) and every blocked script.
        ::shutdown(listen_fd_, SHUT_RDWR);
        for (int fd : open_fds_) ::shutdown(fd, SHUT_RDWR);
    }
    acceptor_.join();
    for (auto& t : scripts_) t.join();
    ::close(listen_fd_);
}

void LoopbackPeer::AcceptLoop() {
    for (;;) {
        const int fd = ::accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
        std::lock_guard lock(mutex_);
        if (fd < 0) {
            if (errno == EINTR && !stopping_) continue;
            return;
        }
        if (stopping_) {
            ::close(fd);
            return;
        }
        const int index = static_cast<int>(records_.size());
        records_.push_back(std::make_shared<std::string>());
        record_locks_.push_back(std::make_shared<std::mutex>());
        open_fds_.push_back(fd);
        scripts_.emplace_back([this, fd, index] { Serve(fd, index); });
        cv_.notify_all();
    }
}

void LoopbackPeer::Serve(int fd, int index) {
    std::shared_ptr<std::string> record;
    std::shared_ptr<std::mutex> record_lock;
    {
        std::lock_guard lock(mutex_);
        record = records_[index];
        record_lock = record_locks_[index];
    }
    std::string failure;
    {
        PeerConnection connection(*this, fd, record, record_lock);
        try {
            script_(connection);
        } catch (const std::exception& e) {
            failure = e.what();
        }
    }
    std::lock_guard lock(mutex_);
    if (!failure.empty() && !stopping_)
        errors_ += "connection " + std::to_string(index) + ": " + failure + "\n";
    ++finished_;
    cv_.notify_all();
}

void LoopbackPeer::CloseConnectionFd(int fd, bool reset) {
    std::lock_guard lock(mutex_);
    open_fds_.erase(std::remove(open_fds_.begin(), open_fds_.end(), fd), open_fds_.end());
    if (reset) {
        linger hard{1, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
    }
    ::close(fd);
}

int LoopbackPeer::Accepted() const {
    std::lock_guard lock(mutex_);
    return static_cast<int>(records_.size());
}

bool LoopbackPeer::WaitForScripts(int count, std::chrono::milliseconds limit) const {
    std::unique_lock lock(mutex_);
    return cv_.wait_for(lock, limit, [&] { return finished_ >= count; });
}

std::string LoopbackPeer::Received(int index) const {
    std::shared_ptr<std::string> record;
    std::shared_ptr<std::mutex> record_lock;
    {
        std::lock_guard lock(mutex_);
        if (index < 0 || index >= static_cast<int>(records_.size())) return {};
        record = records_[index];
        record_lock = record_locks_[index];
    }
    std::lock_guard lock(*record_lock);
    return *record;
}

std::string LoopbackPeer::Errors() const {
    std::lock_guard lock(mutex_);
    return errors_;
}

}  // namespace tarnwick::testing
