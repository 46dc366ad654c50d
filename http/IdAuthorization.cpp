#include "http/IdAuthorization.h"

#include "http/IdURI.h"

namespace tarnwick {

namespace {

TIdAuthenticationClass SchemeOf(const std::string& challenge) {
    std::string line = challenge;
    return FindAuthScheme(CutToken(line, " "));
}

// Creates the scheme object of schemeClass as the selection handler leaves it; null when there is
// no class.
std::unique_ptr<TIdAuthentication> CreateScheme(const TIdAuthorizationClient& client,
                                                TIdAuthenticationClass schemeClass,
                                                const TIdHeaderList& challenges) {
    if (schemeClass == nullptr) return nullptr;
    if (client.OnSelectAuthorization)
        client.OnSelectAuthorization(client.Sender, schemeClass, challenges);
    return schemeClass != nullptr ? schemeClass->Create() : nullptr;
}

}  // namespace

bool AuthorizeServer(const TIdAuthorizationClient& client, TIdAuthorizationRequest& request,
                     const TIdHeaderList& wwwAuthenticate) {
    ++client.Attempts;
    if (request.AuthScheme() == nullptr) {
        TIdAuthenticationClass schemeClass = nullptr;
        for (const auto& line : wwwAuthenticate.Lines())
            if ((schemeClass = SchemeOf(line)) != nullptr) break;
        auto scheme = CreateScheme(client, schemeClass, wwwAuthenticate);
        if (!scheme) return false;
        request.SetAuthScheme(std::move(scheme));
    }
    if (!client.OnAuthorization) return false;

    TIdAuthentication& scheme = *request.AuthScheme();
    scheme.SetUsername(request.Username());
    scheme.SetPassword(request.Password());
    scheme.Credentials().AssignHeader("Authorization", scheme.Answer());
    scheme.SetChallenges(wwwAuthenticate);

    bool handled = false;
    bool asked = false;
    for (;;) {
        switch (scheme.Advance()) {
            case asAskApplication:
                // A handler that accepts but leaves the scheme still asking would be asked forever.
                if (asked) return false;
                asked = true;
                scheme.SetUsername(request.Username());
                scheme.SetPassword(request.Password());
                client.OnAuthorization(client.Sender, scheme, handled);
                if (!handled) return false;
                request.SetBasicAuthentication(true);
                request.SetUsername(scheme.Username());
                request.SetPassword(scheme.Password());
                break;
            case asSend:
                return true;
            case asFail:
            default:
                return false;
        }
    }
}

bool AuthorizeProxy(const TIdAuthorizationClient& client, TIdAuthorizationProxy& proxy,
                    const TIdHeaderList& proxyAuthenticate) {
    ++client.Attempts;
    if (proxy.Authentication() == nullptr) {
        const TIdAuthenticationClass schemeClass =
            proxyAuthenticate.Count() > 0 ? SchemeOf(proxyAuthenticate[0]) : nullptr;
        auto scheme = CreateScheme(client, schemeClass, proxyAuthenticate);
        if (!scheme) return false;
        proxy.SetAuthentication(std::move(scheme));
    }
    const bool hasHandler = static_cast<bool>(client.OnAuthorization);
    TIdAuthentication& scheme = *proxy.Authentication();
    proxy.SetProxyPassword(std::string());
    scheme.Restart();
    if (!hasHandler) return false;

    scheme.SetUsername(proxy.ProxyUsername());
    scheme.SetPassword(proxy.ProxyPassword());
    scheme.SetChallenges(proxyAuthenticate);

    bool handled = false;
    bool asked = false;
    for (;;) {
        switch (scheme.Advance()) {
            case asAskApplication:
                if (asked) return false;
                asked = true;
                scheme.SetUsername(proxy.ProxyUsername());
                scheme.SetPassword(proxy.ProxyPassword());
                client.OnAuthorization(client.Sender, scheme, handled);
                if (!handled) return false;
                proxy.SetProxyUsername(scheme.Username());
                proxy.SetProxyPassword(scheme.Password());
                break;
            case asSend:
                return true;
            case asFail:
            default:
                return false;
        }
    }
}

}  // namespace tarnwick
