#include "job/lookup/JsonLdVideo.h"

#include <cmath>
#include <map>

#include "core/StrUtils.h"
#include "job/lookup/BoundedJson.h"
#include "job/lookup/CharacterReferences.h"
#include "job/lookup/MediaCandidates.h"
#include "job/lookup/RecordTexts.h"

namespace tarnwick {

namespace {

using Json = nlohmann::json;

std::string_view WithoutAffixes(std::string_view text, std::string_view prefix,
                                std::string_view suffix) {
    if (text.starts_with(prefix)) text.remove_prefix(prefix.size());
    if (text.ends_with(suffix)) text.remove_suffix(suffix.size());
    return text;
}

std::string_view TrimmedView(std::string_view text) {
    while (!text.empty() && static_cast<unsigned char>(text.front()) <= 0x20) text.remove_prefix(1);
    while (!text.empty() && static_cast<unsigned char>(text.back()) <= 0x20) text.remove_suffix(1);
    return text;
}

// The JSON inside the wrappers old pages put around a script's text.
std::string_view Unwrapped(std::string_view text) {
    text = TrimmedView(WithoutAffixes(TrimmedView(text), "<!--", "-->"));
    text = TrimmedView(WithoutAffixes(text, "//<![CDATA[", "//]]>"));
    return TrimmedView(WithoutAffixes(text, "<![CDATA[", "]]>"));
}

bool NamesVideoObject(const Json& type) {
    if (type.is_array()) {
        for (const Json& item : type)
            if (NamesVideoObject(item)) return true;
        return false;
    }
    if (!type.is_string()) return false;
    std::string_view name = type.get_ref<const std::string&>();
    for (const std::string_view prefix : {"http://schema.org/", "https://schema.org/", "schema:"})
        if (StartsText(prefix, name)) name.remove_prefix(prefix.size());
    return SameText(name, "VideoObject");
}

const Json* Member(const Json& object, const char* name) {
    if (!object.is_object()) return nullptr;
    const auto found = object.find(name);
    return found == object.end() ? nullptr : &*found;
}

class VideoReader {
public:
    explicit VideoReader(const Json& root) { Collect(root); }

    std::vector<TJsonLdVideo> Videos() const {
        std::vector<TJsonLdVideo> videos;
        for (const Json* object : videoObjects_) videos.push_back(Read(*object));
        return videos;
    }

private:
    // Every object of the value, without recursion: the VideoObjects in order, and the first
    // object of each "@id".
    void Collect(const Json& root) {
        std::vector<const Json*> pending{&root};
        while (!pending.empty()) {
            const Json* value = pending.back();
            pending.pop_back();
            if (value->is_object()) {
                // A bare reference is not the object it names.
                if (const Json* id = Member(*value, "@id");
                    id && id->is_string() && value->size() > 1)
                    ids_.emplace(id->get<std::string>(), value);
                if (const Json* type = Member(*value, "@type"); type && NamesVideoObject(*type))
                    videoObjects_.push_back(value);
            }
            if (value->is_structured())
                for (auto item = value->crbegin(); item != value->crend(); ++item)
                    pending.push_back(&*item);
        }
    }

    // An object that only refers to another by "@id" stands for that one.
    const Json& Dereferenced(const Json& value) const {
        const Json* id = Member(value, "@id");
        if (!id || !id->is_string() || value.size() != 1) return value;
        const auto found = ids_.find(id->get<std::string>());
        return found == ids_.end() ? value : *found->second;
    }

    std::string Text(const Json& value, int depth) const {
        if (depth > kJsonDepthLimit) return {};
        if (value.is_string())
            return OneLineText(DecodeCharacterReferences(value.get_ref<const std::string&>()));
        if (value.is_number_integer()) return value.dump();
        if (value.is_array()) {
            for (const Json& item : value)
                if (std::string text = Text(item, depth + 1); !text.empty()) return text;
            return {};
        }
        const Json& object = Dereferenced(value);
        for (const char* name : {"name", "@value"})
            if (const Json* member = Member(object, name)) return Text(*member, depth + 1);
        return {};
    }

