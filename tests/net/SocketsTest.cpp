#include "net/Sockets.h"

#include <fcntl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <ostream>
#include <string>
#include <vector>

#include "core/Exception.h"
#include "support/LoopbackPeer.h"
#include "support/RefusingPort.h"

using namespace tarnwick;
using tarnwick::testing::Event;
using tarnwick::testing::LoopbackPeer;
using tarnwick::testing::PeerConnection;
using tarnwick::testing::RefusingPort;

namespace {

// A client aimed at a peer, recording the events it raises.
struct Probe {
    // Declared first, so they outlive the client, whose destruction raises events.
    std::vector<std::string> events;
    std::vector<int> errors;
    TTcpClient client;

    explicit Probe(const std::string& port, const std::string& host = "127.0.0.1") {
        client.SetRemoteHost(host);
        client.SetRemotePort(port);
        client.OnCreateHandle = [this](TBaseSocket&) { events.push_back("create"); };
        client.OnDestroyHandle = [this](TBaseSocket&) { events.push_back("destroy"); };
        client.OnConnect = [this](TBaseSocket&) { events.push_back("connect"); };
        client.OnDisconnect = [this](TBaseSocket&) { events.push_back("disconnect"); };
        client.OnError = [this](TBaseSocket&, std::int32_t code) { errors.push_back(code); };
    }
};

}  // namespace

TEST(LineClient, OpenAndCloseRaiseEventsInOrderOnce) {
    LoopbackPeer peer([](PeerConnection& c) { c.WaitForClose(); });
    Probe p(peer.PortText());
    p.client.SetActive(true);
    EXPECT_TRUE(p.client.ConnectClient());  // already connected: nothing happens
    EXPECT_TRUE(p.client.Active());
    EXPECT_NE(p.client.Handle(), -1);
    p.client.SetActive(false);
    p.client.DisconnectClient();
    EXPECT_FALSE(p.client.Connected());
    EXPECT_FALSE(p.client.Active());
    EXPECT_EQ(p.client.Handle(), -1);
    EXPECT_EQ(p.events, (std::vector<std::string>{"create", "connect", "disconnect", "destroy"}));
    EXPECT_TRUE(p.errors.empty());
    ASSERT_TRUE(peer.WaitForScripts(1));
    EXPECT_EQ(peer.Accepted(), 1);
}

TEST(LineClient, RefusedConnectionReportsTheOsErrorAndNeverRaises) {
    RefusingPort refusing;
    Probe p(refusing.PortText());
    EXPECT_FALSE(p.client.ConnectClient());
    EXPECT_TRUE(p.client.Active());  // the handle stays until closed
    EXPECT_FALSE(p.client.Connected());
    ASSERT_EQ(p.errors, std::vector<int>{ECONNREFUSED});

    EXPECT_EQ(p.client.SendLine("hello"), -1);
    EXPECT_EQ(p.client.BytesSent(), 0);
    EXPECT_EQ(p.client.ReceiveLine(), "");
    EXPECT_GE(p.errors.size(), 2u) << "the failed send went unreported";
    EXPECT_EQ(p.events, (std::vector<std::string>{"create"}));
}

TEST(LineClient, EmptyHostConnectsNowhere) {
    // On Linux a connect to 0.0.0.0 would reach this machine: here, the listening peer.
    LoopbackPeer peer([](PeerConnection&) {});
    Probe p(peer.PortText(), "");
    EXPECT_FALSE(p.client.ConnectClient());
    EXPECT_EQ(p.errors, std::vector<int>{EADDRNOTAVAIL});
}

TEST(LineClient, DottedHostThatDoesNotConvertFailsTheConnect) {
    LoopbackPeer peer([](PeerConnection&) {});
    Probe p(peer.PortText(), "127.0.0.x");
    EXPECT_FALSE(p.client.ConnectClient());
    EXPECT_EQ(p.errors, std::vector<int>{EADDRNOTAVAIL});
}

