#include "http/IdAuthentication.h"

#include <gtest/gtest.h>

#include "http/IdAuthorization.h"
#include "http/IdBasicAuthentication.h"
#include "http/IdCoderMIME.h"
#include "http/IdHTTPExceptions.h"

using namespace tarnwick;

namespace {

TIdHeaderList Challenges(std::initializer_list<const char*> lines) {
    TIdHeaderList list;
    for (const char* line : lines) list.Add(line);
    return list;
}

// ---- Registry -----------------------------------------------------------------------------------

class OtherScheme : public TIdBasicAuthentication {};

std::unique_ptr<TIdAuthentication> CreateOther() { return std::make_unique<OtherScheme>(); }
constexpr TIdAuthenticationClassInfo kOtherClass{"TOtherScheme", &CreateOther};

TEST(AuthSchemeRegistry, BasicIsThereFromTheStart) {
    EXPECT_EQ(FindAuthScheme("Basic"), TIdBasicAuthentication::Class());
    EXPECT_EQ(FindAuthScheme("bAsIc"), TIdBasicAuthentication::Class());
    EXPECT_EQ(FindAuthScheme("Digest"), nullptr);
    EXPECT_EQ(FindAuthScheme(""), nullptr);
}

TEST(AuthSchemeRegistry, ANameRegisteredTwiceNamesTheRegisteredClass) {
    try {
        RegisterAuthScheme("BASIC", &kOtherClass);
        ADD_FAILURE() << "no exception";
    } catch (const EIdAlreadyRegisteredAuthenticationMethod& e) {
        EXPECT_EQ(e.Message(),
                  "This authentication method is already registered with class name "
                  "TIdBasicAuthentication.");
    }
    RegisterAuthScheme("X-Other", &kOtherClass);
    EXPECT_EQ(FindAuthScheme("x-other"), &kOtherClass);
    EXPECT_THROW(RegisterAuthScheme("X-OTHER", TIdBasicAuthentication::Class()),
                 EIdAlreadyRegisteredAuthenticationMethod);
}

// ---- Basic scheme -------------------------------------------------------------------------------

TEST(BasicAuthentication, AnswerEncodesUserAndPassword) {
    TIdBasicAuthentication basic;
    EXPECT_EQ(basic.Answer(), "Basic Og==");
    basic.SetUsername("Aladdin");
    basic.SetPassword("open sesame");
    EXPECT_EQ(basic.Username(), "Aladdin");
    EXPECT_EQ(basic.Password(), "open sesame");
    EXPECT_EQ(basic.Answer(), "Basic QWxhZGRpbjpvcGVuIHNlc2FtZQ==");
    EXPECT_EQ(basic.StepCount(), 1);
    EXPECT_FALSE(basic.KeepsConnection());
}

TEST(BasicAuthentication, LongCredentialsSurviveTheCredentialList) {
    TIdBasicAuthentication basic;
    const std::string token(200, 'k');
    basic.SetUsername("user");
    basic.SetPassword(token);
    EXPECT_EQ(basic.Password(), token);
    // Wrap points (a comma, a blank) far into a long password must not gain a blank.
    const std::string wrapped = std::string(70, 'p') + ",x  y" + std::string(70, 'q') + ",z";
    basic.SetPassword(wrapped);
    EXPECT_EQ(basic.Password(), wrapped);
    EXPECT_EQ(basic.Answer(), "Basic " + TIdEncoderMIME().EncodeString("user:" + wrapped));
}

TEST(BasicAuthentication, AdvanceReadsTheBasicLineAndAsksWithoutAUser) {
    TIdBasicAuthentication basic;
    EXPECT_EQ(basic.Advance(), asAskApplication);  // no challenges assigned
    basic.SetChallenges(
        Challenges({"Negotiate x", "Basic realm=\"WallyWorld\", charset=\"UTF-8\""}));
    EXPECT_EQ(basic.Advance(), asAskApplication);
    EXPECT_EQ(basic.Realm, "WallyWorld");
    EXPECT_EQ(basic.Credentials().HeaderValue("charset"), "\"UTF-8\"");
    basic.SetUsername("u");
    EXPECT_EQ(basic.Advance(), asSend);
    basic.SetStep(1);
    EXPECT_EQ(basic.Advance(), asFail);
    basic.SetStep(2);
    EXPECT_EQ(basic.Advance(), asSend);
    basic.Restart();
    EXPECT_EQ(basic.Step(), 0);
}

TEST(BasicAuthentication, LowerCaseSchemeWordIsNotReadForParameters) {
    TIdBasicAuthentication basic;
    basic.SetChallenges(Challenges({"basic realm=\"x\""}));
    EXPECT_EQ(basic.Advance(), asAskApplication);
    EXPECT_EQ(basic.Realm, "");
    EXPECT_EQ(basic.Credentials().FindHeader("realm"), -1);
}

// ---- Authorizing a request ----------------------------------------------------------------------

struct Request : TIdAuthorizationRequest {
    std::string username, password;
    bool basicAuthentication = false;
    std::unique_ptr<TIdAuthentication> scheme;

