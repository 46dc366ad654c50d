// Get against servers that answer to harm: answers without end, ambiguous framing, interim
// answers, huge error bodies, and kept connections lost under a request. Each answer must end
// within its bound, with the failure named and the connection not kept, and without the client
// holding more than the bounds allow.

#include "http/IdHTTP.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/Exception.h"
#include "http/IdHTTPExceptions.h"
#include "net/IdExceptions.h"
#include "support/HttpAnswers.h"
#include "support/LoopbackPeer.h"

using namespace tarnwick;
using namespace tarnwick::testing;

namespace {

// The process's peak resident memory so far, in bytes.
std::int64_t PeakMemory() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.starts_with("VmHWM:")) return std::stoll(line.substr(6)) * 1024;
    return 0;
}

// Answers the first request with head, then with unit over and over (in blocks of about 64 KiB)
// until total bytes went out or the client stopped taking them.
LoopbackPeer::Script Stream(std::string head, std::string unit, std::int64_t total) {
    return [head, unit, total](PeerConnection& c) {
        if (ReadRequestHead(c).empty()) return;
        std::string block;
        while (block.size() < 65536) block += unit;
        try {
            c.Send(head);
            for (std::int64_t sent = 0; sent < total; sent += std::int64_t(block.size()))
                c.Send(block);
        } catch (const std::runtime_error&) {
            // The client closed: what it took is the point of the case.
        }
    };
}

std::string Lines(int count, const std::string& line) {
    std::string lines;
    for (int i = 0; i < count; ++i) lines += line;
    return lines;
}

constexpr std::int64_t kMiB = 1024 * 1024;

struct HostileCase {
    HostileCase(const char* n, std::function<LoopbackPeer::Script()> s, std::string f,
                std::string b = {}, std::int64_t e = 0)
        : name(n), server(std::move(s)), failure(std::move(f)), body(std::move(b)),
          errorBodySize(e) {}

    const char* name;
    std::function<LoopbackPeer::Script()> server;
    std::string failure;  // the exception's message; empty for a Get that succeeds
    std::string body;     // what reaches the output, or an error status's body's start
    std::int64_t errorBodySize;
};

void PrintTo(const HostileCase& c, std::ostream* out) { *out << c.name; }

class HostileAnswerTest : public ::testing::TestWithParam<HostileCase> {};

const std::string kOkChunkedHead = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";
const std::string kProcessing = "HTTP/1.1 102 Processing\r\n\r\n";

