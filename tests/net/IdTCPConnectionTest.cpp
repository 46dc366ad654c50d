#include "net/IdTCPConnection.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <functional>
#include <limits>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "net/IdExceptions.h"
#include "net/IdIOHandlerSocket.h"
#include "net/IdTCPClient.h"
#include "support/LoopbackPeer.h"
#include "support/ThreadProbe.h"
#include "support/WorkLog.h"
#include "support/TestData.h"

using namespace tarnwick;
using namespace tarnwick::testing;

namespace {

class ConnectionTest : public ::testing::Test {
protected:
    // Connects the client to a peer that runs script.
    void Start(LoopbackPeer::Script script) {
        peer_ = std::make_unique<LoopbackPeer>(std::move(script));
        client_.Host = "127.0.0.1";
        client_.Port = peer_->Port();
        client_.OpenConnection();
    }

    // Gives the client a handler that outlives it.
    template <class H>
    H& UseHandler(std::unique_ptr<H> handler) {
        H& h = *handler;
        handler_ = std::move(handler);
        client_.SetIOHandler(&h);
        return h;
    }

    Event go_;  // for scripts that wait for the test; outlives the peer's threads
    std::unique_ptr<LoopbackPeer> peer_;
    std::unique_ptr<TIdIOHandler> handler_;
    TIdTCPClient client_;  // goes first, so every script sees its close
};

// --- ReadLine ---------------------------------------------------------------------------------

struct LineCase {
    const char* name;
    const char* terminator;
    std::vector<std::string> pieces;  // each arrives in a receive of its own
    std::vector<std::string> lines;
};

void PrintTo(const LineCase& c, std::ostream* out) { *out << c.name; }

class ReadLineTest : public ConnectionTest, public ::testing::WithParamInterface<LineCase> {};

}  // namespace

TEST_P(ReadLineTest, Terminators) {
    const LineCase c = GetParam();
    const int reader = CurrentThreadId();
    Start([c, reader](PeerConnection& peer) {
        for (std::size_t i = 0; i < c.pieces.size(); ++i) {
            // The reader must be waiting for more before the next piece goes out.
            if (i > 0 && !WaitUntilBlockedIn(reader, WaitCalls())) return;
            peer.SendInPieces(c.pieces[i], c.pieces[i].size());
        }
        peer.WaitForClose();
    });
    for (const std::string& expected : c.lines)
        EXPECT_EQ(client_.ReadLine(c.terminator), expected);
    EXPECT_EQ(client_.InputBuffer().Size(), 0u);
    EXPECT_FALSE(client_.LineWasSplit());
    EXPECT_FALSE(client_.LineTimedOut());
}

