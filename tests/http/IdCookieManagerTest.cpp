#include "http/IdCookieManager.h"

#include <gtest/gtest.h>

#include <chrono>
#include <iostream>
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

// --- What servers can make the store hold ----------------------------------------------------

TEST_F(CookieStore, FullDomainLosesItsLeastRecentlyUsedCookie) {
    manager_.ReceiveCookie("c0=1; path=/a", "h.example", ckRFC2109);
    for (int i = 1; i < 50; ++i)
        manager_.ReceiveCookie("c" + std::to_string(i) + "=1; path=/b", "h.example", ckRFC2109);
    // Sending c0 makes it used, storing c2 again makes c2 used: c1 and then c3 go first.
    EXPECT_EQ(HeaderFor("http://h.example/a/x"), "c0=1");
    manager_.ReceiveCookie("c2=2; path=/b", "h.example", ckRFC2109);
    manager_.ReceiveCookie("new=1; path=/b", "h.example", ckRFC2109);
    manager_.ReceiveCookie("new2=1; path=/b", "h.example", ckRFC2109);
    EXPECT_EQ(StoredCount(), 50);
    EXPECT_EQ(manager_.CookieCollection().Count(), 50u);  // the evicted records are freed
    const std::string header = "; " + HeaderFor("http://h.example/b/x") + ";";
    for (const char* kept : {"; c2=2;", "; new=1;", "; new2=1;", "; c4=1;", "; c49=1;"})
        EXPECT_NE(header.find(kept), std::string::npos) << kept << " in " << header;
    for (const char* gone : {"; c1=1;", "; c3=1;"})
        EXPECT_EQ(header.find(gone), std::string::npos) << gone << " in " << header;
    EXPECT_EQ(HeaderFor("http://h.example/a/x"), "c0=1");
    // Another domain is not touched by this one's limit.
    manager_.ReceiveCookie("o=1; path=/", "other.example", ckRFC2109);
    EXPECT_EQ(StoredCount(), 51);
}

TEST_F(CookieStore, FullStoreLosesItsLeastRecentlyUsedCookieAndLargeCookiesAreDropped) {
    for (int host = 0; host <= 60; ++host)
        for (int i = 0; i < 50; ++i)
            manager_.ReceiveCookie("c" + std::to_string(i) + "=1; path=/",
                                   "h" + std::to_string(host) + ".example", ckRFC2109);
    EXPECT_EQ(StoredCount(), 3000);
    EXPECT_EQ(manager_.CookieCollection().Count(), 3000u);
    EXPECT_EQ(HeaderFor("http://h0.example/"), "");  // the first 50 went first
    EXPECT_NE(HeaderFor("http://h1.example/"), "");
    EXPECT_NE(HeaderFor("http://h60.example/"), "");

    const std::string name(96, 'n');
    manager_.ReceiveCookie(name + "=" + std::string(4000, 'v') + "; path=/", "big.example",
                           ckRFC2109);
    manager_.ReceiveCookie(name + "=" + std::string(4001, 'v') + "; path=/", "big.example",
                           ckRFC2109);
    manager_.ReceiveCookie("x=" + std::string(100000, 'v') + "; path=/", "big.example",
                           ckRFC2109);
    EXPECT_EQ(HeaderFor("http://big.example/"), name + "=" + std::string(4000, 'v'));
    EXPECT_EQ(StoredCount(), 3000);
}

// A server that sends cookie after cookie costs a bounded store and no scan of it per cookie
// (the time is printed; a store that scanned would take minutes here).
TEST_F(CookieStore, HundredThousandCookiesKeepTheStoreBounded) {
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 100000; ++i)
        manager_.ReceiveCookie("c" + std::to_string(i) + "=v; path=/",
                               (i % 2 ? "a.h.example" : "h.example"), ckRFC2109);
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(StoredCount(), 100);
    EXPECT_EQ(manager_.CookieCollection().Count(), 100u);
    // Both domains' 50 go to the inner host: "cNNNNN=v" each, "; " between.
    EXPECT_LE(HeaderFor("http://a.h.example/").size(), 100u * 8 + 99u * 2);
    std::cout << "[ 100000 cookies stored in "
              << std::chrono::duration_cast<std::chrono::milliseconds>(took).count()
              << " ms ]\n";
}
