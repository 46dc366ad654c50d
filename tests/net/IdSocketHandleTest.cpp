#include "net/IdSocketHandle.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <thread>

#include "net/IdComponent.h"
#include "net/IdExceptions.h"
#include "support/LoopbackPeer.h"
#include "support/ThreadProbe.h"

using namespace tarnwick;
using namespace tarnwick::testing;

namespace {

// A listening socket on a port of 127.0.0.1; -1 when the port is taken.
class Listener {
public:
    explicit Listener(int port = 0) {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<std::uint16_t>(port));
        if (::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) < 0 ||
            ::listen(fd_, 4) < 0) {
            ::close(fd_);
            fd_ = -1;
            return;
        }
        socklen_t length = sizeof address;
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(address.sin_port);
    }
    ~Listener() {
        if (fd_ >= 0) ::close(fd_);
    }
    bool Ok() const { return fd_ >= 0; }
    int Port() const { return port_; }

private:
    int fd_ = -1;
    int port_ = 0;
};

class SocketHandleTest : public ::testing::Test {
protected:
    // Two neighbouring ports, both taken by listeners.
    std::pair<std::unique_ptr<Listener>, std::unique_ptr<Listener>> TakenNeighbours() {
        for (int attempt = 0; attempt < 50; ++attempt) {
            auto low = std::make_unique<Listener>();
            if (low->Port() >= 65535) continue;
            auto high = std::make_unique<Listener>(low->Port() + 1);
            if (high->Ok()) return {std::move(low), std::move(high)};
        }
        return {};
    }

    void Connect(TIdSocketHandle& socket, int port) {
        socket.AllocateHandle();
        socket.BindLocal();
        socket.SetPeerAddress("127.0.0.1", port);
        ASSERT_EQ(socket.ConnectPeer(), 0);
    }

    TIdComponent keeper_;  // keeps the stack alive
};

}  // namespace

TEST_F(SocketHandleTest, TakenFixedPortCannotBeBound) {
    Listener taken;
    TIdSocketHandle socket;
    socket.AllocateHandle();
    socket.SetPort(taken.Port());
    try {
        socket.BindLocal();
        FAIL() << "bound a taken port";
    } catch (const EIdCouldNotBindSocket& e) {
        EXPECT_EQ(e.Message(), "Could not bind socket. Address and port are already in use.");
    }
}

TEST_F(SocketHandleTest, RangeWhosePortsAreAllTaken) {
    auto [low, high] = TakenNeighbours();
    ASSERT_TRUE(low) << "no two neighbouring free ports";
    TIdSocketHandle socket;
    socket.AllocateHandle();
    socket.SetClientPortMin(low->Port());
    socket.SetClientPortMax(high->Port());
    try {
        socket.BindLocal();
        FAIL() << "bound in a taken range";
    } catch (const EIdCanNotBindPortInRange& e) {
        EXPECT_EQ(e.Message(), Format("Can not bind in port range (%d - %d)", low->Port(),
                                      high->Port()));
    }
}

TEST_F(SocketHandleTest, RangeTakesTheHighestFreePort) {
    auto [low, high] = TakenNeighbours();
    ASSERT_TRUE(low) << "no two neighbouring free ports";
    const int free_port = low->Port();
    low.reset();  // frees the lower port; the higher one stays taken
    TIdSocketHandle socket;
    socket.AllocateHandle();
    socket.SetClientPortMin(free_port);
    socket.SetClientPortMax(high->Port());
    socket.BindLocal();
    EXPECT_EQ(socket.Port(), free_port);
}

TEST_F(SocketHandleTest, InvertedRangeIsInvalid) {
    TIdSocketHandle socket;
    socket.AllocateHandle();
    socket.SetClientPortMin(20);
    socket.SetClientPortMax(10);
    try {
        socket.BindLocal();
        FAIL() << "inverted range accepted";
    } catch (const EIdInvalidPortRange& e) {
        EXPECT_EQ(e.Message(), "Invalid Port Range (20 - 10)");
    }
}

TEST_F(SocketHandleTest, ConnectReadsBackAddressesAndAZeroWaitPollsOnce) {
    Event sent;
    LoopbackPeer peer([&](PeerConnection& c) {
        c.ReceiveExactly(1);
        c.Send("y");
        sent.Set();
        c.WaitForClose();
    });
    TIdSocketHandle socket;
    Connect(socket, peer.Port());
    EXPECT_EQ(socket.PeerIP(), "127.0.0.1");
    EXPECT_EQ(socket.PeerPort(), peer.Port());
    EXPECT_EQ(socket.IP(), "127.0.0.1");
    EXPECT_GT(socket.Port(), 0);
    EXPECT_FALSE(socket.WaitReadable(0));
    ASSERT_EQ(socket.Send("x", 1), 1);
    ASSERT_TRUE(sent.Wait());
    EXPECT_TRUE(socket.WaitReadable(IdTimeoutInfinite));
    EXPECT_TRUE(socket.WaitReadable(0));
    char c = 0;
    EXPECT_EQ(socket.Receive(&c, 1), 1);
    EXPECT_EQ(c, 'y');
}

TEST_F(SocketHandleTest, WaitWithoutLimitLastsUntilDataArrives) {
    Event go;
    LoopbackPeer peer([&](PeerConnection& c) {
        go.Wait();
        c.Send("late");
        c.WaitForClose();
    });
    TIdSocketHandle socket;
    Connect(socket, peer.Port());
    const int tid = CurrentThreadId();
    std::thread release([&] {
        WaitUntilBlockedIn(tid, WaitCalls());
        go.Set();
    });
    EXPECT_TRUE(socket.WaitReadable(IdTimeoutInfinite));
    EXPECT_TRUE(go.IsSet());
    release.join();
}

TEST_F(SocketHandleTest, AfterDropTheWaitRaisesAndASecondDropDoesNothing) {
    LoopbackPeer peer([](PeerConnection& c) { c.WaitForClose(); });
    TIdSocketHandle socket;
    Connect(socket, peer.Port());
    const int fd = socket.Handle();
    socket.DropHandle();
    EXPECT_FALSE(socket.HandleAllocated());
    EXPECT_EQ(socket.Handle(), fd);  // the value stays until the next reset
    try {
        socket.WaitReadable(0);
        FAIL() << "waited without a socket";
    } catch (const EIdConnClosedGracefully& e) {
        EXPECT_EQ(e.Message(), "Connection Closed Gracefully.");
    }
    socket.DropHandle();
    char c;
    EXPECT_EQ(socket.Receive(&c, 1), -1);
    EXPECT_EQ(socket.Send("x", 1), -1);
    EXPECT_TRUE(peer.WaitForScripts(1));  // the peer saw the close
    socket.ResetHandle(true);
    EXPECT_EQ(socket.Handle(), Id_INVALID_SOCKET);
    EXPECT_EQ(socket.Port(), 0);
    EXPECT_EQ(socket.PeerIP(), "");
}
