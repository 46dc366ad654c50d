#pragma once

// The line client: a small blocking TCP client over the operating system's sockets, used by the
// lookup query. It sends text with a line end appended and reads text up to a separator by
// peeking at the socket's receive queue, so it never takes a byte past the line it returns.
//
// It never raises for a failed socket call: every failure goes through CheckResult, which reports
// the operating system's error code (errno) to OnError when that event is set, and shows itself to
// the caller as a failed result (-1 from a send or receive, a line that ends early, a client that
// is not connected). The only exception that leaves it is EConvertError, from OpenSocket /
// ConnectClient / SetActive, for a RemotePort that is neither a service name nor an integer.
//
// One instance is used by one thread at a time. Every call blocks (in bmBlocking mode), with no
// time limit unless the client's ConnectTimeout and StallTimeout set one. The one exception is
// AbortConnection, the user's abort, which any thread may call while another one uses the socket.

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>

#include <netinet/in.h>

#include "core/Component.h"

namespace tarnwick {

enum TSocketBlockMode { bmBlocking, bmNonBlocking };
// Address family of the socket: unspecified, or the Internet family (IPv4).
enum TSocketDomain { pfUnspec, pfInet };
// Mapped in this order onto the socket types 1 to 5.
enum TSocketType { stStream, stDgram, stRaw, stRdm, stSeqPacket };

using TSocketHost = std::string;
using TSocketPort = std::string;

class TBaseSocket;
using TSocketNotifyEvent = std::function<void(TBaseSocket& sender)>;
using TSocketErrorEvent = std::function<void(TBaseSocket& sender, std::int32_t socketError)>;
// dataLen is in-out: an OnSend handler may lower the count of bytes about to be sent.
using TSocketDataEvent =
    std::function<void(TBaseSocket& sender, const char* buf, std::int32_t& dataLen)>;

class TBaseSocket : public TComponent {
public:
    explicit TBaseSocket(TComponent* owner = nullptr);
    ~TBaseSocket() override;

    // True while a socket handle is held. Setting it opens (OpenSocket) or closes (CloseSocket).
    bool Active() const noexcept { return active_; }
    void SetActive(bool value);
    // Changing the mode closes an open socket first; the new mode applies at the next open.
    TSocketBlockMode BlockMode() const noexcept { return block_mode_; }
    void SetBlockMode(TSocketBlockMode value);

    // Bytes received by ReceiveData (peeks do not count) and bytes sent, since the last open.
    std::int64_t BytesReceived() const noexcept { return bytes_received_; }
    std::int64_t BytesSent() const noexcept { return bytes_sent_; }
    TSocketDomain Domain() const noexcept { return domain_; }
    std::uint16_t Protocol() const noexcept { return protocol_; }
    TSocketType SockType() const noexcept { return sock_type_; }
    // The operating system's socket, or -1 when none is held.
    int Handle() const noexcept { return handle_; }

    // Receives into buf without taking the bytes from the queue; blocks until at least one byte is
    // queued. Returns the count, 0 when the connection has ended, -1 on failure.
    std::int32_t PeekData(void* buf, std::int32_t count);
    // Receives up to count bytes. Returns the count (then OnReceive sees the bytes), 0 when the
    // connection has ended, -1 on failure.
    std::int32_t ReceiveData(void* buf, std::int32_t count, int flags = 0);
    // Sends count bytes (fewer when an OnSend handler lowers the count) in one call. Returns the
    // count sent or -1 on failure. A peer's close never raises SIGPIPE.
    std::int32_t SendData(const void* buf, std::int32_t count, int flags = 0);

    // Returns result unchanged; when it is -1, first hands the operating system's error code to
    // HandleSocketError. Never raises.
    virtual int CheckResult(int result);

    // Any thread, also while another one is blocked in a connect, send or receive on this socket:
    // shuts the connection down in both directions, so the blocked call returns at once (as a
    // failure or an ended connection), and makes every later open fail (ECONNABORTED), so a
    // connect that had not begun yet never begins. The handle itself stays until the thread that
    // uses the socket closes it, so its number is never reused under that thread.
    void AbortConnection();
    bool AbortRequested() const noexcept { return abort_requested_.load(); }

    TSocketNotifyEvent OnCreateHandle;
    TSocketNotifyEvent OnDestroyHandle;
    TSocketErrorEvent OnError;
    TSocketDataEvent OnReceive;
    TSocketDataEvent OnSend;

protected:
    virtual void NotifyReceive(const char* buf, std::int32_t& dataLen);
    virtual void NotifySend(const char* buf, std::int32_t& dataLen);
    // Makes the socket handle; nothing when already active.
    virtual void OpenSocket();
    // Closes the socket handle; nothing when not active.
    virtual void CloseSocket();
    virtual void NotifyCreateHandle();
    virtual void NotifyDestroyHandle();
    // Reports the error code of the failed call (errno, read before anything can change it).
    virtual void HandleSocketError(int errorCode);

