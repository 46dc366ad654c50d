#include "http/IdHTTPResponse.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/Exception.h"

using namespace tarnwick;

namespace {

struct CodeCase {
    const char* line;
    std::int32_t code;
};

void PrintTo(const CodeCase& c, std::ostream* out) { *out << '"' << c.line << '"'; }

class StatusCodeTest : public ::testing::TestWithParam<CodeCase> {};

}  // namespace

TEST_P(StatusCodeTest, IsTheWordAfterTheFirstSpace) {
    EXPECT_EQ(TIdHTTPResponse::StatusCodeOf(GetParam().line), GetParam().code);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, StatusCodeTest,
    ::testing::Values(CodeCase{"HTTP/1.1 302 Found", 302}, CodeCase{"HTTP/1.0 200 OK", 200},
                      CodeCase{"HTTP/1.1 404", 404}, CodeCase{"HTTP/1.1   204   No Content", 204},
                      CodeCase{"HTTP/1.1", -1}, CodeCase{"", -1}, CodeCase{"garbage here", -1},
                      CodeCase{"HTTP/1.1 2OO OK", -1}, CodeCase{"ICY 200 OK", 200}),
    [](const auto& info) { return "Case" + std::to_string(info.index); });

namespace {

struct ChunkCase {
    const char* name;
    const char* line;
    std::int64_t size;  // -1: invalid
};

void PrintTo(const ChunkCase& c, std::ostream* out) { *out << c.name; }

class ChunkSizeTest : public ::testing::TestWithParam<ChunkCase> {};

const std::string kLongJunk(100, 'q');

}  // namespace

TEST_P(ChunkSizeTest, Parses) {
    const ChunkCase c = GetParam();
    if (c.size >= 0) {
        EXPECT_EQ(ParseChunkSize(c.line), c.size);
        return;
    }
    try {
        ParseChunkSize(c.line);
        ADD_FAILURE() << "no exception for '" << c.line << "'";
    } catch (const EIdException& e) {
        EXPECT_EQ(e.Message(), "Invalid chunk size \"" + std::string(c.line).substr(0, 64) +
                                   "\": not a hexadecimal number below 2^63.");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Lines, ChunkSizeTest,
    ::testing::Values(
        ChunkCase{"Decimal", "5", 5}, ChunkCase{"Hex", "1a", 26}, ChunkCase{"UpperHex", "FF", 255},
        ChunkCase{"Zero", "0", 0}, ChunkCase{"LeadingZeros", "0000a", 10},
        ChunkCase{"TrailingBlank", "a ", 10}, ChunkCase{"LeadingBlank", " a", 10},
        ChunkCase{"Extension", "5;name=value", 5}, ChunkCase{"ExtensionAfterBlank", "5 ;x", 5},
        ChunkCase{"ZeroWithExtension", "0;last", 0}, ChunkCase{"Tab", "c\tx", 12},
        ChunkCase{"Largest", "7fffffffffffffff", INT64_MAX},
        ChunkCase{"OneAboveLargest", "8000000000000000", -1},
        ChunkCase{"SixtyFourBits", "ffffffffffffffff", -1},
        ChunkCase{"SeventeenDigits", "10000000000000000", -1}, ChunkCase{"Empty", "", -1},
        ChunkCase{"OnlyExtension", ";x", -1}, ChunkCase{"NotHex", "zz", -1},
        ChunkCase{"HexThenJunk", "5x", -1}, ChunkCase{"Sign", "-5", -1},
        ChunkCase{"Prefix0x", "0x5", -1},
        ChunkCase{"LongJunkIsCutInTheMessage", kLongJunk.c_str(), -1}),
    [](const auto& info) { return std::string(info.param.name); });

namespace {

struct FramingCase {
    const char* name;
    TIdHTTPMethod method;
    std::int32_t code;
    std::vector<std::string> headers;
    TIdBodyFraming framing;
};

void PrintTo(const FramingCase& c, std::ostream* out) { *out << c.name; }

class BodyFramingTest : public ::testing::TestWithParam<FramingCase> {};

}  // namespace

TEST_P(BodyFramingTest, Decides) {
    const FramingCase c = GetParam();
    TIdResponseHeaderInfo fields;
    for (const auto& line : c.headers) fields.HeaderLines().Add(line);
    fields.ReadFromLines();
    EXPECT_EQ(BodyFraming(c.method, c.code, fields), c.framing);
}

INSTANTIATE_TEST_SUITE_P(
    Answers, BodyFramingTest,
    ::testing::Values(
        FramingCase{"Length", hmGet, 200, {"Content-Length: 5"}, bfLength},
        FramingCase{"LengthZero", hmGet, 200, {"Content-Length: 0"}, bfNone},
        FramingCase{"NoLength", hmGet, 200, {}, bfUntilClose},
        FramingCase{"Chunked", hmGet, 200, {"Transfer-Encoding: chunked"}, bfChunked},
        FramingCase{"ChunkedAmongCodings", hmGet, 200, {"Transfer-Encoding: gzip, chunked"},
                    bfChunked},
        FramingCase{"CapitalCIsNotChunked", hmGet, 200, {"Transfer-Encoding: Chunked"},
                    bfUntilClose},
        FramingCase{"ChunkedBeforeLength", hmGet, 200,
                    {"Content-Length: 7", "Transfer-Encoding: chunked"}, bfChunked},
        FramingCase{"ChunkedWithLengthZero", hmGet, 200,
                    {"Transfer-Encoding: chunked", "Content-Length: 0"}, bfChunked},
        FramingCase{"Head", hmHead, 200, {"Content-Length: 5"}, bfNone},
        FramingCase{"NoContent", hmGet, 204, {}, bfNone},
        FramingCase{"NotModified", hmGet, 304, {"Content-Length: 5"}, bfNone},
        FramingCase{"Informational", hmGet, 101, {}, bfNone},
        FramingCase{"ErrorWithLength", hmGet, 404, {"Content-Length: 9"}, bfLength},
        FramingCase{"UnreadableStatus", hmGet, -1, {}, bfUntilClose}),
    [](const auto& info) { return std::string(info.param.name); });