TEST(LineClient, PortOutsideTheRangeFailsTheConnect) {
    LoopbackPeer peer([](PeerConnection&) {});
    // 65536 + the peer's port would reach the peer if the number were cut to 16 bits.
    Probe p(std::to_string(65536 + peer.Port()));
    EXPECT_FALSE(p.client.ConnectClient());
    EXPECT_EQ(p.errors, std::vector<int>{EINVAL});
}

TEST(LineClient, PortThatIsNoNumberNorServiceRaisesConversionError) {
    Probe p("eighty");
    try {
        p.client.ConnectClient();
        FAIL() << "no exception";
    } catch (const EConvertError& e) {
        EXPECT_EQ(e.Message(), "'eighty' is not a valid integer value");
    }
    EXPECT_FALSE(p.client.Connected());
}

TEST(LineClient, HostResolution) {
    EXPECT_EQ(TIpSocket::LookupHostAddr(""), "0.0.0.0");
    EXPECT_EQ(TIpSocket::LookupHostAddr("127.0.0.1"), "127.0.0.1");
    EXPECT_EQ(TIpSocket::LookupHostAddr("127.1"), "127.1");  // converts, kept as written
    EXPECT_EQ(TIpSocket::LookupHostAddr("127.0.0.x"), "");
    EXPECT_EQ(TIpSocket::LookupHostAddr("1host.example"), "");  // a digit first: never looked up
    EXPECT_EQ(TIpSocket::LookupHostAddr("localhost"), "127.0.0.1");
}

TEST(LineClient, PortResolution) {
    EXPECT_EQ(TIpSocket::LookupPort(""), 0);
    EXPECT_EQ(TIpSocket::LookupPort("80"), 80);
    EXPECT_EQ(TIpSocket::LookupPort("http"), 80);  // service name
    EXPECT_EQ(TIpSocket::LookupPort("domain"), 53);
    EXPECT_EQ(TIpSocket::LookupPort("8080"), 8080);
    EXPECT_THROW(TIpSocket::LookupPort("80x"), EConvertError);
}

TEST(LineClient, SendLineAlwaysAppendsTheLineEnd) {
    LoopbackPeer peer([](PeerConnection& c) { c.ReceiveAll(); });
    Probe p(peer.PortText());
    ASSERT_TRUE(p.client.ConnectClient());
    EXPECT_EQ(p.client.SendLine("abc\r\n"), 7);
    EXPECT_EQ(p.client.SendLine("x", "\n"), 2);
    EXPECT_EQ(p.client.BytesSent(), 9);
    p.client.DisconnectClient();
    ASSERT_TRUE(peer.WaitForScripts(1));
    EXPECT_EQ(peer.Received(), "abc\r\n\r\nx\n");
}

TEST(LineClient, OnSendMayShortenASendButNeverLengthenIt) {
    LoopbackPeer peer([](PeerConnection& c) { c.ReceiveAll(); });
    Probe p(peer.PortText());
    std::int32_t wanted = 2;
    p.client.OnSend = [&](TBaseSocket&, const char*, std::int32_t& length) { length = wanted; };
    ASSERT_TRUE(p.client.ConnectClient());
    EXPECT_EQ(p.client.SendLine("abcd", ""), 2);
    wanted = 1 << 20;  // past the end of the caller's bytes
    EXPECT_EQ(p.client.SendLine("efgh", ""), 4);
    p.client.DisconnectClient();
    ASSERT_TRUE(peer.WaitForScripts(1));
    EXPECT_EQ(peer.Received(), "abefgh");
}

TEST(LineClient, SendToAResetPeerFailsWithoutKillingTheProcess) {
    LoopbackPeer peer([](PeerConnection& c) { c.Reset(); });
    Probe p(peer.PortText());
    ASSERT_TRUE(p.client.ConnectClient());
    EXPECT_EQ(p.client.ReceiveLine(), "");  // waits for the reset to arrive
    // Without MSG_NOSIGNAL the second send would raise SIGPIPE and end the test program.
    EXPECT_EQ(p.client.SendLine("one"), -1);
    EXPECT_EQ(p.client.SendLine("two"), -1);
    EXPECT_NE(std::find(p.errors.begin(), p.errors.end(), EPIPE), p.errors.end());
}

