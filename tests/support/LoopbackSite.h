#pragma once

// A small web site on a LoopbackPeer, for the built-in lookup's tests: each path has its answer
// (404 for any other), connections are kept, and every request's head is written down. An answer
// may go on after its body (fast, or a blank at a time) until the client closes, or hold its
// connection silent from its nth request on.

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "support/HttpAnswers.h"
#include "support/LoopbackPeer.h"

namespace tarnwick::testing {

struct SiteAnswer {
    std::string bytes;  // status line, headers and body
    enum Tail { kNone, kEndless, kTrickle } tail = kNone;  // after the bytes, until the client closes
    int answered = 1 << 30;  // requests answered; later ones are held silent
};

inline SiteAnswer PageAnswer(const std::string& html,
                             const std::string& type = "text/html; charset=utf-8") {
    return {Ok(html, "Content-Type: " + type + "\r\n")};
}

inline SiteAnswer MediaAnswer(const std::string& bytes, const std::string& headers =
                                                            "Content-Type: video/mp4\r\n") {
    return {Ok(bytes, headers)};
}

class LoopbackSite {
public:
    explicit LoopbackSite(std::map<std::string, SiteAnswer> answers)
        : answers_(std::move(answers)), peer_([this](PeerConnection& c) { Serve(c); }) {}

    std::string Url(const std::string& path) const {
        return "http://127.0.0.1:" + peer_.PortText() + path;
    }
    std::vector<std::string> Requests() const {
        std::lock_guard lock(mutex_);
        return requests_;
    }
    // True once count requests came within the limit.
    bool WaitForRequests(std::size_t count,
                         std::chrono::milliseconds limit = std::chrono::seconds(20)) const {
        std::unique_lock lock(mutex_);
        return cv_.wait_for(lock, limit, [&] { return requests_.size() >= count; });
    }

private:
    void Serve(PeerConnection& c) {
        for (std::string head; !(head = ReadRequestHead(c)).empty();) {
            const std::size_t start = head.find(' ') + 1;
            const std::string path = head.substr(start, head.find(' ', start) - start);
            const auto found = answers_.find(path);
            int seen = 0;
            {
                std::lock_guard lock(mutex_);
                requests_.push_back(head);
                for (const std::string& earlier : requests_)
                    seen += earlier.compare(start, path.size() + 1, path + " ") == 0;
            }
            cv_.notify_all();
            if (found == answers_.end()) {
                c.Send("HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n");
                continue;
            }
            const SiteAnswer& answer = found->second;
            if (seen > answer.answered) return static_cast<void>(c.WaitForClose(kHold));
            c.Send(answer.bytes);
            if (answer.tail == SiteAnswer::kEndless)
                for (const std::string blanks(64 * 1024, ' ');;) c.Send(blanks);
            if (answer.tail == SiteAnswer::kTrickle)
                for (;; std::this_thread::sleep_for(std::chrono::milliseconds(100))) c.Send(" ");
        }
    }

    static constexpr std::chrono::seconds kHold{90};
    const std::map<std::string, SiteAnswer> answers_;
    mutable std::mutex mutex_;
    mutable std::condition_variable cv_;
    std::vector<std::string> requests_;
    LoopbackPeer peer_;  // last: its scripts end before the rest goes
};

}  // namespace tarnwick::testing
