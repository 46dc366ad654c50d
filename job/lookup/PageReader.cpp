#include "job/lookup/PageReader.h"

#include <cctype>
#include <initializer_list>
#include <unordered_map>

#include "core/StrUtils.h"
#include "job/fetch/MediaTypes.h"
#include "job/lookup/JsonLdVideo.h"
#include "job/lookup/PageAddresses.h"
#include "job/lookup/ParseArena.h"
#include "job/lookup/RecordTexts.h"

namespace tarnwick {

namespace {

std::string Attribute(const GumboNode& node, const char* name) {
    const GumboAttribute* attribute = gumbo_get_attribute(&node.v.element.attributes, name);
    return attribute ? std::string(attribute->value) : std::string();
}

// The text inside an element (its text children, not those of nested elements).
std::string TextInside(const GumboNode& node) {
    std::string text;
    const GumboVector& children = node.v.element.children;
    for (unsigned i = 0; i < children.length; ++i) {
        const auto* child = static_cast<const GumboNode*>(children.data[i]);
        if (child->type == GUMBO_NODE_TEXT || child->type == GUMBO_NODE_WHITESPACE ||
            child->type == GUMBO_NODE_CDATA)
            text += child->v.text.text;
    }
    return text;
}

int HintOf(const GumboNode& node) {
    for (const char* name : {"res", "size", "data-res", "label", "data-quality"})
        if (const int lines = QualityLines(Attribute(node, name)); lines > 0) return lines;
    return 0;
}

std::string FirstNonEmpty(std::initializer_list<std::string_view> texts) {
    for (const std::string_view text : texts)
        if (!text.empty()) return std::string(text);
    return {};
}

bool IsPlaceholder(std::string_view source) {
    return StartsText("data:", source) || StartsText("blob:", source);
}

// The first address of a srcset-like list ("a.mp4 720w, b.mp4 1080w").
std::string FirstListedAddress(std::string_view list) {
    const std::string text = Trim(list);
    std::string address = text.substr(0, text.find_first_of(" \t\n\f\r"));
    while (!address.empty() && address.back() == ',') address.pop_back();
    return address;
}

// The file a <video> or <source> names: src, or, where a lazy-loading page leaves src out (or
// holds a placeholder there until a script runs), the first data-...src attribute (data-src,
// data-lazy-src, data-video-src) that does not name a picture, else the first address of a
// data-...srcset.
std::string MediaSource(const GumboNode& node) {
    const std::string source = Trim(Attribute(node, "src"));
    if (!source.empty() && !IsPlaceholder(source)) return source;
    std::string listed;
    const GumboVector& attributes = node.v.element.attributes;
    for (unsigned i = 0; i < attributes.length; ++i) {
        const auto& attribute = *static_cast<const GumboAttribute*>(attributes.data[i]);
        const std::string name = LowerCase(attribute.name);
        const std::string value = Trim(attribute.value);
        if (!name.starts_with("data-") || value.empty() || IsPlaceholder(value)) continue;
        if (name.find("poster") != std::string::npos || name.find("thumb") != std::string::npos ||
            name.find("image") != std::string::npos)
            continue;
        if (name.ends_with("src")) return value;
        if (listed.empty() && name.ends_with("srcset")) listed = FirstListedAddress(value);
    }
    return listed.empty() ? source : listed;
}

// True when a link's path ends in a media file's extension ("/v/clip.mp4?dl=1"), or a
// playlist's or manifest's ("/v/master.m3u8").
bool LinksMediaFile(std::string_view address) {
    const std::string extension = SplitExtension(LastPathSegment(address)).second;
    return IsMediaExtension(extension) ||
           StreamFormatForExtension(extension) != TStreamFormat::None;
}

bool IsJpegPicture(const TMediaCandidate& picture) {
    if (!picture.type.empty())
        return picture.type == "image/jpeg" || picture.type == "image/jpg" ||
               picture.type == "image/pjpeg";
    const std::string extension = LowerCase(SplitExtension(LastPathSegment(picture.address)).second);
    return extension == "jpg" || extension == "jpeg";
}

// The letters and digits of a text, lower case: "You Tube!" and "youtube" read alike.
std::string Letters(std::string_view text) {
    std::string letters;
    for (const char c : text)
        if (std::isalnum(static_cast<unsigned char>(c)))
            letters += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return letters;
}

// The site's own name as its address shows it: "example" for www.example.com.
std::string HostName(std::string_view pageAddress) {
    std::string_view rest = pageAddress.substr(pageAddress.find("//") == std::string_view::npos
                                                   ? 0
                                                   : pageAddress.find("//") + 2);
    rest = rest.substr(0, rest.find_first_of("/?#:"));
    for (const std::string_view prefix : {"www.", "m."})
        if (rest.starts_with(prefix)) rest.remove_prefix(prefix.size());
    return Letters(rest.substr(0, rest.find('.')));
}

// The title that names the video: JSON-LD's name, else og:title, unless that is only the site's
// name (og:site_name, or the host's own name) and <title> says more, else <title>. All plain
// text. An og:title that <title> merely repeats with the site's name after it stays: that is the
// usual page, and the video's own name is the shorter one.
std::string ChosenTitle(const std::string& jsonName, const std::string& ogTitle,
                        const std::string& siteName, const std::string& title,
                        std::string_view pageAddress) {
    if (!jsonName.empty()) return jsonName;
    if (ogTitle.empty()) return title;
    const std::string letters = Letters(ogTitle);
    const bool siteOnly = SameText(ogTitle, siteName) || letters == HostName(pageAddress);
    return siteOnly && title.size() > ogTitle.size() ? title : ogTitle;
}

struct OpenGraphVideo {
    std::string url;
    std::string secureUrl;
    std::string type;
    int lines = 0;
};

struct OpenGraphImage {
    std::string url;
    std::string secureUrl;
    std::string type;
};

// What the walk finds, addresses as written.
class PageWalk {
public:
    void Visit(const GumboNode& node) {
        const GumboElement& element = node.v.element;
        if (element.tag_namespace != GUMBO_NAMESPACE_HTML) return;
        switch (element.tag) {
            case GUMBO_TAG_TITLE:
                if (!titleSeen_) title_ = TextInside(node);
                titleSeen_ = true;
                break;
            case GUMBO_TAG_BASE:
                if (base_.empty()) base_ = Attribute(node, "href");
                break;
            case GUMBO_TAG_META: Meta(node); break;
            case GUMBO_TAG_SCRIPT:
                if (SameText(Trim(Attribute(node, "type")), "application/ld+json"))
                    for (TJsonLdVideo& video : ReadJsonLdVideos(TextInside(node)))
                        jsonLd_.push_back(std::move(video));
                break;
            case GUMBO_TAG_VIDEO:
                // A <video>'s width and height are the size of its box on the page, not the
                // file's: only its quality hints count.
                if (const std::string poster = Attribute(node, "poster"); !Trim(poster).empty())
                    posters_.push_back({poster, {}, 0});
                tags_.push_back({MediaSource(node), LowerCase(Trim(Attribute(node, "type"))),
                                 HintOf(node)});
                break;
            case GUMBO_TAG_SOURCE: Source(node); break;
            case GUMBO_TAG_A:
                if (const std::string href = Attribute(node, "href"); LinksMediaFile(href))
                    links_.push_back(href);
                break;
            default: break;
        }
    }

