#include "net/IdTCPClient.h"

#include <sys/syscall.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <iostream>
#include <thread>

#include "net/IdExceptions.h"
#include "support/ClosedConnectionOutcome.h"
#include "support/LoopbackPeer.h"
#include "support/SaturatedListener.h"
#include "support/ThreadProbe.h"
#include "support/WorkLog.h"

using namespace tarnwick;
using namespace tarnwick::testing;
using Clock = std::chrono::steady_clock;

namespace {

class ClientTest : public ::testing::Test {
protected:
    void SetUp() override {
        client_.Host = "127.0.0.1";
        client_.OnStatus = [this](TIdComponent&, TIdStatus, const std::string& text) {
            log_.push_back(text);
        };
        client_.OnConnected = [this](TIdComponent&) { log_.push_back("OnConnected"); };
        client_.OnDisconnected = [this](TIdComponent&) { log_.push_back("OnDisconnected"); };
    }

    TIdTCPClient client_;
    std::vector<std::string> log_;
};

}  // namespace

TEST_F(ClientTest, OpenReportsAndASecondOpenRaises) {
    LoopbackPeer peer([](PeerConnection& c) { c.WaitForClose(); });
    client_.Port = peer.Port();
    client_.OpenConnection();
    EXPECT_TRUE(client_.IsConnected());
    EXPECT_EQ(log_, (std::vector<std::string>{"Connecting to 127.0.0.1.", "Connected.",
                                               "OnConnected"}));
    try {
        client_.OpenConnection();
        FAIL() << "connected twice";
    } catch (const EIdAlreadyConnected& e) {
        EXPECT_EQ(e.Message(), "Already connected.");
    }
}

TEST_F(ClientTest, CloseReleasesTheHandlerAndReconnectStartsEmpty) {
    LoopbackPeer peer([](PeerConnection& c) {
        c.Send("first\nleft over");
        c.WaitForClose();
    });
    client_.Port = peer.Port();
    client_.OpenConnection();
    EXPECT_EQ(client_.ReadLine(), "first");
    while (client_.InputBuffer().Size() == 0) client_.FillInputBuffer(true, -1, true);
    log_.clear();

    client_.CloseConnection();
    EXPECT_EQ(log_,
              (std::vector<std::string>{"Disconnecting.", "OnDisconnected", "Disconnected."}));
    EXPECT_EQ(client_.IOHandler(), nullptr);
    EXPECT_FALSE(client_.IsConnected());
    try {
        client_.ReadLine();
        FAIL() << "read without a handler";
    } catch (const EIdNotConnected& e) {
        EXPECT_EQ(e.Message(), "Not Connected");
    }
    EXPECT_THROW(client_.WriteLine("x"), EIdNotConnected);

    client_.OpenConnection();
    EXPECT_NE(client_.IOHandler(), nullptr);
    EXPECT_EQ(client_.InputBuffer().Size(), 0u);
    EXPECT_EQ(client_.ReadLine(), "first");
    EXPECT_EQ(peer.Accepted(), 2);
}

TEST_F(ClientTest, FailedConnectClosesTheTransportAndCanBeRetried) {
    int port;
    {
        LoopbackPeer gone([](PeerConnection&) {});
        port = gone.Port();
    }
    client_.Port = port;
    try {
        client_.OpenConnection();
        FAIL() << "connected to a closed port";
    } catch (const EIdSocketError& e) {
        EXPECT_EQ(e.SocketErrorCode(), 10061);
    }
    ASSERT_NE(client_.IOHandler(), nullptr);
    EXPECT_FALSE(client_.IOHandler()->HandlerConnected());
    LoopbackPeer peer([](PeerConnection& c) { c.WaitForClose(); });
    client_.Port = peer.Port();
    client_.OpenConnection();  // no "Already connected."
    EXPECT_TRUE(client_.IsConnected());
}

// --- The user's abort ---------------------------------------------------------------------------

// A plain connect to a peer that never answers would block for minutes; the user's close ends it.
TEST_F(ClientTest, CloseConnectionEndsAPendingConnect) {
    SaturatedListener silent;
    client_.Port = silent.Port();
    // Events fire on both threads here; the fixture's log is not made for that.
    client_.OnStatus = nullptr;
    client_.OnDisconnected = nullptr;
    const int connecting = CurrentThreadId();
    std::thread closer([&] {
        EXPECT_TRUE(WaitUntilBlockedIn(connecting, {SYS_connect}));
        client_.CloseConnection();
    });
    EXPECT_THROW(client_.OpenConnection(), EIdSocketError);
    closer.join();
    EXPECT_EQ(client_.IOHandler(), nullptr);
    EXPECT_FALSE(client_.IsConnected());
}

