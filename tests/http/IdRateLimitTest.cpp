// The speed limit: the rates the command line and the window take, and one limit shared by two
// clients against a loopback site, then ended by an abort.

#include "http/IdRateLimit.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <optional>
#include <string>
#include <thread>

#include "http/IdHTTP.h"
#include "net/IdStream.h"
#include "support/LoopbackSite.h"
#include "support/TestData.h"

using namespace tarnwick;
using namespace tarnwick::testing;

namespace {

using Clock = std::chrono::steady_clock;

struct RateCase {
    const char* text;
    std::optional<std::int64_t> rate;
};

void PrintTo(const RateCase& c, std::ostream* out) { *out << '"' << c.text << '"'; }

class RateText : public ::testing::TestWithParam<RateCase> {};

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

}  // namespace

TEST_P(RateText, IsReadAsBytesPerSecond) { EXPECT_EQ(ParseRate(GetParam().text), GetParam().rate); }

INSTANTIATE_TEST_SUITE_P(
    Rates, RateText,
    ::testing::Values(RateCase{"500K", 512000}, RateCase{"2M", 2097152}, RateCase{"2m", 2097152},
                      RateCase{"1k", 1024}, RateCase{"65536", 65536}, RateCase{" 3M ", 3145728},
                      RateCase{"1048576M", std::int64_t{1} << 40}, RateCase{"0", 0},
                      RateCase{"none", 0}, RateCase{"Off", 0}, RateCase{"", std::nullopt},
                      RateCase{"K", std::nullopt}, RateCase{"1.5M", std::nullopt},
                      RateCase{"-1", std::nullopt}, RateCase{"+5", std::nullopt},
                      RateCase{"2G", std::nullopt}, RateCase{"5 K", std::nullopt},
                      RateCase{"1048577M", std::nullopt},
                      RateCase{"99999999999999999999", std::nullopt}));

// Two clients take 640 KiB through one limit of 256 KiB/s: at most the limit plus its burst and a
// piece, so never within 2 s (a loaded machine only makes it slower); both bodies whole. Then a
// client held at 4 KiB/s in a block of 32 KiB ends soon after its abort, not when the block is
// through (8 s).
TEST(RateLimit, HoldsClientsTogetherAndEndsWithTheAbort) {
    const std::string a = PatternText(320 * 1024), b = std::string(320 * 1024, 'b');
    LoopbackSite site({{"/a", MediaAnswer(a)},
                       {"/b", MediaAnswer(b)},
                       {"/big", MediaAnswer(PatternText(1 << 20))}});
    const auto shared = TIdRateLimit::For(256 * 1024);
    TIdMemoryStream outA, outB;
    const Clock::time_point start = Clock::now();
    {
        const auto fetch = [&](const char* path, TIdMemoryStream& out) {
            TIdHTTP http;
            http.SetRateLimit(shared);
            EXPECT_NO_THROW(http.Get(site.Url(path), out));
        };
        std::jthread first(fetch, "/a", std::ref(outA));
        std::jthread second(fetch, "/b", std::ref(outB));
    }
    const double took = SecondsSince(start);
    EXPECT_EQ(outA.DataString(), a);
    EXPECT_EQ(outB.DataString(), b);
    EXPECT_GE(took, 2.0);
    EXPECT_LT(took, 30.0);

    TIdHTTP slow;
    TIdAbortSignal abort;
    slow.AbortSignal = &abort;
    slow.SetRateLimit(TIdRateLimit::For(4 * 1024));
    std::atomic<bool> bodyBegan{false};
    slow.OnBodyStart = [&](TIdCustomHTTP&) { bodyBegan = true; };
    Clock::time_point aborted{};
    std::jthread aborter([&] {
        // Once the body has begun (or a bound has passed, so that a body that never comes fails
        // the test rather than hanging it), and a little into the wait of the limit.
        const auto bound = Clock::now() + std::chrono::seconds(30);
        while (!bodyBegan && Clock::now() < bound)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        aborted = Clock::now();
        abort.Abort();
    });
    TIdMemoryStream big;
    EXPECT_ANY_THROW(slow.Get(site.Url("/big"), big));
    aborter.join();
    EXPECT_LT(SecondsSince(aborted), 3.0);
    EXPECT_LT(big.WrittenBytes().size(), std::size_t{1} << 20);
}
