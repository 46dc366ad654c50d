// The window's queue outlives a kill -9 in the middle of a transfer: the next start goes on by
// itself and continues the broken transfer with Range from the kept file, under the validator it
// came with. The real window runs as a child process (app_window_child), killed by the test.
#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <signal.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <thread>
#include <utility>
#include <vector>

#include "job/fetch/KeptState.h"
#include "support/ChildProcess.h"
#include "support/LookupService.h"
#include "support/TestData.h"

using namespace tarnwick::testing;
namespace fs = std::filesystem;

namespace {

// Random bytes: a piece out of place shows wherever it lands.
std::string RandomBytes(std::size_t size) {
    std::mt19937_64 random(20261208);
    std::string bytes(size, '\0');
    for (char& c : bytes) c = static_cast<char>(random() & 0xFF);
    return bytes;
}

// A media log line: "NAME range=R if-range=V STATUS", V a date with blanks of its own.
struct MediaRequest {
    std::string range, ifRange, status;
};

std::vector<MediaRequest> MediaRequests(const std::string& log) {
    std::vector<MediaRequest> requests;
    std::istringstream lines(log);
    for (std::string line; std::getline(lines, line);) {
        const auto range = line.find(" range="), ifRange = line.find(" if-range="), last = line.rfind(' ');
        if (range == std::string::npos || ifRange == std::string::npos || last < ifRange) continue;
        requests.push_back({line.substr(range + 7, ifRange - range - 7),
                            line.substr(ifRange + 10, last - ifRange - 10), line.substr(last + 1)});
    }
    return requests;
}

// The bytes the requests asked for: a 200 answer is the whole file; an open range "bytes=A-"
// runs to the next range asked from further on (a transfer split over connections reads only its
// own part) or to the end.
std::int64_t BytesAsked(const std::vector<MediaRequest>& requests, std::int64_t size) {
    std::vector<std::pair<std::int64_t, std::int64_t>> spans;  // first byte, end (-1: open)
    for (const MediaRequest& request : requests) {
        const std::string span = request.range.substr(request.range.find('=') + 1);
        const std::size_t dash = span.find('-');
        if (request.status != "206")
            spans.emplace_back(0, size);
        else
            spans.emplace_back(std::stoll(span.substr(0, dash)),
                               dash + 1 < span.size() ? std::stoll(span.substr(dash + 1)) + 1 : -1);
    }
    std::int64_t asked = 0;
    for (const auto& [start, end] : spans) {
        std::int64_t stop = end >= 0 ? end : size;
        for (const auto& other : spans)
            if (end < 0 && other.first > start) stop = std::min(stop, other.first);
        asked += stop - start;
    }
    return asked;
}

// The queue file's only entry; an empty object (and a failure) when it is not whole JSON of one.
QJsonObject QueuedEntry(const fs::path& file) {
    QJsonParseError error;
    const QJsonDocument document =
        QJsonDocument::fromJson(QByteArray::fromStdString(ReadWholeFile(file)), &error);
    EXPECT_EQ(error.error, QJsonParseError::NoError) << file << ": " << error.errorString().toStdString();
    EXPECT_EQ(document.object().value("tarnwick-queue").toInt(), 1);
    const QJsonArray entries = document.object().value("entries").toArray();
    EXPECT_EQ(entries.size(), 1);
    return entries.at(0).toObject();
}

// What the kept transfer's state says it holds: the file's bytes, or those outside the spans a
// split one lacks; -1 while there is none.
struct KeptBytes {
    std::int64_t held = -1;
    bool split = false;
};

KeptBytes KeptNow(const fs::path& folder) {
    std::error_code error;
    for (const auto& file : fs::directory_iterator(folder, error)) {
        if (file.path().filename().string().find('.') != std::string::npos) continue;
        const tarnwick::TKeptState state = tarnwick::ReadKeptState(file.path().string());
        if (state.validator.empty()) return {};
        if (state.split.total < 0)
            return {state.held >= 0 ? state.held : static_cast<std::int64_t>(fs::file_size(file.path(), error)), false};
        std::int64_t held = state.split.total;
        for (const auto& span : state.split.missing) held -= span.end - span.from;
        return {held, true};
    }
    return {};
}

std::string Text(const QJsonObject& entry, const char* key) { return entry.value(key).toString().toStdString(); }

}  // namespace

class WindowRestart : public ::testing::TestWithParam<int> {};

