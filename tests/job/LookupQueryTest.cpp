#include "job/lookup/LookupQuery.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <ostream>
#include <random>
#include <string>

#include "support/LoopbackPeer.h"
#include "support/RefusingPort.h"
#include "support/SaturatedListener.h"

using namespace tarnwick;
using tarnwick::testing::LoopbackPeer;
using tarnwick::testing::PeerConnection;
using tarnwick::testing::RefusingPort;

namespace {

// The request ends with the Host line's CR LF, the empty line and the extra CR LF.
constexpr std::string_view kRequestEnd = "\r\n\r\n\r\n";
const std::string kFound = "HTTP/1.1 302 Found\r\n";

struct Exchange {
    std::string record;
    std::string request;  // the bytes the service received
};

// One lookup against a scripted service that reads the whole request, sends answer (in pieces of
// piece bytes when given) and closes.
Exchange Lookup(const std::string& answer, std::string_view address = "http://v.example/1",
                std::size_t piece = 0) {
    LoopbackPeer peer([&](PeerConnection& c) {
        c.ReceiveUntil(kRequestEnd);
        if (piece)
            c.SendInPieces(answer, piece);
        else
            c.Send(answer);
    });
    Exchange result;
    result.record = RequestLookupRecord(TLookupEndpoint{"127.0.0.1", peer.PortText()}, nullptr,
                                        "1", "0", address);
    EXPECT_TRUE(peer.WaitForScripts(1));
    EXPECT_EQ(peer.Errors(), "");
    result.request = peer.Received();
    return result;
}

struct AnswerCase {
    const char* name;
    std::string answer;
    std::string record;
};

void PrintTo(const AnswerCase& c, std::ostream* os) { *os << c.name; }

std::string CaseName(const ::testing::TestParamInfo<AnswerCase>& info) { return info.param.name; }

}  // namespace

TEST(LookupQuery, RequestBytesOnTheWire) {
    LoopbackPeer peer([](PeerConnection& c) {
        c.ReceiveUntil(kRequestEnd);
        c.Send("HTTP/1.1 302 Found\r\nFile-Content: error=1\r\n\r\n");
    });
    // "localhost" shows the endpoint's host going both into the connect and into the Host line.
    RequestLookupRecord(TLookupEndpoint{"localhost", peer.PortText()}, nullptr, "3", "1",
                        "http://www.youtube.com/watch?v=a b&c=d#e ");
    ASSERT_TRUE(peer.WaitForScripts(1));
    EXPECT_EQ(peer.Received(),
              "HEAD /download.php?server=3&hdfile=1&videourl=http://www.youtube.com/watch?v=a "
              "b&c=d#e  HTTP/1.0\r\nHost: localhost\r\n\r\n\r\n");
}

TEST(LookupQuery, ControlBytesInTheAddressArePercentEncoded) {
    const Exchange e = Lookup(kFound + "File-Content: error=1\r\n\r\n",
                              "http://v/1\r\nX-Injected: 1\x7f\x01\t\xc3\xa4");
    EXPECT_EQ(e.request,
              "HEAD /download.php?server=1&hdfile=0&videourl=http://v/1%0D%0AX-Injected: "
              "1%7F%01%09\xc3\xa4 HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n\r\n");
}

TEST(LookupQuery, TheOwnerHoldsTheClientNamedTCPClientOnlyDuringTheLookup) {
    TComponent window;
    std::atomic<bool> heldDuringTheLookup{false};
    LoopbackPeer peer([&](PeerConnection& c) {
        c.ReceiveUntil(kRequestEnd);
        heldDuringTheLookup = window.FindComponent("TCPClient") != nullptr;
        c.Send(kFound + "File-Content: a=1\r\n\r\n");
        c.WaitForClose();
    });
    EXPECT_EQ(RequestLookupRecord(TLookupEndpoint{"127.0.0.1", peer.PortText()}, &window, "1",
                                  "0", "x"),
              "a=1");
    EXPECT_TRUE(heldDuringTheLookup);
    EXPECT_EQ(window.ComponentCount(), 0u);
    EXPECT_TRUE(peer.WaitForScripts(1)) << "the lookup left its connection open";
}

