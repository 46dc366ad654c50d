// The plan of a job's streams as a table: each row's site serves playlists and manifests (texts
// only) on loopback, and the row's whole plan (every stream with its fragments, or the reason it
// failed) is written out as text.

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "core/StrUtils.h"
#include "job/fetch/StreamPlan.h"
#include "support/LoopbackSite.h"

using namespace tarnwick;
using namespace tarnwick::testing;

namespace {

// The plan with the site's address (base) left out of every address.
std::string Described(const std::vector<TMediaStream>& streams, const std::string& base) {
    const auto local = [&](const std::string& a) {
        return a.substr(a.starts_with(base) ? base.size() : 0);
    };
    std::string out;
    for (const TMediaStream& s : streams) {
        out += Format("%s %s %s [%s] %.1f s %lld b/s", std::string(StreamKindName(s.kind)).c_str(),
                      s.protocol.c_str(), local(s.address).c_str(), s.codecs.c_str(), s.seconds,
                      (long long)s.bandwidth);
        for (const auto& [name, value] : s.headers) out += " " + name + "=" + local(value);
        for (const TStreamFragment& f : s.fragments) {
            out += "\n  " + local(f.address);
            if (f.range)
                out += Format(" @%llu+%llu", (unsigned long long)f.range->offset,
                              (unsigned long long)f.range->length);
            if (!f.key.address.empty())
                out += " key " + local(f.key.address) + Format(" %02x", f.key.iv[15]);
        }
        out += "\n";
    }
    return out;
}

SiteAnswer Served(const std::string& text) { return PageAnswer(text); }

std::string Media(const std::string& body, bool ended = true) {
    return "#EXTM3U\n#EXT-X-TARGETDURATION:4\n" + body + (ended ? "#EXT-X-ENDLIST\n" : "");
}

const std::string kMaster = R"(#EXTM3U
#EXT-X-MEDIA:TYPE=AUDIO,GROUP-ID="aac",NAME="en",URI="audio/en.m3u8"
#EXT-X-MEDIA:TYPE=AUDIO,GROUP-ID="aac",NAME="de",DEFAULT=YES,URI="audio/de.m3u8"
#EXT-X-MEDIA:TYPE=AUDIO,GROUP-ID="in",NAME="main",DEFAULT=YES
#EXT-X-STREAM-INF:BANDWIDTH=800000,RESOLUTION=640x360,CODECS="avc1.4d401e,mp4a.40.2",AUDIO="aac"
360.m3u8
#EXT-X-STREAM-INF:BANDWIDTH=1400000,RESOLUTION=854x480,CODECS="avc1.4d401f,mp4a.40.2",AUDIO="aac"
480.m3u8
#EXT-X-STREAM-INF:BANDWIDTH=5000000,RESOLUTION=1920x1080,CODECS="avc1.640028,mp4a.40.2",AUDIO="in"
/hd/1080.m3u8
#EXT-X-STREAM-INF:BANDWIDTH=64000,CODECS="mp4a.40.2"
sound.m3u8
)";

std::string Mpd(const std::string& attributes) {
    return R"(<?xml version="1.0"?><MPD xmlns="urn:mpeg:dash:schema:mpd:2011" )" + attributes +
           R"( mediaPresentationDuration="PT4S"><Period>
<AdaptationSet mimeType="video/mp4" codecs="vp09.00.10.08"><SegmentTemplate media="v-$Number$.m4s"
 initialization="v-init.mp4" timescale="1" duration="2"/>
<Representation id="v" bandwidth="900000" width="854" height="480"/></AdaptationSet>
<AdaptationSet mimeType="audio/mp4"><SegmentTemplate media="a-$Number$.m4s" duration="2"/>
<Representation id="a" bandwidth="96000" codecs="opus"/></AdaptationSet></Period></MPD>)";
}

struct Case {
    const char* name;
    std::map<std::string, SiteAnswer> site;
    std::vector<std::pair<std::string, std::string>> streams;  // path, protocol
    bool hd;
    std::string result;  // the plan, or "failed: " and the reason
};

}  // namespace

