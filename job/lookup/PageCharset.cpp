#include "job/lookup/PageCharset.h"

#include <iconv.h>

#include <array>
#include <cctype>
#include <cerrno>

#include "core/StrUtils.h"

namespace tarnwick {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

// Windows-1252's bytes 0x80 to 0x9F; the five it leaves free stay the C1 controls, as browsers
// read them.
bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f'; }


std::string Utf8Sanitized(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        char32_t cp = 0;
        const std::size_t length = Utf8SequenceAt(text, i, cp);
        if (length == 0) {
            AppendUtf8(out, kReplacement);
            ++i;
        } else {
            out.append(text, i, length);
            i += length;
        }
    }
    return out;
}

std::string FromWindows1252(std::string_view text) {
    std::string out;
    out.reserve(text.size() + text.size() / 8);
    for (const char c : text) {
        const auto b = static_cast<unsigned char>(c);
        AppendUtf8(out, Windows1252CodePoint(b));
    }
    return out;
}

std::string FromUtf16(std::string_view text, bool bigEndian) {
    std::string out;
    out.reserve(text.size());
    const auto unit = [&](std::size_t i) -> char32_t {
        const auto a = static_cast<unsigned char>(text[i]);
        const auto b = static_cast<unsigned char>(text[i + 1]);
        return bigEndian ? char32_t(a << 8 | b) : char32_t(b << 8 | a);
    };
    std::size_t i = 0;
    for (; i + 1 < text.size(); i += 2) {
        const char32_t u = unit(i);
        if (u >= 0xD800 && u <= 0xDBFF && i + 3 < text.size()) {
            const char32_t next = unit(i + 2);
            if (next >= 0xDC00 && next <= 0xDFFF) {
                AppendUtf8(out, 0x10000 + ((u - 0xD800) << 10) + (next - 0xDC00));
                i += 2;
                continue;
            }
        }
        AppendUtf8(out, u);  // a lone surrogate becomes U+FFFD there
    }
    if (i < text.size()) AppendUtf8(out, kReplacement);
    return out;
}

// An iconv conversion descriptor, closed when it goes.
class IconvHandle {
public:
    explicit IconvHandle(const std::string& from) : cd_(::iconv_open("UTF-8", from.c_str())) {}
    ~IconvHandle() {
        if (Valid()) ::iconv_close(cd_);
    }
    IconvHandle(const IconvHandle&) = delete;
    IconvHandle& operator=(const IconvHandle&) = delete;

    bool Valid() const noexcept { return cd_ != reinterpret_cast<iconv_t>(-1); }
    iconv_t Get() const noexcept { return cd_; }

private:
    iconv_t cd_;
};

std::string FromIconv(std::string_view text, const std::string& encoding) {
    const IconvHandle handle(encoding);
    if (!handle.Valid()) return FromWindows1252(text);
    std::string out;
    std::array<char, 16 * 1024> block;
    char* in = const_cast<char*>(text.data());
    std::size_t inLeft = text.size();
    while (inLeft > 0) {
        char* to = block.data();
        std::size_t toLeft = block.size();
        const std::size_t done = ::iconv(handle.Get(), &in, &inLeft, &to, &toLeft);
        const int error = errno;
        out.append(block.data(), block.size() - toLeft);
        if (done != static_cast<std::size_t>(-1)) break;
        if (error == E2BIG) continue;
        // A byte the encoding cannot read, or a sequence cut off by the end of the page.
        AppendUtf8(out, kReplacement);
        if (error != EILSEQ) break;
        ++in;
        --inLeft;
        ::iconv(handle.Get(), nullptr, nullptr, nullptr, nullptr);
    }
    // iconv may pass bytes through that are not UTF-8 (a private use of a code page); the page
    // reader relies on valid UTF-8.
    return IsValidUtf8(out) ? out : Utf8Sanitized(out);
}

// The encoding a declared name stands for; empty when it is not known here or to iconv.
std::string KnownEncoding(std::string_view name, bool fromMeta) {
    const std::string label = LowerCase(Trim(name));
    if (label.empty()) return {};
    for (const std::string_view utf8 : {"utf-8", "utf8", "unicode-1-1-utf-8"})
        if (label == utf8) return "utf-8";
    for (const std::string_view western :
         {"windows-1252", "cp1252", "x-cp1252", "iso-8859-1", "iso8859-1", "iso_8859-1",
          "iso88591", "iso_8859-1:1987", "latin1", "l1", "cp819", "ibm819", "iso-ir-100",
          "csisolatin1", "us-ascii", "ascii", "ansi_x3.4-1968"})
        if (label == western) return "windows-1252";
    if (label.starts_with("utf-16") || label == "unicode" || label == "ucs-2") {
        if (fromMeta) return "utf-8";
        return label == "utf-16be" ? "utf-16be" : "utf-16le";
    }
    if (label == "x-user-defined" || label == "replacement") return {};
    // gb2312 pages are written in its superset.
    const std::string encoding = label == "gb2312" ? "gbk" : label;
    return IconvHandle(encoding).Valid() ? encoding : std::string();
}

// The "charset=" value inside a <meta> content, lower-case; empty when none.
std::string CharsetInMetaContent(std::string_view content) {
    for (std::size_t at = 0;;) {
        const std::size_t found = PosText("charset", content.substr(at));
        if (found == 0) return {};
        std::size_t i = at + found - 1 + 7;
        while (i < content.size() && IsSpace(content[i])) ++i;
        if (i >= content.size() || content[i] != '=') {
            at = i;
            continue;
        }
        ++i;
        while (i < content.size() && IsSpace(content[i])) ++i;
        if (i >= content.size()) return {};
        if (content[i] == '"' || content[i] == '\'') {
            const std::size_t end = content.find(content[i], i + 1);
            if (end == std::string_view::npos) return {};
            return LowerCase(content.substr(i + 1, end - i - 1));
        }
        std::size_t end = i;
        while (end < content.size() && !IsSpace(content[end]) && content[end] != ';') ++end;
        return LowerCase(content.substr(i, end - i));
    }
}

