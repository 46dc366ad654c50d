#pragma once

// Authentication schemes: the scheme object that answers a server's or proxy's challenge, and the
// process-wide registry of scheme names ("Basic" is always registered).

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "http/IdHeaderList.h"

namespace tarnwick {

// What a scheme wants next after reading the challenge.
enum AuthStep : int { asAskApplication = 0, asSend = 1, asFail = 2 };

class TIdAuthentication;

// A scheme class as the registry and the selection event see it: its name and how to make one.
struct TIdAuthenticationClassInfo {
    const char* ClassName;
    std::unique_ptr<TIdAuthentication> (*Create)();
};
using TIdAuthenticationClass = const TIdAuthenticationClassInfo*;

class TIdAuthentication {
public:
    TIdAuthentication();
    virtual ~TIdAuthentication() = default;
    TIdAuthentication(const TIdAuthentication&) = delete;
    TIdAuthentication& operator=(const TIdAuthentication&) = delete;

    // Reads the challenge and says what to do next.
    virtual AuthStep Advance() = 0;
    virtual std::int32_t StepCount() const { return 0; }
    // Set the entries "Password" and "Username" of Credentials.
    virtual void SetPassword(std::string_view password);
    virtual void SetUsername(std::string_view username);
    virtual void Restart() {}
    // The value of the "Authorization" (or "Proxy-Authorization") header.
    virtual std::string Answer() = 0;
    virtual bool KeepsConnection() const = 0;

    std::string Username() const { return credentials_.HeaderValue("username"); }
    std::string Password() const { return credentials_.HeaderValue("password"); }

    // "Username", "Password", "Authorization" and the parameters read from the challenge.
    TIdHeaderList& Credentials() noexcept { return credentials_; }
    const TIdHeaderList& Credentials() const noexcept { return credentials_; }

    // A copy of the challenge lines; null until first assigned.
    const TIdHeaderList* Challenges() const noexcept { return challenges_.get(); }
    void SetChallenges(const TIdHeaderList& challenges);

    std::int32_t Step() const noexcept { return step_; }
    void SetStep(std::int32_t step) noexcept { step_ = step; }

private:
    TIdHeaderList credentials_;
    std::unique_ptr<TIdHeaderList> challenges_;
    std::int32_t step_ = 0;
};

// Registers a scheme under name. Throws EIdAlreadyRegisteredAuthenticationMethod
// "This authentication method is already registered with class name %s." (the registered
// class's name) when name is present, ignoring case.
void RegisterAuthScheme(std::string_view name, TIdAuthenticationClass schemeClass);
// The class registered under name ignoring case, or null.
TIdAuthenticationClass FindAuthScheme(std::string_view name);

}  // namespace tarnwick
