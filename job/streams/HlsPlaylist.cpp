#include "job/streams/HlsPlaylist.h"

#include <unordered_map>
#include <utility>

#include "core/StrUtils.h"
#include "job/lookup/PageAddresses.h"
#include "job/streams/HlsAttributes.h"

namespace tarnwick {

namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

// The key tag in force: its method and, for AES-128, where the key is and the IV if written.
struct TKeyState {
    std::string address;
    std::optional<std::array<std::uint8_t, 16>> iv;
};

// A map in force, and the key that was in force where it was named.
struct TMapState {
    TStreamFragment part;
    TKeyState key;
};

std::array<std::uint8_t, 16> SequenceIv(std::uint64_t sequence) {
    std::array<std::uint8_t, 16> iv{};
    for (int i = 15; i >= 8; --i, sequence >>= 8) iv[std::size_t(i)] = std::uint8_t(sequence);
    return iv;
}

// Reads a playlist line by line; the first refusal stops it.
class THlsReader {
public:
    THlsReader(std::string_view address, THlsPlaylist& out) : address_(address), out_(out) {}

    void Read(std::string_view text);

private:
    bool Line(std::string_view line);
    bool Tag(std::string_view name, std::string_view value);
    bool Key(std::string_view value, bool session);
    bool Map(std::string_view value);
    bool StreamInf(std::string_view value);
    bool Media(std::string_view value);
    bool Address(std::string_view reference);
    bool Segment(std::string address);
    bool Add(THlsFragment fragment);
    bool Refuse(std::string_view what);
    std::string Resolved(std::string_view reference) const;
    THlsKey KeyFor(const TKeyState& key, std::uint64_t sequence) const;

    std::string address_;
    THlsPlaylist& out_;
    std::size_t lineNumber_ = 0;
    std::uint64_t sequence_ = 0;
    bool ended_ = false;
    std::optional<double> seconds_;
    std::optional<THlsByteRange> range_;
    bool discontinuity_ = false;
    TKeyState key_;
    std::optional<TMapState> map_;
    bool mapSent_ = false;
    std::optional<THlsVariant> variant_;
    std::unordered_map<std::string, std::uint64_t> rangeEnds_;
};

void THlsReader::Read(std::string_view text) {
    if (text.size() > kMaxStreamTextBytes) {
        Refuse("The playlist is larger than 16 MiB.");
        return;
    }
    if (text.starts_with(kByteOrderMark)) text.remove_prefix(kByteOrderMark.size());
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        const std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        ++lineNumber_;
        if (lineNumber_ == 1 && TrimRight(line) != "#EXTM3U") {
            Refuse("The answer is not an HLS playlist (its first line is not #EXTM3U).");
            return;
        }
        if (lineNumber_ > 1 && !Line(line)) return;
    }
    if (lineNumber_ == 0)
        Refuse("The answer is not an HLS playlist (its first line is not #EXTM3U).");
    else if (variant_)
        Refuse("The playlist ends with a variant that names no address.");
    else if (!out_.variants.empty() && !out_.fragments.empty())
        Refuse("The playlist is both a master and a media playlist.");
    else if (!out_.variants.empty())
        out_.kind = THlsPlaylist::TKind::Master;
    else if (out_.fragments.empty())
        Refuse("The playlist names no fragments.");
    else if (!ended_)
        Refuse(kLiveStreamText);
    else
        out_.kind = THlsPlaylist::TKind::Media;
}

bool THlsReader::Line(std::string_view line) {
    const std::string text = Trim(line);
    if (text.empty()) return true;
    if (text.front() != '#') return Address(text);
    if (!text.starts_with("#EXT")) return true;  // a comment
    const std::size_t colon = text.find(':');
    const std::string_view name = std::string_view(text).substr(
        1, colon == std::string::npos ? std::string::npos : colon - 1);
    const std::string_view value =
        colon == std::string::npos ? std::string_view() : std::string_view(text).substr(colon + 1);
    return Tag(name, value);
}

