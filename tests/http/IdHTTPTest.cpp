// Get against scripted servers: what each kind of answer leads to (redirects, errors,
// authorization), where the connection goes, and what reaches the output stream.

#include "http/IdHTTP.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "core/Exception.h"
#include "http/IdHTTPExceptions.h"
#include "net/IdExceptions.h"
#include "net/IdIOHandlerSocket.h"
#include "support/HttpAnswers.h"
#include "support/LoopbackPeer.h"

using namespace tarnwick;
using namespace tarnwick::testing;

namespace {

class GetTest : public ::testing::Test {
protected:
    LoopbackPeer& Serve(std::vector<Answer> answers) {
        peers_.push_back(std::make_unique<LoopbackPeer>(ServeAnswers(std::move(answers))));
        return *peers_.back();
    }
    static std::string Url(const LoopbackPeer& peer, const std::string& path = "/",
                           const std::string& host = "127.0.0.1") {
        return "http://" + host + ":" + peer.PortText() + path;
    }
    // The request lines the peer received on its first connection.
    static std::vector<std::string> RequestLines(const LoopbackPeer& peer, int connection = 0) {
        std::vector<std::string> lines;
        const std::string received = peer.Received(connection);
        for (std::size_t at = 0; at < received.size();) {
            lines.push_back(received.substr(at, received.find("\r\n", at) - at));
            const std::size_t end = received.find("\r\n\r\n", at);
            if (end == std::string::npos) break;
            at = end + 4;
        }
        return lines;
    }
    // Runs the Get and returns the protocol exception it must throw.
    EIdHTTPProtocolException ProtocolError(const std::string& url) {
        try {
            http_.Get(url, out_);
        } catch (const EIdHTTPProtocolException& e) {
            return e;
        }
        ADD_FAILURE() << "no EIdHTTPProtocolException; output: " << out_.DataString();
        return EIdHTTPProtocolException(0, "", "");
    }

    std::vector<std::unique_ptr<LoopbackPeer>> peers_;
    TIdHTTP http_;  // goes before the peers, so every script sees its close
    TIdMemoryStream out_;
};

// A server of redirect chains: "/r/N" answers "302 Hop N" to "/r/N-1", and "/r/0" answers "done".
LoopbackPeer::Script ServeChains() {
    return [](PeerConnection& c) {
        for (std::string head; !(head = ReadRequestHead(c)).empty();) {
            const int n = std::stoi(head.substr(std::string("GET /r/").size()));
            if (n == 0) {
                c.Send(Ok("done"));
                continue;
            }
            const std::string body = "hop " + std::to_string(n);
            c.Send("HTTP/1.1 302 Hop " + std::to_string(n) + "\r\nLocation: /r/" +
                   std::to_string(n - 1) + "\r\nContent-Length: " + std::to_string(body.size()) +
                   "\r\n\r\n" + body);
        }
    };
}

}  // namespace

TEST(HTTPClient, PublishedDefaults) {
    TIdHTTP http;
    EXPECT_EQ(http.Port, 80);
    EXPECT_EQ(http.Host, "");
    EXPECT_FALSE(http.HandleRedirects);
    EXPECT_EQ(http.RedirectMaximum, 15);
    EXPECT_EQ(http.AuthRetries, 3);
    EXPECT_TRUE(http.AllowCookies);
    EXPECT_EQ(http.CookieManager(), nullptr);
    EXPECT_EQ(http.ProtocolVersion, pv1_1);
    EXPECT_EQ(http.HTTPOptions, TIdHTTPOptions{hoForceEncodeParams});
    EXPECT_EQ(http.ProxyParams.ProxyServer(), "");
    EXPECT_EQ(http.ProxyParams.ProxyPort(), 0);
    EXPECT_FALSE(http.ProxyParams.BasicAuthentication);
    EXPECT_EQ(http.Request().Accept, "text/html, */*");
    EXPECT_EQ(http.ReadTimeout, 0);
    EXPECT_EQ(http.RequestTimeout, 0);
    EXPECT_FALSE(http.IsConnected());
}