    std::string Username() const override { return username; }
    void SetUsername(std::string v) override { username = std::move(v); }
    std::string Password() const override { return password; }
    void SetPassword(std::string v) override { password = std::move(v); }
    void SetBasicAuthentication(bool v) override { basicAuthentication = v; }
    TIdAuthentication* AuthScheme() const override { return scheme.get(); }
    void SetAuthScheme(std::unique_ptr<TIdAuthentication> s) override { scheme = std::move(s); }
};

struct Proxy : TIdAuthorizationProxy {
    std::string username, password;
    std::unique_ptr<TIdAuthentication> scheme;

    std::string ProxyUsername() const override { return username; }
    void SetProxyUsername(std::string v) override { username = std::move(v); }
    std::string ProxyPassword() const override { return password; }
    void SetProxyPassword(std::string v) override { password = std::move(v); }
    TIdAuthentication* Authentication() const override { return scheme.get(); }
    void SetAuthentication(std::unique_ptr<TIdAuthentication> s) override { scheme = std::move(s); }
};

class Authorize : public ::testing::Test {
protected:
    TIdAuthorizationClient Client() { return {&sender_, attempts_, onSelect_, onAuthorization_}; }

    // A handler that supplies user name and password.
    void SupplyCredentials(std::string user, std::string password) {
        onAuthorization_ = [this, user, password](TComponent* sender, TIdAuthentication& scheme,
                                                  bool& handled) {
            EXPECT_EQ(sender, &sender_);
            ++asked_;
            scheme.SetUsername(user);
            scheme.SetPassword(password);
            handled = true;
        };
    }

