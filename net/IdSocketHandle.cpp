#include "net/IdSocketHandle.h"

#include <sys/socket.h>
#include <sys/time.h>

#include "net/IdExceptions.h"

namespace tarnwick {

TIdSocketHandle::Use::Use(TIdSocketHandle& owner) : owner_(owner), fd_(Id_INVALID_SOCKET) {
    std::lock_guard lock(owner_.mutex_);
    if (!owner_.allocated_) return;
    fd_ = owner_.handle_;
    ++owner_.users_;
}

TIdSocketHandle::Use::~Use() {
    if (fd_ == Id_INVALID_SOCKET) return;
    std::vector<TIdStackSocketHandle> to_close;
    {
        std::lock_guard lock(owner_.mutex_);
        if (--owner_.users_ == 0) to_close.swap(owner_.pending_close_);
    }
    for (TIdStackSocketHandle fd : to_close) GStack().SocketClose(fd);
}

TIdSocketHandle::~TIdSocketHandle() {
    std::lock_guard lock(mutex_);
    DropLocked();
    // No call can be in progress while the object is destroyed.
    for (TIdStackSocketHandle fd : pending_close_) GStack().SocketClose(fd);
}

void TIdSocketHandle::AllocateHandle(int type, int protocol) {
    DropHandle();
    const TIdStackSocketHandle fd = GStack().CreateStreamSocket(type, protocol);
    if (fd == Id_INVALID_SOCKET) throw EIdInvalidSocket();
    std::lock_guard lock(mutex_);
    handle_ = fd;
    allocated_ = true;
}

void TIdSocketHandle::DropHandle() {
    std::lock_guard lock(mutex_);
    DropLocked();
}

void TIdSocketHandle::DropLocked() {
    if (!allocated_) return;
    allocated_ = false;
    TIdStack& stack = GStack();
    if (users_ == 0) {
        stack.SocketShutdown(handle_, Id_SD_Send);
        stack.SocketClose(handle_);
    } else {
        // Shutting down both directions wakes the calls in progress; the last one to leave closes.
        stack.SocketShutdown(handle_, Id_SD_Both);
        pending_close_.push_back(handle_);
    }
}

void TIdSocketHandle::ResetHandle(bool reset_local) {
    {
        std::lock_guard lock(mutex_);
        DropLocked();
        handle_ = Id_INVALID_SOCKET;
    }
    if (reset_local) {
        ip_.clear();
        port_ = 0;
    }
    peer_ip_.clear();
    peer_port_ = 0;
}

void TIdSocketHandle::BindLocal() {
    if (port_ != 0 || client_port_min_ == 0 || client_port_max_ == 0) {
        if (!TryBindLocal()) throw EIdCouldNotBindSocket();
        return;
    }
    if (client_port_max_ < client_port_min_)
        throw EIdInvalidPortRange(client_port_min_, client_port_max_);
    for (int port = client_port_max_; port >= client_port_min_; --port) {
        port_ = port;
        if (TryBindLocal()) return;
    }
    throw EIdCanNotBindPortInRange(client_port_min_, client_port_max_);
}

bool TIdSocketHandle::TryBindLocal() {
    int result;
    {
        Use use(*this);
        result = GStack().SocketBind(use.Fd(), Id_PF_INET, port_, ip_);
    }
    if (GStack().CheckSocketResult(result, {Id_WSAEADDRINUSE})) return false;
    RefreshLocal();
    return true;
}

void TIdSocketHandle::SetPeerAddress(std::string ip, int port) {
    peer_ip_ = std::move(ip);
    peer_port_ = port;
}

int TIdSocketHandle::ConnectPeer(int family) {
    int result;
    {
        Use use(*this);
        result = GStack().SocketConnect(use.Fd(), family, peer_port_, peer_ip_);
    }
    if (result != Id_SOCKET_ERROR) {
        RefreshLocal();
        RefreshPeer();
    }
    return result;
}

bool TIdSocketHandle::WaitReadable(int timeout) {
    Use use(*this);
    if (!use) throw EIdConnClosedGracefully();
    std::vector<TIdStackSocketHandle> read{use.Fd()};
    return GStack().SocketSelect(&read, nullptr, timeout, nullptr) == 1;
}

int TIdSocketHandle::Receive(void* buffer, int length) {
    Use use(*this);
    return GStack().SocketRecv(use.Fd(), buffer, length, 0);
}

int TIdSocketHandle::ReceiveReady(void* buffer, int length) {
    Use use(*this);
    return GStack().SocketRecv(use.Fd(), buffer, length, MSG_DONTWAIT);
}

int TIdSocketHandle::Send(const void* buffer, int length) {
    Use use(*this);
    return GStack().SocketSend(use.Fd(), buffer, length, 0);
}

void TIdSocketHandle::SetOption(int level, int name, int value) {
    int result;
    {
        Use use(*this);
        result = GStack().SocketSetOption(use.Fd(), level, name, &value, sizeof value);
    }
    GStack().CheckSocketResult(result);
}

void TIdSocketHandle::SetSendTimeLimit(int milliseconds) {
    timeval limit{};
    limit.tv_sec = milliseconds / 1000;
    limit.tv_usec = (milliseconds % 1000) * 1000;
    int result;
    {
        Use use(*this);
        result = GStack().SocketSetOption(use.Fd(), SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    }
    GStack().CheckSocketResult(result);
}

void TIdSocketHandle::RefreshLocal() {
    Use use(*this);
    int family = 0;
    GStack().SocketLocalName(use.Fd(), family, ip_, port_);
}

void TIdSocketHandle::RefreshPeer() {
    Use use(*this);
    int family = 0;
    GStack().SocketPeerName(use.Fd(), family, peer_ip_, peer_port_);
}

TIdStackSocketHandle TIdSocketHandle::Handle() const {
    std::lock_guard lock(mutex_);
    return handle_;
}

bool TIdSocketHandle::HandleAllocated() const {
    std::lock_guard lock(mutex_);
    return allocated_;
}

}  // namespace tarnwick
