#pragma once

// One socket with its local and peer address: allocate, bind, connect, wait, receive, send, drop.
//
// Another thread may call DropHandle while this one waits or receives on the socket (the user's
// abort). The drop then shuts the socket down in both directions, which ends the wait or receive
// at once, and the descriptor itself is closed only when the last call inside it has returned, so
// its number can never be reused under a running call.

#include <mutex>
#include <string>
#include <vector>

#include "net/IdStack.h"

namespace tarnwick {

class TIdSocketHandle {
public:
    TIdSocketHandle() = default;
    // Closes an open socket.
    ~TIdSocketHandle();
    TIdSocketHandle(const TIdSocketHandle&) = delete;
    TIdSocketHandle& operator=(const TIdSocketHandle&) = delete;

    // Drops any open socket and creates a new one; raises EIdInvalidSocket "Cannot allocate
    // socket." when that fails.
    void AllocateHandle(int type = Id_SOCK_STREAM, int protocol = 0);
    // Closes the open socket (no further sends, then close); nothing without one. The handle value
    // stays until ResetHandle. Safe from another thread while a call runs on the socket.
    void DropHandle();
    // Forgets the socket and the peer address; with reset_local also IP and Port. An open socket
    // is dropped first, never leaked.
    void ResetHandle(bool reset_local);

    // Binds to IP and Port, or, when Port is 0 and a range is set, to the highest free port of
    // ClientPortMin..ClientPortMax. Raises EIdCouldNotBindSocket, EIdInvalidPortRange,
    // EIdCanNotBindPortInRange, or EIdSocketError for other failures.
    void BindLocal();
    // One bind to IP and Port; false when that address is in use, EIdSocketError on other failures.
    // On success IP and Port hold the bound address.
    bool TryBindLocal();

    void SetPeerAddress(std::string ip, int port);
    // Connects to the peer address; returns the stack's result (-1 on failure, code in
    // LastSocketError). On success reads back both addresses.
    int ConnectPeer(int family = Id_PF_INET);

    // True when the socket became readable (data, the peer's close, or a failure to read) within
    // timeout ms (IdTimeoutInfinite: no limit; 0: poll once). A timeout or a failed wait gives
    // false. Raises EIdConnClosedGracefully "Connection Closed Gracefully." without a socket.
    bool WaitReadable(int timeout);
    // One receive / send with flags 0: a count, 0 when the peer has closed, -1 on failure (also
    // when there is no socket). A send may take fewer bytes than given.
    int Receive(void* buffer, int length);
    // A receive that does not wait: as Receive, and -1 with LastSocketError 10035 when nothing
    // has arrived.
    int ReceiveReady(void* buffer, int length);
    int Send(const void* buffer, int length);
    // Sets an integer socket option; a failure raises EIdSocketError.
    void SetOption(int level, int name, int value);
    // How long a blocking send (or connect) may wait, in ms; 0: no limit. A connect cut by it
    // fails with 10036 (in progress). A failure raises EIdSocketError.
    void SetSendTimeLimit(int milliseconds);

    // Read the addresses back from the socket; EIdSocketError on failure.
    void RefreshLocal();
    void RefreshPeer();

    TIdStackSocketHandle Handle() const;
    bool HandleAllocated() const;

    const std::string& IP() const { return ip_; }
    void SetIP(std::string ip) { ip_ = std::move(ip); }
    int Port() const { return port_; }
    void SetPort(int port) { port_ = port; }
    const std::string& PeerIP() const { return peer_ip_; }
    int PeerPort() const { return peer_port_; }
    int ClientPortMin() const { return client_port_min_; }
    void SetClientPortMin(int port) { client_port_min_ = port; }
    int ClientPortMax() const { return client_port_max_; }
    void SetClientPortMax(int port) { client_port_max_ = port; }

private:
    // A call in progress on the socket; holds the descriptor open. Empty without a socket.
    class Use {
    public:
        explicit Use(TIdSocketHandle& owner);
        ~Use();
        Use(const Use&) = delete;
        Use& operator=(const Use&) = delete;
        explicit operator bool() const { return fd_ != Id_INVALID_SOCKET; }
        TIdStackSocketHandle Fd() const { return fd_; }

    private:
        TIdSocketHandle& owner_;
        TIdStackSocketHandle fd_;
    };

    void DropLocked();

    mutable std::mutex mutex_;  // guards the four fields below
    TIdStackSocketHandle handle_ = Id_INVALID_SOCKET;
    bool allocated_ = false;
    int users_ = 0;                                  // calls in progress
    std::vector<TIdStackSocketHandle> pending_close_;  // dropped while calls were in progress

    std::string ip_;
    std::string peer_ip_;
    int port_ = 0;
    int peer_port_ = 0;
    int client_port_min_ = 0;
    int client_port_max_ = 0;
};

}  // namespace tarnwick
