#pragma once

// The HTTP client: Get (and the other methods through PerformRequest) over its own connection,
// following redirects, answering authentication challenges, keeping cookies, and reusing the
// connection while the server allows it.
//
// Where the connection is after a call: open only when the last answer allowed keep-alive and was
// read to its end (a call that failed in the middle of an answer, or left a body unread for want
// of an output stream, closes it), so a later Get on the same client to the same host and port
// reuses it. A GET or HEAD sent on a kept connection that fails before any byte of its answer
// came (the server closed or reset the idle connection meanwhile) is sent once more on a new
// connection.
//
// What an answer can make the client hold is bounded: a header block (see TIdHTTPProtocol), an
// error's body (its first kErrorBodyKept bytes), and the body of an answer that is not kept
// (redirects, accepted challenges, errors: at most kDrainLimit bytes are read past what is kept,
// and only while the connection may be kept; otherwise the connection is closed instead).
//
// Threads: one thread runs a request at a time. CloseConnection may come from another thread
// while a request runs (the user's abort): the request then ends promptly with EIdNotConnected,
// EIdClosedSocket or EIdReadTimeout, never with success and never by connecting again. A
// CloseConnection before a request starts does not carry into it; an AbortSignal does, and an
// abort of the AbortSignal during a request closes the connection itself.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <utility>

#include "http/IdAbortSignal.h"
#include "http/IdAuthorization.h"
#include "http/IdCookieManager.h"
#include "http/IdHTTPHeaderInfo.h"
#include "http/IdHTTPMethod.h"
#include "http/IdHTTPProtocol.h"
#include "http/IdHTTPRequest.h"
#include "http/IdHTTPResponse.h"
#include "http/IdProxyConnectionInfo.h"
#include "http/IdRateLimit.h"
#include "http/IdURI.h"
#include "net/IdSSLIOHandlerSocket.h"
#include "net/IdStream.h"
#include "net/IdTCPClient.h"

namespace tarnwick {

enum TIdHTTPOption { hoInProcessAuth, hoKeepOrigProtocol, hoForceEncodeParams };
using TIdHTTPOptions = std::set<TIdHTTPOption>;

class TIdCustomHTTP;

// Called when the head of the final answer is in and its body is about to be read into the
// output: a 2xx answer other than 204 on an open connection. The handler may move the output's
// position and size, or point Response().BodyStream at another stream (positioned where the body
// is to go), or throw to refuse the body: the call then ends with that exception and the
// connection is closed.
using TIdHTTPOnBodyStartEvent = std::function<void(TIdCustomHTTP& Sender)>;

// Called before a redirect is followed (or, with HandleRedirects off, instead of failing): dest
// and VMethod may be changed, Handled decides; NumRedirect is the count of requests so far.
using TIdHTTPOnRedirectEvent =
    std::function<void(TIdCustomHTTP& Sender, std::string& dest, std::int32_t NumRedirect,
                       bool& Handled, TIdHTTPMethod& VMethod)>;

// What to do after an answer.
enum TIdHTTPNextStep {
    nsFollow,     // send again to the request's target (a redirect, or authorization on a new
                  // connection)
    nsDone,       // finished
    nsUndefined,  // a success answer without a connection to read its body from
    nsRetryAuth,  // send again, with credentials, to the address the call was given
};

class TIdCustomHTTP : public TIdTCPClient {
public:
    // The part of an error answer's body kept in EIdHTTPProtocolException::ResponseBody.
    static constexpr std::int64_t kErrorBodyKept = 64 * 1024;
    // Bound on the bytes of an answer's body read only to be dropped, to keep the connection.
    static constexpr std::int64_t kDrainLimit = 1024 * 1024;

    explicit TIdCustomHTTP(TComponent* owner = nullptr);
    ~TIdCustomHTTP() override;

