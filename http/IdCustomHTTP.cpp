#include "http/IdCustomHTTP.h"

#include <algorithm>

#include "core/StrUtils.h"
#include "http/IdHTTPExceptions.h"
#include "http/IdHTTPMessages.h"
#include "http/IdHTTPTunnel.h"
#include "net/IdExceptions.h"

namespace tarnwick {

namespace {

// What a bounded body stream throws when more arrives than it may take.
struct BodyLimitReached {};

// A body that is read only to be dropped, all but its first `kept` bytes: it keeps a position and
// a size, and stops the read with BodyLimitReached once more than `limit` bytes were written. An
// announced size costs nothing.
class TIdBoundedBodyStream : public TIdStream {
public:
    TIdBoundedBodyStream(std::int64_t kept, std::int64_t limit) : kept_(kept), limit_(limit) {}

    std::int64_t Position() const override { return position_; }
    void SetPosition(std::int64_t position) override {
        position_ = std::max<std::int64_t>(0, position);
    }
    std::int64_t Size() const override { return size_; }
    void SetSize(std::int64_t size) override {
        size_ = std::max<std::int64_t>(0, size);
        position_ = std::min(position_, size_);
        if (static_cast<std::int64_t>(bytes_.size()) > size_)
            bytes_.resize(static_cast<std::size_t>(size_));
    }
    std::int64_t Read(void*, std::int64_t) override { return 0; }
    void Write(const void* buffer, std::int64_t count) override {
        count = std::max<std::int64_t>(0, count);
        if (position_ + count > limit_) throw BodyLimitReached();
        // Only a body written from its start in one run is kept; bodies are.
        if (position_ == static_cast<std::int64_t>(bytes_.size()) && position_ < kept_)
            bytes_.append(static_cast<const char*>(buffer),
                          static_cast<std::size_t>(std::min(count, kept_ - position_)));
        position_ += count;
        size_ = std::max(size_, position_);
    }

