#include "core/StrUtils.h"

#include <gtest/gtest.h>

#include <limits>

#include "core/Exception.h"

using namespace tarnwick;

TEST(CaseFolding, TouchesAsciiLettersOnly) {
    EXPECT_EQ(UpperCase("abc-XYZ 09 \xe9\xff"), "ABC-XYZ 09 \xe9\xff");
    EXPECT_EQ(LowerCase("ABC-xyz \xc9"), "abc-xyz \xc9");
    EXPECT_TRUE(SameText("Content-Length", "CONTENT-LENGTH"));
    EXPECT_FALSE(SameText("abc", "abcd"));
    EXPECT_FALSE(SameText("\xe9", "\xc9"));  // no folding outside ASCII
    EXPECT_LT(CompareText("abc", "ABD"), 0);
    EXPECT_EQ(CompareText("aBc", "AbC"), 0);
    EXPECT_GT(CompareText("abcd", "ABC"), 0);
    EXPECT_TRUE(StartsText("http", "HTTP://x"));
    EXPECT_EQ(PosText("CHUNKED", "gzip, Chunked"), 7u);
    EXPECT_EQ(PosText("x", ""), 0u);
}

TEST(Trim, RemovesEveryByteUpToBlank) {
    EXPECT_EQ(Trim(" \t\r\n\x01 value \x1f"), "value");
    EXPECT_EQ(TrimLeft("  a b  "), "a b  ");
    EXPECT_EQ(TrimRight("  a b \r"), "  a b");
    EXPECT_EQ(Trim("   "), "");
    EXPECT_EQ(Trim("\x80x\x80"), "\x80x\x80");  // high bytes are not blanks
}

struct IntCase {
    const char* text;
    bool valid;
    std::int64_t value;
};

void PrintTo(const IntCase& c, std::ostream* os) { *os << '"' << c.text << '"'; }

class StrToIntTable : public ::testing::TestWithParam<IntCase> {};

TEST_P(StrToIntTable, ParsesDecimalOrRaises) {
    const IntCase c = GetParam();
    if (c.valid) {
        EXPECT_EQ(StrToInt(c.text), c.value) << c.text;
    } else {
        try {
            StrToInt(c.text);
            ADD_FAILURE() << "no exception for '" << c.text << "'";
        } catch (const EConvertError& e) {
            EXPECT_EQ(e.Message(), "'" + std::string(c.text) + "' is not a valid integer value");
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, StrToIntTable,
    ::testing::Values(IntCase{"0", true, 0}, IntCase{"80", true, 80}, IntCase{"-1", true, -1},
                      IntCase{"+7", true, 7}, IntCase{"  42", true, 42},
                      IntCase{"2147483647", true, 2147483647},
                      IntCase{"-2147483648", true, -2147483648LL},
                      IntCase{"2147483648", false, 0}, IntCase{"-2147483649", false, 0},
                      IntCase{"", false, 0}, IntCase{"-", false, 0}, IntCase{"12 ", false, 0},
                      IntCase{"1a", false, 0}, IntCase{"0x10", false, 0},
                      IntCase{"99999999999999999999", false, 0}));

TEST(StrToInt64, CoversTheWholeRange) {
    EXPECT_EQ(StrToInt64("9223372036854775807"), std::numeric_limits<std::int64_t>::max());
    EXPECT_EQ(StrToInt64("-9223372036854775808"), std::numeric_limits<std::int64_t>::min());
    EXPECT_FALSE(TryStrToInt64("9223372036854775808"));
    EXPECT_THROW(StrToInt64("x"), EConvertError);
    EXPECT_EQ(StrToIntDef("nope", -1), -1);
}

TEST(Format, FillsPrintfStyleFormats) {
    EXPECT_EQ(Format("Socket Error # %d\r\n%s", 10061, "Connection refused."),
              "Socket Error # 10061\r\nConnection refused.");
    EXPECT_EQ(Format("%s", ""), "");
    EXPECT_EQ(Format("Invalid Port Range (%d - %d)", 9, 3), "Invalid Port Range (9 - 3)");
}
