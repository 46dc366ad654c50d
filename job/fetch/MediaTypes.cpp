#include "job/fetch/MediaTypes.h"

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <utility>

#include "core/ScopedFd.h"
#include "core/StrUtils.h"

namespace tarnwick {

namespace {

constexpr std::array<std::string_view, 28> kMediaExtensions = {
    "3g2", "3gp", "aac", "asf",  "avi", "f4v", "flac", "flv", "m2ts", "m4a",
    "m4v", "mka", "mkv", "mov",  "mp3", "mp4", "mpeg", "mpg", "oga",  "ogg",
    "ogv", "opus", "ts", "wav",  "weba", "webm", "wma", "wmv"};

constexpr std::array<std::pair<std::string_view, std::string_view>, 31> kTypeExtensions = {{
    {"audio/3gpp", "3gp"},        {"audio/aac", "aac"},          {"audio/flac", "flac"},
    {"audio/mp4", "m4a"},         {"audio/mpeg", "mp3"},         {"audio/mp3", "mp3"},
    {"audio/ogg", "ogg"},         {"audio/opus", "opus"},        {"audio/wav", "wav"},
    {"audio/webm", "webm"},       {"audio/x-flac", "flac"},      {"audio/x-m4a", "m4a"},
    {"audio/x-matroska", "mka"},  {"audio/x-ms-wma", "wma"},     {"audio/x-wav", "wav"},
    {"video/3gpp", "3gp"},        {"video/3gpp2", "3g2"},        {"video/avi", "avi"},
    {"video/flv", "flv"},         {"video/mp2t", "ts"},          {"video/mp4", "mp4"},
    {"video/mpeg", "mpeg"},       {"video/ogg", "ogv"},          {"video/quicktime", "mov"},
    {"video/webm", "webm"},       {"video/x-flv", "flv"},        {"video/x-m4v", "m4v"},
    {"video/x-matroska", "mkv"},  {"video/x-ms-asf", "asf"},     {"video/x-ms-wmv", "wmv"},
    {"video/x-msvideo", "avi"},
}};

bool StartsWithText(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && SameText(text.substr(0, prefix.size()), prefix);
}

}  // namespace

std::string MediaTypeOf(std::string_view contentType) {
    const std::size_t semicolon = contentType.find(';');
    return LowerCase(Trim(contentType.substr(0, semicolon)));
}

bool IsWebPageType(std::string_view contentType) {
    const std::string type = MediaTypeOf(contentType);
    return type == "text/html" || type == "application/xhtml+xml";
}

bool LooksLikeWebPage(std::string_view bytes) {
    if (bytes.starts_with("\xEF\xBB\xBF")) bytes.remove_prefix(3);
    while (!bytes.empty() && (bytes.front() == ' ' || bytes.front() == '\t' ||
                              bytes.front() == '\r' || bytes.front() == '\n' ||
                              bytes.front() == '\f'))
        bytes.remove_prefix(1);
    return StartsWithText(bytes, "<!doctype html") || StartsWithText(bytes, "<html");
}

bool IsMediaExtension(std::string_view extension) {
    const std::string lower = LowerCase(extension);
    for (const std::string_view known : kMediaExtensions)
        if (lower == known) return true;
    return false;
}

std::string MediaExtensionForType(std::string_view contentType) {
    const std::string type = MediaTypeOf(contentType);
    for (const auto& [name, extension] : kTypeExtensions)
        if (type == name) return std::string(extension);
    return {};
}

TStreamFormat StreamFormatForType(std::string_view contentType) {
    const std::string type = MediaTypeOf(contentType);
    if (type.find("mpegurl") != std::string::npos) return TStreamFormat::Hls;
    if (type == "application/dash+xml" || type == "video/vnd.mpeg.dash.mpd")
        return TStreamFormat::Dash;
    return TStreamFormat::None;
}

TStreamFormat StreamFormatForExtension(std::string_view extension) {
    if (SameText(extension, "m3u8")) return TStreamFormat::Hls;
    if (SameText(extension, "mpd")) return TStreamFormat::Dash;
    return TStreamFormat::None;
}

std::string MediaExtensionForBytes(std::string_view head) {
    const auto at = [&](std::size_t offset, std::string_view magic) {
        return head.size() >= offset + magic.size() && head.substr(offset, magic.size()) == magic;
    };
    if (at(4, "ftyp")) {
        if (at(8, "qt  ")) return "mov";
        if (at(8, "3gp")) return "3gp";
        if (at(8, "M4A ")) return "m4a";
        return "mp4";
    }
    if (at(0, "FLV\x01")) return "flv";
    if (at(0, "\x1A\x45\xDF\xA3")) return head.find("webm") != std::string_view::npos ? "webm" : "mkv";
    if (at(0, "OggS")) return "ogg";
    if (at(0, "RIFF") && at(8, "AVI ")) return "avi";
    if (at(0, "RIFF") && at(8, "WAVE")) return "wav";
    if (at(0, "\x30\x26\xB2\x75\x8E\x66\xCF\x11")) return "wmv";
    if (at(0, std::string_view("\x00\x00\x01\xBA", 4)) || at(0, std::string_view("\x00\x00\x01\xB3", 4)))
        return "mpeg";
    if (at(0, "G") && head.size() > 188 && head[188] == 'G') return "ts";
    if (at(0, "ID3") || (head.size() >= 2 && static_cast<unsigned char>(head[0]) == 0xFF &&
                         (static_cast<unsigned char>(head[1]) & 0xE6) == 0xE2))
        return "mp3";
    if (at(0, "fLaC")) return "flac";
    return {};
}

std::string DeliveredExtension(std::string_view recordExtension, std::string_view contentType,
                               std::string_view head) {
    if (IsMediaExtension(recordExtension)) return std::string(recordExtension);
    if (std::string byType = MediaExtensionForType(contentType); !byType.empty()) return byType;
    if (std::string byBytes = MediaExtensionForBytes(head); !byBytes.empty()) return byBytes;
    return std::string(kUnknownMediaExtension);
}

std::string FileHead(const std::string& path) {
    std::string head(kFileHeadBytes, '\0');
    ScopedFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    const ssize_t n = fd.Get() < 0 ? -1 : ::read(fd.Get(), head.data(), head.size());
    head.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
    return head;
}

}  // namespace tarnwick