    TComponent sender_;
    std::int32_t attempts_ = 0;
    int asked_ = 0;
    TIdOnSelectAuthorization onSelect_;
    TIdOnAuthorization onAuthorization_;
    Request request_;
    Proxy proxy_;
};

TEST_F(Authorize, WithoutHandlerTheServerDeclinesButKeepsABasicScheme) {
    EXPECT_FALSE(AuthorizeServer(Client(), request_, Challenges({"Basic realm=\"x\""})));
    EXPECT_EQ(attempts_, 1);
    ASSERT_NE(request_.scheme, nullptr);
    EXPECT_NE(dynamic_cast<TIdBasicAuthentication*>(request_.scheme.get()), nullptr);
    EXPECT_EQ(request_.scheme->Answer(), "Basic Og==");  // what the next request would send
}

TEST_F(Authorize, ServerPicksTheFirstRegisteredLineAndProxyOnlyTheFirstLine) {
    const TIdHeaderList challenges = Challenges({"Negotiate abc", "Basic realm=\"x\""});
    EXPECT_FALSE(AuthorizeServer(Client(), request_, challenges));
    EXPECT_NE(request_.scheme, nullptr);

    SupplyCredentials("pu", "pp");
    EXPECT_FALSE(AuthorizeProxy(Client(), proxy_, challenges));
    EXPECT_EQ(proxy_.scheme, nullptr);
    EXPECT_EQ(asked_, 0);
    EXPECT_EQ(attempts_, 2);
}

TEST_F(Authorize, NoRegisteredSchemeDeclines) {
    SupplyCredentials("u", "p");
    EXPECT_FALSE(AuthorizeServer(Client(), request_, Challenges({"Negotiate abc"})));
    EXPECT_FALSE(AuthorizeServer(Client(), request_, Challenges({})));
    EXPECT_EQ(request_.scheme, nullptr);
    EXPECT_EQ(asked_, 0);
}

TEST_F(Authorize, HandlerSuppliesTheUserNameEvenForALowerCaseScheme) {
    SupplyCredentials("user", "secret");
    EXPECT_TRUE(AuthorizeServer(Client(), request_, Challenges({"basic realm=\"x\""})));
    EXPECT_EQ(asked_, 1);
    EXPECT_EQ(request_.username, "user");
    EXPECT_EQ(request_.password, "secret");
    EXPECT_TRUE(request_.basicAuthentication);
    EXPECT_EQ(request_.scheme->Answer(), "Basic dXNlcjpzZWNyZXQ=");
    EXPECT_EQ(request_.scheme->Credentials().HeaderValue("Authorization"), "Basic Og==");
}

TEST_F(Authorize, KnownUserIsSentWithoutAsking) {
    SupplyCredentials("other", "x");
    request_.username = "u";
    request_.password = "p";
    EXPECT_TRUE(AuthorizeServer(Client(), request_, Challenges({"Basic realm=\"x\""})));
    EXPECT_EQ(asked_, 0);
    EXPECT_FALSE(request_.basicAuthentication);
    EXPECT_EQ(request_.scheme->Answer(), "Basic dTpw");
}

TEST_F(Authorize, UnhandledRequestDeclines) {
    onAuthorization_ = [this](TComponent*, TIdAuthentication&, bool&) { ++asked_; };
    EXPECT_FALSE(AuthorizeServer(Client(), request_, Challenges({"Basic realm=\"x\""})));
    EXPECT_EQ(asked_, 1);
    EXPECT_FALSE(request_.basicAuthentication);
}

// A handler that says Handled but leaves the user name empty is asked once, not forever.
TEST_F(Authorize, HandledWithoutAUserNameDeclinesAfterOneAsk) {
    onAuthorization_ = [this](TComponent*, TIdAuthentication&, bool& handled) {
        ++asked_;
        handled = true;
    };
    EXPECT_FALSE(AuthorizeServer(Client(), request_, Challenges({"Basic realm=\"x\""})));
    EXPECT_EQ(asked_, 1);
    EXPECT_FALSE(AuthorizeProxy(Client(), proxy_, Challenges({"Basic realm=\"p\""})));
    EXPECT_EQ(asked_, 2);
}

TEST_F(Authorize, SelectionHandlerMayChangeTheClassAndAnExistingSchemeIsKept) {
    onSelect_ = [](TComponent*, TIdAuthenticationClass& schemeClass, const TIdHeaderList& info) {
        EXPECT_EQ(schemeClass, TIdBasicAuthentication::Class());
        EXPECT_EQ(info.Count(), 1);
        schemeClass = &kOtherClass;
    };
    EXPECT_FALSE(AuthorizeServer(Client(), request_, Challenges({"Basic realm=\"x\""})));
    TIdAuthentication* chosen = request_.scheme.get();
    EXPECT_NE(dynamic_cast<OtherScheme*>(chosen), nullptr);
    EXPECT_FALSE(AuthorizeServer(Client(), request_, Challenges({"Basic realm=\"x\""})));
    EXPECT_EQ(request_.scheme.get(), chosen);
}

TEST_F(Authorize, ProxyClearsItsPasswordAndCopiesTheHandlersCredentials) {
    proxy_.password = "old";
    EXPECT_FALSE(AuthorizeProxy(Client(), proxy_, Challenges({"Basic realm=\"p\""})));
    EXPECT_NE(proxy_.scheme, nullptr);
    EXPECT_EQ(proxy_.password, "");

    SupplyCredentials("pu", "pp");
    EXPECT_TRUE(AuthorizeProxy(Client(), proxy_, Challenges({"Basic realm=\"p\""})));
    EXPECT_EQ(asked_, 1);
    EXPECT_EQ(proxy_.username, "pu");
    EXPECT_EQ(proxy_.password, "pp");
    EXPECT_EQ(proxy_.scheme->Credentials().FindHeader("Authorization"), -1);

    // A known proxy user goes again at once, with the password cleared.
    EXPECT_TRUE(AuthorizeProxy(Client(), proxy_, Challenges({"Basic realm=\"p\""})));
    EXPECT_EQ(asked_, 1);
    EXPECT_EQ(proxy_.password, "");
}

}  // namespace
