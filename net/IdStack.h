#pragma once

// The socket stack: one process-wide object that wraps each socket call, resolves host names and
// turns failed calls into EIdSocketError. IPv4 and blocking stream sockets only.
//
// Calls carry no lock. The error code of a failed call is kept per thread (LastSocketError), so an
// exception always carries the code of the calling thread's own call.

#include <array>
#include <atomic>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

namespace tarnwick {

using TIdStackSocketHandle = int;
inline constexpr TIdStackSocketHandle Id_INVALID_SOCKET = -1;
inline constexpr int Id_SOCKET_ERROR = -1;

// Numbers of the socket interface as the layers above pass them.
inline constexpr int Id_PF_INET = 2;
inline constexpr int Id_SOCK_STREAM = 1;
inline constexpr int Id_IPPROTO_TCP = 6;
inline constexpr int Id_TCP_NODELAY = 1;
inline constexpr int Id_SD_Send = 1;
inline constexpr int Id_SD_Both = 2;

// Timeouts in milliseconds: no limit, and the caller's default (0 polls once).
inline constexpr int IdTimeoutInfinite = -2;
inline constexpr int IdTimeoutDefault = -1;

// Socket error codes the layers test for by number (the full list is SocketErrorText's table).
inline constexpr std::int32_t Id_WSAEBADF = 10009;
inline constexpr std::int32_t Id_WSAEWOULDBLOCK = 10035;
inline constexpr std::int32_t Id_WSAEINPROGRESS = 10036;
inline constexpr std::int32_t Id_WSAENOTSOCK = 10038;
inline constexpr std::int32_t Id_WSAEADDRINUSE = 10048;
inline constexpr std::int32_t Id_WSAECONNABORTED = 10053;
inline constexpr std::int32_t Id_WSAECONNRESET = 10054;
inline constexpr std::int32_t Id_WSAENOBUFS = 10055;
inline constexpr std::int32_t Id_WSAESHUTDOWN = 10058;
inline constexpr std::int32_t Id_WSAHOST_NOT_FOUND = 11001;
inline constexpr std::int32_t Id_WSATRY_AGAIN = 11002;
inline constexpr std::int32_t Id_WSANO_RECOVERY = 11003;

// The one mapping of errno values onto socket error codes (EINTR 10004, ECONNREFUSED 10061, ...).
// A value without a counterpart is returned unchanged.
std::int32_t SocketErrorFromErrno(int error) noexcept;

// The largest number of handles one SocketSelect list may hold.
inline constexpr std::size_t IdMaxSelectHandles = 64;

class TIdStack {
public:
    TIdStack() = default;
    virtual ~TIdStack() = default;
    TIdStack(const TIdStack&) = delete;
    TIdStack& operator=(const TIdStack&) = delete;

    // "LOCALHOST" in any letter case gives "127.0.0.1" and a dotted quad gives itself, both without
    // a lookup; any other host goes to LookupHost. Raises EIdSocketError (11001 "Host not found."
    // for a name that does not exist) when the lookup gives no address.
    std::string ResolveHostName(std::string_view host);

    // True for four dot-separated parts, each a whole integer from 0 to 255.
    static bool IsDottedQuad(std::string_view text);

    // A socket of the Internet family; Id_INVALID_SOCKET on failure.
    TIdStackSocketHandle CreateStreamSocket(int type, int protocol);

    // False when result is not -1. Otherwise reads this thread's LastSocketError, stores it as
    // LastError and returns true when it is one of tolerated; any other code raises EIdSocketError.
    bool CheckSocketResult(int result, std::initializer_list<std::int32_t> tolerated = {});

    // Raises EIdSocketError with code and SocketErrorText(code).
    [[noreturn]] void RaiseSocketFailure(std::int32_t code) const;

    // "Socket Error # <code>\r\n<text of the code's row>"; the text is empty for unlisted codes.
    std::string SocketErrorText(std::int32_t code) const;

    // The code CheckSocketResult saw last, on any thread: a convenience copy only.
    std::int32_t LastError() const noexcept { return last_error_.load(std::memory_order_relaxed); }

    // "a.b.c.d" from four bytes in order.
    static std::string AddressToText(const std::array<std::uint8_t, 4>& address);
    // The text cut at "." into four parts, each a decimal integer from 0 to 255. Anything else
    // (a missing or extra part, a part that is no number or out of range) raises EConvertError:
    // "'<part>' is not a valid integer value" or "'<part>' is not a valid address byte".
    static std::array<std::uint8_t, 4> TextToAddress(std::string_view text);

    // The primitives: one system call each, the system's result unchanged (-1 on failure, with
    // the code available from LastSocketError). Handles are file descriptors.

    // The first IPv4 address of the name, dotted; empty when there is none.
    virtual std::string LookupHost(std::string_view name) = 0;
    virtual TIdStackSocketHandle SocketCreate(int family, int type, int protocol) = 0;
    // An empty ip binds to any address; port in host order, 0 lets the system choose.
    virtual int SocketBind(TIdStackSocketHandle handle, int family, int port,
                           std::string_view ip) = 0;
    // Blocks until the connection is made or has failed.
    virtual int SocketConnect(TIdStackSocketHandle handle, int family, int port,
                              std::string_view ip) = 0;
    // A count of bytes, 0 when the peer has closed, -1 on failure.
    virtual int SocketRecv(TIdStackSocketHandle handle, void* buffer, int length, int flags) = 0;
    // May send fewer bytes than asked. A peer's close never raises a signal.
    virtual int SocketSend(TIdStackSocketHandle handle, const void* buffer, int length,
                           int flags) = 0;
    virtual int SocketShutdown(TIdStackSocketHandle handle, int how) = 0;
    virtual int SocketClose(TIdStackSocketHandle handle) = 0;
    virtual int SocketSetOption(TIdStackSocketHandle handle, int level, int name,
                                const void* value, int length) = 0;
    // Family, dotted address and port of the socket's own end / of its peer; raise
    // EIdSocketError on failure.
    virtual void SocketLocalName(TIdStackSocketHandle handle, int& family, std::string& ip,
                                 int& port) = 0;
    virtual void SocketPeerName(TIdStackSocketHandle handle, int& family, std::string& ip,
                                int& port) = 0;
    // Waits until a handle of a list is ready: readable, writable, or with urgent data. Lists may
    // be null. Timeout in ms: negative (IdTimeoutInfinite) waits without limit, 0 polls once.
    // A list of more than 64 handles raises EIdStackSetSizeExceeded. Afterwards each list holds
    // the handles found ready. Returns their count, 0 on timeout, -1 on failure.
    virtual int SocketSelect(std::vector<TIdStackSocketHandle>* read,
                             std::vector<TIdStackSocketHandle>* write, int timeout,
                             std::vector<TIdStackSocketHandle>* error) = 0;
    // The code of this thread's most recent failed call.
    virtual std::int32_t LastSocketError() const = 0;

protected:
    // The text of the code's row in the error table, or null.
    virtual const char* ErrorMessage(std::int32_t code) const;

private:
    std::atomic<std::int32_t> last_error_{0};
};

// The process-wide stack. It exists while at least one TIdComponent lives; raises EIdStackError
// otherwise.
TIdStack& GStack();

// Create and destroy the process-wide stack; called by TIdComponent's live count under its lock.
void InstallStack();
void RemoveStack();

}  // namespace tarnwick
