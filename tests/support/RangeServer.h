#pragma once

// A file server for continued transfers: "Range: bytes=N-" gets 206 (416 from the end on) unless
// told not to, while an "If-Range" names its ETag (or, with lastModified and no ETag, its
// Last-Modified date). Request i's body stops at cuts[i] (a close or a reset); from request
// changeAt on it serves changedFile under another ETag and date, from deadAt on it closes every
// request unanswered. 206 bodies are framed as framing says (a Content-Length by default), and
// the one to request skewAt ends skew bytes past the end its range names (before it, when
// negative), its Content-Length telling that too. It counts the requests and the body bytes it
// sent.
//
// For pieces of a file, asked for as "bytes=N-M": each of breaks cuts the first such body that
// runs across it, once; with stall a cut leaves the connection open and silent until the client
// closes it instead. From request longerAt on the file is 1000 bytes longer under the same
// validators. A connection that comes while maxConnections (0: any number) others are open is
// closed unanswered. Bodies go out in 64 KiB sends, pause apart. It counts the requests that ask
// for a range and the most connections open at once (one the client has closed counts no more,
// though its script has not noticed yet).

#include <poll.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <set>
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
    std::vector<std::size_t> breaks{};
    bool stall = false;
    int longerAt = -1, maxConnections = 0;
    std::chrono::milliseconds pause{0};
};

class RangeServer {
public:
    RangeServer(RangePlan plan, std::string file, std::string changedFile = {})
        : plan_(std::move(plan)), files_{std::move(file), std::move(changedFile)},
          peer_([this](PeerConnection& c) {
              const OpenConnection open(*this, c.Fd());
              if (!open.admitted) return;
              for (std::string head; !(head = ReadRequestHead(c)).empty() && Answer(c, head);) {}
          }) {}

    std::string Url() const { return "http://127.0.0.1:" + peer_.PortText() + "/file"; }
    std::atomic<int> requests{0};
    std::atomic<std::size_t> sent{0};
    std::atomic<int> ranged{0}, mostOpen{0};

private:
    // A connection among the open ones while its script runs.
    struct OpenConnection {
        OpenConnection(RangeServer& server, int fd) : server(server), fd(fd) {
            const std::lock_guard lock(server.mutex_);
            int live = 1;
            for (const int other : server.open_) {
                pollfd probe{other, POLLRDHUP, 0};
                live += ::poll(&probe, 1, 0) == 0;
            }
            admitted = server.plan_.maxConnections == 0 || live <= server.plan_.maxConnections;
            if (!admitted) return;
            server.open_.insert(fd);
            server.mostOpen = std::max(server.mostOpen.load(), live);
        }
        ~OpenConnection() {
            const std::lock_guard lock(server.mutex_);
            server.open_.erase(fd);
        }
        RangeServer& server;
        int fd;
        bool admitted = false;
    };

    // Where a body asked for from start to rangeEnd stops: at the first break it runs across.
    std::size_t BreakIn(std::size_t start, std::size_t rangeEnd) {
        const std::lock_guard lock(mutex_);
        for (std::size_t& at : plan_.breaks)
            if (at > start && at < rangeEnd) return std::exchange(at, 0);
        return rangeEnd;
    }

    bool Answer(PeerConnection& c, const std::string& head) {
        const int index = requests++;
        if (plan_.deadAt >= 0 && index >= plan_.deadAt) return false;
        const bool changed = plan_.changeAt >= 0 && index >= plan_.changeAt;
        const std::string file = files_[changed] + std::string(
            plan_.longerAt >= 0 && index >= plan_.longerAt ? 1000 : 0, 'L');
        const std::string tag = changed ? "\"b\"" : "\"a\"", size = std::to_string(file.size());
        const std::string date = changed ? "Tue, 08 Dec 2026 10:00:00 GMT"
                                         : "Mon, 07 Dec 2026 10:00:00 GMT";
        const std::string validator = plan_.etag ? tag : plan_.lastModified ? date : "-";
        std::string status = "200 OK", headers = plan_.etag ? "ETag: " + tag + "\r\n" : "";
        if (plan_.lastModified) headers += "Last-Modified: " + date + "\r\n";
        const std::size_t range = head.find("\r\nRange: bytes="), ifRange = head.find("If-Range");
        std::size_t start = 0, rangeEnd = file.size();
        bool closed = false;  // the range names its end
        ranged += range != std::string::npos;
        if (range != std::string::npos && plan_.honourRange &&
            (ifRange == std::string::npos || head.find("If-Range: " + validator) == ifRange)) {
            start = std::stoul(head.substr(range + 15));
            const std::size_t dash = head.find('-', range + 15);
            closed = std::isdigit(static_cast<unsigned char>(head[dash + 1]));
            if (closed) rangeEnd = std::min(rangeEnd, std::stoul(head.substr(dash + 1)) + 1);
            status = start < file.size() ? "206 Partial Content" : "416 Range Not Satisfiable";
            headers += "Content-Range: bytes " +
                       (start < file.size() ? std::to_string(start) + "-" +
                                                  std::to_string(rangeEnd - 1)
                                            : "*") + "/" + size + "\r\n";
            start = std::min(start, file.size());
        }
        const bool part = status.starts_with("206");
        const long skew = part && index == plan_.skewAt ? plan_.skew : 0;
        const std::size_t whole = (part ? rangeEnd : file.size()) + skew;  // where it ends, uncut
        std::size_t end = std::min(
            index < int(plan_.cuts.size()) ? plan_.cuts[index] : whole, whole);
        if (part && closed) end = std::min(end, BreakIn(start, rangeEnd));
        const std::string body =
            (file + std::string(std::max(skew, 0L), 'X')).substr(start, end - start);
        sent += body.size();
        const Framing framing = part ? plan_.framing : Framing::kLength;
        if (framing == Framing::kLength)
            headers += "Content-Length: " + std::to_string(whole - start) + "\r\n";
        else if (framing == Framing::kChunked)
            headers += "Transfer-Encoding: chunked\r\n";
        c.SendInPieces("HTTP/1.1 " + status + "\r\n" + headers + "\r\n" +
                           (framing == Framing::kChunked ? Chunked(body, end >= whole) : body),
                       plan_.pause.count() > 0 ? 65536 : std::string::npos, plan_.pause);
        if (end < whole && plan_.stall) {
            c.WaitForClose(std::chrono::seconds(30));
            return false;
        }
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
    std::mutex mutex_;   // guards the two below
    std::set<int> open_;  // the connections open now
    LoopbackPeer peer_;  // last: its scripts end before what they use goes
};

}  // namespace tarnwick::testing
