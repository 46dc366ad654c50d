// A file over several connections at once, against a scripted file server: the output is one
// version of the file, byte for byte, or the Get fails; the requests and connections are counted.

#include "http/IdPiecedGet.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <future>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "core/Exception.h"
#include "http/IdHTTP.h"
#include "http/IdHostSlots.h"
#include "support/RangeServer.h"

using namespace tarnwick;
using namespace tarnwick::testing;

namespace {

constexpr std::size_t kSize = 6 * 1024 * 1024;

// Bytes without a short period, so a block written at the wrong place shows.
std::string Scrambled(std::size_t size, std::uint32_t seed) {
    std::string bytes(size, '\0');
    for (char& c : bytes) c = static_cast<char>((seed = seed * 1664525u + 1013904223u) >> 24);
    return bytes;
}

const std::string kFile = Scrambled(kSize, 1);
const std::string kChanged = Scrambled(kSize - 4321, 2);

enum Outcome { kWhole, kChangedFile, kLongerFile, kAborted };

struct PieceCase {
    const char* name;
    RangePlan plan;
    int connections;
    Outcome outcome;
    int requests;            // -1: not counted (connections take pieces over as they come free)
    int plain;               // of them, asking for no range (the starts over); -1: not counted
    bool split;              // the file came in pieces (no start over)
    int together = 1;        // Gets of the file at once
    int stallMs = 1500;      // the clients' stall limit
    const char* wait = "";   // the first wait told; none: not checked
};

void PrintTo(const PieceCase& c, std::ostream* out) { *out << c.name; }

class PiecedGetTest : public ::testing::TestWithParam<PieceCase> {};

struct Transfer {
    TIdHTTP http;
    TIdMemoryStream out;
    std::string failure;
    std::int64_t lastHeld = -1;
    std::string firstWait;
    bool split = false;
    std::int64_t total = -1;
};

}  // namespace