// The call's whole time holds, across a redirect, against a body that drips a byte far more often
// than the stall limit would notice: the call ends at the deadline with what came.
TEST_F(GetTest, RequestTimeoutEndsADrippingBody) {
    peers_.push_back(std::make_unique<LoopbackPeer>([](PeerConnection& c) {
        ReadRequestHead(c);
        c.Send("HTTP/1.1 302 Found\r\nLocation: /drip\r\nContent-Length: 0\r\n\r\n");
        ReadRequestHead(c);
        c.Send("HTTP/1.1 200 OK\r\nContent-Length: 200\r\n\r\n");
        c.SendInPieces(std::string(200, 'd'), 1, std::chrono::milliseconds(50));
    }));
    http_.HandleRedirects = true;
    http_.StallTimeout = 1000;
    http_.RequestTimeout = 1500;
    const auto start = std::chrono::steady_clock::now();
    try {
        http_.Get(Url(*peers_.back(), "/moved"), out_);
        ADD_FAILURE() << "the whole body came: " << out_.DataString();
    } catch (const EIdDeadlineReached& e) {
        EXPECT_STREQ(e.what(), "Not finished within 2 seconds.");
    }
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_GE(elapsed, std::chrono::milliseconds(1450));
    EXPECT_LT(elapsed, std::chrono::seconds(5));  // the body alone would take 10 s
    EXPECT_GT(out_.Size(), 0);
    EXPECT_EQ(out_.DataString(), std::string(static_cast<std::size_t>(out_.Size()), 'd'));
    EXPECT_FALSE(http_.IsConnected());
}

TEST_F(GetTest, HostAndPortSettingsServeARelativeAddress) {
    LoopbackPeer& peer = Serve({{Ok("rel")}});
    http_.SetHost("127.0.0.1");
    http_.SetPort(peer.Port());
    http_.Get("/relative/doc", out_);
    EXPECT_EQ(out_.DataString(), "rel");
    EXPECT_EQ(RequestLines(peer)[0], "GET /relative/doc HTTP/1.1");
}

// --- Answers without a body to deliver -----------------------------------------------------------

TEST_F(GetTest, NoContentEndsWithoutReadingABody) {
    LoopbackPeer& peer = Serve({{"HTTP/1.1 204 No Content\r\n\r\n"}, {Ok("next")}});
    http_.Get(Url(peer), out_);
    EXPECT_EQ(out_.DataString(), "");
    http_.Get(Url(peer), out_);
    EXPECT_EQ(out_.DataString(), "next");
    EXPECT_EQ(peer.Accepted(), 1);
}

// No body follows a 304 whatever its head says, so the error comes at once and the connection
// stays usable.
TEST_F(GetTest, NotModifiedIsAProtocolErrorWithCode304) {
    LoopbackPeer& peer =
        Serve({{"HTTP/1.1 304 Not Modified\r\nETag: \"1\"\r\n\r\n"}, {Ok("next")}});
    const auto e = ProtocolError(Url(peer));
    EXPECT_EQ(e.StatusCode(), 304);
    EXPECT_EQ(e.Message(), "HTTP/1.1 304 Not Modified");
    EXPECT_EQ(e.ResponseBody(), "");
    http_.Get(Url(peer), out_);
    EXPECT_EQ(out_.DataString(), "next");
    EXPECT_EQ(peer.Accepted(), 1);
}

TEST_F(GetTest, UnreadableStatusLineIsAProtocolErrorWithCodeMinusOne) {
    for (const std::string line : {"garbage", "HTTP/1.1", "HTTP/1.1 abc Weird"}) {
        SCOPED_TRACE(line);
        LoopbackPeer& peer = Serve({{line + "\r\nContent-Length: 4\r\n\r\nbody"}});
        const auto e = ProtocolError(Url(peer));
        EXPECT_EQ(e.StatusCode(), -1);
        EXPECT_EQ(e.Message(), line);
        EXPECT_EQ(e.ResponseBody(), "body");
    }
}

TEST_F(GetTest, SuccessWhoseConnectionClosedBeforeTheBodyIsAnUndefinedSituation) {
    LoopbackPeer& peer = Serve({{"HTTP/1.1 200 OK\r\nContent-Length: 5\r\n", true}});
    try {
        http_.Get(Url(peer), out_);
        ADD_FAILURE() << "no exception";
    } catch (const EIdHTTPProtocolException& e) {
        ADD_FAILURE() << e.what();
    } catch (const EIdException& e) {
        EXPECT_EQ(e.Message(), "Undefined situation");
    }
    EXPECT_FALSE(http_.IsConnected());
}

// --- Errors --------------------------------------------------------------------------------------

