#pragma once

// The I/O handler over one TIdSocketHandle: the whole connect sequence (socket, bind, resolve,
// optional no-delay, connect with or without a time limit) and the forwarded wait, receive, send
// and close. CloseHandler may come from another thread while a call waits in the handler; it ends
// that call at once (see TIdSocketHandle).

#include <memory>
#include <string>

#include "net/IdIOHandler.h"
#include "net/IdSocketHandle.h"

namespace tarnwick {

enum TSocksVersion { svNoSocks, svSocks4, svSocks4A, svSocks5 };
enum TSocksAuthentication { saNoAuthentication, saUsernamePassword };

// Proxy settings. Only svNoSocks is supported: a connect with any other version raises
// EIdSocksNotSupported before it opens a socket.
struct TIdSocksInfo {
    TSocksVersion Version = svNoSocks;
    std::string Host;
    int Port = 1080;
    std::string Username;
    std::string Password;
    TSocksAuthentication Authentication = saNoAuthentication;
};

class TIdIOHandlerSocket : public TIdIOHandler {
public:
    // The step in which a connect under a time limit is looked at.
    static constexpr int kConnectStepMs = 125;

    explicit TIdIOHandlerSocket(TComponent* owner = nullptr);
    ~TIdIOHandlerSocket() override;

    // False makes the connect set TCP no-delay.
    bool UseNagle = true;
    TIdSocksInfo SocksInfo;

    // The handler's socket handle (owned; closed with the handler).
    TIdSocketHandle& SocketHandle() noexcept { return *socket_; }

    // Allocates and binds the socket, reports hsResolving (for a host that is no dotted quad),
    // resolves, reports hsConnecting with the peer address and connects. A plain connect that
    // fails raises EIdSocketError, one still pending after ConnectLimit EIdConnectTimeout (its
    // socket is closed); under a time limit a failure raises EIdConnectException with
    // its message and a connect still pending at the limit EIdConnectTimeout "Connect timed out."
    // (its socket is closed); a CloseHandler from another thread ends such a connect within one
    // step with EIdClosedSocket "Disconnected.". A failed connect otherwise leaves the socket
    // allocated.
    void ConnectTo(const std::string& host, int port, const std::string& bound_ip, int bound_port,
                   int bound_port_min, int bound_port_max, int timeout) override;
    // Drops the socket.
    void CloseHandler() override;
    bool HandlerConnected() override;
    // Forgets the previous socket and addresses.
    void OpenHandler() override;
    // As TIdSocketHandle::WaitReadable.
    bool WaitReadable(int timeout) override;
    // Raise EIdClosedSocket "Disconnected." when the socket is closed, before the call or under it.
    int ReceiveInto(void* buffer, int length) override;
    // As ReceiveInto, without waiting.
    int ReceiveReady(void* buffer, int length) override;
    int SendFrom(const void* buffer, int length) override;

private:
    void ConnectWithTimeout(int timeout);

    // Made with the handler, so a close from another thread never races its creation.
    const std::unique_ptr<TIdSocketHandle> socket_;
};

}  // namespace tarnwick
