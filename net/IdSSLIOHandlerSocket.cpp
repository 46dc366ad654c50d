#include "net/IdSSLIOHandlerSocket.h"

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <chrono>
#include <climits>

#include "net/IdExceptions.h"
#include "net/IdStack.h"

namespace tarnwick {

namespace {

// One method table for every handler's transport, made on first use.
BIO_METHOD* SocketBioMethod(int (*write)(BIO*, const char*, size_t, size_t*),
                            int (*read)(BIO*, char*, size_t, size_t*),
                            long (*control)(BIO*, int, long, void*)) {
    struct Free {
        void operator()(BIO_METHOD* method) const noexcept { BIO_meth_free(method); }
    };
    static const std::unique_ptr<BIO_METHOD, Free> method = [&] {
        std::unique_ptr<BIO_METHOD, Free> made(
            BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "tarnwick socket"));
        if (made) {
            BIO_meth_set_write_ex(made.get(), write);
            BIO_meth_set_read_ex(made.get(), read);
            BIO_meth_set_ctrl(made.get(), control);
        }
        return made;
    }();
    return method.get();
}

int ClampedLength(std::size_t length) {
    return static_cast<int>(std::min<std::size_t>(length, INT_MAX));
}

}  // namespace

void TIdSSLIOHandlerSocket::SSLDeleter::operator()(ssl_st* ssl) const noexcept { SSL_free(ssl); }

void TIdSSLIOHandlerSocket::SSLDeleter::operator()(ssl_ctx_st* context) const noexcept {
    SSL_CTX_free(context);
}

TIdSSLIOHandlerSocket::TIdSSLIOHandlerSocket(TComponent* owner) : TIdIOHandlerSocket(owner) {}

TIdSSLIOHandlerSocket::~TIdSSLIOHandlerSocket() = default;

ssl_ctx_st* TIdSSLIOHandlerSocket::Context() {
    if (context_ && context_file_ == SSLOptions.RootCertFile) return context_.get();
    context_.reset(SSL_CTX_new(TLS_client_method()));
    context_file_.clear();
    SSL_CTX* context = context_.get();
    if (!context || SSL_CTX_set_min_proto_version(context, TLS1_2_VERSION) != 1 ||
        SSL_CTX_set_max_proto_version(context, TLS1_3_VERSION) != 1 ||
        // The system store as its hashed directory: an issuer is read when a chain needs it,
        // instead of the whole bundle file at every start.
        SSL_CTX_load_verify_dir(context, X509_get_default_cert_dir()) != 1) {
        const std::string reason = FailureReason();
        context_.reset();
        RaiseFailure(reason);
    }
    // A server that asks to renegotiate is refused rather than answered in the middle of a read.
    SSL_CTX_set_options(context, SSL_OP_NO_RENEGOTIATION | SSL_OP_NO_COMPRESSION);
    SSL_CTX_set_verify(context, SSL_VERIFY_PEER, nullptr);
    // Whole socket reads instead of a header and a body receive per record.
    SSL_CTX_set_read_ahead(context, 1);
    if (!SSLOptions.RootCertFile.empty() &&
        SSL_CTX_load_verify_file(context, SSLOptions.RootCertFile.c_str()) != 1) {
        const std::string reason = FailureReason();
        context_.reset();
        throw EIdTLSError(
            Format(msg::kTLSTrustFileFailed, SSLOptions.RootCertFile.c_str(), reason.c_str()));
    }
    context_file_ = SSLOptions.RootCertFile;
    return context;
}

void TIdSSLIOHandlerSocket::OpenHandler() {
    ssl_.reset();
    secured_ = false;
    peer_closed_ = false;
    socket_error_ = 0;
    TIdIOHandlerSocket::OpenHandler();
}

void TIdSSLIOHandlerSocket::ConnectTo(const std::string& host, int port,
                                      const std::string& bound_ip, int bound_port,
                                      int bound_port_min, int bound_port_max, int timeout) {
    ssl_.reset();
    secured_ = false;
    peer_closed_ = false;
    socket_error_ = 0;
    TIdIOHandlerSocket::ConnectTo(host, port, bound_ip, bound_port, bound_port_min,
                                  bound_port_max, timeout);
    if (!PassThrough) StartSSL(host, timeout);
}