    TPageFacts Facts(std::string_view pageAddress) const {
        TPageFacts facts;
        std::string base(pageAddress);
        if (const std::string declared = ResolveAddress(pageAddress, base_); !base_.empty() &&
                                                                             !declared.empty())
            base = declared;

        std::string jsonName, jsonAuthor;
        for (const TJsonLdVideo& video : jsonLd_) {
            if (jsonName.empty()) jsonName = PlainTitle(video.name);
            if (jsonAuthor.empty()) jsonAuthor = video.author;
            if (facts.contentSize.empty()) facts.contentSize = video.contentSize;
            if (facts.durationSeconds < 0) facts.durationSeconds = video.durationSeconds;
        }
        facts.title = ChosenTitle(jsonName, PlainTitle(ogTitle_), PlainTitle(siteName_),
                                  PlainTitle(title_), pageAddress);
        facts.author = FirstNonEmpty({jsonAuthor, OneLineText(metaAuthor_)});
        if (facts.durationSeconds < 0) facts.durationSeconds = metaDuration_;
        facts.preview = Preview(base);
        facts.candidates = Candidates(base);
        return facts;
    }

private:
    void Source(const GumboNode& node) {
        if (!node.parent || node.parent->type != GUMBO_NODE_ELEMENT ||
            node.parent->v.element.tag != GUMBO_TAG_VIDEO)
            return;
        int lines = HintOf(node);
        if (lines == 0) lines = FrameLines(Attribute(node, "height"), Attribute(node, "width"));
        tags_.push_back({MediaSource(node), LowerCase(Trim(Attribute(node, "type"))), lines});
    }

