#pragma once

// The proxy settings of an HTTP client: the proxy's address, its credentials and the scheme
// object that answers its challenges. With an empty ProxyServer no proxy is used.

#include <cstdint>
#include <memory>
#include <string>

#include "http/IdAuthentication.h"
#include "http/IdAuthorization.h"

namespace tarnwick {

class TIdProxyConnectionInfo : public TIdAuthorizationProxy {
public:
    const std::string& ProxyServer() const noexcept { return proxyServer_; }
    // Another server (letter case ignored) drops the scheme object.
    void SetProxyServer(std::string value);
    std::int32_t ProxyPort() const noexcept { return proxyPort_; }
    // Another port drops the scheme object.
    void SetProxyPort(std::int32_t value);

    std::string ProxyUsername() const override { return proxyUsername_; }
    void SetProxyUsername(std::string value) override { proxyUsername_ = std::move(value); }
    std::string ProxyPassword() const override { return proxyPassword_; }
    void SetProxyPassword(std::string value) override { proxyPassword_ = std::move(value); }
    TIdAuthentication* Authentication() const override { return authentication_.get(); }
    void SetAuthentication(std::unique_ptr<TIdAuthentication> scheme) override {
        authentication_ = std::move(scheme);
    }

    // Send "Proxy-Authorization: Basic ..." with ProxyUsername and ProxyPassword.
    bool BasicAuthentication = false;

    // The "Proxy-Authorization" value for the next request through the proxy: the scheme
    // object's answer; without one, and with BasicAuthentication, the answer of a Basic scheme
    // made from the credentials (and kept). Empty when no proxy is set (the proxy's credentials
    // never go to a server) or there is nothing to send.
    std::string AuthorizationHeader();

private:
    std::string proxyServer_;
    std::int32_t proxyPort_ = 0;
    std::string proxyUsername_;
    std::string proxyPassword_;
    std::unique_ptr<TIdAuthentication> authentication_;
};

}  // namespace tarnwick
