#pragma once

// What a media answer is: the rules that tell a video or audio file from a web page, and which
// file extension a file that came from the network may carry in the save folder. Plain functions
// over text, and the one read of a file's head that they look at.

#include <cstddef>
#include <string>
#include <string_view>

#include "job/streams/StreamFormat.h"

namespace tarnwick {

// The failure text of a media answer that is a web page.
inline constexpr std::string_view kWebPageNotVideoText = "The server sent a web page, not a video.";
// The extension of a delivered file whose kind is unknown.
inline constexpr std::string_view kUnknownMediaExtension = "bin";

// The media type of a Content-Type value: lower case, without parameters and blanks
// ("Video/MP4; codecs=x" gives "video/mp4").
std::string MediaTypeOf(std::string_view contentType);

// True for a Content-Type that names a web page (text/html, application/xhtml+xml).
bool IsWebPageType(std::string_view contentType);

// True when bytes, the start of a body, begin like an HTML document (after a byte order mark and
// white space: "<!DOCTYPE html" or "<html", in any letter case).
bool LooksLikeWebPage(std::string_view bytes);

// True for the extensions of video and audio files (the converter's targets, flv, webm, mkv,
// m4a, ogg, mpeg and the like), in any letter case. Never true for extensions that a desktop
// opens as something else (txt, html, desktop, sh, exe, ...).
bool IsMediaExtension(std::string_view extension);

// The extension for a Content-Type of video or audio ("video/mp4" gives "mp4"); empty for any
// other or unknown type.
std::string MediaExtensionForType(std::string_view contentType);

// The streaming playlist or manifest a Content-Type names: Hls for the playlist types (any that
// holds "mpegurl": application/vnd.apple.mpegurl, application/x-mpegurl, audio/mpegurl,
// audio/x-mpegurl), Dash for application/dash+xml and video/vnd.mpeg.dash.mpd; None otherwise.
TStreamFormat StreamFormatForType(std::string_view contentType);

// The streaming playlist or manifest a file's extension stands for: Hls for "m3u8", Dash for
// "mpd" (in any letter case); None otherwise.
TStreamFormat StreamFormatForExtension(std::string_view extension);

// The bytes of an answer's start that tell a playlist or manifest its type does not name
// (StreamFormatOf): room for an XML declaration and a comment before the manifest's root.
inline constexpr std::size_t kStreamHeadBytes = 16 * 1024;

// The extension that the first bytes of a media file show (an MP4/MOV "ftyp" box, FLV, Matroska
// or WebM, Ogg, AVI, WAV, MPEG, MP3, ...); empty when they show none of them.
std::string MediaExtensionForBytes(std::string_view head);

// The bytes of a file's start that show its kind: a web page, or which media file it is.
inline constexpr std::size_t kFileHeadBytes = 512;
// The first kFileHeadBytes of the file at path (fewer when it is shorter; none when it cannot be
// read).
std::string FileHead(const std::string& path);

// The extension a download is saved under when it is not converted: the record's extension when
// it is a media extension, otherwise the one its Content-Type names, otherwise the one its first
// bytes show, otherwise "bin".
std::string DeliveredExtension(std::string_view recordExtension, std::string_view contentType,
                               std::string_view head);

}  // namespace tarnwick
