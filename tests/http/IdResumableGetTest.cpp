// Transfers that break, against a scripted file server: what arrives, how many requests it took
// and how many body bytes the server sent; and the abort during a try or a wait.

#include "http/IdResumableGet.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "http/IdHTTP.h"
#include "net/IdExceptions.h"
#include "support/RangeServer.h"
#include "support/TestData.h"

using namespace tarnwick;
using namespace tarnwick::testing;

namespace {

const std::string kFile = PatternText(120000);
// Another file of another length, so a mix of the two shows.
const std::string kChanged(100000, 'Z');

struct ResumeCase {
    const char* name;
    RangePlan plan;
    std::int64_t sent;                  // body bytes the server sent
    std::vector<std::int64_t> offsets;  // where each try's body began
    bool whole = true;                  // else the call fails with the bytes that came
};

void PrintTo(const ResumeCase& c, std::ostream* out) { *out << c.name; }

class ResumeTest : public ::testing::TestWithParam<ResumeCase> {};

RangePlan Plan(std::vector<std::int64_t> cuts) {
    RangePlan plan;
    plan.file = kFile;
    plan.changedFile = kChanged;
    plan.cuts = std::move(cuts);
    return plan;
}

template <typename Change>
RangePlan Plan(std::vector<std::int64_t> cuts, Change change) {
    RangePlan plan = Plan(std::move(cuts));
    change(plan);
    return plan;
}

}  // namespace

TEST_P(ResumeTest, ArrivesWholeOrFailsWithinTheLimits) {
    const ResumeCase& c = GetParam();
    RangeServer server(c.plan);
    TIdHTTP http;
    http.StallTimeout = 300;
    TIdResumableGet get(http, {std::chrono::milliseconds(1), std::chrono::milliseconds(16), 5, 50});
    std::vector<std::int64_t> offsets;
    get.OnTry = [&](std::int64_t offset, std::int64_t) { offsets.push_back(offset); };
    TIdMemoryStream out;
    bool failed = false;
    try {
        get.Get(server.Url(), out);
    } catch (const EIdException& e) {
        failed = true;
        EXPECT_FALSE(c.whole) << e.Message();
    }
    EXPECT_EQ(failed, !c.whole);
    const std::string got = out.DataString();
    const std::string& served = c.plan.changeAt >= 0 ? kChanged : kFile;
    EXPECT_EQ(got.size() == served.size(), c.whole) << "got " << got.size() << " bytes";
    EXPECT_TRUE(served.starts_with(got)) << "the output is no start of the file";
    EXPECT_EQ(server.Requests(), get.Tries() + 1);
    EXPECT_EQ(server.BodyBytesSent(), c.sent);
    EXPECT_EQ(offsets, c.offsets);
}

INSTANTIATE_TEST_SUITE_P(
    Plans, ResumeTest,
    ::testing::Values(
        ResumeCase{"CutThreeTimesByClose", Plan({30000, 60000, 90000}), 120000,
                   {0, 30000, 60000, 90000}},
        ResumeCase{"CutTwiceByReset",
                   Plan({40000, 80000}, [](RangePlan& p) { p.cutBy = RangePlan::kReset; }),
                   120000, {0, 40000, 80000}},
        ResumeCase{"SilentServer",
                   Plan({50000}, [](RangePlan& p) { p.cutBy = RangePlan::kSilent; }), 120000,
                   {0, 50000}},
        ResumeCase{"LastModifiedAsValidator",
                   Plan({50000}, [](RangePlan& p) { p.validator = RangePlan::kLastModified; }),
                   120000, {0, 50000}},
        ResumeCase{"RangeIgnored", Plan({50000}, [](RangePlan& p) { p.honourRange = false; }),
                   170000, {0, 0}},
        ResumeCase{"FileChangedBetweenTries",
                   Plan({50000}, [](RangePlan& p) { p.changeAt = 1; }), 150000, {0, 0}},
        ResumeCase{"NoValidator",
                   Plan({50000}, [](RangePlan& p) { p.validator = RangePlan::kNone; }), 170000,
                   {0, 0}},
        ResumeCase{"Chunked", Plan({50000}, [](RangePlan& p) { p.chunked = true; }), 170000,
                   {0, 0}},
        ResumeCase{"PartAtAnotherOffset", Plan({50000}, [](RangePlan& p) { p.wrongStart = 10; }),
                   170010, {0, 0}},
        ResumeCase{"DeadAfterTheFirstCut", Plan({50000}, [](RangePlan& p) { p.deadAt = 1; }),
                   50000, {0}, false}),
    [](const auto& info) { return std::string(info.param.name); });

// An abort ends the transfer at once, with no try after it: during a try's body, during a wait,
// and just before a wait begins (from the wait's own announcement).
TEST(ResumableGet, AbortEndsATryOrAWaitAtOnce) {
    enum Moment { kDuringTry, kDuringWait, kBeforeWait };
    for (const Moment moment : {kDuringTry, kDuringWait, kBeforeWait}) {
        SCOPED_TRACE(moment);
        RangeServer server(Plan({50000}, [&](RangePlan& p) {
            if (moment == kDuringTry) p.cutBy = RangePlan::kSilent;
        }));
        TIdHTTP http;
        TIdAbortSignal abort;
        TIdResumableGet get(http, {std::chrono::seconds(10), std::chrono::seconds(10), 5, 50},
                            &abort);
        Event reached;
        std::string waitText;
        get.OnWait = [&](const TIdRetryWait& wait) {
            waitText = RetryWaitText(wait);
            if (moment == kBeforeWait) abort.Abort();
            reached.Set();
        };
        if (moment == kDuringTry)
            http.OnWork = [&](TIdComponent&, TWorkMode, std::int64_t count) {
                if (count > 0) reached.Set();
            };
        std::chrono::steady_clock::time_point aborted;
        std::thread aborter([&] {
            reached.Wait();
            aborted = std::chrono::steady_clock::now();
            abort.Abort();
            http.CloseConnection();
        });
        TIdMemoryStream out;
        EXPECT_THROW(get.Get(server.Url(), out), EIdException);
        const auto ended = std::chrono::steady_clock::now();
        aborter.join();
        EXPECT_LT(ended - aborted, std::chrono::milliseconds(100));
        EXPECT_EQ(server.Requests(), 1);
        // During the try the abort may come before the whole first piece.
        EXPECT_TRUE(kFile.starts_with(out.DataString()));
        if (moment != kDuringTry) {
            EXPECT_EQ(out.Size(), 50000);
        }
        EXPECT_EQ(waitText,
                  moment == kDuringTry ? "" : "Connection lost; trying again in 10 s (1 of 5).");
    }
}
