// The download queue through real jobs against the substitute lookup service, and the file it is
// kept in: what a restart reads back, and what a hostile or half-written file leaves.

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "job/JobTexts.h"
#include "job/files/Folders.h"
#include "job/queue/DownloadQueue.h"
#include "job/queue/QueueFile.h"
#include "job/queue/QueueKeeper.h"
#include "support/LookupService.h"
#include "support/TempFolder.h"
#include "support/TestData.h"
#include "JobHarness.h"

using namespace tarnwick;
using namespace tarnwick::testing;
namespace fs = std::filesystem;

namespace {

// Every entry's last state as the observers were told, and the most that ran at once.
class QueueWatch : public TQueueObserver {
public:
    void EntryChanged(const TQueueEntry& entry, bool) override {
        std::lock_guard lock(mutex_);
        entries_[entry.id] = entry;
        const auto running = std::count_if(entries_.begin(), entries_.end(), [](const auto& e) {
            return e.second.state == TEntryState::Running;
        });
        mostRunning_ = std::max<int>(mostRunning_, static_cast<int>(running));
        cv_.notify_all();
    }
    void EntryRemoved(std::uint64_t id) override {
        std::lock_guard lock(mutex_);
        entries_.erase(id);
        removed_.push_back(id);
        cv_.notify_all();
    }
    // The entry once it stands in state, and with titled once its title is known (nothing when
    // it did not within the limit).
    std::optional<TQueueEntry> WaitFor(std::uint64_t id, TEntryState state, bool titled = false) {
        std::unique_lock lock(mutex_);
        const bool seen = cv_.wait_for(lock, std::chrono::seconds(30), [&] {
            return entries_.count(id) && entries_[id].state == state &&
                   (!titled || !entries_[id].title.empty());
        });
        return seen ? std::optional(entries_[id]) : std::nullopt;
    }
    bool WaitRemoved(std::uint64_t id) {
        std::unique_lock lock(mutex_);
        return cv_.wait_for(lock, std::chrono::seconds(30), [&] {
            return std::find(removed_.begin(), removed_.end(), id) != removed_.end();
        });
    }
    // The entry once its transfer holds bytes.
    bool WaitForBytes(std::uint64_t id) {
        std::unique_lock lock(mutex_);
        return cv_.wait_for(lock, std::chrono::seconds(30),
                            [&] { return entries_.count(id) && entries_[id].bytesSoFar > 0; });
    }
    int MostRunning() {
        std::lock_guard lock(mutex_);
        return mostRunning_;
    }

private:
    std::mutex mutex_;
    std::condition_variable cv_;
    std::map<std::uint64_t, TQueueEntry> entries_;
    std::vector<std::uint64_t> removed_;
    int mostRunning_ = 0;
};

CatalogueEntry Video(const std::string& name, std::size_t size, bool slow = false) {
    CatalogueEntry e;
    e.address = "http://www.youtube.com/watch?v=" + name;
    e.author = "Ann";
    e.title = "Title " + name;
    e.length = "1:00";
    e.size = "1 MB";
    e.filename = name;
    e.media = PatternText(size);
    // Slow media names its Last-Modified date and takes a Range only under it.
    if (slow) e.extra = {{"rate", "200000"}, {"validator", "1"}};
    return e;
}

TQueueEntry Asked(const CatalogueEntry& video) {
    TQueueEntry entry;
    entry.address = video.address;
    entry.formatIndex = 0;
    return entry;
}

// An entry a test counts on: a failure, and an empty entry, when there is none.
TQueueEntry Present(const std::optional<TQueueEntry>& entry) {
    if (!entry) ADD_FAILURE() << "no such entry, or not in that state in time";
    return entry.value_or(TQueueEntry{});
}

// A front end's queue, watched and kept in file, made and taken down on the loop's thread.
struct QueueFront {
    QueueFront(TestQueue& l, const TJobRequest& base, TQueueFile& file) : loop(l), queue(l, base) {
        loop.Call([&] {
            keeper = std::make_unique<TQueueKeeper>(queue, file, loop);
            queue.SetKeptFolder(DirectoryOf(file.Path()) + "/kept");
            queue.AddObserver(watch);
            note = keeper->Restore();
            kept = queue.Entries();
        });
    }
    ~QueueFront() {
        loop.Call([&] {
            keeper.reset();
            queue.RemoveObserver(watch);
        });
    }
    TestQueue& loop;
    QueueWatch watch;
    TDownloadQueue queue;
    std::unique_ptr<TQueueKeeper> keeper;
    std::string note;               // Restore's
    std::vector<TQueueEntry> kept;  // the entries restored, before any started
};

}  // namespace

