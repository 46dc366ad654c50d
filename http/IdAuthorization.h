#pragma once

// Answering a 401 (server) or 407 (proxy) challenge: picking a registered scheme from the
// challenge lines, asking the application for credentials through the client's events, and
// saying whether the request may be repeated with credentials.
//
// These operations touch the HTTP client's objects only through the small interfaces below, which
// the request, the proxy settings and the client implement or fill in.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "core/Component.h"
#include "http/IdAuthentication.h"
#include "http/IdHeaderList.h"

namespace tarnwick {

// The handler may replace the class chosen from the challenge lines (AuthInfo).
using TIdOnSelectAuthorization =
    std::function<void(TComponent* Sender, TIdAuthenticationClass& AuthenticationClass,
                       const TIdHeaderList& AuthInfo)>;
// The handler supplies credentials on the scheme object and sets Handled to go on.
using TIdOnAuthorization =
    std::function<void(TComponent* Sender, TIdAuthentication& Authentication, bool& Handled)>;

// The request members that server authorization reads and writes.
class TIdAuthorizationRequest {
public:
    virtual ~TIdAuthorizationRequest() = default;

    virtual std::string Username() const = 0;
    virtual void SetUsername(std::string value) = 0;
    virtual std::string Password() const = 0;
    virtual void SetPassword(std::string value) = 0;
    virtual void SetBasicAuthentication(bool value) = 0;
    // The scheme object in use, owned by the request; null when none.
    virtual TIdAuthentication* AuthScheme() const = 0;
    virtual void SetAuthScheme(std::unique_ptr<TIdAuthentication> scheme) = 0;
};

// The proxy-settings members that proxy authorization reads and writes.
class TIdAuthorizationProxy {
public:
    virtual ~TIdAuthorizationProxy() = default;

    virtual std::string ProxyUsername() const = 0;
    virtual void SetProxyUsername(std::string value) = 0;
    virtual std::string ProxyPassword() const = 0;
    virtual void SetProxyPassword(std::string value) = 0;
    // The proxy's scheme object, owned by the settings; null when none.
    virtual TIdAuthentication* Authentication() const = 0;
    virtual void SetAuthentication(std::unique_ptr<TIdAuthentication> scheme) = 0;
};

// What the client lends to one authorization: the component its events name as Sender, the
// attempt counter to advance (AuthAttempts or ProxyAuthAttempts), and its two handlers for that
// side (empty when not assigned).
struct TIdAuthorizationClient {
    TComponent* Sender;
    std::int32_t& Attempts;
    const TIdOnSelectAuthorization& OnSelectAuthorization;
    const TIdOnAuthorization& OnAuthorization;
};

// After a 401: counts the attempt; without a scheme object on the request, creates one of the
// class registered for the first challenge line whose scheme word (text before the first blank)
// is registered, as OnSelectAuthorization may change it, and leaves it with the request. Declines
// without such a line or without an OnAuthorization handler. Otherwise gives the scheme the
// request's credentials and the challenge lines, and follows its Advance: asAskApplication calls
// OnAuthorization (declining unless Handled; when handled the request takes the scheme's
// credentials and BasicAuthentication is set), asSend accepts, asFail declines. The handler is
// asked once per call: a scheme that still asks after an accepted answer (a handler that set
// Handled but supplied no user name) declines instead of asking again without end.
// Returns whether the request may be repeated with credentials.
bool AuthorizeServer(const TIdAuthorizationClient& client, TIdAuthorizationRequest& request,
                     const TIdHeaderList& wwwAuthenticate);

// After a 407, as AuthorizeServer with the proxy's scheme object, ProxyUsername/ProxyPassword and
// the proxy handlers, except that: only the first challenge line can choose the scheme; once the
// handler check is past, ProxyPassword is cleared and the scheme restarted (with or without a
// handler); no "Authorization" entry is written and no flag is set.
bool AuthorizeProxy(const TIdAuthorizationClient& client, TIdAuthorizationProxy& proxy,
                    const TIdHeaderList& proxyAuthenticate);

}  // namespace tarnwick
