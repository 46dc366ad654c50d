// The text rules of the built-in lookup, as tables: a page's charset, character references,
// addresses, durations and record texts, quality hints and the order of candidates, media answers.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "job/lookup/CharacterReferences.h"
#include "job/lookup/MediaCandidates.h"
#include "job/lookup/PageAddresses.h"
#include "job/lookup/PageCharset.h"
#include "job/lookup/RecordTexts.h"

using namespace tarnwick;

TEST(PageCharset, TheFirstRuleThatAppliesDecidesAndTheTextComesOutAsUtf8) {
    struct Case {
        const char* name;
        std::string page;
        const char* contentType;
        const char* encoding;
        std::string text;
    };
    const std::string far(1100, ' ');
    const Case cases[] = {
        {"header over meta", "<meta charset=utf-8>caf\xE9", "text/html; charset=ISO-8859-1",
         "windows-1252", "<meta charset=utf-8>caf\xC3\xA9"},
        {"quoted header", "\x80", "text/html; Charset=\"windows-1252\"", "windows-1252",
         "\xE2\x82\xAC"},
        {"meta charset", "<meta charset='latin1'>\xE9", "text/html", "windows-1252",
         "<meta charset='latin1'>\xC3\xA9"},
        {"http-equiv", "<meta http-equiv=Content-Type content='text/html; charset=cp1252'>\x93",
         "", "windows-1252",
         "<meta http-equiv=Content-Type content='text/html; charset=cp1252'>\xE2\x80\x9C"},
        {"meta in a comment", "<!-- <meta charset=latin1> -->\xC3\xA9", "", "utf-8",
         "<!-- <meta charset=latin1> -->\xC3\xA9"},
        {"meta in a quoted value", "<a title='<meta charset=latin1>'>\xC3\xA9", "", "utf-8",
         "<a title='<meta charset=latin1>'>\xC3\xA9"},
        {"meta too far in", far + "<meta charset=latin1>\xC3\xA9", "", "utf-8",
         far + "<meta charset=latin1>\xC3\xA9"},
        {"undeclared valid UTF-8", "caf\xC3\xA9", "", "utf-8", "caf\xC3\xA9"},
        {"undeclared, not UTF-8", "caf\xE9", "", "windows-1252", "caf\xC3\xA9"},
        {"overlong form is not UTF-8", "\xC0\xAF", "", "windows-1252", "\xC3\x80\xC2\xAF"},
        {"declared UTF-8, a bad byte", "a\xFF" "b", "text/html;charset=utf-8", "utf-8",
         "a\xEF\xBF\xBD" "b"},
        {"unknown name passed over", "caf\xE9", "text/html; charset=x-bogus", "windows-1252",
         "caf\xC3\xA9"},
        {"through iconv", "\xF0\xD2\xC9\xD7\xC5\xD4", "text/html; charset=KOI8-R", "koi8-r",
         "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82"},
        {"byte order mark first", "\xEF\xBB\xBFok", "text/html; charset=latin1", "utf-8", "ok"},
        {"UTF-16LE by its mark", std::string("\xFF\xFEh\0\xE9\0", 6), "", "utf-16le",
         "h\xC3\xA9"},
        {"UTF-16 named in a meta", "<meta charset=utf-16>\xC3\xA9", "", "utf-8",
         "<meta charset=utf-16>\xC3\xA9"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(PageEncoding(c.page, c.contentType), c.encoding);
        EXPECT_EQ(DecodePageText(c.page, c.contentType), c.text);
    }
}

TEST(CharacterReferences, DecodedAsBrowsersDoAndLeftAloneWhereTheyAreNone) {
    const std::pair<const char*, const char*> cases[] = {
        {"Tom &amp; Jerry", "Tom & Jerry"},
        {"&Eacute;t&eacute; &mdash; &hellip;", "\xC3\x89t\xC3\xA9 \xE2\x80\x94 \xE2\x80\xA6"},
        {"&#233;&#xE9;&#XE9", "\xC3\xA9\xC3\xA9\xC3\xA9"},
        {"&#150;", "\xE2\x80\x93"},
        {"&#0;&#xD800;&#x110000;", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
        {"a &amp b &lt c", "a & b < c"},
        {"?a=1&ampx=2&lt=3", "?a=1&ampx=2&lt=3"},
        {"&eacute &bogus; & &; &#; &#x;", "&eacute &bogus; & &; &#; &#x;"},
    };
    for (const auto& [text, decoded] : cases) EXPECT_EQ(DecodeCharacterReferences(text), decoded);
}

TEST(PageAddresses, ReferencesResolveAgainstThePage) {
    const std::string base = "http://h:8080/dir/page.html?q=1#top";
    const std::pair<const char*, const char*> cases[] = {
        {"clip.mp4", "http://h:8080/dir/clip.mp4"},
        {"../media/./clip.mp4", "http://h:8080/media/clip.mp4"},
        {"/a/../../b.mp4", "http://h:8080/b.mp4"},
        {"sub/", "http://h:8080/dir/sub/"},
        {"//cdn.example/x.mp4", "http://cdn.example/x.mp4"},
        {"?v=2", "http://h:8080/dir/page.html?v=2"},
        {"", "http://h:8080/dir/page.html?q=1"},
        {"#t=10", "http://h:8080/dir/page.html?q=1"},
        {" HTTPS://other/x y.mp4\n", "HTTPS://other/x%20y.mp4"},
        {"clip\t\xC3\xA9.mp4", "http://h:8080/dir/clip%C3%A9.mp4"},
        {"data:video/mp4;base64,AAAA", ""},
        {"javascript:play()", ""},
        {"https://", ""},
    };
    for (const auto& [reference, absolute] : cases)
        EXPECT_EQ(ResolveAddress(base, reference), absolute) << reference;
    EXPECT_EQ(ResolveAddress("/relative/page.html", "clip.mp4"), "");
}

TEST(RecordTexts, DurationsLengthsSizesAndNames) {
    const std::pair<const char*, std::int64_t> durations[] = {
        {"PT1H2M3S", 3723}, {"PT90M", 5400}, {"P1DT2H", 93600}, {"pt3.5s", 4}, {"PT0S", 0},
        {"", -1},           {"P", -1},       {"PT", -1},        {"P1M", -1},   {"P1W", -1},
        {"PT2M1H", -1},     {"PT1H1H", -1},  {"PT1", -1},       {"-PT1S", -1}, {"1:02", -1},
    };
    for (const auto& [text, seconds] : durations)
        EXPECT_EQ(ParseIsoDuration(text).value_or(-1), seconds) << text;

    EXPECT_EQ(LengthText(0), "0:00");
    EXPECT_EQ(LengthText(65), "1:05");
    EXPECT_EQ(LengthText(3723), "1:02:03");
    EXPECT_EQ(LengthText(-5), "0:00");
    EXPECT_EQ(SizeText(512), "512 bytes");
    EXPECT_EQ(SizeText(2048), "2.0 KB");
    EXPECT_EQ(SizeText(12897484), "12.3 MB");
    EXPECT_EQ(SizeText(1048575), "1.0 MB");
    EXPECT_EQ(SizeText(-1), "");

    const std::pair<const char*, const char*> dispositions[] = {
        {"attachment; filename=\"My clip.mp4\"", "My clip.mp4"},
        {"attachment; filename*=UTF-8''na%C3%AFve.mp4; filename=naive.mp4", "na\xC3\xAFve.mp4"},
        {"attachment; filename=naive.mp4; filename*=utf-8'en'na%C3%AFve.mp4", "na\xC3\xAFve.mp4"},
        {"attachment; filename*=iso-8859-1''caf%E9.mp4", "caf\xC3\xA9.mp4"},
        {"attachment; filename*=UTF-8''%FF.mp4; filename=plain.mp4", "plain.mp4"},
        {"inline; filename=\"../../etc/x.flv\"", "x.flv"},
        {"attachment; filename=\"a\\\"b;c.mp4\"", "a\"b;c.mp4"},
        {"attachment", ""},
    };
    for (const auto& [value, name] : dispositions) EXPECT_EQ(DispositionFileName(value), name);
    const std::pair<const char*, const char*> titles[] = {
        {"<b>Tom</b> &amp; <i>Jerry</i>", "Tom & Jerry"},
        {"&lt;span class=x&gt;A&lt;/span&gt;<br/>\n B<!-- c -->", "A B"},
        {"1 < 2 > 0 <3 AT&T", "1 < 2 > 0 <3 AT&T"},
        {"<a<a<a no end", "<a<a<a no end"},
    };
    for (const auto& [text, plain] : titles) EXPECT_EQ(PlainTitle(text), plain) << text;
    EXPECT_EQ(LastPathSegment("http://h/v/My%20Clip.mp4?x=1/2#f"), "My Clip.mp4");
    EXPECT_EQ(LastPathSegment("http://h/v/"), "");
    EXPECT_EQ(LastPathSegment("http://h"), "");

    EXPECT_EQ(RecordText(FailedRecord("a\r\nb")), "error=1|hint=a b");
    TVideoEntries entries;
    entries.title = "T";
    entries.url = "http://h/c.mp4";
    entries.referer = "http://h/";
    EXPECT_EQ(RecordText(VideoRecord(entries)),
              "author=|title=T|length=|size=|filename=|fileext=|preview=|url=http://h/c.mp4|"
              "referer=http://h/");
}

TEST(MediaCandidates, QualityHintsAndTheOrderOfTrying) {
    const std::pair<const char*, int> hints[] = {
        {"720p", 720}, {"1080", 1080}, {"HD 1080p60", 1080}, {"1280x720", 720}, {"4K", 2160},
        {"360p (SD)", 360}, {"HD", 720}, {"Full HD", 1080}, {"uhd", 2160}, {"SD", 480},
        {"shd", 0}, {"medium", 0}, {"96", 0}, {"20000", 0}, {"", 0},
    };
    for (const auto& [hint, lines] : hints) EXPECT_EQ(QualityLines(hint), lines) << hint;
    EXPECT_EQ(FrameLines("720", "1920"), 720);
    EXPECT_EQ(FrameLines("", "1280"), 720);
    EXPECT_EQ(FrameLines("100%", "854px"), 480);
    EXPECT_EQ(FrameLines("720p", "50"), 0);

    const std::vector<TMediaCandidate> candidates = {
        {"a", "", 0}, {"b", "", 360}, {"c", "", 1080}, {"d", "", 600}, {"e", "", 0}};
    EXPECT_EQ(CandidateOrder(candidates, true), (std::vector<std::size_t>{2, 3, 1, 0, 4}));
    EXPECT_EQ(CandidateOrder(candidates, false), (std::vector<std::size_t>{1, 3, 2, 0, 4}));
    // Of two as near to 480 lines, the fewer come first whatever the page's order.
    const std::vector<TMediaCandidate> asNear = {{"a", "", 600}, {"b", "", 360}};
    EXPECT_EQ(CandidateOrder(asNear, false), (std::vector<std::size_t>{1, 0}));
    const std::vector<TMediaCandidate> unhinted = {{"a", "", 0}, {"b", "", 0}};
    EXPECT_EQ(CandidateOrder(unhinted, true), (std::vector<std::size_t>{0, 1}));
}

TEST(MediaCandidates, AnAnswerIsMediaByItsTypeOrAGenericTypeAndAMediaName) {
    struct Case {
        const char* type;
        const char* name;
        bool media;
        const char* extension;
        TStreamFormat stream = TStreamFormat::None;
    };
    const Case cases[] = {
        {"video/mp4", "watch", true, "mp4"},
        {"Video/MP4; codecs=\"avc1\"", "", true, "mp4"},
        {"video/mp4", "clip.mkv", true, "mkv"},
        {"audio/mpeg", "song", true, "mp3"},
        {"video/x-foo", "stream", true, "foo"},
        {"application/octet-stream", "clip.FLV", true, "flv"},
        {"", "clip.webm", true, "webm"},
        {"application/octet-stream", "setup.exe", false, "exe"},
        {"application/vnd.apple.mpegurl", "list.m3u8", false, "m3u8", TStreamFormat::Hls},
        {"audio/x-mpegurl", "list.m3u8", false, "m3u8", TStreamFormat::Hls},
        {"application/dash+xml", "manifest", false, "", TStreamFormat::Dash},
        {"text/plain", "list.M3U8", false, "m3u8", TStreamFormat::Hls},
        {"", "clip.mpd", false, "mpd", TStreamFormat::Dash},
        {"image/png", "list.m3u8", false, "m3u8"},
        {"text/html", "clip.mp4", false, "mp4"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.type) + " " + c.name);
        EXPECT_EQ(IsMediaAnswer(c.type, c.name), c.media);
        EXPECT_EQ(MediaExtension(c.name, c.type), c.extension);
        EXPECT_EQ(StreamAnswerFormat(c.type, c.name), c.stream);
    }
}
