#include "net/Sockets.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "core/StrUtils.h"

namespace tarnwick {

namespace {

int FamilyOf(TSocketDomain domain) { return domain == pfInet ? AF_INET : AF_UNSPEC; }

int TypeOf(TSocketType type) {
    static constexpr int types[] = {SOCK_STREAM, SOCK_DGRAM, SOCK_RAW, SOCK_RDM, SOCK_SEQPACKET};
    return types[type];
}

// A connect interrupted by a signal goes on in the background: wait for its outcome (timeout
// in ms, -1 without limit).
int FinishInterruptedConnect(int fd, int timeout) {
    pollfd p{fd, POLLOUT, 0};
    for (;;) {
        const int ready = ::poll(&p, 1, timeout);
        if (ready > 0) break;
        if (ready == 0) {
            errno = ETIMEDOUT;
            return -1;
        }
        if (errno != EINTR) return -1;
    }
    int error = 0;
    socklen_t length = sizeof error;
    if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) < 0) return -1;
    if (error == 0) return 0;
    errno = error;
    return -1;
}

// Appends bytes up to the first zero byte among them: the line is text, a zero ends it.
void AppendText(std::string& to, std::string_view bytes) {
    to.append(bytes.substr(0, std::min(bytes.find('\0'), bytes.size())));
}

// Length of the longest end of bytes that is a proper beginning of separator: bytes that may be
// the first part of a separator whose rest has not arrived yet.
std::size_t PartialSeparatorAtEnd(std::string_view bytes, std::string_view separator) {
    if (separator.empty()) return 0;
    for (std::size_t n = std::min(bytes.size(), separator.size() - 1); n > 0; --n)
        if (bytes.substr(bytes.size() - n) == separator.substr(0, n)) return n;
    return 0;
}

// Sets the time a blocking send (and connect) or receive may wait; 0 for no limit.
void SetWaitLimit(int fd, int option, std::int32_t milliseconds) {
    timeval limit{};
    limit.tv_sec = milliseconds / 1000;
    limit.tv_usec = (milliseconds % 1000) * 1000;
    ::setsockopt(fd, SOL_SOCKET, option, &limit, sizeof limit);
}

}  // namespace

// ---- TBaseSocket

TBaseSocket::TBaseSocket(TComponent* owner) : TComponent(owner) {}

TBaseSocket::~TBaseSocket() { TBaseSocket::CloseSocket(); }

void TBaseSocket::SetActive(bool value) {
    if (value)
        OpenSocket();
    else
        CloseSocket();
}

void TBaseSocket::SetBlockMode(TSocketBlockMode value) {
    if (value == block_mode_) return;
    CloseSocket();
    block_mode_ = value;
}

int TBaseSocket::CheckResult(int result) {
    if (result == -1) HandleSocketError(errno);
    return result;
}

void TBaseSocket::HandleSocketError(int errorCode) {
    if (OnError) OnError(*this, errorCode);
}

void TBaseSocket::NotifyReceive(const char* buf, std::int32_t& dataLen) {
    if (OnReceive) OnReceive(*this, buf, dataLen);
}

void TBaseSocket::NotifySend(const char* buf, std::int32_t& dataLen) {
    if (OnSend) OnSend(*this, buf, dataLen);
}

void TBaseSocket::NotifyCreateHandle() {
    if (active_ && OnCreateHandle) OnCreateHandle(*this);
}

void TBaseSocket::NotifyDestroyHandle() {
    if (OnDestroyHandle) OnDestroyHandle(*this);
}

void TBaseSocket::OpenSocket() {
    if (active_) return;
    int error = 0;
    {
        std::lock_guard lock(handle_mutex_);
        if (abort_requested_.load()) {
            handle_ = -1;
            error = ECONNABORTED;
        } else {
            // Close-on-exec, so no child process (the converter) inherits the connection.
            handle_ = ::socket(FamilyOf(domain_), TypeOf(sock_type_) | SOCK_CLOEXEC, protocol_);
            error = errno;
        }
    }
    errno = error;
    CheckResult(handle_);
    active_ = handle_ != -1;
    if (!active_) return;
    if (block_mode_ == bmNonBlocking) {
        int on = 1;
        CheckResult(::ioctl(handle_, FIONBIO, &on));
    }
    bytes_received_ = 0;
    bytes_sent_ = 0;
    NotifyCreateHandle();
}

void TBaseSocket::CloseSocket() {
    if (!active_) return;
    int result;
    int error;
    {
        std::lock_guard lock(handle_mutex_);
        result = ::close(handle_);
        error = errno;
        handle_ = -1;
    }
    errno = error;
    CheckResult(result);
    active_ = false;
    NotifyDestroyHandle();
}

