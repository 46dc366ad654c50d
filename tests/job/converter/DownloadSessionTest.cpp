// The whole job through the download session, as both front ends drive it: a scripted lookup and
// media server on loopback, the real ffmpeg (and a converter that hangs), and a front end with a
// loop of its own. Each row checks what the user has afterwards: the events shown, the outcome,
// the save folder and the work folder.

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "job/JobHarness.h"
#include "job/convert/ConvertAndDeliver.h"
#include "job/session/DownloadSession.h"
#include "support/ChildProcess.h"
#include "support/HttpAnswers.h"
#include "support/RangeServer.h"
#include "support/TempFolder.h"
#include "support/TestData.h"

using namespace tarnwick;
using namespace tarnwick::testing;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

namespace {

const std::string kPreview = "\xff\xd8\xff\xe0 a preview";
const std::string kEarlier = "the user's earlier file";

std::set<std::string> Names(const fs::path& folder) {
    std::set<std::string> names;
    std::error_code ignored;
    for (const auto& entry : fs::directory_iterator(folder, ignored))
        names.insert(entry.path().filename().string());
    return names;
}

// Serves GET /preview.jpg, /media (the given answer, in pieces of 64 KiB that pause apart) and
// anything else as 404.
LoopbackPeer::Script MediaServer(std::string mediaAnswer, milliseconds pause = {}) {
    return [mediaAnswer, pause](PeerConnection& c) {
        for (;;) {
            const std::string head = ReadRequestHead(c);
            if (head.empty()) return;
            if (head.starts_with("GET /preview.jpg "))
                c.Send(Ok(kPreview));
            else if (head.starts_with("GET /media "))
                c.SendInPieces(mediaAnswer, 64 * 1024, pause);
            else
                c.Send("HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n");
        }
    };
}

class SessionTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        samples_ = std::make_unique<TempFolder>();
        const auto run = RunProgram(
            "ffmpeg", {"-nostdin", "-v", "error", "-f", "lavfi", "-i",
                       "testsrc=size=160x120:rate=25:duration=1", "-f", "lavfi", "-i",
                       "sine=duration=1", "-c:v", "flv1", "-c:a", "libmp3lame", "-ar", "22050",
                       *samples_ / "sample.flv"});
        ASSERT_EQ(run.status, 0) << run.err;
        flv_ = ReadWholeFile(*samples_ / "sample.flv");
        // A converter that never ends (and never reports progress).
        std::ofstream(*samples_ / "ffmpeg") << "#!/bin/sh\nexec sleep 30\n";
        fs::permissions(*samples_ / "ffmpeg", fs::perms::owner_all);
    }
    static void TearDownTestSuite() { samples_.reset(); }

    TJobRequest Settings(std::uint16_t lookupPort) const {
        TJobRequest s;
        s.pageAddress = "http://www.youtube.com/watch?v=session";
        s.workDirectory = work_.string();
        s.saveDirectory = save_.string();
        s.lookup = {"127.0.0.1", std::to_string(lookupPort)};
        return s;
    }
    static std::string Record(std::uint16_t mediaPort, const std::string& fileext = "flv") {
        const std::string base = "http://127.0.0.1:" + std::to_string(mediaPort);
        return "author=Ann|title=A title|length=0:01|size=1 MB|filename=clip|fileext=" + fileext +
               "|preview=" + base + "/preview.jpg|url=" + base + "/media";
    }
    // The work folder's files (the session's private folder).
    std::set<std::string> WorkFiles(const TDownloadSession& session) const {
        std::set<std::string> names = Names(session.WorkFolder());
        names.erase(".tarnwick-work.lock");
        return names;
    }

    static std::unique_ptr<TempFolder> samples_;
    static std::string flv_;
    TempFolder folder_;
    fs::path work_{folder_ / "work"};
    fs::path save_{folder_ / "save"};
    TestQueue queue_;
    RecordingEvents events_;
};

std::unique_ptr<TempFolder> SessionTest::samples_;
std::string SessionTest::flv_;

}  // namespace