bool THlsReader::Tag(std::string_view name, std::string_view value) {
    if (name == "EXTINF") {
        seconds_ = ReadHlsDuration(value.substr(0, value.find(',')));
        return seconds_ ? true : Refuse("a fragment's duration is not a positive number");
    }
    if (name == "EXT-X-BYTERANGE") {
        range_ = ReadHlsByteRange(value);
        return range_ ? true : Refuse("a byte range is no number or out of bounds");
    }
    if (name == "EXT-X-MEDIA-SEQUENCE") {
        const std::optional<std::uint64_t> sequence = TryStrToUnsigned(value);
        if (!sequence) return Refuse("the media sequence number is no number");
        sequence_ = *sequence;
        return true;
    }
    if (name == "EXT-X-DISCONTINUITY") discontinuity_ = true;
    if (name == "EXT-X-ENDLIST") ended_ = true;
    if (name == "EXT-X-KEY") return Key(value, false);
    if (name == "EXT-X-SESSION-KEY") return Key(value, true);
    if (name == "EXT-X-MAP") return Map(value);
    if (name == "EXT-X-STREAM-INF") return StreamInf(value);
    if (name == "EXT-X-MEDIA") return Media(value);
    return true;
}

bool THlsReader::Key(std::string_view value, bool session) {
    const std::optional<THlsAttributes> attributes = THlsAttributes::Read(value);
    if (!attributes) return Refuse("a key's attributes are malformed");
    const std::string method = attributes->Value("METHOD");
    const std::string format = attributes->Value("KEYFORMAT");
    if (method.starts_with("SAMPLE-AES") || (!format.empty() && format != "identity")) {
        Refuse(kProtectedStreamText);
        return false;
    }
    if (method == "NONE") {
        if (!session) key_ = {};
        return true;
    }
    if (method != "AES-128") return Refuse("a key names an unknown method");
    TKeyState key;
    key.address = Resolved(attributes->Value("URI"));
    if (key.address.empty()) return Refuse("an AES-128 key names no web address");
    if (attributes->Has("IV")) {
        key.iv = ReadHlsIv(attributes->Value("IV"));
        if (!key.iv) return Refuse("a key's IV is not 16 bytes of hexadecimal digits");
    }
    if (!session) key_ = std::move(key);
    return true;
}

bool THlsReader::Map(std::string_view value) {
    const std::optional<THlsAttributes> attributes = THlsAttributes::Read(value);
    if (!attributes) return Refuse("a map's attributes are malformed");
    TMapState map{{Resolved(attributes->Value("URI")), std::nullopt, {}}, key_};
    if (map.part.address.empty()) return Refuse("a map names no web address");
    if (attributes->Has("BYTERANGE")) {
        const std::optional<THlsByteRange> range = ReadHlsByteRange(attributes->Value("BYTERANGE"));
        if (!range) return Refuse("a map's byte range is no number or out of bounds");
        map.part.range = TByteRange{range->offset.value_or(0), range->length};
    }
    if (!key_.address.empty() && !key_.iv) return Refuse("an encrypted map needs an IV");
    map_ = std::move(map);
    mapSent_ = false;
    return true;
}

bool THlsReader::StreamInf(std::string_view value) {
    const std::optional<THlsAttributes> attributes = THlsAttributes::Read(value);
    if (!attributes) return Refuse("a variant's attributes are malformed");
    THlsVariant variant;
    if (attributes->Has("BANDWIDTH")) {
        const std::optional<std::uint64_t> bandwidth =
            TryStrToUnsigned(attributes->Value("BANDWIDTH"));
        if (!bandwidth) return Refuse("a variant's bandwidth is no number");
        variant.quality.bandwidth = std::int64_t(*bandwidth);
    }
    if (attributes->Has("RESOLUTION")) {
        const auto size = ReadHlsResolution(attributes->Value("RESOLUTION"));
        if (!size) return Refuse("a variant's resolution is malformed");
        variant.quality.width = size->first;
        variant.quality.height = size->second;
    }
    variant.codecs = attributes->Value("CODECS");
    variant.audioGroup = attributes->Value("AUDIO");
    variant_ = std::move(variant);
    return true;
}

bool THlsReader::Media(std::string_view value) {
    const std::optional<THlsAttributes> attributes = THlsAttributes::Read(value);
    if (!attributes) return Refuse("a rendition's attributes are malformed");
    THlsRendition rendition{attributes->Value("TYPE"),
                            attributes->Value("GROUP-ID"),
                            attributes->Value("NAME"),
                            attributes->Value("LANGUAGE"),
                            attributes->Value("DEFAULT") == "YES",
                            {}};
    if (attributes->Has("URI")) {
        rendition.address = Resolved(attributes->Value("URI"));
        if (rendition.address.empty()) return Refuse("a rendition names no web address");
    }
    if (out_.renditions.size() >= kMaxStreamFragments)
        return Refuse("The playlist names more than 100000 renditions.");
    out_.renditions.push_back(std::move(rendition));
    return true;
}