TEST(LookupQuery, FailuresToConnectGiveTheErrorRecordWithTheReason) {
    RefusingPort refusing;
    const std::string address = "http://v/1";
    std::string reason;
    EXPECT_EQ(RequestLookupRecord(TLookupEndpoint{"127.0.0.1", refusing.PortText()}, nullptr,
                                  "1", "0", address, {}, &reason),
              "error=1");
    EXPECT_EQ(reason, "Cannot connect to the lookup service at 127.0.0.1:" + refusing.PortText() +
                          ": Connection refused.");
    EXPECT_EQ(RequestLookupRecord(TLookupEndpoint{"127.0.0.x", "80"}, nullptr, "1", "0", address),
              "error=1");
    // A service that answers something else is named with what it said.
    LoopbackPeer other([](PeerConnection& c) {
        c.ReceiveUntil("\r\n\r\n\r\n");
        c.Send("HTTP/1.1 404 Not\x1b[2J Found\r\n\r\n");
    });
    EXPECT_EQ(RequestLookupRecord(TLookupEndpoint{"127.0.0.1", other.PortText()}, nullptr, "1",
                                  "0", address, {}, &reason),
              "error=1");
    EXPECT_EQ(reason, "The lookup service answered \"HTTP/1.1 404 Not?[2J Found\".");
    // A port that is no number raises inside the lookup; the lookup itself never raises.
    TComponent window;
    EXPECT_EQ(RequestLookupRecord(TLookupEndpoint{"127.0.0.1", "not-a-port"}, &window, "1", "0",
                                  address),
              "error=1");
    EXPECT_EQ(window.ComponentCount(), 0u);
}

TEST(LookupQuery, AnswerArrivingOneByteAtATimeGivesTheSameRecord) {
    const std::string answer =
        kFound + "Server: substitute\r\nFile-Content: author=A|title=B=C|fileext=flv\r\n"
                 "Content-Length: 0\r\n\r\n";
    EXPECT_EQ(Lookup(answer, "x", 1).record, "author=A|title=B=C|fileext=flv");
    EXPECT_EQ(Lookup(answer, "x", 7).record, "author=A|title=B=C|fileext=flv");
}

class StatusLineCases : public ::testing::TestWithParam<AnswerCase> {};

TEST_P(StatusLineCases, OnlyTheExactStatusLineIsAccepted) {
    EXPECT_EQ(Lookup(GetParam().answer + "File-Content: author=A\r\n\r\n").record,
              GetParam().record);
}

INSTANTIATE_TEST_SUITE_P(
    LookupQuery, StatusLineCases,
    ::testing::Values(AnswerCase{"Exact", "HTTP/1.1 302 Found\r\n", "author=A"},
                      AnswerCase{"Version10", "HTTP/1.0 302 Found\r\n", "error=1"},
                      AnswerCase{"ReasonInLowerCase", "HTTP/1.1 302 found\r\n", "error=1"},
                      AnswerCase{"ReasonInUpperCase", "HTTP/1.1 302 FOUND\r\n", "error=1"},
                      AnswerCase{"OtherStatus", "HTTP/1.1 200 OK\r\n", "error=1"},
                      AnswerCase{"MovedPermanently", "HTTP/1.1 301 Moved Permanently\r\n",
                                 "error=1"},
                      AnswerCase{"BlankBefore", " HTTP/1.1 302 Found\r\n", "error=1"},
                      AnswerCase{"BlankAfter", "HTTP/1.1 302 Found \r\n", "error=1"},
                      AnswerCase{"TwoBlanks", "HTTP/1.1  302 Found\r\n", "error=1"},
                      AnswerCase{"EmptyLineFirst", "\r\nHTTP/1.1 302 Found\r\n", "error=1"},
                      AnswerCase{"LfOnly", "HTTP/1.1 302 Found\n", "error=1"}),
    CaseName);

class HeaderBlockCases : public ::testing::TestWithParam<AnswerCase> {};

TEST_P(HeaderBlockCases, RecordIsTheFileContentValue) {
    EXPECT_EQ(Lookup(kFound + GetParam().answer).record, GetParam().record);
}

