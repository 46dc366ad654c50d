#include "http/IdCoderMIME.h"

#include <gtest/gtest.h>

#include <ostream>
#include <sstream>

#include "core/Exception.h"

using namespace tarnwick;

namespace {

struct Vector {
    const char* plain;
    const char* encoded;
};

void PrintTo(const Vector& v, std::ostream* os) { *os << "'" << v.plain << "'"; }

class Base64Vectors : public ::testing::TestWithParam<Vector> {};

TEST_P(Base64Vectors, EncodeAndDecode) {
    EXPECT_EQ(TIdEncoderMIME().EncodeString(GetParam().plain), GetParam().encoded);
    EXPECT_EQ(TIdDecoderMIME().DecodeString(GetParam().encoded), GetParam().plain);
}

// RFC 4648, section 10, and the Basic credentials example.
INSTANTIATE_TEST_SUITE_P(
    Rfc4648, Base64Vectors,
    ::testing::Values(Vector{"", ""}, Vector{"f", "Zg=="}, Vector{"fo", "Zm8="},
                      Vector{"foo", "Zm9v"}, Vector{"foob", "Zm9vYg=="},
                      Vector{"fooba", "Zm9vYmE="}, Vector{"foobar", "Zm9vYmFy"},
                      Vector{"Aladdin:open sesame", "QWxhZGRpbjpvcGVuIHNlc2FtZQ=="}));

TEST(Base64, UsesTheWholeAlphabetAndEveryByte) {
    EXPECT_EQ(TIdEncoderMIME().EncodeString("\xfb\xff"), "+/8=");
    EXPECT_EQ(TIdEncoderMIME().EncodeString(std::string("\0\0\0", 3)), "AAAA");
    std::string all;
    for (int b = 0; b < 256; ++b) all += char(b);
    const std::string encoded = TIdEncoderMIME().EncodeString(all);
    EXPECT_EQ(encoded.size(), 344u);
    EXPECT_EQ(encoded.find_first_not_of(
                  "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/="),
              std::string::npos);
    EXPECT_EQ(encoded.substr(encoded.size() - 2), "==");  // 256 = 3 * 85 + 1
    EXPECT_EQ(TIdDecoderMIME().DecodeString(encoded), all);
}

TEST(Base64, AGivenByteCountMustBeWholeGroups) {
    const TIdEncoderMIME encoder;
    EXPECT_EQ(encoder.Encode("foobar", 3), "Zm9v");
    EXPECT_EQ(encoder.Encode("foo", 6), "Zm9v");
    EXPECT_EQ(encoder.Encode("foobar", 0), "");
    try {
        (void)encoder.Encode("foobar", 4);
        ADD_FAILURE() << "no exception";
    } catch (const EIdException& e) {
        EXPECT_EQ(e.Message(), "Uneven size in Encode.");
    }
}

TEST(Base64, DecodingNeedsGroupsOfFour) {
    std::ostringstream out;
    try {
        TIdDecoderMIME().DecodeToStream("Zm9vYg=", out);
        ADD_FAILURE() << "no exception";
    } catch (const EIdException& e) {
        EXPECT_EQ(e.Message(), "Uneven size in DecodeToStream.");
    }
    EXPECT_EQ(out.str(), "");
    EXPECT_EQ(TIdDecoderMIME().DecodeString("Zm9vYg==Zm8="), "foobfo");
}

}  // namespace
