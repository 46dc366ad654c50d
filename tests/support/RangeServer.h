#pragma once

// A file server for continued transfers: "Range: bytes=N-" gets 206 (416 from the end on) unless
// told not to, while an "If-Range" names its ETag (or, with lastModified and no ETag, its
// Last-Modified date). Request i's body stops at cuts[i] (a close or a reset); from request
// changeAt on it serves changedFile under another ETag and date, from deadAt on it closes every
// request unanswered. 206 bodies are framed as framing says (a Content-Length by default), and
// the one to request skewAt ends skew bytes past the end its range names (before it, when
// negative), its Content-Length telling that too. It counts the requests and the body bytes it
// sent.

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <string>
#include <vector>

#include "support/HttpAnswers.h"

namespace tarnwick::testing {

enum class Framing { kLength, kChunked, kUntilClose };

struct RangePlan {
    std::vector<std::size_t> cuts{};
    bool reset = false, honourRange = true, etag = true, lastModified = false;
    int changeAt = -1, deadAt = -1;
    Framing framing = Framing::kLength;
    int skewAt = -1;
    long skew = 0;
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
        const std::string date = changed ? "Tue, 08 Dec 2026 10:00:00 GMT"
                                         : "Mon, 07 Dec 2026 10:00:00 GMT";
        const std::string validator = plan_.etag ? tag : plan_.lastModified ? date : "-";
        std::string status = "200 OK", headers = plan_.etag ? "ETag: " + tag + "\r\n" : "";
        if (plan_.lastModified) headers += "Last-Modified: " + date + "\r\n";
        const std::size_t range = head.find("\r\nRange: bytes="), ifRange = head.find("If-Range");
        std::size_t start = 0;
        if (range != std::string::npos && plan_.honourRange &&
            (ifRange == std::string::npos || head.find("If-Range: " + validator) == ifRange)) {
            start = std::stoul(head.substr(range + 15));
            status = start < file.size() ? "206 Partial Content" : "416 Range Not Satisfiable";
            headers += "Content-Range: bytes " +
                       (start < file.size() ? std::to_string(start) + "-" +
                                                  std::to_string(file.size() - 1)
                                            : "*") + "/" + size + "\r\n";
            start = std::min(start, file.size());
        }
        const bool part = status.starts_with("206");
        const long skew = part && index == plan_.skewAt ? plan_.skew : 0;
        const std::size_t whole = file.size() + skew;  // where this body ends, uncut
        const std::size_t end = std::min(
            index < int(plan_.cuts.size()) ? plan_.cuts[index] : whole, whole);
        const std::string body =
            (file + std::string(std::max(skew, 0L), 'X')).substr(start, end - start);
        sent += body.size();
        const Framing framing = part ? plan_.framing : Framing::kLength;
        if (framing == Framing::kLength)
            headers += "Content-Length: " + std::to_string(whole - start) + "\r\n";
        else if (framing == Framing::kChunked)
            headers += "Transfer-Encoding: chunked\r\n";
        c.Send("HTTP/1.1 " + status + "\r\n" + headers + "\r\n" +
               (framing == Framing::kChunked ? Chunked(body, end >= whole) : body));
        if (end < whole && plan_.reset) c.Reset();
        return end >= whole && framing != Framing::kUntilClose;
    }

    // Chunks of at most 16 KiB, and the last chunk when the body is complete.
    static std::string Chunked(const std::string& body, bool complete) {
        std::string chunks;
        for (std::size_t at = 0; at < body.size(); at += 16384) {
            const std::string chunk = body.substr(at, 16384);
            char size[32];
            std::snprintf(size, sizeof size, "%zx\r\n", chunk.size());
            chunks += size + chunk + "\r\n";
        }
        return complete ? chunks + "0\r\n\r\n" : chunks;
    }

    RangePlan plan_;
    std::string files_[2];
    LoopbackPeer peer_;  // last: its scripts end before what they use goes
};

}  // namespace tarnwick::testing