TEST(DownloadQueue, WorksThroughEntriesAndKeepsThemAcrossARestart) {
    TempFolder folder;
    // Too small to be split: each job holds one of the host's connections.
    const CatalogueEntry slow = Video("slow", 3 * 1024 * 1024, true);
    const CatalogueEntry one = Video("one", 3000), two = Video("two", 5000);
    CatalogueEntry unknown = Video("unknown", 0);
    const CatalogueEntry changed = Video("changed", 1500 * 1000, true);
    LookupService service({slow, one, two, changed});
    TJobRequest base;
    base.lookup = {"127.0.0.1", service.PortText()};
    base.workDirectory = folder.Path();
    base.saveDirectory = folder / "save";
    const std::string queueFile = folder / "data/tarnwick/queue.json";
    TestQueue loop;
    {
        TQueueFile file(queueFile);
        ASSERT_TRUE(file.Lock());
        TQueueFile second(queueFile);
        EXPECT_FALSE(second.Lock()) << "one running copy holds the queue";
        QueueFront front(loop, base, file);
        TDownloadQueue& queue = front.queue;
        EXPECT_EQ(front.note, "");
        std::uint64_t idSlow = 0, idOne = 0, idUnknown = 0, idTwo = 0;
        loop.Call([&] {
            idSlow = queue.Add(Asked(slow));
            idOne = queue.Add(Asked(one));
            EXPECT_EQ(queue.Add(Asked(slow)), 0u) << "an address waiting or running is not added twice";
        });
        ASSERT_TRUE(front.watch.WaitFor(idSlow, TEntryState::Running));
        EXPECT_EQ(Present(queue.Entry(idOne)).state, TEntryState::Waiting) << "one job at a time";
        EXPECT_TRUE(queue.Remove(idOne));
        EXPECT_TRUE(front.watch.WaitRemoved(idOne));
        // Stopped once its record is in, so that the stopped entry keeps the title.
        ASSERT_TRUE(front.watch.WaitFor(idSlow, TEntryState::Running, true));
        EXPECT_TRUE(queue.Stop(idSlow));
        const TQueueEntry stopped = Present(front.watch.WaitFor(idSlow, TEntryState::Stopped));
        EXPECT_EQ(stopped.reason, std::string(kAbortedByUserText));
        EXPECT_EQ(stopped.title, "Title slow");
        // Three at once: the retried one with two new ones; the fourth waits for a place.
        loop.Call([&] {
            queue.SetParallel(5);
            EXPECT_TRUE(queue.Retry(idSlow));
            EXPECT_FALSE(queue.Retry(idSlow)) << "only a failed or stopped entry";
            idOne = queue.Add(Asked(one));
            idUnknown = queue.Add(Asked(unknown));
            idTwo = queue.Add(Asked(two));
        });
        const TQueueEntry saved = Present(front.watch.WaitFor(idTwo, TEntryState::Saved));
        EXPECT_EQ(ReadWholeFile(saved.savedFile), two.media);
        EXPECT_EQ(Present(front.watch.WaitFor(idOne, TEntryState::Saved)).savedFile,
                  folder / "save/one.flv");
        EXPECT_EQ(Present(front.watch.WaitFor(idUnknown, TEntryState::Failed)).reason,
                  "Video file is unavailable.");
        EXPECT_EQ(front.watch.MostRunning(), kMaxParallelJobs);
        std::uint64_t idChanged = 0;
        loop.Call([&] { idChanged = queue.Add(Asked(changed)); });
        ASSERT_TRUE(front.watch.WaitForBytes(idSlow) && front.watch.WaitForBytes(idChanged));
        // The program ends while both slow ones run: they stay running in the file.
        ASSERT_EQ(Present(queue.Entry(idSlow)).state, TEntryState::Running);
        ASSERT_EQ(Present(queue.Entry(idChanged)).state, TEntryState::Running);
    }
    // Another version of one of them while the program is not running.
    const fs::path changedFile = fs::path(service.Folder()) / "media3.flv";
    std::string newer = changed.media;
    std::reverse(newer.begin(), newer.end());
    std::ofstream(changedFile, std::ios::binary | std::ios::trunc) << newer;
    fs::last_write_time(changedFile, fs::last_write_time(changedFile) + std::chrono::hours(1));
    // The next run: the finished entries as history, the broken one goes on by itself.
    TQueueFile file(queueFile);
    ASSERT_TRUE(file.Lock());
    QueueFront front(loop, base, file);
    EXPECT_EQ(front.note, "");
    std::vector<std::string> seen;
    for (const TQueueEntry& e : front.kept)
        seen.push_back(e.address.substr(e.address.find('=') + 1) + " " +
                       std::string(EntryStateName(e.state)) + " " + e.title);
    EXPECT_EQ(seen, (std::vector<std::string>{"slow waiting Title slow", "one saved Title one",
                                              "unknown failed ", "two saved Title two",
                                              "changed waiting Title changed"}));
    ASSERT_EQ(front.kept.size(), 5u);
    EXPECT_EQ(front.kept[1].savedFile, folder / "save/one.flv");
    const fs::path kept = folder / "data/tarnwick/kept";
    EXPECT_GT(fs::file_size(kept / front.kept[0].kept), 0u) << "the broken transfer was kept";
    EXPECT_EQ(front.kept[1].kept, "") << "a finished entry keeps none";
    // The broken transfers go on: one continued where it broke, the changed one fetched anew.
    const TQueueEntry slowSaved =
        Present(front.watch.WaitFor(front.kept[0].id, TEntryState::Saved));
    EXPECT_TRUE(ReadWholeFile(slowSaved.savedFile) == slow.media);
    const TQueueEntry changedSaved =
        Present(front.watch.WaitFor(front.kept[4].id, TEntryState::Saved));
    EXPECT_TRUE(ReadWholeFile(changedSaved.savedFile) == newer) << "one version, the new one";
    const std::string log = service.MediaLog();
    // A request for the rest (not from byte 0) under the date the kept bytes came with.
    const auto continued = [&](const std::string& name, const std::string& status) {
        const std::string start = name + " range=bytes=";
        std::istringstream lines(log);
        for (std::string line; std::getline(lines, line);) {
            if (!line.starts_with(start) || line.size() <= start.size() ||
                line[start.size()] < '1' || line[start.size()] > '9')
                continue;
            const std::size_t dash = line.find_first_not_of("0123456789", start.size());
            if (dash != std::string::npos && line.compare(dash, 11, "- if-range=") == 0 &&
                line.ends_with(" GMT " + status))
                return true;
        }
        return false;
    };
    EXPECT_TRUE(continued("0.flv", "206")) << log;
    EXPECT_TRUE(continued("3.flv", "200")) << log;
    EXPECT_TRUE(fs::is_empty(kept)) << "an entry's kept transfer goes when it is saved";
}

