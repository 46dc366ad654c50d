#pragma once

// One piece of a stream (a fragment, or a key) fetched into memory over a client the caller
// keeps between pieces, so its connection carries piece after piece while the server allows.
//
// A piece is a whole file, or the byte range of one, asked for with Range and taken only when
// the answer's Content-Range names exactly that range. A transfer that breaks (closed early,
// reset, stalled, an error status, an answer that is not the part asked for) is tried again
// after a wait, continuing with Range after the bytes that came (If-Range the answer's strong
// ETag, so a file that changed starts over instead of being mixed), up to kPieceTries tries in
// all; then the last failure is thrown. An answer that is a web page by its type is refused at
// once (kWebPageNotVideoText), as is a 200 to a request for a part.

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "core/Exception.h"
#include "http/IdAbortSignal.h"
#include "http/IdHTTP.h"
#include "http/IdResumableGet.h"
#include "job/streams/StreamParts.h"
#include "net/IdStream.h"

namespace tarnwick {

// Tries of one piece in all, the first one included.
inline constexpr std::int32_t kPieceTries = 10;

// A failure of a piece that no other try would change; thrown at once.
class EPieceRefused final : public EIdException {
public:
    using EIdException::EIdException;
};

// A piece's bytes in memory. Each growth is told to account first (which may wait for room, or
// throw to end the transfer), each shrink after; what is still counted is given back when the
// buffer goes, unless the bytes were handed on with it (TakeBytes).
class TPieceBuffer final : public TIdStream {
public:
    // Never throws when change is negative.
    using TAccount = std::function<void(std::int64_t change)>;

    explicit TPieceBuffer(TAccount account = {}) : account_(std::move(account)) {}
    ~TPieceBuffer() override;
    TPieceBuffer(const TPieceBuffer&) = delete;
    TPieceBuffer& operator=(const TPieceBuffer&) = delete;

    std::int64_t Position() const override { return position_; }
    void SetPosition(std::int64_t position) override;
    std::int64_t Size() const override { return static_cast<std::int64_t>(bytes_.size()); }
    void SetSize(std::int64_t size) override;
    std::int64_t Read(void* buffer, std::int64_t count) override;
    void Write(const void* buffer, std::int64_t count) override;

    // The bytes, leaving the buffer empty; the caller now counts them.
    std::string TakeBytes();

private:
    void Resize(std::int64_t size);

    TAccount account_;
    std::string bytes_;
    std::int64_t position_ = 0;
};

// How a piece is tried: the waits between tries (FirstWait, doubled with each try up to
// LongestWait), the token that ends the transfer and any wait at once (EIdNotConnected), and
// what is told before each wait.
struct TPieceTries {
    TIdResumeSettings waits;
    const TIdAbortSignal* stop = nullptr;
    std::function<void(const TIdRetryWait&)> onWait;
};

// Fetches address (range of it, when given) into buffer, which must be empty (see above).
// Returns the Content-Type of the answer the bytes came from.
std::string FetchPiece(TIdHTTP& client, const std::string& address,
                       const std::optional<TByteRange>& range, TPieceBuffer& buffer,
                       const TPieceTries& tries);

}  // namespace tarnwick
