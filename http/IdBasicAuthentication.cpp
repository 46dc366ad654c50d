#include "http/IdBasicAuthentication.h"

#include "http/IdCoderMIME.h"
#include "http/IdURI.h"

namespace tarnwick {

namespace {

std::unique_ptr<TIdAuthentication> CreateBasic() {
    return std::make_unique<TIdBasicAuthentication>();
}

constexpr TIdAuthenticationClassInfo kBasicClass{"TIdBasicAuthentication", &CreateBasic};

}  // namespace

TIdAuthenticationClass TIdBasicAuthentication::Class() noexcept { return &kBasicClass; }

AuthStep TIdBasicAuthentication::Advance() {
    std::string parameters;
    if (const TIdHeaderList* challenges = Challenges()) {
        for (const auto& line : challenges->Lines()) {
            if (line.starts_with("Basic")) {
                parameters = line;
                break;
            }
        }
    }
    CutToken(parameters, " ");
    while (!parameters.empty()) {
        std::string parameter = CutToken(parameters, ", ");
        if (const auto eq = parameter.find('='); eq != std::string::npos)
            parameter.replace(eq, 1, Credentials().Separator());
        Credentials().Add(std::move(parameter));
    }
    const std::string realm = Credentials().HeaderValue("realm");
    Realm = realm.size() >= 2 ? realm.substr(1, realm.size() - 2) : std::string();

    switch (Step()) {
        case 0:
            return Username().empty() ? asAskApplication : asSend;
        case 1:
            return asFail;
        default:
            return asSend;
    }
}

std::string TIdBasicAuthentication::Answer() {
    return "Basic " + TIdEncoderMIME().EncodeString(Username() + ":" + Password());
}

}  // namespace tarnwick
