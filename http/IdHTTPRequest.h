#pragma once

// The request of an HTTP client: its header fields plus what one exchange needs to send it. The
// client keeps one for all its requests; address merging and authorization fill it in.

#include <cstdint>
#include <string>

#include "http/IdHTTPHeaderInfo.h"
#include "http/IdHTTPMethod.h"
#include "http/IdURI.h"
#include "net/IdStream.h"

namespace tarnwick {

class TIdHTTPRequest : public TIdRequestHeaderInfo, public TIdURIRequest {
public:
    // The request-line target: what the caller asked for until the address is merged, then the
    // path, document and parameters (the full address through a proxy).
    std::string Target;
    // The body of POST and PUT; not owned, none for the other methods.
    TIdStream* SourceStream = nullptr;
    // How the request reaches the server: 0 direct, 1 direct secure, 2 through a proxy, 3 secure
    // through a proxy.
    std::int32_t Route = 0;

    TIdHTTPMethod Method() const override { return method_; }
    void SetMethod(TIdHTTPMethod method) noexcept { method_ = method; }
    void SetTarget(std::string value) override { Target = std::move(value); }
    void SetHost(std::string value) override { Host = std::move(value); }

    // The credentials are the request header's, for address merging and authorization alike.
    std::string Username() const override { return TIdRequestHeaderInfo::Username(); }
    void SetUsername(std::string value) override {
        TIdRequestHeaderInfo::SetUsername(std::move(value));
    }
    std::string Password() const override { return TIdRequestHeaderInfo::Password(); }
    void SetPassword(std::string value) override {
        TIdRequestHeaderInfo::SetPassword(std::move(value));
    }

private:
    TIdHTTPMethod method_ = hmGet;
};

// The request-line word of a method with its trailing space ("GET ").
const char* MethodWord(TIdHTTPMethod method) noexcept;

}  // namespace tarnwick