TEST_F(GetTest, ErrorBodyBecomesResponseBodyAndNeverReachesTheOutput) {
    LoopbackPeer& peer =
        Serve({{"HTTP/1.1 404 Not Found\r\nContent-Length: 7\r\n\r\nmissing"},
               {"HTTP/1.1 500 Broken\r\nTransfer-Encoding: chunked\r\n\r\n"
                "3\r\nbad\r\n4\r\n one\r\n0\r\n\r\n"},
               {"HTTP/1.1 503 Busy\r\nConnection: close\r\n\r\ncome back later", true}});
    out_.Write("kept", 4);
    auto e = ProtocolError(Url(peer, "/a"));
    EXPECT_EQ(e.StatusCode(), 404);
    EXPECT_EQ(e.Message(), "HTTP/1.1 404 Not Found");
    EXPECT_EQ(e.ResponseBody(), "missing");
    e = ProtocolError(Url(peer, "/b"));
    EXPECT_EQ(e.StatusCode(), 500);
    EXPECT_EQ(e.ResponseBody(), "bad one");
    EXPECT_TRUE(http_.IsConnected());
    e = ProtocolError(Url(peer, "/c"));
    EXPECT_EQ(e.StatusCode(), 503);
    EXPECT_EQ(e.ResponseBody(), "come back later");
    EXPECT_FALSE(http_.IsConnected());
    EXPECT_EQ(out_.DataString(), "kept");
    EXPECT_EQ(peer.Accepted(), 1);
}

TEST_F(GetTest, ErrorBodyCutShortStillGivesTheProtocolError) {
    LoopbackPeer& peer =
        Serve({{"HTTP/1.1 404 Not Found\r\nContent-Length: 100\r\n\r\npartial", true}});
    const auto e = ProtocolError(Url(peer));
    EXPECT_EQ(e.StatusCode(), 404);
    EXPECT_EQ(e.ResponseBody(), "partial");
}

TEST_F(GetTest, AddressesThatCannotBeFetchedFailBeforeAnythingIsSent) {
    LoopbackPeer& peer = Serve({});
    EXPECT_THROW(http_.Get("ftp://127.0.0.1/x", out_), EIdUnknownProtocol);
    try {
        http_.Get("http://127.0.0.1:8x/", out_);
        ADD_FAILURE() << "no exception";
    } catch (const EConvertError& e) {
        EXPECT_EQ(e.Message(), "'8x' is not a valid integer value");
    }
    {
        // A handler of the caller's own that cannot secure the connection.
        TIdIOHandlerSocket plain;
        http_.SetIOHandler(&plain);
        try {
            http_.Get("hTTpS://127.0.0.1:" + peer.PortText() + "/", out_);
            ADD_FAILURE() << "no exception";
        } catch (const EIdIOHandlerPropInvalid& e) {
            EXPECT_EQ(e.Message(), "IOHandler value is not valid");
        }
        http_.SetIOHandler(nullptr);
    }
    http_.ProtocolVersion = pv1_0;
    try {
        http_.PerformRequest(hmPut, Url(peer), nullptr, nullptr);
        ADD_FAILURE() << "no exception";
    } catch (const EIdException& e) {
        EXPECT_EQ(e.Message(), "This request method is supported in HTTP 1.1");
    }
    EXPECT_EQ(peer.Accepted(), 0);
}

TEST_F(GetTest, ContentRangeThatDoesNotParseFailsTheGet) {
    LoopbackPeer& peer =
        Serve({{"HTTP/1.1 416 Range Not Satisfiable\r\nContent-Range: bytes x-9/9\r\n"
                "Content-Length: 0\r\n\r\n"}});
    try {
        http_.Get(Url(peer), out_);
        ADD_FAILURE() << "no exception";
    } catch (const EConvertError& e) {
        EXPECT_EQ(e.Message(), "'x' is not a valid integer value");
    }
}

// --- Redirects -----------------------------------------------------------------------------------

TEST_F(GetTest, RedirectNotFollowedIsAProtocolErrorAndWritesNothing) {
    peers_.push_back(std::make_unique<LoopbackPeer>(ServeChains()));
    const auto e = ProtocolError(Url(*peers_[0], "/r/3"));
    EXPECT_EQ(e.StatusCode(), 302);
    EXPECT_EQ(e.Message(), "HTTP/1.1 302 Hop 3");
    EXPECT_EQ(e.ResponseBody(), "hop 3");
    EXPECT_EQ(out_.Size(), 0);
    EXPECT_EQ(RequestLines(*peers_[0]).size(), 1u);
}

// With the default maximum of 15, a chain of 14 redirects is followed to the end; a 15th redirect
// is the error to report, carrying that answer.
TEST_F(GetTest, RedirectLimit) {
    peers_.push_back(std::make_unique<LoopbackPeer>(ServeChains()));
    const LoopbackPeer& peer = *peers_[0];
    http_.HandleRedirects = true;
    out_.Write("abc", 3);
    http_.Get(Url(peer, "/r/14"), out_);
    EXPECT_EQ(out_.DataString(), "abcdone");
    EXPECT_EQ(RequestLines(peer).size(), 15u);
    EXPECT_EQ(http_.RedirectsSoFar(), 0);

    TIdMemoryStream out;
    try {
        http_.Get(Url(peer, "/r/15"), out);
        ADD_FAILURE() << "no exception; output: " << out.DataString();
    } catch (const EIdHTTPProtocolException& e) {
        EXPECT_EQ(e.StatusCode(), 302);
        EXPECT_EQ(e.Message(), "HTTP/1.1 302 Hop 1");
        EXPECT_EQ(e.ResponseBody(), "hop 1");
    }
    EXPECT_EQ(out.DataString(), "");
    EXPECT_EQ(RequestLines(peer).size(), 30u);

    // The next call has the whole allowance again.
    TIdMemoryStream again;
    http_.Get(Url(peer, "/r/14"), again);
    EXPECT_EQ(again.DataString(), "done");
    EXPECT_EQ(peer.Accepted(), 1);
}

