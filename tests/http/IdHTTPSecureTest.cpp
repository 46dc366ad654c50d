// Get over TLS against a real nginx on loopback, with certificates of the tests' own authority:
// downloads, keep-alive, chunked bodies, redirects between http and https, secure cookies,
// certificates that must fail, the user's abort in the handshake and in a body, and a tunnel
// through a CONNECT proxy.

#include "http/IdHTTP.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>

#include "http/IdHTTPExceptions.h"
#include "net/IdExceptions.h"
#include "net/IdSSLIOHandlerSocket.h"
#include "support/ClosedConnectionOutcome.h"
#include "support/ConnectProxy.h"
#include "support/ChildProcess.h"
#include "support/LoopbackPeer.h"
#include "support/NginxServer.h"
#include "support/TestCertificates.h"
#include "support/TestData.h"
#include "support/ThreadProbe.h"

using namespace tarnwick;
using namespace tarnwick::testing;

namespace {

// $connection names the server's connection and $scheme its kind in every answer.
std::string Config(const NginxServer* plain = nullptr) {
    std::string config =
        "    add_header X-Connection $connection always;\n"
        "    add_header X-Scheme $scheme always;\n"
        "    absolute_redirect off;\n"
        "    location = /relative { return 302 /media.bin; }\n"
        "    location = /cookies {\n"
        "      add_header Set-Cookie \"s=1; path=/; secure\";\n"
        "      add_header Set-Cookie \"p=2; path=/\";\n"
        "      return 200 \"set\";\n"
        "    }\n"
        "    location = /echo { return 200 \"[$http_cookie]\"; }\n"
        "    location = /slow.bin { limit_rate 64k; }\n"
        "    location ~ \\.shtml$ { ssi on; ssi_types *; }\n";
    if (plain) {
        config += "    location = /to-plain { return 302 " + plain->BaseUrl() + "/media.bin; }\n";
    }
    return config;
}

class SecureGetTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { certificates_ = std::make_unique<TestCertificates>(); }
    static void TearDownTestSuite() { certificates_.reset(); }

    SecureGetTest() : tls_{certificates_->Valid(), certificates_->Key()}, nginx_(Config(), &tls_) {
        http_.SSLOptions.RootCertFile = certificates_->CaFile().string();
        media_ = ReadWholeFile(nginx_.WriteFile("media.bin", 3 * 1024 * 1024 + 5));
    }

    std::string Connection() { return http_.Response().HeaderLines().HeaderValue("X-Connection"); }
    std::string Scheme() { return http_.Response().HeaderLines().HeaderValue("X-Scheme"); }
    const TIdSSLIOHandlerSocket* Secure() {
        return dynamic_cast<const TIdSSLIOHandlerSocket*>(http_.IOHandler());
    }

    static std::unique_ptr<TestCertificates> certificates_;
    NginxTls tls_;
    NginxServer nginx_;
    std::string media_;
    TIdHTTP http_;
};

std::unique_ptr<TestCertificates> SecureGetTest::certificates_;

TEST_F(SecureGetTest, DownloadsKeepAliveAndChunkedBodiesOverTls) {
    TIdMemoryStream media;
    http_.Get(nginx_.SecureBaseUrl() + "/media.bin", media);
    EXPECT_TRUE(media.DataString() == media_) << "the body differs from the served file";
    EXPECT_EQ(Scheme(), "https");
    ASSERT_NE(Secure(), nullptr);
    EXPECT_TRUE(http_.ConnectionIsSecure());
    EXPECT_TRUE(Secure()->ProtocolName() == "TLSv1.3" || Secure()->ProtocolName() == "TLSv1.2")
        << Secure()->ProtocolName();
    const std::string first = Connection();

    // The same kept connection, by host name this time, for a chunked body.
    std::string page = PatternText(100000);
    page += "<!--# set var=\"v\" value=\"end\" --><!--# echo var=\"v\" -->";
    std::ofstream(nginx_.Root() / "page.shtml") << page;
    TIdMemoryStream chunked;
    http_.Get(nginx_.SecureBaseUrl() + "/page.shtml", chunked);
    EXPECT_EQ(http_.Response().HeaderLines().HeaderValue("Transfer-Encoding"), "chunked");
    EXPECT_TRUE(chunked.DataString() == PatternText(100000) + "end");
    EXPECT_EQ(Connection(), first);
}