TEST(QueueFile, SetsAsideWhatItCannotTrust) {
    TQueueEntry odd;
    odd.address = "https://example.org/v?\"q\"\\\n\xe2\x80\x94";
    odd.state = TEntryState::Failed;
    odd.reason = "a reason";
    const std::string good = QueueDocument({odd});
    const std::string many = [] {
        std::string text = "{\"tarnwick-queue\": 1, \"entries\": [";
        for (int i = 0; i < 900000; ++i) text += "{\"address\":\"h\"},";
        return text + "{\"address\":\"h\"}]}";
    }();
    const struct {
        std::string text, note;
    } rows[] = {
        {good, ""},
        {good.substr(0, good.size() / 2), "damaged (not a queue)"},
        {"\x7f" "ELF\x01\x02", "damaged (not a queue)"},
        {std::string(200000, '[') + std::string(200000, ']'), "damaged (not a queue)"},
        {R"({"tarnwick-queue": 1, "entries": [{"address": ")" + std::string(100000, 'a') + "\"}]}",
         "damaged (a damaged entry)"},
        {R"({"tarnwick-queue": 1, "entries": [{"address": "a", "title": {"x": [[1]]}}]})",
         "damaged (a damaged entry)"},
        {R"({"tarnwick-queue": 1, "entries": [{"address": "a", "format": 9}]})",
         "damaged (a damaged entry)"},
        {R"({"tarnwick-queue": 1, "entries": [{"address": "a", "state": "paused"}]})",
         "damaged (a damaged entry)"},
        {many, "damaged (too many entries)"},
        {R"({"tarnwick-queue": 2, "entries": []})", "newer version"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.text.substr(0, 60));
        TempFolder folder;
        const std::string path = folder / "queue.json";
        std::ofstream(path, std::ios::binary) << row.text;
        TQueueFile file(path);
        ASSERT_TRUE(file.Lock());
        const TQueueFile::TLoaded loaded = file.Load();
        if (row.note.empty()) {
            EXPECT_EQ(loaded.note, "");
            ASSERT_EQ(loaded.entries.size(), 1u);
            EXPECT_EQ(QueueDocument(loaded.entries), good) << "the round trip keeps every field";
            continue;
        }
        EXPECT_TRUE(loaded.entries.empty());
        EXPECT_NE(loaded.note.find(row.note), std::string::npos) << loaded.note;
        // Set aside whole, under the name the note gives, never deleted.
        EXPECT_FALSE(fs::exists(path));
        const std::string aside = loaded.note.substr(loaded.note.rfind(' ') + 1);
        EXPECT_EQ(ReadWholeFile(aside.substr(0, aside.size() - 1)), row.text) << loaded.note;
    }
}

