// The download worker end to end: the substitute lookup service or a scripted lookup, real nginx
// for the preview and media, and a front end with an event loop of its own.

#include <gtest/gtest.h>
#include <sys/syscall.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "JobHarness.h"
#include "job/session/YouTubeDownloader.h"
#include "support/HttpAnswers.h"
#include "support/LookupService.h"
#include "support/NginxServer.h"
#include "support/TempFolder.h"
#include "support/TestData.h"
#include "support/ThreadProbe.h"

using namespace tarnwick;
using namespace tarnwick::testing;
namespace fs = std::filesystem;

namespace {

const std::string kAddress = "http://www.youtube.com/watch?v=abc&feature=related";

std::string NginxConfig() {
    return "    location = /preview-moved { return 302 /preview.jpg; }\n"
           "    location = /media-moved { return 301 /media.flv; }\n"
           "    location = /loop { return 302 /loop; }\n"
           "    location = /page.html { default_type text/html; }\n";
}

class Job {
public:
    explicit Job(TJobRequest settings) : frontEnd(state), worker(std::move(settings), state, frontEnd, owner) {}
    // Runs to the end; false when the job did not end in time (a lost abort).
    bool Run() {
        worker.Start();
        for (int i = 0; i < 600 && !worker.Finished(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        if (!worker.Finished()) return false;
        worker.Join();
        return true;
    }
    std::string Log() const {
        std::string text;
        for (const std::string& line : frontEnd.Lines()) text += line + "\n";
        return text;
    }

    TComponent owner;
    TJobState state;
    TestFrontEnd frontEnd;
    TYouTubeDownloader worker;
};

class DownloaderTest : public ::testing::Test {
protected:
    DownloaderTest() : nginx_(NginxConfig()) {
        nginx_.WriteFile("preview.jpg", 1000);
        nginx_.WriteFile("media.flv", 300000);
        nginx_.WriteFile("big.jpg", kPreviewLimit + 1);
        nginx_.WriteFile("page.html", 5000);
    }

    TJobRequest Settings(std::uint16_t lookupPort) const {
        TJobRequest s;
        s.pageAddress = kAddress;
        s.workDirectory = work_.string();
        s.lookup = {"127.0.0.1", std::to_string(lookupPort)};
        // A broken transfer is tried again at once.
        s.resume.FirstWait = s.resume.LongestWait = std::chrono::milliseconds(1);
        return s;
    }
    std::string Record(const std::string& preview, const std::string& url,
                       const std::string& names = "filename=clip|fileext=flv") const {
        return "author=A|title=T|length=1:00|size=1 MB|" + names + "|preview=" + preview +
               "|url=" + url;
    }
    std::string Url(const std::string& path) const { return nginx_.BaseUrl() + path; }
    std::string WorkFile(const std::string& name) const { return ReadWholeFile(work_ / name); }

    NginxServer nginx_;
    TempFolder folder_;
    fs::path work_{folder_.Path()};
};

}  // namespace

TEST_F(DownloaderTest, CompletedJobThroughTheLookupService) {
    CatalogueEntry entry;
    entry.address = kAddress;
    entry.author = "Ann";
    entry.title = "A title";
    entry.length = "3:07";
    entry.size = "1.2 MB";
    entry.filename = "a-title";
    entry.preview = "\xff\xd8\xff\xe0 preview";
    entry.media = PatternText(1 << 20);
    LookupService service({entry});
    // An earlier job's work file that is a hard link to the video delivered then stays as it was.
    const fs::path delivered = work_ / "delivered.flv";
    std::ofstream(delivered) << "saved before";
    fs::create_hard_link(delivered, work_ / "video.flv");
    Job job(Settings(service.Port()));
    ASSERT_TRUE(job.Run());
    EXPECT_EQ(WorkFile("delivered.flv"), "saved before");

    EXPECT_EQ(job.state.Status(), jsCompleted) << job.state.ErrorText();
    EXPECT_EQ(job.state.ErrorText(), "");
    EXPECT_EQ(job.state.FileName(), "a-title");
    EXPECT_EQ(job.state.FileExtension(), "flv");
    EXPECT_TRUE(job.state.PreviewPresent());
    EXPECT_EQ(job.state.TotalBytes(), 1 << 20);
    EXPECT_EQ(WorkFile("default.jpg"), entry.preview);
    EXPECT_TRUE(WorkFile("video.flv") == entry.media);
    EXPECT_EQ(job.owner.ComponentCount(), 0u);

    // Description first, then begin, progress, end, and the finish last; the last count is the
    // size, and progress is coalesced (a 32 KiB block each would be 32 lines).
    const std::vector<std::string> lines = job.frontEnd.Lines();
    ASSERT_GE(lines.size(), 5u) << job.Log();
    EXPECT_EQ(lines[0], "description   Ann|  A title|  3:07|  1.2 MB");
    EXPECT_EQ(lines[1], "begin 1048576");
    EXPECT_EQ(lines[lines.size() - 3], "progress 1048576") << job.Log();
    EXPECT_EQ(lines[lines.size() - 2], "end");
    EXPECT_EQ(lines.back(), "finish 1");
    for (std::size_t i = 2; i + 2 < lines.size(); ++i)
        EXPECT_TRUE(lines[i].starts_with("progress ")) << job.Log();
}

TEST_F(DownloaderTest, UnavailableVideoCreatesNoClientAndTouchesNoFile) {
    LoopbackPeer lookup(AnswerLookup("error=1"));
    Job job(Settings(lookup.Port()));
    std::vector<TJobStep> steps;
    job.worker.SetStepHook([&](TJobStep step) { steps.push_back(step); });
    ASSERT_TRUE(job.Run());
    EXPECT_EQ(job.state.Status(), jsUnavailable);
    EXPECT_EQ(steps, (std::vector<TJobStep>{jbBeforeLookup, jbLookupClientMade, jbAfterLookup}));
    EXPECT_TRUE(fs::is_empty(work_));
    EXPECT_EQ(job.Log(), "finish 2\n");
}

// Each case: the record's preview and media addresses, and what the job ends with.
TEST_F(DownloaderTest, FetchOutcomes) {
    struct Case {
        const char* name;
        std::string preview, url;
        TJobStatus status;
        bool previewPresent;
        std::size_t mediaBytes;
        const char* errorPart;
    };
    // A page sent without a type.
    const std::string page = "\n <!DOCTYPE html><html><body>Not here</body></html>";
    LoopbackPeer untyped(ServeAlways("HTTP/1.1 200 OK\r\nContent-Length: " +
                                     std::to_string(page.size()) + "\r\n\r\n" + page));
    const std::string untypedPage = "http://127.0.0.1:" + untyped.PortText() + "/watch";
    // A preview that drips a byte every 100 ms, for 100 s.
    LoopbackPeer dripping([](PeerConnection& c) {
        ReadRequestHead(c);
        c.Send("HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\n");
        c.SendInPieces(std::string(1000, 'j'), 1, std::chrono::milliseconds(100));
    });
    std::ofstream(nginx_.WriteFile("live.m3u8", 0)) << "#EXTM3U\n#EXTINF:2,\na.ts\n";
    const Case cases[] = {
        {"plain", Url("/preview.jpg"), Url("/media.flv"), jsCompleted, true, 300000, ""},
        {"preview past the limit ignored", Url("/big.jpg"), Url("/media.flv"), jsCompleted, false,
         300000, "8 MiB"},
        {"media that is a web page", Url("/preview.jpg"), Url("/page.html"), jsAborted, true, 0,
         "The server sent a web page, not a video."},
        {"media that starts like a web page", Url("/preview.jpg"), untypedPage, jsAborted, true, 0,
         "The server sent a web page, not a video."},
        {"preview redirect not followed", Url("/preview-moved"), Url("/media.flv"), jsCompleted,
         false, 300000, "302"},
        {"dripping preview given up", "http://127.0.0.1:" + dripping.PortText() + "/p.jpg",
         Url("/media.flv"), jsCompleted, false, 300000, "Not finished within 2 seconds."},
        {"media redirect followed", Url("/preview.jpg"), Url("/media-moved"), jsCompleted, true,
         300000, ""},
        {"media 404", Url("/preview.jpg"), Url("/missing.flv"), jsAborted, true, 0, "404"},
        {"a live playlist", Url("/preview.jpg"), Url("/live.m3u8") + "|protocol=m3u8", jsAborted,
         true, 0, "This is a live stream"},
        {"redirects past the limit", Url("/preview.jpg"), Url("/loop"), jsAborted, true, 0, "302"},
        {"addresses not absolute", "preview.jpg", "ftp://127.0.0.1/media.flv", jsAborted, false, 0,
         ""},
        {"empty addresses", "", "", jsAborted, false, 0, ""},
        {"media over a protocol not fetched yet", Url("/preview.jpg"),
         "FTP://127.0.0.1/media.flv", jsAborted, true, 0, "Media over ftp cannot be fetched yet."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LoopbackPeer lookup(AnswerLookup(Record(c.preview, c.url)));
        TJobRequest settings = Settings(lookup.Port());
        settings.previewTime = std::chrono::seconds(2);
        Job job(std::move(settings));
        ASSERT_TRUE(job.Run());
        EXPECT_EQ(job.state.Status(), c.status);
        EXPECT_EQ(job.state.PreviewPresent(), c.previewPresent);
        EXPECT_EQ(WorkFile("video.flv").size(), c.mediaBytes);
        // A failed media fetch leaves no work file.
        EXPECT_EQ(fs::exists(work_ / "video.flv"), c.status == jsCompleted);
        if (!c.previewPresent) {
            EXPECT_EQ(WorkFile("default.jpg"), "");
        }
        if (c.status != jsCompleted) {
            EXPECT_NE(job.state.ErrorText(), "");
        }
        EXPECT_NE(job.state.ErrorText().find(c.errorPart), std::string::npos)
            << job.state.ErrorText();
        EXPECT_EQ(job.owner.ComponentCount(), 0u);
        EXPECT_TRUE(job.Log().ends_with("finish " + std::to_string(c.status) + "\n"));
    }
}

// Control bytes in the record's request headers never reach a request, whoever made the record:
// the preview's and the media's heads carry them made one line.
TEST_F(DownloaderTest, RecordHeadersReachTheRequestsWithoutControlBytes) {
    LoopbackPeer server(ServeAlways(Ok(PatternText(1000))));
    const std::string base = "http://127.0.0.1:" + server.PortText();
    LoopbackPeer lookup(AnswerLookup(Record(base + "/p.jpg", base + "/m.flv") +
                                     "|referer=http://site/\x0b\x0cpage|useragent=Agent\x01/1"
                                     "\x1b[2J|cookie=a=1;\x7f b=2"));
    Job job(Settings(lookup.Port()));
    ASSERT_TRUE(job.Run());
    EXPECT_EQ(job.state.Status(), jsCompleted) << job.state.ErrorText();
    ASSERT_EQ(server.Accepted(), 2);  // the preview's connection, then the media's
    for (const int connection : {0, 1}) {
        const std::string head = server.Received(connection);
        EXPECT_NE(head.find("\r\nReferer: http://site/ page\r\n"), std::string::npos) << head;
        EXPECT_NE(head.find("\r\nUser-Agent: Agent /1 [2J\r\n"), std::string::npos) << head;
        EXPECT_NE(head.find("\r\nCookie: a=1; b=2\r\n"), std::string::npos) << head;
        EXPECT_TRUE(std::all_of(head.begin(), head.end(), [](char c) {
            return c == '\r' || c == '\n' || (c >= 0x20 && c != 0x7F);
        })) << head;
    }
}

// A server that closes at the same place every time: the transfer is tried five times more,
// then given up, and leaves no work file.
TEST_F(DownloaderTest, ServerClosingEarlyEveryTimeIsGivenUp) {
    CatalogueEntry entry;
    entry.address = kAddress;
    entry.media = PatternText(200000);
    entry.extra = {{"close_after", "70000"}};
    LookupService service({entry});
    Job job(Settings(service.Port()));
    ASSERT_TRUE(job.Run());
    EXPECT_EQ(job.state.Status(), jsAborted);
    EXPECT_EQ(job.state.ErrorText(), "Connection Closed Gracefully.");
    EXPECT_FALSE(fs::exists(work_ / "video.flv"));
    EXPECT_EQ(job.state.TotalBytes(), 200000);
    const std::string log = job.Log();
    for (int k = 1; k <= 5; ++k) {
        EXPECT_NE(log.find("status Connection lost; trying again in 1 s (" + std::to_string(k) +
                           " of 5).\n"),
                  std::string::npos)
            << log;
    }
    EXPECT_EQ(log.find("(6 of 5)"), std::string::npos);
    // The bytes after the last full block count too; one begin and one end in all.
    EXPECT_TRUE(log.ends_with("progress 70000\nend\nfinish 3\n")) << log;
    EXPECT_EQ(log.find("begin "), log.rfind("begin "));
}

TEST_F(DownloaderTest, WorkFilesThatCannotBeMadeEndTheJobAborted) {
    LoopbackPeer lookup(AnswerLookup(Record(Url("/preview.jpg"), Url("/media.flv"))));
    // A directory in the way of the file stops root as well as anyone.
    for (const char* blocked : {"default.jpg", "video.flv"}) {
        SCOPED_TRACE(blocked);
        fs::remove_all(work_);
        fs::create_directories(work_ / blocked);
        Job job(Settings(lookup.Port()));
        ASSERT_TRUE(job.Run());
        EXPECT_EQ(job.state.Status(), jsAborted);
        EXPECT_NE(job.state.ErrorText().find(blocked), std::string::npos) << job.state.ErrorText();
        EXPECT_EQ(job.owner.ComponentCount(), 0u);
        EXPECT_TRUE(job.Log().ends_with("finish 3\n"));
    }
}

TEST_F(DownloaderTest, HostileNamesNeverLeaveTheWorkDirectory) {
    LoopbackPeer lookup(AnswerLookup(Record(Url("/preview.jpg"), Url("/media.flv"),
                                            "filename=../../.bashrc|fileext=flv/../../x")));
    fs::create_directories(work_ / "deep");
    TJobRequest settings = Settings(lookup.Port());
    settings.workDirectory = (work_ / "deep").string();
    Job job(settings);
    ASSERT_TRUE(job.Run());
    EXPECT_EQ(job.state.Status(), jsCompleted);
    EXPECT_EQ(job.state.FileName(), "___.._.bashrc");
    EXPECT_EQ(job.state.FileExtension(), "flvx");
    EXPECT_EQ(WorkFile("deep/video.flvx").size(), 300000u);
    std::vector<std::string> found;
    for (const auto& entry : fs::recursive_directory_iterator(work_))
        found.push_back(fs::relative(entry.path(), work_).string());
    std::sort(found.begin(), found.end());
    EXPECT_EQ(found, (std::vector<std::string>{"deep", "deep/default.jpg", "deep/video.flvx"}));
}

// An abort while the worker stands at each step boundary: status 3, and no media request after
// it. The media server is a scripted peer, so every request that reaches it is counted.
TEST_F(DownloaderTest, AbortAtEveryStepBoundary) {
    const std::string media = PatternText(100000);
    LoopbackPeer server(ServeAlways(Ok(media)));
    const std::string base = "http://127.0.0.1:" + server.PortText();
    LoopbackPeer lookup(AnswerLookup(Record(base + "/preview.jpg", base + "/media.flv")));
    for (const TJobStep step :
         {jbBeforeLookup, jbLookupClientMade, jbAfterLookup, jbAfterDescription,
          jbPreviewClientMade, jbAfterPreview, jbMediaClientMade, jbMediaProgress, jbAfterMedia}) {
        SCOPED_TRACE("step " + std::to_string(step));
        const int requestsBefore = server.Accepted();
        Job job(Settings(lookup.Port()));
        StepGate gate(step);
        job.worker.SetStepHook(gate.Hook());
        job.worker.Start();
        ASSERT_TRUE(gate.WaitReached());
        job.worker.Abort();
        gate.Release();
        ASSERT_TRUE(job.Run());
        EXPECT_EQ(job.state.Status(), jsAborted);
        EXPECT_EQ(job.state.ErrorText(), kAbortedByUserText);
        EXPECT_EQ(job.owner.ComponentCount(), 0u);
        // The preview's connection is the first, the media's the second.
        const int requests = server.Accepted() - requestsBefore;
        EXPECT_EQ(requests, step >= jbMediaProgress ? 2 : step >= jbAfterPreview ? 1 : 0);
        // Even an abort after the last byte ends aborted, and leaves no work file.
        EXPECT_FALSE(fs::exists(work_ / "video.flv"));
    }
}

// The abort while the worker is blocked: in a lookup the service never answers, in a preview
// the server never answers, in a media transfer that trickles, in a playlist never answered. The
// time from Abort to the end of the job is printed, and must stay far below any limit of the
// connection.
TEST_F(DownloaderTest, AbortWhileBlocked) {
    // Accepts, reads, never answers; the client's close ends it.
    LoopbackPeer silent([](PeerConnection& c) { c.ReceiveAll(); });
    const std::string silentBase = "http://127.0.0.1:" + silent.PortText();
    CatalogueEntry entry;
    entry.address = kAddress;
    entry.preview = "x";
    entry.media = PatternText(1 << 20);
    entry.extra = {{"rate", "100000"}};
    LookupService service({entry});
    LoopbackPeer previewStall(AnswerLookup(Record(silentBase + "/p.jpg", Url("/media.flv"))));
    LoopbackPeer playlistStall(
        AnswerLookup(Record(Url("/preview.jpg"), silentBase + "/p.m3u8|protocol=m3u8")));

    struct Case {
        const char* name;
        std::uint16_t lookupPort;
        std::vector<long> calls;
    };
    const Case cases[] = {{"lookup", silent.Port(), ReceiveCalls()},
                          {"preview", previewStall.Port(), WaitCalls()},
                          {"media", service.Port(), WaitCalls()},
                          {"playlist", playlistStall.Port(), WaitCalls()}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Job job(Settings(c.lookupPort));
        // The media case waits for its first block, so the wait below is inside the transfer.
        StepGate gate(c.lookupPort == service.Port() ? jbMediaProgress : jbBeforeLookup);
        std::atomic<int> tid{0};
        const auto hook = gate.Hook();
        job.worker.SetStepHook([&](TJobStep step) {
            if (step == jbBeforeLookup) tid = CurrentThreadId();
            hook(step);
        });
        job.worker.Start();
        ASSERT_TRUE(gate.WaitReached());
        gate.Release();
        ASSERT_TRUE(WaitUntilBlockedIn(tid.load(), c.calls)) << job.Log();
        const auto start = std::chrono::steady_clock::now();
        job.worker.Abort();
        while (!job.worker.Finished()) std::this_thread::sleep_for(std::chrono::microseconds(200));
        const auto us = std::chrono::duration_cast<std::chrono::microseconds>(
            std::chrono::steady_clock::now() - start);
        std::printf("abort while blocked in the %s: %.2f ms\n", c.name, us.count() / 1000.0);
        EXPECT_LT(us, std::chrono::milliseconds(500));
        ASSERT_TRUE(job.Run());
        EXPECT_EQ(job.state.Status(), jsAborted);
        EXPECT_EQ(job.owner.ComponentCount(), 0u);
        EXPECT_LT(WorkFile("video.flv").size(), entry.media.size());
    }
}

// A silent lookup service reads as an unavailable video and a media server that stops in the
// middle of the body ends the job aborted, each after the stall limit, with the reason kept.
TEST_F(DownloaderTest, SilentServersEndTheJobAfterTheStallLimit) {
    LoopbackPeer silent([](PeerConnection& c) { c.ReceiveAll(); });
    LoopbackPeer stopsMidBody([](PeerConnection& c) {
        c.ReceiveUntil("\r\n\r\n");
        c.Send("HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n" + std::string(5000, 'x'));
        c.ReceiveAll();
    });
    LoopbackPeer lookup(AnswerLookup(
        Record("", "http://127.0.0.1:" + stopsMidBody.PortText() + "/media.flv")));
    struct Case {
        const char* name;
        std::uint16_t lookupPort;
        TJobStatus status;
        const char* reason;
    };
    const Case cases[] = {{"lookup", silent.Port(), jsUnavailable, "No data received for 0 seconds."},
                          {"media", lookup.Port(), jsAborted, "No data received for 0 seconds."}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TJobRequest settings = Settings(c.lookupPort);
        settings.stallTimeout = 300;
        Job job(std::move(settings));
        ASSERT_TRUE(job.Run());
        EXPECT_EQ(job.state.Status(), c.status);
        EXPECT_EQ(job.state.ErrorText(), c.reason);
        EXPECT_EQ(job.owner.ComponentCount(), 0u);
    }
    EXPECT_FALSE(fs::exists(work_ / "video.flv"));
}

// The abort lands at a different block of the media transfer each round; every round ends
// aborted, with the clients gone.
TEST_F(DownloaderTest, AbortDuringTheMediaTransferRepeatedly) {
    CatalogueEntry entry;
    entry.address = kAddress;
    entry.media = PatternText(512 * 1024);
    LookupService service({entry});
    for (int round = 0; round < 200; ++round) {
        Job job(Settings(service.Port()));
        StepGate gate(jbMediaProgress, 1 + round % 12);
        job.worker.SetStepHook(gate.Hook());
        job.worker.Start();
        ASSERT_TRUE(gate.WaitReached()) << "round " << round;
        job.worker.Abort();
        gate.Release();
        ASSERT_TRUE(job.Run()) << "round " << round;
        ASSERT_EQ(job.state.Status(), jsAborted) << "round " << round;
        ASSERT_EQ(job.owner.ComponentCount(), 0u);
        ASSERT_TRUE(job.Log().ends_with("end\nfinish 3\n")) << job.Log();
    }
}
