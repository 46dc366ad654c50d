// One exchange on the wire, against a scripted server: the request head byte for byte, answer
// heads, body framing, keep-alive decisions, work events, and a close in the middle of a body.

#include "http/IdHTTPProtocol.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "http/IdHTTP.h"
#include "net/IdExceptions.h"
#include "support/ClosedConnectionOutcome.h"
#include "support/HttpAnswers.h"
#include "support/LoopbackPeer.h"
#include "support/ThreadProbe.h"
#include "support/WorkLog.h"
#include "support/TestData.h"

using namespace tarnwick;
using namespace tarnwick::testing;

namespace {

const char* const kChunkedHead = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";

class ExchangeTest : public ::testing::Test {
protected:
    void Serve(std::vector<Answer> answers) { Start(ServeAnswers(std::move(answers))); }
    void Start(LoopbackPeer::Script script) {
        peer_ = std::make_unique<LoopbackPeer>(std::move(script));
    }
    std::string HostText() const { return "127.0.0.1:" + peer_->PortText(); }
    std::string Url(const std::string& path = "/") const { return "http://" + HostText() + path; }
    // The head the client sends for path with its defaults, before any cookie.
    std::string DefaultHead(const std::string& path, const std::string& cookie = {}) const {
        return "GET " + path + " HTTP/1.1\r\n" + "Content-Type: text/html\r\n" +
               "Host: " + HostText() + "\r\n" + "Accept: text/html, */*\r\n" +
               "User-Agent: Mozilla/3.0 (compatible; Tarnwick)\r\n" +
               (cookie.empty() ? "" : "Cookie: " + cookie + "\r\n") + "\r\n";
    }
    std::string Fetch(const std::string& path) {
        TIdMemoryStream out;
        http_.Get(Url(path), out);
        return out.DataString();
    }

    std::unique_ptr<LoopbackPeer> peer_;
    TIdHTTP http_;  // goes before the peer, so every script sees its close
    TIdMemoryStream out_;
};

}  // namespace

TEST_F(ExchangeTest, RequestHeadIsExactAndCarriesStoredCookies) {
    Serve({{Ok("hello", "Set-Cookie: id=42; path=/\r\n")}, {Ok("again")}});
    http_.Get(Url("/dir/doc?x=1&y=a b"), out_);
    EXPECT_EQ(out_.DataString(), "hello");
    const std::string first = DefaultHead("/dir/doc?x=1&y=a b");
    EXPECT_EQ(peer_->Received(0), first);

    EXPECT_EQ(Fetch("/other"), "again");
    EXPECT_EQ(peer_->Received(0), first + DefaultHead("/other", "id=42"));
    EXPECT_EQ(peer_->Accepted(), 1);
}

TEST_F(ExchangeTest, Version10AsksForKeepAlive) {
    Serve({{Ok("x", "Connection: keep-alive\r\n")}});
    http_.ProtocolVersion = pv1_0;
    http_.Get(Url("/"), out_);
    EXPECT_EQ(peer_->Received(0),
              "GET / HTTP/1.0\r\nConnection: keep-alive\r\n" +
                  DefaultHead("/").substr(std::string("GET / HTTP/1.1\r\n").size()));
}

TEST_F(ExchangeTest, ContinueHeadIsSkippedAndTheCookiesOfBothAreStored) {
    Serve({{"HTTP/1.1 100 Continue\r\nSet-Cookie: a=1; path=/\r\n\r\n"
            "HTTP/1.1 200 OK\r\nSet-Cookie: b=2; path=/\r\nContent-Length: 2\r\n\r\nok"},
           {Ok("")}});
    http_.Get(Url("/"), out_);
    EXPECT_EQ(out_.DataString(), "ok");
    EXPECT_EQ(http_.Response().StatusLine, "HTTP/1.1 200 OK");
    EXPECT_EQ(http_.Response().StatusCode(), 200);
    EXPECT_EQ(http_.Response().HeaderLines().HeaderValue("Set-Cookie"), "b=2; path=/");
    Fetch("/");
    EXPECT_EQ(peer_->Received(0), DefaultHead("/") + DefaultHead("/", "b=2; a=1"));
}

namespace {

struct ChunkedCase {
    const char* name;
    const char* body;  // after the chunked head
    const char* data;
};

void PrintTo(const ChunkedCase& c, std::ostream* out) { *out << c.name; }

class ChunkedBodyTest : public ExchangeTest, public ::testing::WithParamInterface<ChunkedCase> {};

}  // namespace

