#pragma once

// A connection that connects itself: the peer's Host and Port, the local bound address, and
// OpenConnection, which makes and owns its socket handler when none is set.

#include <cstdint>
#include <string>

#include "net/IdTCPConnection.h"

namespace tarnwick {

class TIdTCPClient : public TIdTCPConnection {
public:
    using TIdTCPConnection::TIdTCPConnection;

    std::string BoundIP;  // empty: any address
    std::int32_t BoundPort = 0;
    std::int32_t BoundPortMax = 0;
    std::int32_t BoundPortMin = 0;
    std::string Host;
    std::int32_t Port = 0;
    // ms a connect may take before it fails with EIdConnectTimeout "Connect timed out.", for an
    // OpenConnection without a timeout of its own (-1 or 0), given to the handler as its
    // ConnectLimit. 0: no limit.
    std::int32_t ConnectTimeout = 0;
    TIdNotifyEvent OnConnected;

    // Connects to Host:Port (timeout in ms as TIdIOHandler::ConnectTo). Without a handler it
    // creates a TIdIOHandlerSocket of its own that reports status through this client's OnStatus.
    // Empties the input buffer first, reports hsConnected and fires OnConnected. Raises
    // EIdAlreadyConnected "Already connected." while the handler's socket is open; any failure of
    // the connect closes the transport and passes on. The connection's deadline cuts the connect
    // (EIdDeadlineReached when it ends it, or has passed before).
    void OpenConnection(int timeout = -1);
    void SignalConnected();
};

}  // namespace tarnwick
