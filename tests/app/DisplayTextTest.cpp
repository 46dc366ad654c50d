#include "app/DisplayText.h"
#include "core/StrUtils.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>

using namespace tarnwick;

namespace {

struct DecodeCase {
    const char* what;
    std::string bytes;
    std::u16string shown;
};

void PrintTo(const DecodeCase& c, std::ostream* out) { *out << c.what; }

class DisplayTextDecodes : public ::testing::TestWithParam<DecodeCase> {};

}  // namespace

TEST_P(DisplayTextDecodes, AsUtf8WhenValidElseWindows1252) {
    const DecodeCase& c = GetParam();
    EXPECT_EQ(DisplayText(c.bytes), QString::fromStdU16String(c.shown));
}

INSTANTIATE_TEST_SUITE_P(
    Table, DisplayTextDecodes,
    ::testing::Values(
        DecodeCase{"Empty", "", u""},
        DecodeCase{"Ascii", "My Web Videos", u"My Web Videos"},
        DecodeCase{"Utf8TwoBytes", "caf\xC3\xA9", u"café"},
        DecodeCase{"Utf8ThreeBytes", "a\xE2\x80\x94z", u"a—z"},
        DecodeCase{"Utf8FourBytes", "\xF0\x9F\x8E\xAC", u"\U0001F3AC"},
        DecodeCase{"Utf8LargestCodePoint", "\xF4\x8F\xBF\xBF", u"\U0010FFFF"},
        DecodeCase{"Latin1Byte", "caf\xE9", u"café"},
        DecodeCase{"EuroAndEmDash", "\x80 \x97", u"€ —"},
        DecodeCase{"SmartQuotes", "\x93hi\x94", u"“hi”"},
        DecodeCase{"UnassignedBytesKeepTheirCodePoints", "\x81\x8D\x8F\x90\x9D", u"\u0081\u008D\u008F\u0090\u009D"},
        DecodeCase{"OverlongSlashIsNotUtf8", "\xC0\xAF", u"À¯"},
        DecodeCase{"OverlongThreeByteIsNotUtf8", "\xE0\x80\xAF", u"à€¯"},
        DecodeCase{"SurrogateIsNotUtf8", "\xED\xA0\x80", u"í\u00A0€"},
        DecodeCase{"AboveLargestCodePointIsNotUtf8", "\xF4\x90\x80\x80", u"ô\u0090€€"},
        DecodeCase{"CutOffSequenceIsNotUtf8", "ab\xE2\x80", u"abâ€"},
        DecodeCase{"LoneContinuationIsNotUtf8", "\xA9 2026", u"© 2026"},
        DecodeCase{"NulByteIsKept", std::string("a\0b", 3), std::u16string(u"a\0b", 3)}),
    [](const auto& info) { return std::string(info.param.what); });

TEST(IsValidUtf8, AcceptsEveryBoundaryOfTheEncoding) {
    for (const char* valid : {"\x7F", "\xC2\x80", "\xDF\xBF", "\xE0\xA0\x80", "\xED\x9F\xBF", "\xEE\x80\x80",
                              "\xEF\xBF\xBF", "\xF0\x90\x80\x80", "\xF4\x8F\xBF\xBF"})
        EXPECT_TRUE(IsValidUtf8(valid)) << testing::PrintToString(std::string(valid));
    for (const char* invalid : {"\x80", "\xC1\xBF", "\xC2", "\xC2\x7F", "\xE0\x9F\xBF", "\xED\xA0\x80",
                                "\xF0\x8F\xBF\xBF", "\xF4\x90\x80\x80", "\xF5\x80\x80\x80", "\xFF"})
        EXPECT_FALSE(IsValidUtf8(invalid)) << testing::PrintToString(std::string(invalid));
}