    const std::string& Kept() const noexcept { return bytes_; }

private:
    const std::int64_t kept_;
    const std::int64_t limit_;
    std::string bytes_;
    std::int64_t position_ = 0;
    std::int64_t size_ = 0;
};

// Sends the answer's body to another stream under another read time-out while it lives.
class BodyDetour {
public:
    BodyDetour(TIdCustomHTTP& client, TIdStream& stream, std::int32_t readTimeout)
        : client_(client), stream_(client.Response().BodyStream), readTimeout_(client.ReadTimeout) {
        client.Response().BodyStream = &stream;
        client.ReadTimeout = readTimeout;
    }
    ~BodyDetour() {
        client_.Response().BodyStream = stream_;
        client_.ReadTimeout = readTimeout_;
    }
    BodyDetour(const BodyDetour&) = delete;
    BodyDetour& operator=(const BodyDetour&) = delete;

private:
    TIdCustomHTTP& client_;
    TIdStream* stream_;
    std::int32_t readTimeout_;
};

bool HasBody(TIdHTTPMethod method) { return method == hmPost || method == hmPut; }

}  // namespace

TIdCustomHTTP::TIdCustomHTTP(TComponent* owner) : TIdTCPClient(owner), protocol_(*this) {
    SetPort(80);
}

TIdCustomHTTP::~TIdCustomHTTP() = default;

void TIdCustomHTTP::SetHost(std::string host) {
    url_.Host = host;
    Host = std::move(host);
}

void TIdCustomHTTP::SetPort(std::int32_t port) {
    Port = port;
    url_.Port = std::to_string(port);
}

void TIdCustomHTTP::SetCookieManager(TIdCookieManager* manager) {
    if (manager == cookieManager_) return;
    cookieManager_ = manager;
    ownCookieManager_.reset();
}

TIdCookieManager* TIdCustomHTTP::CookieManagerForAnswer() {
    if (!cookieManager_ && AllowCookies) {
        ownCookieManager_ = std::make_unique<TIdCookieManager>(this);
        cookieManager_ = ownCookieManager_.get();
    }
    return cookieManager_;
}

void TIdCustomHTTP::Get(std::string_view address, TIdStream& output) {
    PerformRequest(hmGet, address, nullptr, &output);
}

void TIdCustomHTTP::PerformRequest(TIdHTTPMethod method, std::string_view address,
                                   TIdStream* source, TIdStream* output) {
    aborted_.store(false);
    // For the span of the call, the user's abort closes the connection at once, from its own
    // thread: a read that blocks ends then, not at the stall limit.
    const TIdAbortSignal::TRegistration closeOnAbort =
        AbortSignal ? AbortSignal->OnAbort([this] { CloseConnection(); })
                    : TIdAbortSignal::TRegistration();
    const std::int64_t start = output ? output->Position() : 0;
    // Each call has the whole redirect allowance, also after a call that failed.
    redirectsSoFar_ = 0;
    authAttempts_ = 0;
    proxyAuthAttempts_ = 0;

    TIdHTTPRequest& request = Request();
    TIdHTTPResponse& response = Response();
    request.Target = std::string(address);
    request.SetMethod(method);
    request.SourceStream = source;
    response.BodyStream = output;
    // The caller's streams are not kept beyond the call, nor is its deadline.
    SetDeadline(TIdDeadline::After(RequestTimeout));
    const auto release = [&] {
        request.SourceStream = nullptr;
        response.BodyStream = nullptr;
        SetDeadline({});
    };

    try {
        for (bool done = false; !done;) {
            ++redirectsSoFar_;
            ResolveTarget();
            ExchangeHead();
            switch (DecideNextStep()) {
                case nsFollow:
                    if (output) {
                        output->SetPosition(start);
                        output->SetSize(start);
                    }
                    authAttempts_ = 0;
                    proxyAuthAttempts_ = 0;
                    break;
                case nsRetryAuth:
                    --redirectsSoFar_;
                    request.Target = std::string(address);
                    break;
                case nsDone: done = true; break;
                case nsUndefined: throw EIdException(RSHTTPUnknownResponseCode);
            }
        }
        // A close by the user after the last byte came still ends the call as aborted.
        CheckAborted();
    } catch (...) {
        release();
        try {
            if (answerPending_ || !response.KeepConnection()) Disconnect();
        } catch (...) {
            // The request's own failure is the one to report.
        }
        throw;
    }
    release();
    if (answerPending_ || !response.KeepConnection()) Disconnect();
    redirectsSoFar_ = 0;
}

void TIdCustomHTTP::ResolveTarget() {
    TIdHTTPRequest& request = Request();
    MergeRequestAddress(url_, std::string(request.Target), request);
    const TIdHTTPMethod method = request.Method();
    if ((method == hmOptions || method == hmTrace || method == hmPut || method == hmDelete) &&
        ProtocolVersion != pv1_1)
        throw EIdException(RSHTTPMethodRequiresVersion);
    if (HasBody(method))
        request.ContentLength = request.SourceStream ? request.SourceStream->Size() : 0;
    else
        request.ContentLength = -1;
}

void TIdCustomHTTP::ExchangeHead() {
    try {
        StartExchange();
        protocol_.ReadAnswerHead();
        return;
    } catch (const EIdException& e) {
        // A server may close an idle kept connection just as a request goes out on it: nothing of
        // the answer came, so a request without side effects can go once more.
        const TIdHTTPMethod method = Request().Method();
        const bool lost = dynamic_cast<const EIdConnClosedGracefully*>(&e) ||
                          dynamic_cast<const EIdSocketError*>(&e);
        if (!lost || !reusedConnection_ || aborted_.load() || protocol_.AnswerStarted() ||
            InputBuffer().Size() > 0 || (method != hmGet && method != hmHead))
            throw;
    }
    Disconnect();
    StartExchange();
    protocol_.ReadAnswerHead();
}

void TIdCustomHTTP::StartExchange() {
    TIdHTTPRequest& request = Request();
    request.Route = ChooseEndpoint();
    if (request.Route == 2) request.Target = url_.ComposeUriPlain();
    if (ProtocolVersion == pv1_0 && request.Connection.empty()) {
        // A value set here stays for the client's later requests.
        if (request.Route == 0) request.Connection = "keep-alive";
        if (request.Route == 2) request.ProxyConnection = "keep-alive";
    }
    EnsureConnected();
    answerPending_ = true;
    protocol_.SendRequestHead(&url_);
    if (HasBody(request.Method()) && request.SourceStream)
        WriteFromStream(*request.SourceStream, true, false, 0);
}

std::int32_t TIdCustomHTTP::ChooseEndpoint() {
    if (ProxyParams.ProxyServer().empty()) {
        const std::int32_t port = StrToInt(url_.Port);
        if (!SameText(Host, url_.Host) || Port != port) {
            if (IsConnected()) Disconnect();
            SetHost(url_.Host);
            SetPort(port);
        }
    } else if (!SameText(Host, ProxyParams.ProxyServer()) || Port != ProxyParams.ProxyPort()) {
        if (IsConnected()) Disconnect();
        // Straight into the connection's fields: the current address stays the server's.
        Host = ProxyParams.ProxyServer();
        Port = ProxyParams.ProxyPort();
    }
    const bool secure = SameText(url_.Protocol, "HTTPS");
    const std::int32_t route = ProxyParams.ProxyServer().empty() ? (secure ? 1 : 0)
                                                                 : (secure ? 3 : 2);
    // A kept connection serves only requests of its own kind: plain bytes must never go where
    // a secured server is expected, nor a tunnel serve another server.
    const std::string target = secure ? url_.Host + ":" + url_.Port : std::string();
    if (IsConnected() && !SameText(secureTarget_, target)) Disconnect();
    return route;
}

bool TIdCustomHTTP::ConnectionIsSecure() const {
    const std::shared_ptr<TIdIOHandler> handler = Handler();
    const auto* secure = dynamic_cast<const TIdSSLIOHandlerSocket*>(handler.get());
    return secure && secure->Secured();
}

void TIdCustomHTTP::PrepareHandler(std::int32_t route) {
    const bool secure = route == 1 || route == 3;
    secureTarget_.clear();
    std::shared_ptr<TIdIOHandler> current = Handler();
    auto* handler = dynamic_cast<TIdSSLIOHandlerSocket*>(current.get());
    if (current && !OwnsHandler()) {
        // The caller's own handler: used as it is, if it can do what the route needs.
        if (!handler) {
            if (secure) throw EIdIOHandlerPropInvalid();
            return;
        }
    } else if (secure && !handler) {
        auto own = std::make_shared<TIdSSLIOHandlerSocket>(this);
        own->OnStatus = OnStatus;
        handler = own.get();
        AdoptHandler(std::move(own), true);
    }
    if (!handler) return;
    handler->SSLOptions = SSLOptions;
    handler->URIHost = url_.Host;
    // Plain routes, and the proxy's part of a tunnel, go unencrypted.
    handler->PassThrough = route != 1;
}

void TIdCustomHTTP::EnsureConnected() {
    if (!Response().KeepConnection()) Disconnect();
    try {
        ProbeClosed(false);
    } catch (const EIdSocketError&) {
        // A kept connection the server reset while it was idle: start afresh.
        Disconnect();
    }
    CheckAborted();
    reusedConnection_ = IsConnected();
    if (!reusedConnection_) {
        const std::int32_t route = Request().Route;
        PrepareHandler(route);
        OpenConnection(ReadTimeout);
        // The user's close may have come before the connect began: it must not be lost.
        CheckAborted();
        if (route == 3) TIdHTTPTunnel(*this).Open();
        if (route == 1 || route == 3) secureTarget_ = url_.Host + ":" + url_.Port;
    }
}

TIdHTTPNextStep TIdCustomHTTP::DecideNextStep() {
    TIdHTTPRequest& request = Request();
    TIdHTTPResponse& response = Response();
    const std::int32_t code = response.StatusCode();
    const std::int32_t kind = code / 100;

    if ((kind == 3 && code != 304) || !response.Location.empty()) {
        std::string location = response.Location;
        TIdHTTPMethod method = request.Method();
        TIdHTTPNextStep next = nsDone;
        if (!HandleRedirects) {
            // The caller may take the redirect over; the call then ends without a body.
            if (!DoOnRedirect(location, method, redirectsSoFar_)) RaiseProtocolError();
            response.Location = location;
        } else if (redirectsSoFar_ < RedirectMaximum) {
            if (!DoOnRedirect(location, method, redirectsSoFar_)) RaiseProtocolError();
            request.Target = location;
            request.SetMethod(method);
            next = nsFollow;
        } else {
            // The limit is reached: this answer is the failure to report.
            RaiseProtocolError();
        }
        if (IsConnected()) DrainBody();
        answerPending_ = false;
        return next;
    }

    TIdHTTPNextStep next = nsUndefined;
    bool drain = false;
    if (kind != 2) {
        next = nsFollow;
        if (code == 401) {
            const TIdAuthorizationClient client{this, authAttempts_, OnSelectAuthorization,
                                                OnAuthorization};
            if (authAttempts_ >= AuthRetries ||
                !AuthorizeServer(client, request, response.WWWAuthenticate)) {
                if (TIdAuthentication* scheme = request.AuthScheme()) scheme->Restart();
                RaiseProtocolError();
            }
            drain = HTTPOptions.count(hoInProcessAuth) > 0;
        } else if (code == 407) {
            const TIdAuthorizationClient client{this, proxyAuthAttempts_,
                                                OnSelectProxyAuthorization, OnProxyAuthorization};
            if (proxyAuthAttempts_ >= AuthRetries ||
                !AuthorizeProxy(client, ProxyParams, response.ProxyAuthenticate)) {
                if (TIdAuthentication* scheme = ProxyParams.Authentication()) scheme->Restart();
                RaiseProtocolError();
            }
            drain = HTTPOptions.count(hoInProcessAuth) > 0;
        } else {
            RaiseProtocolError();
        }
    }
    if (!IsConnected()) return next;
    if (drain) {
        DrainBody();
        answerPending_ = false;
        return nsRetryAuth;
    }
    if (kind == 2 && code != 204 && OnBodyStart) OnBodyStart(*this);
    if (code == 204 || protocol_.ReadBody()) answerPending_ = false;
    return nsDone;
}

void TIdCustomHTTP::DrainBody() {
    // A body on a connection that goes anyway is not worth its time.
    if (!Response().KeepConnection()) {
        Disconnect();
        return;
    }
    TIdBoundedBodyStream sink(0, kDrainLimit);
    const BodyDetour detour(*this, sink, 4000);
    try {
        protocol_.ReadBody();
    } catch (...) {
        if (aborted_.load()) throw;
        // Unread body bytes would be taken for the next answer: this connection is done.
        Disconnect();
    }
}

void TIdCustomHTTP::RaiseProtocolError() {
    // Past what is kept, the body is read on only to keep the connection.
    TIdBoundedBodyStream body(kErrorBodyKept,
                              kErrorBodyKept + (Response().KeepConnection() ? kDrainLimit : 0));
    {
        const BodyDetour detour(*this, body, 2000);
        try {
            protocol_.ReadBody();
            answerPending_ = false;
        } catch (const EIdConnClosedGracefully&) {
            // An error body cut short: the error is still the answer to report.
            if (aborted_.load()) throw;
        } catch (const BodyLimitReached&) {
            Disconnect();
        }
    }
    const TIdHTTPResponse& response = Response();
    throw EIdHTTPProtocolException(response.StatusCode(), response.StatusLine, body.Kept());
}

bool TIdCustomHTTP::DoOnRedirect(std::string& dest, TIdHTTPMethod& method,
                                 std::int32_t numRedirect) {
    bool handled = HandleRedirects;
    if (OnRedirect) OnRedirect(*this, dest, numRedirect, handled, method);
    return handled;
}

void TIdCustomHTTP::Disconnect() {
    if (IOHandler()) TIdTCPClient::CloseConnection();
    answerPending_ = false;
    TIdHTTPRequest& request = Request();
    if (const TIdAuthentication* scheme = request.AuthScheme();
        scheme && scheme->Step() >= scheme->StepCount())
        request.SetAuthScheme(nullptr);
    if (TIdAuthentication* scheme = ProxyParams.Authentication()) scheme->Restart();
}

void TIdCustomHTTP::CloseConnection() {
    // First, so a request on another thread that the close wakes knows it was the user's.
    aborted_.store(true);
    TIdTCPClient::CloseConnection();
}

void TIdCustomHTTP::CheckAborted() const {
    if (aborted_.load() || (AbortSignal && AbortSignal->Aborted())) throw EIdNotConnected();
}

}  // namespace tarnwick