void TIdSSLIOHandlerSocket::StartSSL(const std::string& host, int timeout) {
    if (!HandlerConnected()) throw EIdClosedSocket();
    host_ = URIHost.empty() ? host : URIHost;
    ERR_clear_error();
    ssl_.reset(SSL_new(Context()));
    SSL* ssl = ssl_.get();
    BIO* bio = ssl ? BIO_new(SocketBioMethod(BioWrite, BioRead, BioControl)) : nullptr;
    if (!bio) RaiseFailure(FailureReason());
    BIO_set_data(bio, this);
    BIO_set_init(bio, 1);
    SSL_set_bio(ssl, bio, bio);  // the SSL object owns the transport now

    X509_VERIFY_PARAM* param = SSL_get0_param(ssl);
    bool named;
    if (TIdStack::IsDottedQuad(host_)) {
        // An address is matched against the certificate's IP entries, and is no server name.
        named = X509_VERIFY_PARAM_set1_ip_asc(param, host_.c_str()) == 1;
    } else {
        X509_VERIFY_PARAM_set_hostflags(param, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
        named = X509_VERIFY_PARAM_set1_host(param, host_.c_str(), host_.size()) == 1 &&
                SSL_set_tlsext_host_name(ssl, host_.c_str()) == 1;
    }
    if (!named) RaiseFailure(FailureReason());

    // The handshake is part of the connect: a server that never answers it is bounded like one
    // that never accepts.
    const int limit = timeout > 0 ? timeout : ConnectLimit;
    const bool limited = limit > 0;
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(limited ? limit : 0);
    for (;;) {
        ERR_clear_error();
        const int result = SSL_connect(ssl);
        if (result == 1) break;
        const int error = SSL_get_error(ssl, result);
        if (error == SSL_ERROR_WANT_READ) {
            int wait = -1;
            if (limited) {
                const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                    deadline - std::chrono::steady_clock::now());
                if (left.count() <= 0) throw EIdConnectTimeout();
                wait = static_cast<int>(left.count());
            }
            if (!AwaitReadable(wait)) throw EIdConnectTimeout();
            continue;
        }
        if (!HandlerConnected()) throw EIdClosedSocket();
        RaiseFailure(FailureReason());
    }
    secured_ = true;
    PassThrough = false;
    ReportStatus(hsStatusText, Format(msg::kTLSSecured, ProtocolName().c_str(),
                                      CipherName().c_str()));
}

bool TIdSSLIOHandlerSocket::AwaitReadable(int timeout) {
    bool readable;
    try {
        readable = TIdIOHandlerSocket::WaitReadable(timeout < 0 ? IdTimeoutInfinite : timeout);
    } catch (const EIdConnClosedGracefully&) {
        throw EIdClosedSocket();  // the socket went under the wait
    }
    if (!HandlerConnected()) throw EIdClosedSocket();
    return readable;
}

void TIdSSLIOHandlerSocket::AwaitRestOfRecord() {
    // A server that sends part of a record and then nothing must not hold the reader for ever,
    // nor one that sends it a byte at a time hold it past the deadline.
    Deadline.Check();
    bool cut = false;
    if (!AwaitReadable(Deadline.Cut(StallLimit > 0 ? StallLimit : -1, cut))) {
        if (cut) Deadline.Raise();
        throw EIdStallTimeout(StallLimit);
    }
}

bool TIdSSLIOHandlerSocket::WaitReadable(int timeout) {
    if (secured_ && (SSL_pending(ssl_.get()) > 0 || SSL_has_pending(ssl_.get()) == 1))
        return true;
    return TIdIOHandlerSocket::WaitReadable(timeout);
}

int TIdSSLIOHandlerSocket::ReceiveInto(void* buffer, int length) {
    return Receive(buffer, length, TReceive::kWait);
}

int TIdSSLIOHandlerSocket::ReceiveReady(void* buffer, int length) {
    return Receive(buffer, length, TReceive::kNoWait);
}

int TIdSSLIOHandlerSocket::Receive(void* buffer, int length, TReceive mode) {
    if (!secured_) {
        return mode == TReceive::kWait ? TIdIOHandlerSocket::ReceiveInto(buffer, length)
                                       : TIdIOHandlerSocket::ReceiveReady(buffer, length);
    }
    if (!HandlerConnected()) throw EIdClosedSocket();
    auto* bytes = static_cast<char*>(buffer);
    const auto wanted = static_cast<std::size_t>(std::max(length, 0));
    std::size_t total = 0;
    // A record holds at most 16 KiB: reading on while whole records are there fills the caller's
    // block, and a full block tells the connection to come back without a wait.
    while (total < wanted) {
        ERR_clear_error();
        std::size_t got = 0;
        if (SSL_read_ex(ssl_.get(), bytes + total, wanted - total, &got) == 1) {
            total += got;
            continue;
        }
        const int error = SSL_get_error(ssl_.get(), 0);
        if (error == SSL_ERROR_WANT_READ) {
            if (total > 0) break;
            if (mode == TReceive::kNoWait) return kNothingReady;
            AwaitRestOfRecord();
            continue;
        }
        if (total > 0) break;  // what came is delivered; the failure shows at the next receive
        if (!HandlerConnected()) throw EIdClosedSocket();
        // A close without close_notify ends the stream like a plain close: the HTTP framing,
        // not the TLS one, says whether a body is complete.
        if (error == SSL_ERROR_ZERO_RETURN || peer_closed_) {
            ERR_clear_error();
            return 0;
        }
        // A failed receive of the socket is reported as one, with this thread's error code.
        if (socket_error_ != 0) {
            ERR_clear_error();
            return -1;
        }
        RaiseFailure(FailureReason());
    }
    return static_cast<int>(total);
}

