#pragma once

// A buffered connection over an I/O handler: blocking reads of exact counts, of lines and of whole
// bodies into a stream, and writes of bytes, texts, lines and streams, with optional write
// buffering. Reads report their bytes as wmRead work (every removal from the input buffer while a
// read phase is open); stream writes report wmWrite work.
//
// States: without handler (IsConnected false; reads asked to raise and every write raise
// EIdNotConnected "Not Connected"); open; closing (a receive or send gave 0 bytes: the next
// CheckClosed closes the transport and fires hsDisconnected and OnDisconnected once); closed (the
// handler's socket is gone; bytes received before the close can still be read, a read that needs
// more raises EIdConnClosedGracefully "Connection Closed Gracefully." when the peer closed, and
// EIdClosedSocket or EIdNotConnected when CloseConnection did).
//
// Threads: one thread reads and writes. CloseConnection may come from another thread while that
// one is blocked in a read (the user's abort). The read then fails with EIdNotConnected,
// EIdClosedSocket "Disconnected." or EIdReadTimeout "Read Timeout" -- never with
// EIdConnClosedGracefully and never as a quiet short read, also when the close lands between two
// receives. A handler that CloseConnection releases stays alive until the reader has left it.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "net/IdBuffer.h"
#include "net/IdComponent.h"
#include "net/IdDeadline.h"
#include "net/IdIOHandler.h"
#include "net/IdStream.h"

namespace tarnwick {

enum TIdMaxLineAction { maException, maSplit };

using TIdNotifyEvent = std::function<void(TIdComponent& ASender)>;

class TIdTCPConnection : public TIdComponent {
public:
    explicit TIdTCPConnection(TComponent* owner = nullptr);
    // Closes the transport (no events) and releases an owned handler.
    ~TIdTCPConnection() override;

    // Settings; change them only while no read or write runs.
    bool ASCIIFilter = false;  // clears the top bit of every received byte
    TIdMaxLineAction MaxLineAction = maException;
    std::int32_t MaxLineLength = 16384;  // 0: no limit
    std::int32_t ReadTimeout = 0;        // ms; 0: no limit
    // ms without receiving a byte after which a read fails with EIdStallTimeout "No data
    // received for N seconds." (N the whole seconds), whatever timeout the read was given; every
    // byte that arrives starts the wait anew, so a slow transfer that moves is never cut. 0: no
    // limit.
    std::int32_t StallTimeout = 0;
    std::int32_t RecvBufferSize = 32768;
    std::int32_t SendBufferSize = 32768;
    TIdNotifyEvent OnDisconnected;

    // The handler in use, or null. A handler set here is not owned: the caller keeps it alive
    // while the connection uses it. Setting one releases an owned handler.
    TIdIOHandler* IOHandler() const;
    void SetIOHandler(TIdIOHandler* handler);

    // One wait (timeout in ms: -1 the default, that is ReadTimeout or no limit; -2 no limit; 0 a
    // poll) and at most one receive, appended to the input buffer; right after a receive that
    // filled its space, bytes that have already arrived are taken without the wait. A receive
    // takes at most RecvBufferSize bytes, ending where a block of that size of buffered bytes
    // ends. Returns the count appended, 0 when the connection was found closed without an
    // exception, -1 after a wait that timed out.
    // Raises EIdNotConnected / EIdConnClosedGracefully when closed and raise_if_closed,
    // EIdReadTimeout on a timeout when raise_on_timeout, EIdStallTimeout when the wait reached
    // StallTimeout (also without raise_on_timeout), EIdDeadlineReached when the deadline has
    // passed or the wait reached it, EIdSocketError for a failed receive.
    int FillInputBuffer(bool raise_if_closed, int timeout, bool raise_on_timeout);
    // The deadline of the work under way (none by default; a client sets one per request): every
    // wait of a read is cut to the time left, and a read that needs bytes from the transport once
    // it has passed fails with EIdDeadlineReached, however steadily bytes come. A connect is cut
    // alike (TIdTCPClient). The handler in use, and any later one, keeps a copy. Set it only from
    // the thread that reads; CloseConnection still ends a wait at once.
    void SetDeadline(const TIdDeadline& deadline);
    const TIdDeadline& Deadline() const noexcept { return deadline_; }
    // Notices a close: a receive or send of 0 bytes (closing the transport and firing
    // hsDisconnected and OnDisconnected once) or a closed handler. With raise_if_closed, raises
    // EIdConnClosedGracefully when closed and the input buffer is empty (or ignore_buffer).
    void CheckClosed(bool raise_if_closed, bool ignore_buffer);
    // A 1 ms wait that takes in any bytes that are ready, to notice a close.
    void ProbeClosed(bool raise_if_closed);
    bool IsConnected();