void TBaseSocket::AbortConnection() {
    // First, so an open that follows sees it even when no handle exists yet.
    abort_requested_.store(true);
    std::lock_guard lock(handle_mutex_);
    if (handle_ != -1) ::shutdown(handle_, SHUT_RDWR);
}

std::int32_t TBaseSocket::PeekData(void* buf, std::int32_t count) {
    return ReceiveData(buf, count, MSG_PEEK);
}

std::int32_t TBaseSocket::ReceiveData(void* buf, std::int32_t count, int flags) {
    ssize_t result;
    if (count < 0) {
        errno = EINVAL;
        result = -1;
    } else {
        do {
            result = ::recv(handle_, buf, static_cast<std::size_t>(count), flags);
        } while (result == -1 && errno == EINTR);
    }
    const auto received = static_cast<std::int32_t>(CheckResult(static_cast<int>(result)));
    if (received != -1 && !(flags & MSG_PEEK)) {
        bytes_received_ += received;
        std::int32_t length = received;
        NotifyReceive(static_cast<const char*>(buf), length);
    }
    return received;
}

std::int32_t TBaseSocket::SendData(const void* buf, std::int32_t count, int flags) {
    std::int32_t length = count;
    NotifySend(static_cast<const char*>(buf), length);
    // A handler may shorten the send, never lengthen it past the caller's buffer.
    length = std::clamp(length, std::int32_t{0}, std::max(count, std::int32_t{0}));
    ssize_t result;
    do {
        result = ::send(handle_, buf, static_cast<std::size_t>(length), flags | MSG_NOSIGNAL);
    } while (result == -1 && errno == EINTR);
    const auto sent = static_cast<std::int32_t>(CheckResult(static_cast<int>(result)));
    if (sent != -1) bytes_sent_ += sent;
    return sent;
}

// ---- TIpSocket

TIpSocket::TIpSocket(TComponent* owner) : TBaseSocket(owner) { SetDomain(pfInet); }

void TIpSocket::SetRemoteHost(TSocketHost value) {
    if (value == remote_host_) return;
    CloseSocket();
    remote_host_ = std::move(value);
}

void TIpSocket::SetRemotePort(TSocketPort value) {
    if (value == remote_port_) return;
    CloseSocket();
    remote_port_ = std::move(value);
}

std::string TIpSocket::LookupHostAddr(std::string_view host) {
    if (host.empty()) return "0.0.0.0";
    const std::string text(host);
    if (host[0] >= '0' && host[0] <= '9') {
        in_addr address{};
        return ::inet_aton(text.c_str(), &address) ? text : std::string();
    }
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (::getaddrinfo(text.c_str(), nullptr, &hints, &found) != 0 || !found) return {};
    const auto* bytes = reinterpret_cast<const unsigned char*>(
        &reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr);
    std::string dotted = Format("%d.%d.%d.%d", bytes[0], bytes[1], bytes[2], bytes[3]);
    ::freeaddrinfo(found);
    return dotted;
}

std::int32_t TIpSocket::LookupPort(std::string_view port) {
    if (port.empty()) return 0;
    const std::string text(port);
    servent entry{};
    servent* found = nullptr;
    std::vector<char> scratch(4096);
    while (::getservbyname_r(text.c_str(), nullptr, &entry, scratch.data(), scratch.size(),
                             &found) == ERANGE)
        scratch.resize(scratch.size() * 2);
    if (found) return ntohs(static_cast<std::uint16_t>(found->s_port));
    return StrToInt(port);
}

bool TIpSocket::BuildAddress(std::string_view host, std::string_view port, sockaddr_in& address) {
    address = sockaddr_in{};
    address.sin_family = AF_INET;
    const std::int32_t number = LookupPort(port);
    if (number < 0 || number > 65535) {
        errno = EINVAL;
        return false;
    }
    address.sin_port = htons(static_cast<std::uint16_t>(number));
    // 0.0.0.0 would reach this machine on Linux; a client asked for no host connects nowhere.
    const std::string dotted = LookupHostAddr(host);
    if (!::inet_aton(dotted.c_str(), &address.sin_addr) || address.sin_addr.s_addr == INADDR_ANY) {
        errno = EADDRNOTAVAIL;
        return false;
    }
    return true;
}

// ---- TCustomIpClient

TCustomIpClient::TCustomIpClient(TComponent* owner) : TIpSocket(owner) {}