INSTANTIATE_TEST_SUITE_P(
    LookupQuery, HeaderBlockCases,
    ::testing::Values(
        AnswerCase{"AmongOtherHeaders",
                   "Server: x\r\nFile-Content: a=1|b=2\r\nContent-Length: 0\r\n\r\n", "a=1|b=2"},
        AnswerCase{"Unavailable", "File-Content: error=1\r\n\r\n", "error=1"},
        AnswerCase{"FirstOfTwo", "File-Content: a=1\r\nFile-Content: a=2\r\n\r\n", "a=1"},
        AnswerCase{"EmptyValue", "File-Content: \r\n\r\n", ""},
        AnswerCase{"ValueNotTrimmed", "File-Content:  a=1 \r\n\r\n", " a=1 "},
        AnswerCase{"NameInLowerCase", "file-content: a=1\r\n\r\n", "error=1"},
        AnswerCase{"NameInUpperCase", "FILE-CONTENT: a=1\r\n\r\n", "error=1"},
        AnswerCase{"NoBlankAfterTheColon", "File-Content:a=1\r\n\r\n", "error=1"},
        AnswerCase{"NoFileContent", "Location: http://v/1\r\nServer: x\r\n\r\n", "error=1"},
        AnswerCase{"NoHeadersAtAll", "\r\n", "error=1"},
        AnswerCase{"AfterTheEmptyLineIsNotRead", "Server: x\r\n\r\nFile-Content: a=1\r\n",
                   "error=1"},
        AnswerCase{"ClosedBeforeTheEmptyLine", "File-Content: a=1\r\n", "a=1"},
        AnswerCase{"ClosedInsideTheValue", "Server: x\r\nFile-Content: a=1|b", "a=1|b"},
        AnswerCase{"ClosedRightAfterTheStatusLine", "", "error=1"},
        AnswerCase{"LoneLfInsideTheValue", "File-Content: a=1\nb=2\r\n\r\n", "a=1\nb=2"},
        AnswerCase{"LinesLongerThanOneBlock",
                   "X-Long: " + std::string(2000, 'x') + "\r\nFile-Content: title=" +
                       std::string(1000, 't') + "\r\n\r\n",
                   "title=" + std::string(1000, 't')},
        AnswerCase{"ZeroByteInAnEarlierLine",
                   std::string("X-Junk: a\0b\r\nFile-Content: a=1\r\n\r\n", 33), "a=1"},
        AnswerCase{"ZeroByteInTheValue", std::string("File-Content: a=1\0|b=2\r\n\r\n", 26),
                   "a=1"},
        // The status line (20 bytes), the header and its value, and the empty line: 64 KiB.
        AnswerCase{"HeadOfExactlyTheLimit",
                   "File-Content: a=" + std::string(65496, 'v') + "\r\n\r\n",
                   "a=" + std::string(65496, 'v')}),
    CaseName);

// An answer whose head does not end within 64 KiB fails the lookup, however the bytes come: the
// lookup never holds more of it.
TEST(LookupQuery, HeadBeyondTheLimitGivesTheErrorRecord) {
    const std::string lines = [] {
        std::string many;
        for (int i = 0; i < 20000; ++i) many += "X-Line: " + std::to_string(i) + "\r\n";
        return many;
    }();
    const struct {
        const char* name;
        std::string answer;
    } cases[] = {
        {"OneByteOverTheLimit",
         kFound + "File-Content: a=" + std::string(65497, 'v') + "\r\n\r\n"},
        {"ValueOfOneMebibyte",
         kFound + "File-Content: a=" + std::string(1 << 20, 'v') + "\r\n\r\n"},
        {"HeaderLineOfOneMebibyte",
         kFound + "X-Big: " + std::string(1 << 20, 'b') + "\r\nFile-Content: a=1\r\n\r\n"},
        {"HeaderLinesWithoutEnd", kFound + lines + "File-Content: a=1\r\n\r\n"},
        {"StatusLineWithoutEnd", std::string(1 << 20, 'H')},
    };
    for (const auto& c : cases) {
        const std::string& answer = c.answer;
        LoopbackPeer peer([&](PeerConnection& p) {
            p.ReceiveUntil(kRequestEnd);
            try {
                p.Send(answer);
            } catch (const std::runtime_error&) {
                // The lookup may close before the whole answer is taken.
            }
        });
        EXPECT_EQ(RequestLookupRecord(TLookupEndpoint{"127.0.0.1", peer.PortText()}, nullptr,
                                      "1", "0", "x"),
                  "error=1")
            << c.name;
    }
}