TEST(LineClient, DestroyingTheClientClosesTheConnection) {
    Event closed;
    LoopbackPeer peer([&](PeerConnection& c) {
        if (c.WaitForClose()) closed.Set();
    });
    {
        TTcpClient client;
        client.SetRemoteHost("127.0.0.1");
        client.SetRemotePort(peer.PortText());
        ASSERT_TRUE(client.ConnectClient());
    }
    EXPECT_TRUE(closed.Wait());
}

TEST(LineClient, NewRemoteHostOrPortClosesTheConnectionTheSameDoesNot) {
    LoopbackPeer peer([](PeerConnection& c) { c.WaitForClose(); });
    Probe p(peer.PortText());
    ASSERT_TRUE(p.client.ConnectClient());
    p.client.SetRemoteHost("127.0.0.1");
    p.client.SetRemotePort(peer.PortText());
    EXPECT_TRUE(p.client.Connected());
    p.client.SetRemoteHost("localhost");
    EXPECT_FALSE(p.client.Active());
    ASSERT_TRUE(p.client.ConnectClient());
    p.client.SetRemotePort("http");
    EXPECT_FALSE(p.client.Active());
    EXPECT_TRUE(peer.WaitForScripts(2));
}

TEST(LineClient, NewBlockModeClosesAndAppliesAtTheNextOpen) {
    LoopbackPeer peer([](PeerConnection& c) { c.WaitForClose(); });
    Probe p(peer.PortText());
    ASSERT_TRUE(p.client.ConnectClient());
    p.client.SetBlockMode(bmNonBlocking);
    EXPECT_FALSE(p.client.Active());
    // A non-blocking connect is still under way when it returns: not connected, and reported.
    p.client.ConnectClient();
    ASSERT_TRUE(p.client.Active());
    EXPECT_NE(::fcntl(p.client.Handle(), F_GETFL) & O_NONBLOCK, 0);
    if (!p.client.Connected()) {
        EXPECT_EQ(p.errors, std::vector<int>{EINPROGRESS});
    }
}

TEST(LineClient, ReceiveLineLeavesWhatFollowsQueuedAndCountsOnlyReceivedBytes) {
    LoopbackPeer peer([](PeerConnection& c) {
        c.Send("first\r\nsecond\r\n");
        c.WaitForClose();
    });
    Probe p(peer.PortText());
    std::string seen;
    p.client.OnReceive = [&](TBaseSocket&, const char* buf, std::int32_t& length) {
        seen.append(buf, static_cast<std::size_t>(length));
    };
    ASSERT_TRUE(p.client.ConnectClient());
    EXPECT_EQ(p.client.ReceiveLine(), "first");
    EXPECT_EQ(p.client.BytesReceived(), 7);
    EXPECT_EQ(seen, "first\r\n");
    char buffer[64];
    const std::int32_t peeked = p.client.PeekData(buffer, sizeof buffer);
    EXPECT_EQ(std::string(buffer, static_cast<std::size_t>(std::max(peeked, 0))), "second\r\n");
    EXPECT_EQ(p.client.BytesReceived(), 7);
    EXPECT_EQ(p.client.ReceiveData(buffer, 3), 3);
    EXPECT_EQ(p.client.BytesReceived(), 10);
    EXPECT_EQ(seen, "first\r\nsec");
}

// The CR arrives (and is taken) before the LF is sent: the line still ends at the pair.
TEST(LineClient, SeparatorArrivingInTwoPartsIsRecognised) {
    Event crTaken;
    LoopbackPeer peer([&](PeerConnection& c) {
        c.SendInPieces("HTTP/1.1 302 Found\r", 64);
        if (!crTaken.Wait()) return;
        c.Send("\nnext\r\n");
        c.WaitForClose();
    });
    Probe p(peer.PortText());
    p.client.OnReceive = [&](TBaseSocket&, const char* buf, std::int32_t& length) {
        if (length > 0 && buf[length - 1] == '\r') crTaken.Set();
    };
    ASSERT_TRUE(p.client.ConnectClient());
    EXPECT_EQ(p.client.ReceiveLine(), "HTTP/1.1 302 Found");
    EXPECT_TRUE(crTaken.IsSet()) << "the CR and LF came in one block: nothing was tested";
    EXPECT_EQ(p.client.ReceiveLine(), "next");
}