TEST_F(SecureGetTest, RedirectsMoveBetweenHttpAndHttpsAndRelativeOnesStaySecure) {
    http_.HandleRedirects = true;
    NginxServer plain(Config() + "    location = /to-secure { return 302 " +
                      nginx_.SecureBaseUrl() + "/media.bin; }\n");
    plain.WriteFile("media.bin", 3 * 1024 * 1024 + 5);
    NginxServer secure(Config(&plain), &tls_);
    secure.WriteFile("media.bin", 3 * 1024 * 1024 + 5);

    struct Case {
        std::string from, scheme;
    } cases[] = {{secure.SecureBaseUrl() + "/relative", "https"},
                 {secure.SecureBaseUrl() + "/to-plain", "http"},
                 {plain.BaseUrl() + "/to-secure", "https"}};
    for (const Case& c : cases) {
        TIdMemoryStream out;
        http_.Get(c.from, out);
        EXPECT_EQ(Scheme(), c.scheme) << c.from;
        EXPECT_EQ(http_.ConnectionIsSecure(), c.scheme == "https") << c.from;
        EXPECT_TRUE(out.DataString() == media_) << c.from;
    }
}

TEST_F(SecureGetTest, SecureAndPlainConnectionsToOnePortAreNeverMixed) {
    TIdMemoryStream a, b;
    http_.Get(nginx_.SecureBaseUrl() + "/media.bin", a);
    ASSERT_TRUE(http_.IsConnected());
    // Plain bytes to the secure port need a connection of their own: nginx refuses them there,
    // where the kept secure connection would have served them.
    try {
        http_.Get("http://127.0.0.1:" + std::to_string(nginx_.SecurePort()) + "/media.bin", b);
        ADD_FAILURE() << "the plain request was served";
    } catch (const EIdHTTPProtocolException& e) {
        EXPECT_EQ(e.StatusCode(), 400);
    }
    // And the other way round: a kept plain connection is not taken for a secure one.
    http_.Get(nginx_.BaseUrl() + "/media.bin", b);
    ASSERT_TRUE(http_.IsConnected());
    EXPECT_THROW(http_.Get("https://127.0.0.1:" + std::to_string(nginx_.Port()) + "/media.bin", b),
                 EIdTLSError);
}

TEST_F(SecureGetTest, SecureCookiesGoOverHttpsOnly) {
    TIdMemoryStream set, overTls, plain;
    http_.Get(nginx_.SecureBaseUrl() + "/cookies", set);
    http_.Get(nginx_.SecureBaseUrl() + "/echo", overTls);
    http_.Get(nginx_.BaseUrl() + "/echo", plain);
    EXPECT_EQ(overTls.DataString(), "[p=2; s=1]");
    EXPECT_EQ(plain.DataString(), "[p=2]");
}

// --- Certificates that fail ------------------------------------------------------------------

struct CertificateCase {
    const char* name;
    std::filesystem::path (TestCertificates::*certificate)() const;
    const char* host;
    const char* reason;  // after "certificate verify failed: "
};

class FailingCertificate : public SecureGetTest,
                           public ::testing::WithParamInterface<CertificateCase> {};

TEST_P(FailingCertificate, FailsTheGetWithTheReasonBeforeAnyRequest) {
    const CertificateCase& c = GetParam();
    const NginxTls tls{((*certificates_).*c.certificate)(), certificates_->Key()};
    const auto log = nginx_.Root().parent_path() / "bad-access.log";
    NginxServer bad("    access_log " + log.string() + ";\n", &tls);
    bad.WriteFile("media.bin", 10);
    TIdMemoryStream out;
    try {
        http_.Get(bad.SecureBaseUrl(c.host) + "/media.bin", out);
        ADD_FAILURE() << "the certificate was accepted";
    } catch (const EIdTLSError& e) {
        EXPECT_EQ(e.Message(), std::string("Secure connection to ") + c.host +
                                   " failed: certificate verify failed: " + c.reason);
    }
    EXPECT_FALSE(http_.IsConnected());
    EXPECT_EQ(out.Size(), 0);
    EXPECT_EQ(ReadWholeFile(log), "") << "a request reached the server";
}