// Each body is consumed exactly: the next answer on the same connection reads cleanly.
TEST_P(ChunkedBodyTest, DataIsJoinedAndTheBodyConsumedExactly) {
    const ChunkedCase c = GetParam();
    Serve({{std::string(kChunkedHead) + c.body}, {Ok("next")}});
    http_.Get(Url("/"), out_);
    EXPECT_EQ(out_.DataString(), c.data);
    EXPECT_EQ(Fetch("/"), "next");
    EXPECT_EQ(peer_->Accepted(), 1);
}

INSTANTIATE_TEST_SUITE_P(
    Bodies, ChunkedBodyTest,
    ::testing::Values(
        ChunkedCase{"TwoChunks", "5\r\nhello\r\n6\r\n world\r\n0\r\n\r\n", "hello world"},
        ChunkedCase{"SizeWithABlank", "a \r\n0123456789\r\n0\r\n\r\n", "0123456789"},
        ChunkedCase{"Extension", "5;name=value\r\nhello\r\n0;last\r\n\r\n", "hello"},
        ChunkedCase{"UpperCaseHex", "B\r\nhello world\r\n0\r\n\r\n", "hello world"},
        ChunkedCase{"Trailer", "5\r\nhello\r\n0\r\nX-Sum: 1\r\nX-Other: 2\r\n\r\n", "hello"},
        ChunkedCase{"Empty", "0\r\n\r\n", ""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ExchangeTest, TransferEncodingWithCapitalCIsReadUntilClose) {
    const std::string body = "5\r\nhello\r\n0\r\n\r\n";
    Serve({{"HTTP/1.1 200 OK\r\nTransfer-Encoding: Chunked\r\n\r\n" + body, true}});
    http_.Get(Url("/"), out_);
    EXPECT_EQ(out_.DataString(), body);
    EXPECT_FALSE(http_.IsConnected());
}

TEST_F(ExchangeTest, BadChunkSizeFailsTheGet) {
    for (const std::string size : {"zz", "8000000000000000", ""}) {
        SCOPED_TRACE(size);
        Serve({{std::string(kChunkedHead) + "5\r\nhello\r\n" + size + "\r\nmore\r\n0\r\n\r\n"}});
        TIdHTTP http;
        TIdMemoryStream out;
        try {
            http.Get(Url("/"), out);
            ADD_FAILURE() << "no exception";
        } catch (const EIdException& e) {
            EXPECT_EQ(e.Message(),
                      "Invalid chunk size \"" + size + "\": not a hexadecimal number below 2^63.");
        }
        EXPECT_EQ(out.DataString(), "hello");
    }
}

// Positions in the output stream end at 2^63-1: a body that would pass that end fails before it
// is read, and what the stream held before stays.
TEST_F(ExchangeTest, BodyBeyondTheLastStreamPositionFailsAndKeepsWhatCame) {
    for (const std::string& answer :
         {std::string(kChunkedHead) + "5\r\nhello\r\n7fffffffffffffff\r\nmore",
          std::string("HTTP/1.1 200 OK\r\nContent-Length: 9223372036854775807\r\n\r\nmore")}) {
        SCOPED_TRACE(answer);
        Serve({{answer, true}});
        TIdHTTP http;
        TIdMemoryStream out;
        out.Write("abcd", 4);
        try {
            http.Get(Url("/"), out);
            ADD_FAILURE() << "no exception";
        } catch (const EIdException& e) {
            EXPECT_EQ(e.Message(), "The body does not fit in the output stream.");
        }
        EXPECT_EQ(out.DataString().substr(0, 4), "abcd");
        EXPECT_LE(out.Size(), 9);
    }
}

TEST_F(ExchangeTest, CloseInsideAChunkFailsAndKeepsWhatCame) {
    Serve({{std::string(kChunkedHead) + "5\r\nhello\r\na\r\n01234", true}});
    EXPECT_THROW(http_.Get(Url("/"), out_), EIdConnClosedGracefully);
    EXPECT_EQ(out_.DataString(), "hello01234");
}

namespace {

struct KeepCase {
    const char* name;
    TIdHTTPProtocolVersion client;
    const char* statusLine;
    const char* headers;
    bool keep;
    TIdHTTPProtocolVersion statusVersion;
};

void PrintTo(const KeepCase& c, std::ostream* out) { *out << c.name; }

class KeepAliveTest : public ExchangeTest, public ::testing::WithParamInterface<KeepCase> {};

}  // namespace

TEST_P(KeepAliveTest, TheClientsVersionSetsTheDefault) {
    const KeepCase c = GetParam();
    Serve({{std::string(c.statusLine) + "\r\n" + c.headers + "Content-Length: 5\r\n\r\nfive!"}});
    http_.ProtocolVersion = c.client;
    http_.Get(Url("/"), out_);
    EXPECT_EQ(out_.DataString(), "five!");
    EXPECT_EQ(http_.Response().StatusVersion(), c.statusVersion);
    EXPECT_EQ(http_.IsConnected(), c.keep);
    // The server sees the client's close exactly when it does not keep the connection.
    EXPECT_EQ(peer_->WaitForScripts(1, std::chrono::milliseconds(c.keep ? 50 : 10000)), !c.keep);
}

INSTANTIATE_TEST_SUITE_P(
    Decisions, KeepAliveTest,
    ::testing::Values(
        KeepCase{"At11ByDefault", pv1_1, "HTTP/1.1 200 OK", "", true, pv1_1},
        KeepCase{"At11AlsoFromA10Server", pv1_1, "HTTP/1.0 200 OK", "", true, pv1_0},
        KeepCase{"At11Close", pv1_1, "HTTP/1.1 200 OK", "Connection: close\r\n", false, pv1_1},
        KeepCase{"At11CloseAnyCaseWithBlanks", pv1_1, "HTTP/1.1 200 OK",
                 "Connection:   cLoSe  \r\n", false, pv1_1},
        KeepCase{"At11ProxyClose", pv1_1, "HTTP/1.1 200 OK", "Proxy-Connection: Close\r\n", false,
                 pv1_1},
        KeepCase{"At11KeepAlive", pv1_1, "HTTP/1.1 200 OK", "Connection: keep-alive\r\n", true,
                 pv1_1},
        KeepCase{"At10NotByDefault", pv1_0, "HTTP/1.1 200 OK", "", false, pv1_1},
        KeepCase{"At10KeepAlive", pv1_0, "HTTP/1.0 200 OK", "Connection: Keep-Alive\r\n", true,
                 pv1_0},
        KeepCase{"At10ProxyKeepAlive", pv1_0, "HTTP/1.0 200 OK", "Proxy-Connection: KEEP-ALIVE\r\n",
                 true, pv1_0},
        KeepCase{"At10Close", pv1_0, "HTTP/1.0 200 OK", "Connection: close\r\n", false, pv1_0}),
    [](const auto& info) { return std::string(info.param.name); });

// --- Work events ---------------------------------------------------------------------------------

TEST_F(ExchangeTest, EachReadIntoAStreamHasItsOwnWorkEvents) {
    Serve({{"HTTP/1.1 302 Found\r\nLocation: /b\r\nContent-Length: 3\r\n\r\nabc"},
           {std::string(kChunkedHead) + "5\r\nhello\r\n6\r\n world\r\n0\r\n\r\n"},
           {Ok("final")},
           {"HTTP/1.1 200 OK\r\n\r\nuntil close", true}});
    http_.HandleRedirects = true;
    std::vector<std::string> statuses;
    http_.OnStatus = [&](TIdComponent&, TIdStatus status, const std::string& text) {
        if (status == hsStatusText) statuses.push_back(text);
    };
    WorkLog log(http_);
    http_.Get(Url("/a"), out_);
    EXPECT_EQ(out_.DataString(), "hello world");
    EXPECT_EQ(statuses, std::vector<std::string>{"Chunk Started"});
    EXPECT_EQ(log.Events(), (Events{"begin r 3", "work r 3", "end r",  // the redirect's body
                                    "begin r 5", "work r 5", "end r",  // one set per chunk
                                    "begin r 6", "work r 6", "end r"}));
    log.Clear();
    EXPECT_EQ(Fetch("/"), "final");
    EXPECT_EQ(log.Events(), (Events{"begin r 5", "work r 5", "end r"}));
    log.Clear();
    EXPECT_EQ(Fetch("/"), "until close");
    EXPECT_EQ(log.Events(), (Events{"begin r 0", "work r 11", "end r"}));
}

// --- Split points --------------------------------------------------------------------------------

TEST_F(ExchangeTest, AnAnswerArrivingOneByteAtATimeReadsTheSame) {
    const std::string answer =
        "HTTP/1.1 100 Continue\r\n\r\n"
        "HTTP/1.1 200 OK\r\nSet-Cookie: k=v; path=/\r\nX-Folded: one\r\n two\r\n"
        "Transfer-Encoding: chunked\r\n\r\n"
        "3;x=y\r\nabc\r\n10\r\n0123456789abcdef\r\n0\r\nTrailer: t\r\n\r\n";
    Start([answer](PeerConnection& c) {
        ReadRequestHead(c);
        c.SendInPieces(answer, 1);
        c.WaitForClose();
    });
    http_.Get(Url("/"), out_);
    EXPECT_EQ(out_.DataString(), "abc0123456789abcdef");
    EXPECT_EQ(http_.Response().HeaderLines().HeaderValue("X-Folded"), "one two");
    EXPECT_EQ(http_.CookieManager()->BuildCookieHeader(http_.URL(), false), "k=v");
    EXPECT_TRUE(http_.IsConnected());
}

// --- Bodies cut short ----------------------------------------------------------------------------

TEST_F(ExchangeTest, KnownLengthCutShortFailsAndKeepsEveryByteThatCame) {
    for (const std::size_t sent : {std::size_t(4), std::size_t(70000)}) {
        SCOPED_TRACE(sent);
        const std::string body = PatternText(sent);
        Start([body](PeerConnection& c) {
            ReadRequestHead(c);
            c.Send("HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n");
            c.SendInPieces(body, 30000);
        });
        TIdHTTP http;
        TIdMemoryStream out;
        EXPECT_THROW(http.Get(Url("/"), out), EIdConnClosedGracefully);
        EXPECT_EQ(out.DataString(), body);
        EXPECT_FALSE(http.IsConnected());
    }
}

// --- The user's abort ----------------------------------------------------------------------------

namespace {

// Where the client is when another thread closes its connection.
enum class AbortAt {
    StatusLine,     // waiting for the answer
    Body,           // waiting inside the final body
    RedirectBody,   // waiting inside the body of a redirect that is being drained
    ErrorBody,      // waiting inside the body of an error answer
    AfterLastByte,  // the whole body is in; the close comes before the call returns
};

std::string Name(AbortAt at) {
    switch (at) {
        case AbortAt::StatusLine: return "StatusLine";
        case AbortAt::Body: return "Body";
        case AbortAt::RedirectBody: return "RedirectBody";
        case AbortAt::ErrorBody: return "ErrorBody";
        case AbortAt::AfterLastByte: return "AfterLastByte";
    }
    return "";
}

void PrintTo(AbortAt at, std::ostream* out) { *out << Name(at); }

std::string AbortAnswer(AbortAt at) {
    const std::string part(40000, 'p');
    switch (at) {
        case AbortAt::StatusLine: return "";
        case AbortAt::Body: return "HTTP/1.1 200 OK\r\nContent-Length: 1000000\r\n\r\n" + part;
        case AbortAt::RedirectBody:
            return "HTTP/1.1 302 Found\r\nLocation: /next\r\nContent-Length: 1000000\r\n\r\n" +
                   part;
        case AbortAt::ErrorBody:
            return "HTTP/1.1 404 Not Found\r\nContent-Length: 1000000\r\n\r\n" + part;
        case AbortAt::AfterLastByte: return Ok("complete");
    }
    return "";
}

class AbortTest : public ::testing::TestWithParam<AbortAt> {};

}  // namespace

// CloseConnection from another thread, or (every other round) an abort of the client's abort
// signal, which closes the connection itself, ends the Get promptly with the failure of a closed
// connection: never success, never a protocol error, never a second connection.
TEST_P(AbortTest, CloseConnectionFromAnotherThreadEndsTheGet) {
    const AbortAt at = GetParam();
    const std::string answer = AbortAnswer(at);
    LoopbackPeer peer([answer](PeerConnection& c) {
        ReadRequestHead(c);
        c.Send(answer);
        c.WaitForClose();
    });
    constexpr int kRounds = 20;
    for (int round = 0; round < kRounds; ++round) {
        TIdHTTP http;
        http.HandleRedirects = true;
        TIdAbortSignal abort;
        const bool byToken = round % 2 == 1;
        if (byToken) http.AbortSignal = &abort;
        // A close that never comes fails the round instead of holding it.
        http.StallTimeout = 10000;
        Event atEnd, closed;
        if (at == AbortAt::AfterLastByte) {
            http.OnWorkEnd = [&](TIdComponent&, TWorkMode) {
                atEnd.Set();
                closed.Wait();
            };
        }
        const int reader = CurrentThreadId();
        std::thread closer([&] {
            const bool ready = at == AbortAt::AfterLastByte
                                   ? atEnd.Wait()
                                   : WaitUntilBlockedIn(reader, WaitCalls());
            if (byToken)
                abort.Abort();
            else
                http.CloseConnection();
            closed.Set();
            EXPECT_TRUE(ready);
        });
        TIdMemoryStream out;
        const std::string outcome = ClosedConnectionOutcome(
            [&] { http.Get("http://127.0.0.1:" + peer.PortText() + "/", out); });
        closer.join();
        ASSERT_EQ(outcome, "") << "round " << round;
        ASSERT_FALSE(http.IsConnected());
    }
    // Every round's connection ends, and no round made a second one.
    EXPECT_TRUE(peer.WaitForScripts(kRounds));
    EXPECT_EQ(peer.Accepted(), kRounds);
}

INSTANTIATE_TEST_SUITE_P(Moments, AbortTest,
                         ::testing::Values(AbortAt::StatusLine, AbortAt::Body,
                                           AbortAt::RedirectBody, AbortAt::ErrorBody,
                                           AbortAt::AfterLastByte),
                         [](const auto& info) { return Name(info.param); });
