#pragma once

// A file server for continued transfers: "Range: bytes=N-" gets 206 (416 from the end on) unless
// told not to, while an "If-Range" names its ETag. Request i's body stops at cuts[i] (a close or
// a reset); from request changeAt on it serves changedFile under another ETag, from deadAt on it
// closes every request unanswered. It counts the requests and the body bytes it sent.

#include <atomic>
#include <string>
#include <vector>

#include "support/HttpAnswers.h"

namespace tarnwick::testing {

struct RangePlan {
    std::vector<std::size_t> cuts{};
    bool reset = false, honourRange = true, etag = true;
    int changeAt = -1, deadAt = -1;
};

class RangeServer {
public:
    RangeServer(RangePlan plan, std::string file, std::string changedFile = {})
        : plan_(std::move(plan)), files_{std::move(file), std::move(changedFile)},
          peer_([this](PeerConnection& c) {
              for (std::string head; !(head = ReadRequestHead(c)).empty() && Answer(c, head);) {}
          }) {}

    std::string Url() const { return "http://127.0.0.1:" + peer_.PortText() + "/file"; }
    std::atomic<int> requests{0};
    std::atomic<std::size_t> sent{0};

private:
    bool Answer(PeerConnection& c, const std::string& head) {
        const int index = requests++;
        if (plan_.deadAt >= 0 && index >= plan_.deadAt) return false;
        const bool changed = plan_.changeAt >= 0 && index >= plan_.changeAt;
        const std::string& file = files_[changed];
        const std::string tag = changed ? "\"b\"" : "\"a\"", size = std::to_string(file.size());
        std::string status = "200 OK", headers = plan_.etag ? "ETag: " + tag + "\r\n" : "";
        const std::size_t range = head.find("\r\nRange: bytes="), ifRange = head.find("If-Range");
        std::size_t start = 0;
        if (range != std::string::npos && plan_.honourRange &&
            (ifRange == std::string::npos || head.find("If-Range: " + tag) == ifRange)) {
            start = std::stoul(head.substr(range + 15));
            status = start < file.size() ? "206 Partial Content" : "416 Range Not Satisfiable";
            headers += "Content-Range: bytes " +
                       (start < file.size() ? std::to_string(start) + "-" +
                                                  std::to_string(file.size() - 1)
                                            : "*") + "/" + size + "\r\n";
            start = std::min(start, file.size());
        }
        const std::size_t end = index < int(plan_.cuts.size()) ? plan_.cuts[index] : file.size();
        sent += end - start;
        c.Send("HTTP/1.1 " + status + "\r\n" + headers + "Content-Length: " +
               std::to_string(file.size() - start) + "\r\n\r\n" + file.substr(start, end - start));
        if (end < file.size() && plan_.reset) c.Reset();
        return end >= file.size();
    }

    RangePlan plan_;
    std::string files_[2];
    LoopbackPeer peer_;  // last: its scripts end before what they use goes
};

}  // namespace tarnwick::testing