TEST_F(GetTest, SuccessWithALocationIsARedirect) {
    LoopbackPeer& peer =
        Serve({{"HTTP/1.1 200 OK\r\nLocation: /next\r\nContent-Length: 4\r\n\r\nnope"},
               {Ok("final")},
               {"HTTP/1.1 200 OK\r\nLocation: /next\r\nContent-Length: 4\r\n\r\nnope"}});
    http_.HandleRedirects = true;
    http_.Get(Url(peer, "/first"), out_);
    EXPECT_EQ(out_.DataString(), "final");
    EXPECT_EQ(RequestLines(peer)[1], "GET /next HTTP/1.1");

    http_.HandleRedirects = false;
    TIdMemoryStream out;
    try {
        http_.Get(Url(peer, "/first"), out);
        ADD_FAILURE() << "no exception";
    } catch (const EIdHTTPProtocolException& e) {
        EXPECT_EQ(e.StatusCode(), 200);
        EXPECT_EQ(e.ResponseBody(), "nope");
    }
    EXPECT_EQ(out.Size(), 0);
}

namespace {

struct TargetCase {
    const char* name;
    const char* location;  // "PORT" stands for the server's port
    const char* request;   // the request line that follows
};

void PrintTo(const TargetCase& c, std::ostream* out) { *out << c.name; }

class RedirectTargetTest : public GetTest, public ::testing::WithParamInterface<TargetCase> {};

}  // namespace

TEST_P(RedirectTargetTest, ResolvesAgainstTheCurrentAddressOnTheSameConnection) {
    const TargetCase c = GetParam();
    // The server learns its own port (for an absolute location) once it listens.
    auto location = std::make_shared<std::string>(c.location);
    peers_.push_back(std::make_unique<LoopbackPeer>([location](PeerConnection& conn) {
        ReadRequestHead(conn);
        conn.Send("HTTP/1.1 301 Moved\r\nLocation: " + *location + "\r\nContent-Length: 0\r\n\r\n");
        ReadRequestHead(conn);
        conn.Send(Ok("there"));
        conn.WaitForClose();
    }));
    LoopbackPeer& server = *peers_[0];
    if (const auto at = location->find("PORT"); at != std::string::npos)
        location->replace(at, 4, server.PortText());
    http_.HandleRedirects = true;
    http_.Get(Url(server, "/a/b/doc"), out_);
    EXPECT_EQ(out_.DataString(), "there");
    EXPECT_EQ(RequestLines(server)[1], c.request);
    EXPECT_EQ(server.Accepted(), 1);
}