    // The pictures in the order of trust (JSON-LD, Open Graph, Twitter, posters); the first JPEG
    // among them, as every preview decoder reads those, else the first.
    std::string Preview(const std::string& base) const {
        std::vector<TMediaCandidate> pictures;
        for (const TJsonLdVideo& video : jsonLd_)
            for (const std::string& thumbnail : video.thumbnails)
                pictures.push_back({thumbnail, {}, 0});
        for (const OpenGraphImage& image : ogImages_)
            pictures.push_back({image.url.empty() ? image.secureUrl : image.url, image.type, 0});
        pictures.insert(pictures.end(), twitterImages_.begin(), twitterImages_.end());
        pictures.insert(pictures.end(), posters_.begin(), posters_.end());
        std::string first;
        for (TMediaCandidate& picture : pictures) {
            const std::string absolute = ResolveAddress(base, picture.address);
            if (Trim(picture.address).empty() || absolute.empty()) continue;
            picture.address = absolute;
            if (IsJpegPicture(picture)) return absolute;
            if (first.empty()) first = absolute;
        }
        return first;
    }

    // JSON-LD content addresses, Open Graph, Twitter, <video>/<source>, JSON-LD embed addresses,
    // then links to media files.
    std::vector<TMediaCandidate> Candidates(const std::string& base) const {
        std::vector<TMediaCandidate> candidates;
        std::unordered_map<std::string, std::size_t> known;
        const auto add = [&](const std::string& address, const std::string& type, int lines) {
            const std::string absolute = ResolveAddress(base, address);
            if (Trim(address).empty() || absolute.empty()) return;
            const auto [at, added] = known.emplace(absolute, candidates.size());
            if (added) {
                candidates.push_back({absolute, type, lines});
                return;
            }
            TMediaCandidate& first = candidates[at->second];
            if (first.lines == 0) first.lines = lines;
            if (first.type.empty()) first.type = type;
        };
        for (const TJsonLdVideo& video : jsonLd_)
            for (const std::string& url : video.contentUrls) add(url, {}, video.lines);
        for (const OpenGraphVideo& video : openGraph_)
            add(video.secureUrl.empty() ? video.url : video.secureUrl, video.type, video.lines);
        for (const TMediaCandidate& stream : twitter_) add(stream.address, stream.type, 0);
        for (const TMediaCandidate& tag : tags_) add(tag.address, tag.type, tag.lines);
        // A player's page as a rule: after the addresses of the video itself.
        for (const TJsonLdVideo& video : jsonLd_)
            for (const std::string& url : video.embedUrls) add(url, {}, video.lines);
        for (const std::string& link : links_) add(link, {}, 0);
        return candidates;
    }

    void Meta(const GumboNode& node) {
        std::string key = LowerCase(Trim(Attribute(node, "property")));
        if (key.empty()) key = LowerCase(Trim(Attribute(node, "name")));
        const std::string content = Trim(Attribute(node, "content"));
        if (key.empty() || content.empty()) return;
        if (key.starts_with("og:video")) return OpenGraphVideoMeta(key, content);
        if (key.starts_with("og:image")) return OpenGraphImageMeta(key, content);
        if (key == "og:title") {
            if (ogTitle_.empty()) ogTitle_ = content;
        } else if (key == "og:site_name") {
            if (siteName_.empty()) siteName_ = content;
        } else if (key == "video:duration") {
            Duration(content);
        } else if (key == "twitter:image" || key == "twitter:image:src") {
            twitterImages_.push_back({content, {}, 0});
        } else if (key == "twitter:player:stream") {
            twitter_.push_back({content, {}, 0});
        } else if (key == "twitter:player:stream:content_type") {
            if (!twitter_.empty()) twitter_.back().type = LowerCase(content);
        } else if (key == "author") {
            if (metaAuthor_.empty()) metaAuthor_ = content;
        }
    }

