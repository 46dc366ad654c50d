#include "http/IdCoderMIME.h"

#include <algorithm>
#include <sstream>

#include "core/Exception.h"
#include "http/IdHTTPMessages.h"

namespace tarnwick {

namespace {

constexpr std::string_view kMimeAlphabet =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr char kMimeFill = '=';

}  // namespace

TIdEncoder3to4::TIdEncoder3to4(TComponent* owner, std::string_view codingTable, char fillChar)
    : TIdEncoder(owner), fillChar_(fillChar) {
    std::copy_n(codingTable.begin(), std::min(codingTable.size(), codingTable_.size()),
                codingTable_.begin());
}

std::string TIdEncoder3to4::Encode(std::string_view source, std::int64_t byteCount) const {
    if (byteCount >= 0) {
        if (byteCount % 3 != 0) throw EIdException(RSUnevenSizeInEncode);
        if (std::uint64_t(byteCount) < source.size())
            source = source.substr(0, std::size_t(byteCount));
    }
    std::string out;
    out.reserve((source.size() + 2) / 3 * 4);
    const auto byte = [&](std::size_t i) { return std::uint32_t(std::uint8_t(source[i])); };
    std::size_t i = 0;
    for (; i + 3 <= source.size(); i += 3) {
        const std::uint32_t group = byte(i) << 16 | byte(i + 1) << 8 | byte(i + 2);
        out += codingTable_[group >> 18 & 63];
        out += codingTable_[group >> 12 & 63];
        out += codingTable_[group >> 6 & 63];
        out += codingTable_[group & 63];
    }
    const std::size_t left = source.size() - i;
    if (left > 0) {
        const std::uint32_t group = byte(i) << 16 | (left == 2 ? byte(i + 1) << 8 : 0);
        out += codingTable_[group >> 18 & 63];
        out += codingTable_[group >> 12 & 63];
        out += left == 2 ? codingTable_[group >> 6 & 63] : fillChar_;
        out += fillChar_;
    }
    return out;
}

TIdEncoderMIME::TIdEncoderMIME(TComponent* owner)
    : TIdEncoder3to4(owner, kMimeAlphabet, kMimeFill) {}

TIdDecoder4to3::TIdDecoder4to3(TComponent* owner, std::string_view codingTable, char fillChar)
    : TIdDecoder(owner), fillChar_(fillChar) {
    for (std::size_t i = 0; i < codingTable.size() && i < 64; ++i)
        decodeTable_[std::uint8_t(codingTable[i])] = std::uint8_t(i);
}

void TIdDecoder4to3::DecodeToStream(std::string_view source, std::ostream& out) const {
    if (source.size() % 4 != 0) throw EIdException(RSUnevenSizeInDecodeToStream);
    std::string bytes;
    bytes.reserve(source.size() / 4 * 3);
    for (std::size_t i = 0; i < source.size(); i += 4) {
        const std::string_view group = source.substr(i, 4);
        std::size_t fill = 0;
        while (fill < 4 && group[3 - fill] == fillChar_) ++fill;
        std::uint32_t bits = 0;
        for (const char c : group)
            bits = bits << 6 | (c == fillChar_ ? 0 : decodeTable_[std::uint8_t(c)]);
        const char decoded[3] = {char(bits >> 16), char(bits >> 8), char(bits)};
        bytes.append(decoded, fill < 3 ? 3 - fill : 0);
    }
    out.write(bytes.data(), std::streamsize(bytes.size()));
}

std::string TIdDecoder4to3::DecodeString(std::string_view source) const {
    std::ostringstream out;
    DecodeToStream(source, out);
    return std::move(out).str();
}

TIdDecoderMIME::TIdDecoderMIME(TComponent* owner)
    : TIdDecoder4to3(owner, kMimeAlphabet, kMimeFill) {}

}  // namespace tarnwick
