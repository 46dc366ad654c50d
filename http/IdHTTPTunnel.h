#pragma once

// The CONNECT exchange that opens a tunnel through the HTTP client's proxy to the server of its
// current address, on the client's open (plain) connection, and then secures the tunnel. Used for
// "https" addresses through a proxy (route 3).

namespace tarnwick {

class TIdCustomHTTP;

class TIdHTTPTunnel {
public:
    explicit TIdHTTPTunnel(TIdCustomHTTP& client) : client_(client) {}

    // Sends "CONNECT host:port" (with the proxy's credentials when set up, never a cookie) and
    // reads the answer head, storing its cookies. A 407 that the proxy authorization accepts is
    // answered again, at most AuthRetries times. On 200 the handshake with the server follows
    // (as TIdSSLIOHandlerSocket::StartSSL, naming the server, not the proxy). Any other answer
    // throws EIdHTTPProtocolException with the proxy's status line, code and body; the failures
    // of the connection and the handshake pass through.
    void Open();

private:
    TIdCustomHTTP& client_;
};

}  // namespace tarnwick
