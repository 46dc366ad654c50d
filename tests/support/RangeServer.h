#pragma once

// A file server on a LoopbackPeer for resumed transfers, scripted request by request. It honours
// "Range: bytes=N-" (206, or 416 from the end of the file on) unless told not to, answers 200
// when "If-Range" does not name the file's validator, and can cut a request's body at a set
// offset of the file (a close, a reset, or silence until the client goes), serve a changed file
// from a set request on, answer a Range with a part at another offset, or die (every request
// from a set one on is closed unanswered). It counts the requests and the body bytes it sent.

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "support/LoopbackPeer.h"

namespace tarnwick::testing {

struct RangePlan {
    enum TCut { kClose, kReset, kSilent };
    enum TValidator { kETag, kLastModified, kNone };

    std::string file;
    std::string changedFile;  // served, with another validator, from request changeAt on
    int changeAt = -1;
    std::vector<std::int64_t> cuts;  // request i's body stops at offset cuts[i] of the file
    TCut cutBy = kClose;
    TValidator validator = kETag;
    bool honourRange = true;
    bool chunked = false;
    std::int64_t wrongStart = -1;  // a Range gets the 10 bytes from here
    int deadAt = -1;
};

class RangeServer {
public:
    explicit RangeServer(RangePlan plan);

    std::string Url() const { return "http://127.0.0.1:" + peer_->PortText() + "/file"; }
    int Requests() const { return state_->requests.load(); }
    std::int64_t BodyBytesSent() const { return state_->sent.load(); }

private:
    struct State {
        RangePlan plan;
        std::atomic<int> requests{0};
        std::atomic<std::int64_t> sent{0};
    };
    // Answers one request; false when the connection is done.
    static bool Answer(State& state, PeerConnection& c, const std::string& head);

    std::shared_ptr<State> state_;
    std::unique_ptr<LoopbackPeer> peer_;  // last: its scripts end before the state goes
};

}  // namespace tarnwick::testing
