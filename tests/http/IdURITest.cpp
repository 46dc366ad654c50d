#include "http/IdURI.h"

#include <gtest/gtest.h>

#include <ostream>
#include <vector>

#include "http/IdHTTPExceptions.h"

using namespace tarnwick;

namespace {

// ---- ParseUri -----------------------------------------------------------------------------------

struct ParseCase {
    const char* text;
    const char* protocol;
    const char* user;
    const char* password;
    const char* host;
    const char* port;
    const char* path;
    const char* document;
    const char* params;
    const char* bookmark;
};

void PrintTo(const ParseCase& c, std::ostream* os) { *os << "'" << c.text << "'"; }

class ParseUriTable : public ::testing::TestWithParam<ParseCase> {};

TEST_P(ParseUriTable, SplitsIntoFields) {
    const ParseCase& c = GetParam();
    const TIdURI uri(c.text);
    EXPECT_EQ(uri.Protocol, c.protocol);
    EXPECT_EQ(uri.UserName, c.user);
    EXPECT_EQ(uri.Password, c.password);
    EXPECT_EQ(uri.Host, c.host);
    EXPECT_EQ(uri.Port, c.port);
    EXPECT_EQ(uri.Path, c.path);
    EXPECT_EQ(uri.Document, c.document);
    EXPECT_EQ(uri.Params, c.params);
    EXPECT_EQ(uri.Bookmark, c.bookmark);
}

INSTANTIATE_TEST_SUITE_P(
    Addresses, ParseUriTable,
    ::testing::Values(
        ParseCase{"proto://user@hostname:8080/dir/sub/file.ext?a=1#top", "proto", "user", "",
                  "hostname", "8080", "/dir/sub/", "file.ext", "?a=1", "top"},
        ParseCase{"proto://hostname", "proto", "", "", "hostname", "", "/", "", "", ""},
        ParseCase{"proto://hostname:81/a/b.ext", "proto", "", "", "hostname", "81", "/a/", "b.ext",
                  "", ""},
        ParseCase{"proto://10.0.0.1/x", "proto", "", "", "10.0.0.1", "", "/", "x", "", ""},
        // No "/" after the host: "?" and "#" stay in the authority.
        ParseCase{"proto://hostname?x=1", "proto", "", "", "hostname?x=1", "", "/", "", "", ""},
        ParseCase{"proto://hostname#top", "proto", "", "", "hostname#top", "", "/", "", "", ""},
        // "=" without "?" starts the parameters.
        ParseCase{"proto://hostname/a/b=c/d", "proto", "", "", "hostname", "", "/a/", "b", "=c/d",
                  ""},
        ParseCase{"proto://hostname/a/doc?x=1&y=2#frag", "proto", "", "", "hostname", "", "/a/",
                  "doc", "?x=1&y=2", "frag"},
        ParseCase{"proto://h/a/doc#x", "proto", "", "", "h", "", "/a/", "doc", "", "x"},
        ParseCase{"proto://h/a#b?c#d", "proto", "", "", "h", "", "/", "a", "?c#d", "b"},
        // Credentials.
        ParseCase{"proto://user:pw@h/", "proto", "user", "pw", "h", "", "/", "", "", ""},
        ParseCase{"proto://:secret@h/", "proto", "", "", "h", "", "/", "", "", ""},
        ParseCase{"proto://u:p:q@h:1:2/", "proto", "u", "p:q", "h", "1:2", "/", "", "", ""},
        ParseCase{"proto://u@v@h/", "proto", "u", "", "v@h", "", "/", "", "", ""},
        // Backslashes are slashes.
        ParseCase{"proto:\\\\host\\a\\b.ext", "proto", "", "", "host", "", "/a/", "b.ext", "", ""},
        // Unsafe characters are kept as they are.
        ParseCase{"proto://h/a b/c d?e f", "proto", "", "", "h", "", "/a b/", "c d", "?e f", ""},
        // Relative forms: no "/" is prefixed and the document keeps its "#".
        ParseCase{"page.ext#frag", "", "", "", "", "", "", "page.ext#frag", "", ""},
        ParseCase{"?x=1", "", "", "", "", "", "", "", "?x=1", ""},
        ParseCase{"dir/page?q#f", "", "", "", "", "", "dir/", "page", "?q", "f"},
        ParseCase{"../doc", "", "", "", "", "", "../", "doc", "", ""},
        ParseCase{"/other/doc", "", "", "", "", "", "/other/", "doc", "", ""},
        ParseCase{"://host/x", "", "", "", "", "", "://host/", "x", "", ""},
        // A "://" after a "/", "?" or "#" belongs to the path or parameters, not to a protocol.
        ParseCase{"/login?next=http://evil:81/x", "", "", "", "", "", "/", "login",
                  "?next=http://evil:81/x", ""},
        ParseCase{"?to=http://evil/", "", "", "", "", "", "", "", "?to=http://evil/", ""},
        ParseCase{"go/http://evil/x", "", "", "", "", "", "go/http://evil/", "x", "", ""},
        ParseCase{"#http://evil/", "", "", "", "", "", "#http://evil/", "", "", ""},
        ParseCase{"", "", "", "", "", "", "", "", "", ""}));

TEST(ParseUri, SourceTextHoldsNormalizedTextAndFieldsAreReplaced) {
    TIdURI uri("proto://user:pw@a:1/x/y?z#b");
    uri.ParseUri("b\\c");
    EXPECT_EQ(uri.SourceText, "b/c");
    EXPECT_EQ(uri.Protocol, "");
    EXPECT_EQ(uri.UserName, "");
    EXPECT_EQ(uri.Host, "");
    EXPECT_EQ(uri.Port, "");
    EXPECT_EQ(uri.Path, "b/");
    EXPECT_EQ(uri.Document, "c");
    EXPECT_EQ(uri.Params, "");
    EXPECT_EQ(uri.Bookmark, "");
}

// ---- ComposeUri ---------------------------------------------------------------------------------

TEST(ComposeUri, WritesOptionalPartsOnRequest) {
    const TIdURI uri("http://user:pw@host:8080/dir/doc.ext?a=1#top");
    using F = TIdURIOptionalFields;
    EXPECT_EQ(uri.ComposeUri(F::None), "http://host:8080/dir/doc.ext?a=1");
    EXPECT_EQ(uri.ComposeUri(F::IncludeAuthInfo), "http://user:pw@host:8080/dir/doc.ext?a=1");
    EXPECT_EQ(uri.ComposeUri(F::IncludeBookmark), "http://host:8080/dir/doc.ext?a=1#top");

    TIdURI noPassword("http://user@host/");
    EXPECT_EQ(noPassword.ComposeUri(F::IncludeAuthInfo), "http://user@host/");
    noPassword.UserName.clear();
    noPassword.Password = "pw";
    EXPECT_EQ(noPassword.ComposeUri(F::IncludeAuthInfo), "http://host/");
}

TEST(ComposeUri, ChecksProtocolBeforeHost) {
    TIdURI uri;
    try {
        (void)uri.ComposeUri(TIdURIOptionalFields::None);
        ADD_FAILURE() << "no exception";
    } catch (const EIdURIException& e) {
        EXPECT_EQ(e.Message(), "Protocol field is empty");
    }
    uri.Protocol = "http";
    try {
        (void)uri.ComposeUri(TIdURIOptionalFields::None);
        ADD_FAILURE() << "no exception";
    } catch (const EIdURIException& e) {
        EXPECT_EQ(e.Message(), "Host field is empty");
    }
}

TEST(ComposeUriPlain, KeepsTheFullAddressInSourceText) {
    TIdURI uri("http://u:p@h/x?y#z");
    EXPECT_EQ(uri.ComposeUriPlain(), "http://h/x?y");
    EXPECT_EQ(uri.SourceText, "http://u:p@h/x?y#z");
    uri.Host.clear();
    EXPECT_THROW(uri.ComposeUriPlain(), EIdURIException);
    EXPECT_EQ(uri.SourceText, "http://u:p@h/x?y#z");
}

// ---- ResolvePath, FindLast, CutToken ------------------------------------------------------------

struct ResolveCase {
    const char* base;
    const char* path;
    const char* expected;
};

void PrintTo(const ResolveCase& c, std::ostream* os) {
    *os << "'" << c.base << "' + '" << c.path << "'";
}

class ResolvePathTable : public ::testing::TestWithParam<ResolveCase> {};

TEST_P(ResolvePathTable, Resolves) {
    const ResolveCase& c = GetParam();
    EXPECT_EQ(ResolvePath(c.base, c.path, '/'), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Paths, ResolvePathTable,
    ::testing::Values(ResolveCase{"/dir/sub/", "../", "/dir/"},
                      ResolveCase{"/a/b/", "x/y/", "/a/b/x/y/"}, ResolveCase{"/a/", "", "/a/"},
                      ResolveCase{"", "x/", "x/"}, ResolveCase{"/a//b/", "c/", "/a/b/c/"},
                      ResolveCase{"/", "../x/", "/x/"}, ResolveCase{"/a/b/", "../../../x/", "/x/"},
                      ResolveCase{"/a/b", "c", "/a/b/c"}, ResolveCase{"/a/", "./b/", "/a/./b/"},
                      ResolveCase{"/a/", "x/..", "/a"},
                      ResolveCase{"/a/b/", "/abs/../x", "/abs/../x"}, ResolveCase{"/", "", "/"},
                      ResolveCase{"", "", ""}));

TEST(FindLast, SearchesRightToLeftIgnoringCase) {
    EXPECT_EQ(FindLast("/", "a/b/c", -1), 4u);
    EXPECT_EQ(FindLast("/", "a/b/c", 3), 2u);
    EXPECT_EQ(FindLast("/", "a/b/c", 100), 4u);
    EXPECT_EQ(FindLast("AB", "xabyab", -1), 5u);
    EXPECT_EQ(FindLast("ab", "xabyab", 4), 2u);
    EXPECT_EQ(FindLast("/", "abc", -1), 0u);
    EXPECT_EQ(FindLast("/", "/bc", 0), 0u);
    EXPECT_EQ(FindLast("/", "", -1), 0u);
    EXPECT_EQ(FindLast("abc", "ab", -1), 0u);
    EXPECT_EQ(FindLast("", "ab", -1), 0u);
}

struct CutCase {
    const char* source;
    const char* delimiter;
    bool remove;
    bool caseSensitive;
    const char* token;
    const char* rest;
};

void PrintTo(const CutCase& c, std::ostream* os) {
    *os << "'" << c.source << "' at '" << c.delimiter << "'" << (c.remove ? " remove" : " keep")
        << (c.caseSensitive ? " exact" : " anycase");
}

class CutTokenTable : public ::testing::TestWithParam<CutCase> {};

TEST_P(CutTokenTable, CutsAtFirstDelimiter) {
    const CutCase& c = GetParam();
    std::string source = c.source;
    EXPECT_EQ(CutToken(source, c.delimiter, c.remove, c.caseSensitive), c.token);
    EXPECT_EQ(source, c.rest);
}

INSTANTIATE_TEST_SUITE_P(Tokens, CutTokenTable,
                         ::testing::Values(CutCase{"a:b:c", ":", true, true, "a", "b:c"},
                                           CutCase{"abc", ":", true, true, "abc", ""},
                                           CutCase{"abc", ":", false, true, "abc", "abc"},
                                           CutCase{"a:b", ":", false, true, "a", "a:b"},
                                           CutCase{"aXb", "x", true, true, "aXb", ""},
                                           CutCase{"aXb", "x", true, false, "a", "b"},
                                           CutCase{"a, b, c", ", ", true, true, "a", "b, c"},
                                           CutCase{":x", ":", true, true, "", "x"},
                                           CutCase{"", ":", true, true, "", ""}));

// ---- MergeRequestAddress ------------------------------------------------------------------------

struct Request : TIdURIRequest {
    TIdHTTPMethod method = hmGet;
    std::string username, password, target, host;

    TIdHTTPMethod Method() const override { return method; }
    std::string Username() const override { return username; }
    void SetUsername(std::string v) override { username = std::move(v); }
    std::string Password() const override { return password; }
    void SetPassword(std::string v) override { password = std::move(v); }
    void SetTarget(std::string v) override { target = std::move(v); }
    void SetHost(std::string v) override { host = std::move(v); }
};

// One request of a sequence; an empty expected host value means EIdUnknownProtocol.
struct MergeStep {
    const char* address;
    const char* target;
    const char* hostValue;
    const char* port;
};

struct MergeCase {
    const char* name;
    std::vector<MergeStep> steps;
};

void PrintTo(const MergeCase& c, std::ostream* os) { *os << c.name; }

class MergeSequence : public ::testing::TestWithParam<MergeCase> {};

TEST_P(MergeSequence, SetsTargetHostAndPort) {
    TIdURI current;
    Request request;
    for (const MergeStep& step : GetParam().steps) {
        SCOPED_TRACE(step.address);
        request.target = request.host = "untouched";
        if (*step.hostValue == '\0') {
            try {
                MergeRequestAddress(current, step.address, request);
                ADD_FAILURE() << "no exception";
            } catch (const EIdUnknownProtocol& e) {
                EXPECT_EQ(e.Message(), "");
            }
            EXPECT_EQ(request.target, "untouched");
            continue;
        }
        MergeRequestAddress(current, step.address, request);
        EXPECT_EQ(request.target, step.target);
        EXPECT_EQ(request.host, step.hostValue);
        EXPECT_EQ(current.Port, step.port);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Redirects, MergeSequence,
    ::testing::Values(MergeCase{"RelativeForms",
                                {{"http://host/a/b/doc?x=1#frag", "/a/b/doc?x=1", "host", "80"},
                                 {"../other", "/a/other", "host", "80"},
                                 {"/abs/path/doc", "/abs/path/doc", "host", "80"},
                                 {"doc2", "/abs/path/doc2", "host", "80"},
                                 {"?q=2", "/abs/path/?q=2", "host", "80"},
                                 {"sub\\page", "/abs/path/sub/page", "host", "80"}}},
                      MergeCase{"PortCarriesOverOnlyForRelativeAddresses",
                                {{"http://a:8080/x", "/x", "a:8080", "8080"},
                                 {"/y", "/y", "a:8080", "8080"},
                                 {"http://b/y", "/y", "b", "80"},
                                 {"http://b:80/z", "/z", "b", "80"},
                                 {"http://b:080/z", "/z", "b:080", "080"}}},
                      MergeCase{"HttpsGoesTo443AndRelativeKeepsTheProtocol",
                                {{"https://s/x", "/x", "s:443", "443"},
                                 {"HTTPS://s2/x", "/x", "s2:443", "443"},
                                 {"z", "/z", "s2:443", "443"},
                                 {"HTTP://t/y", "/y", "t", "80"},
                                 {"https://u:8443/a", "/a", "u:8443", "8443"},
                                 {"b", "/b", "u:8443", "8443"},
                                 {"http://u/c", "/c", "u", "80"},
                                 {"d", "/d", "u", "80"}}},
                      MergeCase{"UnknownProtocol",
                                {{"ftp://h/x", "", "", ""},
                                 {"ftp://h:21/x", "/x", "h:21", "21"},
                                 {"http://h:8000/x", "/x", "h:8000", "8000"},
                                 {"gopher://g/", "", "", ""}}},
                      MergeCase{"PortThatIsNotANumberIsReplaced",
                                {{"http://h:abc/x", "/x", "h:abc", "abc"}, {"y", "/y", "h", "80"}}},
                      MergeCase{"AddressInTheParametersStaysOnTheServer",
                                {{"http://h:8080/a/doc", "/a/doc", "h:8080", "8080"},
                                 {"/login?next=http://evil:81/x", "/login?next=http://evil:81/x",
                                  "h:8080", "8080"},
                                 {"?to=http://evil/", "/?to=http://evil/", "h:8080", "8080"}}},
                      MergeCase{"UnsafeCharactersAreSentAsTheyAre",
                                {{"http://h/a b/c d?e f", "/a b/c d?e f", "h", "80"}}}),
    [](const ::testing::TestParamInfo<MergeCase>& info) { return std::string(info.param.name); });

TEST(MergeRequestAddress, UnknownProtocolLeavesTheNewFieldsInPlace) {
    TIdURI current("http://old:8080/p/");
    current.Port = "80";
    Request request;
    EXPECT_THROW(MergeRequestAddress(current, "ftp://new/dir/doc?q", request), EIdUnknownProtocol);
    EXPECT_EQ(current.Host, "new");
    EXPECT_EQ(current.Protocol, "ftp");
    EXPECT_EQ(current.Path, "/dir/");
    EXPECT_EQ(current.Document, "doc");
    EXPECT_EQ(current.Params, "?q");
}

TEST(MergeRequestAddress, CredentialsOfTheAddressStayWithTheRequest) {
    TIdURI current;
    Request request;
    MergeRequestAddress(current, "http://u:p@h/", request);
    EXPECT_EQ(request.username, "u");
    EXPECT_EQ(request.password, "p");
    EXPECT_EQ(current.UserName, "u");

    MergeRequestAddress(current, "http://other/", request);
    EXPECT_EQ(request.username, "u");
    EXPECT_EQ(current.UserName, "u");
    EXPECT_EQ(current.Password, "p");

    request.username = "caller";
    request.password = "";
    MergeRequestAddress(current, "/x", request);
    EXPECT_EQ(current.UserName, "caller");
    EXPECT_EQ(current.Password, "");
}

TEST(MergeRequestAddress, OptionsOfStarTargetsTheServer) {
    TIdURI current;
    Request request;
    request.method = hmOptions;
    MergeRequestAddress(current, "http://h/*", request);
    EXPECT_EQ(request.target, "*");
    request.method = hmGet;
    MergeRequestAddress(current, "http://h/*", request);
    EXPECT_EQ(request.target, "/*");
}

}  // namespace