// A service that stops sending fails the lookup at the stall limit; one that keeps sending, however
// slowly, is waited for. A connect that does not complete fails at the connect limit.
TEST(LookupQuery, SilentServiceAndPendingConnectEndAtTheirLimits) {
    const std::string answer = kFound + "File-Content: a=1|b=2\r\n\r\n";
    const auto lookup = [](std::uint16_t port, std::int32_t stall, std::int32_t connect) {
        TLookupEndpoint endpoint{"127.0.0.1", std::to_string(port)};
        endpoint.StallTimeout = stall;
        endpoint.ConnectTimeout = connect;
        return RequestLookupRecord(endpoint, nullptr, "1", "0", "x");
    };
    tarnwick::testing::Event done;
    {
        LoopbackPeer silent([&](PeerConnection& p) {
            p.ReceiveUntil(kRequestEnd);
            done.Wait();
        });
        EXPECT_EQ(lookup(silent.Port(), 300, 0), "error=1");
        done.Set();
    }
    // Each piece comes well within the limit; the whole takes several times it.
    LoopbackPeer slow([&](PeerConnection& p) {
        p.ReceiveUntil(kRequestEnd);
        p.SendInPieces(answer, 8, std::chrono::milliseconds(60));
    });
    EXPECT_EQ(lookup(slow.Port(), 200, 0), "a=1|b=2");
    tarnwick::testing::SaturatedListener pending;
    EXPECT_EQ(lookup(pending.Port(), 0, 300), "error=1");
}

TEST(LookupQuery, ValidAnswerCutAtEveryOffset) {
    const std::string value = "author=A|title=B|url=http://v/1.flv";
    const std::string answer =
        kFound + "Server: x\r\nFile-Content: " + value + "\r\nContent-Length: 0\r\n\r\n";
    const std::size_t valueStart = answer.find(value);
    const std::size_t valueEnd = valueStart + value.size();
    std::atomic<std::size_t> cut{0};
    LoopbackPeer peer([&](PeerConnection& c) {
        c.ReceiveUntil(kRequestEnd);
        c.Send(std::string_view(answer).substr(0, cut));
    });
    for (std::size_t n = 0; n <= answer.size(); ++n) {
        cut = n;
        const std::string record = RequestLookupRecord(
            TLookupEndpoint{"127.0.0.1", peer.PortText()}, nullptr, "1", "0", "x");
        // A line cut short still counts as received, so a cut inside the value gives its start.
        std::string expected = "error=1";
        if (n >= valueEnd)
            expected = value;
        else if (n >= valueStart)
            expected = value.substr(0, n - valueStart);
        EXPECT_EQ(record, expected) << "answer cut after " << n << " bytes";
    }
    EXPECT_TRUE(peer.WaitForScripts(static_cast<int>(answer.size()) + 1));
}

TEST(LookupQuery, RandomBytesGiveTheErrorRecord) {
    std::mt19937 random(20240611);
    for (int round = 0; round < 40; ++round) {
        std::string answer(random() % 3000, '\0');
        for (char& c : answer) c = static_cast<char>(random());
        EXPECT_EQ(Lookup(answer).record, "error=1") << "round " << round;
    }
}

TEST(LookupQuery, RandomBytesAfterTheStatusLineNeverGiveACarriageReturn) {
    std::mt19937 random(7);
    for (int round = 0; round < 40; ++round) {
        // Some rounds plant the header, so both outcomes are exercised.
        std::string junk(random() % 3000, '\0');
        for (char& c : junk) c = static_cast<char>(random() % 4 == 0 ? '\r' : random());
        if (round % 2) junk.insert(random() % (junk.size() + 1), "File-Content: ");
        const std::string record = Lookup(kFound + junk).record;
        EXPECT_EQ(record.find('\r'), std::string::npos) << "round " << round;
        if (junk.find("File-Content: ") == std::string::npos) {
            EXPECT_EQ(record, "error=1") << "round " << round;
        }
    }
}

TEST(LookupQuery, BinaryAnswerGivesTheErrorRecord) {
    std::string binary;
    for (int i = 0; i < 4096; ++i) binary.push_back(static_cast<char>(i * 7));
    EXPECT_EQ(Lookup(binary).record, "error=1");
    EXPECT_EQ(Lookup("\xff\xd8\xff\xe0" + binary).record, "error=1");
}

TEST(ExtractHeaderValue, TakesTheTextUpToTheNextCr) {
    EXPECT_EQ(ExtractHeaderValue("A: 1\rFile-Content: x=1\rB: 2\r", "File-Content: "), "x=1");
    EXPECT_EQ(ExtractHeaderValue("X-File-Content: y\r", "File-Content: "), "y");  // anywhere
    EXPECT_EQ(ExtractHeaderValue("File-Content: no end", "File-Content: "), "");
    EXPECT_EQ(ExtractHeaderValue("file-content: x\r", "File-Content: "), "");
    EXPECT_EQ(ExtractHeaderValue("", "File-Content: "), "");
}
