#include "app/DisplayText.h"

#include "core/StrUtils.h"

namespace tarnwick {

QString DisplayText(std::string_view bytes) {
    if (IsValidUtf8(bytes)) return QString::fromUtf8(bytes.data(), static_cast<qsizetype>(bytes.size()));
    QString text;
    text.reserve(static_cast<qsizetype>(bytes.size()));
    for (const char byte : bytes) {
        const auto c = static_cast<unsigned char>(byte);
        text.append(QChar(static_cast<char16_t>(Windows1252CodePoint(c))));
    }
    return text;
}

}  // namespace tarnwick
