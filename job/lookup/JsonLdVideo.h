#pragma once

// The videos a page describes in JSON-LD (schema.org's VideoObject): every object whose "@type"
// is, or lists, "VideoObject" (also written "schema:VideoObject" or as a schema.org address),
// wherever it sits in the script's value: at the top, in an array, in "@graph", or inside another
// object (a page's "video" or "mainEntity").
//
// The script's text is untrusted: it is read with ParseBoundedJson's depth bound, walked without
// recursion beyond that bound, and a script that is not JSON gives no video. Strings have their
// HTML character references decoded (a script is raw text to the HTML parser); texts are also
// made one line. A plain function: any thread; nothing throws but std::bad_alloc.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tarnwick {

struct TJsonLdVideo {
    std::string name;
    // "author", else "creator": a text, an object's "name" (also one that "@id" refers to
    // elsewhere in the script), or a list of them joined by ", ".
    std::string author;
    std::int64_t durationSeconds = -1;  // "duration" (ISO 8601, or a number of seconds); -1: none
    // "thumbnailUrl": a text, an object's "url" or "contentUrl", or a list of them, in order.
    std::vector<std::string> thumbnails;
    std::string contentSize;  // as written; a number of bytes as its decimal digits
    std::vector<std::string> contentUrls;  // "contentUrl" (a text or a list), as written
    // "embedUrl" likewise: a player's page as a rule, at times the playlist itself.
    std::vector<std::string> embedUrls;
    // The picture lines of the copy: "height", else "width" (FrameLines; a number, a text such as
    // "720px" or an object's "value"), else "videoQuality" (QualityLines: "HD", "720p"); 0: none.
    int lines = 0;
};

// The VideoObjects of one JSON-LD script's text, in the order met. The text may be wrapped in an
// HTML comment or a CDATA section, as old pages do.
std::vector<TJsonLdVideo> ReadJsonLdVideos(std::string_view scriptText);

}  // namespace tarnwick