std::vector<HostileCase> Cases() {
    const std::string block(100, 'e');
    return {
        {"HeaderLinesWithoutEnd",
         [] { return Stream("HTTP/1.1 200 OK\r\n", "X-Line: y\r\n", 64 * kMiB); },
         "The header block of the answer has more than 1000 lines."},
        {"HeaderBlockBeyond256KiB",
         [] { return Stream("HTTP/1.1 200 OK\r\n", "X-Wide: " + std::string(8000, 'w') + "\r\n",
                            64 * kMiB); },
         "The header block of the answer is larger than 262144 bytes."},
        {"ContinueWithoutEnd",
         [] { return Stream("", "HTTP/1.1 100 Continue\r\n\r\n", 64 * kMiB); },
         "More than 32 interim answers came before the final one."},
        {"EarlyHintsWithLinesWithoutEnd",
         [] { return Stream("HTTP/1.1 103 Early Hints\r\n", "Link: </a.css>\r\n", 64 * kMiB); },
         "The header block of the answer has more than 1000 lines."},
        {"ChunkTrailerWithoutEnd",
         [] {
             return Stream(kOkChunkedHead + "5\r\nhello\r\n0\r\n", "X-Trailer: t\r\n", 64 * kMiB);
         },
         "The header block of the answer has more than 1000 lines.", "hello"},
        {"ThirtyTwoInterimAnswersAreFine",
         [] { return ServeAnswers({{Lines(32, kProcessing) + Ok("hello")}}); },
         "", "hello"},
        {"ThirtyThreeAreNot",
         [] { return ServeAnswers({{Lines(33, kProcessing) + Ok("hello")}}); },
         "More than 32 interim answers came before the final one."},
        {"ProcessingAndEarlyHintsAreSkipped",
         [] { return ServeAnswers({{"HTTP/1.1 102 Processing\r\n\r\n"
                                    "HTTP/1.1 103 Early Hints\r\nLink: </a.css>\r\n\r\n" +
                                    Ok("hello")}}); },
         "", "hello"},
        {"ChunkedWinsOverLength",
         [] {
             return ServeAnswers({{"HTTP/1.1 200 OK\r\nContent-Length: 100\r\n"
                                   "Transfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n0\r\n\r\n"}});
         },
         "", "hello"},
        {"DifferingLengths",
         [] { return ServeAnswers({{"HTTP/1.1 200 OK\r\nContent-Length: 5\r\n"
                                    "Content-Length: 7\r\n\r\nhello!!"}}); },
         "The answer gives differing Content-Length values."},
        {"DifferingLengthsInAList",
         [] { return ServeAnswers({{"HTTP/1.1 200 OK\r\nContent-Length: 5, 7\r\n\r\nhello!!"}}); },
         "The answer gives differing Content-Length values."},
        {"SameLengthTwiceIsOneLength",
         [] { return ServeAnswers({{"HTTP/1.1 200 OK\r\nContent-Length: 5, 5\r\n"
                                    "Content-Length: 5\r\n\r\nhello"}}); },
         "", "hello"},
        {"LengthWithASign",
         [] { return ServeAnswers({{"HTTP/1.1 200 OK\r\nContent-Length: +5\r\n\r\nhello"}}); },
         "Invalid Content-Length \"+5\": not a decimal number below 2^63."},
        {"LengthBeyond63Bits",
         [] { return ServeAnswers({{"HTTP/1.1 200 OK\r\nContent-Length: 9223372036854775808\r\n"
                                    "\r\nhello"}}); },
         "Invalid Content-Length \"9223372036854775808\": not a decimal number below 2^63."},
        // A part of a file ends where its range says, however it is framed.
        {"PartLengthOtherThanItsRange",
         [] { return ServeAnswers({{"HTTP/1.1 206 Partial Content\r\nContent-Range: bytes 0-4/9"
                                    "\r\nContent-Length: 7\r\n\r\nhello!!"}}); },
         "The answer's Content-Length differs from the length of the range it names."},
        {"PartPastItsRangeUntilClose",
         [] { return ServeAnswers({{"HTTP/1.1 206 Partial Content\r\nContent-Range: bytes 0-4/9"
                                    "\r\n\r\nhello world", true}}); },
         "The server sent more bytes than the range it named.", "hello"},
        {"PartPastItsRangeInChunks",
         [] { return ServeAnswers({{"HTTP/1.1 206 Partial Content\r\nContent-Range: bytes 0-8/9"
                                    "\r\nTransfer-Encoding: chunked\r\n\r\n"
                                    "5\r\nhello\r\n6\r\n world\r\n0\r\n\r\n"}}); },
         "The server sent more bytes than the range it named.", "hello"},
        {"PartShortOfItsRangeInChunks",
         [] { return ServeAnswers({{"HTTP/1.1 206 Partial Content\r\nContent-Range: bytes 0-8/9"
                                    "\r\nTransfer-Encoding: chunked\r\n\r\n"
                                    "5\r\nhello\r\n0\r\n\r\n"}}); },
         "The body ended before the end of the range it named.", "hello"},
        {"PartWithARangeThatIsNone",
         [] { return ServeAnswers({{"HTTP/1.1 206 Partial Content\r\nContent-Range: bytes 5-4/9"
                                    "\r\nContent-Length: 5\r\n\r\nhello"}}); },
         "The answer's Content-Range names no valid range of the file."},
        {"PartsEachWithTheirOwnRange",
         [] { return ServeAnswers({{"HTTP/1.1 206 Partial Content\r\nContent-Type: "
                                    "multipart/byteranges; boundary=B\r\nContent-Length: 5\r\n"
                                    "\r\nhello"}}); },
         "", "hello"},
        {"NotFoundWith2GiBBody",
         [block] { return Stream("HTTP/1.1 404 Not Found\r\nContent-Length: 2147483648\r\n\r\n",
                                 block, 2048 * kMiB); },
         "HTTP/1.1 404 Not Found", block, 65536},
        {"ErrorWithChunksWithoutEnd",
         [block] { return Stream("HTTP/1.1 500 Internal Server Error\r\n"
                                 "Transfer-Encoding: chunked\r\n\r\n",
                                 "64\r\n" + block + "\r\n", 2048 * kMiB); },
         "HTTP/1.1 500 Internal Server Error", block, 65536},
        {"ErrorUntilClose",
         [block] { return Stream("HTTP/1.0 500 Internal Server Error\r\n\r\n", block,
                                 2048 * kMiB); },
         "HTTP/1.0 500 Internal Server Error", block, 65536},
    };
}

// One table: each answer ends as it must, the connection is not kept after a failure or an
// ambiguous framing, and neither the output, the error body nor the process grows beyond bounds.
TEST_P(HostileAnswerTest, EndsWithinItsBound) {
    const HostileCase& c = GetParam();
    const std::int64_t peakBefore = PeakMemory();
    LoopbackPeer peer(c.server());
    TIdHTTP http;
    TIdMemoryStream out;
    const std::string url = "http://127.0.0.1:" + peer.PortText() + "/";
    std::string failure;
    bool errorStatus = false;
    try {
        http.Get(url, out);
    } catch (const EIdHTTPProtocolException& e) {
        failure = e.Message();
        errorStatus = true;
        EXPECT_EQ(std::int64_t(e.ResponseBody().size()), c.errorBodySize);
        EXPECT_TRUE(e.ResponseBody().starts_with(c.body));
    } catch (const EIdException& e) {
        failure = e.Message();
    }
    EXPECT_EQ(failure, c.failure);
    EXPECT_EQ(out.DataString(), errorStatus ? "" : c.body);
    // Every case but the plain successes leaves the connection closed.
    const bool plain = c.failure.empty() && std::string(c.name) != "ChunkedWinsOverLength";
    EXPECT_EQ(http.IsConnected(), plain);
    EXPECT_LT(PeakMemory() - peakBefore, 64 * kMiB);
}

