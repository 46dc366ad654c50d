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

// Follows the scheme's steps: asks the application (giving the scheme the stored credentials
// first, taking its answer back after) when the scheme asks, accepts on asSend, declines on
// asFail or an unhandled ask. The application is asked once: a scheme that still asks after an
// accepted answer (Handled without a user name) would otherwise be asked without end.
template <class GiveCredentials, class TakeAnswer>
bool FollowScheme(const TIdAuthorizationClient& client, TIdAuthentication& scheme,
                  GiveCredentials giveCredentials, TakeAnswer takeAnswer) {
    bool asked = false;
    for (;;) {
        switch (scheme.Advance()) {
            case asAskApplication: {
                if (asked) return false;
                asked = true;
                giveCredentials();
                bool handled = false;
                client.OnAuthorization(client.Sender, scheme, handled);
                if (!handled) return false;
                takeAnswer();
                break;
            }
            case asSend:
                return true;
            case asFail:
            default:
                return false;
        }
    }
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

    return FollowScheme(client, scheme, [&] {
        scheme.SetUsername(request.Username());
        scheme.SetPassword(request.Password());
    }, [&] {
        request.SetBasicAuthentication(true);
        request.SetUsername(scheme.Username());
        request.SetPassword(scheme.Password());
    });
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

    return FollowScheme(client, scheme, [&] {
        scheme.SetUsername(proxy.ProxyUsername());
        scheme.SetPassword(proxy.ProxyPassword());
    }, [&] {
        proxy.SetProxyUsername(scheme.Username());
        proxy.SetProxyPassword(scheme.Password());
    });
}

}  // namespace tarnwick