int TIdSSLIOHandlerSocket::SendFrom(const void* buffer, int length) {
    if (!secured_) return TIdIOHandlerSocket::SendFrom(buffer, length);
    if (!HandlerConnected()) throw EIdClosedSocket();
    for (;;) {
        ERR_clear_error();
        std::size_t written = 0;
        if (SSL_write_ex(ssl_.get(), buffer, static_cast<std::size_t>(std::max(length, 0)),
                         &written) == 1)
            return static_cast<int>(written);
        const int error = SSL_get_error(ssl_.get(), 0);
        if (!HandlerConnected()) throw EIdClosedSocket();
        if (error == SSL_ERROR_WANT_READ) {
            AwaitRestOfRecord();
            continue;
        }
        ERR_clear_error();
        if (socket_error_ != 0) return -1;
        if (peer_closed_ || error == SSL_ERROR_ZERO_RETURN) return 0;
        RaiseFailure(FailureReason());
    }
}

std::string TIdSSLIOHandlerSocket::ProtocolName() const {
    return secured_ ? SSL_get_version(ssl_.get()) : "";
}

std::string TIdSSLIOHandlerSocket::CipherName() const {
    if (!secured_) return "";
    const char* name = SSL_get_cipher_name(ssl_.get());
    return name ? name : "";
}

void TIdSSLIOHandlerSocket::RaiseFailure(const std::string& reason) const {
    throw EIdTLSError(Format(msg::kTLSFailed, host_.c_str(), reason.c_str()));
}

std::string TIdSSLIOHandlerSocket::FailureReason() {
    std::string reason;
    if (const unsigned long error = ERR_get_error(); error != 0) {
        if (const char* text = ERR_reason_error_string(error)) {
            reason = text;
        } else {
            char buffer[256];
            ERR_error_string_n(error, buffer, sizeof buffer);
            reason = buffer;
        }
    }
    ERR_clear_error();
    if (const long verify = ssl_ ? SSL_get_verify_result(ssl_.get()) : X509_V_OK;
        verify != X509_V_OK) {
        if (!reason.empty()) reason += ": ";
        reason += X509_verify_cert_error_string(verify);
    }
    if (!reason.empty()) return reason;
    if (peer_closed_) return msg::kTLSPeerClosed;
    if (socket_error_ != 0) return GStack().SocketErrorText(socket_error_);
    return "unknown failure";
}

int TIdSSLIOHandlerSocket::BioWrite(BIO* bio, const char* data, size_t length, size_t* written) {
    auto* self = static_cast<TIdSSLIOHandlerSocket*>(BIO_get_data(bio));
    BIO_clear_retry_flags(bio);
    return self->BioOutcome(bio, self->SocketHandle().Send(data, ClampedLength(length)), written,
                            false);
}

int TIdSSLIOHandlerSocket::BioRead(BIO* bio, char* data, size_t length, size_t* read) {
    auto* self = static_cast<TIdSSLIOHandlerSocket*>(BIO_get_data(bio));
    BIO_clear_retry_flags(bio);
    // Never a wait inside OpenSSL: the handler waits itself, where the user's close can end it.
    return self->BioOutcome(bio, self->SocketHandle().ReceiveReady(data, ClampedLength(length)),
                            read, true);
}

int TIdSSLIOHandlerSocket::BioOutcome(BIO* bio, int n, std::size_t* done, bool reading) {
    if (n > 0) {
        *done = static_cast<std::size_t>(n);
        return 1;
    }
    if (n == 0) {
        peer_closed_ = true;
        return 0;
    }
    const std::int32_t code = GStack().LastSocketError();
    if (code == Id_WSAEWOULDBLOCK) {
        if (reading)
            BIO_set_retry_read(bio);
        else
            BIO_set_retry_write(bio);
        return 0;
    }
    socket_error_ = code;
    return 0;
}

long TIdSSLIOHandlerSocket::BioControl(BIO* bio, int command, long, void*) {
    switch (command) {
        case BIO_CTRL_FLUSH: return 1;  // every write has gone to the socket already
        case BIO_CTRL_EOF:
            return static_cast<TIdSSLIOHandlerSocket*>(BIO_get_data(bio))->peer_closed_ ? 1 : 0;
        default: return 0;
    }
}

}  // namespace tarnwick