// One attribute of a tag at page[i] (after the tag name); false at the tag's end.
bool NextAttribute(std::string_view page, std::size_t& i, std::string& name, std::string& value) {
    while (i < page.size() && (IsSpace(page[i]) || page[i] == '/')) ++i;
    if (i >= page.size() || page[i] == '>') return false;
    name.clear();
    value.clear();
    while (i < page.size() && page[i] != '=' && page[i] != '>' && page[i] != '/' &&
           !IsSpace(page[i]))
        name += LowCase(page[i++]);
    while (i < page.size() && IsSpace(page[i])) ++i;
    if (i >= page.size() || page[i] != '=') return true;
    ++i;
    while (i < page.size() && IsSpace(page[i])) ++i;
    if (i < page.size() && (page[i] == '"' || page[i] == '\'')) {
        const char quote = page[i++];
        while (i < page.size() && page[i] != quote) value += LowCase(page[i++]);
        if (i < page.size()) ++i;
    } else {
        while (i < page.size() && page[i] != '>' && !IsSpace(page[i])) value += LowCase(page[i++]);
    }
    return true;
}

}  // namespace

std::string CharsetOfContentType(std::string_view contentType) {
    std::size_t at = contentType.find(';');
    while (at != std::string_view::npos) {
        const std::size_t equals = contentType.find_first_of("=;", at + 1);
        if (equals == std::string_view::npos) return {};
        if (contentType[equals] == ';') {
            at = equals;
            continue;
        }
        const std::string name = Trim(contentType.substr(at + 1, equals - at - 1));
        std::size_t v = equals + 1;
        while (v < contentType.size() && IsSpace(contentType[v])) ++v;
        std::string value;
        if (v < contentType.size() && contentType[v] == '"') {
            // A quoted value may hold ";".
            const std::size_t close = contentType.find('"', v + 1);
            value = std::string(contentType.substr(v + 1, close == std::string_view::npos
                                                               ? std::string_view::npos
                                                               : close - v - 1));
            at = close == std::string_view::npos ? close : contentType.find(';', close);
        } else {
            at = contentType.find(';', v);
            value = Trim(contentType.substr(v, at == std::string_view::npos ? at : at - v));
        }
        if (SameText(name, "charset")) return LowerCase(value);
    }
    return {};
}

std::string PrescanMetaCharset(std::string_view page) {
    page = page.substr(0, kMetaScanBytes);
    std::string name;
    std::string value;
    for (std::size_t i = 0; i < page.size();) {
        const std::string_view rest = page.substr(i);
        if (rest.starts_with("<!--")) {
            const std::size_t end = page.find("-->", i + 4);
            if (end == std::string_view::npos) return {};
            i = end + 3;
        } else if (StartsText("<meta", rest) && rest.size() > 5 &&
                   (IsSpace(rest[5]) || rest[5] == '/')) {
            i += 5;
            std::string charset;
            std::string content;
            bool pragma = false;
            while (NextAttribute(page, i, name, value)) {
                if (name == "charset" && charset.empty())
                    charset = value;
                else if (name == "content" && content.empty())
                    content = value;
                else if (name == "http-equiv")
                    pragma = value == "content-type";
            }
            if (charset.empty() && pragma) charset = CharsetInMetaContent(content);
            if (!charset.empty()) return Trim(charset);
        } else if (rest.size() > 1 && rest[0] == '<' &&
                   (std::isalpha(static_cast<unsigned char>(rest[1])) ||
                    (rest[1] == '/' && rest.size() > 2 &&
                     std::isalpha(static_cast<unsigned char>(rest[2]))))) {
            // Another tag: its attributes are skipped whole, so a ">" or "<meta" inside a
            // quoted value does not count.
            while (i < page.size() && !IsSpace(page[i]) && page[i] != '>') ++i;
            while (NextAttribute(page, i, name, value)) {
            }
            ++i;
        } else if (rest.starts_with("<!") || rest.starts_with("</") || rest.starts_with("<?")) {
            const std::size_t end = page.find('>', i + 2);
            if (end == std::string_view::npos) return {};
            i = end + 1;
        } else {
            ++i;
        }
    }
    return {};
}

std::string PageEncoding(std::string_view page, std::string_view contentType) {
    if (page.starts_with("\xEF\xBB\xBF")) return "utf-8";
    if (page.starts_with("\xFF\xFE")) return "utf-16le";
    if (page.starts_with("\xFE\xFF")) return "utf-16be";
    if (std::string declared = KnownEncoding(CharsetOfContentType(contentType), false);
        !declared.empty())
        return declared;
    if (std::string declared = KnownEncoding(PrescanMetaCharset(page), true); !declared.empty())
        return declared;
    return IsValidUtf8(page) ? "utf-8" : "windows-1252";
}

std::string DecodePageText(std::string_view page, std::string_view contentType) {
    const std::string encoding = PageEncoding(page, contentType);
    if (encoding == "utf-8") {
        if (page.starts_with("\xEF\xBB\xBF")) page.remove_prefix(3);
        return Utf8Sanitized(page);
    }
    if (encoding == "utf-16le" || encoding == "utf-16be") {
        if (page.starts_with("\xFF\xFE") || page.starts_with("\xFE\xFF")) page.remove_prefix(2);
        return FromUtf16(page, encoding == "utf-16be");
    }
    if (encoding == "windows-1252") return FromWindows1252(page);
    return FromIconv(page, encoding);
}

}  // namespace tarnwick
