#pragma once

// The network exception family, rooted in EIdException. Each class carries its fixed English text
// (net/IdMessages.h); the layers above (the HTTP client) derive their own classes from these.
//
//   EIdException
//   ├─ EIdSilentException ─ EIdConnClosedGracefully      the connection is closed
//   ├─ EIdSocketError (SocketErrorCode)                   a failed socket call
//   ├─ EIdStackError ─ EIdStackInitializationFailed, EIdStackSetSizeExceeded
//   ├─ EIdInvalidSocket                                   socket creation failed
//   ├─ EIdSocketHandleError ─ EIdCouldNotBindSocket, EIdCanNotBindPortInRange,
//   │                         EIdInvalidPortRange
//   ├─ EIdConnectTimeout, EIdConnectException, EIdClosedSocket, EIdSocksNotSupported
//   ├─ EIdDeadlineReached                                 the work's deadline passed
//   ├─ EIdTLSError                                        a failed secure handshake or record
//   ├─ EIdTCPConnectionError ─ EIdNotConnected, EIdNoDataToRead, EIdNotEnoughDataInBuffer
//   ├─ EIdReadTimeout, EIdReadLnMaxLineLengthExceeded, EIdAlreadyConnected
//   ├─ EIdProtocolReplyError (ReplyErrorCode)             base of protocol status errors
//   └─ EIdStreamError                                     a file stream's system call failed

#include <cstdint>
#include <string>

#include "core/Exception.h"
#include "core/StrUtils.h"
#include "net/IdMessages.h"

namespace tarnwick {

class EIdSilentException : public EIdException {
public:
    using EIdException::EIdException;
};

class EIdConnClosedGracefully : public EIdSilentException {
public:
    EIdConnClosedGracefully() : EIdSilentException(msg::kConnClosedGracefully) {}

protected:
    // A body that ended early in another way, which a new connection may get past just as well.
    explicit EIdConnClosedGracefully(const std::string& message) : EIdSilentException(message) {}
};

// A failed socket call: the code (see TIdStack::SocketErrorText) and its formatted text.
class EIdSocketError : public EIdException {
public:
    EIdSocketError(std::int32_t code, std::string message)
        : EIdException(std::move(message)), code_(code) {}
    std::int32_t SocketErrorCode() const noexcept { return code_; }

private:
    std::int32_t code_;
};

class EIdStackError : public EIdException {
public:
    using EIdException::EIdException;
};

class EIdStackInitializationFailed : public EIdStackError {
public:
    EIdStackInitializationFailed() : EIdStackError(msg::kStackInitializationFailed) {}
};

class EIdStackSetSizeExceeded : public EIdStackError {
public:
    EIdStackSetSizeExceeded() : EIdStackError(msg::kStackSetSizeExceeded) {}
};

class EIdInvalidSocket : public EIdException {
public:
    EIdInvalidSocket() : EIdException(msg::kCannotAllocateSocket) {}
};

class EIdSocketHandleError : public EIdException {
public:
    using EIdException::EIdException;
};

class EIdCouldNotBindSocket : public EIdSocketHandleError {
public:
    EIdCouldNotBindSocket() : EIdSocketHandleError(msg::kCouldNotBindSocket) {}
};

class EIdCanNotBindPortInRange : public EIdSocketHandleError {
public:
    EIdCanNotBindPortInRange(int min, int max)
        : EIdSocketHandleError(Format(msg::kCanNotBindPortInRange, min, max)) {}
};

class EIdInvalidPortRange : public EIdSocketHandleError {
public:
    EIdInvalidPortRange(int min, int max)
        : EIdSocketHandleError(Format(msg::kInvalidPortRange, min, max)) {}
};

class EIdConnectTimeout : public EIdException {
public:
    EIdConnectTimeout() : EIdException(msg::kConnectTimeout) {}
};

// The deadline of the work under way (see TIdDeadline) passed during a connect or a read;
// milliseconds is the whole time the work was given. No read timeout: a new connection would not
// get past it.
class EIdDeadlineReached : public EIdException {
public:
    explicit EIdDeadlineReached(std::int32_t milliseconds)
        : EIdException(
              Format(msg::kDeadlineReached, static_cast<int>((milliseconds + 999) / 1000))) {}
};

// A connect under a time limit failed; the message is that of the failure.
class EIdConnectException : public EIdException {
public:
    using EIdException::EIdException;
};

class EIdClosedSocket : public EIdException {
public:
    EIdClosedSocket() : EIdException(msg::kClosedSocket) {}
};

class EIdSocksNotSupported : public EIdException {
public:
    EIdSocksNotSupported() : EIdException(msg::kSocksNotSupported) {}
};

// The secure transport failed: the handshake (an untrusted or mismatching certificate, no common
// protocol) or a record afterwards. The message names the host and OpenSSL's reason.
class EIdTLSError : public EIdException {
public:
    using EIdException::EIdException;
};

class EIdTCPConnectionError : public EIdException {
public:
    using EIdException::EIdException;
};

class EIdNotConnected : public EIdTCPConnectionError {
public:
    EIdNotConnected() : EIdTCPConnectionError(msg::kNotConnected) {}
};

class EIdNoDataToRead : public EIdTCPConnectionError {
public:
    EIdNoDataToRead() : EIdTCPConnectionError(msg::kNoDataToRead) {}
};

class EIdNotEnoughDataInBuffer : public EIdTCPConnectionError {
public:
    EIdNotEnoughDataInBuffer() : EIdTCPConnectionError(msg::kNotEnoughDataInBuffer) {}
};

class EIdReadTimeout : public EIdException {
public:
    EIdReadTimeout() : EIdException(msg::kReadTimeout) {}

protected:
    explicit EIdReadTimeout(std::string message) : EIdException(std::move(message)) {}
};

// A read that waited the connection's StallTimeout without receiving a byte.
class EIdStallTimeout : public EIdReadTimeout {
public:
    explicit EIdStallTimeout(std::int32_t milliseconds)
        : EIdReadTimeout(Format(msg::kNoDataReceived, static_cast<int>(milliseconds / 1000))) {}
};

class EIdReadLnMaxLineLengthExceeded : public EIdException {
public:
    EIdReadLnMaxLineLengthExceeded() : EIdException(msg::kMaxLineLengthExceeded) {}
};

class EIdAlreadyConnected : public EIdException {
public:
    EIdAlreadyConnected() : EIdException(msg::kAlreadyConnected) {}
};

// A protocol answered with an error status; carries the numeric reply code.
class EIdProtocolReplyError : public EIdException {
public:
    EIdProtocolReplyError(std::int32_t code, std::string message)
        : EIdException(std::move(message)), code_(code) {}
    std::int32_t ReplyErrorCode() const noexcept { return code_; }

private:
    std::int32_t code_;
};

class EIdStreamError : public EIdException {
public:
    using EIdException::EIdException;
};

}  // namespace tarnwick