// One job per row, from Start to JobFinished.
TEST_F(SessionTest, Outcomes) {
    const std::string pattern = PatternText(8 << 20);
    struct Row {
        const char* name;
        std::string record;  // "" : the media server's record
        std::string mediaAnswer;
        std::string fileext;
        int format;
        std::function<void()> before;
        TJobStatus status;
        bool delivered;
        std::string statusText;
        std::string hint;  // a part of it
        std::set<std::string> saved;
        std::string savedBytes;  // of the one file saved, when given
    };
    const std::vector<Row> rows = {
        {"kept as it came", "", Ok(pattern, "Content-Type: video/x-flv\r\n"), "flv", 0, {},
         jsCompleted, true, "Download is completed.", "Saved as " + save_.string() + "/clip.flv",
         {"clip.flv"}, pattern},
        {"converted", "", Ok(flv_), "flv", 6, {}, jsCompleted, true,
         "Video file is successfully saved.", "clip.avi", {"clip.avi"}, ""},
        {"beside an earlier file of that name", "", Ok(flv_), "flv", 0,
         [&] {
             fs::create_directories(save_);
             std::ofstream(save_ / "clip.flv") << kEarlier;
         },
         jsCompleted, true, "Download is completed.", "Saved as " + save_.string() + "/clip (2).flv",
         {"clip (2).flv"}, flv_},
        {"a record's extension that is no media's", "",
         Ok(flv_, "Content-Type: video/x-flv\r\n"), "txt", 0, {}, jsCompleted, true,
         "Download is completed.", "clip.flv", {"clip.flv"}, flv_},
        {"unavailable", "error=1", "", "flv", 6, {}, jsUnavailable, false,
         "Video file is unavailable.", "", {}, ""},
        {"media failure", "", "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n", "flv", 6, {},
         jsAborted, false, "Download aborted.", "404", {}, ""},
        {"a web page instead of a video", "",
         Ok("<html>hello</html>", "Content-Type: text/html\r\n"), "flv", 0, {}, jsAborted, false,
         "Download aborted.", "The server sent a web page, not a video.", {}, ""},
        {"a web page labelled as a video", "",
         Ok("<!DOCTYPE html><html>hello</html>", "Content-Type: video/mp4\r\n"), "mp4", 0, {},
         jsAborted, false, "Download aborted.", "The server sent a web page, not a video.", {},
         ""},
        {"converter failure", "", Ok(PatternText(50000)), "flv", 6, {}, jsCompleted, false,
         "Decoding aborted.", "video.flv: Invalid data found when processing input", {}, ""},
        {"delivery failure", "", Ok(flv_), "flv", 0,
         [&] { std::ofstream(save_) << "a file where the save folder should be"; }, jsCompleted,
         false, "Video file could not be saved.", "save", {}, ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        fs::remove_all(work_);
        fs::remove_all(save_);
        // The user's own files in the work directory, named like the job's work files.
        const std::set<std::string> users = {"video.flv", "video.avi", "video-converted.avi",
                                             "default.jpg"};
        fs::create_directories(work_);
        for (const auto& name : users) std::ofstream(work_ / name) << kEarlier;
        if (row.before) row.before();
        // The media paced, so that the transfer takes long enough to count its progress posts.
        LoopbackPeer media(MediaServer(row.mediaAnswer, milliseconds(2)));
        LoopbackPeer lookup(
            AnswerLookup(row.record.empty() ? Record(media.Port(), row.fileext) : row.record));
        RecordingEvents events;
        TDownloadSession session(events, queue_);
        TJobRequest settings = Settings(lookup.Port());
        settings.formatIndex = row.format;
        const auto started = Clock::now();
        ASSERT_TRUE(session.Start(settings));
        ASSERT_TRUE(events.WaitFinished()) << events.Log();
        const auto elapsed = Clock::now() - started;

        const TJobOutcome outcome = events.Outcome();
        EXPECT_EQ(outcome.status, row.status) << events.Log();
        EXPECT_EQ(outcome.delivered, row.delivered);
        EXPECT_EQ(outcome.statusText, row.statusText);
        EXPECT_NE(outcome.hint.find(row.hint), std::string::npos) << outcome.hint;
        if (row.hint.empty()) {
            EXPECT_EQ(outcome.hint, "");
        }
        if (!row.delivered && row.status != jsUnavailable) {
            EXPECT_NE(outcome.hint, "") << "a failure always says why";
        }
        const std::vector<std::string> lines = events.Lines();
        EXPECT_EQ(lines.back(), "finished " + std::to_string(row.status) + " " +
                                    (row.delivered ? "1" : "0"));
        EXPECT_EQ(lines[lines.size() - 2], "status " + row.statusText + " | " + outcome.hint);
        if (row.status != jsUnavailable) {
            EXPECT_EQ(lines[0], "description   Ann|  A title|  0:01|  1 MB");
            EXPECT_EQ(outcome.title, "A title");
        }
        if (row.delivered) {
            EXPECT_EQ(outcome.savedFile, save_.string() + "/" + *row.saved.begin());
            if (!row.savedBytes.empty()) {
                EXPECT_TRUE(ReadWholeFile(outcome.savedFile) == row.savedBytes);
            }
            EXPECT_EQ(WorkFiles(session).count("default.jpg"), 1u);
        } else {
            EXPECT_EQ(WorkFiles(session), std::set<std::string>{}) << "nothing of a failed job";
        }
        if (!row.before) {
            EXPECT_EQ(Names(save_), row.saved);
        } else if (fs::is_directory(save_)) {
            EXPECT_EQ(ReadWholeFile(save_ / "clip.flv"), kEarlier) << "never replaced";
        }
        EXPECT_EQ(session.Owner().ComponentCount(), 0u);
        for (const auto& name : users) EXPECT_EQ(ReadWholeFile(work_ / name), kEarlier) << name;
        // Progress comes at most every 40 ms, never once per block: the 8 MiB come in 128
        // pieces 2 ms apart, so a shorter interval posts several times the bound.
        const auto progress = events.Lines("progress ").size();
        EXPECT_LE(progress, 2 + static_cast<std::size_t>(elapsed / milliseconds(40)))
            << events.Log();
        if (row.savedBytes == pattern) {
            EXPECT_GE(progress, 3u) << "the transfer was too quick to count its posts";
            EXPECT_EQ(events.Lines("progress ").back(),
                      "progress 8388608/8388608 clip.flv \xe2\x80\x94 8192 Kb of 8192 Kb");
            EXPECT_EQ(events.Lines("begin ").front(),
                      "begin 8388608 " + session.WorkFolder() + "/default.jpg");
        }
    }
}

// An abort at each moment: the job ends as aborted by the user, whatever was closed first, and
// nothing is saved; the earlier file of that name stays.
TEST_F(SessionTest, AbortAtEachMoment) {
    LoopbackPeer media(MediaServer(Ok(flv_)));
    LoopbackPeer lookup(AnswerLookup(Record(media.Port())));
    struct Row {
        const char* name;
        TSessionMoment moment;
        int step;               // the worker's step, for smWorkerStep
        const char* status;     // or wait for this status line, and abort then
    };
    const Row rows[] = {
        {"lookup", smWorkerStep, jbLookupClientMade, nullptr},
        {"preview", smWorkerStep, jbPreviewClientMade, nullptr},
        {"transfer", smWorkerStep, jbMediaProgress, nullptr},
        {"the wait before conversion", smBeforeConversion, 0, nullptr},
        {"conversion", smWorkerStep, -1, "status Decoding in progress."},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        fs::remove_all(save_);
        fs::create_directories(save_);
        std::ofstream(save_ / "clip.avi") << kEarlier;
        RecordingEvents events;
        TDownloadSession session(events, queue_);
        Event reached, go;
        session.SetMomentHook([&](TSessionMoment moment, int step) {
            if (moment != row.moment || (moment == smWorkerStep && step != row.step)) return;
            reached.Set();
            go.Wait();
        });
        TJobRequest settings = Settings(lookup.Port());
        settings.programDirectory = samples_->Path();  // the converter that hangs
        ASSERT_TRUE(session.Start(settings));
        if (row.status) {
            ASSERT_TRUE(events.WaitFor(row.status)) << events.Log();
        } else {
            ASSERT_TRUE(reached.Wait(std::chrono::seconds(20)));
        }
        const auto start = Clock::now();
        session.Abort();
        go.Set();
        ASSERT_TRUE(events.WaitFinished(std::chrono::seconds(10))) << events.Log();
        EXPECT_LT(Clock::now() - start, milliseconds(1000));
        const TJobOutcome outcome = events.Outcome();
        EXPECT_EQ(outcome.status, jsAborted);
        EXPECT_FALSE(outcome.delivered);
        EXPECT_EQ(outcome.hint, "Stopped by the user.") << events.Log();
        EXPECT_EQ(outcome.statusText, row.status ? "Decoding aborted." : "Download aborted.");
        EXPECT_EQ(Names(save_), std::set<std::string>{"clip.avi"});
        EXPECT_EQ(ReadWholeFile(save_ / "clip.avi"), kEarlier);
        EXPECT_EQ(WorkFiles(session), std::set<std::string>{});
        EXPECT_EQ(session.Owner().ComponentCount(), 0u);
    }
}

// Closing at any moment returns at once and shows nothing more, also while the worker waits for a
// front end that does not run its queue (busy, or its loop ended by an exception).
TEST_F(SessionTest, CloseReturnsAtOnceAtAnyMoment) {
    LoopbackPeer silent([](PeerConnection& c) { c.ReceiveAll(); });
    LoopbackPeer media(MediaServer(Ok(flv_)));
    LoopbackPeer lookup(AnswerLookup(Record(media.Port())));
    struct Row {
        const char* name;
        std::uint16_t lookupPort;
        bool holdQueue;           // the front end runs no task
        const char* waitFor;      // a status line to wait for first
    };
    const Row rows[] = {
        {"lookup that never answers", silent.Port(), false, nullptr},
        {"worker waiting for the description", lookup.Port(), true, nullptr},
        {"conversion", lookup.Port(), false, "status Decoding in progress."},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        RecordingEvents events;
        auto session = std::make_unique<TDownloadSession>(events, queue_);
        TJobRequest settings = Settings(row.lookupPort);
        settings.programDirectory = samples_->Path();
        std::unique_lock<std::mutex> held;
        if (row.holdQueue) held = queue_.Hold();
        ASSERT_TRUE(session->Start(settings));
        if (row.waitFor) {
            ASSERT_TRUE(events.WaitFor(row.waitFor)) << events.Log();
        } else {
            std::this_thread::sleep_for(milliseconds(200));  // into the lookup's wait
        }
        const std::string workFolder = session->WorkFolder();
        const auto start = Clock::now();
        session.reset();
        EXPECT_LT(Clock::now() - start, milliseconds(1000));
        if (held) held.unlock();
        queue_.Call([] {});  // what was queued before the close has run, and showed nothing
        EXPECT_EQ(events.Lines("finished").size(), 0u) << events.Log();
        EXPECT_FALSE(fs::exists(workFolder));
        EXPECT_EQ(Names(save_), std::set<std::string>{});
    }
}

TEST_F(SessionTest, ASecondStartWhileAJobRunsIsRefused) {
    LoopbackPeer silent([](PeerConnection& c) { c.ReceiveAll(); });
    TDownloadSession session(events_, queue_);
    ASSERT_TRUE(session.Start(Settings(silent.Port())));
    EXPECT_TRUE(session.Running());
    EXPECT_FALSE(session.Start(Settings(silent.Port())));
    session.Abort();
    ASSERT_TRUE(events_.WaitFinished(std::chrono::seconds(10)));
    EXPECT_FALSE(session.Running());
    EXPECT_EQ(events_.Lines("finished").size(), 1u);
}

// A transfer cut three times arrives whole, no byte fetched twice, its progress never going
// back; an abort during the wait before a try ends the job at once; a part of the file that ends
// short of its range (framed by the close or by chunks) is continued, and one that runs past it
// ends the job with nothing saved.
TEST_F(SessionTest, ABrokenTransferContinuesWhereItBroke) {
    const std::string file = PatternText(120000);
    const std::string pastRange = "The server sent more bytes than the range it named.";
    struct Row {
        const char* name;
        RangePlan plan;
        int requests;
        std::size_t sent;
        std::size_t waits;
        std::string hint;  // empty: delivered
    };
    const auto part = [](Framing framing, long skew) {
        return RangePlan{.cuts = {30000}, .framing = framing, .skewAt = 1, .skew = skew};
    };
    const Row rows[] = {
        {"cut three times", {.cuts = {30000, 60000, 90000}}, 4, 120000, 3, ""},
        {"abort in the wait", {.cuts = {30000}, .deadAt = 1}, 1, 30000, 1,
         std::string(kAbortedByUserText)},
        {"part short until close", part(Framing::kUntilClose, -5000), 3, 120000, 2, ""},
        {"part short in chunks", part(Framing::kChunked, -5000), 3, 120000, 2, ""},
        {"part past its range until close", part(Framing::kUntilClose, 7000), 2, 127000, 1,
         pastRange},
        {"part past its range in chunks", part(Framing::kChunked, 7000), 2, 127000, 1, pastRange},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        fs::remove_all(save_);
        const bool abortInWait = row.plan.deadAt >= 0;
        RangeServer media(row.plan, file);
        LoopbackPeer lookup(AnswerLookup("filename=clip|fileext=flv|url=" + media.Url()));
        RecordingEvents events;
        TDownloadSession session(events, queue_);
        TJobRequest settings = Settings(lookup.Port());
        settings.formatIndex = 0;
        ASSERT_TRUE(session.Start(settings));
        if (abortInWait) {
            ASSERT_TRUE(events.WaitFor("status Connection lost; trying again in 1 s (1 of 5).")) << events.Log();
            const auto start = Clock::now();
            session.Abort();
            ASSERT_TRUE(events.WaitFinished(std::chrono::seconds(10)));
            EXPECT_LT(Clock::now() - start, milliseconds(100));
        } else {
            ASSERT_TRUE(events.WaitFinished()) << events.Log();
        }
        EXPECT_EQ(events.Outcome().delivered, row.hint.empty()) << events.Log();
        EXPECT_EQ(media.requests.load(), row.requests);
        EXPECT_EQ(media.sent.load(), row.sent);
        EXPECT_EQ(events.Lines("status Connection lost; trying again in 1 s (1 of 5).").size(),
                  row.waits);
        if (!row.hint.empty()) {
            EXPECT_EQ(events.Outcome().hint, row.hint);
            EXPECT_EQ(Names(save_), std::set<std::string>{}) << "nothing of a failed job";
            EXPECT_EQ(WorkFiles(session), std::set<std::string>{});
            continue;
        }
        EXPECT_TRUE(ReadWholeFile(save_ / "clip.flv") == file);
        EXPECT_EQ(events.Lines("begin ").size(), 1u);
        std::int64_t last = 0;
        for (const std::string& line : events.Lines("progress ")) {
            const std::int64_t bytes = std::stoll(line.substr(9));
            EXPECT_GE(bytes, last) << events.Log();
            last = bytes;
        }
        EXPECT_EQ(last, 120000);
    }
}

// A step that fails (raises) at the job's end still ends the job, once, with the status line and
// the reason; nothing is saved, and the work files go unless their removal was what failed.
TEST_F(SessionTest, AStepThatFailsEndsTheJobWithOneOutcome) {
    const std::string failure = "a planted failure";
    const std::string notRemoved = "; the work files could not be removed: " + failure;
    const std::string notFound = "HTTP/1.1 404 Not Found";
    struct Row {
        const char* name;
        TSessionMoment moment;
        int step;
        int format;
        std::string mediaAnswer;
        bool saveFolderIsAFile;
        TJobStatus status;
        const char* statusText;
        std::string hint;
    };
    const std::string notFoundAnswer = "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n";
    const Row rows[] = {
        {"a step of the download", smWorkerStep, jbAfterMedia, 0, Ok(flv_), false, jsAborted,
         "Download aborted.", failure},
        {"making conversion and delivery", smBeforeConversion, 0, 6, Ok(flv_), false,
         jsCompleted, "Video file could not be saved.", failure},
        {"starting the converter", smDeliveryStep, dsConversion, 6, Ok(flv_), false, jsCompleted,
         "Video file could not be saved.", failure},
        {"the delivery", smDeliveryStep, dsDelivery, 0, Ok(flv_), false, jsCompleted,
         "Video file could not be saved.", failure},
        {"removing a failed download's work files", smClearWorkFiles, 0, 6, notFoundAnswer, false,
         jsAborted, "Download aborted.", notFound + notRemoved},
        {"removing a failed delivery's work files", smClearWorkFiles, 0, 0, Ok(flv_), true,
         jsCompleted, "Video file could not be saved.", notRemoved},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        fs::remove_all(save_);
        if (row.saveFolderIsAFile) std::ofstream(save_) << "a file where the save folder should be";
        LoopbackPeer media(MediaServer(row.mediaAnswer));
        LoopbackPeer lookup(AnswerLookup(Record(media.Port())));
        RecordingEvents events;
        TDownloadSession session(events, queue_);
        session.SetMomentHook([&](TSessionMoment moment, int step) {
            const bool numbered = moment == smWorkerStep || moment == smDeliveryStep;
            if (moment == row.moment && (!numbered || step == row.step))
                throw std::runtime_error(failure);
        });
        TJobRequest settings = Settings(lookup.Port());
        settings.formatIndex = row.format;
        ASSERT_TRUE(session.Start(settings));
        if (!events.WaitFinished(std::chrono::seconds(20))) {
            ADD_FAILURE() << "the job never ended\n" << events.Log();
            continue;
        }
        const TJobOutcome outcome = events.Outcome();
        EXPECT_EQ(outcome.status, row.status) << events.Log();
        EXPECT_FALSE(outcome.delivered);
        EXPECT_EQ(outcome.statusText, row.statusText);
        EXPECT_TRUE(outcome.hint.ends_with(row.hint)) << outcome.hint;
        EXPECT_FALSE(session.Running());
        // Whatever the job's threads still do, no second outcome comes.
        std::this_thread::sleep_for(milliseconds(300));
        queue_.Call([] {});
        const std::vector<std::string> lines = events.Lines();
        EXPECT_EQ(events.Lines("finished").size(), 1u) << events.Log();
        EXPECT_EQ(lines.back(), "finished " + std::to_string(row.status) + " 0");
        EXPECT_EQ(lines[lines.size() - 2], "status " + std::string(row.statusText) + " | " +
                                                outcome.hint);
        if (row.saveFolderIsAFile) {
            EXPECT_FALSE(fs::is_directory(save_));
        } else {
            EXPECT_EQ(Names(save_), std::set<std::string>{});
        }
        EXPECT_EQ(WorkFiles(session).empty(), row.moment != smClearWorkFiles);
        EXPECT_EQ(session.Owner().ComponentCount(), 0u);
    }
}

// Two sessions at once into one save folder, two videos of the same title: each job works in a
// folder of its own, names only its own events, and both are saved whole under free names.
TEST_F(SessionTest, TwoSessionsAtOnceIntoOneSaveFolder) {
    const std::string other = PatternText(3 << 20);
    const std::string answers[] = {Ok(flv_), Ok(other, "Content-Type: video/x-flv\r\n")};
    std::vector<std::unique_ptr<LoopbackPeer>> peers;
    std::vector<std::unique_ptr<RecordingEvents>> events;
    std::vector<std::unique_ptr<TDownloadSession>> sessions;
    // Each transfer waits, its work file open, until the other's has begun too.
    Event transferring[2];
    bool waited[2] = {false, false};
    for (const std::string& answer : answers) {
        const std::size_t i = sessions.size();
        peers.push_back(std::make_unique<LoopbackPeer>(MediaServer(answer, milliseconds(1))));
        peers.push_back(std::make_unique<LoopbackPeer>(AnswerLookup(Record(peers.back()->Port()))));
        events.push_back(std::make_unique<RecordingEvents>());
        sessions.push_back(std::make_unique<TDownloadSession>(*events.back(), queue_));
        sessions.back()->SetMomentHook([&, i](TSessionMoment moment, int step) {
            if (moment != smWorkerStep || step != jbMediaProgress || waited[i]) return;
            waited[i] = true;
            transferring[i].Set();
            transferring[1 - i].Wait();
        });
        TJobRequest request = Settings(peers.back()->Port());
        request.formatIndex = 0;
        ASSERT_TRUE(sessions.back()->Start(request));
    }
    EXPECT_NE(sessions[0]->JobId(), sessions[1]->JobId());
    EXPECT_EQ(fs::path(sessions[0]->WorkFolder()).parent_path(),
              fs::path(sessions[1]->WorkFolder()).parent_path());
    std::set<std::string> saved;
    for (std::size_t i = 0; i < 2; ++i) {
        ASSERT_TRUE(events[i]->WaitFinished()) << events[i]->Log();
        const TJobOutcome outcome = events[i]->Outcome();
        ASSERT_TRUE(outcome.delivered) << events[i]->Log();
        EXPECT_EQ(outcome.job, sessions[i]->JobId());
        EXPECT_EQ(events[i]->Jobs(), std::set<std::uint64_t>{outcome.job});
        EXPECT_TRUE(ReadWholeFile(outcome.savedFile) == (i == 0 ? flv_ : other));
        saved.insert(fs::path(outcome.savedFile).filename().string());
    }
    EXPECT_EQ(saved, (std::set<std::string>{"clip.flv", "clip (2).flv"}));
    EXPECT_EQ(Names(save_), saved);
    sessions.clear();
    EXPECT_EQ(Names(work_), std::set<std::string>{}) << "no work file left";
}

// The stages a job enters, in order and jgEnded once: one that completes, one aborted in each
// stage.
TEST_F(SessionTest, StagesOfAJob) {
    LoopbackPeer media(MediaServer(Ok(flv_)));
    LoopbackPeer lookup(AnswerLookup(Record(media.Port())));
    using Stages = std::vector<TJobStage>;
    const Stages fetched = {jgLookup, jgDescription, jgPreview, jgTransfer};
    const auto then = [](Stages stages, std::initializer_list<TJobStage> more) {
        stages.insert(stages.end(), more);
        return stages;
    };
    struct Row {
        const char* name;
        TSessionMoment moment;  // abort there (smStage: no abort)
        int step;
        const char* status;     // or wait for this status line, and abort then
        int format;
        Stages stages;
    };
    const Row rows[] = {
        {"completes", smStage, -1, nullptr, 6, then(fetched, {jgConversion, jgDelivery, jgEnded})},
        {"lookup", smWorkerStep, jbLookupClientMade, nullptr, 6, {jgLookup, jgEnded}},
        {"description", smWorkerStep, jbAfterDescription, nullptr, 6,
         {jgLookup, jgDescription, jgEnded}},
        {"preview", smWorkerStep, jbPreviewClientMade, nullptr, 6,
         {jgLookup, jgDescription, jgPreview, jgEnded}},
        {"transfer", smWorkerStep, jbMediaProgress, nullptr, 6, then(fetched, {jgEnded})},
        {"conversion", smWorkerStep, -1, "status Decoding in progress.", 6,
         then(fetched, {jgConversion, jgEnded})},
        {"delivery", smDeliveryStep, dsDelivery, nullptr, 0, then(fetched, {jgDelivery, jgEnded})},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        RecordingEvents events;
        TDownloadSession session(events, queue_);
        EXPECT_EQ(session.Stage(), jgEnded);
        std::mutex mutex;
        Stages stages;
        Event reached, go;
        session.SetMomentHook([&](TSessionMoment moment, int step) {
            if (moment == smStage) {
                std::lock_guard lock(mutex);
                stages.push_back(static_cast<TJobStage>(step));
                EXPECT_EQ(session.Stage(), step);
            } else if (moment == row.moment && step == row.step) {
                reached.Set();
                go.Wait();
            }
        });
        TJobRequest request = Settings(lookup.Port());
        request.formatIndex = row.format;
        if (row.moment != smStage) request.programDirectory = samples_->Path();
        ASSERT_TRUE(session.Start(request));
        if (row.status) {
            ASSERT_TRUE(events.WaitFor(row.status)) << events.Log();
            session.Abort();
        } else if (row.moment != smStage) {
            ASSERT_TRUE(reached.Wait(std::chrono::seconds(20)));
            session.Abort();
            go.Set();
        }
        ASSERT_TRUE(events.WaitFinished()) << events.Log();
        EXPECT_EQ(events.Outcome().delivered, row.moment == smStage) << events.Log();
        EXPECT_EQ(session.Stage(), jgEnded);
        std::lock_guard lock(mutex);
        EXPECT_EQ(stages, row.stages) << events.Log();
    }
}
