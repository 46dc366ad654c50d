// The substitute lookup service's file serving and test switches, spoken to over the line client.

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "core/StrUtils.h"
#include "job/lookup/LookupQuery.h"
#include "job/lookup/LookupRecord.h"
#include "net/Sockets.h"
#include "support/LookupService.h"

using namespace tarnwick;
using tarnwick::testing::CatalogueEntry;
using tarnwick::testing::LookupService;

namespace {

struct Response {
    std::string status;
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;

    std::string Header(std::string_view name) const {
        for (const auto& [n, v] : headers)
            if (SameText(n, name)) return v;
        return {};
    }
};

// Up to count bytes, fewer when the connection ends.
std::string ReceiveExactly(TTcpClient& client, std::size_t count) {
    std::string bytes;
    char buffer[4096];
    while (bytes.size() < count) {
        const auto want = static_cast<std::int32_t>(std::min(sizeof buffer, count - bytes.size()));
        const std::int32_t n = client.ReceiveData(buffer, want);
        if (n <= 0) break;
        bytes.append(buffer, static_cast<std::size_t>(n));
    }
    return bytes;
}

// Sends one request and reads its response: the body by Content-Length, chunks, or to the end.
Response Exchange(TTcpClient& client, const std::string& method, const std::string& target,
                  const std::string& extraHeaders = "") {
    client.SendLine(method + " " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" + extraHeaders);
    Response r;
    r.status = client.ReceiveLine();
    for (std::string line; !(line = client.ReceiveLine()).empty();) {
        const std::size_t colon = line.find(':');
        r.headers.emplace_back(line.substr(0, colon), Trim(line.substr(colon + 1)));
    }
    if (method == "HEAD") return r;
    if (SameText(r.Header("Transfer-Encoding"), "chunked")) {
        for (;;) {
            const std::size_t size = std::stoul(client.ReceiveLine(), nullptr, 16);
            r.body += ReceiveExactly(client, size);
            client.ReceiveLine();
            if (size == 0) break;
        }
    } else if (!r.Header("Content-Length").empty()) {
        const auto length = static_cast<std::size_t>(StrToInt(r.Header("Content-Length")));
        r.body = ReceiveExactly(client, length);
    } else {
        r.body = ReceiveExactly(client, 1 << 30);
    }
    return r;
}

std::string Media() {
    std::string bytes;
    for (int i = 0; i < 100000; ++i) bytes.push_back(static_cast<char>(i * 31 + i / 256));
    return bytes;
}

class LookupServiceFiles : public ::testing::Test {
protected:
    LookupServiceFiles() {
        client_.SetRemoteHost("127.0.0.1");
        client_.SetRemotePort(service_.PortText());
        client_.ConnectClient();
    }

    static CatalogueEntry Entry() {
        CatalogueEntry e;
        e.address = "http://v/1";
        e.fileext = "flv";
        e.preview = "\xff\xd8\xff\xe0 jpeg";
        e.media = Media();
        e.extra = {{"redirects", "1"}, {"chunked", "1"}};
        return e;
    }

    LookupService service_{{Entry()}};
    TTcpClient client_;
};

}  // namespace

TEST_F(LookupServiceFiles, ServesMediaAndPreviewWithLengthOnOneConnection) {
    ASSERT_TRUE(client_.Connected());
    const Response media = Exchange(client_, "GET", "/media/0.flv");
    EXPECT_EQ(media.status, "HTTP/1.1 200 OK");
    EXPECT_EQ(media.Header("Content-Length"), "100000");
    EXPECT_EQ(media.body, Media());
    const Response preview = Exchange(client_, "GET", "/preview/0.jpg");
    EXPECT_EQ(preview.status, "HTTP/1.1 200 OK");
    EXPECT_EQ(preview.Header("Content-Type"), "image/jpeg");
    EXPECT_EQ(preview.body, "\xff\xd8\xff\xe0 jpeg");
    const Response head = Exchange(client_, "HEAD", "/media/0.flv");
    EXPECT_EQ(head.Header("Content-Length"), "100000");
    EXPECT_EQ(Exchange(client_, "GET", "/media/7.flv").status, "HTTP/1.1 404 Not Found");
    EXPECT_EQ(Exchange(client_, "GET", "/elsewhere").status, "HTTP/1.1 404 Not Found");
    EXPECT_EQ(Exchange(client_, "GET", "/media/0.flv").body.size(), 100000u);
}

TEST_F(LookupServiceFiles, HonoursRanges) {
    const std::string media = Media();
    struct Case {
        std::string range, status, contentRange, body;
    };
    for (const Case& c : std::vector<Case>{
             {"bytes=10-19", "HTTP/1.1 206 Partial Content", "bytes 10-19/100000",
              media.substr(10, 10)},
             {"bytes=99990-", "HTTP/1.1 206 Partial Content", "bytes 99990-99999/100000",
              media.substr(99990)},
             {"bytes=-5", "HTTP/1.1 206 Partial Content", "bytes 99995-99999/100000",
              media.substr(99995)},
             {"bytes=99999-200000", "HTTP/1.1 206 Partial Content", "bytes 99999-99999/100000",
              media.substr(99999)},
             {"bytes=100000-", "HTTP/1.1 416 Range Not Satisfiable", "bytes */100000", ""},
             {"bytes=20-10", "HTTP/1.1 200 OK", "", media}}) {
        const Response r = Exchange(client_, "GET", "/media/0.flv", "Range: " + c.range + "\r\n");
        EXPECT_EQ(r.status, c.status) << c.range;
        EXPECT_EQ(r.Header("Content-Range"), c.contentRange) << c.range;
        EXPECT_EQ(r.body, c.body) << c.range;
    }
}

TEST_F(LookupServiceFiles, RedirectsTheGivenNumberOfTimes) {
    const std::string base = service_.BaseUrl();
    Response r = Exchange(client_, "GET", "/media/0.flv?redirects=2&rate=100000000");
    EXPECT_EQ(r.status, "HTTP/1.1 302 Found");
    EXPECT_EQ(r.Header("Location"), base + "/media/0.flv?redirects=1&rate=100000000");
    r = Exchange(client_, "GET", "/media/0.flv?redirects=1&rate=100000000");
    EXPECT_EQ(r.Header("Location"), base + "/media/0.flv?rate=100000000");
    r = Exchange(client_, "GET", "/media/0.flv?rate=100000000");
    EXPECT_EQ(r.status, "HTTP/1.1 200 OK");
    EXPECT_EQ(r.body, Media());
}

TEST_F(LookupServiceFiles, SendsChunksWhenAsked) {
    const Response r = Exchange(client_, "GET", "/media/0.flv?chunked=1");
    EXPECT_EQ(r.Header("Transfer-Encoding"), "chunked");
    EXPECT_EQ(r.Header("Content-Length"), "");
    EXPECT_EQ(r.body, Media());
    // The connection goes on after the last chunk.
    EXPECT_EQ(Exchange(client_, "GET", "/preview/0.jpg").status, "HTTP/1.1 200 OK");
}

TEST_F(LookupServiceFiles, ClosesAfterTheGivenBytes) {
    const Response r = Exchange(client_, "GET", "/media/0.flv?close_after=1000");
    EXPECT_EQ(r.Header("Content-Length"), "100000");
    EXPECT_EQ(r.body, Media().substr(0, 1000));
    char byte;
    EXPECT_EQ(client_.ReceiveData(&byte, 1), 0) << "the connection is still open";
}

TEST_F(LookupServiceFiles, ThrottledTransferStillDeliversEveryByte) {
    const Response r = Exchange(client_, "GET", "/media/0.flv?rate=1000000");
    EXPECT_EQ(r.body, Media());
}

TEST_F(LookupServiceFiles, CatalogueSwitchesGoIntoTheRecordUrl) {
    const std::string text = RequestLookupRecord(
        TLookupEndpoint{"127.0.0.1", service_.PortText()}, nullptr, "1", "0", "http://v/1");
    TLookupRecord record;
    ParseLookupRecord(text, record);
    EXPECT_EQ(record.Values("url"), service_.BaseUrl() + "/media/0.flv?redirects=1&chunked=1");
    EXPECT_EQ(record.Values("preview"), service_.BaseUrl() + "/preview/0.jpg");
}

TEST(LookupServiceProcess, SigtermStopsItCleanly) {
    LookupService service({});
    EXPECT_EQ(service.Stop(), 0);
}
