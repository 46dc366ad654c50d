#pragma once

// What a connection talks to: connect, wait, receive, send, close. The socket implementation is
// TIdIOHandlerSocket.

#include <cstdint>
#include <string>

#include "net/IdComponent.h"
#include "net/IdDeadline.h"

namespace tarnwick {

class TIdIOHandler : public TIdComponent {
public:
    using TIdComponent::TIdComponent;

    // ms a plain connect (timeout -1 or 0) may take before it fails with EIdConnectTimeout; 0: no
    // limit. Unlike a connect under a time limit it needs no connect thread and ends the moment
    // the handshake does. A handler that cannot bound a connect ignores it.
    std::int32_t ConnectLimit = 0;
    // ms a receive that has begun to take in a unit of the transport (a secure record) may wait
    // for its rest before it fails with EIdStallTimeout; 0: no limit. The connection's own waits
    // are bounded by the connection.
    std::int32_t StallLimit = 0;
    // The deadline of the connection's work (TIdTCPConnection::SetDeadline keeps it here): a wait
    // inside the handler (the rest of a secure record) is cut to it too.
    TIdDeadline Deadline;

    // Closes the transport. May be called from another thread while a call waits inside it.
    virtual void CloseHandler() {}
    // Connects to host:port from the bound local address (a port range is used when bound_port is
    // 0 and both range ends are set). timeout in ms: -1 or 0 a plain blocking connect,
    // IdTimeoutInfinite no limit, otherwise the limit.
    virtual void ConnectTo(const std::string& /*host*/, int /*port*/,
                           const std::string& /*bound_ip*/, int /*bound_port*/,
                           int /*bound_port_min*/, int /*bound_port_max*/, int /*timeout*/) {}
    virtual bool HandlerConnected() = 0;
    // Prepares the handler for a new connect.
    virtual void OpenHandler() {}
    virtual bool WaitReadable(int timeout) = 0;
    // One receive / send: a count, 0 when the peer has closed, -1 on failure.
    virtual int ReceiveInto(void* buffer, int length) = 0;
    // What ReceiveReady gives when nothing has arrived yet.
    static constexpr int kNothingReady = -2;
    // One receive of what has already arrived, without waiting: as ReceiveInto, or kNothingReady.
    // A handler that cannot tell gives kNothingReady, and the caller waits.
    virtual int ReceiveReady(void* /*buffer*/, int /*length*/) { return kNothingReady; }
    virtual int SendFrom(const void* buffer, int length) = 0;
};

}  // namespace tarnwick
