#include "http/IdCookie.h"

#include <gtest/gtest.h>

#include <ostream>

#include "core/Exception.h"
#include "http/IdCookies.h"
#include "http/IdInternetDate.h"
#include "support/ScopedTimeZone.h"

using namespace tarnwick;
using tarnwick::testing::ScopedTimeZone;

namespace {

TDateTime At(int y, int mo, int d, int h = 0, int mi = 0, int s = 0) {
    return *TryEncodeDate(y, mo, d) + *TryEncodeTime(h, mi, s, 0);
}

// Records inside a collection whose clock stands at 6 Dec 2026 08:00:00, in UTC.
class CookieRecord : public ::testing::Test {
protected:
    CookieRecord() {
        cookies_.SetClock([this] { return now_; });
    }

    template <class T = TIdCookieRFC2109>
    T& Parse(std::string_view text) {
        T& cookie = cookies_.Add<T>();
        cookie.ParseCookieText(text);
        return cookie;
    }

    ScopedTimeZone zone_{"UTC0"};
    TDateTime now_ = At(2026, 12, 6, 8, 0, 0);
    TIdCookies cookies_;
};

// ---- Parsing ------------------------------------------------------------------------------------

struct ParseCase {
    const char* text;
    const char* name;
    const char* value;
    const char* path;
    const char* domain;
    bool secure;
};

void PrintTo(const ParseCase& c, std::ostream* os) { *os << "'" << c.text << "'"; }

class ParseCookieTable : public CookieRecord, public ::testing::WithParamInterface<ParseCase> {};

TEST_P(ParseCookieTable, Fields) {
    const ParseCase& c = GetParam();
    const TIdCookieRFC2109& cookie = Parse(c.text);
    EXPECT_EQ(cookie.RawText, c.text);
    EXPECT_EQ(cookie.Name, c.name);
    EXPECT_EQ(cookie.Value, c.value);
    EXPECT_EQ(cookie.Path, c.path);
    EXPECT_EQ(cookie.Domain, c.domain);
    EXPECT_EQ(cookie.Secure, c.secure);
}

INSTANTIATE_TEST_SUITE_P(
    Attributes, ParseCookieTable,
    ::testing::Values(ParseCase{"a=1", "a", "1", "", "", false},
                      ParseCase{"a=1; Path=/x/; DOMAIN=.example.com; secure", "a", "1", "/x/",
                                ".example.com", true},
                      ParseCase{"a=1; path=/first/; PATH=/second/", "a", "1", "/first/", "", false},
                      ParseCase{"a=1; PATH=/first/; domain=d; Path=/second/; Domain=e", "a", "1",
                                "/first/", "d", false},
                      ParseCase{"a=1; path=\"/q/\"", "a", "1", "/q/", "", false},
                      ParseCase{"a=1; path=\"", "a", "1", "", "", false},
                      ParseCase{"a=1; ; path=/; ", "a", "1", "/", "", false},
                      ParseCase{"a=1;", "a", "1", "", "", false},
                      ParseCase{"a=1; SeCuRe", "a", "1", "", "", true},
                      ParseCase{"a=1; secure=yes", "a", "1", "", "", false},
                      ParseCase{"a=1; path = /x/", "a", "1", "", "", false},
                      ParseCase{"a=b=c; path=/", "a", "b=c", "/", "", false},
                      ParseCase{" a = b ", " a ", " b ", "", "", false},
                      ParseCase{"novalue; path=/", "", "", "/", "", false},
                      ParseCase{"a=; path=/", "a", "", "/", "", false}));

TEST_F(CookieRecord, TextEqualToTheLastParsedChangesNothing) {
    TIdCookieRFC2109& cookie = Parse("a=1; path=/");
    cookie.Path = "/changed/";
    cookie.ParseCookieText("a=1; path=/");
    EXPECT_EQ(cookie.Path, "/changed/");
}

// ---- Expiry -------------------------------------------------------------------------------------

TEST_F(CookieRecord, MaxAgeWithoutExpiresBecomesALocalExpiryOfKindZero) {
    const TIdCookieRFC2109& zero = Parse("a=1; max-age=0");
    EXPECT_EQ(zero.Kind, ckNetscape);
    EXPECT_EQ(zero.Expires, "Sun, 6 Dec 2026 08:00:00 +0000");
    EXPECT_EQ(zero.MaxAge, 0);

    const TIdCookieRFC2109& hour = Parse("a=1; Max-Age=3600; path=/");
    EXPECT_EQ(hour.Expires, "Sun, 6 Dec 2026 09:00:00 +0000");
    EXPECT_EQ(hour.MaxAge, 3600);
    EXPECT_EQ(hour.RenderCookieText(), "a=1; path=/; expires=Sun, 6 Dec 2026 09:00:00 +0000");
}

TEST_F(CookieRecord, MaxAgeThatIsNotANumberCountsAsAbsent) {
    for (const char* text : {"a=1; max-age=abc", "a=1; max-age=99999999999", "a=1; max-age="}) {
        const TIdCookieRFC2109& cookie = Parse(text);
        EXPECT_EQ(cookie.MaxAge, -1) << text;
        EXPECT_EQ(cookie.Expires, "") << text;
        EXPECT_EQ(cookie.Kind, ckNetscape) << text;
    }
}

TEST_F(CookieRecord, ExpiresKeepsTheRecordsKindAndIsNotRendered) {
    const TIdCookieRFC2109& cookie = Parse("a=1; expires=Sun, 06 Nov 1994 08:49:37 GMT; path=/");
    EXPECT_EQ(cookie.Kind, ckRFC2109);
    EXPECT_EQ(cookie.Expires, "Sun, 06 Nov 1994 08:49:37 GMT");
    EXPECT_EQ(cookie.MaxAge, -1);  // the max-age attribute, absent, replaces the derived age
    EXPECT_EQ(cookie.RenderCookieText(), "a=1; path=/");

    TIdCookieRFC2109 derived(&cookies_);
    derived.StoreExpires("Sun, 06 Dec 2026 08:00:10 GMT");
    EXPECT_EQ(derived.MaxAge, 10);
    derived.StoreExpires("garbage");
    EXPECT_EQ(derived.MaxAge, -60 * 60 * 24 * 46362LL - 8 * 3600);  // the zero date
}

TEST_F(CookieRecord, NetscapeRecordRendersItsExpires) {
    TIdNetscapeCookie cookie(&cookies_);
    cookie.ParseCookieText("a=1; expires=Wed, 09 Jun 2027 10:18:14 GMT; domain=h; secure");
    EXPECT_EQ(cookie.Kind, ckNetscape);
    EXPECT_EQ(cookie.RenderCookieText(),
              "a=1; expires=Wed, 09 Jun 2027 10:18:14 GMT; domain=h; secure");
    EXPECT_EQ(cookie.ClientCookieText(), "a=1");
    EXPECT_EQ(cookie.ServerCookieText(), cookie.RenderCookieText());
}

TEST_F(CookieRecord, RenderingLeavesOutEmptyParts) {
    EXPECT_EQ(Parse("a=1; comment=c; version=1; secure").RenderCookieText(),
              "a=1; secure; comment=c; version=1");
    EXPECT_EQ(Parse("a=; path=/").RenderCookieText(), "path=/");
    EXPECT_EQ(Parse("a=; secure").RenderCookieText(), "secure");
}

// ---- Domain check -------------------------------------------------------------------------------

struct DomainCase {
    const char* host;
    const char* domain;
    bool accepted;
};

void PrintTo(const DomainCase& c, std::ostream* os) {
    *os << "'" << c.domain << "' from '" << c.host << "'";
}

class DomainAcceptedTable : public ::testing::TestWithParam<DomainCase> {};

TEST_P(DomainAcceptedTable, Decides) {
    TIdCookieRFC2109 cookie;
    cookie.Domain = GetParam().domain;
    EXPECT_EQ(cookie.DomainAccepted(GetParam().host), GetParam().accepted);
}

INSTANTIATE_TEST_SUITE_P(Hosts, DomainAcceptedTable,
                         ::testing::Values(DomainCase{"www.example.com", ".example.com", true},
                                           DomainCase{"a.www.example.com", ".example.com", false},
                                           DomainCase{"a.www.example.com", ".www.example.com",
                                                      true},
                                           DomainCase{"example.com", ".example.com", false},
                                           DomainCase{"www.example.com", "www.example.com", true},
                                           DomainCase{"www.example.com", "WWW.example.com", false},
                                           DomainCase{"www.example.com", ".EXAMPLE.com", false},
                                           DomainCase{"www.example.com", "example.com", false},
                                           DomainCase{"localhost", "localhost", true},
                                           DomainCase{"10.0.0.1", "10.0.0.1", true},
                                           DomainCase{"10.0.0.1", ".0.0.1", false},
                                           DomainCase{"10.0.0.1", "10.0.0.01", false},
                                           DomainCase{".example.com", ".EXAMPLE.COM", true},
                                           DomainCase{".example.com", ".com", false},
                                           // a parent of a single label is a whole top-level
                                           // domain, not a site
                                           DomainCase{"example.com", ".com", false},
                                           DomainCase{"example.COM", ".COM", false},
                                           DomainCase{".com", ".com", false}));

TEST(DomainHelpers, RecogniseIPv4LiteralsAndParents) {
    EXPECT_TRUE(IsIPv4Literal("1.2.3.4"));
    EXPECT_TRUE(IsIPv4Literal(" 255.0.0.255 "));
    EXPECT_TRUE(IsIPv4Literal("1.2.3.4.anything"));
    EXPECT_FALSE(IsIPv4Literal("1.2.3"));
    EXPECT_FALSE(IsIPv4Literal("1.2.3."));
    EXPECT_FALSE(IsIPv4Literal("1.2.3.256"));
    EXPECT_FALSE(IsIPv4Literal("a.b.c.d"));
    EXPECT_FALSE(IsIPv4Literal(""));
    EXPECT_TRUE(IsPlainHostName(""));
    EXPECT_FALSE(IsPlainHostName(".a"));
    EXPECT_FALSE(IsPlainHostName("1.2.3.4"));
    EXPECT_EQ(ParentDomainOf("www.example.com"), ".example.com");
    EXPECT_EQ(ParentDomainOf("localhost"), "localhost");
}

// ---- Copying ------------------------------------------------------------------------------------

TEST_F(CookieRecord, CopyLosesAnExpiryThatCameAsExpires) {
    TIdCookieRFC2109& stored = Parse("a=1; max-age=60; path=/");
    ASSERT_FALSE(stored.Expires.empty());
    const TIdCookieRFC2109& newer = Parse("a=2; expires=Wed, 09 Jun 2027 10:18:14 GMT; path=/x/");
    stored.Assign(newer);
    EXPECT_EQ(stored.Value, "2");
    EXPECT_EQ(stored.Path, "/x/");
    EXPECT_EQ(stored.Expires, "");
    EXPECT_EQ(stored.Kind, ckRFC2109);
}

TEST_F(CookieRecord, CopyPassesOnAnExpiryDerivedFromMaxAge) {
    TIdCookieRFC2109& stored = Parse("a=1; path=/");
    const TIdCookieRFC2109& newer = Parse("a=2; max-age=60; path=/");
    stored.Assign(newer);
    EXPECT_EQ(stored.Expires, "Sun, 6 Dec 2026 08:01:00 +0000");
    EXPECT_EQ(stored.Kind, ckNetscape);
}

TEST_F(CookieRecord, CopyOfAValuelessSourceTakesItsFirstAttributeAsNameAndValue) {
    TIdCookieRFC2965& stored = Parse<TIdCookieRFC2965>("a=1; path=/");
    const TIdCookieRFC2109& newer = Parse("a=; path=/x/; domain=h");
    stored.Assign(newer);
    EXPECT_EQ(stored.Name, "path");
    EXPECT_EQ(stored.Value, "/x/");
    EXPECT_EQ(stored.Domain, "h");
    EXPECT_EQ(stored.Path, "");
}

TEST_F(CookieRecord, CopyNeedsAnRfc2109Source) {
    TIdCookieRFC2109& stored = Parse("a=1; path=/");
    TIdNetscapeCookie netscape;
    netscape.ParseCookieText("b=2; path=/b/");
    stored.Assign(netscape);
    EXPECT_EQ(stored.Name, "a");
    EXPECT_EQ(stored.Kind, ckNetscape);
}

// ---- RFC 2965 attributes ------------------------------------------------------------------------

TEST_F(CookieRecord, PortListDiscardAndCommentUrl) {
    const auto& plain = Parse<TIdCookieRFC2965>("a=1; Discard; CommentURL=http://c/");
    EXPECT_EQ(plain.PortList, (std::vector<std::int32_t>{80}));
    EXPECT_TRUE(plain.Discard);
    EXPECT_EQ(plain.CommentURL, "http://c/");
    EXPECT_EQ(Parse<TIdCookieRFC2965>("a=1; Port=\"81,8080 9000\"").PortList,
              (std::vector<std::int32_t>{81, 8080, 9000}));
    EXPECT_EQ(Parse<TIdCookieRFC2965>("a=1; port=\"\"").PortList, (std::vector<std::int32_t>{80}));
    EXPECT_TRUE(Parse<TIdCookieRFC2965>("a=1; Port=81").PortList.empty());
    EXPECT_EQ(Parse<TIdCookieRFC2965>("a=1; Version=1; path=/").RenderCookieText(),
              "a=1; path=/; version=1");
}

TEST_F(CookieRecord, PortEntryThatIsNotANumberRaises) {
    try {
        Parse<TIdCookieRFC2965>("a=1; Port=\"80,x1\"");
        ADD_FAILURE() << "no exception";
    } catch (const EConvertError& e) {
        EXPECT_EQ(e.Message(), "'x1' is not a valid integer value");
    }
}

}  // namespace
