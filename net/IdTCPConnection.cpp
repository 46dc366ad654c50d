#include "net/IdTCPConnection.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cstring>
#include <limits>
#include <vector>

#include "net/IdExceptions.h"
#include "net/IdStack.h"

namespace tarnwick {

TIdTCPConnection::TIdTCPConnection(TComponent* owner) : TIdComponent(owner) {
    input_buffer_.OnRemove = [this](TIdSimpleBuffer&, std::size_t count) {
        ReportWork(wmRead, static_cast<std::int64_t>(count));
    };
}

TIdTCPConnection::~TIdTCPConnection() {
    CloseTransport();
    ReleaseOwnedHandler();
}

std::shared_ptr<TIdIOHandler> TIdTCPConnection::Handler() const {
    std::lock_guard lock(handler_mutex_);
    return handler_;
}

TIdIOHandler* TIdTCPConnection::IOHandler() const { return Handler().get(); }

void TIdTCPConnection::SetIOHandler(TIdIOHandler* handler) {
    // Not owned: an alias without a control block.
    AdoptHandler(std::shared_ptr<TIdIOHandler>(std::shared_ptr<TIdIOHandler>(), handler), false);
}

void TIdTCPConnection::AdoptHandler(std::shared_ptr<TIdIOHandler> handler, bool owned) {
    std::shared_ptr<TIdIOHandler> previous;  // goes at the end, outside the lock
    std::lock_guard lock(handler_mutex_);
    previous = std::move(handler_);
    handler_ = std::move(handler);
    owns_handler_ = owned;
}

bool TIdTCPConnection::OwnsHandler() const {
    std::lock_guard lock(handler_mutex_);
    return owns_handler_;
}

void TIdTCPConnection::ReleaseOwnedHandler() {
    std::shared_ptr<TIdIOHandler> released;  // goes at the end, outside the lock
    std::lock_guard lock(handler_mutex_);
    if (!owns_handler_) return;
    released = std::move(handler_);
    owns_handler_ = false;
}

void TIdTCPConnection::RaiseDisconnected() const {
    if (Handler()) throw EIdClosedSocket();
    throw EIdNotConnected();
}

int TIdTCPConnection::FillInputBuffer(bool raise_if_closed, int timeout, bool raise_on_timeout) {
    if (timeout == IdTimeoutDefault) timeout = ReadTimeout == 0 ? IdTimeoutInfinite : ReadTimeout;
    // A wait longer than the stall limit (or without limit) is cut to it, and then fails however
    // the caller wanted a timeout treated: a silent peer must never hold the reader for ever.
    const std::int32_t stall = StallTimeout;
    const bool stall_bound = stall > 0 && (timeout < 0 || timeout > stall);
    if (stall_bound) timeout = stall;
    // The deadline cuts the wait further. It is looked at before every receive, not only when a
    // wait runs out: bytes that keep coming must not carry a read past it.
    bool deadline_bound = false;
    timeout = deadline_.Cut(timeout, deadline_bound);
    int result = 0;
    CheckClosed(raise_if_closed, false);
    if (!IsConnected()) {
        if (raise_if_closed) throw EIdNotConnected();
        return 0;
    }
    deadline_.Check();
    int n;
    do {
        // Receives end where a block of RecvBufferSize buffered bytes ends, so a body read block
        // by block leaves the input buffer empty after each block instead of a remainder to move.
        const int block = std::max(RecvBufferSize, 1);
        const int size =
            block - static_cast<int>(input_buffer_.Size() % static_cast<std::size_t>(block));
        // The receive lands in place at the end of the input buffer: no copy in between.
        char* received = nullptr;
        n = TIdIOHandler::kNothingReady;
        if (last_receive_full_) {
            // A receive that filled its space says more is waiting: take it without a wait.
            if (auto handler = Handler()) {
                received = input_buffer_.AppendSpace(static_cast<std::size_t>(size));
                n = handler->ReceiveReady(received, size);
            }
        }
        if (n == TIdIOHandler::kNothingReady) {
            if (auto handler = Handler()) {
                bool readable;
                try {
                    readable = handler->WaitReadable(timeout);
                } catch (const EIdConnClosedGracefully&) {
                    // The socket went between the test above and the wait: a close by the user
                    // fails like one that came during the wait.
                    if (disconnect_requested_.load()) RaiseDisconnected();
                    throw;
                }
                if (!readable) {
                    last_receive_full_ = false;
                    if (deadline_bound) deadline_.Raise();
                    if (stall_bound) throw EIdStallTimeout(stall);
                    if (raise_on_timeout) throw EIdReadTimeout();
                    return -1;
                }
            }
            if (auto handler = Handler()) {
                received = input_buffer_.AppendSpace(static_cast<std::size_t>(size));
                n = handler->ReceiveInto(received, size);
            } else {
                if (raise_if_closed) throw EIdNotConnected();
                n = 0;
            }
        }
        last_receive_full_ = n == size;
        closed_gracefully_.store(n == 0);
        if (n != 0 && GStack().CheckSocketResult(n, {Id_WSAESHUTDOWN, Id_WSAECONNABORTED})) {
            const std::int32_t code = GStack().LastSocketError();
            n = 0;
            if (Handler()) CloseTransport();
            if (input_buffer_.Size() == 0) GStack().RaiseSocketFailure(code);
        }
        if (n > 0) {
            if (ASCIIFilter)
                for (int i = 0; i < n; ++i) received[i] = static_cast<char>(received[i] & 0x7F);
            input_buffer_.Commit(static_cast<std::size_t>(n));
        }
        CheckClosed(raise_if_closed, false);
        result = n;
    } while (n == 0 && IsConnected());
    return result;
}

void TIdTCPConnection::SetDeadline(const TIdDeadline& deadline) {
    deadline_ = deadline;
    if (auto handler = Handler()) handler->Deadline = deadline;
}

void TIdTCPConnection::CheckClosed(bool raise_if_closed, bool ignore_buffer) {
    bool closed = false;
    // Whether the user closed is read only after the state it explains: CloseConnection records
    // it before it closes, so a close seen here is never mistaken for the peer's.
    auto handler = Handler();
    if (closed_gracefully_.load() || !handler) {
        if (handler) {
            // A close by the user fires its own events on its own thread.
            if (handler->HandlerConnected() && !disconnect_requested_.load()) {
                CloseTransport();
                ReportStatus(hsDisconnected);
                SignalDisconnected();
            }
            closed = true;
        }
    } else {
        closed = !handler->HandlerConnected();
    }
    if (!closed || !raise_if_closed) return;
    if (disconnect_requested_.load()) RaiseDisconnected();
    if (input_buffer_.Size() == 0 || ignore_buffer) throw EIdConnClosedGracefully();
}

void TIdTCPConnection::ProbeClosed(bool raise_if_closed) {
    FillInputBuffer(raise_if_closed, 1, false);
}

bool TIdTCPConnection::IsConnected() {
    CheckClosed(false, false);
    auto handler = Handler();
    return handler && handler->HandlerConnected();
}

void TIdTCPConnection::WaitForBuffered(std::size_t count) {
    while (input_buffer_.Size() < count) {
        FillInputBuffer(true, IdTimeoutDefault, true);
        CheckClosed(true, true);
    }
}

void TIdTCPConnection::ReadExact(void* buffer, std::int64_t count) {
    if (count <= 0 || !buffer) return;
    const auto wanted = static_cast<std::size_t>(count);
    WaitForBuffered(wanted);
    std::memcpy(buffer, input_buffer_.Memory(), wanted);
    input_buffer_.Remove(wanted);
}

std::int32_t TIdTCPConnection::ReadInt32(bool convert) {
    std::uint32_t value;
    ReadExact(&value, sizeof value);
    return static_cast<std::int32_t>(convert ? ntohl(value) : value);
}

std::string TIdTCPConnection::ReadLine(std::string_view terminator, int timeout, int max_length) {
    if (max_length == -1) max_length = MaxLineLength;
    if (terminator.empty()) terminator = "\n";
    const auto limit = static_cast<std::size_t>(std::max(max_length, 0));
    line_split_ = false;
    line_timed_out_ = false;

    const auto too_long = [&]() -> std::string {
        if (MaxLineAction == maException) throw EIdReadLnMaxLineLengthExceeded();
        line_split_ = true;
        return input_buffer_.Extract(limit);
    };

    std::size_t found = 0;     // 1-based position of the terminator, 0 while not found
    std::size_t searched = 0;  // bytes searched so far
    for (;;) {
        const std::size_t buffered = input_buffer_.Size();
        if (buffered > 0) {
            // Step back so a terminator that arrived in two receives is found.
            const std::size_t from =
                searched >= terminator.size() - 1 ? searched - (terminator.size() - 1) : 0;
            const std::string_view bytes(input_buffer_.Memory(), buffered);
            const std::size_t at = bytes.find(terminator, from);
            found = at == std::string_view::npos ? 0 : at + 1;
            searched = buffered;
        }
        if (found > 0 && limit != 0 && found - 1 > limit) return too_long();
        if (found == 0) {
            if (limit != 0 && searched > limit) return too_long();
            CheckClosed(true, true);
            if (FillInputBuffer(true, timeout, timeout == IdTimeoutDefault) == 0) {
                line_timed_out_ = true;
                return {};
            }
            continue;
        }
        std::string line = input_buffer_.Extract(found - 1 + terminator.size());
        line.resize(found - 1);
        if (terminator == "\n" && !line.empty() && line.back() == '\r') line.pop_back();
        return line;
    }
}

void TIdTCPConnection::PresizeStream(TIdStream& stream, std::int64_t size) {
    const std::int64_t position = stream.Position();
    stream.SetSize(size);
    if (stream.Position() != position) stream.SetPosition(position);
}

void TIdTCPConnection::ReadToStream(TIdStream& stream, std::int64_t count, bool until_closed) {
    if (count == -1 && !until_closed) count = ReadInt32(true);
    if (count >= 0) {
        // An end past the largest size must not wrap around and cut the stream at its start.
        constexpr std::int64_t kLargest = std::numeric_limits<std::int64_t>::max();
        const std::int64_t position = stream.Position();
        PresizeStream(stream, count > kLargest - position ? kLargest : position + count);
    }
    std::int64_t remaining =
        until_closed ? std::numeric_limits<std::int64_t>::max() : std::max<std::int64_t>(count, 0);
    StartWork(wmRead, until_closed ? 0 : count);

    const auto finish = [&] {
        FinishWork(wmRead);
        if (stream.Size() > stream.Position()) stream.SetSize(stream.Position());
    };
    try {
        // Body bytes that came with the head go first.
        const auto buffered = static_cast<std::int64_t>(input_buffer_.Size());
        if (const std::int64_t first = std::min(buffered, remaining); first > 0) {
            stream.Write(input_buffer_.Memory(), first);
            input_buffer_.Remove(static_cast<std::size_t>(first));
            remaining -= first;
        }

        // Each block goes from the input buffer straight into the stream: the bytes are copied
        // once into the buffer (by the receive) and once out of it.
        const std::int64_t block_size =
            std::min<std::int64_t>(remaining, std::max(RecvBufferSize, 1));
        while (remaining > 0 && IsConnected()) {
            const std::int64_t n = std::min(remaining, block_size);
            try {
                WaitForBuffered(static_cast<std::size_t>(n));
            } catch (const EIdConnClosedGracefully&) {
                if (!until_closed) throw;
                // The tail after the last full block: written, but not reported.
                const auto tail = static_cast<std::int64_t>(input_buffer_.Size());
                stream.Write(input_buffer_.Memory(), tail);
                input_buffer_.Clear();
                remaining -= tail;
                continue;
            }
            stream.Write(input_buffer_.Memory(), n);
            input_buffer_.Remove(static_cast<std::size_t>(n));
            remaining -= n;
        }
        // The loop also ends when it finds the connection closed. A close by the user never
        // passes for the end of the body, and a known count that is not complete is no success.
        if (disconnect_requested_.load() && remaining > 0) RaiseDisconnected();
        if (!until_closed && remaining > 0) throw EIdConnClosedGracefully();
    } catch (...) {
        try {
            finish();
        } catch (...) {
            // The read's own failure is the one to report.
        }
        throw;
    }
    finish();
}

void TIdTCPConnection::WriteBytes(const void* buffer, std::int64_t count, bool now) {
    if (count <= 0 || !buffer) return;
    CheckClosed(true, true);
    if (!IsConnected()) throw EIdNotConnected();

    if (!now && write_buffer_) {
        write_buffer_->Append(buffer, static_cast<std::size_t>(count));
        if (write_threshold_ > 0 &&
            write_buffer_->Size() >= static_cast<std::size_t>(write_threshold_))
            FlushWriteBuffering(write_threshold_);
        return;
    }
    const auto* bytes = static_cast<const char*>(buffer);
    while (count > 0) {
        auto handler = Handler();
        if (!handler) throw EIdNotConnected();
        const int piece =
            static_cast<int>(std::min<std::int64_t>(count, std::numeric_limits<int>::max()));
        const int n = handler->SendFrom(bytes, piece);
        closed_gracefully_.store(n == 0);
        CheckClosed(true, false);
        if (GStack().CheckSocketResult(
                n, {Id_WSAESHUTDOWN, Id_WSAECONNABORTED, Id_WSAECONNRESET})) {
            const std::int32_t code = GStack().LastSocketError();
            CloseTransport();
            GStack().RaiseSocketFailure(code);
        }
        ReportWork(wmWrite, n);
        bytes += n;
        count -= n;
    }
}

void TIdTCPConnection::WriteText(std::string_view text) {
    if (!text.empty()) WriteBytes(text.data(), static_cast<std::int64_t>(text.size()), false);
}

void TIdTCPConnection::WriteLine(std::string_view text) {
    std::string line(text);
    line += "\r\n";
    WriteText(line);
}

void TIdTCPConnection::WriteInt32(std::int32_t value, bool convert) {
    const std::uint32_t bytes = convert ? htonl(static_cast<std::uint32_t>(value))
                                        : static_cast<std::uint32_t>(value);
    WriteBytes(&bytes, sizeof bytes, false);
}

void TIdTCPConnection::WriteFromStream(TIdStream& stream, bool all, bool write_byte_count,
                                       std::int64_t size) {
    if (all) stream.SetPosition(0);
    const std::int64_t end = size != 0 ? stream.Position() + size : stream.Size();
    if (write_byte_count) WriteInt32(static_cast<std::int32_t>(end - stream.Position()), true);

    StartWork(wmWrite, end - stream.Position());
    try {
        std::vector<char> buffer(static_cast<std::size_t>(std::max(SendBufferSize, 1)));
        for (;;) {
            const std::int64_t n = std::min<std::int64_t>(end - stream.Position(),
                                                          static_cast<std::int64_t>(buffer.size()));
            if (n <= 0) break;
            const std::int64_t got = stream.Read(buffer.data(), n);
            if (got == 0) throw EIdNoDataToRead();
            WriteBytes(buffer.data(), got, false);
        }
    } catch (...) {
        FinishWork(wmWrite);
        throw;
    }
    FinishWork(wmWrite);
}

void TIdTCPConnection::BeginWriteBuffering(std::int32_t threshold) {
    if (!write_buffer_) write_buffer_ = std::make_unique<TIdSimpleBuffer>();
    write_threshold_ = threshold;
}

void TIdTCPConnection::FlushWriteBuffering(std::int64_t count) {
    if (!write_buffer_ || write_buffer_->Size() == 0) return;
    const std::size_t buffered = write_buffer_->Size();
    if (count != -1 && buffered >= static_cast<std::size_t>(std::max<std::int64_t>(count, 0))) {
        WriteBytes(write_buffer_->Memory(), count, true);
        write_buffer_->Remove(static_cast<std::size_t>(count));
    } else {
        WriteBytes(write_buffer_->Memory(), static_cast<std::int64_t>(buffered), true);
        write_buffer_->Clear();
    }
}

void TIdTCPConnection::EndWriteBuffering() {
    try {
        FlushWriteBuffering(-1);
    } catch (...) {
        write_buffer_.reset();
        throw;
    }
    write_buffer_.reset();
}

void TIdTCPConnection::CloseTransport() {
    auto handler = Handler();
    if (!handler) return;
    closed_gracefully_.store(true);
    handler->CloseHandler();
}

void TIdTCPConnection::CloseConnection() {
    // First, so the reader that the close wakes knows who closed.
    disconnect_requested_.store(true);
    ReportStatus(hsDisconnecting);
    CloseTransport();
    ReleaseOwnedHandler();
    SignalDisconnected();
    ReportStatus(hsDisconnected);
}

void TIdTCPConnection::ResetInput() {
    input_buffer_.Clear();
    last_receive_full_ = false;
    closed_gracefully_.store(false);
    disconnect_requested_.store(false);
}

void TIdTCPConnection::SignalDisconnected() {
    if (OnDisconnected) OnDisconnected(*this);
}

}  // namespace tarnwick
