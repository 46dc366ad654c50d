#include "job/streams/DashSegments.h"

#include <cmath>
#include <limits>

#include "core/StrUtils.h"
#include "job/lookup/PageAddresses.h"
#include "job/streams/DashValues.h"

namespace tarnwick {

namespace {

constexpr const char* kTooManyText =
    "The manifest names more than 100000 fragments for one stream.";

// The nearest level's child of that name.
pugi::xml_node Nearest(const TDashRepresentation& rep, std::string_view name) {
    for (const pugi::xml_node level : rep.levels)
        if (const pugi::xml_node child = DashChild(level, name)) return child;
    return {};
}

// A template attribute from the nearest level's SegmentTemplate that has it.
pugi::xml_attribute TemplateAttribute(const TDashRepresentation& rep, const char* name) {
    for (const pugi::xml_node level : rep.levels)
        if (const pugi::xml_attribute a = DashChild(level, "SegmentTemplate").attribute(name))
            return a;
    return {};
}

std::optional<std::uint64_t> TemplateNumber(const TDashRepresentation& rep, const char* name) {
    const pugi::xml_attribute a = TemplateAttribute(rep, name);
    if (!a) return std::nullopt;
    const std::optional<std::uint64_t> value = TryStrToUnsigned(a.value());
    if (!value) throw EDashRefused("The manifest's segment template has a malformed number.");
    return value;
}

void Add(std::vector<TStreamFragment>& fragments, const std::string& base,
         std::string_view reference, std::optional<TByteRange> range = std::nullopt) {
    if (fragments.size() >= kMaxStreamFragments) throw EDashRefused(kTooManyText);
    std::string address = reference.empty() ? base : ResolveAddress(base, reference);
    if (address.empty())
        throw EDashRefused("The manifest names a fragment that is not a web address.");
    fragments.push_back({std::move(address), range, {}});
}

void Reserve(const std::vector<TStreamFragment>& fragments, std::uint64_t count) {
    if (count > kMaxStreamFragments - fragments.size()) throw EDashRefused(kTooManyText);
}

std::string Expanded(std::string_view pattern, const TDashRepresentation& rep,
                     std::optional<std::uint64_t> number, std::optional<std::uint64_t> time) {
    const std::optional<std::string> out =
        ExpandDashTemplate(pattern, {rep.id, rep.bandwidth, number, time});
    if (!out) throw EDashRefused("The manifest's segment template is malformed.");
    return *out;
}

// The times of a SegmentTimeline's fragments, each with its number.
void AppendTimeline(const TDashRepresentation& rep, pugi::xml_node timeline, std::string_view media,
                    std::uint64_t start, std::vector<TStreamFragment>& fragments) {
    const std::uint64_t timescale = TemplateNumber(rep, "timescale").value_or(1);
    const std::uint64_t offset = TemplateNumber(rep, "presentationTimeOffset").value_or(0);
    std::uint64_t time = offset;
    std::uint64_t number = start;
    for (pugi::xml_node s = DashChild(timeline, "S"); s; s = s.next_sibling()) {
        if (DashLocalName(s) != "S") continue;
        const auto t = s.attribute("t") ? TryStrToUnsigned(s.attribute("t").value()) : time;
        const auto d = TryStrToUnsigned(s.attribute("d").value());
        const std::int64_t r = s.attribute("r").as_llong(0);
        if (!t || !d || *d == 0 || r < -1 || timescale == 0)
            throw EDashRefused("The manifest's segment timeline has a malformed entry.");
        std::uint64_t count = std::uint64_t(r) + 1;
        if (r == -1) {
            pugi::xml_node next = s.next_sibling();
            while (next && DashLocalName(next) != "S") next = next.next_sibling();
            std::optional<std::uint64_t> end =
                next.attribute("t") ? TryStrToUnsigned(next.attribute("t").value()) : std::nullopt;
            if (!end && rep.periodSeconds && *rep.periodSeconds * double(timescale) < 9e18)
                end = offset + std::uint64_t(std::llround(*rep.periodSeconds * double(timescale)));
            if (!end) throw EDashRefused("The manifest's segment timeline repeats without an end.");
            count = *end > *t ? (*end - *t) / *d + ((*end - *t) % *d != 0) : 0;
        }
        Reserve(fragments, count);
        if (*d > (std::numeric_limits<std::uint64_t>::max() - *t) / (count + 1))
            throw EDashRefused("The manifest's segment timeline runs past any time.");
        for (std::uint64_t i = 0; i < count; ++i)
            Add(fragments, rep.base, Expanded(media, rep, number++, *t + i * *d));
        time = *t + count * *d;
    }
}

// How many fragments a template without a timeline makes.
std::uint64_t NumberedCount(const TDashRepresentation& rep, std::uint64_t start) {
    if (const std::optional<std::uint64_t> end = TemplateNumber(rep, "endNumber"))
        return *end >= start ? *end - start + 1 : 0;
    const std::uint64_t timescale = TemplateNumber(rep, "timescale").value_or(1);
    const std::uint64_t duration = TemplateNumber(rep, "duration").value_or(0);
    if (duration == 0 || timescale == 0 || !rep.periodSeconds)
        throw EDashRefused("The manifest does not say how many fragments its template makes.");
    const double count =
        std::ceil(*rep.periodSeconds * double(timescale) / double(duration) - 1e-6);
    if (count > double(kMaxStreamFragments)) throw EDashRefused(kTooManyText);
    return count > 0 ? std::uint64_t(count) : 0;
}

void AppendTemplate(const TDashRepresentation& rep, std::vector<TStreamFragment>& fragments) {
    const pugi::xml_attribute media = TemplateAttribute(rep, "media");
    if (!media) throw EDashRefused("The manifest's segment template names no media.");
    std::string init = TemplateAttribute(rep, "initialization").value();
    if (init.empty())
        init =
            Nearest(rep, "SegmentTemplate").child("Initialization").attribute("sourceURL").value();
    if (!init.empty()) Add(fragments, rep.base, Expanded(init, rep, std::nullopt, std::nullopt));

    const std::size_t before = fragments.size();
    const std::uint64_t start = TemplateNumber(rep, "startNumber").value_or(1);
    pugi::xml_node timeline;
    for (const pugi::xml_node level : rep.levels)
        if (!timeline) timeline = DashChild(DashChild(level, "SegmentTemplate"), "SegmentTimeline");
    if (timeline) {
        AppendTimeline(rep, timeline, media.value(), start, fragments);
    } else {
        const std::uint64_t count = NumberedCount(rep, start);
        Reserve(fragments, count);
        const std::uint64_t duration = TemplateNumber(rep, "duration").value_or(0);
        for (std::uint64_t i = 0; i < count; ++i)
            Add(fragments, rep.base, Expanded(media.value(), rep, start + i, i * duration));
    }
    if (fragments.size() == before)
        throw EDashRefused("The manifest's segment template makes no fragments.");
}

std::optional<TByteRange> RangeOf(pugi::xml_attribute attribute) {
    if (!attribute) return std::nullopt;
    const std::optional<TByteRange> range = ReadDashRange(attribute.value());
    if (!range) throw EDashRefused("The manifest names a malformed byte range.");
    return range;
}

void AppendList(const TDashRepresentation& rep, pugi::xml_node list,
                std::vector<TStreamFragment>& fragments) {
    if (const pugi::xml_node init = DashChild(list, "Initialization"))
        Add(fragments, rep.base, init.attribute("sourceURL").value(),
            RangeOf(init.attribute("range")));
    const std::size_t before = fragments.size();
    for (pugi::xml_node url = list.first_child(); url; url = url.next_sibling())
        if (DashLocalName(url) == "SegmentURL")
            Add(fragments, rep.base, url.attribute("media").value(),
                RangeOf(url.attribute("mediaRange")));
    if (fragments.size() == before)
        throw EDashRefused("The manifest's segment list names no fragments.");
}

}  // namespace

pugi::xml_node DashChild(pugi::xml_node parent, std::string_view name) {
    for (pugi::xml_node child = parent.first_child(); child; child = child.next_sibling())
        if (child.type() == pugi::node_element && DashLocalName(child) == name) return child;
    return {};
}

std::string_view DashLocalName(pugi::xml_node node) {
    const std::string_view name = node.name();
    const std::size_t colon = name.find(':');
    return colon == std::string_view::npos ? name : name.substr(colon + 1);
}

void AppendDashFragments(const TDashRepresentation& representation,
                         std::vector<TStreamFragment>& fragments) {
    if (Nearest(representation, "SegmentTemplate"))
        AppendTemplate(representation, fragments);
    else if (const pugi::xml_node list = Nearest(representation, "SegmentList"))
        AppendList(representation, list, fragments);
    else
        Add(fragments, representation.base, {});  // SegmentBase or a bare BaseURL: one file
}

}  // namespace tarnwick