    std::string Address(const Json& value, int depth) const {
        if (depth > kJsonDepthLimit) return {};
        if (value.is_string())
            return DecodeCharacterReferences(TrimmedView(value.get_ref<const std::string&>()));
        if (value.is_array()) {
            for (const Json& item : value)
                if (std::string address = Address(item, depth + 1); !address.empty())
                    return address;
            return {};
        }
        const Json& object = Dereferenced(value);
        for (const char* name : {"url", "contentUrl"})
            if (const Json* member = Member(object, name)) return Address(*member, depth + 1);
        return {};
    }

    // Every address of a text, an object or a list of them, in order.
    std::vector<std::string> Addresses(const Json& value) const {
        if (!value.is_array()) {
            std::string address = Address(value, 0);
            if (address.empty()) return {};
            return {std::move(address)};
        }
        std::vector<std::string> addresses;
        for (const Json& item : value)
            if (std::string address = Address(item, 1); !address.empty())
                addresses.push_back(std::move(address));
        return addresses;
    }

    // A frame size as a number, a text or a QuantitativeValue's "value".
    std::string Size(const Json* value) const {
        if (!value) return {};
        if (const Json* inner = Member(Dereferenced(*value), "value")) value = inner;
        if (value->is_number() && value->get<double>() >= 0 && value->get<double>() < 1e6)
            return std::to_string(std::llround(value->get<double>()));
        return value->is_string() ? value->get<std::string>() : std::string();
    }

    int Lines(const Json& object) const {
        if (const int lines = FrameLines(Size(Member(object, "height")), Size(Member(object, "width"))))
            return lines;
        const Json* quality = Member(object, "videoQuality");
        return quality ? QualityLines(Text(*quality, 0)) : 0;
    }

    std::string People(const Json& value) const {
        if (!value.is_array()) return Text(value, 0);
        std::string joined;
        for (const Json& item : value) {
            const std::string name = Text(item, 1);
            if (name.empty() || (", " + joined + ", ").find(", " + name + ", ") != std::string::npos)
                continue;
            if (!joined.empty()) joined += ", ";
            joined += name;
        }
        return joined;
    }

    TJsonLdVideo Read(const Json& object) const {
        TJsonLdVideo video;
        if (const Json* name = Member(object, "name")) video.name = Text(*name, 0);
        for (const char* role : {"author", "creator"}) {
            if (const Json* people = Member(object, role); people && video.author.empty())
                video.author = People(*people);
        }
        if (const Json* duration = Member(object, "duration")) {
            if (duration->is_string()) {
                video.durationSeconds =
                    ParseIsoDuration(duration->get_ref<const std::string&>()).value_or(-1);
            } else if (duration->is_number() && duration->get<double>() >= 0 &&
                       duration->get<double>() < 1e9) {
                video.durationSeconds = std::llround(duration->get<double>());
            }
        }
        if (const Json* thumbnail = Member(object, "thumbnailUrl"))
            video.thumbnails = Addresses(*thumbnail);
        video.lines = Lines(object);
        if (const Json* size = Member(object, "contentSize")) {
            if (size->is_number() && size->get<double>() >= 0 && size->get<double>() < 9e18)
                video.contentSize = std::to_string(std::llround(size->get<double>()));
            else
                video.contentSize = Text(*size, 0);
        }
        video.contentUrls = UrlTexts(Member(object, "contentUrl"));
        video.embedUrls = UrlTexts(Member(object, "embedUrl"));
        return video;
    }

    // The addresses of a text or a list of texts, as written.
    static std::vector<std::string> UrlTexts(const Json* urls) {
        std::vector<std::string> addresses;
        const auto add = [&addresses](const Json& url) {
            if (!url.is_string()) return;
            const std::string_view address = TrimmedView(url.get_ref<const std::string&>());
            if (!address.empty()) addresses.push_back(DecodeCharacterReferences(address));
        };
        if (urls && urls->is_array())
            for (const Json& url : *urls) add(url);
        else if (urls)
            add(*urls);
        return addresses;
    }

    std::vector<const Json*> videoObjects_;
    std::map<std::string, const Json*> ids_;
};

}  // namespace

std::vector<TJsonLdVideo> ReadJsonLdVideos(std::string_view scriptText) {
    const Json root = ParseBoundedJson(Unwrapped(scriptText));
    if (root.is_discarded()) return {};
    return VideoReader(root).Videos();
}

}  // namespace tarnwick
