// What the built-in lookup reads from a page and from yt-dlp's answer, without sockets: each way
// a page names its video, the fallbacks between them, and pages and answers that are hostile.

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "job/lookup/PageReader.h"
#include "job/lookup/RecordTexts.h"
#include "job/lookup/YtDlpLookup.h"

using namespace tarnwick;

namespace {

const std::string kPage = "http://h/watch/page.html";

std::vector<std::string> Addresses(const TPageFacts& facts) {
    std::vector<std::string> addresses;
    for (const TMediaCandidate& c : facts.candidates)
        addresses.push_back(c.address + (c.lines ? " " + std::to_string(c.lines) : ""));
    return addresses;
}

}  // namespace

TEST(PageReader, EveryWayOfNamingTheVideoInOnePage) {
    const TPageFacts facts = ReadPage(R"(<!doctype html><html><head>
<title>Site &amp; title</title><base href="/media/">
<meta property="og:title" content="OG title">
<meta property="og:video" content="http://h/embed/1">
<meta property="og:video:type" content="text/html">
<meta property="og:video:url" content="og.mp4">
<meta property="og:video:secure_url" content="https://h/og.mp4">
<meta property="og:video:height" content="720">
<meta name="twitter:player:stream" content="tw.mp4">
<script type="application/ld+json">{"@context": "https://schema.org", "@graph": [
  {"@type": "Person", "@id": "#bob", "name": "Bob"},
  {"@type": ["VideoObject"], "name": "Tom &amp; Jerry", "duration": "PT1H2M3S",
   "author": [{"name": "Ann"}, {"@id": "#bob"}, "Ann"], "contentSize": "12 MB",
   "thumbnailUrl": {"@type": "ImageObject", "url": "thumb.jpg"}, "contentUrl": "ld.mp4"}]}
</script></head><body>
<video src="tag.mp4" poster="poster.jpg"><source src="s360.mp4" label="360p">
<source src="ld.mp4" data-res="1080"><source src="blob:x"></video>
<picture><source src="not-a-video.webp"></picture></body></html>)",
                                      kPage);
    ASSERT_TRUE(facts.read);
    EXPECT_EQ(facts.title, "Tom & Jerry");
    EXPECT_EQ(facts.author, "Ann, Bob");
    EXPECT_EQ(facts.durationSeconds, 3723);
    EXPECT_EQ(facts.preview, "http://h/media/thumb.jpg");
    EXPECT_EQ(facts.contentSize, "12 MB");
    EXPECT_EQ(Addresses(facts),
              (std::vector<std::string>{"http://h/media/ld.mp4 1080", "http://h/embed/1",
                                        "https://h/og.mp4 720", "http://h/media/tw.mp4",
                                        "http://h/media/tag.mp4", "http://h/media/s360.mp4 360"}));
    EXPECT_EQ(facts.candidates[1].type, "text/html");
}

