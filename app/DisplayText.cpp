#include "app/DisplayText.h"

namespace tarnwick {

namespace {

// Windows-1252 bytes 0x80 to 0x9F; the unassigned ones map to themselves.
constexpr char16_t Cp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

bool IsContinuation(unsigned char c) noexcept { return (c & 0xC0) == 0x80; }

}  // namespace

bool IsValidUtf8(std::string_view bytes) noexcept {
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    const auto* end = p + bytes.size();
    while (p < end) {
        const unsigned char c = *p;
        std::size_t extra;
        // Bounds of the first continuation byte rule out overlong forms, surrogates and
        // code points above U+10FFFF.
        unsigned char low = 0x80, high = 0xBF;
        if (c < 0x80) {
            ++p;
            continue;
        } else if (c >= 0xC2 && c <= 0xDF) {
            extra = 1;
        } else if (c >= 0xE0 && c <= 0xEF) {
            extra = 2;
            if (c == 0xE0) low = 0xA0;
            if (c == 0xED) high = 0x9F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            extra = 3;
            if (c == 0xF0) low = 0x90;
            if (c == 0xF4) high = 0x8F;
        } else {
            return false;
        }
        if (static_cast<std::size_t>(end - p) <= extra) return false;
        if (p[1] < low || p[1] > high) return false;
        for (std::size_t i = 2; i <= extra; ++i)
            if (!IsContinuation(p[i])) return false;
        p += extra + 1;
    }
    return true;
}

QString DisplayText(std::string_view bytes) {
    if (IsValidUtf8(bytes)) return QString::fromUtf8(bytes.data(), static_cast<qsizetype>(bytes.size()));
    QString text;
    text.reserve(static_cast<qsizetype>(bytes.size()));
    for (const char byte : bytes) {
        const auto c = static_cast<unsigned char>(byte);
        text.append(c >= 0x80 && c <= 0x9F ? QChar(Cp1252High[c - 0x80]) : QChar(c));
    }
    return text;
}

}  // namespace tarnwick
