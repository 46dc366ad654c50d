// What a file that came from the network may be called in the save folder, and what counts as a
// web page instead of a video.

#include <gtest/gtest.h>

#include <string>

#include "job/fetch/MediaTypes.h"

using namespace tarnwick;

TEST(MediaTypes, DeliveredExtension) {
    const struct {
        std::string record, type, head, out;
    } cases[] = {
        {"flv", "text/plain", "", "flv"},
        {"WEBM", "", "", "WEBM"},
        // A record's extension that a desktop would open as something else is never kept.
        {"txt", "video/mp4", "", "mp4"},
        {"desktop", "Video/X-FLV; charset=x", "", "flv"},
        {"sh", "application/octet-stream", std::string("\0\0\0\x18" "ftypisom", 12), "mp4"},
        {"html", "", "\x1A\x45\xDF\xA3 ... webm", "webm"},
        {"exe", "", "OggS\0", "ogg"},
        {"", "audio/mpeg", "", "mp3"},
        {"", "application/octet-stream", "MZ\x90", "bin"},
        {"", "", "", "bin"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(DeliveredExtension(c.record, c.type, c.head), c.out)
            << c.record << " / " << c.type;
}

TEST(MediaTypes, WebPages) {
    EXPECT_TRUE(IsWebPageType("text/html"));
    EXPECT_TRUE(IsWebPageType(" Text/HTML ; charset=utf-8"));
    EXPECT_TRUE(IsWebPageType("application/xhtml+xml"));
    EXPECT_FALSE(IsWebPageType("text/htmlx"));
    EXPECT_FALSE(IsWebPageType("video/mp4"));
    EXPECT_TRUE(LooksLikeWebPage("\xEF\xBB\xBF\r\n  <!doctype HTML><title>x"));
    EXPECT_TRUE(LooksLikeWebPage("<HTML lang=en>"));
    EXPECT_FALSE(LooksLikeWebPage("FLV\x01 <html>"));
    EXPECT_FALSE(LooksLikeWebPage("<!doctype"));
}
