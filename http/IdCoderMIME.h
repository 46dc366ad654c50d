#pragma once

// Base64 of RFC 2045: every three bytes become four characters of the alphabet
// "A-Z a-z 0-9 + /"; a last group of one byte gives two characters and "==", of two bytes three
// characters and "=". No line breaks are inserted.

#include <array>
#include <cstdint>
#include <ostream>
#include <string>
#include <string_view>

#include "core/Component.h"

namespace tarnwick {

class TIdEncoder : public TComponent {
public:
    using TComponent::TComponent;
};

// An encoder of three-byte groups into four characters of a 64-byte coding table.
class TIdEncoder3to4 : public TIdEncoder {
public:
    TIdEncoder3to4(TComponent* owner, std::string_view codingTable, char fillChar);

    // Encodes the first byteCount bytes of source (all of them when byteCount is negative; at most
    // what source holds). Throws EIdException "Uneven size in Encode." when a byteCount is given
    // that is not a multiple of 3.
    std::string Encode(std::string_view source, std::int64_t byteCount = -1) const;
    // Encodes all of source.
    std::string EncodeString(std::string_view source) const { return Encode(source); }

private:
    std::array<char, 64> codingTable_{};
    char fillChar_;
};

class TIdEncoderMIME : public TIdEncoder3to4 {
public:
    explicit TIdEncoderMIME(TComponent* owner = nullptr);
};

class TIdDecoder : public TComponent {
public:
    using TComponent::TComponent;
};

// The reverse of TIdEncoder3to4 for the same table and fill character.
class TIdDecoder4to3 : public TIdDecoder {
public:
    TIdDecoder4to3(TComponent* owner, std::string_view codingTable, char fillChar);

    // Writes the bytes of source, a text of four-character groups, to out. Fill characters at the
    // end of a group shorten its output; any other byte outside the table reads as zero bits.
    // Throws EIdException "Uneven size in DecodeToStream." when the length of source is not a
    // multiple of 4 (nothing is written then).
    void DecodeToStream(std::string_view source, std::ostream& out) const;
    std::string DecodeString(std::string_view source) const;

private:
    std::array<std::uint8_t, 256> decodeTable_{};
    char fillChar_;
};

class TIdDecoderMIME : public TIdDecoder4to3 {
public:
    explicit TIdDecoderMIME(TComponent* owner = nullptr);
};

}  // namespace tarnwick
