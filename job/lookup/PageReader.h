#pragma once

// What a web page says about its video, read with an HTML5 parser (gumbo) from the page's text
// as UTF-8 (see PageCharset.h):
//  - JSON-LD scripts (type "application/ld+json", see JsonLdVideo.h): name, author, duration,
//    thumbnails, content size, content and embed addresses and frame size or quality of each
//    VideoObject;
//  - Open Graph and Twitter <meta> tags: og:video:secure_url, og:video:url and og:video (each
//    og:video or og:video:url starts a new video, to which the og:video:type, og:video:height
//    and og:video:secure_url that follow belong; the secure address is preferred), og:title,
//    og:site_name, og:image (with its og:image:type), video:duration and og:video:duration,
//    twitter:image, twitter:player:stream; and <meta name="author">;
//  - <video src poster> and the <source src type> inside a <video>, with the quality hint of the
//    first of the attributes res, size, data-res, label and data-quality that names one, else,
//    on a <source>, its height and width (a <video>'s are the size of its box). A lazy-loading
//    page's data-src, data-lazy-src, data-video-src or data-...srcset stands for a missing src;
//  - links (<a href>) whose path ends in a media file's extension (or .m3u8, .mpd), the last
//    candidates;
//  - the first <title>, and the first <base href>, against which (itself made absolute against
//    the page's address) every address resolves.
// The parser decodes character references in text and attributes; JSON-LD does its own.
//
// Gumbo was chosen over libxml2's HTML parser because it builds the tree the way browsers do
// (the HTML5 parsing algorithm), so a page reads the same here as in the user's browser;
// libxml2's parser follows the older HTML 4 rules and recovers from broken markup its own way.
//
// A page is hostile input. The parse runs within bounds on its time, its memory and a stop
// request (TPageReadLimits): gumbo allocates through our own allocator, which checks them and,
// when one is passed, leaves the parse and frees everything it had allocated. Deeply nested
// markup costs gumbo time in proportion to the depth for every tag, so those bounds are what
// keep a page of a million "<div>" from holding the job. The tree is walked without recursion.
//
// ReadPage may run on any thread; calls are independent. Nothing throws but std::bad_alloc.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "http/IdAbortSignal.h"
#include "job/JobDefaults.h"
#include "job/lookup/MediaCandidates.h"

namespace tarnwick {

struct TPageReadLimits {
    std::chrono::milliseconds time = kDefaultParseTime;  // for the parse
    std::size_t memory = 256 * 1024 * 1024;  // the parser's allocations at one time
    const TIdAbortSignal* abort = nullptr;   // asked during the parse; an abort ends it
};

struct TPageFacts {
    // False when the parse was ended by a limit or the abort; the rest is then empty.
    bool read = true;
    // JSON-LD name, else og:title, else <title>; plain text (PlainTitle), one line. An og:title
    // that is only the site's name (it is og:site_name, or the host's own name, "example" for
    // www.example.com) gives way to a longer <title>.
    std::string title;
    std::string author;  // JSON-LD author or creator, else <meta name="author">
    std::int64_t durationSeconds = -1;  // JSON-LD duration, else (og:)video:duration; -1: none
    // The first JPEG (by og:image:type, else by a .jpg or .jpeg path) of the JSON-LD thumbnails,
    // og:image, twitter:image and <video> posters, in that order, else the first of them;
    // absolute.
    std::string preview;
    std::string contentSize;  // JSON-LD contentSize as written
    // JSON-LD content addresses, then Open Graph, Twitter and <video>/<source> in page order,
    // then JSON-LD embed addresses, then links to media files; absolute web addresses only, each
    // once (with the first quality hint any of its mentions gave). Any of them may be an HLS
    // playlist or a DASH manifest, which the lookup tells when it asks for it.
    std::vector<TMediaCandidate> candidates;
};

// Reads the page text html (UTF-8) found at pageAddress (an absolute web address).
TPageFacts ReadPage(std::string_view html, std::string_view pageAddress,
                    const TPageReadLimits& limits = {});

}  // namespace tarnwick
