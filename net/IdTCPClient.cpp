#include "net/IdTCPClient.h"

#include <algorithm>

#include "net/IdExceptions.h"
#include "net/IdIOHandlerSocket.h"
#include "net/IdStack.h"

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
    // A connect (a secure one's handshake included) may take no more than the deadline leaves;
    // when that is what ends it, the deadline is the failure to report.
    const TIdDeadline& deadline = Deadline();
    handler->Deadline = deadline;
    deadline.Check();
    bool cut = false;
    if (deadline.IsSet()) {
        // At least 1 ms: 0 would mean no limit at all.
        if (timeout > 0 || timeout == IdTimeoutInfinite)
            timeout = std::max(1, deadline.Cut(timeout > 0 ? timeout : -1, cut));
        else
            handler->ConnectLimit =
                std::max(1, deadline.Cut(ConnectTimeout > 0 ? ConnectTimeout : -1, cut));
    }
    try {
        handler->OpenHandler();
        ResetInput();
        handler->ConnectTo(Host, Port, BoundIP, BoundPort, BoundPortMin, BoundPortMax, timeout);
        ReportStatus(hsConnected, Host);
        SignalConnected();
    } catch (const EIdConnectTimeout&) {
        CloseTransport();
        if (cut) deadline.Raise();
        throw;
    } catch (...) {
        CloseTransport();
        throw;
    }
}

void TIdTCPClient::SignalConnected() {
    if (OnConnected) OnConnected(*this);
}

}  // namespace tarnwick
