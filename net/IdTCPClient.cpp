#include "net/IdTCPClient.h"

#include "net/IdExceptions.h"
#include "net/IdIOHandlerSocket.h"

namespace tarnwick {

void TIdTCPClient::OpenConnection(int timeout) {
    auto handler = Handler();
    if (!handler) {
        auto own = std::make_shared<TIdIOHandlerSocket>(this);
        own->OnStatus = OnStatus;
        AdoptHandler(own, true);
        handler = std::move(own);
    } else if (handler->HandlerConnected()) {
        throw EIdAlreadyConnected();
    }
    handler->ConnectLimit = ConnectTimeout;
    handler->StallLimit = StallTimeout;
    try {
        handler->OpenHandler();
        ResetInput();
        handler->ConnectTo(Host, Port, BoundIP, BoundPort, BoundPortMin, BoundPortMax, timeout);
        ReportStatus(hsConnected, Host);
        SignalConnected();
    } catch (...) {
        CloseTransport();
        throw;
    }
}

void TIdTCPClient::SignalConnected() {
    if (OnConnected) OnConnected(*this);
}

}  // namespace tarnwick
