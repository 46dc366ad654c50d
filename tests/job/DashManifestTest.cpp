// DASH manifests as a table: each row's whole result (the chosen streams with every fragment's
// address and range, or the refusal) written out as text.

#include <gtest/gtest.h>

#include <string>

#include "core/StrUtils.h"
#include "job/streams/DashManifest.h"

using namespace tarnwick;

namespace {

constexpr const char* kAddress = "https://cdn.example/d/manifest.mpd";

std::string Described(const TDashManifest& manifest) {
    if (!manifest.refusal.empty()) return "refused: " + manifest.refusal;
    std::string out = Format("%.1f s", manifest.seconds);
    for (const TDashStream& stream : manifest.streams) {
        out += Format("\n%s %s %dp:", std::string(StreamKindName(stream.kind)).c_str(),
                      stream.codecs.c_str(), stream.quality.height);
        for (const TStreamFragment& f : stream.fragments) {
            out += " " + f.address;
            if (f.range)
                out += Format("@%llu+%llu", (unsigned long long)f.range->offset,
                              (unsigned long long)f.range->length);
        }
    }
    return out;
}

std::string Mpd(const std::string& attributes, const std::string& body) {
    return "<?xml version=\"1.0\"?>\n<MPD xmlns=\"urn:mpeg:dash:schema:mpd:2011\" " + attributes +
           ">" + body + "</MPD>";
}

// Video in 480 and 720 lines under one numbered template, two audio sets (the second is main).
const std::string kNumbered = Mpd(R"(mediaPresentationDuration="PT0H0M9.5S")",
                                  R"(<BaseURL>media/</BaseURL><Period><BaseURL>p1/</BaseURL>
<AdaptationSet mimeType="video/mp4" codecs="avc1.64001f"><BaseURL>v/</BaseURL>
  <SegmentTemplate media="$RepresentationID$/$Number%05d$.m4s" initialization="$RepresentationID$/init.mp4"
                   startNumber="3" timescale="1000" duration="2000"/>
  <Representation id="720" bandwidth="3000000" width="1280" height="720"><BaseURL>hi/</BaseURL></Representation>
  <Representation id="480" bandwidth="1000000" width="854" height="480"/>
</AdaptationSet>
<AdaptationSet contentType="audio" lang="de"><Representation id="de" bandwidth="128000" codecs="mp4a.40.2">
  <SegmentTemplate media="de-$Number$.m4s" duration="5"/></Representation></AdaptationSet>
<AdaptationSet contentType="audio" lang="en"><Role schemeIdUri="urn:mpeg:dash:role:2011" value="main"/>
  <SegmentTemplate media="en/$Bandwidth$-$Number$.m4s" duration="5"/>
  <Representation id="en-lo" bandwidth="64000" codecs="mp4a.40.5"/>
  <Representation id="en-hi" bandwidth="128000" codecs="mp4a.40.2"/>
</AdaptationSet>
<AdaptationSet mimeType="text/vtt"><Representation id="sub" bandwidth="1"/></AdaptationSet>
</Period>)");

std::string Repeated(const std::string& text, std::size_t times) {
    std::string out;
    for (std::size_t i = 0; i < times; ++i) out += text;
    return out;
}

}  // namespace

