#pragma once

// A scripted TCP peer on 127.0.0.1 for byte-exact protocol tests. It listens on a port the system
// picks, and runs the test's script for each accepted connection on a thread of its own, so each
// case controls every byte, pause and close. Every byte a connection receives is recorded.
// Destroying the peer wakes every blocked script (its sockets are shut down) and joins them all.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace tarnwick::testing {

// A one-shot signal between a test and a script: Set once, Wait many.
class Event {
public:
    void Set();
    bool IsSet() const;
    // True when set within the limit.
    bool Wait(std::chrono::milliseconds limit = std::chrono::seconds(10)) const;

private:
    mutable std::mutex mutex_;
    mutable std::condition_variable cv_;
    bool set_ = false;
};

// One accepted connection, as a script sees it. The script's calls throw std::runtime_error
// when the socket fails, which ends that script (the failure is recorded, see Errors()).
class LoopbackPeer;

class PeerConnection {
public:
    PeerConnection(LoopbackPeer& peer, int fd, std::shared_ptr<std::string> record,
                   std::shared_ptr<std::mutex> lock);
    ~PeerConnection();
    PeerConnection(const PeerConnection&) = delete;
    PeerConnection& operator=(const PeerConnection&) = delete;

    // Sends every byte (loops over short sends).
    void Send(std::string_view bytes);
    // Sends the bytes in pieces of at most piece bytes, one send each, pausing between them.
    void SendInPieces(std::string_view bytes, std::size_t piece,
                      std::chrono::milliseconds pause = std::chrono::milliseconds(0));
    // Receives until the bytes received so far end with terminator (or the peer closes). Returns
    // everything received by this call.
    std::string ReceiveUntil(std::string_view terminator);
    // Receives exactly count bytes, fewer only when the peer closes.
    std::string ReceiveExactly(std::size_t count);
    // Receives until the peer closes.
    std::string ReceiveAll();
    // True when the peer has closed (a receive returned 0) within the limit; bytes that arrive
    // meanwhile are recorded.
    bool WaitForClose(std::chrono::milliseconds limit = std::chrono::seconds(10));
    void ShutdownWrite();
    // Closes the socket normally (FIN).
    void Close();
    // Closes with a reset (RST) instead of a FIN.
    void Reset();
    int Fd() const { return fd_; }

private:
    std::size_t ReceiveSome(std::string& into);
    void Release(bool reset);

    LoopbackPeer& peer_;
    int fd_;
    std::shared_ptr<std::string> record_;
    std::shared_ptr<std::mutex> record_lock_;
};

class LoopbackPeer {
public:
    using Script = std::function<void(PeerConnection&)>;

    // Listens on 127.0.0.1 with a free port and serves each connection with script.
    explicit LoopbackPeer(Script script, int backlog = 16);
    ~LoopbackPeer();
    LoopbackPeer(const LoopbackPeer&) = delete;
    LoopbackPeer& operator=(const LoopbackPeer&) = delete;

    std::uint16_t Port() const { return port_; }
    std::string PortText() const { return std::to_string(port_); }

    // Number of connections accepted so far.
    int Accepted() const;
    // Waits until count connections were accepted and their scripts returned.
    bool WaitForScripts(int count, std::chrono::milliseconds limit = std::chrono::seconds(10)) const;
    // Bytes received on the index-th accepted connection (0-based), so far.
    std::string Received(int index = 0) const;
    // Failures thrown by scripts, one line each; empty when every script ran through.
    std::string Errors() const;

private:
    friend class PeerConnection;
    void AcceptLoop();
    void Serve(int fd, int index);
    // Closes a connection's socket under the lock that the destructor's wake-up takes, so the
    // destructor never touches a descriptor number that was closed and reused.
    void CloseConnectionFd(int fd, bool reset);

    Script script_;
    int listen_fd_ = -1;
    std::uint16_t port_ = 0;
    mutable std::mutex mutex_;
    mutable std::condition_variable cv_;
    bool stopping_ = false;
    int finished_ = 0;
    std::vector<std::shared_ptr<std::string>> records_;
    std::vector<std::shared_ptr<std::mutex>> record_locks_;
    std::vector<int> open_fds_;
    std::string errors_;
    std::vector<std::thread> scripts_;
    std::thread acceptor_;
};

// A script that never sends and keeps its end open, also after the client's close (a peer that
// closed on seeing the client's half-close would wake a blocked reader by itself), until release
// is set or the limit passes.
inline LoopbackPeer::Script HoldOpen(const Event& release,
                                     std::chrono::milliseconds limit = std::chrono::seconds(5)) {
    return [&release, limit](PeerConnection& c) {
        c.WaitForClose(limit);
        release.Wait(limit);
    };
}

// Sets an event when it goes: declared after a peer whose scripts wait for the event, it lets
// them go before the peer joins them, however the test ends.
class SetOnExit {
public:
    explicit SetOnExit(Event& event) : event_(event) {}
    ~SetOnExit() { event_.Set(); }
    SetOnExit(const SetOnExit&) = delete;
    SetOnExit& operator=(const SetOnExit&) = delete;

private:
    Event& event_;
};

}  // namespace tarnwick::testing
