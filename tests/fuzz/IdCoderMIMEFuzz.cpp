// Base64: decoding an encoding gives the input back, encodings have the expected length and
// alphabet, and decoding arbitrary text either works or fails with the fixed message.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "FuzzCheck.h"
#include "core/Exception.h"
#include "http/IdCoderMIME.h"

using namespace tarnwick;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const TIdEncoderMIME encoder;
    const TIdDecoderMIME decoder;

    const std::string encoded = encoder.EncodeString(input);
    FUZZ_CHECK(encoded.size() == (size + 2) / 3 * 4);
    FUZZ_CHECK(encoded.find_first_not_of(
                   "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/=") ==
               std::string::npos);
    FUZZ_CHECK(decoder.DecodeString(encoded) == input);

    const std::size_t whole = size - size % 3;
    FUZZ_CHECK(encoder.Encode(input, std::int64_t(whole)) == encoded.substr(0, whole / 3 * 4));

    try {
        const std::string decoded = decoder.DecodeString(input);
        FUZZ_CHECK(size % 4 == 0 && decoded.size() <= size / 4 * 3);
    } catch (const EIdException& e) {
        FUZZ_CHECK(size % 4 != 0 && e.Message() == "Uneven size in DecodeToStream.");
    }
    return 0;
}