INSTANTIATE_TEST_SUITE_P(
    Lines, ReadLineTest,
    ::testing::Values(
        LineCase{"CrLf", "\n", {"abc\r\n"}, {"abc"}},
        LineCase{"Lf", "\n", {"abc\n"}, {"abc"}},
        LineCase{"CrCrLfDropsOneCr", "\n", {"abc\r\r\n"}, {"abc\r"}},
        LineCase{"EmptyTerminatorMeansLf", "", {"abc\r\n"}, {"abc"}},
        LineCase{"TwoLinesInOneReceive", "\n", {"one\ntwo\r\n"}, {"one", "two"}},
        LineCase{"LfInPieces", "\n", {"ab", "c\r", "\n"}, {"abc"}},
        LineCase{"CrLfTerminator", "\r\n", {"abc\r\n"}, {"abc"}},
        LineCase{"LoneLfDoesNotEndACrLfLine", "\r\n", {"a\nb\r\n"}, {"a\nb"}},
        LineCase{"CrLfSplitAcrossReceives", "\r\n", {"abc\r", "\nxyz\r\n"}, {"abc", "xyz"}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ConnectionTest, LineOfExactlyTheLimitIsReturned) {
    const std::string line(16384, 'x');
    Start([line](PeerConnection& peer) {
        peer.Send(line + "\n");
        peer.WaitForClose();
    });
    EXPECT_EQ(client_.ReadLine(), line);
}

namespace {

struct LimitCase {
    TIdMaxLineAction action;
    bool terminated;  // the LF follows the 16385 bytes; otherwise nothing more comes
};

class LineLimitTest : public ConnectionTest, public ::testing::WithParamInterface<LimitCase> {};

}  // namespace

// One byte over the limit: the exception or the split comes from what is buffered, before any
// further receive (the read timeout would turn a wait into a different failure).
TEST_P(LineLimitTest, OneByteOverTheLimit) {
    const auto [action, terminated] = GetParam();
    const std::string line = std::string(16384, 'x') + "y";
    Start([line, terminated = terminated](PeerConnection& peer) {
        peer.Send(terminated ? line + "\n" : line);
        peer.WaitForClose();
    });
    client_.ReadTimeout = 5000;
    client_.MaxLineAction = action;
    if (action == maException) {
        try {
            client_.ReadLine();
            FAIL() << "an over-long line was returned";
        } catch (const EIdReadLnMaxLineLengthExceeded& e) {
            EXPECT_EQ(e.Message(), "Max line length exceeded.");
        }
        return;
    }
    EXPECT_EQ(client_.ReadLine(), std::string(16384, 'x'));
    EXPECT_TRUE(client_.LineWasSplit());
    EXPECT_EQ(std::string(client_.InputBuffer().Memory(), client_.InputBuffer().Size()),
              terminated ? "y\n" : "y");
    if (terminated) {
        EXPECT_EQ(client_.ReadLine(), "y");
        EXPECT_FALSE(client_.LineWasSplit());
    }
}

INSTANTIATE_TEST_SUITE_P(Limits, LineLimitTest,
                         ::testing::Values(LimitCase{maException, true},
                                           LimitCase{maException, false},
                                           LimitCase{maSplit, true}, LimitCase{maSplit, false}),
                         [](const auto& info) {
                             return std::string(info.param.action == maException ? "Raise"
                                                                                 : "Split") +
                                    (info.param.terminated ? "Terminated" : "Unterminated");
                         });

TEST_F(ConnectionTest, CloseAfterAPartialLine) {
    Start([](PeerConnection& peer) { peer.Send("abc"); });
    std::vector<std::string> status;
    client_.OnStatus = [&](TIdComponent&, TIdStatus, const std::string& text) {
        status.push_back(text);
    };
    int disconnected = 0;
    client_.OnDisconnected = [&](TIdComponent&) { ++disconnected; };

    EXPECT_EQ(client_.ReadLine(), "");
    EXPECT_TRUE(client_.LineTimedOut());
    EXPECT_EQ(std::string(client_.InputBuffer().Memory(), client_.InputBuffer().Size()), "abc");
    try {
        client_.ReadLine();
        FAIL() << "read past the close";
    } catch (const EIdConnClosedGracefully& e) {
        EXPECT_EQ(e.Message(), "Connection Closed Gracefully.");
    }
    EXPECT_EQ(client_.InputBuffer().Size(), 3u);  // the unread bytes stay
    EXPECT_EQ(status, std::vector<std::string>{"Disconnected."});
    EXPECT_EQ(disconnected, 1);
    EXPECT_FALSE(client_.IsConnected());
}

// --- ReadExact and ReadToStream -------------------------------------------------------------

TEST_F(ConnectionTest, ReadExactMeetingACloseKeepsWhatCame) {
    Start([](PeerConnection& peer) { peer.Send("ab"); });
    char four[4];
    EXPECT_THROW(client_.ReadExact(four, 4), EIdConnClosedGracefully);
    EXPECT_EQ(std::string(client_.InputBuffer().Memory(), client_.InputBuffer().Size()), "ab");
}

TEST_F(ConnectionTest, KnownCountCutShortByThePeer) {
    const std::string body = PatternText(70000);
    Start([body](PeerConnection& peer) { peer.Send(body); });
    WorkLog log(client_);
    char path[] = "/tmp/tarnwick-body-XXXXXX";
    const int fd = ::mkstemp(path);
    ASSERT_GE(fd, 0);
    ::close(fd);
    {
        TIdFileStream file(path, fmCreate);
        EXPECT_THROW(client_.ReadToStream(file, 100000, false), EIdConnClosedGracefully);
        EXPECT_EQ(file.Position(), 65536);
    }
    EXPECT_EQ(log.Events(), (Events{"begin r 100000", "work r 32768", "work r 65536", "end r"}));
    struct stat info;
    ASSERT_EQ(::stat(path, &info), 0);
    EXPECT_EQ(info.st_size, 65536);  // presized to 100000, cut to what was written
    TIdFileStream back(path, fmOpenRead);
    std::string written(65536, '\0');
    EXPECT_EQ(back.Read(written.data(), 65536), 65536);
    EXPECT_EQ(written, body.substr(0, 65536));
    EXPECT_EQ(client_.InputBuffer().Size(), 4464u);
    ::unlink(path);
}

// The peer's close is noticed before the read (its bytes are fewer than the count): the read still
// fails instead of handing back a short body.
TEST_F(ConnectionTest, KnownCountAfterTheCloseWasSeenFails) {
    Start([](PeerConnection& peer) { peer.Send("abcde"); });
    while (client_.IsConnected()) client_.FillInputBuffer(false, 1000, false);
    ASSERT_EQ(client_.InputBuffer().Size(), 5u);
    TIdMemoryStream stream;
    EXPECT_THROW(client_.ReadToStream(stream, 10, false), EIdConnClosedGracefully);
    EXPECT_EQ(stream.DataString(), "abcde");
}

// StallTimeout: a peer that stops sending fails the read (of a line, a count or until the close)
// with the limit named; one that keeps sending, however slowly, is never cut.
TEST_F(ConnectionTest, StallLimitEndsASilentPeerButNotASlowOne) {
    const std::string body = PatternText(1200);
    Start([&](PeerConnection& peer) {
        peer.ReceiveExactly(1);
        // Twelve pieces 100 ms apart: the whole takes longer than the limit, no gap does.
        peer.SendInPieces("line\n" + body, 100, std::chrono::milliseconds(100));
        go_.Wait();
    });
    client_.StallTimeout = 1000;
    client_.WriteText("g");
    EXPECT_EQ(client_.ReadLine(), "line");
    TIdMemoryStream stream;
    client_.ReadToStream(stream, static_cast<std::int64_t>(body.size()), false);
    EXPECT_TRUE(stream.DataString() == body);

    for (const auto& read : std::vector<std::function<void()>>{
             [&] { client_.ReadLine(); },
             [&] { client_.ReadToStream(stream, -1, true); },
             [&] { client_.FillInputBuffer(true, IdTimeoutInfinite, false); }}) {
        client_.StallTimeout = 200;
        try {
            read();
            ADD_FAILURE() << "the read returned";
        } catch (const EIdStallTimeout& e) {
            EXPECT_EQ(e.Message(), "No data received for 0 seconds.");
        }
    }
    client_.StallTimeout = 2500;
    try {
        client_.ReadLine();
        ADD_FAILURE() << "the read returned";
    } catch (const EIdReadTimeout& e) {  // a kind of read timeout
        EXPECT_EQ(e.Message(), "No data received for 2 seconds.");
    }
    go_.Set();
}

TEST_F(ConnectionTest, UntilClosedTakesEverything) {
    const std::string body = PatternText(70000);
    Start([body](PeerConnection& peer) { peer.Send(body); });
    WorkLog log(client_);
    TIdMemoryStream stream;
    client_.ReadToStream(stream, -1, true);
    EXPECT_EQ(log.Events(), (Events{"begin r 0", "work r 32768", "work r 65536", "end r"}));
    EXPECT_EQ(stream.DataString(), body);
}

TEST_F(ConnectionTest, BytesAlreadyBufferedAreReportedFirst) {
    const std::string body = PatternText(3000);
    Start([this, body](PeerConnection& peer) {
        peer.Send("HEAD\n" + body.substr(0, 1000));
        go_.Wait();
        peer.Send(body.substr(1000));
        peer.WaitForClose();
    });
    EXPECT_EQ(client_.ReadLine(), "HEAD");
    while (client_.InputBuffer().Size() < 1000) client_.FillInputBuffer(true, -1, true);
    go_.Set();
    WorkLog log(client_);
    TIdMemoryStream stream;
    client_.ReadToStream(stream, 3000, false);
    EXPECT_EQ(log.Events(), (Events{"begin r 3000", "work r 1000", "work r 3000", "end r"}));
    EXPECT_EQ(stream.DataString(), body);
}

TEST_F(ConnectionTest, CountZeroCopiesNothing) {
    Start([](PeerConnection& peer) {
        peer.Send("HEAD\nrest");
        peer.WaitForClose();
    });
    EXPECT_EQ(client_.ReadLine(), "HEAD");
    while (client_.InputBuffer().Size() < 4) client_.FillInputBuffer(true, -1, true);
    WorkLog log(client_);
    TIdMemoryStream stream;
    client_.ReadToStream(stream, 0, false);
    EXPECT_EQ(log.Events(), (Events{"begin r 0", "end r"}));
    EXPECT_EQ(stream.Size(), 0);
    EXPECT_EQ(client_.InputBuffer().Size(), 4u);
}

// A count that cannot be added to the stream's position (a chunk size near 2^63 after an earlier
// chunk) must not wrap around and cut away what the stream already holds.
TEST_F(ConnectionTest, CountBeyondTheLargestSizeKeepsWhatTheStreamHeld) {
    Start([](PeerConnection& peer) { peer.Send("xyz"); });
    TIdMemoryStream stream;
    stream.Write("A", 1);
    EXPECT_THROW(client_.ReadToStream(stream, std::numeric_limits<std::int64_t>::max(), false),
                 EIdConnClosedGracefully);
    EXPECT_EQ(stream.DataString(), "A");
    EXPECT_EQ(stream.Position(), 1);
}

TEST_F(ConnectionTest, CountPrefixedBodyAndInt32) {
    Start([](PeerConnection& peer) {
        peer.Send(std::string("\x00\x00\x00\x05hello\x12\x34\x56\x78", 13));
        peer.WaitForClose();
    });
    TIdMemoryStream stream;
    client_.ReadToStream(stream);
    EXPECT_EQ(stream.DataString(), "hello");
    EXPECT_EQ(client_.ReadInt32(), 0x12345678);
}

// --- Writes -----------------------------------------------------------------------------------

namespace {

// A socket handler whose sends take at most cap bytes each, as a busy platform may accept them.
class PartialSendHandler : public TIdIOHandlerSocket {
public:
    explicit PartialSendHandler(int cap) : cap_(cap) {}
    int SendFrom(const void* buffer, int length) override {
        ++sends;
        return TIdIOHandlerSocket::SendFrom(buffer, std::min(length, cap_));
    }
    int sends = 0;

private:
    int cap_;
};

}  // namespace

TEST_F(ConnectionTest, ShortSendsAreCompletedWithOneReportEach) {
    auto& handler = UseHandler(std::make_unique<PartialSendHandler>(1000));
    Start([](PeerConnection& peer) { peer.ReceiveExactly(2500); });
    WorkLog log(client_);
    const std::string body = PatternText(2500);
    TIdMemoryStream stream(body);
    client_.WriteFromStream(stream);
    EXPECT_EQ(log.Events(),
              (Events{"begin w 2500", "work w 1000", "work w 2000", "work w 2500", "end w"}));
    EXPECT_EQ(handler.sends, 3);
    ASSERT_TRUE(peer_->WaitForScripts(1));
    EXPECT_EQ(peer_->Received(), body);
}

TEST_F(ConnectionTest, ShorterStreamThanAnnouncedRaisesNoDataToRead) {
    Start([](PeerConnection& peer) { peer.WaitForClose(); });
    TIdMemoryStream stream(std::string("abc"));
    WorkLog log(client_);
    try {
        client_.WriteFromStream(stream, true, false, 10);
        FAIL() << "wrote past the stream's end";
    } catch (const EIdNoDataToRead& e) {
        EXPECT_EQ(e.Message(), "No data to read.");
    }
    EXPECT_EQ(log.Events(), (Events{"begin w 10", "work w 3", "end w"}));
}

TEST_F(ConnectionTest, WriteBufferingSendsAtTheEndOrAtTheThreshold) {
    auto& handler = UseHandler(std::make_unique<PartialSendHandler>(1 << 20));
    Start([](PeerConnection& peer) { peer.ReceiveExactly(22); });

    client_.BeginWriteBuffering();
    client_.WriteLine("GET / HTTP/1.1");
    client_.WriteLine("");
    EXPECT_EQ(handler.sends, 0);
    client_.EndWriteBuffering();
    EXPECT_EQ(handler.sends, 1);
    EXPECT_FALSE(client_.WriteBuffering());

    client_.BeginWriteBuffering(3);
    client_.WriteText("ab");
    EXPECT_EQ(handler.sends, 1);
    client_.WriteText("cd");  // 4 buffered: the first 3 go
    EXPECT_EQ(handler.sends, 2);
    client_.EndWriteBuffering();
    EXPECT_EQ(handler.sends, 3);
    ASSERT_TRUE(peer_->WaitForScripts(1));
    EXPECT_EQ(peer_->Received(), "GET / HTTP/1.1\r\n\r\nabcd");
}

// --- The user's close ---------------------------------------------------------------------------

namespace {

// A socket handler that lets the test act at the moment the connection asks whether its socket
// is still open: the hook runs once, inside that question, before the answer is given.
class ConnectedTestHook : public TIdIOHandlerSocket {
public:
    bool HandlerConnected() override {
        if (hook) std::exchange(hook, nullptr)();
        return TIdIOHandlerSocket::HandlerConnected();
    }
    std::function<void()> hook;
};

}  // namespace

// The user's close lands while the reader is looking at the socket: the reader must not take it
// for the peer's close, whatever it had seen of the connection a moment before.
TEST_F(ConnectionTest, UserCloseDuringTheClosedTestIsNoGracefulClose) {
    auto& handler = UseHandler(std::make_unique<ConnectedTestHook>());
    Start([](PeerConnection& peer) { peer.WaitForClose(); });
    std::vector<std::string> status;
    client_.OnStatus = [&](TIdComponent&, TIdStatus, const std::string& text) {
        status.push_back(text);
    };
    handler.hook = [this] { std::thread([this] { client_.CloseConnection(); }).join(); };
    char four[4];
    try {
        client_.ReadExact(four, 4);
        FAIL() << "read on a connection the user closed";
    } catch (const EIdClosedSocket& e) {
        EXPECT_EQ(e.Message(), "Disconnected.");
    } catch (const std::exception& e) {
        FAIL() << "wrong failure: " << e.what();
    }
    EXPECT_EQ(status, (std::vector<std::string>{"Disconnecting.", "Disconnected."}));
}
