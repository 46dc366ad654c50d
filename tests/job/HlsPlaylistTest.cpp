// HLS playlists as a table: each row's whole result (the chosen variant and audio of a master
// playlist, the fragments of a media playlist, or the refusal) written out as text.

#include <gtest/gtest.h>

#include <string>

#include "core/StrUtils.h"
#include "job/streams/HlsPlaylist.h"
#include "job/streams/StreamFormat.h"

using namespace tarnwick;

namespace {

constexpr const char* kAddress = "https://cdn.example/v/1/index.m3u8";

std::string Described(const THlsPlaylist& playlist, bool hd) {
    if (playlist.kind == THlsPlaylist::TKind::Refused) return "refused: " + playlist.refusal;
    if (const std::optional<THlsChoice> choice = ChooseHlsStreams(playlist, hd))
        return std::string(StreamKindName(choice->videoKind)) + " " + choice->video.address + " " +
               choice->video.codecs + (choice->audio ? " + " + choice->audio->address : "");
    std::string out = Format("%.3f s", playlist.seconds);
    for (const THlsFragment& f : playlist.fragments) {
        out += "\n" + f.part.address;
        if (f.part.range)
            out += Format(" @%llu+%llu", (unsigned long long)f.part.range->offset,
                          (unsigned long long)f.part.range->length);
        out += Format(" #%llu", (unsigned long long)f.sequence);
        if (f.init) out += " init";
        if (f.discontinuity) out += " disc";
        if (!f.key.address.empty()) {
            out += " key " + f.key.address + " ";
            for (const std::uint8_t b : f.key.iv) out += Format("%02x", b);
        }
    }
    return out;
}

const std::string kMaster = R"(#EXTM3U
#EXT-X-MEDIA:TYPE=AUDIO,GROUP-ID="aac",NAME="English",LANGUAGE="en",URI="audio/en.m3u8"
#EXT-X-MEDIA:TYPE=AUDIO,GROUP-ID="aac",NAME="Deutsch",DEFAULT=YES,URI="audio/de.m3u8"
#EXT-X-MEDIA:TYPE=AUDIO,GROUP-ID="inband",NAME="main",DEFAULT=YES
#EXT-X-STREAM-INF:BANDWIDTH=64000,CODECS="mp4a.40.2"
audio-only.m3u8
#EXT-X-STREAM-INF:BANDWIDTH=800000,RESOLUTION=640x360,CODECS="avc1.4d401e,mp4a.40.2",AUDIO="aac"
360.m3u8
#EXT-X-STREAM-INF:BANDWIDTH=1400000,RESOLUTION=854x480,CODECS="avc1.4d401f,mp4a.40.2",AUDIO="aac"
480.m3u8
#EXT-X-STREAM-INF:BANDWIDTH=1200000,RESOLUTION=854x480,CODECS="avc1.4d401f",AUDIO="aac"
480-low.m3u8
#EXT-X-STREAM-INF:BANDWIDTH=5000000,RESOLUTION=1920x1080,CODECS="avc1.640028,mp4a.40.2",AUDIO="inband"
/hd/1080.m3u8
)";

std::string Media(const std::string& body, bool ended = true) {
    return "#EXTM3U\n#EXT-X-TARGETDURATION:4\n" + body + (ended ? "#EXT-X-ENDLIST\n" : "");
}

std::string Repeated(const std::string& text, std::size_t times) {
    std::string out;
    out.reserve(text.size() * times);
    for (std::size_t i = 0; i < times; ++i) out += text;
    return out;
}

}  // namespace

