#include "http/IdAuthentication.h"

#include <mutex>
#include <utility>
#include <vector>

#include "core/StrUtils.h"
#include "http/IdBasicAuthentication.h"
#include "http/IdHTTPExceptions.h"
#include "http/IdHTTPMessages.h"

namespace tarnwick {

// Credentials are never wrapped: a long password holding a comma or a blank must read back
// byte for byte, not with a blank added where a wrap point was.
TIdAuthentication::TIdAuthentication() : credentials_(TIdHeaderListSettings{.FoldOnWrite = false}) {}

void TIdAuthentication::SetPassword(std::string_view password) {
    credentials_.AssignHeader("Password", password);
}

void TIdAuthentication::SetUsername(std::string_view username) {
    credentials_.AssignHeader("Username", username);
}

void TIdAuthentication::SetChallenges(const TIdHeaderList& challenges) {
    if (!challenges_) challenges_ = std::make_unique<TIdHeaderList>();
    challenges_->Clear();
    for (const auto& line : challenges.Lines()) challenges_->Add(line);
}

namespace {

class SchemeRegistry {
public:
    // "Basic" is there from the first use on, so before any request.
    SchemeRegistry() { schemes_.emplace_back("Basic", TIdBasicAuthentication::Class()); }

    void Register(std::string_view name, TIdAuthenticationClass schemeClass) {
        std::lock_guard lock(mutex_);
        if (const auto registered = FindLocked(name))
            throw EIdAlreadyRegisteredAuthenticationMethod(
                Format(RSAlreadyRegisteredAuthenticationMethod, registered->ClassName));
        schemes_.emplace_back(std::string(name), schemeClass);
    }

    TIdAuthenticationClass Find(std::string_view name) {
        std::lock_guard lock(mutex_);
        return FindLocked(name);
    }

private:
    TIdAuthenticationClass FindLocked(std::string_view name) const {
        for (const auto& [registered, schemeClass] : schemes_)
            if (SameText(registered, name)) return schemeClass;
        return nullptr;
    }

    std::mutex mutex_;
    std::vector<std::pair<std::string, TIdAuthenticationClass>> schemes_;
};

SchemeRegistry& Registry() {
    static SchemeRegistry registry;
    return registry;
}

}  // namespace

void RegisterAuthScheme(std::string_view name, TIdAuthenticationClass schemeClass) {
    Registry().Register(name, schemeClass);
}

TIdAuthenticationClass FindAuthScheme(std::string_view name) { return Registry().Find(name); }

}  // namespace tarnwick