TEST(PageReader, FallbacksWhenTheRicherFormIsMissing) {
    struct Case {
        const char* name;
        std::string html;
        const char* title;
        const char* author;
        std::int64_t duration;
        const char* preview;
        std::vector<std::string> addresses;
    };
    const Case cases[] = {
        {"Open Graph and <title>",
         "<title> A\n  page </title><meta property=og:image content=/i.jpg>"
         "<meta property=video:duration content=65><meta name=author content=Cy>"
         "<meta property=og:video content=v.mp4>",
         "A page", "Cy", 65, "http://h/i.jpg", {"http://h/watch/v.mp4"}},
        {"a poster", "<video poster=p.jpg><source src=a.webm type=video/webm></video>", "", "",
         -1, "http://h/watch/p.jpg", {"http://h/watch/a.webm"}},
        {"JSON-LD at the top level of an array, in a comment, creator, number duration",
         R"(<script type="application/ld+json"><!--[{"@type":"WebPage","video":
         {"@type":"http://schema.org/VideoObject","creator":"Di","duration":30,
          "contentUrl":["a.mp4","b.mp4"],"embedUrl":"e.m3u8"}}]--></script>)",
         "", "Di", 30, "",
         {"http://h/watch/a.mp4", "http://h/watch/b.mp4", "http://h/watch/e.m3u8"}},
        {"JSON-LD that is not JSON, and no video", "<title>T</title>"
         "<script type=application/ld+json>{\"@type\":\"VideoObject\",}</script>",
         "T", "", -1, "", {}},
        {"a template's video is not shown", "<template><video src=t.mp4></video></template>", "",
         "", -1, "", {}},
        {"only the first <base> counts", "<base href=/one/><base href=/two/><video src=v.mp4>",
         "", "", -1, "", {"http://h/one/v.mp4"}},
        {"lazy loading, then links to media files and playlists last",
         "<a href='/get?f=x.mp4'>no</a><a href=dl/clip.MP4?t=1 download>get</a><a href=p.html>"
         "<a href=hls/master.m3u8>"
         "<video data-src=lazy.mp4></video><video src='data:,' data-lazy-src=l.webm></video>"
         "<video data-poster-src=p.jpg data-video-src=v.mp4><source data-srcset='s.mp4 720w, t.mp4'>"
         "</video>",
         "", "", -1, "",
         {"http://h/watch/lazy.mp4", "http://h/watch/l.webm", "http://h/watch/v.mp4",
          "http://h/watch/s.mp4", "http://h/watch/dl/clip.MP4?t=1",
          "http://h/watch/hls/master.m3u8"}},
        {"og:title that is the site's name, a title with tags and references twice encoded",
         "<title>&lt;b&gt;Cat &amp;amp; dog&lt;/b&gt; - Tube</title><meta property=og:site_name "
         "content=Tube><meta property=og:title content=Tube><meta property=og:video:duration "
         "content=75><meta property=og:image content=a.png><meta name=twitter:image content=b.gif>"
         "<meta property=og:image content=c><meta property=og:image:type content=image/jpeg>",
         "Cat & dog - Tube", "", 75, "http://h/watch/c", {}},
        {"og:title that is the host's name; a .jpg poster before a PNG og:image",
         "<title>H: cat 1 < 2</title><meta property=og:title content=\"H!\">"
         "<meta property=og:image content=a.png><video poster=p.JPG></video>",
         "H: cat 1 < 2", "", -1, "http://h/watch/p.JPG", {}},
        {"a good og:title stays", "<title>Cat - Tube</title><meta property=og:title content=Cat>"
         "<meta property=og:image content=a.webp><meta property=og:image content=b.gif>",
         "Cat", "", -1, "http://h/watch/a.webp", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const TPageFacts facts = ReadPage(c.html, kPage);
        EXPECT_TRUE(facts.read);
        EXPECT_EQ(facts.title, c.title);
        EXPECT_EQ(facts.author, c.author);
        EXPECT_EQ(facts.durationSeconds, c.duration);
        EXPECT_EQ(facts.preview, c.preview);
        EXPECT_EQ(Addresses(facts), c.addresses);
    }
}

TEST(PageReader, FrameSizesAndQualityWordsRankTheCopies) {
    const TPageFacts facts = ReadPage(R"(<script type="application/ld+json">[
  {"@type": "VideoObject", "contentUrl": "h360.mp4", "height": 360, "width": 640},
  {"@type": "VideoObject", "contentUrl": "w1080.mp4", "width": "1920px"},
  {"@type": "VideoObject", "contentUrl": "q.mp4", "videoQuality": "HD"},
  {"@type": "VideoObject", "contentUrl": "v.mp4", "height": {"@type": "QuantitativeValue",
   "value": 1440}}]</script>
<video width=1920 height=1080 src=box.mp4><source src=s.mp4 width=1280 height=720>
<source src=sd.mp4 label=SD><source src=w.mp4 width=3840></video>)",
                                      kPage);
    EXPECT_EQ(Addresses(facts),
              (std::vector<std::string>{"http://h/watch/h360.mp4 360", "http://h/watch/w1080.mp4 1080",
                                        "http://h/watch/q.mp4 720", "http://h/watch/v.mp4 1440",
                                        "http://h/watch/box.mp4", "http://h/watch/s.mp4 720",
                                        "http://h/watch/sd.mp4 480", "http://h/watch/w.mp4 2160"}));
    // With HD the largest copy is tried first, without it the nearest to 480 lines.
    EXPECT_EQ(CandidateOrder(facts.candidates, true).front(), 7u);
    EXPECT_EQ(CandidateOrder(facts.candidates, false).front(), 6u);
}

