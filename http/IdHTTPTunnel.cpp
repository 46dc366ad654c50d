#include "http/IdHTTPTunnel.h"

#include <memory>

#include "http/IdCustomHTTP.h"
#include "http/IdHTTPExceptions.h"
#include "http/IdHTTPProtocol.h"
#include "net/IdExceptions.h"
#include "net/IdSSLIOHandlerSocket.h"

namespace tarnwick {

void TIdHTTPTunnel::Open() {
    const TIdURI& server = client_.URL();
    // A request and response of its own: the client's stay as they are for the real request.
    TIdHTTPProtocol exchange(client_);
    TIdHTTPRequest& request = exchange.Request();
    TIdHTTPResponse& response = exchange.Response();
    request.SetMethod(hmConnect);
    request.Target = server.Host + ":" + server.Port;
    request.UserAgent = client_.Request().UserAgent;
    request.Host = client_.Request().Host;
    request.Pragma = "no-cache";
    request.ProxyConnection = "keep-alive";
    TIdMemoryStream body;
    response.BodyStream = &body;

    std::int32_t attempts = 0;
    for (;;) {
        if (!client_.IsConnected()) {
            client_.OpenConnection(client_.ReadTimeout);
            client_.CheckAborted();
        }
        exchange.SendRequestHead(nullptr);
        exchange.ReadAnswerHead();
        const std::int32_t code = response.StatusCode();
        if (code == 200) break;
        if (code == 407) {
            const TIdAuthorizationClient authorization{&client_, attempts,
                                                       client_.OnSelectProxyAuthorization,
                                                       client_.OnProxyAuthorization};
            if (attempts < client_.AuthRetries &&
                AuthorizeProxy(authorization, client_.ProxyParams, response.ProxyAuthenticate)) {
                if (client_.IsConnected()) {
                    exchange.ReadBody();
                    body.SetSize(0);
                }
                if (!response.KeepConnection()) client_.Disconnect();
                continue;
            }
        }
        if (client_.IsConnected()) {
            try {
                exchange.ReadBody();
            } catch (const EIdConnClosedGracefully&) {
                // A refusal cut short is still the refusal to report.
            }
        }
        client_.Disconnect();
        throw EIdHTTPProtocolException(code, response.StatusLine, body.DataString());
    }

    // Held for the handshake: the user's close may release the connection's handler meanwhile.
    const std::shared_ptr<TIdIOHandler> handler = client_.Handler();
    auto* secure = dynamic_cast<TIdSSLIOHandlerSocket*>(handler.get());
    if (!secure) throw EIdNotConnected();
    secure->StartSSL(server.Host, client_.ReadTimeout);
}

}  // namespace tarnwick
