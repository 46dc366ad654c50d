// What the built-in lookup reads from a page and from yt-dlp's answer, without sockets: each way
// a page names its video, the fallbacks between them, and pages and answers that are hostile.

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "job/lookup/PageReader.h"
#include "job/lookup/RecordTexts.h"
#include "job/lookup/YtDlpLookup.h"
#include "job/streams/StreamParts.h"

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

TEST(YtDlpAnswer, TheStreamsOfTheFormatsItChoseAndTheEntriesTheyGive) {
    // Picture as DASH fragments, sound as an HLS playlist: each stream's own entries.
    const std::string answer = R"({"title": "Clip | one", "uploader": "Ann", "duration": 65.4,
      "thumbnail": "https://h/t.jpg", "ext": "mp4", "url": "https://h/ignored",
      "requested_formats": [
        {"url": "https://h/d.mpd", "protocol": "http_dash_segments", "vcodec": "avc1.64001f",
         "acodec": "none", "filesize": 1000, "fragment_base_url": "https://h/dash/",
         "fragments": [{"path": "init.mp4"}, {"path": "../s 1.m4s", "duration": 2.0},
                       {"url": "https://cdn/all.mp4", "range": "100-199"}],
         "http_headers": {"User-Agent": "UA", "Accept": "*/*"}},
        {"url": "https://h/a.m3u8", "protocol": "m3u8_native", "vcodec": "none",
         "filesize_approx": 1048, "http_headers": {"User-Agent": "other", "Cookie": "a=1"}}]})";
    EXPECT_EQ(RecordText(ReadYtDlpAnswer(answer)),
              "author=Ann|title=Clip | one|length=1:05|size=2.0 KB|filename=Clip | one|"
              "fileext=mp4|preview=https://h/t.jpg|url=https://h/d.mpd|useragent=UA|cookie=a=1|"
              "protocol=fragments|codecs=avc1.64001f|fragment=https://h/dash/init.mp4|"
              "fragment=https://h/s%201.m4s|fragment=https://cdn/all.mp4 100-199|"
              "audio_url=https://h/a.m3u8|audio_protocol=m3u8");

    const std::string manyFragments = R"({"url": "http://h/m", "protocol": "http_dash_segments",
        "fragment_base_url": "http://h/", "fragments": [)" +
        [] {
            std::string list;
            for (std::size_t i = 0; i < 2 * kMaxStreamFragments; ++i) list += "{\"path\": \"f\"},";
            return list;
        }() + R"({"path": "f"}]})";
    const std::string noFormat = "error=1|hint=yt-dlp found no video that Tarnwick can fetch.";
    const std::string badFragments =
        "error=1|hint=yt-dlp's list of the video's fragments cannot be used.";
    const std::pair<std::string, std::string> cases[] = {
        {R"({"entries": [{"title": "E", "url": "http://h/e.mp4", "ext": "mp4", "protocol": "HTTP",
             "http_headers": {"user-agent": "UA", "Referer": "http://h/", "Cookie": "c=2"}}]})",
         "author=|title=E|length=|size=|filename=E|fileext=mp4|preview=|url=http://h/e.mp4|"
         "referer=http://h/|useragent=UA|cookie=c=2"},
        {R"({"url": "https://h/v.m3u8", "protocol": "m3u8", "vcodec": "avc1.4d401f",
             "acodec": "mp4a.40.2", "requested_formats": [{"url": "https://h/only"}]})",
         "author=|title=|length=|size=|filename=video|fileext=|preview=|url=https://h/v.m3u8|"
         "protocol=m3u8|codecs=avc1.4d401f,mp4a.40.2"},
        {R"({"title": "x", "url": "rtmp://h/a", "protocol": "rtmp"})",
         "error=1|hint=yt-dlp offers the video only over a protocol Tarnwick cannot fetch: rtmp."},
        {R"({"requested_formats": [{"url": "http://h/v"}, {"url": "f4m://h/a"}]})",
         "error=1|hint=yt-dlp offers the video only over a protocol Tarnwick cannot fetch: f4m."},
        {manyFragments, "error=1|hint=yt-dlp names more fragments for the video than Tarnwick "
                        "fetches: more than 100000."},
        {R"({"url": "http://h/m", "protocol": "http_dash_segments", "fragments": [
             {"url": "http://h/f", "range": "9-1"}]})", badFragments},
        {R"({"url": "http://h/m", "protocol": "http_dash_segments", "fragments": [
             {"path": "f"}]})", badFragments},
        {R"({"url": "http://h/m", "protocol": "http_dash_segments", "fragments": [
             {"url": "http://h/all.mp4"}, {"url": "http://h/all.mp4"}]})", badFragments},
        {R"({"formats": [{"url": "http://h/a"}, {"url": "http://h/b"}]})", noFormat},
        {R"({"url": "/relative.mp4", "protocol": "https"})", noFormat},
        {"[1, 2]", "error=1|hint=yt-dlp's answer could not be read."},
        {"{\"title\": \"cut", "error=1|hint=yt-dlp's answer could not be read."},
        {std::string(100000, '['), "error=1|hint=yt-dlp's answer could not be read."},
    };
    for (const auto& [json, record] : cases) {
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(RecordText(ReadYtDlpAnswer(json)), record) << json.substr(0, 60);
        // Read in time in proportion to its size: an answer of its 16 MiB bound in seconds.
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    }
}

TEST(YtDlpAnswer, AReleaseOlderThan180DaysIsCalledOld) {
    using namespace std::chrono;
    const sys_days today{year(2026) / December / 8};
    const std::string current = "): a current one (pipx install yt-dlp) may read the page.";
    const std::string old = "This yt-dlp is older than 180 days (";
    const std::pair<const char*, std::string> cases[] = {
        {"2026.06.11\n", ""},
        {"2026.06.10\n", old + "2026.06.10" + current},
        {"2023.03.04.1", old + "2023.03.04" + current},
        {"2023.02.30", ""},
        {"2023.03.04x", ""},
        {"nightly", ""},
    };
    for (const auto& [version, hint] : cases)
        EXPECT_EQ(YtDlpAgeHint(version, today), hint) << version;
}
