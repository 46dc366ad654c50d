#pragma once

// The rules by which the built-in lookup chooses a media file: the quality a page's hint names,
// the order in which the candidates are tried, whether an answer carries media at all (a file,
// or a streaming playlist or manifest), and the file extension it gets.
//
// Plain functions: any thread; nothing throws but std::bad_alloc.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "job/streams/StreamFormat.h"

namespace tarnwick {

// One address a page offers as its video.
struct TMediaCandidate {
    std::string address;  // an absolute web address
    std::string type;     // the type the page declares for it (lower-case), often empty
    int lines = 0;        // the picture lines its quality hint names; 0 when it has none
};

// The picture lines a quality hint names: "720p", "1080", "720p HD", "HD 1080p60", "1280x720"
// (the second number), "4K" (2160), "8K" (4320). A number counts when it has 3 or 4 digits and
// lies between 100 and 4320. Without one, the words players label their copies with: "SD" 480,
// "HD" 720, "Full HD" or "FHD" 1080, "QHD" 1440, "UHD" 2160 (either letter case). 0 when the hint
// names none ("medium", "").
int QualityLines(std::string_view hint);

// The picture lines of a frame size as a page writes it ("720", "720px", in either letter case):
// height's, else, for a height that names none, those of a 16:9 picture width wide (1280 gives
// 720). 0 when neither gives lines between 100 and 4320.
int FrameLines(std::string_view height, std::string_view width);

// The order in which to try candidates, as indexes. Those with a hint come first: with hd the
// most lines first, otherwise the nearest to 480 lines first (of two as near, the fewer lines);
// those without a hint follow in page order. Equal hints keep page order.
std::vector<std::size_t> CandidateOrder(const std::vector<TMediaCandidate>& candidates, bool hd);

// True when an answer of contentType ("" when the answer named none) for a file called fileName
// carries media: a video/ or audio/ type other than a playlist (a type holding "mpegurl"), or a
// generic binary type (application/octet-stream, binary/octet-stream, application/download,
// application/x-download, application/force-download, application/mp4, application/ogg) or none
// with a media file's extension (IsMediaExtension) on fileName.
bool IsMediaAnswer(std::string_view contentType, std::string_view fileName);

// The playlist or manifest an answer of contentType for a file called fileName is, as its head
// tells: its type's (StreamFormatForType), else, for a generic binary type (as IsMediaAnswer's),
// text/plain or none, fileName's extension's (".m3u8", ".mpd"). None when the head does not tell.
TStreamFormat StreamAnswerFormat(std::string_view contentType, std::string_view fileName);

// True when an answer of contentType may be a playlist or manifest that its head does not name,
// so that the start of its body is to tell (StreamFormatOf): none, a generic binary type, text
// other than a web page, or XML.
bool MayBeStreamByContent(std::string_view contentType);

// The extension a media file gets, lower-case: fileName's when it is a media file's extension;
// else the one its type stands for (MediaExtensionForType: video/mp4 "mp4", audio/mpeg "mp3");
// else fileName's own; else, for a video/ or audio/ type not known here, its subtype's letters
// and digits ("video/x-foo" gives "foo"); else empty.
std::string MediaExtension(std::string_view fileName, std::string_view contentType);

}  // namespace tarnwick
