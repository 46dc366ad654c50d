// The built-in lookup's bounds in time, the worker's abort reaching it at every moment (while
// the page comes, while a candidate is asked, while yt-dlp runs), and playlists and manifests as
// the video.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <map>
#include <string>
#include <thread>

#include "JobHarness.h"
#include "job/lookup/LookupTexts.h"
#include "job/lookup/MediaStreams.h"
#include "job/lookup/PageLookup.h"
#include "job/lookup/RecordTexts.h"
#include "job/session/YouTubeDownloader.h"
#include "support/LoopbackSite.h"
#include "support/TempFolder.h"

using namespace tarnwick;
using namespace tarnwick::testing;

namespace {

using Clock = std::chrono::steady_clock;

const std::string kVideoMeta = "<meta property=og:video content=/m.mp4>";

// A page whose player a script sets up, which only yt-dlp reads.
SiteAnswer ScriptedPlayer(const std::string& sources) {
    return PageAnswer("<title>JW</title><div id=player></div><script>jwplayer(\"player\")"
                      ".setup({sources: [" + sources + "], title: \"Streamed\"});</script>");
}

const std::string kMasterPlaylist = R"(#EXTM3U
#EXT-X-MEDIA:TYPE=AUDIO,GROUP-ID="a",NAME="en",DEFAULT=YES,URI="audio.m3u8"
#EXT-X-STREAM-INF:BANDWIDTH=800000,RESOLUTION=640x360,CODECS="avc1.4d401e,mp4a.40.2",AUDIO="a"
v360.m3u8
#EXT-X-STREAM-INF:BANDWIDTH=1400000,RESOLUTION=854x480,CODECS="avc1.4d401f,mp4a.40.2",AUDIO="a"
v480.m3u8
#EXT-X-STREAM-INF:BANDWIDTH=5000000,RESOLUTION=1920x1080,CODECS="avc1.640028,mp4a.40.2",AUDIO="a"
v1080.m3u8
)";

const std::string kManifest = R"(<?xml version="1.0"?>
<MPD xmlns="urn:mpeg:dash:schema:mpd:2011" type="static" mediaPresentationDuration="PT4S"
 minBufferTime="PT2S" profiles="urn:mpeg:dash:profile:isoff-live:2011"><BaseURL>media/</BaseURL>
<Period><AdaptationSet mimeType="video/mp4"><SegmentTemplate timescale="1000" duration="2000"
 initialization="$RepresentationID$/init.mp4" media="$RepresentationID$/$Number$.m4s"/>
<Representation id="v360" bandwidth="800000" width="640" height="360" codecs="avc1.4d401e"/>
<Representation id="v720" bandwidth="3000000" width="1280" height="720" codecs="avc1.64001f"/>
</AdaptationSet><AdaptationSet mimeType="audio/mp4"><SegmentTemplate timescale="1000"
 duration="2000" initialization="a/init.mp4" media="a/$Number$.m4s"/>
<Representation id="a" bandwidth="128000" codecs="mp4a.40.2" audioSamplingRate="48000"/>
</AdaptationSet></Period></MPD>)";

// The record's entries that name its media, as record text.
std::string MediaEntries(const TLookupRecord& record) {
    const std::string_view names[] = {kUrlEntry,         kProtocolEntry,      kCodecsEntry,
                                      kFragmentEntry,    kAudioUrlEntry,      kAudioProtocolEntry,
                                      kAudioCodecsEntry, kAudioFragmentEntry};
    TLookupRecord media;
    for (std::size_t i = 0; i < record.Count(); ++i)
        for (const std::string_view name : names)
            if (record.Name(i) == name) media.Add(record.Name(i), record.Value(i));
    return RecordText(media);
}

SiteAnswer Trickling(const std::string& html) {
    SiteAnswer answer{"HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n\r\n" + html};
    answer.tail = SiteAnswer::kTrickle;
    return answer;
}

}  // namespace

