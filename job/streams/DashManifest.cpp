#include "job/streams/DashManifest.h"

#include <optional>

#include <pugixml.hpp>

#include "core/StrUtils.h"
#include "job/lookup/PageAddresses.h"
#include "job/streams/DashSegments.h"
#include "job/streams/DashValues.h"

namespace tarnwick {

namespace {

// A representation that could be chosen, with what its adaptation set lends it.
struct TCandidate {
    pugi::xml_node representation;
    pugi::xml_node set;
    TStreamKind kind = TStreamKind::Both;
    std::string codecs;
    std::string mimeType;
    TStreamQuality quality;
};

// When a period starts and how long it lasts, as far as the manifest says.
struct TPeriodTime {
    std::optional<double> start;
    std::optional<double> seconds;
};

std::string Inherited(pugi::xml_node representation, pugi::xml_node set, const char* name) {
    const pugi::xml_attribute own = representation.attribute(name);
    return own ? own.value() : set.attribute(name).value();
}

int Lines(pugi::xml_node representation, pugi::xml_node set, const char* name) {
    const std::optional<std::uint64_t> value =
        TryStrToUnsigned(Inherited(representation, set, name));
    return value && *value <= 65535 ? int(*value) : 0;
}

std::optional<TStreamKind> KindOf(const TCandidate& c, std::string_view contentType) {
    const TCodecKinds kinds = CodecKindsOf(c.codecs);
    if (kinds.video) return kinds.audio ? TStreamKind::Both : TStreamKind::Video;
    if (kinds.audio) return TStreamKind::Audio;
    const std::string_view type = contentType.empty() ? std::string_view(c.mimeType) : contentType;
    if (StartsText("video", type)) return TStreamKind::Video;
    if (StartsText("audio", type)) return TStreamKind::Audio;
    return std::nullopt;  // subtitles, thumbnails and the like
}

std::vector<TCandidate> CandidatesOf(pugi::xml_node period) {
    std::vector<TCandidate> candidates;
    for (pugi::xml_node set = period.first_child(); set; set = set.next_sibling()) {
        if (DashLocalName(set) != "AdaptationSet") continue;
        for (pugi::xml_node rep = set.first_child(); rep; rep = rep.next_sibling()) {
            if (DashLocalName(rep) != "Representation") continue;
            TCandidate c{rep,
                         set,
                         TStreamKind::Both,
                         Inherited(rep, set, "codecs"),
                         Inherited(rep, set, "mimeType"),
                         {}};
            c.quality = {
                Lines(rep, set, "width"), Lines(rep, set, "height"),
                std::int64_t(TryStrToUnsigned(rep.attribute("bandwidth").value()).value_or(0))};
            const std::optional<TStreamKind> kind = KindOf(c, set.attribute("contentType").value());
            if (!kind) continue;
            c.kind = *kind;
            candidates.push_back(std::move(c));
        }
    }
    return candidates;
}

bool IsMainRole(pugi::xml_node set) {
    for (pugi::xml_node role = set.first_child(); role; role = role.next_sibling())
        if (DashLocalName(role) == "Role" &&
            std::string_view(role.attribute("value").value()) == "main")
            return true;
    return false;
}

// The audio set whose Role is main, else the first; its highest bandwidth.
const TCandidate* ChooseAudio(const std::vector<TCandidate>& candidates) {
    pugi::xml_node set;
    for (const TCandidate& c : candidates)
        if (c.kind == TStreamKind::Audio && (!set || (IsMainRole(c.set) && !IsMainRole(set))))
            set = c.set;
    const TCandidate* best = nullptr;
    for (const TCandidate& c : candidates)
        if (c.kind == TStreamKind::Audio && c.set == set &&
            (!best || c.quality.bandwidth > best->quality.bandwidth))
            best = &c;
    return best;
}

std::vector<TCandidate> ChooseInPeriod(pugi::xml_node period, bool hd) {
    const std::vector<TCandidate> candidates = CandidatesOf(period);
    std::vector<TCandidate> chosen;
    std::vector<const TCandidate*> videos;
    std::vector<TStreamQuality> qualities;
    for (const TCandidate& c : candidates)
        if (c.kind != TStreamKind::Audio) {
            videos.push_back(&c);
            qualities.push_back(c.quality);
        }
    if (!videos.empty()) chosen.push_back(*videos[ChooseQuality(qualities, hd)]);
    if (chosen.empty() || chosen.front().kind != TStreamKind::Both)
        if (const TCandidate* audio = ChooseAudio(candidates)) chosen.push_back(*audio);
    if (chosen.empty()) throw EDashRefused("The manifest names no video or audio.");
    for (const TCandidate& c : chosen)
        if (DashChild(c.set, "ContentProtection") ||
            DashChild(c.representation, "ContentProtection"))
            throw EDashRefused(std::string(kProtectedStreamText));
    return chosen;
}

std::string BaseOf(const std::string& base, pugi::xml_node node) {
    const std::string reference = Trim(DashChild(node, "BaseURL").child_value());
    if (reference.empty()) return base;
    std::string address = ResolveAddress(base, reference);
    if (address.empty())
        throw EDashRefused("The manifest names a BaseURL that is not a web address.");
    return address;
}

std::optional<double> DurationAttribute(pugi::xml_node node, const char* name) {
    const pugi::xml_attribute attribute = node.attribute(name);
    if (!attribute) return std::nullopt;
    const std::optional<double> seconds = ReadIsoDuration(attribute.value());
    if (!seconds) throw EDashRefused("The manifest names a malformed duration.");
    return seconds;
}

std::vector<TPeriodTime> PeriodTimes(const std::vector<pugi::xml_node>& periods,
                                     std::optional<double> total) {
    std::vector<TPeriodTime> times(periods.size());
    for (std::size_t i = 0; i < periods.size(); ++i) {
        times[i].start = DurationAttribute(periods[i], "start");
        times[i].seconds = DurationAttribute(periods[i], "duration");
        if (!times[i].start && i == 0) times[i].start = 0.0;
        if (!times[i].start && i > 0 && times[i - 1].start && times[i - 1].seconds)
            times[i].start = *times[i - 1].start + *times[i - 1].seconds;
    }
    for (std::size_t i = 0; i < periods.size(); ++i) {
        if (times[i].seconds || !times[i].start) continue;
        const std::optional<double> end = i + 1 < periods.size() ? times[i + 1].start : total;
        if (end) times[i].seconds = *end - *times[i].start;
    }
    return times;
}

// Appends one period's chosen streams to the manifest's, which must be of the same kinds.
void Join(TDashManifest& out, std::vector<TCandidate> chosen, const std::string& base,
          const TPeriodTime& time, pugi::xml_node period) {
    const bool first = out.streams.empty();
    if (!first && out.streams.size() != chosen.size())
        throw EDashRefused("The manifest's periods hold different kinds of stream.");
    for (std::size_t i = 0; i < chosen.size(); ++i) {
        const TCandidate& c = chosen[i];
        if (first) out.streams.push_back({c.kind, c.codecs, c.mimeType, c.quality, {}});
        if (out.streams[i].kind != c.kind)
            throw EDashRefused("The manifest's periods hold different kinds of stream.");
        TDashRepresentation rep{BaseOf(BaseOf(base, c.set), c.representation),
                                c.representation.attribute("id").value(),
                                c.quality.bandwidth,
                                time.seconds,
                                {c.representation, c.set, period}};
        AppendDashFragments(rep, out.streams[i].fragments);
    }
}

TDashManifest Read(std::string_view text, std::string_view address, bool hd) {
    if (text.size() > kMaxStreamTextBytes)
        throw EDashRefused("The manifest is larger than 16 MiB.");
    pugi::xml_document document;
    // No parse_pi, no parse_comments; parse_doctype only so that a DOCTYPE can be seen and refused.
    if (!document.load_buffer(text.data(), text.size(), pugi::parse_default | pugi::parse_doctype))
        throw EDashRefused("The answer is not a DASH manifest (it is no well-formed XML).");
    for (pugi::xml_node node = document.first_child(); node; node = node.next_sibling())
        if (node.type() == pugi::node_doctype)
            throw EDashRefused("The manifest declares a DOCTYPE, which Tarnwick does not read.");
    const pugi::xml_node root = document.document_element();
    if (DashLocalName(root) != "MPD")
        throw EDashRefused("The answer is not a DASH manifest (its root element is not MPD).");
    if (std::string_view(root.attribute("type").value()) == "dynamic")
        throw EDashRefused(std::string(kLiveStreamText));

    TDashManifest out;
    const std::optional<double> total = DurationAttribute(root, "mediaPresentationDuration");
    const std::string base = BaseOf(std::string(address), root);
    std::vector<pugi::xml_node> periods;
    for (pugi::xml_node period = root.first_child(); period; period = period.next_sibling())
        if (DashLocalName(period) == "Period") periods.push_back(period);
    if (periods.empty()) throw EDashRefused("The manifest names no period.");
    const std::vector<TPeriodTime> times = PeriodTimes(periods, total);
    for (std::size_t i = 0; i < periods.size(); ++i)
        Join(out, ChooseInPeriod(periods[i], hd), BaseOf(base, periods[i]), times[i], periods[i]);
    out.seconds = total.value_or(0);
    if (!total) {
        for (const TPeriodTime& time : times) out.seconds += time.seconds.value_or(0);
    }
    return out;
}

}  // namespace

TDashManifest ReadDashManifest(std::string_view text, std::string_view address, bool hd) {
    try {
        return Read(text, address, hd);
    } catch (const EDashRefused& refused) {
        TDashManifest refusal;
        refusal.refusal = refused.Message();
        return refusal;
    }
}

}  // namespace tarnwick
