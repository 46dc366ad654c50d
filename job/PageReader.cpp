#include "job/PageReader.h"

#include <gumbo.h>

#include <csetjmp>
#include <initializer_list>
#include <cstdlib>
#include <new>

#include "core/StrUtils.h"
#include "job/JsonLdVideo.h"
#include "job/PageAddresses.h"
#include "job/RecordTexts.h"

namespace tarnwick {

namespace {

// Every allocation of one parse, linked so that all of it can be freed when the parse is left
// half-way, and counted against the limits.
class ParseArena {
public:
    explicit ParseArena(const TPageReadLimits& limits)
        : limits_(limits), deadline_(std::chrono::steady_clock::now() + limits.time) {}
    ~ParseArena() {
        while (head_.next != &head_) {
            Block* block = head_.next;
            head_.next = block->next;
            std::free(block);
        }
    }
    ParseArena(const ParseArena&) = delete;
    ParseArena& operator=(const ParseArena&) = delete;

    // The parse, or null when a limit ended it.
    GumboOutput* Parse(std::string_view html) {
        GumboOptions options = kGumboDefaultOptions;
        options.allocator = &Allocate;
        options.deallocator = &Deallocate;
        options.userdata = this;
        // Parse errors are not wanted, and gumbo copies the whole stack of open elements into
        // each one it records: deep markup would cost memory in the square of its depth.
        options.max_errors = 0;
        if (setjmp(escape_) != 0) return nullptr;
        return gumbo_parse_with_options(&options, html.data(), html.size());
    }

private:
    struct alignas(std::max_align_t) Block {
        Block* prev;
        Block* next;
        std::size_t size;
    };

    // Gumbo cannot take a failed allocation, so a limit leaves the parse by a jump back into
    // Parse. Only gumbo's C frames lie between, and nothing here has a destructor to skip.
    static void* Allocate(void* userdata, std::size_t size) {
        auto& arena = *static_cast<ParseArena*>(userdata);
        if (arena.OverLimit(size)) std::longjmp(arena.escape_, 1);
        auto* block = static_cast<Block*>(std::malloc(sizeof(Block) + size));
        if (!block) std::longjmp(arena.escape_, 1);
        block->size = size;
        block->prev = &arena.head_;
        block->next = arena.head_.next;
        arena.head_.next->prev = block;
        arena.head_.next = block;
        arena.live_ += size;
        return block + 1;
    }

    static void Deallocate(void* userdata, void* pointer) {
        if (!pointer) return;
        auto& arena = *static_cast<ParseArena*>(userdata);
        Block* block = static_cast<Block*>(pointer) - 1;
        block->prev->next = block->next;
        block->next->prev = block->prev;
        arena.live_ -= block->size;
        std::free(block);
    }

    bool OverLimit(std::size_t size) {
        if (live_ + size > limits_.memory) return true;
        // The clock and the stop request every few allocations: between two of them gumbo
        // does at most one tag's work.
        if (++calls_ % 16 != 0) return false;
        if (limits_.stop && limits_.stop()) return true;
        return std::chrono::steady_clock::now() > deadline_;
    }