TEST(PageLookup, AbortEndsItAtEveryMoment) {
    struct Case {
        const char* name;
        std::map<std::string, SiteAnswer> site;
        std::size_t requestsBeforeAbort;
    };
    SiteAnswer once = PageAnswer("<title>no video here</title>");
    once.answered = 1;  // yt-dlp's own request for the page gets no answer
    SiteAnswer held = MediaAnswer("x");
    held.answered = 0;
    const Case cases[] = {
        {"the page", {{"/p", Trickling("<title>slow")}}, 1},
        {"a candidate", {{"/p", PageAnswer(kVideoMeta)}, {"/m.mp4", held}}, 2},
        {"yt-dlp", {{"/p", once}}, 2},
    };
    TempFolder folder;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const LoopbackSite site(c.site);
        TComponent owner;
        TJobState state;
        TestFrontEnd frontEnd(state);
        TJobRequest settings;
        settings.pageAddress = site.Url("/p");
        settings.workDirectory = folder.Path();
        settings.lookup = {};  // no lookup service: the built-in lookup
        TYouTubeDownloader worker(settings, state, frontEnd, owner);
        worker.Start();
        ASSERT_TRUE(site.WaitForRequests(c.requestsBeforeAbort));
        const auto start = Clock::now();
        worker.Abort();
        while (!worker.Finished()) std::this_thread::sleep_for(std::chrono::microseconds(200));
        const auto elapsed = Clock::now() - start;
        std::printf("abort during %s: %.2f ms\n", c.name,
                    std::chrono::duration<double, std::milli>(elapsed).count());
        EXPECT_LT(elapsed, std::chrono::milliseconds(500));
        worker.Join();
        EXPECT_EQ(state.Status(), jsAborted);
        EXPECT_EQ(owner.ComponentCount(), 0u);
    }
}

