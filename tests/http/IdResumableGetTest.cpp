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
    std::vector<long> waits;            // before each try, in ms
    Abort abort = kNoAbort;             // waits are then 10 s, else 1 ms
    bool givesUp = false;               // the tries run out
    const char* failure = nullptr;      // the answer fails the Get
};

const char* kPastRange = "The server sent more bytes than the range it named.";

// Each try brings 1000 new bytes, so only the limit of tries in all ends the transfer.
RangePlan CutEveryThousandBytes() {
    RangePlan plan;
    for (std::size_t end = 1000; end < kFile.size(); end += 1000) plan.cuts.push_back(end);
    return plan;
}

void PrintTo(const ResumeCase& c, std::ostream* out) { *out << c.name; }

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
    std::vector<long> waits;
    get.OnWait = [&](const TIdRetryWait& wait) {
        if (firstWait.empty()) firstWait = RetryWaitText(wait);
        waits.push_back(static_cast<long>(wait.Wait.count()));
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
    const bool whole = c.plan.deadAt < 0 && c.abort == kNoAbort && !c.givesUp && !c.failure;
    EXPECT_EQ(failure, whole      ? ""
                       : c.failure ? c.failure
                       : c.abort   ? "Not Connected"
                                   : "Connection Closed Gracefully.");
    const std::string& served = c.plan.changeAt >= 0 ? kChanged : kFile;
    EXPECT_TRUE(served.starts_with(out.DataString()) && (!whole || out.DataString() == served))
        << out.Size() << " bytes are no " << (whole ? "copy" : "start") << " of the file";
    EXPECT_EQ(server.requests.load(), c.requests);
    EXPECT_EQ(server.sent.load(), c.sent);
    EXPECT_EQ(offsets, c.offsets);
    EXPECT_EQ(waits, c.waits);
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
                   {0, 30000, 60000, 90000}, {1, 1, 1}},
        ResumeCase{"CutTwiceByReset", {.cuts = {40000, 80000}, .reset = true}, 3, 120000,
                   {0, 40000, 80000}, {1, 1}},
        ResumeCase{"RangeIgnored", {.cuts = {50000}, .honourRange = false}, 2, 170000, {0, 0},
                   {1}},
        ResumeCase{"NoValidator", {.cuts = {50000}, .etag = false}, 2, 170000, {0, 0}, {1}},
        ResumeCase{"LastModifiedWithoutETag",
                   {.cuts = {50000}, .etag = false, .lastModified = true}, 2, 120000,
                   {0, 50000}, {1}},
        ResumeCase{"FileChangedBetweenTries", {.cuts = {50000}, .changeAt = 1}, 2, 150000, {0, 0},
                   {1}},
        ResumeCase{"DeadAfterTheFirstCut", {.cuts = {50000}, .deadAt = 1}, 6, 50000, {0},
                   {1, 2, 4, 8, 16}},
        // Starting over and breaking at the same place again brings no new byte.
        ResumeCase{"AlwaysCutAtTheSamePlace",
                   {.cuts = std::vector<std::size_t>(6, 50000), .etag = false}, 6, 300000,
                   {0, 0, 0, 0, 0, 0}, {1, 2, 4, 8, 16}, kNoAbort, true},
        ResumeCase{"FiftyTriesInAll", CutEveryThousandBytes(), 51, 51000,
                   [] {
                       std::vector<std::int64_t> offsets;
                       for (std::int64_t at = 0; at <= 50000; at += 1000) offsets.push_back(at);
                       return offsets;
                   }(),
                   std::vector<long>(50, 1), kNoAbort, true},
        // A 206 body that ends short of its range is a broken transfer; one that runs past it
        // fails, none of its extra bytes written; a Content-Length that differs from the range
        // is a part that does not fit.
        ResumeCase{"PartShortUntilClose",
                   {.cuts = {30000}, .framing = Framing::kUntilClose, .skewAt = 1, .skew = -5000},
                   3, 120000, {0, 30000, 115000}, {1, 1}},
        ResumeCase{"PartShortChunked",
                   {.cuts = {30000}, .framing = Framing::kChunked, .skewAt = 1, .skew = -5000}, 3,
                   120000, {0, 30000, 115000}, {1, 1}},
        ResumeCase{"PartLongUntilClose",
                   {.cuts = {30000}, .framing = Framing::kUntilClose, .skewAt = 1, .skew = 7000},
                   2, 127000, {0, 30000}, {1}, kNoAbort, false, kPastRange},
        ResumeCase{"PartLongChunked",
                   {.cuts = {30000}, .framing = Framing::kChunked, .skewAt = 1, .skew = 7000}, 2,
                   127000, {0, 30000}, {1}, kNoAbort, false, kPastRange},
        ResumeCase{"PartLengthPastRange", {.cuts = {30000}, .skewAt = 1, .skew = 7000}, 3, 247000,
                   {0, 0}, {1}},
        ResumeCase{"AbortDuringTheWait", {.cuts = {50000}}, 1, 50000, {0}, {10000}, kDuringWait},
        ResumeCase{"AbortJustBeforeTheWait", {.cuts = {50000}}, 1, 50000, {0}, {10000},
                   kBeforeWait}),
    [](const auto& info) { return std::string(info.param.name); });