TEST_P(PiecedGetTest, ComesWholeFromOneVersionOrFails) {
    const PieceCase& c = GetParam();
    RangeServer server(c.plan, kFile, kChanged);
    TIdAbortSignal abort;
    std::vector<std::unique_ptr<Transfer>> transfers;
    std::vector<std::thread> threads;
    const auto started = std::chrono::steady_clock::now();
    for (int i = 0; i < c.together; ++i) {
        Transfer& t = *transfers.emplace_back(std::make_unique<Transfer>());
        t.http.StallTimeout = c.stallMs;
        threads.emplace_back([&] {
            TIdPiecedGet get(
                t.http,
                [&] {
                    auto client = std::make_unique<TIdHTTP>();
                    client->StallTimeout = c.stallMs;
                    return client;
                },
                c.connections, {std::chrono::milliseconds(1), std::chrono::milliseconds(16), 5, 50},
                &abort);
            get.OnProgress = [&](std::int64_t held) {
                t.lastHeld = held;
                // Every byte but the stalled piece's rest is in (a block of it may wait in the
                // client's buffer): that connection waits for the stall limit.
                if (c.outcome == kAborted &&
                    held >= static_cast<std::int64_t>(kSize * 7 / 8 - 65536))
                    abort.Abort();
            };
            get.OnWait = [&](const TIdRetryWait& wait) {
                if (t.firstWait.empty()) t.firstWait = RetryWaitText(wait);
            };
            try {
                get.Get(server.Url(), t.out);
            } catch (const EIdException& e) {
                t.failure = e.Message();
            }
            t.split = get.Split();
            t.total = get.Total();
        });
    }
    for (std::thread& thread : threads) thread.join();
    const auto took = std::chrono::steady_clock::now() - started;

    const std::string& expected = c.outcome == kChangedFile  ? kChanged
                                  : c.outcome == kLongerFile ? kFile + std::string(1000, 'L')
                                                             : kFile;
    for (const auto& t : transfers) {
        EXPECT_EQ(t->failure, c.outcome == kAborted ? "Not Connected" : "");
        if (c.outcome != kAborted) {
            EXPECT_TRUE(t->out.DataString() == expected)
                << t->out.Size() << " bytes are no copy of the file";
            EXPECT_EQ(t->total, static_cast<std::int64_t>(expected.size()));
            EXPECT_EQ(t->lastHeld, t->total);
        }
        EXPECT_EQ(t->split, c.split);
        if (c.wait) {
            EXPECT_EQ(t->firstWait, c.wait);
        }
    }
    if (c.requests >= 0) {
        EXPECT_EQ(server.requests.load(), c.requests);
    }
    if (c.plain >= 0) {
        EXPECT_EQ(server.requests.load() - server.ranged.load(), c.plain);
    }
    EXPECT_LE(server.mostOpen.load(), c.connections);
    if (c.outcome == kAborted) {
        EXPECT_LT(took, std::chrono::seconds(10));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Plans, PiecedGetTest,
    ::testing::Values(
        PieceCase{"OneConnection", {}, 1, kWhole, 1, 1, false},
        PieceCase{"FourConnections", {}, 4, kWhole, 4, 0, true},
        PieceCase{"PieceCutMidway", {.breaks = {kSize * 5 / 8}}, 4, kWhole, 5, 0, true, 1, 1500,
                  "Connection lost; trying again in 1 s (1 of 5)."},
        // Connection 0 takes the upper half of the stalled piece over; the rest comes again
        // after the stall limit.
        PieceCase{"PieceStalled", {.breaks = {kSize / 2 + 200000}, .stall = true}, 2, kWhole, 4,
                  0, true, 1, 1500, "Connection stalled; trying again in 1 s (1 of 5)."},
        PieceCase{"RangesRefused", {.honourRange = false}, 4, kWhole, 1, 0, false},
        // Starting over once, from byte 0 on one connection.
        PieceCase{"ValidatorChangesOnTheSecondConnection", {.changeAt = 1}, 2, kChangedFile, -1,
                  1, false},
        PieceCase{"LengthDiffersOnTheSecondConnection", {.longerAt = 1}, 2, kLongerFile, -1, 1,
                  false},
        PieceCase{"LastModifiedOnly", {.etag = false, .lastModified = true, .changeAt = 1}, 2,
                  kChangedFile, -1, 1, false},
        PieceCase{"OneConnectionAccepted", {.maxConnections = 1}, 4, kWhole, -1, 0, true, 1, 1500,
                  nullptr},
        PieceCase{"TwoFilesShareTheHostsConnections", {.pause = std::chrono::milliseconds(1)}, 3,
                  kWhole, -1, 0, true, 2},
        // The abort cuts request heads short: the server counts them as what they are.
        PieceCase{"AbortEndsEveryConnection", {.breaks = {kSize * 5 / 8}, .stall = true}, 4,
                  kAborted, -1, -1, true, 1, 60000, nullptr}),
    [](const auto& info) { return std::string(info.param.name); });

// A server answers "bytes=0-" of an empty file with 416: the file is asked for again, plainly.
TEST(PiecedGet, EmptyFileIsAskedForAgainWithoutTheRange) {
    RangeServer server({}, "");
    TIdHTTP http;
    TIdPiecedGet get(http, [] { return std::make_unique<TIdHTTP>(); }, 4);
    TIdMemoryStream out;
    EXPECT_NO_THROW(get.Get(server.Url(), out));
    EXPECT_EQ(out.Size(), 0);
    EXPECT_EQ(get.Total(), 0);
    EXPECT_EQ(server.requests.load(), 2);
    EXPECT_EQ(server.ranged.load(), 1);
}

// A split transfer as OnKeep told it goes on where it stood: only the spans it lacked are asked
// for, under If-Range; a file changed meanwhile is forgotten (told with no total) before the
// output is emptied, and fetched anew, split again before the output has its size.
TEST(PiecedGet, ContinuesWhatAnEarlierRunKept) {
    constexpr std::int64_t kMiB = 1 << 20;
    const TIdPiecedState kept{kSize, "\"a\"", "", {{kMiB, 2 * kMiB}, {4 * kMiB, 5 * kMiB + 7}}};
    for (const bool changed : {false, true}) {
        SCOPED_TRACE(changed ? "changed meanwhile" : "the same file");
        RangeServer server({.changeAt = changed ? 0 : -1}, kFile, kChanged);
        TIdHTTP http;
        TIdPiecedGet get(http, [] { return std::make_unique<TIdHTTP>(); }, 4);
        TIdMemoryStream out(kFile);
        for (const auto& span : kept.missing) {
            out.SetPosition(span.from);
            out.Write(std::string(span.end - span.from, 'x').data(), span.end - span.from);
        }
        std::vector<std::pair<TIdPiecedState, std::int64_t>> told;  // with the output's size
        get.OnKeep = [&](const TIdPiecedState& state) { told.emplace_back(state, out.Size()); };
        std::string firstTry;  // what the first try tells of the transfer
        get.OnTry = [&](std::int64_t offset, std::int64_t total) {
            if (firstTry.empty())
                firstTry = std::to_string(offset) + " of " + std::to_string(total) + " split " +
                           std::to_string(get.Split()) + " under " + get.Validator();
        };
        ASSERT_NO_THROW(get.Continue(server.Url(), out, kept));
        EXPECT_EQ(firstTry, std::to_string(kSize - kMiB - kMiB - 7) + " of " +
                                std::to_string(kSize) + " split 1 under \"a\"");
        EXPECT_TRUE(out.DataString() == (changed ? kChanged : kFile));
        ASSERT_FALSE(told.empty());
        EXPECT_TRUE(told.back().first.missing.empty()) << "the last state names nothing missing";
        if (!changed) {
            EXPECT_EQ(server.requests.load(), 2) << "one request a missing span";
            EXPECT_EQ(server.ranged.load(), 2);
            continue;
        }
        const auto forgot = std::find_if(told.begin(), told.end(),
                                         [](const auto& t) { return t.first.total < 0; });
        ASSERT_TRUE(forgot != told.end() && forgot + 1 != told.end());
        const auto& [split, size] = *(forgot + 1);
        EXPECT_EQ(split.total, static_cast<std::int64_t>(kChanged.size()));
        EXPECT_EQ(split.etag, "\"b\"");
        ASSERT_EQ(split.missing.size(), 1u);
        EXPECT_EQ(split.missing[0].end - split.missing[0].from, split.total);
        EXPECT_EQ(size, 0) << "told before the output has its size";
    }
}

// A Get whose host has every connection it may use taken by another transfer says so, and waits
// until one is free.
TEST(PiecedGet, SaysWhenItWaitsForAFreeConnectionToItsHost) {
    RangeServer server({}, kFile);
    const std::string url = server.Url();
    const std::string host = url.substr(7, url.find('/', 7) - 7);
    std::optional<TIdHostSlots::TSlot> other =
        TIdHostSlots::Process().Take(host, 1, TIdAbortSignal::Never());
    TIdHTTP http;
    TIdPiecedGet get(http, {}, 1);
    std::string told;
    std::promise<void> busy;
    get.OnHostBusy = [&](const std::string& host) {
        told = host + " with " + std::to_string(server.requests.load()) + " requests";
        busy.set_value();
    };
    // The other transfer ends once the Get has said it waits.
    std::thread ends([&, said = busy.get_future()] {
        said.wait_for(std::chrono::seconds(10));
        other.reset();
    });
    TIdMemoryStream out;
    EXPECT_NO_THROW(get.Get(url, out));
    ends.join();
    EXPECT_EQ(told, host + " with 0 requests");
    EXPECT_TRUE(out.DataString() == kFile);
}