TEST(HlsPlaylist, EachPlaylistReadsToItsChoiceItsFragmentsOrItsRefusal) {
    const std::string malformed = "refused: The playlist is malformed at line ";
    struct Case {
        const char* name;
        std::string text;
        bool hd;
        std::string result;
    } const cases[] = {
        {"HD off: the best of 480 lines, the group's default audio", kMaster, false,
         "video https://cdn.example/v/1/480.m3u8 avc1.4d401f,mp4a.40.2"
         " + https://cdn.example/v/1/audio/de.m3u8"},
        {"HD on: the most lines; audio without URI is in the video", kMaster, true,
         "both https://cdn.example/hd/1080.m3u8 avc1.640028,mp4a.40.2"},
        {"HD off, no picture of 480 lines or fewer: the lowest; no group, sound inside",
         "#EXTM3U\n#EXT-X-STREAM-INF:BANDWIDTH=1,CODECS=\"mp4a.40.2\"\nsound.m3u8\n"
         "#EXT-X-STREAM-INF:BANDWIDTH=9,RESOLUTION=1920x1080\nb.m3u8\n"
         "#EXT-X-STREAM-INF:BANDWIDTH=5,RESOLUTION=1280x720\n\n  a.m3u8  \n",
         false, "both https://cdn.example/v/1/a.m3u8 "},
        {"fMP4 with maps, byte ranges with and without offset, a discontinuity",
         "\xEF\xBB\xBF" +
             Media("#EXT-X-MEDIA-SEQUENCE:5\n#EXT-X-MAP:URI=\"init.mp4\",BYTERANGE=\"720@0\"\n"
                   "#EXTINF:4.004,title, with comma\n#EXT-X-BYTERANGE:1000@720\nmain.mp4\n"
                   "# a comment\n#EXTINF:4,\n#EXT-X-BYTERANGE:500\nmain.mp4\n#EXTINF:2.5,\n"
                   "#EXT-X-BYTERANGE:300\n../../other.mp4?t=1\n#EXT-X-DISCONTINUITY\n"
                   "#EXT-X-MAP:URI=\"//cdn2.example/"
                   "init2.mp4\"\n#EXTINF:1,\n#EXT-X-BYTERANGE:10\nmain.mp4\n"),
         false,
         "11.504 s\n"
         "https://cdn.example/v/1/init.mp4 @0+720 #5 init\n"
         "https://cdn.example/v/1/main.mp4 @720+1000 #5\n"
         "https://cdn.example/v/1/main.mp4 @1720+500 #6\n"
         "https://cdn.example/other.mp4?t=1 @0+300 #7\n"
         "https://cdn2.example/init2.mp4 #8 init disc\n"
         "https://cdn.example/v/1/main.mp4 @2220+10 #8"},
        {"AES-128 with an IV, then the sequence number as the IV, then none",
         Media("#EXT-X-MEDIA-SEQUENCE:258\n#EXT-X-KEY:METHOD=AES-128,URI=\"k1.bin\","
               "IV=0x000102030405060708090A0B0C0D0E0F\n#EXTINF:2,\ns1.ts\n"
               "#EXT-X-KEY:METHOD=AES-128,URI=\"https://keys.example/k2\",KEYFORMAT=\"identity\"\n"
               "#EXTINF:2,\ns2.ts\n#EXT-X-KEY:METHOD=NONE\n#EXTINF:2,\ns3.ts\n"),
         false,
         "6.000 s\n"
         "https://cdn.example/v/1/s1.ts #258 key https://cdn.example/v/1/k1.bin "
         "000102030405060708090a0b0c0d0e0f\n"
         "https://cdn.example/v/1/s2.ts #259 key https://keys.example/k2 "
         "00000000000000000000000000000103\n"
         "https://cdn.example/v/1/s3.ts #260"},
        {"not a playlist", "<html>#EXTM3U\n", false,
         "refused: The answer is not an HLS playlist (its first line is not #EXTM3U)."},
        {"live", Media("#EXTINF:2,\ns1.ts\n", false), false,
         "refused: This is a live stream; Tarnwick saves only whole videos."},
        {"SAMPLE-AES", Media("#EXT-X-KEY:METHOD=SAMPLE-AES,URI=\"skd://k\"\n#EXTINF:2,\ns.ts\n"),
         false, "refused: The video is protected (DRM) and cannot be saved."},
        {"a DRM key format beside AES-128",
         Media("#EXT-X-KEY:METHOD=AES-128,URI=\"k\",KEYFORMAT=\"com.apple.streamingkeydelivery\"\n"
               "#EXTINF:2,\ns.ts\n"),
         false, "refused: The video is protected (DRM) and cannot be saved."},
        {"an IV of 15 bytes",
         Media("#EXT-X-KEY:METHOD=AES-128,URI=\"k\",IV=0x000102030405060708090A0B0C0D0E\n"
               "#EXTINF:2,\ns.ts\n"),
         false, malformed + "3: a key's IV is not 16 bytes of hexadecimal digits."},
        {"an encrypted map without an IV",
         Media(
             "#EXT-X-KEY:METHOD=AES-128,URI=\"k\"\n#EXT-X-MAP:URI=\"i.mp4\"\n#EXTINF:2,\ns.mp4\n"),
         false, malformed + "4: an encrypted map needs an IV."},
        {"a zero duration", Media("#EXTINF:0,\ns.ts\n"), false,
         malformed + "3: a fragment's duration is not a positive number."},
        {"a negative duration", Media("#EXTINF:2,\ns.ts\n#EXTINF:-2,\ns.ts\n"), false,
         malformed + "5: a fragment's duration is not a positive number."},
        {"a duration that is no number", Media("#EXTINF:nan,\ns.ts\n"), false,
         malformed + "3: a fragment's duration is not a positive number."},
        {"a byte range past 64 bits",
         Media("#EXTINF:2,\n#EXT-X-BYTERANGE:18446744073709551615@1\ns.ts\n"), false,
         malformed + "4: a byte range is no number or out of bounds."},
        {"byte ranges that add up past any file",
         Media("#EXTINF:2,\n#EXT-X-BYTERANGE:1099511627000@0\ns.ts\n#EXTINF:2,\n"
               "#EXT-X-BYTERANGE:1000\ns.ts\n"),
         false, malformed + "8: a byte range is no number or out of bounds."},
        {"an address without a duration", Media("s.ts\n"), false,
         malformed + "3: an address has no #EXTINF duration before it."},
        {"an unclosed quote", "#EXTM3U\n#EXT-X-STREAM-INF:BANDWIDTH=1,CODECS=\"avc1\nx.m3u8\n",
         false, malformed + "2: a variant's attributes are malformed."},
        {"millions of lines", Media(Repeated("#EXTINF:1,\na.ts\n", 1500000)), false,
         "refused: The playlist is larger than 16 MiB."},
        {"more fragments than the bound", Media(Repeated("#EXTINF:1,\na\n", 100001)), false,
         "refused: The playlist names more than 100000 fragments."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(Described(ReadHlsPlaylist(c.text, kAddress), c.hd), c.result);
    }
}

TEST(StreamFormat, APlaylistOrAManifestIsToldByItsContent) {
    EXPECT_EQ(StreamFormatOf("\xEF\xBB\xBF#EXTM3U\r\n#EXT-X-VERSION:3"), TStreamFormat::Hls);
    EXPECT_EQ(StreamFormatOf("#EXTM3UX\n"), TStreamFormat::None);
    EXPECT_EQ(StreamFormatOf("<?xml version=\"1.0\"?>\n<!-- made by x -->\n<MPD "
                             "xmlns=\"urn:mpeg:dash:schema:mpd:2011\">"),
              TStreamFormat::Dash);
    EXPECT_EQ(StreamFormatOf("<dash:MPD>"), TStreamFormat::Dash);
    EXPECT_EQ(StreamFormatOf("<MPDX>"), TStreamFormat::None);
    EXPECT_EQ(StreamFormatOf("<html><MPD>"), TStreamFormat::None);
}
