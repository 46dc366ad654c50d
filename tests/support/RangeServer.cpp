#include "support/RangeServer.h"

#include <chrono>
#include <cstdio>

#include "support/HttpAnswers.h"

namespace tarnwick::testing {

namespace {

// The value of a request header, "" when absent.
std::string HeaderOf(const std::string& head, const std::string& name) {
    const std::size_t at = head.find("\r\n" + name + ": ");
    if (at == std::string::npos) return "";
    const std::size_t from = at + name.size() + 4;
    return head.substr(from, head.find("\r\n", from) - from);
}

std::string Hex(std::int64_t n) {
    char text[32];
    std::snprintf(text, sizeof text, "%llx", static_cast<long long>(n));
    return text;
}

}  // namespace

RangeServer::RangeServer(RangePlan plan) : state_(std::make_shared<State>()) {
    state_->plan = std::move(plan);
    peer_ = std::make_unique<LoopbackPeer>([state = state_](PeerConnection& c) {
        for (std::string head; !(head = ReadRequestHead(c)).empty();)
            if (!Answer(*state, c, head)) return;
    });
}

bool RangeServer::Answer(State& state, PeerConnection& c, const std::string& head) {
    const RangePlan& plan = state.plan;
    const int index = state.requests++;
    if (plan.deadAt >= 0 && index >= plan.deadAt) return false;
    const bool changed = plan.changeAt >= 0 && index >= plan.changeAt;
    const std::string& file = changed ? plan.changedFile : plan.file;
    const auto size = static_cast<std::int64_t>(file.size());
    std::string validator;
    if (plan.validator == RangePlan::kETag) validator = changed ? "\"b\"" : "\"a\"";
    if (plan.validator == RangePlan::kLastModified)
        validator = changed ? "Tue, 02 Jan 2024 10:00:00 GMT" : "Mon, 01 Jan 2024 10:00:00 GMT";
    std::string headers;
    if (plan.validator == RangePlan::kETag) headers = "ETag: " + validator + "\r\n";
    if (plan.validator == RangePlan::kLastModified) headers = "Last-Modified: " + validator + "\r\n";

    std::int64_t start = 0;
    const std::string range = HeaderOf(head, "Range"), ifRange = HeaderOf(head, "If-Range");
    if (range.starts_with("bytes=") && plan.honourRange && (ifRange.empty() || ifRange == validator)) {
        if (plan.wrongStart >= 0) {
            state.sent += 10;
            c.Send("HTTP/1.1 206 Partial Content\r\n" + headers + "Content-Range: bytes " +
                   std::to_string(plan.wrongStart) + "-" + std::to_string(plan.wrongStart + 9) +
                   "/" + std::to_string(size) + "\r\nContent-Length: 10\r\n\r\n" +
                   file.substr(static_cast<std::size_t>(plan.wrongStart), 10));
            return true;
        }
        start = std::stoll(range.substr(6));
        if (start >= size) {
            c.Send("HTTP/1.1 416 Range Not Satisfiable\r\nContent-Range: bytes */" +
                   std::to_string(size) + "\r\nContent-Length: 0\r\n\r\n");
            return true;
        }
        headers += "Content-Range: bytes " + std::to_string(start) + "-" +
                   std::to_string(size - 1) + "/" + std::to_string(size) + "\r\n";
    }
    headers += plan.chunked ? std::string("Transfer-Encoding: chunked\r\n")
                            : "Content-Length: " + std::to_string(size - start) + "\r\n";
    const std::int64_t end =
        static_cast<std::size_t>(index) < plan.cuts.size() ? plan.cuts[index] : size;
    std::string body = file.substr(static_cast<std::size_t>(start),
                                   static_cast<std::size_t>(end - start));
    state.sent += end - start;
    if (plan.chunked) body = Hex(size - start) + "\r\n" + body + (end == size ? "\r\n0\r\n\r\n" : "");
    c.Send(std::string(start > 0 ? "HTTP/1.1 206 Partial Content\r\n" : "HTTP/1.1 200 OK\r\n") +
           headers + "\r\n" + body);
    if (end == size) return true;
    if (plan.cutBy == RangePlan::kReset) c.Reset();
    if (plan.cutBy == RangePlan::kSilent) c.WaitForClose(std::chrono::seconds(30));
    return false;
}

}  // namespace tarnwick::testing
