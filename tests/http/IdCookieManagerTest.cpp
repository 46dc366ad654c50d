#include "http/IdCookieManager.h"

#include <gtest/gtest.h>

#include <ostream>
#include <vector>

#include "core/Exception.h"
#include "support/ScopedTimeZone.h"

using namespace tarnwick;
using tarnwick::testing::ScopedTimeZone;

namespace {

TDateTime At(int y, int mo, int d, int h = 0, int mi = 0, int s = 0) {
    return *TryEncodeDate(y, mo, d) + *TryEncodeTime(h, mi, s, 0);
}

class CookieStore : public ::testing::Test {
protected:
    CookieStore() {
        manager_.SetClock([this] { return now_; });
    }

    std::string HeaderFor(const std::string& address) {
        return manager_.BuildCookieHeader(TIdURI(address), false);
    }
    std::int32_t StoredCount() {
        std::int32_t n = 0;
        for (std::int32_t d = 0; d < manager_.CookieCollection().DomainCount(); ++d)
            n += manager_.CookieCollection().DomainCookies(d).Count();
        return n;
    }

    ScopedTimeZone zone_{"UTC0"};
    TDateTime now_ = At(2026, 12, 6, 8, 0, 0);
    TIdCookieManager manager_;
};

TEST_F(CookieStore, CookieWithoutPathIsStoredButNeverSent) {
    manager_.ReceiveCookie("a=1", "h.example", ckRFC2109);
    EXPECT_EQ(StoredCount(), 1);
    EXPECT_EQ(HeaderFor("http://h.example/"), "");
}

TEST_F(CookieStore, CookieWithoutDomainTakesTheHostAndGoesToAnyPathThere) {
    manager_.ReceiveCookie("a=1; path=/", "h.example", ckRFC2109);
    EXPECT_EQ(manager_.CookieCollection()[0].Domain, "h.example");
    EXPECT_EQ(HeaderFor("http://h.example/"), "a=1");
    EXPECT_EQ(HeaderFor("http://h.example/deep/er/doc?x"), "a=1");
    EXPECT_EQ(HeaderFor("http://other.example/"), "");
}

TEST_F(CookieStore, CookieForATopLevelDomainIsRefused) {
    manager_.ReceiveCookie("tld=1; path=/; domain=.com", "example.com", ckRFC2109);
    EXPECT_EQ(StoredCount(), 0);
    EXPECT_EQ(HeaderFor("http://other.com/"), "");
}

struct MatchCase {
    const char* host;
    bool sent;
};

void PrintTo(const MatchCase& c, std::ostream* os) { *os << c.host; }

class DomainMatch : public CookieStore, public ::testing::WithParamInterface<MatchCase> {};

TEST_P(DomainMatch, SendsOnlyToTheDomainAndItsSubdomains) {
    manager_.ReceiveCookie("host=1; path=/", "a.example", ckRFC2109);
    manager_.ReceiveCookie("wide=2; path=/; domain=.example.com", "www.example.com", ckRFC2109);
    const std::string header = HeaderFor(std::string("http://") + GetParam().host + "/");
    const bool hostCookie = header.find("host=1") != std::string::npos;
    const bool wideCookie = header.find("wide=2") != std::string::npos;
    EXPECT_EQ(hostCookie || wideCookie, GetParam().sent) << header;
}

INSTANTIATE_TEST_SUITE_P(
    Hosts, DomainMatch,
    ::testing::Values(MatchCase{"a.example", true}, MatchCase{"A.EXAMPLE", true},
                      MatchCase{"x.a.example", true}, MatchCase{"evila.example", false},
                      MatchCase{"a.example.attacker.test", false}, MatchCase{"example", false},
                      MatchCase{"www.example.com", true}, MatchCase{"example.com", true},
                      MatchCase{"other.example.com", true}, MatchCase{"badexample.com", false},
                      MatchCase{"example.com.evil", false}));

TEST(CookieDomainMatches, ComparesWholeLabelsIgnoringCase) {
    EXPECT_TRUE(CookieDomainMatches("a.example", "a.example"));
    EXPECT_TRUE(CookieDomainMatches("a.example", ".A.EXAMPLE"));
    EXPECT_TRUE(CookieDomainMatches("b.a.example", "a.example"));
    EXPECT_FALSE(CookieDomainMatches("evila.example", "a.example"));
    EXPECT_FALSE(CookieDomainMatches("a.example.attacker.test", "a.example"));
    EXPECT_FALSE(CookieDomainMatches("example", "a.example"));
}

TEST_F(CookieStore, LongerPathsFirstAndEqualPathsInCollectionOrder) {
    manager_.ReceiveCookie("root=1; path=/", "h.example", ckRFC2109);
    manager_.ReceiveCookie("deep=2; path=/a/", "h.example", ckRFC2109);
    manager_.ReceiveCookie("root2=3; path=/", "h.example", ckRFC2109);
    manager_.ReceiveCookie("wide=4; path=/; domain=.h.example", "x.h.example", ckRFC2109);
    manager_.ReceiveCookie("other=5; path=/b/", "h.example", ckRFC2109);
    // Domains in the order stored ("h.example", then ".h.example"); within one, latest first.
    EXPECT_EQ(HeaderFor("http://h.example/a/b/doc"), "deep=2; root2=3; root=1; wide=4");
}

TEST_F(CookieStore, PathsCompareByteForByteAgainstTheDirectory) {
    manager_.ReceiveCookie("upper=1; path=/A/", "h.example", ckRFC2109);
    manager_.ReceiveCookie("doc=2; path=/a/doc", "h.example", ckRFC2109);
    EXPECT_EQ(HeaderFor("http://h.example/a/doc"), "");
    EXPECT_EQ(HeaderFor("http://h.example/A/x"), "upper=1");
}

TEST_F(CookieStore, SecureAndEmptyCookiesAreNeverSentHere) {
    manager_.ReceiveCookie("s=1; path=/; secure", "h.example", ckRFC2109);
    manager_.ReceiveCookie("e=; path=/", "h.example", ckRFC2109);
    manager_.ReceiveCookie("ok=1; path=/", "h.example", ckRFC2109);
    EXPECT_EQ(HeaderFor("http://h.example/"), "ok=1");
    EXPECT_EQ(manager_.BuildCookieHeader(TIdURI("http://h.example/"), true), "ok=1; s=1");
}

TEST_F(CookieStore, SameNameAndDomainReplacesInPlace) {
    manager_.ReceiveCookie("a=1; path=/", "h.example", ckRFC2109);
    manager_.ReceiveCookie("b=2; path=/", "h.example", ckRFC2109);
    manager_.ReceiveCookie("A=3; path=/x/", "h.example", ckRFC2109);
    EXPECT_EQ(StoredCount(), 2);
    EXPECT_EQ(manager_.CookieCollection().Count(), 2u);
    const TIdCookieList& names = manager_.CookieCollection().DomainCookies(0);
    EXPECT_EQ(names.Strings(0), "a");
    EXPECT_EQ(names.Cookies(0).Name, "A");
    EXPECT_EQ(names.Cookies(0).Path, "/x/");
    EXPECT_EQ(HeaderFor("http://h.example/x/"), "A=3; b=2");
}

TEST_F(CookieStore, RefusedOrForeignCookiesLeaveTheStoredOnesAlone) {
    manager_.ReceiveCookie("a=1; path=/", "www.h.example", ckRFC2109);
    manager_.OnNewCookie = [](TIdCookieManager&, TIdCookieRFC2109& cookie, bool& accept) {
        EXPECT_TRUE(accept);
        accept = cookie.Value != "refused";
    };
    manager_.ReceiveCookie("a=refused; path=/", "www.h.example", ckRFC2109);
    manager_.ReceiveCookie("a=foreign; path=/; domain=.other.example", "www.h.example", ckRFC2109);
    manager_.ReceiveCookie("a=parent; path=/; domain=.h.example", "x.y.h.example", ckRFC2109);
    EXPECT_EQ(manager_.CookieCollection().Count(), 1u);
    EXPECT_EQ(HeaderFor("http://www.h.example/"), "a=1");
}

TEST_F(CookieStore, ExpiredCookiesArePurgedBeforeSelection) {
    manager_.ReceiveCookie("zero=1; path=/; max-age=0", "h.example", ckRFC2109);
    manager_.ReceiveCookie("past=2; path=/; expires=Sun, 06 Nov 1994 08:49:37 GMT", "h.example",
                           ckRFC2109);
    manager_.ReceiveCookie("junk=3; path=/; expires=never", "h.example", ckRFC2109);
    manager_.ReceiveCookie("later=4; path=/; max-age=60", "h.example", ckRFC2109);
    manager_.ReceiveCookie("session=5; path=/", "h.example", ckRFC2109);
    EXPECT_EQ(StoredCount(), 5);

    now_ += kOneSecond;
    EXPECT_EQ(HeaderFor("http://h.example/"), "session=5; later=4");
    EXPECT_EQ(StoredCount(), 2);
    EXPECT_EQ(manager_.CookieCollection().Count(), 2u);

    now_ += kOneMinute;
    manager_.PurgeExpired();
    EXPECT_EQ(HeaderFor("http://h.example/"), "session=5");
    EXPECT_EQ(manager_.CookieCollection().DomainCount(), 1);
}

TEST_F(CookieStore, SetCookie2IsSelectedLikeSetCookie) {
    manager_.ReceiveCookie("v2=1; Version=1; Path=/; Port=\"8080\"", "h.example", ckRFC2965);
    ASSERT_EQ(manager_.CookieCollection().Count(), 1u);
    EXPECT_NE(dynamic_cast<TIdCookieRFC2965*>(&manager_.CookieCollection()[0]), nullptr);
    EXPECT_EQ(HeaderFor("http://h.example/"), "v2=1");
}

TEST_F(CookieStore, BadPortListFailsAndTheRecordIsNeverSent) {
    EXPECT_THROW(manager_.ReceiveCookie("p=1; path=/; Port=\"x\"", "h.example", ckRFC2965),
                 EConvertError);
    EXPECT_EQ(manager_.CookieCollection().Count(), 1u);
    EXPECT_EQ(StoredCount(), 0);
    EXPECT_EQ(HeaderFor("http://h.example/"), "");
}

TEST(CookieManagerEvents, FireOnCreateAndDestroyWithThePurgedCollection) {
    ScopedTimeZone utc("UTC0");
    std::vector<std::string> events;
    {
        TDateTime now = At(2026, 12, 6);
        TComponent owner;
        auto& manager =
            CreateComponent<TIdCookieManager>(owner, [&](TIdCookieManager&, TIdCookies& cookies) {
                events.push_back("create " + std::to_string(cookies.Count()));
            });
        manager.SetClock([&] { return now; });
        manager.OnDestroy = [&](TIdCookieManager& sender, TIdCookies& cookies) {
            EXPECT_EQ(&sender.CookieCollection(), &cookies);
            events.push_back("destroy " + std::to_string(cookies.Count()));
        };
        manager.ReceiveCookie("a=1; path=/; max-age=10", "h", ckRFC2109);
        manager.ReceiveCookie("b=1; path=/", "h", ckRFC2109);
        now += kOneMinute;
    }
    EXPECT_EQ(events, (std::vector<std::string>{"create 0", "destroy 1"}));
}

}  // namespace