TEST(QueueFile, AKilledWriterLeavesTheOldQueueOrTheNewWhole) {
    TempFolder folder;
    const std::string path = folder / "queue.json";
    // Two queues large enough that a write takes a while.
    std::vector<TQueueEntry> queues[2];
    for (int q = 0; q < 2; ++q)
        for (int i = 0; i < 200; ++i) {
            TQueueEntry entry;
            entry.address = "http://example.org/" + std::to_string(q) + "/" + std::to_string(i);
            entry.title = std::string(4000, static_cast<char>('a' + q));
            queues[q].push_back(entry);
        }
    const std::string documents[2] = {QueueDocument(queues[0]), QueueDocument(queues[1])};
    for (int round = 0; round < 12; ++round) {
        SCOPED_TRACE(round);
        int ready[2];
        ASSERT_EQ(::pipe(ready), 0);
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            TQueueFile file(path);
            if (!file.Lock()) ::_exit(3);
            for (int n = 0;; ++n) {
                file.Save(queues[n % 2]);
                if (n == 0 && ::write(ready[1], "x", 1) != 1) ::_exit(4);
            }
        }
        ::close(ready[1]);
        char byte = 0;
        ASSERT_EQ(::read(ready[0], &byte, 1), 1);
        ::close(ready[0]);
        ::usleep(static_cast<useconds_t>(1000 + round * 1700));
        ::kill(child, SIGKILL);
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        TQueueFile file(path);
        ASSERT_TRUE(file.Lock()) << "the killed writer's lock went with it";
        const std::string text = ReadWholeFile(path);
        EXPECT_TRUE(text == documents[0] || text == documents[1]) << text.size();
        EXPECT_EQ(file.Load().note, "");
        // A killed write's temporary file is cleared by the next copy that takes the lock.
        EXPECT_EQ(std::distance(fs::directory_iterator(folder.Path()), fs::directory_iterator()), 2);
    }
}
