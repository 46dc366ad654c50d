// The built-in lookup's bounds in time, and the worker's abort reaching it at every moment: while
// the page comes, while a candidate is asked, while yt-dlp runs.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <map>
#include <string>
#include <thread>

#include "JobHarness.h"
#include "job/lookup/LookupTexts.h"
#include "job/lookup/PageLookup.h"
#include "job/lookup/RecordTexts.h"
#include "job/session/YouTubeDownloader.h"
#include "support/LoopbackSite.h"
#include "support/TempFolder.h"

using namespace tarnwick;
using namespace tarnwick::testing;

namespace {

using Clock = std::chrono::steady_clock;

const std::string kVideoMeta = "<meta property=og:video content=/m.mp4>";

SiteAnswer Trickling(const std::string& html) {
    SiteAnswer answer{"HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n\r\n" + html};
    answer.tail = SiteAnswer::kTrickle;
    return answer;
}

}  // namespace

TEST(PageLookup, AbortEndsItAtEveryMoment) {
    struct Case {
        const char* name;
        std::map<std::string, SiteAnswer> site;
        std::size_t requestsBeforeAbort;
    };
    SiteAnswer once = PageAnswer("<title>no video here</title>");
    once.answered = 1;  // yt-dlp's own request for the page gets no answer
    SiteAnswer held = MediaAnswer("x");
    held.answered = 0;
    const Case cases[] = {
        {"the page", {{"/p", Trickling("<title>slow")}}, 1},
        {"a candidate", {{"/p", PageAnswer(kVideoMeta)}, {"/m.mp4", held}}, 2},
        {"yt-dlp", {{"/p", once}}, 2},
    };
    TempFolder folder;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const LoopbackSite site(c.site);
        TComponent owner;
        TJobState state;
        TestFrontEnd frontEnd(state);
        TJobRequest settings;
        settings.pageAddress = site.Url("/p");
        settings.workDirectory = folder.Path();
        settings.lookup = {};  // no lookup service: the built-in lookup
        TYouTubeDownloader worker(settings, state, frontEnd, owner);
        worker.Start();
        ASSERT_TRUE(site.WaitForRequests(c.requestsBeforeAbort));
        const auto start = Clock::now();
        worker.Abort();
        while (!worker.Finished()) std::this_thread::sleep_for(std::chrono::microseconds(200));
        const auto elapsed = Clock::now() - start;
        std::printf("abort during %s: %.2f ms\n", c.name,
                    std::chrono::duration<double, std::milli>(elapsed).count());
        EXPECT_LT(elapsed, std::chrono::milliseconds(500));
        worker.Join();
        EXPECT_EQ(state.Status(), jsAborted);
        EXPECT_EQ(owner.ComponentCount(), 0u);
    }
}

TEST(PageLookup, TimeBoundsAndAHelperThatFailsOrHangs) {
    SiteAnswer silent = PageAnswer("");
    silent.answered = 0;
    SiteAnswer once = PageAnswer("<title>no video here</title>");
    once.answered = 1;
    SiteAnswer endless = Trickling("<title>no video here</title>");
    endless.tail = SiteAnswer::kEndless;
    std::map<std::string, SiteAnswer> answers = {
        {"/trickle", Trickling(kVideoMeta)}, {"/silent", silent},
        {"/once", once},                     {"/endless", endless},
        {"/plain", PageAnswer("<title>no video here</title>")}, {"/m.mp4", MediaAnswer("media")}};
    // Eight candidates that never answer.
    std::string sources;
    for (char n = '1'; n <= '8'; ++n) {
        sources += std::string("<video src=/s") + n + ".mp4>";
        answers["/s" + std::string(1, n) + ".mp4"] = silent;
    }
    answers["/silent-candidates"] = PageAnswer(sources);
    const LoopbackSite site(answers);
    TPageLookupSettings settings;
    settings.pageTime = std::chrono::seconds(1);
    // The lookup's bound, not yt-dlp's own, ends it; each candidate alone could take 5 s.
    TPageLookupSettings hasty = settings;
    hasty.lookupTime = std::chrono::seconds(3);
    hasty.pageTime = std::chrono::seconds(5);
    TPageLookupSettings withoutYtDlp = settings;
    withoutYtDlp.ytDlp.program = "no-such-yt-dlp";
    // A yt-dlp that takes more memory than it may.
    TempFolder folder;
    const std::string hungryYtDlp = folder.Path() + "/yt-dlp";
    std::ofstream(hungryYtDlp) << "#!/usr/bin/env python3\nblock = bytearray(512 << 20)\n";
    ::chmod(hungryYtDlp.c_str(), 0755);
    TPageLookupSettings hungry = settings;
    hungry.ytDlp.program = hungryYtDlp;
    hungry.ytDlp.memoryLimit = 256 << 20;

    struct Case {
        const char* name;
        const TPageLookupSettings& settings;
        std::string path;
        std::string record;   // the record text
        bool prefix = false;  // record is only its start
    };
    const std::string failed = "error=1|hint=";
    const Case cases[] = {
        // What came of the page by the deadline is read, though a byte keeps coming.
        {"trickling page", withoutYtDlp, "/trickle", "author=|title=|length=|size=5 bytes|", true},
        // A page that never came, or was cut off at its size, is not yt-dlp's to read again.
        {"silent page", withoutYtDlp, "/silent", failed + std::string(kPageTooSlowHint)},
        {"endless page", settings, "/endless", failed + std::string(kPageTooLargeHint)},
        {"silent candidates", hasty, "/silent-candidates",
         failed + std::string(kNoCandidateAnsweredHint) + " " + std::string(kLookupTooSlowHint)},
        {"yt-dlp hangs", hasty, "/once",
         failed + std::string(kNoVideoOnPageHint) + " " + std::string(kLookupTooSlowHint)},
        {"yt-dlp fails", settings, "/plain",
         failed + std::string(kNoVideoOnPageHint) + " " + std::string(kHelperFailedHint) +
             "ERROR: ",
         true},
        {"yt-dlp out of memory", hungry, "/plain",
         failed + std::string(kNoVideoOnPageHint) + " " + std::string(kHelperOutOfMemoryHint) +
             "256.0 MB."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto start = Clock::now();
        const std::string record = RecordText(TPageLookup(c.settings, nullptr).Run(site.Url(c.path), false));
        if (c.prefix) {
            EXPECT_TRUE(record.starts_with(c.record)) << record;
        } else {
            EXPECT_EQ(record, c.record);
        }
        EXPECT_LT(Clock::now() - start, std::chrono::seconds(20));
    }
}