    // Settings; change them only between requests.
    bool HandleRedirects = false;
    // Bound on the requests of one call that may be followed by a redirect.
    std::int32_t RedirectMaximum = 15;
    // Bound on authorization attempts per call, for the server and for the proxy each.
    std::int32_t AuthRetries = 3;
    // ms one call may take in all, beside StallTimeout and ConnectTimeout: its connects, request
    // heads and answers, across the redirects and authorization rounds it follows. Each wait is
    // cut to the time left, so the call ends when it is up, however steadily a server drips
    // bytes; no thread watches it. 0: no limit.
    std::int32_t RequestTimeout = 0;
    // Lets the client make a cookie store of its own at the first answer when it has none.
    bool AllowCookies = true;
    // The version of the request line; also decides the keep-alive default.
    TIdHTTPProtocolVersion ProtocolVersion = pv1_1;
    // Only hoInProcessAuth is read: after an accepted 401/407 the answer's body is drained and
    // the request repeated on the same connection.
    TIdHTTPOptions HTTPOptions{hoForceEncodeParams};
    TIdProxyConnectionInfo ProxyParams;
    // Trust settings of "https" connections (an extra certificate file).
    TIdSSLOptions SSLOptions;
    TIdHTTPOnRedirectEvent OnRedirect;
    TIdOnSelectAuthorization OnSelectAuthorization;
    TIdOnSelectAuthorization OnSelectProxyAuthorization;
    TIdOnAuthorization OnAuthorization;
    TIdOnAuthorization OnProxyAuthorization;
    TIdHTTPOnBodyStartEvent OnBodyStart;
    // The user's abort, when the caller has one (not owned; it must outlive the requests): once
    // it is set no connect starts and no kept connection is reused, also when it was set before
    // the request began; the request ends with EIdNotConnected. An abort during a request closes
    // its connection at once (CloseConnection, on the aborting thread).
    const TIdAbortSignal* AbortSignal = nullptr;

    // The limit on the bytes per second of the answers' bodies (null: none), shared with the
    // other clients of one transfer; a wait in it ends with the abort as a read does.
    void SetRateLimit(std::shared_ptr<TIdRateLimit> limit) { rateLimit_ = std::move(limit); }
    const std::shared_ptr<TIdRateLimit>& RateLimit() const noexcept { return rateLimit_; }

    // The host and port of the connection; setting them also sets the current address's, so a
    // relative address can be fetched from there.
    void SetHost(std::string host);
    void SetPort(std::int32_t port);

    // The cookie store: one installed here (not owned; it must outlive the client or be
    // uninstalled first) or one the client made itself (owned, freed when replaced).
    TIdCookieManager* CookieManager() const noexcept { return cookieManager_; }
    void SetCookieManager(TIdCookieManager* manager);

    TIdHTTPRequest& Request() noexcept { return protocol_.Request(); }
    TIdHTTPResponse& Response() noexcept { return protocol_.Response(); }
    // The current address: where the last request went, against which the next one resolves.
    TIdURI& URL() noexcept { return url_; }

    // True while the connection runs over a completed secure handshake.
    bool ConnectionIsSecure() const;

    std::int32_t RedirectsSoFar() const noexcept { return redirectsSoFar_; }
    std::int32_t AuthAttempts() const noexcept { return authAttempts_; }
    std::int32_t ProxyAuthAttempts() const noexcept { return proxyAuthAttempts_; }

    // Fetches address into output, from output's position on: only the final answer's body gets
    // there (a redirect's or error's never does; what an exchange wrote is cut off again when a
    // redirect is followed). Throws:
    //  - EIdHTTPProtocolException (message the status line, StatusCode, ResponseBody) for an
    //    answer that is not 2xx and neither a redirect that is followed nor an accepted
    //    authorization: errors, 304, 101, -1 for an unreadable status line, a redirect with
    //    HandleRedirects off (unless OnRedirect handles it), the redirect that reaches
    //    RedirectMaximum with HandleRedirects on, a 401/407 declined or after AuthRetries;
    //  - EIdConnClosedGracefully when the server closes before the whole body came, or before
    //    the status line (output keeps the bytes of the body that came, as after a reset or the
    //    stall limit during a body);
    //  - EIdException "Undefined situation" for a 2xx answer whose connection closed before the
    //    body; EIdException for a bad chunk size (see ParseChunkSize) or a body that would end
    //    beyond output position 2^63-1; EIdException for an answer beyond the bounds of
    //    TIdHTTPProtocol (header block, interim answers) or with a bad or ambiguous
    //    Content-Length (see ContentLengthOf), before any body byte reaches output;
    //  - EIdException "The request target holds a line break." (or the same for a header value)
    //    for a request whose head would carry a CR or LF inside a line, before any of it is sent;
    //  - EIdIOHandlerPropInvalid "IOHandler value is not valid" for an "https" address when the
    //    caller set an I/O handler of its own that is no TIdSSLIOHandlerSocket;
    //  - EIdTLSError (naming the host and OpenSSL's reason) when the secure handshake or the
    //    server's certificate fails, before any request byte is sent;
    //  - EIdUnknownProtocol for an address without port whose protocol has no default port;
    //  - EConvertError for a port that is not a number, or a bad "Content-Range";
    //  - what the connection throws: resolving, connecting, sending, reading, the user's abort;
    //    EIdStallTimeout "No data received for N seconds." when the server sent nothing for
    //    StallTimeout ms, EIdConnectTimeout "Connect timed out." after ConnectTimeout ms,
    //    EIdDeadlineReached "Not finished within N seconds." after RequestTimeout ms (output keeps
    //    the bytes of the body that came).
    void Get(std::string_view address, TIdStream& output);