    void SetDomain(TSocketDomain value) noexcept { domain_ = value; }

private:
    bool active_ = false;
    TSocketBlockMode block_mode_ = bmBlocking;
    std::int64_t bytes_received_ = 0;
    std::int64_t bytes_sent_ = 0;
    TSocketDomain domain_ = pfUnspec;
    std::uint16_t protocol_ = 0;
    int handle_ = -1;
    TSocketType sock_type_ = stStream;
    // handle_ changes under this lock; AbortConnection reads it under the lock from other threads.
    std::mutex handle_mutex_;
    std::atomic<bool> abort_requested_{false};
};

class TIpSocket : public TBaseSocket {
public:
    explicit TIpSocket(TComponent* owner = nullptr);

    const TSocketHost& LocalHost() const noexcept { return local_host_; }
    void SetLocalHost(TSocketHost value) { local_host_ = std::move(value); }
    const TSocketPort& LocalPort() const noexcept { return local_port_; }
    void SetLocalPort(TSocketPort value) { local_port_ = std::move(value); }
    // Setting a different remote host or port closes an open connection first.
    const TSocketHost& RemoteHost() const noexcept { return remote_host_; }
    void SetRemoteHost(TSocketHost value);
    const TSocketPort& RemotePort() const noexcept { return remote_port_; }
    void SetRemotePort(TSocketPort value);

    // The dotted IPv4 text for a host: "0.0.0.0" for the empty text; a host that begins with a
    // digit is taken as an address as it stands (the empty text when it is none, never a name
    // lookup); any other host is looked up by name (IPv4), the empty text when not found.
    static std::string LookupHostAddr(std::string_view host);
    // The port number for a port text: 0 for the empty text, else the service of that name (any
    // protocol), else the decimal integer. Raises EConvertError for a text that is neither.
    static std::int32_t LookupPort(std::string_view port);
    // Fills address from host and port as above. Returns false, with errno set, when the host
    // gives no usable address (none, or 0.0.0.0) or the port lies outside 0 to 65535; raises
    // like LookupPort.
    static bool BuildAddress(std::string_view host, std::string_view port, sockaddr_in& address);

private:
    TSocketHost local_host_;
    TSocketPort local_port_;
    TSocketHost remote_host_;
    TSocketPort remote_port_;
};

class TCustomIpClient : public TIpSocket {
public:
    explicit TCustomIpClient(TComponent* owner = nullptr);
    ~TCustomIpClient() override;

    bool Connected() const noexcept { return connected_; }

    // Limits in ms, 0 for none, taken at the next open. A connect not done within ConnectTimeout
    // fails (error code ETIMEDOUT). A receive, peek or send that waits StallTimeout without
    // moving a byte fails (-1, error code EAGAIN): ReceiveLine then ends as on a failed receive.
    std::int32_t ConnectTimeout = 0;
    std::int32_t StallTimeout = 0;

    // Opens the socket and connects to RemoteHost:RemotePort. Returns Connected.
    bool ConnectClient();
    void DisconnectClient();

    // Sends text followed by lineEnd (always appended) in one send. Returns SendData's result.
    std::int32_t SendLine(std::string_view text, std::string_view lineEnd = "\r\n");
    // Reads up to separator and returns the text before it; the separator is taken from the socket
    // and dropped, and no byte after it is taken. A zero byte cuts the rest of the block of the
    // line that held it (at most 511 bytes per block) from the result; the bytes are still taken.
    // An empty line returns the empty text, and so does a connection that ended or failed before
    // the line's first byte; a connection that ends inside a line returns the partial line.
    // At most maxBytes bytes are taken from the socket (0: no limit); a line that has not ended
    // within them returns what came, and the rest stays queued.
    std::string ReceiveLine(std::string_view separator = "\r\n", std::size_t maxBytes = 0);

    TSocketNotifyEvent OnConnect;
    TSocketNotifyEvent OnDisconnect;

protected:
    void OpenSocket() override;
    void CloseSocket() override;
    virtual void NotifyConnect();
    virtual void NotifyDisconnect();

private:
    bool connected_ = false;
};

class TTcpClient : public TCustomIpClient {
public:
    explicit TTcpClient(TComponent* owner = nullptr) : TCustomIpClient(owner) {}
};

}  // namespace tarnwick