INSTANTIATE_TEST_SUITE_P(
    Targets, RedirectTargetTest,
    ::testing::Values(TargetCase{"Document", "next", "GET /a/b/next HTTP/1.1"},
                      TargetCase{"Parent", "../up?q=1", "GET /a/up?q=1 HTTP/1.1"},
                      TargetCase{"AbsolutePath", "/abs/x", "GET /abs/x HTTP/1.1"},
                      TargetCase{"OnlyParameters", "?page=2", "GET /a/b/?page=2 HTTP/1.1"},
                      TargetCase{"AddressInTheParameters", "/login?next=http://127.0.0.1:1/x",
                                 "GET /login?next=http://127.0.0.1:1/x HTTP/1.1"},
                      TargetCase{"AbsoluteAddress", "http://127.0.0.1:PORT/full/y",
                                 "GET /full/y HTTP/1.1"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(GetTest, RedirectToAnotherHostConnectsThere) {
    LoopbackPeer& other = Serve({{Ok("elsewhere")}});
    LoopbackPeer& first =
        Serve({{"HTTP/1.1 302 Found\r\nLocation: http://localhost:" + other.PortText() +
                "/there\r\nContent-Length: 0\r\n\r\n"}});
    http_.HandleRedirects = true;
    http_.Get(Url(first), out_);
    EXPECT_EQ(out_.DataString(), "elsewhere");
    EXPECT_TRUE(first.WaitForScripts(1));  // the first connection was closed
    EXPECT_EQ(RequestLines(other)[0], "GET /there HTTP/1.1");
    EXPECT_NE(other.Received(0).find("\r\nHost: localhost:" + other.PortText() + "\r\n"),
              std::string::npos);
    EXPECT_EQ(http_.Host, "localhost");
    EXPECT_EQ(http_.Port, other.Port());
}

TEST_F(GetTest, RedirectToASecureAddressNeverSendsItInPlain) {
    // A server that answers a handshake with plain HTTP: the request must not follow in plain.
    LoopbackPeer plain([](PeerConnection& c) {
        c.ReceiveExactly(5);  // the start of the handshake
        c.Send(Ok("plain"));
        c.WaitForClose();
    });
    LoopbackPeer& peer =
        Serve({{"HTTP/1.1 302 Found\r\nLocation: HTTPS://127.0.0.1:" + plain.PortText() +
                "/secure\r\nContent-Length: 0\r\n\r\n"}});
    http_.HandleRedirects = true;
    EXPECT_THROW(http_.Get(Url(peer), out_), EIdTLSError);
    EXPECT_EQ(RequestLines(peer).size(), 1u);
    EXPECT_EQ(plain.Received(0).find("/secure"), std::string::npos);
    EXPECT_EQ(out_.DataString(), "");
}

TEST_F(GetTest, CookiesOfARedirectGoWithTheNextRequest) {
    LoopbackPeer& peer =
        Serve({{"HTTP/1.1 302 Found\r\nSet-Cookie: s=1; path=/\r\nLocation: /next\r\n"
                "Content-Length: 0\r\n\r\n"},
               {Ok("ok")}});
    http_.HandleRedirects = true;
    http_.Get(Url(peer), out_);
    const std::string received = peer.Received(0);
    const std::size_t second = received.find("GET /next ");
    ASSERT_NE(second, std::string::npos);
    EXPECT_NE(received.find("\r\nCookie: s=1\r\n", second), std::string::npos) << received;
}

// A cookie that could only be sent back with a line break inside the Cookie line is not kept, so
// it neither reaches the next request nor stops it.
TEST_F(GetTest, CookieWithALineBreakIsNotKept) {
    LoopbackPeer& peer =
        Serve({{"HTTP/1.1 302 Found\r\nSet-Cookie: s=1\rX-Injected: 1; path=/\r\n"
                "Set-Cookie: t\r=2; path=/\r\nSet-Cookie: u=3; path=/\r\nLocation: /next\r\n"
                "Content-Length: 0\r\n\r\n"},
               {Ok("ok")}});
    http_.HandleRedirects = true;
    http_.Get(Url(peer), out_);
    EXPECT_EQ(out_.DataString(), "ok");
    const std::vector<std::string> lines = RequestLines(peer);
    ASSERT_EQ(lines.size(), 2u);
    const std::string received = peer.Received(0);
    EXPECT_NE(received.find("\r\nCookie: u=3\r\n", received.find("GET /next ")),
              std::string::npos)
        << received;
}

TEST_F(GetTest, RedirectHandlerDecidesAndMayChangeTheTarget) {
    LoopbackPeer& peer =
        Serve({{"HTTP/1.1 302 Found\r\nLocation: /planned\r\nContent-Length: 0\r\n\r\n"},
               {Ok("chosen")},
               {"HTTP/1.1 302 Found\r\nLocation: /x\r\nContent-Length: 0\r\n\r\n"}});
    http_.OnRedirect = [](TIdCustomHTTP&, std::string& dest, std::int32_t, bool& handled,
                          TIdHTTPMethod&) {
        dest = "/chosen";
        handled = true;
    };
    http_.HandleRedirects = true;
    http_.Get(Url(peer), out_);
    EXPECT_EQ(out_.DataString(), "chosen");
    EXPECT_EQ(RequestLines(peer)[1], "GET /chosen HTTP/1.1");

    // Without HandleRedirects a handled redirect ends the call with the new location noted.
    http_.HandleRedirects = false;
    TIdMemoryStream out;
    http_.Get(Url(peer), out);
    EXPECT_EQ(out.Size(), 0);
    EXPECT_EQ(http_.Response().Location, "/chosen");
}

// --- Authorization -------------------------------------------------------------------------------

TEST_F(GetTest, ChallengeWithoutHandlerIsAProtocolError) {
    LoopbackPeer& peer =
        Serve({{"HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Basic realm=\"r\"\r\n"
                "Content-Length: 6\r\n\r\ndenied"},
               {Ok("open")}});
    const auto e = ProtocolError(Url(peer));
    EXPECT_EQ(e.StatusCode(), 401);
    EXPECT_EQ(e.Message(), "HTTP/1.1 401 Unauthorized");
    EXPECT_EQ(e.ResponseBody(), "denied");
    EXPECT_EQ(http_.AuthAttempts(), 1);
    ASSERT_NE(http_.Request().AuthScheme(), nullptr);  // the Basic scheme stays with the request
    EXPECT_EQ(RequestLines(peer).size(), 1u);
    // ...and answers on the next request, with the (empty) credentials it has.
    http_.Get(Url(peer), out_);
    EXPECT_NE(peer.Received(0).find("\r\nAuthorization: Basic Og==\r\n"), std::string::npos);
}

TEST_F(GetTest, ChallengeAnsweredByTheHandlerIsRetriedWithCredentials) {
    LoopbackPeer& peer =
        Serve({{"HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Basic realm=\"r\"\r\n"
                "Content-Length: 6\r\n\r\ndenied"},
               {Ok("secret")}});
    http_.HTTPOptions.insert(hoInProcessAuth);
    int asked = 0;
    http_.OnAuthorization = [&](TComponent*, TIdAuthentication& scheme, bool& handled) {
        ++asked;
        scheme.SetUsername("user");
        scheme.SetPassword("pw");
        handled = true;
    };
    http_.Get(Url(peer, "/private"), out_);
    EXPECT_EQ(out_.DataString(), "secret");
    EXPECT_EQ(asked, 1);
    const std::vector<std::string> lines = RequestLines(peer);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[1], "GET /private HTTP/1.1");
    EXPECT_NE(peer.Received(0).rfind("\r\nAuthorization: Basic dXNlcjpwdw==\r\n"),
              std::string::npos);
    EXPECT_EQ(peer.Accepted(), 1);
}

TEST_F(GetTest, ChallengesStopAfterAuthRetries) {
    LoopbackPeer& peer = Serve(std::vector<Answer>(
        5,
        Answer{
            "HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Basic\r\nContent-Length: 0\r\n\r\n"}));
    http_.HTTPOptions.insert(hoInProcessAuth);
    http_.OnAuthorization = [](TComponent*, TIdAuthentication& scheme, bool& handled) {
        scheme.SetUsername("user");
        handled = true;
    };
    const auto e = ProtocolError(Url(peer));
    EXPECT_EQ(e.StatusCode(), 401);
    EXPECT_EQ(RequestLines(peer).size(), 4u);  // the first request and three attempts
}

// --- Through a proxy -----------------------------------------------------------------------------

TEST_F(GetTest, ThroughAProxyTheRequestLineCarriesTheFullAddress) {
    LoopbackPeer& proxy = Serve({{Ok("proxied")}});
    http_.ProxyParams.SetProxyServer("127.0.0.1");
    http_.ProxyParams.SetProxyPort(proxy.Port());
    http_.ProxyParams.SetProxyUsername("pu");
    http_.ProxyParams.SetProxyPassword("pp");
    http_.ProxyParams.BasicAuthentication = true;
    http_.Get("http://video.example/clip?id=7", out_);
    EXPECT_EQ(out_.DataString(), "proxied");
    EXPECT_EQ(proxy.Received(0),
              "GET http://video.example:80/clip?id=7 HTTP/1.1\r\n"
              "Content-Type: text/html\r\n"
              "Host: video.example\r\n"
              "Accept: text/html, */*\r\n"
              "User-Agent: Mozilla/3.0 (compatible; Tarnwick)\r\n"
              "Proxy-Authorization: Basic cHU6cHA=\r\n"
              "\r\n");
    EXPECT_EQ(http_.URL().Host, "video.example");
}

TEST_F(GetTest, ASecureAddressThroughAProxyAsksForATunnelFirst) {
    LoopbackPeer& proxy = Serve({{"HTTP/1.1 403 Forbidden\r\nContent-Length: 6\r\n\r\nno way"}});
    http_.ProxyParams.SetProxyServer("127.0.0.1");
    http_.ProxyParams.SetProxyPort(proxy.Port());
    http_.ProxyParams.SetProxyUsername("pu");
    http_.ProxyParams.SetProxyPassword("pp");
    http_.ProxyParams.BasicAuthentication = true;
    const auto e = ProtocolError("https://video.example/clip");
    EXPECT_EQ(e.StatusCode(), 403);
    EXPECT_EQ(e.ResponseBody(), "no way");
    // No path, no cookie: the proxy learns only where the tunnel goes.
    EXPECT_EQ(proxy.Received(0),
              "CONNECT video.example:443 HTTP/1.1\r\n"
              "Content-Type: text/html\r\n"
              "Pragma: no-cache\r\n"
              "Proxy-Connection: keep-alive\r\n"
              "Host: video.example:443\r\n"
              "Accept: text/html, */*\r\n"
              "User-Agent: Mozilla/3.0 (compatible; Tarnwick)\r\n"
              "Proxy-Authorization: Basic cHU6cHA=\r\n"
              "\r\n");
}

TEST_F(GetTest, AProxyChallengeToATunnelIsAnsweredOnTheSameConnection) {
    LoopbackPeer& proxy =
        Serve({{"HTTP/1.1 407 Proxy Authentication Required\r\n"
                "Proxy-Authenticate: Basic realm=\"p\"\r\nContent-Length: 4\r\n\r\ndeny"},
               {"HTTP/1.1 403 Forbidden\r\nContent-Length: 0\r\n\r\n"}});
    http_.ProxyParams.SetProxyServer("127.0.0.1");
    http_.ProxyParams.SetProxyPort(proxy.Port());
    http_.OnProxyAuthorization = [](TComponent*, TIdAuthentication& scheme, bool& handled) {
        scheme.SetUsername("pu");
        scheme.SetPassword("pp");
        handled = true;
    };
    EXPECT_EQ(ProtocolError("https://video.example/clip").StatusCode(), 403);
    const std::vector<std::string> lines = RequestLines(proxy);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[1], "CONNECT video.example:443 HTTP/1.1");
    EXPECT_NE(proxy.Received(0).rfind("\r\nProxy-Authorization: Basic cHU6cHA=\r\n"),
              std::string::npos)
        << proxy.Received(0);
    EXPECT_EQ(proxy.Accepted(), 1);
}

TEST_F(GetTest, ProxyChallengesToATunnelStopAfterAuthRetries) {
    LoopbackPeer& proxy = Serve(std::vector<Answer>(
        5, Answer{"HTTP/1.1 407 Proxy Authentication Required\r\nProxy-Authenticate: Basic\r\n"
                  "Content-Length: 0\r\n\r\n"}));
    http_.ProxyParams.SetProxyServer("127.0.0.1");
    http_.ProxyParams.SetProxyPort(proxy.Port());
    http_.OnProxyAuthorization = [](TComponent*, TIdAuthentication& scheme, bool& handled) {
        scheme.SetUsername("pu");
        handled = true;
    };
    EXPECT_EQ(ProtocolError("https://video.example/clip").StatusCode(), 407);
    // The first request and three attempts, as for a server's 401.
    EXPECT_EQ(RequestLines(proxy),
              std::vector<std::string>(4, "CONNECT video.example:443 HTTP/1.1"));
}

TEST_F(GetTest, ProxyCredentialsNeverGoToAServer) {
    LoopbackPeer& peer = Serve({{Ok("direct")}});
    http_.ProxyParams.SetProxyUsername("pu");
    http_.ProxyParams.BasicAuthentication = true;
    http_.Get(Url(peer), out_);
    EXPECT_EQ(peer.Received(0).find("Proxy-Authorization"), std::string::npos);
}

// --- Kept connections ----------------------------------------------------------------------------

namespace {

class IdleCloseTest : public GetTest, public ::testing::WithParamInterface<bool> {};

}  // namespace

// A kept connection that the server closes (or resets) while idle is noticed before the next
// request, which then goes out on a new connection.
TEST_P(IdleCloseTest, NextGetConnectsAgain) {
    const bool reset = GetParam();
    // Shared with the scripts, which may still run when the test body ends.
    struct Signals {
        Event go, gone;
    };
    auto signals = std::make_shared<Signals>();
    peers_.push_back(std::make_unique<LoopbackPeer>([reset, signals](PeerConnection& c) {
        ReadRequestHead(c);
        c.Send(Ok("one"));
        if (signals->go.Wait()) {
            // SO_LINGER 0 makes the close a reset.
            if (reset)
                c.Reset();
            else
                c.Close();
        }
        signals->gone.Set();
    }));
    LoopbackPeer& first = *peers_[0];
    http_.Get(Url(first), out_);
    EXPECT_TRUE(http_.IsConnected());
    signals->go.Set();
    ASSERT_TRUE(signals->gone.Wait());
    TIdMemoryStream out;
    // The same port: a second connection is accepted by the same peer, which answers it too.
    http_.Get(Url(first), out);
    EXPECT_EQ(out.DataString(), "one");
    EXPECT_EQ(first.Accepted(), 2);
}

INSTANTIATE_TEST_SUITE_P(Closes, IdleCloseTest, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "Reset" : "Close"; });