    // Each og:video or og:video:url starts a new video; the tags that follow belong to it.
    void OpenGraphVideoMeta(const std::string& key, const std::string& content) {
        const auto current = [this]() -> OpenGraphVideo& {
            if (openGraph_.empty()) openGraph_.emplace_back();
            return openGraph_.back();
        };
        if (key == "og:video" || key == "og:video:url") {
            if (openGraph_.empty() || !openGraph_.back().url.empty()) openGraph_.emplace_back();
            current().url = content;
        } else if (key == "og:video:secure_url") {
            if (openGraph_.empty() || !openGraph_.back().secureUrl.empty())
                openGraph_.emplace_back();
            current().secureUrl = content;
        } else if (key == "og:video:type") {
            current().type = LowerCase(content);
        } else if (key == "og:video:height") {
            current().lines = QualityLines(content);
        } else if (key == "og:video:duration") {
            Duration(content);
        }
    }

    void Duration(const std::string& seconds) {
        if (const auto value = TryStrToInt64(seconds); value && *value >= 0 && metaDuration_ < 0)
            metaDuration_ = *value;
    }

    // Pictures as videos: each og:image or og:image:url starts a new one.
    void OpenGraphImageMeta(const std::string& key, const std::string& content) {
        const auto current = [this]() -> OpenGraphImage& {
            if (ogImages_.empty()) ogImages_.emplace_back();
            return ogImages_.back();
        };
        if (key == "og:image" || key == "og:image:url") {
            if (ogImages_.empty() || !ogImages_.back().url.empty()) ogImages_.emplace_back();
            current().url = content;
        } else if (key == "og:image:secure_url") {
            if (ogImages_.empty() || !ogImages_.back().secureUrl.empty()) ogImages_.emplace_back();
            current().secureUrl = content;
        } else if (key == "og:image:type") {
            current().type = LowerCase(content);
        }
    }

    bool titleSeen_ = false;
    std::string title_;
    std::string base_;
    std::string ogTitle_;
    std::string siteName_;
    std::string metaAuthor_;
    std::int64_t metaDuration_ = -1;
    std::vector<TJsonLdVideo> jsonLd_;
    std::vector<OpenGraphVideo> openGraph_;
    std::vector<OpenGraphImage> ogImages_;
    std::vector<TMediaCandidate> twitterImages_;
    std::vector<TMediaCandidate> posters_;
    std::vector<TMediaCandidate> twitter_;
    std::vector<TMediaCandidate> tags_;
    std::vector<std::string> links_;
};

}  // namespace

TPageFacts ReadPage(std::string_view html, std::string_view pageAddress,
                    const TPageReadLimits& limits) {
    TParseArena arena(limits);
    const GumboOutput* output = arena.Parse(html);
    if (!output) {
        TPageFacts facts;
        facts.read = false;
        return facts;
    }
    // The tree lives in the arena, which frees it whole: gumbo's own release is not needed.
    PageWalk walk;
    std::vector<const GumboNode*> pending{output->document};
    while (!pending.empty()) {
        const GumboNode* node = pending.back();
        pending.pop_back();
        // A <template>'s content is not shown, and text holds no elements.
        if (node->type != GUMBO_NODE_ELEMENT && node->type != GUMBO_NODE_DOCUMENT) continue;
        if (node->type != GUMBO_NODE_DOCUMENT) walk.Visit(*node);
        const GumboVector& children = node->type == GUMBO_NODE_DOCUMENT
                                          ? node->v.document.children
                                          : node->v.element.children;
        for (unsigned i = children.length; i > 0; --i)
            pending.push_back(static_cast<const GumboNode*>(children.data[i - 1]));
    }
    return walk.Facts(pageAddress);
}

}  // namespace tarnwick
