#include "net/IdStackLinux.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>

#include "net/IdExceptions.h"

namespace tarnwick {

namespace {

thread_local std::int32_t t_last_error = 0;

// Records the calling thread's errno as its socket error; returns the failure result.
int Fail() {
    t_last_error = SocketErrorFromErrno(errno);
    return Id_SOCKET_ERROR;
}

int FailWith(int error) {
    errno = error;
    return Fail();
}

std::int32_t ResolverError(int code, int system_error) {
    switch (code) {
        case EAI_NONAME:
        case EAI_NODATA:
        case EAI_ADDRFAMILY:
        case EAI_FAIL: return Id_WSAHOST_NOT_FOUND;
        case EAI_AGAIN: return Id_WSATRY_AGAIN;
        case EAI_MEMORY: return Id_WSAENOBUFS;
        case EAI_SYSTEM: return SocketErrorFromErrno(system_error);
        default: return Id_WSANO_RECOVERY;
    }
}

// False (errno EINVAL) for a port outside 0..65535; a bad address text raises EConvertError.
bool MakeAddress(int family, int port, std::string_view ip, sockaddr_in& address) {
    if (port < 0 || port > 65535) {
        errno = EINVAL;
        return false;
    }
    address = sockaddr_in{};
    address.sin_family = static_cast<sa_family_t>(family);
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    if (ip.empty()) {
        address.sin_addr.s_addr = htonl(INADDR_ANY);
    } else {
        const auto bytes = TIdStack::TextToAddress(ip);
        std::memcpy(&address.sin_addr.s_addr, bytes.data(), bytes.size());
    }
    return true;
}

void ReadAddress(const sockaddr_in& address, int& family, std::string& ip, int& port) {
    std::array<std::uint8_t, 4> bytes;
    std::memcpy(bytes.data(), &address.sin_addr.s_addr, bytes.size());
    family = address.sin_family;
    ip = TIdStack::AddressToText(bytes);
    port = ntohs(address.sin_port);
}

// Asks getsockname or getpeername for one end of the socket; the primitives' result.
int QuerySocketName(int (*query)(int, sockaddr*, socklen_t*), TIdStackSocketHandle handle,
                    int& family, std::string& ip, int& port) {
    sockaddr_in address{};
    socklen_t length = sizeof address;
    if (query(handle, reinterpret_cast<sockaddr*>(&address), &length) < 0) return Fail();
    ReadAddress(address, family, ip, port);
    return 0;
}

}  // namespace

std::string TIdStackLinux::LookupHost(std::string_view name) {
    // A NUL inside the name would make the resolver look up only the part before it.
    if (name.find('\0') != std::string_view::npos) {
        t_last_error = Id_WSAHOST_NOT_FOUND;
        return {};
    }
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const int rc = ::getaddrinfo(std::string(name).c_str(), nullptr, &hints, &found);
    if (rc != 0) {
        t_last_error = ResolverError(rc, errno);
        return {};
    }
    std::unique_ptr<addrinfo, decltype(&::freeaddrinfo)> list(found, &::freeaddrinfo);
    for (const addrinfo* entry = found; entry; entry = entry->ai_next) {
        if (entry->ai_family != AF_INET || !entry->ai_addr) continue;
        int family = 0, port = 0;
        std::string ip;
        ReadAddress(*reinterpret_cast<const sockaddr_in*>(entry->ai_addr), family, ip, port);
        return ip;
    }
    t_last_error = Id_WSAHOST_NOT_FOUND;
    return {};
}

TIdStackSocketHandle TIdStackLinux::SocketCreate(int family, int type, int protocol) {
    // Close-on-exec, so a started converter never inherits a connection.
    const int fd = ::socket(family, type | SOCK_CLOEXEC, protocol);
    return fd < 0 ? Fail() : fd;
}

int TIdStackLinux::SocketBind(TIdStackSocketHandle handle, int family, int port,
                              std::string_view ip) {
    sockaddr_in address;
    if (!MakeAddress(family, port, ip, address)) return Fail();
    if (::bind(handle, reinterpret_cast<const sockaddr*>(&address), sizeof address) < 0)
        return Fail();
    return 0;
}

int TIdStackLinux::SocketConnect(TIdStackSocketHandle handle, int family, int port,
                                 std::string_view ip) {
    sockaddr_in address;
    if (!MakeAddress(family, port, ip, address)) return Fail();
    if (::connect(handle, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0)
        return 0;
    if (errno != EINTR) return Fail();
    // An interrupted connect goes on in the background: wait for its end and take its outcome.
    for (;;) {
        pollfd p{handle, POLLOUT, 0};
        const int r = ::poll(&p, 1, -1);
        if (r > 0) break;
        if (r < 0 && errno != EINTR) return Fail();
    }
    int error = 0;
    socklen_t length = sizeof error;
    if (::getsockopt(handle, SOL_SOCKET, SO_ERROR, &error, &length) < 0) return Fail();
    return error == 0 ? 0 : FailWith(error);
}

int TIdStackLinux::SocketRecv(TIdStackSocketHandle handle, void* buffer, int length, int flags) {
    for (;;) {
        const ssize_t n = ::recv(handle, buffer, static_cast<std::size_t>(length), flags);
        if (n >= 0) return static_cast<int>(n);
        if (errno != EINTR) return Fail();
    }
}

int TIdStackLinux::SocketSend(TIdStackSocketHandle handle, const void* buffer, int length,
                              int flags) {
    for (;;) {
        const ssize_t n =
            ::send(handle, buffer, static_cast<std::size_t>(length), flags | MSG_NOSIGNAL);
        if (n >= 0) return static_cast<int>(n);
        if (errno != EINTR) return Fail();
    }
}

int TIdStackLinux::SocketShutdown(TIdStackSocketHandle handle, int how) {
    return ::shutdown(handle, how) < 0 ? Fail() : 0;
}

int TIdStackLinux::SocketClose(TIdStackSocketHandle handle) {
    // Never repeated on EINTR: the descriptor is released whatever close reports.
    return ::close(handle) < 0 ? Fail() : 0;
}

int TIdStackLinux::SocketSetOption(TIdStackSocketHandle handle, int level, int name,
                                   const void* value, int length) {
    return ::setsockopt(handle, level, name, value, static_cast<socklen_t>(length)) < 0 ? Fail()
                                                                                         : 0;
}

void TIdStackLinux::SocketLocalName(TIdStackSocketHandle handle, int& family, std::string& ip,
                                    int& port) {
    CheckSocketResult(QuerySocketName(::getsockname, handle, family, ip, port));
}

void TIdStackLinux::SocketPeerName(TIdStackSocketHandle handle, int& family, std::string& ip,
                                   int& port) {
    CheckSocketResult(QuerySocketName(::getpeername, handle, family, ip, port));
}

int TIdStackLinux::SocketSelect(std::vector<TIdStackSocketHandle>* read,
                                std::vector<TIdStackSocketHandle>* write, int timeout,
                                std::vector<TIdStackSocketHandle>* error) {
    std::vector<TIdStackSocketHandle>* lists[] = {read, write, error};
    constexpr short kWanted[] = {POLLIN, POLLOUT, POLLPRI};
    // What counts as ready: a hang-up or an error lets a read or write return at once.
    constexpr short kReady[] = {POLLIN | POLLHUP | POLLERR, POLLOUT | POLLHUP | POLLERR, POLLPRI};

    std::vector<pollfd> fds;
    for (std::size_t i = 0; i < 3; ++i) {
        if (!lists[i]) continue;
        if (lists[i]->size() > IdMaxSelectHandles) throw EIdStackSetSizeExceeded();
        for (TIdStackSocketHandle h : *lists[i]) fds.push_back(pollfd{h, kWanted[i], 0});
    }

    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeout < 0 ? 0 : timeout);
    int wait = timeout < 0 ? -1 : timeout;
    int r;
    while ((r = ::poll(fds.data(), fds.size(), wait)) < 0) {
        if (errno != EINTR) return Fail();
        if (timeout >= 0) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
            wait = left.count() > 0 ? static_cast<int>(left.count()) : 0;
        }
    }
    for (const pollfd& p : fds)
        if (p.revents & POLLNVAL) return FailWith(EBADF);

    int count = 0;
    std::size_t next = 0;
    for (std::size_t i = 0; i < 3; ++i) {
        if (!lists[i]) continue;
        std::vector<TIdStackSocketHandle> ready;
        for (std::size_t k = 0; k < lists[i]->size(); ++k, ++next)
            if (fds[next].revents & kReady[i]) ready.push_back(fds[next].fd);
        count += static_cast<int>(ready.size());
        *lists[i] = std::move(ready);
    }
    return count;
}

std::int32_t TIdStackLinux::LastSocketError() const { return t_last_error; }

const char* TIdStackLinux::ErrorMessage(std::int32_t code) const {
    if (code == Id_WSAHOST_NOT_FOUND) return "Host not found.";
    return TIdStack::ErrorMessage(code);
}

}  // namespace tarnwick