// --- An answer that fails half-read --------------------------------------------------------------

namespace {

struct HalfReadCase {
    const char* name;
    const char* answer;  // its unread rest looks like a whole answer of its own
};

void PrintTo(const HalfReadCase& c, std::ostream* out) { *out << c.name; }

class HalfReadAnswerTest : public GetTest, public ::testing::WithParamInterface<HalfReadCase> {};

}  // namespace

// When a call fails before the answer's body was read to its end, the rest of that body is still
// on the connection. The next call on the same client must not take it for its own answer.
TEST_P(HalfReadAnswerTest, NextGetNeverReadsTheRestOfIt) {
    const std::string smuggled = "HTTP/1.1 200 OK\r\nContent-Length: 8\r\n\r\nsmuggled";
    LoopbackPeer& peer = Serve({{GetParam().answer + smuggled}, {Ok("fresh")}, {Ok("fresh")}});
    EXPECT_ANY_THROW(http_.Get(Url(peer), out_));
    TIdMemoryStream out;
    http_.Get(Url(peer), out);
    EXPECT_EQ(out.DataString(), "fresh");
}

INSTANTIATE_TEST_SUITE_P(
    Failures, HalfReadAnswerTest,
    ::testing::Values(
        HalfReadCase{"ContentRangeThatDoesNotParse",
                     "HTTP/1.1 206 Partial\r\nContent-Range: bytes x-y/z\r\n"
                     "Content-Length: 47\r\n\r\n"},
        HalfReadCase{"BadChunkSize",
                     "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\n"},
        HalfReadCase{"BadChunkSizeInAnErrorBody",
                     "HTTP/1.1 404 Not Found\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\n"}),
    [](const auto& info) { return std::string(info.param.name); });