TEST(PageLookup, TimeBoundsAndAHelperThatFailsOrHangs) {
    SiteAnswer silent = PageAnswer("");
    silent.answered = 0;
    SiteAnswer once = PageAnswer("<title>no video here</title>");
    once.answered = 1;
    SiteAnswer endless = Trickling("<title>no video here</title>");
    endless.tail = SiteAnswer::kEndless;
    std::map<std::string, SiteAnswer> answers = {
        {"/trickle", Trickling(kVideoMeta)}, {"/silent", silent},
        {"/once", once},                     {"/endless", endless},
        {"/plain", PageAnswer("<title>no video here</title>")}, {"/m.mp4", MediaAnswer("media")},
        {"/hls", ScriptedPlayer("{file: \"/s/master.m3u8\"}")},
        {"/s/master.m3u8", MediaAnswer(kMasterPlaylist, "Content-Type: audio/mpegurl\r\n")},
        // A better copy over a protocol that cannot be fetched is passed over.
        {"/dash", ScriptedPlayer("{file: \"/s/m.mpd\"}, {file: \"rtmp://127.0.0.1:1/v/mp4:c\", "
                                 "height: 2160}")},
        {"/s/m.mpd", MediaAnswer(kManifest, "Content-Type: application/dash+xml\r\n")}};
    // Eight candidates that never answer.
    std::string sources;
    for (char n = '1'; n <= '8'; ++n) {
        sources += std::string("<video src=/s") + n + ".mp4>";
        answers["/s" + std::string(1, n) + ".mp4"] = silent;
    }
    answers["/silent-candidates"] = PageAnswer(sources);
    const LoopbackSite site(answers);
    TPageLookupSettings settings;
    settings.pageTime = std::chrono::seconds(1);
    // The lookup's bound, not yt-dlp's own, ends it; each candidate alone could take 5 s.
    TPageLookupSettings hasty = settings;
    hasty.lookupTime = std::chrono::seconds(3);
    hasty.pageTime = std::chrono::seconds(5);
    TPageLookupSettings withoutYtDlp = settings;
    withoutYtDlp.ytDlp.program = "no-such-yt-dlp";
    // A yt-dlp that takes more memory than it may.
    TempFolder folder;
    const std::string hungryYtDlp = folder.Path() + "/yt-dlp";
    std::ofstream(hungryYtDlp) << "#!/usr/bin/env python3\nblock = bytearray(512 << 20)\n";
    ::chmod(hungryYtDlp.c_str(), 0755);
    TPageLookupSettings hungry = settings;
    hungry.ytDlp.program = hungryYtDlp;
    hungry.ytDlp.memoryLimit = 256 << 20;
    // A yt-dlp that fails and is old.
    const std::string oldYtDlp = folder.Path() + "/old-yt-dlp";
    std::ofstream(oldYtDlp) << "#!/bin/sh\n[ \"$1\" = --version ] && echo 2020.01.01 && exit 0\n"
                               "echo 'ERROR: gone' >&2\nexit 1\n";
    ::chmod(oldYtDlp.c_str(), 0755);
    TPageLookupSettings old = settings;
    old.ytDlp.program = oldYtDlp;

    struct Case {
        const char* name;
        const TPageLookupSettings& settings;
        std::string path;
        std::string record;   // the record text
        bool prefix = false;  // record is only its start
        bool media = false;   // record is only the entries that name the media
        bool hd = false;
    };
    const std::string dash = site.Url("/s/media/");
    const std::string failed = "error=1|hint=";
    const Case cases[] = {
        // What came of the page by the deadline is read, though a byte keeps coming.
        {"trickling page", withoutYtDlp, "/trickle", "author=|title=|length=|size=5 bytes|", true},
        // A page that never came, or was cut off at its size, is not yt-dlp's to read again.
        {"silent page", withoutYtDlp, "/silent", failed + std::string(kPageTooSlowHint)},
        {"endless page", settings, "/endless", failed + std::string(kPageTooLargeHint)},
        {"silent candidates", hasty, "/silent-candidates",
         failed + std::string(kNoCandidateAnsweredHint) + " " + std::string(kLookupTooSlowHint)},
        {"yt-dlp hangs", hasty, "/once",
         failed + std::string(kNoVideoOnPageHint) + " " + std::string(kLookupTooSlowHint)},
        {"yt-dlp fails", settings, "/plain",
         failed + std::string(kNoVideoOnPageHint) + " " + std::string(kHelperFailedHint) +
             "ERROR: ",
         true},
        {"yt-dlp out of memory", hungry, "/plain",
         failed + std::string(kNoVideoOnPageHint) + " " + std::string(kHelperOutOfMemoryHint) +
             "256.0 MB."},
        {"an old yt-dlp fails", old, "/plain",
         failed + std::string(kNoVideoOnPageHint) + " " + std::string(kHelperFailedHint) +
             "ERROR: gone. " + std::string(kHelperOldHint) + "2020.01.01" +
             std::string(kHelperOldHintEnd)},
        // yt-dlp chooses the picture and the sound apart, within the HD setting.
        {"yt-dlp: HLS", settings, "/hls",
         "url=" + site.Url("/s/v480.m3u8") + "|protocol=m3u8|codecs=avc1.4d401f|audio_url=" +
             site.Url("/s/audio.m3u8") + "|audio_protocol=m3u8",
         false, true},
        {"yt-dlp: DASH with HD", settings, "/dash",
         "url=" + site.Url("/s/m.mpd") + "|protocol=fragments|codecs=avc1.64001f|fragment=" +
             dash + "v720/init.mp4|fragment=" + dash + "v720/1.m4s|fragment=" + dash +
             "v720/2.m4s|audio_url=" + site.Url("/s/m.mpd") +
             "|audio_protocol=fragments|audio_codecs=mp4a.40.2|audio_fragment=" + dash +
             "a/init.mp4|audio_fragment=" + dash + "a/1.m4s|audio_fragment=" + dash + "a/2.m4s",
         false, true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto start = Clock::now();
        const TLookupRecord found = TPageLookup(c.settings, nullptr).Run(site.Url(c.path), c.hd);
        const std::string record = c.media ? MediaEntries(found) : RecordText(found);
        if (c.prefix) {
            EXPECT_TRUE(record.starts_with(c.record)) << record;
        } else {
            EXPECT_EQ(record, c.record);
        }
        EXPECT_LT(Clock::now() - start, std::chrono::seconds(20));
    }
}

// An HLS playlist or a DASH manifest is the video, as the address itself (told by its type or by
// its start) or as what the page names; the record says how it is fetched, and a playlist's own
// length is not the video's size.
TEST(PageLookup, APlaylistOrManifestIsTheVideo) {
    const std::string playlist = "#EXTM3U\n#EXTINF:2,\na.ts\n#EXT-X-ENDLIST\n";
    const std::string manifest = "<?xml version=\"1.0\"?>\n<!-- made here -->\n"
                                 "<MPD xmlns=\"urn:mpeg:dash:schema:mpd:2011\"></MPD>";
    const auto typed = [](const std::string& body, const std::string& type) {
        return MediaAnswer(body, "Content-Type: " + type + "\r\n");
    };
    const LoopbackSite site({
        {"/apple", typed(playlist, "application/vnd.apple.mpegurl")},
        {"/x", typed(playlist, "application/x-mpegURL")},
        {"/audio", typed(playlist, "audio/mpegurl")},
        {"/audio-x", typed(playlist, "audio/x-mpegurl; charset=utf-8")},
        {"/octet", typed("\xEF\xBB\xBF" + playlist, "application/octet-stream")},
        {"/v/clip.mpd", typed(manifest, "application/dash+xml")},
        {"/xml", typed(manifest, "application/xml")},
        {"/binary", typed(std::string(100000, 'B'), "application/octet-stream")},
        {"/og", PageAnswer("<meta property=og:video content=/v/og.m3u8>"
                           "<meta property=og:video:type content=application/x-mpegURL>")},
        {"/v/og.m3u8", typed(playlist, "application/x-mpegurl")},
        {"/ld", PageAnswer("<script type=application/ld+json>{\"@type\": \"VideoObject\", "
                           "\"contentUrl\": \"v/ld.m3u8\", \"contentSize\": 2048}</script>")},
        {"/v/ld.m3u8", typed(playlist, "application/vnd.apple.mpegurl")},
        {"/source", PageAnswer("<video><source src=v/s type=application/x-mpegURL></video>")},
        {"/v/s", typed(playlist, "text/plain")},
    });
    struct Row {
        const char* path;
        const char* url;  // the path the record's url names; empty: the lookup fails
        std::string protocolOrHint;
        const char* size = "";
    };
    const Row rows[] = {
        {"/apple", "/apple", "m3u8"},
        {"/x", "/x", "m3u8"},
        {"/audio", "/audio", "m3u8"},
        {"/audio-x", "/audio-x", "m3u8"},
        {"/octet", "/octet", "m3u8"},
        {"/v/clip.mpd", "/v/clip.mpd", "dash"},
        {"/xml", "/xml", "dash"},
        {"/og", "/v/og.m3u8", "m3u8"},
        {"/ld", "/v/ld.m3u8", "m3u8", "2.0 KB"},
        {"/source", "/v/s", "m3u8"},
        // Only the start of it is read, which leaves it yt-dlp's to try.
        {"/binary", "",
         std::string(kNeitherPageNorVideoHint) + "application/octet-stream. " +
             std::string(kHelperMissingHint)},
    };
    TPageLookupSettings settings;
    settings.ytDlp.program = "no-such-yt-dlp";
    for (const Row& row : rows) {
        SCOPED_TRACE(row.path);
        const TLookupRecord record = TPageLookup(settings, nullptr).Run(site.Url(row.path), false);
        if (*row.url == '\0') {
            EXPECT_EQ(record.Values("hint"), row.protocolOrHint);
            continue;
        }
        EXPECT_EQ(record.Values("url"), site.Url(row.url)) << RecordText(record);
        EXPECT_EQ(record.Values("protocol"), row.protocolOrHint);
        EXPECT_EQ(record.Values("size"), row.size);
        EXPECT_EQ(record.Values("fileext"), "mp4");
    }
}
