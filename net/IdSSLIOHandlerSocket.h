#pragma once

// The secure I/O handler: TLS 1.2 or 1.3 over OpenSSL on the socket of TIdIOHandlerSocket. The
// server's certificate chain must lead to a certificate of the system's trust store (or of
// SSLOptions.RootCertFile) and name the host: a host name is checked against the certificate's
// DNS names, a dotted quad against its IP addresses. There is no way to accept a certificate that
// fails, and no fallback to an unverified or older protocol.
//
// ConnectTo connects the socket and, unless PassThrough is set, makes the handshake at once, so a
// failure is raised before a single request byte is sent. With PassThrough set the handler moves
// plain bytes (a proxy's CONNECT exchange) until StartSSL makes the handshake on the open socket.
//
// Threads: one thread connects, reads and writes; only that thread touches the TLS state. The
// handler's socket may be closed from another thread (CloseHandler, the user's abort) while that
// thread waits in the handshake, a read or a write: the socket is shut down, which ends the wait
// at once, and the call raises EIdClosedSocket "Disconnected.". No close_notify is sent on a
// close: it could not be written without touching the TLS state from the closing thread, and the
// HTTP framing does not need it.
//
// The body path copies each decrypted byte once, into the caller's buffer (the connection's input
// buffer), and allocates nothing per receive.

#include <cstddef>
#include <memory>
#include <string>

#include "net/IdIOHandlerSocket.h"

// OpenSSL's types, without its headers in every user of the handler.
struct ssl_ctx_st;
struct ssl_st;
struct bio_st;

namespace tarnwick {

struct TIdSSLOptions {
    // A PEM file of certificates trusted in addition to the system's store (private servers,
    // tests); empty for the system's store alone.
    std::string RootCertFile;
};

class TIdSSLIOHandlerSocket : public TIdIOHandlerSocket {
public:
    explicit TIdSSLIOHandlerSocket(TComponent* owner = nullptr);
    ~TIdSSLIOHandlerSocket() override;

    // Settings; change them only between connects.
    TIdSSLOptions SSLOptions;
    // True: ConnectTo leaves the connection plain, for StartSSL later.
    bool PassThrough = false;
    // The name the certificate must carry and the handshake announces (server name indication);
    // empty: the host given to ConnectTo. Set it when the socket goes to a proxy.
    std::string URIHost;

    // Connects as TIdIOHandlerSocket does, then (without PassThrough) makes the handshake. A
    // failed handshake or verification raises EIdTLSError "Secure connection to <host> failed:
    // <reason>" (say "certificate verify failed: self-signed certificate in certificate chain");
    // an unreadable RootCertFile raises EIdTLSError "Cannot load the certificates of ...". A
    // connect time-out above 0 bounds the handshake too (EIdConnectTimeout). The socket stays
    // allocated after a failure; the connection closes it. A completed handshake is reported as
    // hsStatusText "Secured with <protocol>, <cipher>.".
    void ConnectTo(const std::string& host, int port, const std::string& bound_ip, int bound_port,
                   int bound_port_min, int bound_port_max, int timeout) override;
    // Makes the handshake on the open socket for host (URIHost when set) and clears PassThrough.
    // Raises as ConnectTo.
    void StartSSL(const std::string& host, int timeout = 0);
    // Forgets the TLS state of the previous connection, then the socket.
    void OpenHandler() override;

    // True at once when decrypted or undecrypted bytes are already held by the TLS state.
    bool WaitReadable(int timeout) override;
    // Decrypted bytes, as many as are there without waiting further once one has come (at most
    // length); 0 when the server has closed (with or without close_notify). Raises
    // EIdClosedSocket after a close by CloseHandler and EIdTLSError for a broken record.
    int ReceiveInto(void* buffer, int length) override;
    // As ReceiveInto without waiting at all: kNothingReady when no whole record has come.
    int ReceiveReady(void* buffer, int length) override;
    // Encrypts and sends all of buffer: length, or raises EIdClosedSocket / EIdTLSError /
    // EIdSocketError.
    int SendFrom(const void* buffer, int length) override;

    // True while the connection is secured.
    bool Secured() const noexcept { return secured_; }
    // The negotiated protocol ("TLSv1.3") and cipher ("TLS_AES_256_GCM_SHA384"); empty when not
    // secured.
    std::string ProtocolName() const;
    std::string CipherName() const;

private:
    struct SSLDeleter {
        void operator()(ssl_st* ssl) const noexcept;
        void operator()(ssl_ctx_st* context) const noexcept;
    };
    enum class TReceive { kWait, kNoWait };

    // The context, made on the first secure connect with the trust settings of that moment.
    ssl_ctx_st* Context();
    int Receive(void* buffer, int length, TReceive mode);
    // Waits until the socket is readable (a deadline in ms from now, or -1 for none): false past
    // the deadline; raises EIdClosedSocket when the socket is gone.
    bool AwaitReadable(int timeout);
    // Waits for the rest of a record, at most StallLimit ms (EIdStallTimeout) and never past the
    // Deadline (EIdDeadlineReached).
    void AwaitRestOfRecord();
    [[noreturn]] void RaiseFailure(const std::string& reason) const;
    // OpenSSL's reason for the failure just seen (the error queue, the verification result, or
    // what the socket saw), emptying the thread's error queue.
    std::string FailureReason();

    // The socket as OpenSSL's transport: reads never wait (OpenSSL asks again after a wait here),
    // writes block until the socket took the bytes.
    static int BioWrite(bio_st* bio, const char* data, std::size_t length, std::size_t* written);
    static int BioRead(bio_st* bio, char* data, std::size_t length, std::size_t* read);
    static long BioControl(bio_st* bio, int command, long number, void* pointer);
    // What a socket call's count n means to OpenSSL: bytes moved (1, with done set), the peer's
    // close, a retry, or a failure kept for FailureReason (all 0).
    int BioOutcome(bio_st* bio, int n, std::size_t* done, bool reading);

    std::unique_ptr<ssl_ctx_st, SSLDeleter> context_;
    std::string context_file_;  // the RootCertFile the context trusts
    std::unique_ptr<ssl_st, SSLDeleter> ssl_;
    std::string host_;         // the name of the current connection, for messages
    bool secured_ = false;
    bool peer_closed_ = false;  // the socket gave 0 bytes: the server's close (or the user's)
    int socket_error_ = 0;      // the last failed receive or send of the transport
};

}  // namespace tarnwick