TEST_P(WindowRestart, GoesOnAfterAKillAndContinuesTheTransferWithRange) {
    const std::string connections = std::to_string(GetParam());
    CatalogueEntry video;
    video.address = "https://www.youtube.com/watch?v=restart";
    video.filename = "clip";
    video.media = RandomBytes(12 * 1024 * 1024);
    const auto size = static_cast<std::int64_t>(video.media.size());
    // Slow enough to be cut, with a Last-Modified date that a Range is honoured under.
    video.extra = {{"rate", "1000000"}, {"validator", "1"}};
    LookupService service({video});
    QTemporaryDir home;
    ASSERT_TRUE(home.isValid());
    const fs::path queueFolder = fs::path(home.path().toStdString()) / ".local/share/tarnwick";
    const fs::path saveFolder = fs::path(home.path().toStdString()) / "My Web Videos";
    const auto window = [&](const char* mode) {
        return std::vector<std::string>{TARNWICK_WINDOW_CHILD, home.path().toStdString(), service.PortText(),
                                        video.address, mode, connections};
    };

    const fs::path keptFolder = queueFolder / "kept";
    {
        ChildProcess first(window("cut"));
        const auto line = first.ReadLine(std::chrono::seconds(90));
        ASSERT_TRUE(line && line->starts_with("under way ")) << line.value_or("(none)") << first.ErrorOutput();
        // Killed once the kept state speaks of a MiB held.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (KeptNow(keptFolder).held < (1 << 20) && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        ASSERT_EQ(::kill(first.Pid(), SIGKILL), 0);
        ASSERT_EQ(first.Wait(std::chrono::seconds(10)), 128 + SIGKILL);
    }
    // A request the server had taken before the kill reaches its log once the server sees the
    // connection gone: the first run's lines are those logged until the log stands still.
    std::string firstLog = service.MediaLog();
    for (int still = 0, rounds = 0; still < 5 && rounds < 100; ++rounds) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        const std::string now = service.MediaLog();
        still = now == firstLog ? still + 1 : 0;
        firstLog = now;
    }

    const QJsonObject cut = QueuedEntry(queueFolder / "queue.json");
    EXPECT_EQ(Text(cut, "address"), video.address);
    EXPECT_TRUE(Text(cut, "state") == "running" || Text(cut, "state") == "waiting") << Text(cut, "state");
    EXPECT_NE(Text(cut, "kept"), "");
    const KeptBytes kept = KeptNow(keptFolder);
    const std::int64_t held = kept.held;
    EXPECT_GE(held, 1 << 20) << "the bytes held are kept";
    EXPECT_EQ(kept.split, GetParam() > 1) << "a file split over connections is kept with its gaps";
    if (!kept.split) {
        // Bytes past what the state calls held, as a power cut may leave them, are not trusted.
        std::ofstream(keptFolder / Text(cut, "kept"), std::ios::binary | std::ios::app) << std::string(4096, 'z');
    }

    ChildProcess second(window("resume"));
    const auto saved = second.ReadLine(std::chrono::seconds(120));
    const fs::path savedFile = saveFolder / "clip.flv";
    ASSERT_EQ(saved, "saved " + savedFile.string()) << second.ErrorOutput();
    EXPECT_EQ(second.Wait(std::chrono::seconds(10)), 0) << second.ErrorOutput();

    EXPECT_TRUE(ReadWholeFile(savedFile) == video.media) << "the saved file is the media, byte for byte";
    const std::string log = service.MediaLog();
    const std::vector<MediaRequest> requests = MediaRequests(log.substr(firstLog.size()));
    ASSERT_FALSE(requests.empty()) << log;
    for (const MediaRequest& request : requests) {
        EXPECT_TRUE(request.range.starts_with("bytes=") && !request.range.starts_with("bytes=0-")) << log;
        EXPECT_TRUE(request.ifRange.ends_with(" GMT")) << "under the date the kept bytes came with\n" << log;
        EXPECT_EQ(request.status, "206") << log;
    }
    const std::int64_t asked = BytesAsked(requests, size);
    std::printf("killed with %lld bytes held; the next run asked for %lld of %lld\n", static_cast<long long>(held),
                static_cast<long long>(asked), static_cast<long long>(size));
    EXPECT_LE(asked, size - held) << "what was held is not fetched again\n" << log;
    std::error_code error;
    EXPECT_TRUE(fs::is_empty(keptFolder, error)) << "the kept transfer goes once saved";
    std::vector<std::string> left;
    for (const auto& item : fs::directory_iterator(saveFolder)) left.push_back(item.path().filename().string());
    EXPECT_EQ(left, std::vector<std::string>{"clip.flv"}) << "no work file beside the saved one";
    const QJsonObject done = QueuedEntry(queueFolder / "queue.json");
    EXPECT_EQ(Text(done, "state"), "saved");
    EXPECT_EQ(Text(done, "file"), savedFile.string());
    EXPECT_EQ(Text(done, "kept"), "");
}

// A transfer over one connection, and one split over several.
INSTANTIATE_TEST_SUITE_P(Connections, WindowRestart, ::testing::Values(1, 4),
                         [](const ::testing::TestParamInfo<int>& info) { return std::to_string(info.param); });