TEST(PageReader, HostilePagesAreReadWithinTheirBounds) {
    // A JSON-LD value nested far beyond the bound loses its deep part and nothing else.
    const std::string deepJson = "<script type=application/ld+json>{\"@type\":\"VideoObject\","
                                 "\"contentUrl\":\"d.mp4\",\"x\":" +
                                 std::string(100000, '[') + std::string(100000, ']') +
                                 "}</script>";
    EXPECT_EQ(Addresses(ReadPage(deepJson, kPage)),
              (std::vector<std::string>{"http://h/watch/d.mp4"}));

    // Markup a million elements deep costs the parser time for every tag: the bounds end it.
    std::string deepHtml = "<meta property=og:video content=v.mp4>";
    for (int i = 0; i < 1000000; ++i) deepHtml += "<div>";
    const auto timed = [&](const TPageReadLimits& limits) {
        const auto start = std::chrono::steady_clock::now();
        const TPageFacts facts = ReadPage(deepHtml, kPage, limits);
        EXPECT_FALSE(facts.read);
        EXPECT_TRUE(facts.candidates.empty());
        return std::chrono::steady_clock::now() - start;
    };
    TPageReadLimits limits;
    limits.time = std::chrono::milliseconds(300);
    EXPECT_LT(timed(limits), std::chrono::seconds(3));
    limits.time = std::chrono::minutes(10);
    limits.memory = 1024 * 1024;
    EXPECT_LT(timed(limits), std::chrono::seconds(3));
    limits.memory = TPageReadLimits().memory;
    // The parse looks at the abort with each allocation, so one set before it ends it there
    // (without that look the time limit would, after 20 s).
    limits.time = std::chrono::seconds(20);
    TIdAbortSignal abort;
    abort.Abort();
    limits.abort = &abort;
    EXPECT_LT(timed(limits), std::chrono::seconds(3));
}

TEST(YtDlpAnswer, TheFormatThatFitsAndTheEntriesItGives) {
    const std::string answer = R"({"title": "Clip | one", "uploader": "Ann", "duration": 65.4,
      "thumbnail": "https://h/t.jpg", "formats": [
        {"url": "http://h/240.mp4", "protocol": "http", "height": 240, "ext": "mp4",
         "filesize": 1000, "http_headers": {"User-Agent": "UA", "Referer": "http://h/p",
         "Cookie": "a=1", "Accept": "*/*"}},
        {"url": "https://h/600.webm", "height": 600, "ext": "webm", "filesize_approx": 2048},
        {"url": "https://h/1080-video-only.mp4", "height": 1080, "acodec": "none"},
        {"url": "https://h/audio.m4a", "vcodec": "none"},
        {"url": "https://h/1080.m3u8", "protocol": "m3u8_native", "height": 1080},
        {"url": "https://h/720.mp4", "protocol": "https", "height": 720, "ext": "mp4"}]})";
    EXPECT_EQ(RecordText(ReadYtDlpAnswer(answer, false)),
              "author=Ann|title=Clip | one|length=1:05|size=2.0 KB|filename=Clip | one|"
              "fileext=webm|preview=https://h/t.jpg|url=https://h/600.webm");
    EXPECT_EQ(ReadYtDlpAnswer(answer, true).Values("url"), "https://h/720.mp4");

    const std::pair<std::string, std::string> cases[] = {
        {R"({"entries": [{"title": "E", "url": "http://h/e.mp4", "ext": "mp4",
             "http_headers": {"user-agent": "UA", "Referer": "http://h/", "Cookie": "c=2"}}]})",
         "author=|title=E|length=|size=|filename=E|fileext=mp4|preview=|url=http://h/e.mp4|"
         "referer=http://h/|useragent=UA|cookie=c=2"},
        {R"({"formats": [{"url": "http://h/a"}, {"url": "http://h/b"}]})",
         "author=|title=|length=|size=|filename=video|fileext=|preview=|url=http://h/b"},
        {R"({"title": "x", "formats": [{"url": "rtmp://h/a"}, {"url": "http://h/a",
             "vcodec": "none"}]})",
         "error=1|hint=yt-dlp found no file that holds both picture and sound over http or https."},
        {R"({"formats": "none"})",
         "error=1|hint=yt-dlp found no file that holds both picture and sound over http or https."},
        {"[1, 2]", "error=1|hint=yt-dlp's answer could not be read."},
        {"{\"title\": \"cut", "error=1|hint=yt-dlp's answer could not be read."},
        {std::string(100000, '['), "error=1|hint=yt-dlp's answer could not be read."},
    };
    for (const auto& [json, record] : cases)
        EXPECT_EQ(RecordText(ReadYtDlpAnswer(json, false)), record) << json.substr(0, 60);
}