INSTANTIATE_TEST_SUITE_P(
    Certificates, FailingCertificate,
    ::testing::Values(
        CertificateCase{"Untrusted", &TestCertificates::Untrusted, "127.0.0.1",
                        "self-signed certificate in certificate chain"},
        CertificateCase{"WrongAddress", &TestCertificates::WrongName, "127.0.0.1",
                        "IP address mismatch"},
        CertificateCase{"WrongName", &TestCertificates::WrongName, "localhost",
                        "hostname mismatch"},
        CertificateCase{"Expired", &TestCertificates::Expired, "localhost",
                        "certificate has expired"},
        CertificateCase{"NotYetValid", &TestCertificates::NotYetValid, "127.0.0.1",
                        "certificate is not yet valid"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(SecureGetTest, AnUnreadableTrustFileFailsTheGet) {
    TIdMemoryStream out;
    http_.SSLOptions.RootCertFile = (nginx_.Root() / "missing.pem").string();
    try {
        http_.Get(nginx_.SecureBaseUrl() + "/media.bin", out);
        ADD_FAILURE() << "no exception";
    } catch (const EIdTLSError& e) {
        EXPECT_EQ(e.Message().rfind("Cannot load the certificates of \"" +
                                        http_.SSLOptions.RootCertFile + "\": ",
                                    0),
                  0u)
            << e.Message();
    }
}

// --- The user's abort --------------------------------------------------------------------------

// Closes http from a second thread once the calling thread sleeps in a wait (after the first
// body bytes when inBody), and reports how the Get ended ("" for the failure of a closed
// connection) and how long the release took.
std::string AbortWhenBlocked(TIdHTTP& http, const std::string& url, bool inBody,
                             std::chrono::microseconds& latency) {
    const int reader = CurrentThreadId();
    Event body;
    http.OnWork = [&](TIdComponent&, TWorkMode, std::int64_t) { body.Set(); };
    std::chrono::steady_clock::time_point closed;
    std::thread closer([&] {
        if (inBody) {
            EXPECT_TRUE(body.Wait());
        }
        EXPECT_TRUE(WaitUntilBlockedIn(reader, WaitCalls()));
        closed = std::chrono::steady_clock::now();
        http.CloseConnection();
    });
    TIdMemoryStream out;
    const std::string outcome = ClosedConnectionOutcome([&] { http.Get(url, out); });
    const auto ended = std::chrono::steady_clock::now();
    closer.join();
    http.OnWork = nullptr;
    if (!inBody) {
        EXPECT_FALSE(body.IsSet());
    }
    latency = std::chrono::duration_cast<std::chrono::microseconds>(ended - closed);
    return outcome;
}

TEST_F(SecureGetTest, AbortEndsAStalledHandshakeAndASecureBodyAndLeavesNothingToReuse) {
    // A server that takes the connection and never answers the handshake.
    LoopbackPeer stalled([](PeerConnection& c) { c.WaitForClose(); });
    nginx_.WriteFile("slow.bin", 4 * 1024 * 1024);
    const std::string urls[] = {"https://127.0.0.1:" + stalled.PortText() + "/media.bin",
                                nginx_.SecureBaseUrl() + "/slow.bin"};
    for (const std::string& url : urls) {
        for (int round = 0; round < 5; ++round) {
            std::chrono::microseconds latency{};
            const bool inBody = url == urls[1];
            ASSERT_EQ(AbortWhenBlocked(http_, url, inBody, latency), "")
                << url << " round " << round;
            EXPECT_FALSE(http_.IsConnected());
            EXPECT_EQ(http_.IOHandler(), nullptr) << "the aborted connection stays in place";
            std::printf("abort in %s: released after %lld us\n", url.c_str(),
                        static_cast<long long>(latency.count()));
        }
    }
    // The next Get makes a new connection and a new handshake.
    TIdMemoryStream out;
    http_.Get(nginx_.SecureBaseUrl() + "/media.bin", out);
    EXPECT_TRUE(out.DataString() == media_);
    EXPECT_EQ(stalled.Accepted(), 5);
}

// A TLS server that answers one request with a record cut in half, then stays silent and open.
// Prints its port first.
constexpr const char* kCutRecordServer = R"(
import socket, ssl, sys
context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
context.load_cert_chain(sys.argv[1], sys.argv[2])
listener = socket.socket()
listener.bind(("127.0.0.1", 0))
listener.listen(1)
print(listener.getsockname()[1], flush=True)
connection, _ = listener.accept()
incoming, outgoing = ssl.MemoryBIO(), ssl.MemoryBIO()
tls = context.wrap_bio(incoming, outgoing, server_side=True)
def take_in():
    connection.sendall(outgoing.read())
    data = connection.recv(65536)
    if not data:
        sys.exit(0)
    incoming.write(data)
while True:
    try:
        tls.do_handshake()
        break
    except ssl.SSLWantReadError:
        take_in()
request = b""
while b"\r\n\r\n" not in request:
    try:
        request += tls.read(65536)
    except ssl.SSLWantReadError:
        take_in()
connection.sendall(outgoing.read())
tls.write(b"HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhello")
record = outgoing.read()
connection.sendall(record[: len(record) // 2])
connection.recv(1)
)";

// Silence in the handshake ends the Get at the connect limit, silence in the middle of a record
// at the stall limit, instead of holding it.
TEST_F(SecureGetTest, SilentServersEndAtTheConnectAndStallLimits) {
    LoopbackPeer stalled([](PeerConnection& c) { c.WaitForClose(); });
    ChildProcess cut({"python3", "-c", kCutRecordServer, certificates_->Valid().string(),
                      certificates_->Key().string()});
    const std::optional<std::string> port = cut.ReadLine();
    ASSERT_TRUE(port) << cut.ErrorOutput();
    http_.ConnectTimeout = 300;
    http_.StallTimeout = 300;
    TIdMemoryStream out;
    EXPECT_THROW(http_.Get("https://127.0.0.1:" + stalled.PortText() + "/", out),
                 EIdConnectTimeout);
    EXPECT_THROW(http_.Get("https://127.0.0.1:" + *port + "/", out), EIdStallTimeout);
    EXPECT_EQ(out.Size(), 0);
    EXPECT_FALSE(http_.IsConnected());
}

// --- Through a proxy ------------------------------------------------------------------------------

TEST_F(SecureGetTest, ThroughAConnectProxyTheTunnelCarriesTheSecureExchange) {
    ConnectProxy proxy;
    http_.ProxyParams.SetProxyServer("127.0.0.1");
    http_.ProxyParams.SetProxyPort(proxy.Port());
    const std::string url = nginx_.SecureBaseUrl("localhost") + "/media.bin";
    TIdMemoryStream first, second;
    http_.Get(url, first);
    http_.Get(url, second);
    EXPECT_TRUE(first.DataString() == media_);
    EXPECT_TRUE(second.DataString() == media_);
    EXPECT_EQ(Scheme(), "https");
    EXPECT_TRUE(http_.ConnectionIsSecure());
    EXPECT_EQ(proxy.Accepted(), 1);  // the tunnel was kept for the second Get
    const std::string head = proxy.RequestHead(0);
    EXPECT_EQ(head.rfind("CONNECT localhost:" + std::to_string(nginx_.SecurePort()) +
                             " HTTP/1.1\r\n",
                         0),
              0u)
        << head;
    EXPECT_EQ(head.find("media.bin"), std::string::npos) << "the path went to the proxy";
}

}  // namespace