INSTANTIATE_TEST_SUITE_P(Answers, HostileAnswerTest, ::testing::ValuesIn(Cases()),
                         [](const auto& info) { return std::string(info.param.name); });

// An error body beyond what is kept is read on (and dropped) only up to a bound, to keep the
// connection; a larger one costs the connection instead.
TEST(HostileAnswer, ErrorBodyIsDrainedToKeepTheConnectionOnlyWithinItsBound) {
    const std::string small(500 * 1024, 's'), large(2 * kMiB, 'l');
    const auto notFound = [](const std::string& body) {
        return "HTTP/1.1 404 Not Found\r\nContent-Length: " + std::to_string(body.size()) +
               "\r\n\r\n" + body;
    };
    LoopbackPeer peer(ServeAnswers({{notFound(small)}, {Ok("next")}, {notFound(large)}}));
    const std::string url = "http://127.0.0.1:" + peer.PortText() + "/";
    TIdHTTP http;
    TIdMemoryStream out;
    try {
        http.Get(url, out);
        ADD_FAILURE() << "no error";
    } catch (const EIdHTTPProtocolException& e) {
        EXPECT_EQ(e.ResponseBody(), small.substr(0, 65536));
    }
    EXPECT_TRUE(http.IsConnected());
    http.Get(url, out);
    EXPECT_EQ(out.DataString(), "next");
    EXPECT_EQ(peer.Accepted(), 1);
    try {
        http.Get(url, out);
        ADD_FAILURE() << "no error";
    } catch (const EIdHTTPProtocolException& e) {
        EXPECT_EQ(e.ResponseBody(), large.substr(0, 65536));
    }
    EXPECT_FALSE(http.IsConnected());
}

// A kept connection that the server closes or resets just as the next request goes out: a GET is
// sent once more on a new connection; nothing is sent again once any byte of the answer came, nor
// for a POST, nor when the connection was new.
TEST(HostileAnswer, RequestLostOnAKeptConnectionIsSentOnceMore) {
    const auto lose = [](bool reset) {
        return [reset](PeerConnection& c) {
            if (ReadRequestHead(c).empty()) return;
            if (reset)
                c.Reset();
            else
                c.Close();
        };
    };
    for (const bool reset : {false, true}) {
        std::atomic<int> connection{0};
        LoopbackPeer peer([&, reset](PeerConnection& c) {
            // The first connection answers a redirect and loses the next request; the second
            // answers it.
            if (connection++ == 0) {
                ReadRequestHead(c);
                c.Send("HTTP/1.1 302 Found\r\nLocation: /next\r\nContent-Length: 0\r\n\r\n");
                lose(reset)(c);
            } else {
                ReadRequestHead(c);
                c.Send(Ok("done"));
                c.WaitForClose();
            }
        });
        TIdHTTP http;
        http.HandleRedirects = true;
        TIdMemoryStream out;
        http.Get("http://127.0.0.1:" + peer.PortText() + "/", out);
        EXPECT_EQ(out.DataString(), "done") << (reset ? "reset" : "closed");
        EXPECT_EQ(peer.Accepted(), 2);
    }

    // A partial status line came: no second sending.
    {
        LoopbackPeer peer(ServeAnswers({{Ok("first")}, {"HTTP/1.1 20", true}, {Ok("never")}}));
        TIdHTTP http;
        TIdMemoryStream out;
        const std::string url = "http://127.0.0.1:" + peer.PortText() + "/";
        http.Get(url, out);
        EXPECT_THROW(http.Get(url, out), EIdConnClosedGracefully);
        EXPECT_EQ(peer.Accepted(), 1);
    }
    // A POST is never sent twice.
    {
        LoopbackPeer peer(ServeAnswers({{Ok("first")}, {"", true}, {Ok("never")}}));
        TIdHTTP http;
        TIdMemoryStream out, source(std::string("payload"));
        const std::string url = "http://127.0.0.1:" + peer.PortText() + "/";
        http.Get(url, out);
        // Closed with the body unread: a close or a reset, as the timing goes.
        EXPECT_THROW(http.PerformRequest(hmPost, url, &source, &out), EIdException);
        EXPECT_EQ(peer.Accepted(), 1);
    }
    // A new connection that is lost is not tried again.
    {
        LoopbackPeer peer(ServeAnswers({{"", true}, {Ok("never")}}));
        TIdHTTP http;
        TIdMemoryStream out;
        EXPECT_THROW(http.Get("http://127.0.0.1:" + peer.PortText() + "/", out),
                     EIdConnClosedGracefully);
        EXPECT_EQ(peer.Accepted(), 1);
    }
}

}  // namespace
