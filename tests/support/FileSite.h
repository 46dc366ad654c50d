#pragma once

// A loopback file server for fetches of stream fragments: each path a file's bytes (404 for any
// other), "Range: bytes=a-b" and "bytes=a-" answered with 206 and the Content-Range, connections
// kept. A path may carry a fault for its first requests: the body cut after some bytes (with the
// whole length announced, then the connection closed), a 404, a web page in the file's place,
// silence until the client closes, or the part one byte after the one asked for. It writes down
// every request head, and counts connections.

#include <chrono>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "support/HttpAnswers.h"
#include "support/LoopbackPeer.h"

namespace tarnwick::testing {

struct SiteFault {
    enum Kind { kNone, kCut, kNotFound, kWebPage, kStall, kShifted } kind = kNone;
    int times = 0;          // the first requests of the path that get it
    std::size_t cutAt = 0;  // kCut: the body bytes sent
};

class FileSite {
public:
    explicit FileSite(std::map<std::string, std::string> files,
                      std::map<std::string, SiteFault> faults = {})
        : files_(std::move(files)),
          faults_(std::move(faults)),
          peer_([this](PeerConnection& c) { Serve(c); }) {}

    std::string Url(const std::string& path) const {
        return "http://127.0.0.1:" + peer_.PortText() + path;
    }
    int Connections() const { return peer_.Accepted(); }
    // The request heads for path (all when empty), in order.
    std::vector<std::string> Requests(const std::string& path = {}) const {
        std::lock_guard lock(mutex_);
        std::vector<std::string> heads;
        for (const std::string& head : requests_)
            if (path.empty() || head.starts_with("GET " + path + " ")) heads.push_back(head);
        return heads;
    }

private:
    void Serve(PeerConnection& c) {
        for (std::string head; !(head = ReadRequestHead(c)).empty();) {
            const std::string path = head.substr(4, head.find(' ', 4) - 4);
            int seen = 0;
            {
                std::lock_guard lock(mutex_);
                requests_.push_back(head);
                for (const std::string& earlier : requests_)
                    seen += earlier.starts_with("GET " + path + " ");
            }
            const auto file = files_.find(path);
            const auto fault = faults_.find(path);
            const SiteFault::Kind kind = fault != faults_.end() && seen <= fault->second.times
                                             ? fault->second.kind
                                             : SiteFault::kNone;
            if (file == files_.end() || kind == SiteFault::kNotFound) {
                c.Send("HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n");
                continue;
            }
            if (kind == SiteFault::kStall) return static_cast<void>(c.WaitForClose(kHold));
            if (kind == SiteFault::kWebPage) {
                c.Send(Ok("<!DOCTYPE html><html><body>Not here</body></html>",
                          "Content-Type: video/mp2t\r\n"));
                continue;
            }
            const std::string answer = Part(head, file->second, kind == SiteFault::kShifted);
            if (kind != SiteFault::kCut) {
                c.Send(answer);
                continue;
            }
            c.Send(answer.substr(0, answer.find("\r\n\r\n") + 4 + fault->second.cutAt));
            return;
        }
    }

    // The whole file, or the range the request names (shifted by a byte).
    static std::string Part(const std::string& head, const std::string& file, bool shifted) {
        const std::size_t at = head.find("\r\nRange: bytes=");
        if (at == std::string::npos) return Ok(file, "Content-Type: video/mp2t\r\n");
        const std::size_t dash = head.find('-', at + 15);
        const std::size_t first = std::stoul(head.substr(at + 15)) + shifted;
        const std::size_t last =
            head[dash + 1] == '\r' ? file.size() - 1 : std::stoul(head.substr(dash + 1)) + shifted;
        return "HTTP/1.1 206 Partial Content\r\nContent-Type: video/mp2t\r\nContent-Range: bytes " +
               std::to_string(first) + "-" + std::to_string(last) + "/" +
               std::to_string(file.size()) +
               "\r\nContent-Length: " + std::to_string(last - first + 1) + "\r\n\r\n" +
               file.substr(first, last - first + 1);
    }

    static constexpr std::chrono::seconds kHold{60};
    const std::map<std::string, std::string> files_;
    const std::map<std::string, SiteFault> faults_;
    mutable std::mutex mutex_;
    std::vector<std::string> requests_;
    LoopbackPeer peer_;  // last: its scripts end before the rest goes
};

}  // namespace tarnwick::testing