// Without an output stream no body is read; the connection then cannot carry the next answer.
TEST_F(GetTest, BodyLeftUnreadWithoutAnOutputIsNeverReadAsTheNextAnswer) {
    const std::string smuggled = "HTTP/1.1 200 OK\r\nContent-Length: 8\r\n\r\nsmuggled";
    LoopbackPeer& peer = Serve({{Ok(smuggled)}, {Ok("fresh")}, {Ok("fresh")}});
    http_.PerformRequest(hmGet, Url(peer), nullptr, nullptr);
    http_.Get(Url(peer), out_);
    EXPECT_EQ(out_.DataString(), "fresh");
}

// --- Line breaks in what the client writes -------------------------------------------------------

namespace {

struct LineBreakCase {
    const char* name;
    const char* path;        // the address's path
    const char* location;    // a redirect's Location, when not empty
    const char* userAgent;   // the request's UserAgent, when not empty
    const char* message;
};

void PrintTo(const LineBreakCase& c, std::ostream* out) { *out << c.name; }

class LineBreakTest : public GetTest, public ::testing::WithParamInterface<LineBreakCase> {};

}  // namespace

// A line break inside the request line or a header value would let whoever chose that text add
// header lines of their own (or a second request). Such a request is never sent.
TEST_P(LineBreakTest, RequestIsRefusedAndNothingOfItGoesOut) {
    const LineBreakCase c = GetParam();
    std::vector<Answer> answers;
    if (*c.location)
        answers.push_back({"HTTP/1.1 302 Found\r\nLocation: " + std::string(c.location) +
                           "\r\nContent-Length: 0\r\n\r\n"});
    LoopbackPeer& peer = Serve(answers);
    if (*c.userAgent) http_.Request().UserAgent = c.userAgent;
    http_.HandleRedirects = true;
    try {
        http_.Get(Url(peer, c.path), out_);
        ADD_FAILURE() << "no exception";
    } catch (const EIdHTTPProtocolException& e) {
        ADD_FAILURE() << e.what();
    } catch (const EIdException& e) {
        EXPECT_EQ(e.Message(), c.message);
    }
    EXPECT_EQ(RequestLines(peer).size(), *c.location ? 1u : 0u) << peer.Received(0);
    EXPECT_EQ(peer.Received(0).find("Injected"), std::string::npos) << peer.Received(0);
}

INSTANTIATE_TEST_SUITE_P(
    Sources, LineBreakTest,
    ::testing::Values(
        LineBreakCase{"AddressWithCRLF", "/a\r\nX-Injected: 1", "", "",
                      "The request target holds a line break."},
        LineBreakCase{"AddressWithLF", "/a\nX-Injected: 1", "", "",
                      "The request target holds a line break."},
        LineBreakCase{"RedirectWithBareCR", "/", "/next\rX-Injected: 1", "",
                      "The request target holds a line break."},
        LineBreakCase{"FieldWithCRLF", "/", "", "agent\r\nX-Injected: 1",
                      "The value of the request header \"User-Agent\" holds a line break."},
        LineBreakCase{"FieldWithCRLFAndBlank", "/", "", "agent\r\n X-Injected: 1",
                      "The value of the request header \"User-Agent\" holds a line break."}),
    [](const auto& info) { return std::string(info.param.name); });
