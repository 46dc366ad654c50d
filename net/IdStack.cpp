#include "net/IdStack.h"

#include <algorithm>
#include <cerrno>
#include <memory>
#include <mutex>

#include "core/StrUtils.h"
#include "net/IdExceptions.h"
#include "net/IdStackLinux.h"

namespace tarnwick {

std::int32_t SocketErrorFromErrno(int error) noexcept {
    switch (error) {
        case EINTR: return 10004;
        case EBADF: return 10009;
        case EACCES: return 10013;
        case EFAULT: return 10014;
        case EINVAL: return 10022;
        case EMFILE: return 10024;
        case EAGAIN: return 10035;  // EWOULDBLOCK is the same value
        case EINPROGRESS: return 10036;
        case EALREADY: return 10037;
        case ENOTSOCK: return 10038;
        case EDESTADDRREQ: return 10039;
        case EMSGSIZE: return 10040;
        case EPROTOTYPE: return 10041;
        case ENOPROTOOPT: return 10042;
        case EPROTONOSUPPORT: return 10043;
        case ESOCKTNOSUPPORT: return 10044;
        case EOPNOTSUPP: return 10045;
        case EPFNOSUPPORT: return 10046;
        case EAFNOSUPPORT: return 10047;
        case EADDRINUSE: return 10048;
        case EADDRNOTAVAIL: return 10049;
        case ENETDOWN: return 10050;
        case ENETUNREACH: return 10051;
        case ENETRESET: return 10052;
        case ECONNABORTED: return 10053;
        case ECONNRESET: return 10054;
        case ENOBUFS: return 10055;
        case EISCONN: return 10056;
        case ENOTCONN: return 10057;
        case ESHUTDOWN:
        case EPIPE: return 10058;
        case ETOOMANYREFS: return 10059;
        case ETIMEDOUT: return 10060;
        case ECONNREFUSED: return 10061;
        case ELOOP: return 10062;
        case ENAMETOOLONG: return 10063;
        case EHOSTDOWN: return 10064;
        case EHOSTUNREACH: return 10065;
        case ENOTEMPTY: return 10066;
        default: return error;
    }
}

std::string TIdStack::ResolveHostName(std::string_view host) {
    if (SameText(host, "LOCALHOST")) return "127.0.0.1";
    if (IsDottedQuad(host)) return std::string(host);
    std::string address = LookupHost(host);
    if (address.empty()) CheckSocketResult(Id_SOCKET_ERROR);
    return address;
}

namespace {

// Cuts text at its first "." and returns the part before it; without a dot, returns the whole text
// and leaves nothing.
std::string_view CutAtDot(std::string_view& text) {
    const auto dot = text.find('.');
    std::string_view part = text.substr(0, dot);
    text = dot == std::string_view::npos ? std::string_view() : text.substr(dot + 1);
    return part;
}

// The four parts of a dotted address; the fourth keeps any further dots.
std::array<std::string_view, 4> DottedParts(std::string_view text) {
    std::array<std::string_view, 4> parts;
    for (int i = 0; i < 3; ++i) parts[i] = CutAtDot(text);
    parts[3] = text;
    return parts;
}

}  // namespace

bool TIdStack::IsDottedQuad(std::string_view text) {
    for (std::string_view part : DottedParts(text)) {
        const auto value = TryStrToInt(part);
        if (!value || *value < 0 || *value > 255) return false;
    }
    return true;
}

TIdStackSocketHandle TIdStack::CreateStreamSocket(int type, int protocol) {
    return SocketCreate(Id_PF_INET, type, protocol);
}

bool TIdStack::CheckSocketResult(int result, std::initializer_list<std::int32_t> tolerated) {
    if (result != Id_SOCKET_ERROR) return false;
    const std::int32_t code = LastSocketError();
    last_error_.store(code, std::memory_order_relaxed);
    if (std::find(tolerated.begin(), tolerated.end(), code) != tolerated.end()) return true;
    RaiseSocketFailure(code);
}

void TIdStack::RaiseSocketFailure(std::int32_t code) const {
    throw EIdSocketError(code, SocketErrorText(code));
}

std::string TIdStack::SocketErrorText(std::int32_t code) const {
    const char* text = ErrorMessage(code);
    return Format(msg::kSocketError, static_cast<int>(code), text ? text : "");
}

const char* TIdStack::ErrorMessage(std::int32_t code) const {
    switch (code) {
        case 10004: return "Interrupted system call.";
        case 10009: return "Bad file number.";
        case 10013: return "Access denied.";
        case 10014: return "Bad address.";
        case 10022: return "Invalid argument.";
        case 10024: return "Too many open files.";
        case 10035: return "Operation would block. ";
        case 10036: return "Operation now in progress.";
        case 10037: return "Operation already in progress.";
        case 10038: return "Socket operation on non-socket.";
        case 10039: return "Destination address required.";
        case 10040: return "Message too long.";
        case 10041: return "Protocol wrong type for socket.";
        case 10042: return "Bad protocol option.";
        case 10043: return "Protocol not supported.";
        case 10044: return "Socket type not supported.";
        case 10045: return "Operation not supported on socket.";
        case 10046: return "Protocol family not supported.";
        case 10047: return "Address family not supported by protocol family.";
        case 10048: return "Address already in use.";
        case 10049: return "Cannot assign requested address.";
        case 10050: return "Network is down.";
        case 10051: return "Network is unreachable.";
        case 10052: return "Net dropped connection or reset.";
        case 10053: return "Software caused connection abort.";
        case 10054: return "Connection reset by peer.";
        case 10055: return "No buffer space available.";
        case 10056: return "Socket is already connected.";
        case 10057: return "Socket is not connected.";
        case 10058: return "Cannot send or receive after socket is closed.";
        case 10059: return "Too many references, cannot splice.";
        case 10060: return "Connection timed out.";
        case 10061: return "Connection refused.";
        case 10062: return "Too many levels of symbolic links.";
        case 10063: return "File name too long.";
        case 10064: return "Host is down.";
        case 10065: return "No route to host.";
        case 10066: return "Directory not empty";
        default: return nullptr;
    }
}

std::string TIdStack::AddressToText(const std::array<std::uint8_t, 4>& address) {
    return Format("%u.%u.%u.%u", address[0], address[1], address[2], address[3]);
}

std::array<std::uint8_t, 4> TIdStack::TextToAddress(std::string_view text) {
    std::array<std::uint8_t, 4> address{};
    const auto parts = DottedParts(text);
    for (std::size_t i = 0; i < parts.size(); ++i) {
        const std::int32_t value = StrToInt(parts[i]);
        // Storing only the low bits of a larger number would name another host.
        if (value < 0 || value > 255)
            throw EConvertError(Format(msg::kAddressByteOutOfRange, std::string(parts[i]).c_str()));
        address[i] = static_cast<std::uint8_t>(value);
    }
    return address;
}

namespace {

std::mutex g_stack_mutex;
std::unique_ptr<TIdStack> g_stack_owner;
std::atomic<TIdStack*> g_stack{nullptr};

}  // namespace

TIdStack& GStack() {
    TIdStack* stack = g_stack.load(std::memory_order_acquire);
    if (!stack) throw EIdStackError(msg::kStackNotCreated);
    return *stack;
}

void InstallStack() {
    std::lock_guard lock(g_stack_mutex);
    g_stack_owner = std::make_unique<TIdStackLinux>();
    g_stack.store(g_stack_owner.get(), std::memory_order_release);
}

void RemoveStack() {
    std::lock_guard lock(g_stack_mutex);
    g_stack.store(nullptr, std::memory_order_release);
    g_stack_owner.reset();
}

}  // namespace tarnwick
