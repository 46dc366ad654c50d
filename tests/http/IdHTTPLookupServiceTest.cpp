// Get of media from the substitute lookup service, with its redirect, chunked, throttled and
// cut-connection switches.

#include "http/IdHTTP.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "net/IdExceptions.h"
#include "support/LookupService.h"
#include "support/WorkLog.h"

using namespace tarnwick;
using namespace tarnwick::testing;

namespace {

std::string Media(std::size_t size) {
    std::string s(size, '\0');
    for (std::size_t i = 0; i < size; ++i) s[i] = static_cast<char>((i * 7 + i / 251) % 256);
    return s;
}

class LookupServiceGetTest : public ::testing::Test {
protected:
    LookupServiceGetTest() : media_(Media(300000)), service_({Entry()}) {}

    CatalogueEntry Entry() const {
        CatalogueEntry e;
        e.address = "http://www.youtube.com/watch?v=abc";
        e.author = "A";
        e.title = "T";
        e.length = "0:04";
        e.size = "300 KB";
        e.filename = "clip";
        e.media = media_;
        return e;
    }
    std::string MediaUrl(const std::string& query) const {
        return service_.BaseUrl() + "/media/0.flv" + query;
    }

    const std::string media_;
    LookupService service_;
    TIdHTTP http_;
    TIdMemoryStream out_;
};

}  // namespace

TEST_F(LookupServiceGetTest, RedirectsAreFollowed) {
    http_.HandleRedirects = true;
    int redirects = 0;
    http_.OnRedirect = [&](TIdCustomHTTP&, std::string&, std::int32_t, bool&, TIdHTTPMethod&) {
        ++redirects;
    };
    http_.Get(MediaUrl("?redirects=3"), out_);
    EXPECT_EQ(redirects, 3);
    EXPECT_TRUE(out_.DataString() == media_);
}

TEST_F(LookupServiceGetTest, ChunkedBodyIsJoinedWithWorkEventsPerChunk) {
    WorkLog log(http_);
    http_.Get(MediaUrl("?chunked=1"), out_);
    EXPECT_TRUE(out_.DataString() == media_);
    int begins = 0;
    for (const auto& event : log.Events()) begins += event.starts_with("begin r ");
    EXPECT_EQ(begins, (300000 + 16383) / 16384);  // the service sends 16 KiB chunks
    EXPECT_EQ(log.Events().front(), "begin r 16384");
}

TEST_F(LookupServiceGetTest, ThrottledBodyArrivesWholeWithRunningProgress) {
    WorkLog log(http_);
    http_.Get(MediaUrl("?rate=1000000"), out_);  // about 0.3 s
    EXPECT_TRUE(out_.DataString() == media_);
    const Events events = log.Events();
    EXPECT_EQ(events.front(), "begin r 300000");
    EXPECT_GT(events.size(), 4u);
    EXPECT_EQ(events[events.size() - 2], "work r 300000");
}

TEST_F(LookupServiceGetTest, CutConnectionFailsAndKeepsWhatCame) {
    EXPECT_THROW(http_.Get(MediaUrl("?close_after=50000"), out_), EIdConnClosedGracefully);
    EXPECT_TRUE(out_.DataString() == media_.substr(0, 50000)) << out_.Size();
}
