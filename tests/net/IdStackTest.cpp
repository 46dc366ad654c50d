#include "net/IdStack.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <thread>

#include "net/IdComponent.h"
#include "net/IdExceptions.h"
#include "net/IdStackLinux.h"
#include "support/LoopbackPeer.h"

using namespace tarnwick;
using tarnwick::testing::Event;
using tarnwick::testing::LoopbackPeer;
using tarnwick::testing::PeerConnection;

namespace {

// Keeps the process-wide stack alive for a test.
class StackTest : public ::testing::Test {
protected:
    TIdComponent keeper_;
};

// The real stack, recording every name that reaches the lookup.
class RecordingStack : public TIdStackLinux {
public:
    std::string LookupHost(std::string_view name) override {
        looked_up.emplace_back(name);
        return TIdStackLinux::LookupHost(name);
    }
    std::vector<std::string> looked_up;
};

// A port on 127.0.0.1 where nothing listens.
int ClosedPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t length = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(fd);
    return ntohs(address.sin_port);
}

}  // namespace

TEST_F(StackTest, LocalhostInAnyCaseResolvesWithoutLookup) {
    RecordingStack stack;
    for (const char* host : {"LOCALHOST", "localhost", "LocalHost", "lOcAlHoSt"})
        EXPECT_EQ(stack.ResolveHostName(host), "127.0.0.1") << host;
    EXPECT_EQ(stack.ResolveHostName("10.0.0.1"), "10.0.0.1");
    EXPECT_TRUE(stack.looked_up.empty());
}

TEST_F(StackTest, NonQuadsGoToTheLookup) {
    RecordingStack stack;
    // The resolver reads the short numeric form itself: proof that the text went to the lookup.
    EXPECT_EQ(stack.ResolveHostName("1.2.3"), "1.2.0.3");
    for (const char* host : {"1.2.3.4.5", "256.1.1.1", "a.b.c.d"}) {
        try {
            stack.ResolveHostName(host);
        } catch (const EIdSocketError&) {
        }
    }
    EXPECT_EQ(stack.looked_up,
              (std::vector<std::string>{"1.2.3", "1.2.3.4.5", "256.1.1.1", "a.b.c.d"}));
}

TEST(IsDottedQuad, FourWholeNumbersUpTo255) {
    struct Case {
        const char* text;
        bool quad;
    };
    const Case cases[] = {
        {"0.0.0.0", true},      {"255.255.255.255", true}, {"10.0.0.1", true},
        {"256.1.1.1", false},   {"1.2.3.256", false},      {"1.2.3", false},
        {"1.2.3.4.5", false},   {"a.b.c.d", false},        {"1..3.4", false},
        {"", false},            {"1.2.3.", false},         {"1.2.3.-1", false},
        {"1.2.3.4x", false},    {".1.2.3", false},
    };
    for (const Case& c : cases) EXPECT_EQ(TIdStack::IsDottedQuad(c.text), c.quad) << c.text;
}

TEST_F(StackTest, NameThatCannotExistRaisesHostNotFound) {
    try {
        GStack().ResolveHostName("no-such-host.invalid");
        FAIL() << "resolved";
    } catch (const EIdSocketError& e) {
        EXPECT_EQ(e.SocketErrorCode(), 11001);
        EXPECT_EQ(e.Message(), "Socket Error # 11001\r\nHost not found.");
    }
    // A NUL inside the name must not make the resolver look up the part before it.
    EXPECT_THROW(GStack().ResolveHostName(std::string("localhost\0.x", 12)), EIdSocketError);
}

TEST_F(StackTest, ErrorTextsOfTableRowsAndUnlistedCodes) {
    TIdStack& stack = GStack();
    EXPECT_EQ(stack.SocketErrorText(10061), "Socket Error # 10061\r\nConnection refused.");
    EXPECT_EQ(stack.SocketErrorText(10035), "Socket Error # 10035\r\nOperation would block. ");
    EXPECT_EQ(stack.SocketErrorText(10066), "Socket Error # 10066\r\nDirectory not empty");
    EXPECT_EQ(stack.SocketErrorText(10004), "Socket Error # 10004\r\nInterrupted system call.");
    EXPECT_EQ(stack.SocketErrorText(10058),
              "Socket Error # 10058\r\nCannot send or receive after socket is closed.");
    EXPECT_EQ(stack.SocketErrorText(11001), "Socket Error # 11001\r\nHost not found.");
    // Unlisted codes keep the format with an empty text.
    EXPECT_EQ(stack.SocketErrorText(10091), "Socket Error # 10091\r\n");
    EXPECT_EQ(stack.SocketErrorText(11002), "Socket Error # 11002\r\n");
}

TEST_F(StackTest, RefusedConnectRaises10061) {
    TIdStack& stack = GStack();
    const int fd = stack.CreateStreamSocket(Id_SOCK_STREAM, 0);
    ASSERT_GE(fd, 0);
    const int result = stack.SocketConnect(fd, Id_PF_INET, ClosedPort(), "127.0.0.1");
    EXPECT_EQ(result, -1);
    try {
        stack.CheckSocketResult(result);
        FAIL() << "no exception";
    } catch (const EIdSocketError& e) {
        EXPECT_EQ(e.SocketErrorCode(), 10061);
        EXPECT_EQ(e.Message(), "Socket Error # 10061\r\nConnection refused.");
    }
    EXPECT_EQ(stack.LastError(), 10061);
    stack.SocketClose(fd);
}

