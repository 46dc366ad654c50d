// Transfers that break, against a scripted file server, and an abort of the wait between tries.

#include "http/IdResumableGet.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "core/Exception.h"
#include "http/IdHTTP.h"
#include "support/RangeServer.h"
#include "support/TestData.h"

using namespace tarnwick;
using namespace tarnwick::testing;

namespace {

const std::string kFile = PatternText(120000);
const std::string kChanged(100000, 'Z');  // of another length too, so a mix of the two shows

enum Abort { kNoAbort, kDuringWait, kBeforeWait };  // from another thread; from OnWait

struct ResumeCase {
    const char* name;
    RangePlan plan;
    int requests;
    std::size_t sent;                   // body bytes
    std::vector<std::int64_t> offsets;  // where each try's body began
    Abort abort = kNoAbort;             // waits are then 10 s, else 1 ms
    bool givesUp = false;               // the tries in a row run out
};

class ResumeTest : public ::testing::TestWithParam<ResumeCase> {};

}  // namespace

TEST_P(ResumeTest, ArrivesWholeOrEndsWithinTheLimits) {
    const ResumeCase& c = GetParam();
    RangeServer server(c.plan, kFile, kChanged);
    TIdHTTP http;
    TIdAbortSignal abort;
    const std::chrono::milliseconds first(c.abort == kNoAbort ? 1 : 10000);
    TIdResumableGet get(http, {first, first * 16, 5, 50}, &abort);
    std::vector<std::int64_t> offsets;
    get.OnTry = [&](std::int64_t offset, std::int64_t) { offsets.push_back(offset); };
    Event waiting;
    std::string firstWait;
    get.OnWait = [&](const TIdRetryWait& wait) {
        if (firstWait.empty()) firstWait = RetryWaitText(wait);
        if (c.abort == kBeforeWait) abort.Abort();
        waiting.Set();
    };
    std::chrono::steady_clock::time_point aborted;
    std::thread aborter([&] {
        if (c.abort == kNoAbort || !waiting.Wait()) return;
        aborted = std::chrono::steady_clock::now();
        abort.Abort();
    });
    TIdMemoryStream out;
    std::string failure;
    try {
        get.Get(server.Url(), out);
    } catch (const EIdException& e) {
        failure = e.Message();
    }
    const auto ended = std::chrono::steady_clock::now();
    aborter.join();
    const bool whole = c.plan.deadAt < 0 && c.abort == kNoAbort && !c.givesUp;
    EXPECT_EQ(failure, whole ? "" : c.abort ? "Not Connected" : "Connection Closed Gracefully.");
    const std::string& served = c.plan.changeAt >= 0 ? kChanged : kFile;
    EXPECT_TRUE(served.starts_with(out.DataString()) && (!whole || out.DataString() == served))
        << out.Size() << " bytes are no " << (whole ? "copy" : "start") << " of the file";
    EXPECT_EQ(server.requests.load(), c.requests);
    EXPECT_EQ(server.sent.load(), c.sent);
    EXPECT_EQ(offsets, c.offsets);
    EXPECT_EQ(firstWait, "Connection lost; trying again in " +
                             std::string(c.abort ? "10" : "1") + " s (1 of 5).");
    if (c.abort) {
        EXPECT_LT(ended - aborted, std::chrono::milliseconds(100));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Plans, ResumeTest,
    ::testing::Values(
        ResumeCase{"CutThreeTimesByClose", {.cuts = {30000, 60000, 90000}}, 4, 120000,
                   {0, 30000, 60000, 90000}},
        ResumeCase{"CutTwiceByReset", {.cuts = {40000, 80000}, .reset = true}, 3, 120000,
                   {0, 40000, 80000}},
        ResumeCase{"RangeIgnored", {.cuts = {50000}, .honourRange = false}, 2, 170000, {0, 0}},
        ResumeCase{"NoValidator", {.cuts = {50000}, .etag = false}, 2, 170000, {0, 0}},
        ResumeCase{"FileChangedBetweenTries", {.cuts = {50000}, .changeAt = 1}, 2, 150000, {0, 0}},
        ResumeCase{"DeadAfterTheFirstCut", {.cuts = {50000}, .deadAt = 1}, 6, 50000, {0}},
        // Starting over and breaking at the same place again brings no new byte.
        ResumeCase{"AlwaysCutAtTheSamePlace",
                   {.cuts = std::vector<std::size_t>(6, 50000), .etag = false}, 6, 300000,
                   {0, 0, 0, 0, 0, 0}, kNoAbort, true},
        ResumeCase{"AbortDuringTheWait", {.cuts = {50000}}, 1, 50000, {0}, kDuringWait},
        ResumeCase{"AbortJustBeforeTheWait", {.cuts = {50000}}, 1, 50000, {0}, kBeforeWait}),
    [](const auto& info) { return std::string(info.param.name); });