TCustomIpClient::~TCustomIpClient() { TCustomIpClient::CloseSocket(); }

void TCustomIpClient::OpenSocket() {
    TBaseSocket::OpenSocket();
    if (!Active() || connected_) return;
    sockaddr_in address;
    int result = -1;
    const std::int32_t connectLimit = std::max(ConnectTimeout, 0);
    const std::int32_t stallLimit = std::max(StallTimeout, 0);
    if (BuildAddress(RemoteHost(), RemotePort(), address)) {
        // A blocking connect waits no longer than the send limit.
        if (connectLimit > 0) SetWaitLimit(Handle(), SO_SNDTIMEO, connectLimit);
        result = ::connect(Handle(), reinterpret_cast<const sockaddr*>(&address), sizeof address);
        if (result == -1 && errno == EINTR)
            result = FinishInterruptedConnect(Handle(), connectLimit > 0 ? connectLimit : -1);
        // A connect cut by the send limit is still pending: it failed for want of time, and is
        // called off, so no later receive or send on the socket waits for it.
        if (result == -1 && errno == EINPROGRESS && connectLimit > 0) {
            ::shutdown(Handle(), SHUT_RDWR);
            errno = ETIMEDOUT;
        }
        // An abort that came while the socket was not yet connected could not shut it down.
        if (result == 0 && AbortRequested()) {
            errno = ECONNABORTED;
            result = -1;
        }
    }
    connected_ = CheckResult(result) == 0;
    if (connected_ && (connectLimit > 0 || stallLimit > 0)) {
        SetWaitLimit(Handle(), SO_SNDTIMEO, stallLimit);
        SetWaitLimit(Handle(), SO_RCVTIMEO, stallLimit);
    }
    if (connected_) NotifyConnect();
}

void TCustomIpClient::CloseSocket() {
    if (connected_) {
        CheckResult(::shutdown(Handle(), SHUT_RDWR));
        connected_ = false;
        NotifyDisconnect();
    }
    TBaseSocket::CloseSocket();
}

void TCustomIpClient::NotifyConnect() {
    if (OnConnect) OnConnect(*this);
}

void TCustomIpClient::NotifyDisconnect() {
    if (OnDisconnect) OnDisconnect(*this);
}

bool TCustomIpClient::ConnectClient() {
    OpenSocket();
    return connected_;
}

void TCustomIpClient::DisconnectClient() { CloseSocket(); }

std::int32_t TCustomIpClient::SendLine(std::string_view text, std::string_view lineEnd) {
    std::string line;
    line.reserve(text.size() + lineEnd.size());
    line.append(text).append(lineEnd);
    return SendData(line.data(), static_cast<std::int32_t>(line.size()));
}

std::string TCustomIpClient::ReceiveLine(std::string_view separator, std::size_t maxBytes) {
    std::string result;
    std::size_t taken = 0;  // bytes taken from the socket by this call
    // Bytes already taken from the socket that may begin a separator completed by the next block,
    // and how many of the first of them came after a zero byte in their own block: those are cut
    // from the line with the rest of that block.
    std::string pending;
    std::size_t cut = 0;
    // Appends the bytes of block before end that belong to the line.
    const auto take = [&](std::string_view block, std::size_t end) {
        const std::size_t from = std::min(cut, end);
        AppendText(result, block.substr(from, end - from));
    };
    char buffer[512];
    for (;;) {
        const std::size_t room = maxBytes == 0 ? 511 : std::min<std::size_t>(511, maxBytes - taken);
        const std::int32_t peeked =
            room == 0 ? 0 : PeekData(buffer, static_cast<std::int32_t>(room));
        if (peeked <= 0) {
            take(pending, pending.size());
            return result;
        }
        const std::string block = pending + std::string(buffer, static_cast<std::size_t>(peeked));
        const std::size_t at = separator.empty() ? 0 : block.find(separator);
        if (at != std::string::npos) {
            // Take exactly the rest of the line and its separator; what follows stays queued.
            ReceiveData(buffer, static_cast<std::int32_t>(at + separator.size() - pending.size()));
            take(block, at);
            return result;
        }
        // A receive that fails after a good peek would leave the bytes queued for ever.
        if (ReceiveData(buffer, peeked) <= 0) return result;
        taken += static_cast<std::size_t>(peeked);
        const std::size_t end = block.size() - PartialSeparatorAtEnd(block, separator);
        take(block, end);
        const bool zero = block.find('\0', pending.size()) != std::string::npos;
        cut = zero ? block.size() - end : cut - std::min(cut, end);
        pending = block.substr(end);
    }
}

}  // namespace tarnwick