    // The request loop of every method: source is the body of POST and PUT, output receives the
    // final body (none: no body is read). Throws as Get, and EIdException
    // "This request method is supported in HTTP 1.1" for OPTIONS, TRACE, PUT and DELETE at 1.0.
    void PerformRequest(TIdHTTPMethod method, std::string_view address, TIdStream* source,
                        TIdStream* output);

    // The user's abort: closes the connection, and a request running on another thread ends with
    // an exception (see above).
    void CloseConnection() override;

protected:
    // Merges the request's target into the current address.
    void ResolveTarget();
    // Chooses the route, connects (or reuses the connection) and sends the request.
    void StartExchange();
    // Sets Host and Port for the current address (disconnecting when they change) and returns
    // the route: 0 direct, 1 direct secure ("https"), 2 through the proxy, 3 secure through the
    // proxy (a CONNECT tunnel). An open connection that is secure where the route is plain, plain
    // where it is secure, or secured for another server is closed.
    std::int32_t ChooseEndpoint();
    // Closes a connection the last answer did not allow to keep, notices a close by the peer,
    // and connects when not connected.
    void EnsureConnected();
    // Decides on the answer just read: follows, retries with credentials, reads the body, or
    // raises the protocol error.
    TIdHTTPNextStep DecideNextStep();
    // Reads the body of the answer and drops it (read time-out 4000 ms, at most kDrainLimit
    // bytes), or disconnects when the connection is not to be kept or the body is larger;
    // failures are swallowed, except the user's abort.
    void DrainBody();
    // Reads the error answer's body (read time-out 2000 ms; its first kErrorBodyKept bytes kept,
    // the rest dropped as DrainBody does) and throws EIdHTTPProtocolException with it, or the
    // failure of that read.
    [[noreturn]] void RaiseProtocolError();
    // OnRedirect's decision on dest; HandleRedirects when there is no handler.
    bool DoOnRedirect(std::string& dest, TIdHTTPMethod& method, std::int32_t numRedirect);

    // The client's own disconnect (not an abort): closes the connection when it has a handler
    // and drops an authentication scheme that has reached its last step.
    void Disconnect();

private:
    friend class TIdHTTPProtocol;
    friend class TIdHTTPTunnel;

    // Before a connect: gives the connection an I/O handler that can take the route (a secure
    // one of the client's own for routes 1 and 3), set up for the current address.
    void PrepareHandler(std::int32_t route);

    // Throws when the user closed the connection during this request.
    void CheckAborted() const;
    // StartExchange and the answer's head, once more on a new connection when a kept one failed
    // before any byte of the answer came (GET and HEAD only).
    void ExchangeHead();
    // The cookie store for an answer: the installed one, or one made now when AllowCookies.
    TIdCookieManager* CookieManagerForAnswer();

    TIdURI url_;  // first: the request's address merging reads it from the start
    TIdHTTPProtocol protocol_;
    std::int32_t redirectsSoFar_ = 0;
    std::int32_t authAttempts_ = 0;
    std::int32_t proxyAuthAttempts_ = 0;
    TIdCookieManager* cookieManager_ = nullptr;
    std::unique_ptr<TIdCookieManager> ownCookieManager_;
    std::shared_ptr<TIdRateLimit> rateLimit_;
    std::atomic<bool> aborted_{false};
    // A request went out and its answer has not been read to its end: what is left of it on the
    // connection would be taken for the next answer, so the connection must not be kept.
    bool answerPending_ = false;
    // The last StartExchange sent on a connection kept from an earlier answer.
    bool reusedConnection_ = false;
    // "host:port" the open connection is secured for; empty for a plain one.
    std::string secureTarget_;
};

}  // namespace tarnwick