    const TPageReadLimits& limits_;
    const std::chrono::steady_clock::time_point deadline_;
    std::jmp_buf escape_;
    Block head_{&head_, &head_, 0};
    std::size_t live_ = 0;
    std::uint64_t calls_ = 0;
};

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

struct OpenGraphVideo {
    std::string url;
    std::string secureUrl;
    std::string type;
    int lines = 0;
};

// What the walk finds, addresses as written.
class PageWalk {
public:
    void Visit(const GumboNode& node) {
        const GumboElement& element = node.v.element;
        if (element.tag_namespace != GUMBO_NAMESPACE_HTML) return;
        switch (element.tag) {
            case GUMBO_TAG_TITLE:
                if (!titleSeen_) title_ = OneLineText(TextInside(node));
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
                if (poster_.empty()) poster_ = Attribute(node, "poster");
                tags_.push_back({Attribute(node, "src"), LowerCase(Trim(Attribute(node, "type"))),
                                 HintOf(node)});
                break;
            case GUMBO_TAG_SOURCE:
                if (node.parent && node.parent->type == GUMBO_NODE_ELEMENT &&
                    node.parent->v.element.tag == GUMBO_TAG_VIDEO)
                    tags_.push_back({Attribute(node, "src"),
                                     LowerCase(Trim(Attribute(node, "type"))), HintOf(node)});
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

        std::string jsonName, jsonAuthor, jsonThumbnail;
        for (const TJsonLdVideo& video : jsonLd_) {
            if (jsonName.empty()) jsonName = video.name;
            if (jsonAuthor.empty()) jsonAuthor = video.author;
            if (jsonThumbnail.empty()) jsonThumbnail = video.thumbnail;
            if (facts.contentSize.empty()) facts.contentSize = video.contentSize;
            if (facts.durationSeconds < 0) facts.durationSeconds = video.durationSeconds;
        }
        facts.title = FirstNonEmpty({jsonName, ogTitle_, title_});
        facts.author = FirstNonEmpty({jsonAuthor, OneLineText(metaAuthor_)});
        if (facts.durationSeconds < 0) facts.durationSeconds = metaDuration_;
        for (const std::string& preview : {jsonThumbnail, ogImage_, poster_}) {
            facts.preview = ResolveAddress(base, preview);
            if (!preview.empty() && !facts.preview.empty()) break;
            facts.preview.clear();
        }

        const auto add = [&](const std::string& address, const std::string& type, int lines) {
            const std::string absolute = ResolveAddress(base, address);
            if (Trim(address).empty() || absolute.empty()) return;
            for (TMediaCandidate& known : facts.candidates) {
                if (known.address != absolute) continue;
                if (known.lines == 0) known.lines = lines;
                if (known.type.empty()) known.type = type;
                return;
            }
            facts.candidates.push_back({absolute, type, lines});
        };
        for (const TJsonLdVideo& video : jsonLd_)
            for (const std::string& url : video.contentUrls) add(url, {}, 0);
        for (const OpenGraphVideo& video : openGraph_)
            add(video.secureUrl.empty() ? video.url : video.secureUrl, video.type, video.lines);
        for (const TMediaCandidate& stream : twitter_) add(stream.address, stream.type, 0);
        for (const TMediaCandidate& tag : tags_) add(tag.address, tag.type, tag.lines);
        return facts;
    }

private:
    void Meta(const GumboNode& node) {
        std::string key = LowerCase(Trim(Attribute(node, "property")));
        if (key.empty()) key = LowerCase(Trim(Attribute(node, "name")));
        const std::string content = Trim(Attribute(node, "content"));
        if (key.empty() || content.empty()) return;
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
        } else if (key == "og:title") {
            if (ogTitle_.empty()) ogTitle_ = OneLineText(content);
        } else if (key == "og:image" || key == "og:image:url" || key == "og:image:secure_url") {
            if (ogImage_.empty()) ogImage_ = content;
        } else if (key == "video:duration") {
            if (const auto seconds = TryStrToInt64(content);
                seconds && *seconds >= 0 && metaDuration_ < 0)
                metaDuration_ = *seconds;
        } else if (key == "twitter:player:stream") {
            twitter_.push_back({content, {}, 0});
        } else if (key == "twitter:player:stream:content_type") {
            if (!twitter_.empty()) twitter_.back().type = LowerCase(content);
        } else if (key == "author") {
            if (metaAuthor_.empty()) metaAuthor_ = content;
        }
    }

    bool titleSeen_ = false;
    std::string title_;
    std::string base_;
    std::string poster_;
    std::string ogTitle_;
    std::string ogImage_;
    std::string metaAuthor_;
    std::int64_t metaDuration_ = -1;
    std::vector<TJsonLdVideo> jsonLd_;
    std::vector<OpenGraphVideo> openGraph_;
    std::vector<TMediaCandidate> twitter_;
    std::vector<TMediaCandidate> tags_;
};

}  // namespace

TPageFacts ReadPage(std::string_view html, std::string_view pageAddress,
                    const TPageReadLimits& limits) {
    ParseArena arena(limits);
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