    // Exactly count bytes; a close before they are all there raises EIdConnClosedGracefully and
    // leaves what came in the input buffer.
    void ReadExact(void* buffer, std::int64_t count);
    // Four bytes; with convert from network byte order.
    std::int32_t ReadInt32(bool convert = true);
    // The next line without its terminator (empty: LF; with LF a CR before it is dropped too).
    // max_length -1 means MaxLineLength; a longer line raises EIdReadLnMaxLineLengthExceeded
    // "Max line length exceeded." under maException, or is split (LineWasSplit) under maSplit.
    // A peer close after a partial line returns an empty line with LineTimedOut set; the partial
    // line stays buffered.
    std::string ReadLine(std::string_view terminator = "\n", int timeout = -1,
                         int max_length = -1);
    bool LineWasSplit() const noexcept { return line_split_; }
    bool LineTimedOut() const noexcept { return line_timed_out_; }

    // Gives stream the size, keeping its position.
    static void PresizeStream(TIdStream& stream, std::int64_t size);
    // Reads count bytes (count >= 0), or until the peer closes (until_closed, count -1), or a
    // count sent first as four big-endian bytes (count -1 without until_closed) into stream at its
    // position. A known count presizes the stream first. Fires OnWorkBegin (count, or 0 until
    // closed), OnWork per block of at most RecvBufferSize bytes with the running total, and
    // OnWorkEnd -- also when it raises; the stream is then cut at its position. A peer close
    // before count bytes raises EIdConnClosedGracefully after writing every complete block: a
    // known count never ends short without an exception.
    void ReadToStream(TIdStream& stream, std::int64_t count = -1, bool until_closed = false);

    // Sends count bytes, or adds them to the write buffer while write buffering is on and now is
    // false. Raises EIdNotConnected or EIdConnClosedGracefully on a closed connection and
    // EIdSocketError for a failed send. One wmWrite report per send.
    void WriteBytes(const void* buffer, std::int64_t count, bool now = false);
    void WriteText(std::string_view text);
    void WriteLine(std::string_view text);  // text and CR LF
    void WriteInt32(std::int32_t value, bool convert = true);
    // Sends the stream from its position (from its start with all) up to position + size (the end
    // when size is 0), optionally preceded by the count as four big-endian bytes, inside a wmWrite
    // phase. A stream shorter than announced raises EIdNoDataToRead "No data to read.".
    void WriteFromStream(TIdStream& stream, bool all = true, bool write_byte_count = false,
                         std::int64_t size = 0);

    // Collects writes until the end (threshold -1) or until threshold bytes are buffered, which
    // are then sent. Calling it again while buffering keeps what is buffered.
    void BeginWriteBuffering(std::int32_t threshold = -1);
    // Sends the first count buffered bytes (all of them when count is -1 or more than buffered).
    void FlushWriteBuffering(std::int64_t count = -1);
    // Sends what is buffered and ends buffering (also when the send raises).
    void EndWriteBuffering();
    bool WriteBuffering() const noexcept { return write_buffer_ != nullptr; }

    // hsDisconnecting, CloseTransport, release of an owned handler, OnDisconnected, hsDisconnected.
    // Safe from another thread while a read runs (see above). Components built on a connection
    // override it to end their own work on the user's close.
    virtual void CloseConnection();
    // Closes the handler's socket without any event.
    void CloseTransport();
    // Empties the input buffer (no work report) and clears the closed flag: the start of a new
    // connection, which also forgets an earlier CloseConnection.
    void ResetInput();
    void SignalDisconnected();

    TIdManagedBuffer& InputBuffer() noexcept { return input_buffer_; }

protected:
    // The handler as the calling thread may use it: it stays alive while the pointer is held.
    std::shared_ptr<TIdIOHandler> Handler() const;
    // Makes handler the one in use; a previous owned one is released.
    void AdoptHandler(std::shared_ptr<TIdIOHandler> handler, bool owned);
    // True when the handler in use was made by the connection (not set through SetIOHandler).
    bool OwnsHandler() const;

private:
    // The failure of a read that meets a close requested by CloseConnection.
    [[noreturn]] void RaiseDisconnected() const;
    // Fills the input buffer until it holds count bytes (ReadExact without the copy).
    void WaitForBuffered(std::size_t count);
    void ReleaseOwnedHandler();

    std::atomic<bool> closed_gracefully_{false};
    std::atomic<bool> disconnect_requested_{false};
    TIdManagedBuffer input_buffer_;
    std::unique_ptr<TIdSimpleBuffer> write_buffer_;
    std::int32_t write_threshold_ = 0;
    bool line_split_ = false;
    bool line_timed_out_ = false;
    bool last_receive_full_ = false;  // the last receive filled the space it was given
    TIdDeadline deadline_;

    mutable std::mutex handler_mutex_;  // guards the two fields below
    std::shared_ptr<TIdIOHandler> handler_;
    bool owns_handler_ = false;
};

}  // namespace tarnwick
