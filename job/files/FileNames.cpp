#include "job/files/FileNames.h"

#include "core/StrUtils.h"

namespace tarnwick {

namespace {

constexpr std::size_t kMaxExtensionLength = 16;
// With "." and an extension of 16 this stays inside the 255 bytes of one file name.
constexpr std::size_t kMaxFileNameLength = 200;

bool IsAsciiAlnum(unsigned char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// The UTF-8 length of a control of text direction at the start of text, 0 when there is none.
std::size_t DirectionControlAt(std::string_view text) {
    char32_t code = 0;
    const std::size_t length = Utf8SequenceAt(text, 0, code);
    return length != 0 && IsDirectionControl(code) ? length : 0;
}

}  // namespace

std::string SafeFileExtension(std::string_view extension) {
    std::string safe;
    for (const char c : extension) {
        if (safe.size() == kMaxExtensionLength) break;
        if (IsAsciiAlnum(static_cast<unsigned char>(c))) safe += c;
    }
    return safe;
}

std::string SafeFileName(std::string_view name) {
    std::string safe;
    safe.reserve(name.size());
    for (std::size_t i = 0; i < name.size();) {
        if (const std::size_t control = DirectionControlAt(name.substr(i))) {
            i += control;
            continue;
        }
        safe += name[i++];
    }
    for (char& c : safe) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '/' || byte < 0x20 || byte == 0x7F) c = '_';
    }
    // No hidden files, and never "." or "..".
    for (char& c : safe) {
        if (c != '.') break;
        c = '_';
    }
    if (safe.size() > kMaxFileNameLength) {
        std::size_t cut = kMaxFileNameLength;
        // Back up over UTF-8 continuation bytes so no character is cut in two.
        while (cut > 0 && (static_cast<unsigned char>(safe[cut]) & 0xC0) == 0x80) --cut;
        safe.resize(cut);
    }
    if (safe.empty()) safe = "video";
    return safe;
}

}  // namespace tarnwick
