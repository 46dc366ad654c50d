#include "net/IdIOHandlerSocket.h"

#include <chrono>
#include <thread>

#include "net/IdConnectThread.h"
#include "net/IdExceptions.h"
#include "net/IdStack.h"

namespace tarnwick {

TIdIOHandlerSocket::TIdIOHandlerSocket(TComponent* owner)
    : TIdIOHandler(owner), socket_(std::make_unique<TIdSocketHandle>()) {}

// The socket handle closes an open socket when it goes.
TIdIOHandlerSocket::~TIdIOHandlerSocket() = default;

void TIdIOHandlerSocket::ConnectTo(const std::string& host, int port, const std::string& bound_ip,
                                   int bound_port, int bound_port_min, int bound_port_max,
                                   int timeout) {
    if (SocksInfo.Version != svNoSocks) throw EIdSocksNotSupported();

    socket_->AllocateHandle(Id_SOCK_STREAM, 0);
    socket_->SetIP(bound_ip);
    socket_->SetPort(bound_port);
    socket_->SetClientPortMin(bound_port_min);
    socket_->SetClientPortMax(bound_port_max);
    socket_->BindLocal();

    if (!TIdStack::IsDottedQuad(host)) ReportStatus(hsResolving, host);
    socket_->SetPeerAddress(GStack().ResolveHostName(host), port);
    if (!UseNagle) socket_->SetOption(Id_IPPROTO_TCP, Id_TCP_NODELAY, 1);
    ReportStatus(hsConnecting, socket_->PeerIP());

    if (timeout != IdTimeoutDefault && timeout != 0) {
        ConnectWithTimeout(timeout);
    } else if (ConnectLimit > 0) {
        // The socket's send time limit also bounds a blocking connect; it is lifted again after.
        socket_->SetSendTimeLimit(ConnectLimit);
        const int result = socket_->ConnectPeer(Id_PF_INET);
        if (result == Id_SOCKET_ERROR && GStack().LastSocketError() == Id_WSAEINPROGRESS) {
            CloseHandler();  // ends the pending connect
            throw EIdConnectTimeout();
        }
        GStack().CheckSocketResult(result);
        socket_->SetSendTimeLimit(0);
    } else {
        GStack().CheckSocketResult(socket_->ConnectPeer(Id_PF_INET));
    }
}

void TIdIOHandlerSocket::ConnectWithTimeout(int timeout) {
    const bool unlimited = timeout < 0;
    TIdConnectThread thread(*socket_);
    thread.Start();

    const auto sleep = [](int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); };
    int remaining = unlimited ? kConnectStepMs + 1 : timeout;
    while (remaining > kConnectStepMs) {
        sleep(kConnectStepMs);
        remaining = unlimited ? kConnectStepMs + 1 : remaining - kConnectStepMs;
        if (thread.Terminated() || !HandlerConnected()) {
            remaining = 0;
            break;
        }
    }
    if (remaining > 0) sleep(remaining);

    if (!thread.Terminated()) {
        const bool closed = !HandlerConnected();
        thread.Terminate();
        CloseHandler();  // ends the pending connect
        thread.WaitFor();
        if (closed) throw EIdClosedSocket();
        throw EIdConnectTimeout();
    }
    thread.WaitFor();
    // The user's close ended the connect: that is no failure of the peer's.
    if (!HandlerConnected()) throw EIdClosedSocket();
    if (!thread.ExceptionMessage().empty()) throw EIdConnectException(thread.ExceptionMessage());
}

void TIdIOHandlerSocket::CloseHandler() { socket_->DropHandle(); }

bool TIdIOHandlerSocket::HandlerConnected() { return socket_->HandleAllocated(); }

void TIdIOHandlerSocket::OpenHandler() { socket_->ResetHandle(true); }

bool TIdIOHandlerSocket::WaitReadable(int timeout) { return socket_->WaitReadable(timeout); }

int TIdIOHandlerSocket::ReceiveInto(void* buffer, int length) {
    if (!HandlerConnected()) throw EIdClosedSocket();
    const int n = socket_->Receive(buffer, length);
    // Nothing or a failure from a socket that was closed under the call is that close, not the
    // peer's.
    if (n <= 0 && !HandlerConnected()) throw EIdClosedSocket();
    return n;
}

int TIdIOHandlerSocket::ReceiveReady(void* buffer, int length) {
    if (!HandlerConnected()) throw EIdClosedSocket();
    const int n = socket_->ReceiveReady(buffer, length);
    if (n < 0 && GStack().LastSocketError() == Id_WSAEWOULDBLOCK) return kNothingReady;
    if (n <= 0 && !HandlerConnected()) throw EIdClosedSocket();
    return n;
}

int TIdIOHandlerSocket::SendFrom(const void* buffer, int length) {
    if (!HandlerConnected()) throw EIdClosedSocket();
    const int n = socket_->Send(buffer, length);
    if (n <= 0 && !HandlerConnected()) throw EIdClosedSocket();
    return n;
}

}  // namespace tarnwick