TEST(DashManifest, EachManifestReadsToItsStreamsOrItsRefusal) {
    const std::string bomb =
        "<?xml version=\"1.0\"?><!DOCTYPE MPD [<!ENTITY a \"aaaaaaaaaa\">"
        "<!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;\"><!ENTITY c "
        "\"&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;\">]>"
        "<MPD><Period><AdaptationSet mimeType=\"video/mp4\"><Representation id=\"&c;\">"
        "<BaseURL>&c;.mp4</BaseURL></Representation></AdaptationSet></Period></MPD>";
    const std::string video =
        R"(<AdaptationSet mimeType="video/mp4"><Representation id="v" bandwidth="1">)";
    struct Case {
        const char* name;
        std::string text;
        bool hd;
        std::string result;
    } const cases[] = {
        {"HD off: 480 lines, BaseURL at every level, the main audio set", kNumbered, false,
         "9.5 s\nvideo avc1.64001f 480p: https://cdn.example/d/media/p1/v/480/init.mp4"
         " https://cdn.example/d/media/p1/v/480/00003.m4s "
         "https://cdn.example/d/media/p1/v/480/00004.m4s"
         " https://cdn.example/d/media/p1/v/480/00005.m4s "
         "https://cdn.example/d/media/p1/v/480/00006.m4s"
         " https://cdn.example/d/media/p1/v/480/00007.m4s\n"
         "audio mp4a.40.2 0p: https://cdn.example/d/media/p1/en/128000-1.m4s"
         " https://cdn.example/d/media/p1/en/128000-2.m4s"},
        {"HD on: 720 lines", kNumbered, true,
         "9.5 s\nvideo avc1.64001f 720p: https://cdn.example/d/media/p1/v/hi/720/init.mp4"
         " https://cdn.example/d/media/p1/v/hi/720/00003.m4s "
         "https://cdn.example/d/media/p1/v/hi/720/00004.m4s"
         " https://cdn.example/d/media/p1/v/hi/720/00005.m4s "
         "https://cdn.example/d/media/p1/v/hi/720/00006.m4s"
         " https://cdn.example/d/media/p1/v/hi/720/00007.m4s\n"
         "audio mp4a.40.2 0p: https://cdn.example/d/media/p1/en/128000-1.m4s"
         " https://cdn.example/d/media/p1/en/128000-2.m4s"},
        {"$Time$ with a timeline repeated to the period's end; a muxed set is both",
         Mpd(R"(mediaPresentationDuration="PT1M")",
             R"(<Period duration="PT10S"><AdaptationSet codecs="avc1.4d401e,mp4a.40.2">
<SegmentTemplate timescale="10" media="$RepresentationID$_$Time$_$$.ts">
<SegmentTimeline><S t="5" d="30" r="1"/><S d="20"/><S d="10" r="-1"/></SegmentTimeline></SegmentTemplate>
<Representation id="m" bandwidth="9"/></AdaptationSet></Period>)"),
         false,
         "60.0 s\nboth avc1.4d401e,mp4a.40.2 0p: https://cdn.example/d/m_5_$.ts"
         " https://cdn.example/d/m_35_$.ts https://cdn.example/d/m_65_$.ts"
         " https://cdn.example/d/m_85_$.ts https://cdn.example/d/m_95_$.ts"},
        {"a segment list, then a period of one ranged file; periods joined",
         Mpd("",
             R"(<Period duration="PT2S"><AdaptationSet mimeType="audio/mp4"><Representation id="a" bandwidth="1">
<BaseURL>a.mp4</BaseURL><SegmentList><Initialization range="0-99"/>
<SegmentURL mediaRange="100-199"/><SegmentURL media="b.mp4" mediaRange="0-9"/></SegmentList>
</Representation></AdaptationSet></Period><Period duration="P0Y0M0DT1H2M3.5S">
<AdaptationSet mimeType="audio/mp4"><Representation id="b" bandwidth="1"><BaseURL>http://o.example/whole.mp4</BaseURL>
<SegmentBase indexRange="0-99"/></Representation></AdaptationSet></Period>)"),
         false,
         "3725.5 s\naudio  0p: https://cdn.example/d/a.mp4@0+100 "
         "https://cdn.example/d/a.mp4@100+100"
         " https://cdn.example/d/b.mp4@0+10 http://o.example/whole.mp4"},
        {"dynamic", Mpd(R"(type="dynamic")", "<Period/>"), false,
         "refused: This is a live stream; Tarnwick saves only whole videos."},
        {"protected set",
         Mpd("",
             R"(<Period><AdaptationSet mimeType="video/mp4"><ContentProtection schemeIdUri="urn:uuid:x"/>
<Representation id="v" bandwidth="1"/></AdaptationSet></Period>)"),
         false, "refused: The video is protected (DRM) and cannot be saved."},
        {"protected representation",
         Mpd("", "<Period>" + video +
                     R"(<ContentProtection/></Representation></AdaptationSet></Period>)"),
         false, "refused: The video is protected (DRM) and cannot be saved."},
        {"an entity bomb", bomb, false,
         "refused: The manifest declares a DOCTYPE, which Tarnwick does not read."},
        {"an undeclared entity stays as written",
         Mpd("", "<Period>" + video +
                     "<BaseURL>&c;.mp4</BaseURL></Representation></AdaptationSet></Period>"),
         false, "0.0 s\nvideo  0p: https://cdn.example/d/&c;.mp4"},
        {"a huge $Number$ count",
         Mpd(R"(mediaPresentationDuration="PT1000000S")",
             "<Period>" + video +
                 R"(<SegmentTemplate media="$Number$"/></Representation></AdaptationSet></Period>)"),
         false, "refused: The manifest does not say how many fragments its template makes."},
        {"a huge count from durations",
         Mpd(R"(mediaPresentationDuration="PT1000000S")",
             "<Period>" + video +
                 R"(<SegmentTemplate media="$Number$" duration="1"/></Representation></AdaptationSet></Period>)"),
         false, "refused: The manifest names more than 100000 fragments for one stream."},
        {"a huge repeat count",
         Mpd("",
             "<Period>" + video +
                 R"(<SegmentTemplate media="$Time$"><SegmentTimeline><S d="1" r="9000000000000"/></SegmentTimeline></SegmentTemplate></Representation></AdaptationSet></Period>)"),
         false, "refused: The manifest names more than 100000 fragments for one stream."},
        {"fragments over periods past the bound",
         Mpd("",
             Repeated(
                 "<Period duration=\"PT50000S\">" + video +
                     R"(<SegmentTemplate media="$Number$" duration="1"/></Representation></AdaptationSet></Period>)",
                 3)),
         false, "refused: The manifest names more than 100000 fragments for one stream."},
        {"an unknown template identifier",
         Mpd("",
             "<Period>" + video +
                 R"(<SegmentTemplate media="$Nmber$" endNumber="2"/></Representation></AdaptationSet></Period>)"),
         false, "refused: The manifest's segment template is malformed."},
        {"a segment list without fragments",
         Mpd("", "<Period>" + video + "<SegmentList/></Representation></AdaptationSet></Period>"),
         false, "refused: The manifest's segment list names no fragments."},
        {"not XML", "<MPD><Period>", false,
         "refused: The answer is not a DASH manifest (it is no well-formed XML)."},
        {"another root", "<html/>", false,
         "refused: The answer is not a DASH manifest (its root element is not MPD)."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(Described(ReadDashManifest(c.text, kAddress, c.hd)), c.result);
    }
}
