#include "http/IdProxyConnectionInfo.h"

#include "core/StrUtils.h"
#include "http/IdBasicAuthentication.h"

namespace tarnwick {

void TIdProxyConnectionInfo::SetProxyServer(std::string value) {
    if (!SameText(value, proxyServer_)) authentication_.reset();
    proxyServer_ = std::move(value);
}

void TIdProxyConnectionInfo::SetProxyPort(std::int32_t value) {
    if (value != proxyPort_) authentication_.reset();
    proxyPort_ = value;
}

std::string TIdProxyConnectionInfo::AuthorizationHeader() {
    if (proxyServer_.empty()) return {};
    if (!authentication_ && BasicAuthentication) {
        auto basic = std::make_unique<TIdBasicAuthentication>();
        basic->SetUsername(proxyUsername_);
        basic->SetPassword(proxyPassword_);
        authentication_ = std::move(basic);
    }
    return authentication_ ? authentication_->Answer() : std::string();
}

}  // namespace tarnwick
