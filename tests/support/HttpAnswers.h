#pragma once

// Scripts for a LoopbackPeer that plays an HTTP server: each connection reads request heads and
// answers them with canned bytes, so a test controls every byte of every answer.

#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "support/LoopbackPeer.h"

namespace tarnwick::testing {

// Reads one request head up to its empty line; what came before the client closed otherwise
// (empty when nothing came).
inline std::string ReadRequestHead(PeerConnection& c) { return c.ReceiveUntil("\r\n\r\n"); }

struct Answer {
    std::string bytes;
    bool close = false;  // close the connection once the bytes are sent
};

// Answers the requests in order, one answer each, across all connections of the peer. A
// connection serves requests until an answer closes it; a request beyond the last answer closes
// the connection at once. While the client sends nothing, the connection stays open.
inline LoopbackPeer::Script ServeAnswers(std::vector<Answer> answers) {
    struct State {
        std::mutex mutex;
        std::deque<Answer> answers;
    };
    auto state = std::make_shared<State>();
    state->answers.assign(answers.begin(), answers.end());
    return [state](PeerConnection& c) {
        for (;;) {
            if (ReadRequestHead(c).empty()) return;
            Answer answer;
            {
                std::lock_guard lock(state->mutex);
                if (state->answers.empty()) return;
                answer = std::move(state->answers.front());
                state->answers.pop_front();
            }
            c.Send(answer.bytes);
            if (answer.close) return;
        }
    };
}

// The same answer to every request, on every connection.
inline LoopbackPeer::Script ServeAlways(std::string answer) {
    return [answer](PeerConnection& c) {
        while (!ReadRequestHead(c).empty()) c.Send(answer);
    };
}

// "HTTP/1.1 200 OK" with a Content-Length and the body.
inline std::string Ok(const std::string& body, const std::string& extraHeaders = {}) {
    return "HTTP/1.1 200 OK\r\n" + extraHeaders + "Content-Length: " +
           std::to_string(body.size()) + "\r\n\r\n" + body;
}

}  // namespace tarnwick::testing
