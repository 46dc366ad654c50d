#pragma once

// The "Basic" scheme: user name and password in Base64.

#include <string>

#include "http/IdAuthentication.h"

namespace tarnwick {

class TIdBasicAuthentication : public TIdAuthentication {
public:
    static TIdAuthenticationClass Class() noexcept;

    // Appends the parameters of the first challenge line that starts with "Basic" (letter case
    // counts) to Credentials (each "a=b" as "a: b", again on every call) and sets Realm from
    // "realm" without its quotes. At step 0: asSend with a user name, else asAskApplication;
    // at step 1 asFail; at any other step asSend.
    AuthStep Advance() override;
    std::int32_t StepCount() const override { return 1; }
    void Restart() override { SetStep(0); }
    // "Basic " + Base64(user name + ":" + password).
    std::string Answer() override;
    bool KeepsConnection() const override { return false; }

    std::string Realm;
};

}  // namespace tarnwick