// The connect limit: a handshake that never completes fails at ConnectTimeout, and the user's
// close ends such a connect before it.
TEST_F(ClientTest, ConnectTimeoutEndsAPendingConnectAndTheUsersCloseComesFirst) {
    SaturatedListener silent;
    client_.Port = silent.Port();
    client_.ConnectTimeout = 300;
    client_.OnStatus = nullptr;
    client_.OnDisconnected = nullptr;
    try {
        client_.OpenConnection();
        FAIL() << "connected";
    } catch (const EIdConnectTimeout& e) {
        EXPECT_EQ(e.Message(), "Connect timed out.");
    }
    EXPECT_FALSE(client_.IsConnected());
    // A connect that completes within the limit is a connection like any other.
    LoopbackPeer peer([](PeerConnection& c) { c.Send("hi\n"); c.WaitForClose(); });
    client_.Port = peer.Port();
    client_.OpenConnection();
    EXPECT_EQ(client_.ReadLine(), "hi");
    client_.CloseConnection();

    TIdTCPClient aborted;
    aborted.Host = "127.0.0.1";
    aborted.Port = silent.Port();
    aborted.ConnectTimeout = 60000;
    Event connecting;
    aborted.OnStatus = [&](TIdComponent&, TIdStatus status, const std::string&) {
        if (status == hsConnecting) connecting.Set();
    };
    std::thread closer([&] {
        EXPECT_TRUE(connecting.Wait());
        aborted.CloseConnection();
    });
    const auto start = Clock::now();
    EXPECT_THROW(aborted.OpenConnection(), EIdSocketError);  // as without a limit
    closer.join();
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(30));  // a hang, not a measure
    EXPECT_FALSE(aborted.IsConnected());
}

namespace {

enum class Body { Known, UntilClosed };
// Where the reader is when the other thread closes: asleep waiting for bytes, or between two
// blocks (held in its OnWork handler while the close happens).
enum class Moment { Waiting, BetweenBlocks };

struct AbortCase {
    Body body;
    Moment moment;
};

std::string Name(const AbortCase& c) {
    return std::string(c.body == Body::Known ? "Known" : "UntilClosed") +
           (c.moment == Moment::Waiting ? "Waiting" : "BetweenBlocks");
}
void PrintTo(const AbortCase& c, std::ostream* out) { *out << Name(c); }

class ReadAbortTest : public ::testing::TestWithParam<AbortCase> {};

}  // namespace

// CloseConnection from a second thread makes the reader's ReadToStream fail promptly with one of
// the three failures of a closed connection -- never the peer's graceful close, never a quiet
// short read -- and OnWorkEnd fires on the reader's thread. The peer then stays silent and open,
// so only the close itself can wake the reader, and a stall limit is set, which the close must
// not wait for.
TEST_P(ReadAbortTest, CloseConnectionFromAnotherThreadFailsTheRead200Times) {
    const AbortCase c = GetParam();
    const std::string first_part(40000, 'b');  // one full block and some
    Event release;
    const auto hold = HoldOpen(release);
    LoopbackPeer peer([&](PeerConnection& p) {
        p.Send(first_part);
        hold(p);
    });
    const SetOnExit releaseAtTheEnd(release);
    std::vector<double> latencies_ms;
    for (int round = 0; round < 200; ++round) {
        TIdTCPClient client;
        client.Host = "127.0.0.1";
        client.Port = peer.Port();
        client.StallTimeout = 60000;
        client.OpenConnection();
        WorkLog log(client);

        Event at_boundary, closed;
        if (c.moment == Moment::BetweenBlocks) {
            auto report = client.OnWork;
            client.OnWork = [&, report](TIdComponent& sender, TWorkMode mode, std::int64_t n) {
                report(sender, mode, n);
                at_boundary.Set();
                closed.Wait();
            };
        }
        const int reader = CurrentThreadId();
        Clock::time_point closed_at;
        std::thread closer([&] {
            const bool ready = c.moment == Moment::Waiting
                                   ? WaitUntilBlockedIn(reader, WaitCalls())
                                   : at_boundary.Wait();
            closed_at = Clock::now();
            client.CloseConnection();
            closed.Set();
            EXPECT_TRUE(ready);
        });

        TIdMemoryStream stream;
        const std::string outcome = ClosedConnectionOutcome([&] {
            if (c.body == Body::Known)
                client.ReadToStream(stream, 1000000, false);
            else
                client.ReadToStream(stream, -1, true);
        });
        const auto released_at = Clock::now();
        closer.join();
        ASSERT_EQ(outcome, "") << "round " << round;
        ASSERT_EQ(log.Events().back(), "end r") << "round " << round;
        ASSERT_EQ(log.EndThread(), std::this_thread::get_id());
        ASSERT_EQ(stream.Size(), stream.Position());  // cut to what was written
        latencies_ms.push_back(
            std::chrono::duration<double, std::milli>(released_at - closed_at).count());
        ASSERT_LT(latencies_ms.back(), 2000.0) << "round " << round;  // a hang, not a measure
    }
    std::sort(latencies_ms.begin(), latencies_ms.end());
    std::cout << "[ abort of ReadToStream (" << Name(c) << "), 200 rounds: median "
              << latencies_ms[100] << " ms, worst " << latencies_ms.back() << " ms ]\n";
}

INSTANTIATE_TEST_SUITE_P(Reader, ReadAbortTest,
                         ::testing::Values(AbortCase{Body::Known, Moment::Waiting},
                                           AbortCase{Body::Known, Moment::BetweenBlocks},
                                           AbortCase{Body::UntilClosed, Moment::Waiting},
                                           AbortCase{Body::UntilClosed, Moment::BetweenBlocks}),
                         [](const auto& info) { return Name(info.param); });