// Lines read one after another from bytes the peer sends at once and then closes.
struct LineCase {
    const char* name;
    std::string wire;
    std::string separator;
    std::vector<std::string> lines;
};

void PrintTo(const LineCase& c, std::ostream* os) { *os << c.name; }

class ReceiveLineCases : public ::testing::TestWithParam<LineCase> {};

TEST_P(ReceiveLineCases, ReadsEachLineThenEmptyAtTheEnd) {
    const LineCase& c = GetParam();
    LoopbackPeer peer([&](PeerConnection& conn) { conn.Send(c.wire); });
    Probe p(peer.PortText());
    ASSERT_TRUE(p.client.ConnectClient());
    // Every byte is queued (and the connection ended) before the first peek, so the blocks the
    // client peeks are the same at every run.
    ASSERT_TRUE(peer.WaitForScripts(1));
    for (std::size_t i = 0; i < c.lines.size(); ++i)
        EXPECT_EQ(p.client.ReceiveLine(c.separator), c.lines[i]) << "line " << i;
    EXPECT_EQ(p.client.ReceiveLine(c.separator), "");
    EXPECT_EQ(p.client.ReceiveLine(c.separator), "");
    EXPECT_EQ(p.client.BytesReceived(), static_cast<std::int64_t>(c.wire.size()));
    EXPECT_TRUE(p.errors.empty());
}

INSTANTIATE_TEST_SUITE_P(
    LineClient, ReceiveLineCases,
    ::testing::Values(
        LineCase{"TwoLines", "one\r\ntwo\r\n", "\r\n", {"one", "two"}},
        LineCase{"EmptyLine", "\r\nafter\r\n", "\r\n", {"", "after"}},
        LineCase{"LoneCrStaysInTheLine", "a\rb\nc\r\n", "\r\n", {"a\rb\nc"}},
        LineCase{"LongerThanOneBlock", std::string(1500, 'x') + "\r\ntail\r\n", "\r\n",
                 {std::string(1500, 'x'), "tail"}},
        LineCase{"SeparatorSplitAtTheBlockEdge", std::string(510, 'a') + "\r\nnext\r\n", "\r\n",
                 {std::string(510, 'a'), "next"}},
        LineCase{"CrAtTheBlockEdgeWithoutLf", std::string(510, 'a') + "\rX\r\n", "\r\n",
                 {std::string(510, 'a') + "\rX"}},
        LineCase{"ZeroByteCutsTheRestOfItsBlock", std::string("ab\0cd\r\nnext\r\n", 13), "\r\n",
                 {"ab", "next"}},
        LineCase{"ZeroByteInAnEarlierBlock",
                 std::string("ab\0", 3) + std::string(600, 'c') + "\r\nnext\r\n", "\r\n",
                 {"ab" + std::string(600 - 508, 'c'), "next"}},
        // The CR that ends the first block follows the zero byte: it is cut with the rest.
        LineCase{"CrAtTheBlockEdgeAfterAZeroByte",
                 std::string("ab\0", 3) + std::string(507, 'c') + "\rX\r\n", "\r\n", {"abX"}},
        LineCase{"SeparatorAtTheBlockEdgeAfterAZeroByte",
                 std::string("ab\0", 3) + std::string(507, 'c') + "\r\nnext\r\n", "\r\n",
                 {"ab", "next"}},
        LineCase{"ClosedInsideALine", "partial", "\r\n", {"partial"}},
        LineCase{"ClosedAfterTheCr", "partial\r", "\r\n", {"partial\r"}},
        LineCase{"OtherSeparator", "a|b||c||", "||", {"a|b", "c"}},
        LineCase{"LongSeparatorSplitAtTheBlockEdge", std::string(508, 'z') + "<END>rest<END>",
                 "<END>", {std::string(508, 'z'), "rest"}}),
    [](const ::testing::TestParamInfo<LineCase>& info) { return std::string(info.param.name); });
