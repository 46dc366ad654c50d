#include "http/IdHeaderList.h"

#include <gtest/gtest.h>

#include <ostream>
#include <vector>

using namespace tarnwick;

namespace {

using Lines = std::vector<std::string>;

TIdHeaderList ListOf(const Lines& lines, TIdHeaderListSettings settings = {}) {
    TIdHeaderList list(std::move(settings));
    for (const auto& line : lines) list.Add(line);
    return list;
}

// ---- LineName / LineValue -----------------------------------------------------------------------

struct LineCase {
    const char* line;
    const char* name;
    const char* value;
};

void PrintTo(const LineCase& c, std::ostream* os) { *os << "'" << c.line << "'"; }

class LineNameValueTable : public ::testing::TestWithParam<LineCase> {};

TEST_P(LineNameValueTable, SplitsAtFirstColon) {
    const LineCase& c = GetParam();
    const TIdHeaderList list = ListOf({c.line});
    EXPECT_EQ(list.LineName(0), c.name);
    EXPECT_EQ(list.LineValue(0), c.value);
}

INSTANTIATE_TEST_SUITE_P(Lines, LineNameValueTable,
                         ::testing::Values(LineCase{"Content-Length: 10", "CONTENT-LENGTH", "10"},
                                           LineCase{"Content-Length:10", "CONTENT-LENGTH", "10"},
                                           LineCase{"X:   spaced  \t", "X", "spaced"},
                                           LineCase{"A: b: c", "A", "b: c"},
                                           LineCase{"NoColon here ", "", "oColon here"},
                                           LineCase{":starts", "", "starts"},
                                           LineCase{"X:", "X", ""}, LineCase{"", "", ""}));

TEST(HeaderList, MatchCaseKeepsTheNameAsWrittenButLookupsStillIgnoreCase) {
    const TIdHeaderList list = ListOf({"Content-Type: a"}, {.MatchCase = true});
    EXPECT_EQ(list.LineName(0), "Content-Type");
    EXPECT_EQ(list.FindHeader("CONTENT-TYPE"), 0);
}

TEST(HeaderList, ContinuationLinesJoinIntoTheValueAbove) {
    const Lines lines = {"X: one", " two ", "\tthree", "Y: y", " more", "", " orphan"};
    const TIdHeaderList list = ListOf(lines);
    EXPECT_EQ(list.HeaderValue("x"), "one two three");
    EXPECT_EQ(list.HeaderValue("Y"), "y more");  // the empty line ends the run
    EXPECT_EQ(list.FindHeader("two"), -1);
    EXPECT_EQ(list.FindHeader("three"), -1);
    EXPECT_EQ(list.LineValue(-1), "");
    EXPECT_EQ(list.LineValue(list.Count()), "");
    EXPECT_EQ(list.HeaderValue("absent"), "");

    const TIdHeaderList flat = ListOf(lines, {.UnfoldOnRead = false});
    EXPECT_EQ(flat.HeaderValue("X"), "one");
}

TEST(HeaderList, EmptyValueBeforeAContinuationReadsWithoutLeadingBlank) {
    const TIdHeaderList list = ListOf({"X-Long:", " AAAA"});
    EXPECT_EQ(list.HeaderValue("X-Long"), "AAAA");
}

TEST(HeaderList, HeaderValueTakesTheFirstAndCollectValuesTakesAll) {
    const TIdHeaderList list = ListOf({"Set-cookie: a=1", "Other: x", "SET-COOKIE: b=2", " c"});
    EXPECT_EQ(list.HeaderValue("Set-Cookie"), "a=1");
    TIdHeaderList values;
    list.CollectValues("set-cookie", &values);
    EXPECT_EQ(values.Lines(), (Lines{"a=1", "b=2 c"}));
    EXPECT_EQ(list.Count(), 4);
    list.CollectValues("set-cookie", nullptr);
}

// ---- AssignHeader -------------------------------------------------------------------------------

TEST(AssignHeader, ReplacesInPlaceWithItsContinuationsAndAppendsWhenAbsent) {
    TIdHeaderList list = ListOf({"A: 1", "cookie: old", " cont", "B: 2", "Cookie: later"});
    list.AssignHeader("Cookie", "new");
    EXPECT_EQ(list.Lines(), (Lines{"A: 1", "Cookie: new", "B: 2", "Cookie: later"}));
    list.AssignHeader("C", "3");
    EXPECT_EQ(list.Lines(), (Lines{"A: 1", "Cookie: new", "B: 2", "Cookie: later", "C: 3"}));
}

TEST(AssignHeader, EmptyValueRemovesOnlyTheFirstHeader) {
    TIdHeaderList list = ListOf({"Cookie: a", " b", "X: 1", "Cookie: c"});
    list.AssignHeader("Cookie", "");
    EXPECT_EQ(list.Lines(), (Lines{"X: 1", "Cookie: c"}));
    list.AssignHeader("Absent", "");
    EXPECT_EQ(list.Lines(), (Lines{"X: 1", "Cookie: c"}));
}

TEST(AssignHeader, WithoutFoldingReplacesTheLineAlone) {
    TIdHeaderList list = ListOf({"X: a", " b"}, {.FoldOnWrite = false});
    list.AssignHeader("X", std::string(100, 'v') + " w");
    EXPECT_EQ(list.Lines(), (Lines{"X: " + std::string(100, 'v') + " w", " b"}));
}

std::string Words(int first, int last) {
    std::string s;
    for (int i = first; i <= last; ++i) {
        if (!s.empty()) s += ' ';
        s += "word" + std::string(i < 10 ? "0" : "") + std::to_string(i);
    }
    return s;
}

TEST(AssignHeader, FoldsAfterTheLastBlankBeforeTheWidth) {
    TIdHeaderList list;
    list.AssignHeader("X-Words", Words(1, 20));
    EXPECT_EQ(list.Lines(), (Lines{"X-Words: " + Words(1, 9), " " + Words(10, 20)}));
    EXPECT_EQ(list.HeaderValue("X-Words"), Words(1, 20));
}

TEST(AssignHeader, HttpHeaderLinesFoldAt1024) {
    TIdHeaderList list({.FoldWidth = 1024});
    list.AssignHeader("X-Words", Words(1, 20));
    EXPECT_EQ(list.Count(), 1);

    std::string value;
    for (int i = 0; i < 200; ++i) value += "token" + std::to_string(i) + ", ";
    value += "end";
    list.AssignHeader("X-Words", value);
    ASSERT_GT(list.Count(), 1);
    for (const auto& line : list.Lines()) EXPECT_LE(line.size(), 1024u) << line;
    for (int i = 1; i < list.Count(); ++i) EXPECT_EQ(list[i][0], ' ');
    EXPECT_EQ(list.HeaderValue("X-Words"), value);
}

TEST(AssignHeader, NeverSplitsInsideQuotes) {
    const std::string quoted = "\"" + Words(1, 15) + "\"";
    TIdHeaderList list;
    list.AssignHeader("X", "a, " + quoted + ", b");
    int holding = 0;
    for (const auto& line : list.Lines())
        if (line.find(quoted) != std::string::npos) ++holding;
    EXPECT_EQ(holding, 1) << list.Text();
    EXPECT_EQ(list.HeaderValue("X"), "a, " + quoted + ", b");
}

TEST(AssignHeader, ValueWithoutBreakPointsMovesWholeOntoAContinuationLine) {
    TIdHeaderList list;
    list.AssignHeader("X-Long", std::string(100, 'A'));
    EXPECT_EQ(list.Lines(), (Lines{"X-Long:", " " + std::string(100, 'A')}));
}

TEST(AssignHeader, ABreakAlreadyInTheValueCountsAsABreak) {
    TIdHeaderList list;
    list.AssignHeader("X", "a\r\n b");
    EXPECT_EQ(list.Lines(), (Lines{"X: a", " b"}));
}

TEST(FoldText, LeavesShortLinesAlone) {
    EXPECT_EQ(FoldText("X: a b c", "\r\n ", " \t,", 78), "X: a b c");
    EXPECT_EQ(FoldText("", "\r\n ", " \t,", 78), "");
    EXPECT_EQ(FoldText("aaa bbb ccc", "|", " ", 4), "aaa |bbb |ccc");
}

TEST(HeaderListText, EndsEachLineWithCrLfAndSplitsAtAnyLineBreak) {
    TIdHeaderList list = ListOf({"A: 1", "B: 2"});
    EXPECT_EQ(list.Text(), "A: 1\r\nB: 2\r\n");
    list.SetText("a\r\n\r\nb\nc\rd\r\n");
    EXPECT_EQ(list.Lines(), (Lines{"a", "", "b", "c", "d"}));
    list.SetText("");
    EXPECT_EQ(list.Count(), 0);
}

TEST(HeaderList, IndexOutsideTheListThrows) {
    TIdHeaderList list = ListOf({"A: 1"});
    EXPECT_THROW(list.LineName(1), std::out_of_range);
    EXPECT_THROW(list.Delete(-1), std::out_of_range);
    list.Insert(1, "B: 2");
    list.Insert(0, "Z: 0");
    list.Put(1, "A: one");
    EXPECT_EQ(list.Lines(), (Lines{"Z: 0", "A: one", "B: 2"}));
}

}  // namespace