bool THlsReader::Address(std::string_view reference) {
    std::string address = Resolved(reference);
    if (address.empty()) return Refuse("an address is not a web address");
    if (variant_) {
        if (out_.variants.size() >= kMaxStreamFragments)
            return Refuse("The playlist names more than 100000 variants.");
        variant_->address = std::move(address);
        out_.variants.push_back(std::move(*variant_));
        variant_.reset();
        return true;
    }
    if (!seconds_) return Refuse("an address has no #EXTINF duration before it");
    return Segment(std::move(address));
}

bool THlsReader::Segment(std::string address) {
    if (map_ && !mapSent_) {
        THlsFragment init{map_->part, 0, true, false, sequence_, KeyFor(map_->key, sequence_)};
        if (!Add(std::move(init))) return false;
        mapSent_ = true;
    }
    THlsFragment fragment{{std::move(address), std::nullopt, {}},
                          *seconds_,
                          false,
                          false,
                          sequence_,
                          KeyFor(key_, sequence_)};
    if (range_) {
        std::uint64_t& end = rangeEnds_[fragment.part.address];
        const std::uint64_t offset = range_->offset.value_or(end);
        if (offset > kMaxStreamByteOffset - range_->length)
            return Refuse("a byte range is no number or out of bounds");
        fragment.part.range = TByteRange{offset, range_->length};
        end = offset + range_->length;
    }
    out_.seconds += *seconds_;
    seconds_.reset();
    range_.reset();
    ++sequence_;
    return Add(std::move(fragment));
}

bool THlsReader::Add(THlsFragment fragment) {
    if (out_.fragments.size() >= kMaxStreamFragments)
        return Refuse("The playlist names more than 100000 fragments.");
    fragment.discontinuity = std::exchange(discontinuity_, false);
    out_.fragments.push_back(std::move(fragment));
    return true;
}

bool THlsReader::Refuse(std::string_view what) {
    out_ = THlsPlaylist();
    if (what.ends_with('.'))
        out_.refusal = what;
    else
        out_.refusal = Format("The playlist is malformed at line %zu: %.*s.", lineNumber_,
                              int(what.size()), what.data());
    return false;
}

std::string THlsReader::Resolved(std::string_view reference) const {
    return Trim(reference).empty() ? std::string() : ResolveAddress(address_, reference);
}

THlsKey THlsReader::KeyFor(const TKeyState& key, std::uint64_t sequence) const {
    if (key.address.empty()) return {};
    return THlsKey{key.address, key.iv.value_or(SequenceIv(sequence))};
}

bool IsAudioOnly(const THlsVariant& variant) {
    const TCodecKinds kinds = CodecKindsOf(variant.codecs);
    return kinds.audio && !kinds.video;
}

}  // namespace

THlsPlaylist ReadHlsPlaylist(std::string_view text, std::string_view address) {
    THlsPlaylist playlist;
    THlsReader(address, playlist).Read(text);
    return playlist;
}

std::optional<THlsChoice> ChooseHlsStreams(const THlsPlaylist& master, bool hd) {
    if (master.kind != THlsPlaylist::TKind::Master || master.variants.empty()) return std::nullopt;
    std::vector<const THlsVariant*> candidates;
    for (const THlsVariant& variant : master.variants)
        if (!IsAudioOnly(variant)) candidates.push_back(&variant);
    if (candidates.empty())
        for (const THlsVariant& variant : master.variants) candidates.push_back(&variant);
    std::vector<TStreamQuality> qualities;
    for (const THlsVariant* variant : candidates) qualities.push_back(variant->quality);

    THlsChoice choice;
    choice.video = *candidates[ChooseQuality(qualities, hd)];
    const THlsRendition* audio = nullptr;
    for (const THlsRendition& rendition : master.renditions)
        if (rendition.type == "AUDIO" && !choice.video.audioGroup.empty() &&
            rendition.groupId == choice.video.audioGroup &&
            (!audio || (rendition.isDefault && !audio->isDefault)))
            audio = &rendition;
    if (IsAudioOnly(choice.video)) {
        choice.videoKind = TStreamKind::Audio;
    } else if (audio && !audio->address.empty()) {
        choice.audio = *audio;
        choice.videoKind = TStreamKind::Video;
    }
    return choice;
}

}  // namespace tarnwick
