#pragma once

// Every fixed text of the network layer: exception messages and status texts. Tests assert them
// byte for byte, so they live here and nowhere else. Formats take printf arguments.

namespace tarnwick::msg {

// Socket layer.
inline constexpr const char* kSocketError = "Socket Error # %d\r\n%s";
inline constexpr const char* kStackInitializationFailed = "Winsock Initialization Error.";
inline constexpr const char* kStackSetSizeExceeded = "Set Size Exceeded.";
inline constexpr const char* kStackNotCreated =
    "The socket stack does not exist: no network component is alive.";
inline constexpr const char* kCannotAllocateSocket = "Cannot allocate socket.";
inline constexpr const char* kCouldNotBindSocket =
    "Could not bind socket. Address and port are already in use.";
inline constexpr const char* kInvalidPortRange = "Invalid Port Range (%d - %d)";
inline constexpr const char* kCanNotBindPortInRange = "Can not bind in port range (%d - %d)";
inline constexpr const char* kAddressByteOutOfRange = "'%s' is not a valid address byte";
inline constexpr const char* kConnClosedGracefully = "Connection Closed Gracefully.";

// I/O handler.
inline constexpr const char* kConnectTimeout = "Connect timed out.";
inline constexpr const char* kClosedSocket = "Disconnected.";
// %d: the time the work was given, in whole seconds
inline constexpr const char* kDeadlineReached = "Not finished within %d seconds.";
inline constexpr const char* kSocksNotSupported =
    "Connecting through a SOCKS proxy is not supported.";

// Secure I/O handler (%s: the host, then OpenSSL's reason).
inline constexpr const char* kTLSFailed = "Secure connection to %s failed: %s";
inline constexpr const char* kTLSTrustFileFailed = "Cannot load the certificates of \"%s\": %s";
inline constexpr const char* kTLSPeerClosed = "the server closed the connection";
// Reported as hsStatusText after the handshake (%s: the protocol, then the cipher).
inline constexpr const char* kTLSSecured = "Secured with %s, %s.";

// Buffered connection.
inline constexpr const char* kNotConnected = "Not Connected";
inline constexpr const char* kAlreadyConnected = "Already connected.";
inline constexpr const char* kReadTimeout = "Read Timeout";
// %d: the stall limit in whole seconds
inline constexpr const char* kNoDataReceived = "No data received for %d seconds.";
inline constexpr const char* kMaxLineLengthExceeded = "Max line length exceeded.";
inline constexpr const char* kNoDataToRead = "No data to read.";
inline constexpr const char* kNotEnoughDataInBuffer = "Not enough data in buffer.";

// Streams (the download file and in-memory bodies).
inline constexpr const char* kFileOpenFailed = "Cannot open file \"%s\": %s";
inline constexpr const char* kFileWriteFailed = "Cannot write file \"%s\": %s";
inline constexpr const char* kFileReadFailed = "Cannot read file \"%s\": %s";
inline constexpr const char* kFileSizeFailed = "Cannot change the size of file \"%s\": %s";

// Status texts, filled with the status's argument.
inline constexpr const char* kStatusResolving = "Resolving hostname %s.";
inline constexpr const char* kStatusConnecting = "Connecting to %s.";
inline constexpr const char* kStatusConnected = "Connected.";
inline constexpr const char* kStatusDisconnecting = "Disconnecting.";
inline constexpr const char* kStatusDisconnected = "Disconnected.";
inline constexpr const char* kStatusText = "%s";

}  // namespace tarnwick::msg
