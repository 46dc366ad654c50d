#include "job/streams/StreamFormat.h"

namespace tarnwick {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// head after the XML declaration, processing instructions, comments and blanks before the root.
std::string_view AfterProlog(std::string_view head) {
    while (true) {
        std::size_t at = 0;
        while (at < head.size() && IsBlank(head[at])) ++at;
        head.remove_prefix(at);
        std::string_view close;
        if (head.starts_with("<?"))
            close = "?>";
        else if (head.starts_with("<!--"))
            close = "-->";
        else
            return head;
        const std::size_t end = head.find(close, 2);
        if (end == std::string_view::npos) return {};
        head.remove_prefix(end + close.size());
    }
}

bool IsMpdRoot(std::string_view head) {
    if (!head.starts_with('<')) return false;
    std::size_t end = 1;
    while (end < head.size() && !IsBlank(head[end]) && head[end] != '>' && head[end] != '/') ++end;
    if (end == head.size()) return false;
    std::string_view name = head.substr(1, end - 1);
    const std::size_t colon = name.find(':');
    if (colon != std::string_view::npos) name.remove_prefix(colon + 1);
    return name == "MPD";
}

}  // namespace

TStreamFormat StreamFormatOf(std::string_view head) noexcept {
    head = head.substr(0, 64 * 1024);
    if (head.starts_with("\xEF\xBB\xBF")) head.remove_prefix(3);
    std::string_view first = head.substr(0, head.find('\n'));
    // As the playlist reader takes it: any control byte or blank at the line's end is dropped.
    while (!first.empty() && static_cast<unsigned char>(first.back()) <= 0x20)
        first.remove_suffix(1);
    if (first == "#EXTM3U") return TStreamFormat::Hls;
    return IsMpdRoot(AfterProlog(head)) ? TStreamFormat::Dash : TStreamFormat::None;
}

}  // namespace tarnwick
