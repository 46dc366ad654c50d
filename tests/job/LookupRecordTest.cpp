#include "job/lookup/LookupRecord.h"
#include "job/lookup/MediaStreams.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

using namespace tarnwick;

namespace {

std::vector<std::string> Entries(const TLookupRecord& record) {
    std::vector<std::string> entries;
    for (std::size_t i = 0; i < record.Count(); ++i) entries.push_back(record.Entry(i));
    return entries;
}

struct ParseCase {
    const char* name;
    std::string text;
    std::vector<std::string> entries;
};

void PrintTo(const ParseCase& c, std::ostream* os) { *os << c.name << " \"" << c.text << '"'; }

class ParseLookupRecordCases : public ::testing::TestWithParam<ParseCase> {};

}  // namespace

TEST_P(ParseLookupRecordCases, GivesOneEntryPerItemInOrder) {
    TLookupRecord record;
    ParseLookupRecord(GetParam().text, record);
    EXPECT_EQ(Entries(record), GetParam().entries);
}

INSTANTIATE_TEST_SUITE_P(
    LookupRecord, ParseLookupRecordCases,
    ::testing::Values(
        ParseCase{"Unavailable", "error=1", {"error=1"}},
        ParseCase{"EqualsInsideAValue", "author=A|title=B=C|fileext=flv",
                  {"author=A", "title=B=C", "fileext=flv"}},
        ParseCase{"TrailingBar", "a=1|", {"a=1", "="}},
        ParseCase{"EmptyText", "", {"="}},
        ParseCase{"OnlyBars", "||", {"=", "=", "="}},
        ParseCase{"EmptyValue", "title=|size=0", {"title=", "size=0"}},
        ParseCase{"ItemWithoutEquals", "junk|a=1", {"=junk", "a=1"}},
        ParseCase{"LeadingEquals", "=x|a=1", {"=x", "a=1"}},
        ParseCase{"BlanksKept", " author = A B |url=http://h/p?a=1&b=2#f",
                  {" author = A B ", "url=http://h/p?a=1&b=2#f"}},
        ParseCase{"DuplicatesKept", "Title=first|title=second", {"Title=first", "title=second"}}),
    [](const ::testing::TestParamInfo<ParseCase>& info) { return std::string(info.param.name); });

TEST(LookupRecord, ParseAppendsToWhatTheListHolds) {
    TLookupRecord record;
    record.Add("kept", "1");
    ParseLookupRecord("a=b", record);
    EXPECT_EQ(Entries(record), (std::vector<std::string>{"kept=1", "a=b"}));
}

TEST(LookupRecord, LookupIgnoresCaseAndTheFirstEntryWins) {
    TLookupRecord record;
    ParseLookupRecord("Title=first|title=second|URL=http://x/v.flv|error=0", record);
    EXPECT_EQ(record.Values("title"), "first");
    EXPECT_EQ(record.Values("TITLE"), "first");
    EXPECT_EQ(record.Values("url"), "http://x/v.flv");
    EXPECT_EQ(record.Values("error"), "0");
    EXPECT_EQ(record.Values("author"), "");
    EXPECT_EQ(record.Values("titl"), "");  // whole names only
}

TEST(LookupRecord, EntriesWithoutANameAreNeverFound) {
    TLookupRecord record;
    ParseLookupRecord("|nameless|=value", record);
    ASSERT_EQ(record.Count(), 3u);
    EXPECT_EQ(record.Values(""), "");
    EXPECT_EQ(record.Name(1), "");
    EXPECT_EQ(record.Value(1), "nameless");
    EXPECT_EQ(record.Values("nameless"), "");
}

// The record's media as the streams the fetch stage takes: its url, with the protocol in lower
// case and the headers made one line; none without a url.
TEST(LookupRecord, MediaStreamsOfARecord) {
    TLookupRecord record;
    ParseLookupRecord(
        "url=HTTPS://h/v.mp4|cookie= a=1;\x01" "b=2 |useragent=\x7f|referer=http://h/p", record);
    const std::vector<TMediaStream> streams = MediaStreams(record);
    ASSERT_EQ(streams.size(), 1u);
    EXPECT_EQ(streams[0].address, "HTTPS://h/v.mp4");
    EXPECT_EQ(streams[0].protocol, "https");
    EXPECT_EQ(streams[0].kind, TStreamKind::Both);
    EXPECT_EQ(streams[0].headers,
              (TRequestHeaders{{"Referer", "http://h/p"}, {"Cookie", "a=1; b=2"}}));
    EXPECT_EQ(AddressProtocol("m3u8://h/x"), "m3u8");
    EXPECT_EQ(AddressProtocol("/watch?next=http://h/"), "");
    EXPECT_TRUE(MediaStreams(TLookupRecord()).empty());

    // Picture and sound apart, each by fragments; one unusable fragment leaves its stream none
    // at all rather than a list with a hole.
    TLookupRecord apart;
    ParseLookupRecord("url=http://h/m.mpd|protocol=Fragments|codecs=avc1|fragment=http://h/i.mp4"
                      "|fragment=http://h/1.m4s 10-19|audio_url=http://h/a|audio_protocol="
                      "fragments|audio_fragment=http://h/a1|audio_fragment=http://h/a2 9-1",
                      apart);
    const std::vector<TMediaStream> both = MediaStreams(apart);
    ASSERT_EQ(both.size(), 2u);
    EXPECT_EQ(both[0].kind, TStreamKind::Video);
    EXPECT_EQ(both[0].protocol, "fragments");
    EXPECT_EQ(both[0].codecs, "avc1");
    ASSERT_EQ(both[0].fragments.size(), 2u);
    EXPECT_FALSE(both[0].fragments[0].range);
    ASSERT_TRUE(both[0].fragments[1].range);
    EXPECT_EQ(both[0].fragments[1].range->offset, 10u);
    EXPECT_EQ(both[0].fragments[1].range->length, 10u);
    EXPECT_EQ(both[1].kind, TStreamKind::Audio);
    EXPECT_TRUE(both[1].fragments.empty());
}