TEST(StreamPlan, EachSiteGivesItsStreamsOrItsReason) {
    const std::string one = Media("#EXTINF:2,\none.ts\n");
    SiteAnswer endless{"HTTP/1.1 200 OK\r\nContent-Type: application/x-mpegURL\r\n\r\n#EXTM3U\n",
                       SiteAnswer::kEndless};
    const Case cases[] = {
        {"master, HD off: the 480 variant's picture and its group's default audio",
         {{"/m/master.m3u8", Served(kMaster)},
          {"/m/480.m3u8", Served(Media("#EXTINF:4,\nv1.ts\n"))},
          {"/m/audio/de.m3u8", Served(Media("#EXTINF:3.5,\nde1.aac\n"))}},
         {{"/m/master.m3u8", "m3u8"}}, false,
         "video fragments  [avc1.4d401f] 4.0 s 1400000 b/s Referer=/page\n  /m/v1.ts\n"
         "audio fragments  [mp4a.40.2] 3.5 s 0 b/s Referer=/page\n  /m/audio/de1.aac\n"},
        {"master, HD on: the 1080 variant, its sound inside it",
         {{"/m/master.m3u8", Served(kMaster)}, {"/hd/1080.m3u8", Served(one)},
          {"/m/480.m3u8", Served(one)}, {"/m/audio/de.m3u8", Served(one)}},
         {{"/m/master.m3u8", "m3u8"}}, true,
         "both fragments  [avc1.640028,mp4a.40.2] 2.0 s 5000000 b/s Referer=/page\n  /hd/one.ts\n"},
        {"a redirect: relative addresses against where it led; keys, ranges and a progressive file",
         {{"/go.m3u8", {"HTTP/1.1 302 Found\r\nLocation: /real/dir/list.m3u8\r\n"
                        "Content-Length: 0\r\n\r\n"}},
          {"/real/dir/list.m3u8",
           Served(Media("#EXT-X-MAP:URI=\"init.mp4\",BYTERANGE=\"100@0\"\n#EXT-X-KEY:"
                        "METHOD=AES-128,URI=\"k.bin\",IV=0x000000000000000000000000000000ab\n"
                        "#EXTINF:2,\n#EXT-X-BYTERANGE:500@100\n../all.mp4\n"
                        "#EXT-X-KEY:METHOD=AES-128,URI=\"/k2\"\n#EXTINF:2,\n/abs/2.m4s\n"))}},
         {{"/go.m3u8", "m3u8"}, {"/file.mp4", "http"}}, false,
         "both fragments  [] 4.0 s 0 b/s Referer=/page\n  /real/dir/init.mp4 @0+100\n"
         "  /real/all.mp4 @100+500 key /real/dir/k.bin ab\n  /abs/2.m4s key /k2 01\n"
         "both http /file.mp4 [] 0.0 s 0 b/s Referer=/page\n"},
        {"a variant that is not served: the next in order of preference",
         {{"/m/master.m3u8", Served(kMaster)}, {"/m/480.m3u8", Served(one)},
          {"/m/audio/de.m3u8", Served(one)}},
         {{"/m/master.m3u8", "m3u8"}}, true,
         "video fragments  [avc1.4d401f] 2.0 s 1400000 b/s Referer=/page\n  /m/one.ts\n"
         "audio fragments  [mp4a.40.2] 2.0 s 0 b/s Referer=/page\n  /m/audio/one.ts\n"},
        {"no variant with a picture served: the last error, never the sound alone",
         {{"/m/master.m3u8", Served(kMaster)}, {"/m/audio/de.m3u8", Served(one)},
          {"/m/sound.m3u8", Served(one)}},
         {{"/m/master.m3u8", "m3u8"}}, true, "failed: HTTP/1.1 404 Not Found"},
        {"a variant's playlist that is a master again",
         {{"/m/master.m3u8", Served(kMaster)}, {"/m/480.m3u8", Served(kMaster)},
          {"/m/audio/de.m3u8", Served(one)}},
         {{"/m/master.m3u8", "m3u8"}}, false, "failed: " + std::string(kNestedMasterText)},
        {"a live playlist", {{"/live.m3u8", Served(Media("#EXTINF:2,\na.ts\n", false))}},
         {{"/live.m3u8", "m3u8"}}, false, "failed: " + std::string(kLiveStreamText)},
        {"SAMPLE-AES in the chosen variant, a clear one beside it",
         {{"/m/master.m3u8", Served(kMaster)}, {"/m/360.m3u8", Served(one)},
          {"/m/480.m3u8", Served(Media("#EXT-X-KEY:METHOD=SAMPLE-AES,URI=\"k\"\n#EXTINF:2,\nx\n"))},
          {"/m/audio/de.m3u8", Served(one)}},
         {{"/m/master.m3u8", "m3u8"}}, false, "failed: " + std::string(kProtectedStreamText)},
        {"a web page where the playlist should be",
         {{"/p.m3u8", PageAnswer("<!DOCTYPE html><html></html>")}}, {{"/p.m3u8", "m3u8"}}, false,
         "failed: The answer is not an HLS playlist (its first line is not #EXTM3U)."},
        {"a DASH manifest with a video set and an audio set",
         {{"/d/x.mpd", Served(Mpd("type=\"static\""))}}, {{"/d/x.mpd", "dash"}}, false,
         "video fragments  [vp09.00.10.08] 4.0 s 900000 b/s Referer=/page\n  /d/v-init.mp4\n"
         "  /d/v-1.m4s\n  /d/v-2.m4s\naudio fragments  [opus] 4.0 s 96000 b/s Referer=/page\n"
         "  /d/a-1.m4s\n  /d/a-2.m4s\n"},
        {"a dynamic DASH manifest",
         {{"/d/x.mpd", Served(Mpd("type=\"dynamic\""))}}, {{"/d/x.mpd", "dash"}}, false,
         "failed: " + std::string(kLiveStreamText)},
        {"a playlist that never ends", {{"/big.m3u8", endless}}, {{"/big.m3u8", "m3u8"}}, false,
         "failed: " + std::string(kStreamTextTooLargeText)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LoopbackSite site(c.site);
        std::vector<TMediaStream> streams;
        for (const auto& [path, protocol] : c.streams) {
            TMediaStream& stream = streams.emplace_back();
            stream.address = site.Url(path);
            stream.protocol = protocol;
            stream.headers = {{"Referer", site.Url("/page")}};
        }
        TFetchTarget target;
        target.hd = c.hd;
        TIdAbortSignal abort;
        std::string result;
        try {
            result = Described(PlanStreams(streams, target, abort), site.Url(""));
        } catch (const std::exception& e) {
            result = std::string("failed: ") + e.what();
        }
        EXPECT_EQ(result, c.result);
    }
}