TEST_F(StackTest, ResetByPeerGives10054) {
    Event reset;
    LoopbackPeer peer([&](PeerConnection& c) {
        c.ReceiveExactly(1);  // the client's byte is unread data on the server side
        c.Reset();
        reset.Set();
    });
    TIdStack& stack = GStack();
    const int fd = stack.CreateStreamSocket(Id_SOCK_STREAM, 0);
    ASSERT_EQ(stack.SocketConnect(fd, Id_PF_INET, peer.Port(), "127.0.0.1"), 0);
    ASSERT_EQ(stack.SocketSend(fd, "x", 1, 0), 1);
    ASSERT_TRUE(reset.Wait());
    char buffer[16];
    EXPECT_EQ(stack.SocketRecv(fd, buffer, sizeof buffer, 0), -1);
    EXPECT_EQ(stack.LastSocketError(), 10054);
    EXPECT_TRUE(stack.CheckSocketResult(-1, {10058, 10054}));  // tolerated: no exception
    stack.SocketClose(fd);
}

TEST_F(StackTest, LastSocketErrorBelongsToTheCallingThread) {
    TIdStack& stack = GStack();
    char c;
    ASSERT_EQ(stack.SocketRecv(-1, &c, 1, 0), -1);
    ASSERT_EQ(stack.LastSocketError(), 10009);
    std::int32_t other = 0;
    std::thread([&] {
        const int fd = stack.CreateStreamSocket(Id_SOCK_STREAM, 0);
        stack.SocketConnect(fd, Id_PF_INET, ClosedPort(), "127.0.0.1");
        other = stack.LastSocketError();
        stack.SocketClose(fd);
    }).join();
    EXPECT_EQ(other, 10061);
    EXPECT_EQ(stack.LastSocketError(), 10009);
}

TEST_F(StackTest, PortOutsideSixteenBitsIsInvalidArgument) {
    TIdStack& stack = GStack();
    const int fd = stack.CreateStreamSocket(Id_SOCK_STREAM, 0);
    EXPECT_EQ(stack.SocketBind(fd, Id_PF_INET, 65536 + 80, ""), -1);
    EXPECT_EQ(stack.LastSocketError(), 10022);
    stack.SocketClose(fd);
}

TEST(AddressText, RoundTripsAndRejectsWhatIsNoAddress) {
    EXPECT_EQ(TIdStack::AddressToText({127, 0, 0, 1}), "127.0.0.1");
    EXPECT_EQ(TIdStack::AddressToText({255, 10, 0, 200}), "255.10.0.200");
    EXPECT_EQ(TIdStack::TextToAddress("192.168.1.254"),
              (std::array<std::uint8_t, 4>{192, 168, 1, 254}));

    const auto message = [](const char* text) {
        try {
            TIdStack::TextToAddress(text);
        } catch (const EConvertError& e) {
            return e.Message();
        }
        return std::string("no exception");
    };
    EXPECT_EQ(message("1.2.3"), "'' is not a valid integer value");
    EXPECT_EQ(message("1.2.3.4.5"), "'4.5' is not a valid integer value");
    EXPECT_EQ(message("a.2.3.4"), "'a' is not a valid integer value");
    EXPECT_EQ(message("1.2.3.300"), "'300' is not a valid address byte");
}

TEST_F(StackTest, SelectTakesAtMost64Handles) {
    TIdStack& stack = GStack();
    int pair[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
    std::vector<TIdStackSocketHandle> read(64, pair[0]);
    EXPECT_EQ(stack.SocketSelect(&read, nullptr, 0, nullptr), 0);
    std::vector<TIdStackSocketHandle> too_many(65, pair[0]);
    try {
        stack.SocketSelect(&too_many, nullptr, 0, nullptr);
        FAIL() << "65 handles accepted";
    } catch (const EIdStackSetSizeExceeded& e) {
        EXPECT_EQ(e.Message(), "Set Size Exceeded.");
    }
    std::vector<TIdStackSocketHandle> write(65, pair[0]);
    EXPECT_THROW(stack.SocketSelect(nullptr, &write, 0, nullptr), EIdStackSetSizeExceeded);
    ::close(pair[0]);
    ::close(pair[1]);
}

TEST_F(StackTest, SelectLeavesOnlyReadyHandlesInEachList) {
    TIdStack& stack = GStack();
    int quiet[2], busy[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, quiet), 0);
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, busy), 0);
    ASSERT_EQ(::write(busy[1], "x", 1), 1);
    std::vector<TIdStackSocketHandle> read{quiet[0], busy[0]};
    std::vector<TIdStackSocketHandle> write{quiet[0]};
    EXPECT_EQ(stack.SocketSelect(&read, &write, IdTimeoutInfinite, nullptr), 2);
    EXPECT_EQ(read, std::vector<TIdStackSocketHandle>{busy[0]});
    EXPECT_EQ(write, std::vector<TIdStackSocketHandle>{quiet[0]});
    for (int fd : {quiet[0], quiet[1], busy[0], busy[1]}) ::close(fd);
}

