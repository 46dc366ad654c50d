// The fragment fetch as a table over a loopback file server, with HLS sets the real ffmpeg makes
// at test time (TS, one file with byte ranges, fMP4 with its map, AES-128 with and without an
// IV): each row's work file against the fragments' bytes (decrypted by the openssl tool), the
// events, the connections, and the faults of a server (a cut, 404s, a web page, a stall, the
// abort, a short key).

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <thread>

#include "core/StrUtils.h"
#include "job/fetch/FragmentFetch.h"
#include "job/streams/HlsPlaylist.h"
#include "support/ChildProcess.h"
#include "support/FileSite.h"
#include "support/TempFolder.h"
#include "support/TestData.h"

using namespace tarnwick;
using namespace tarnwick::testing;
using namespace std::chrono_literals;

namespace {

constexpr const char* kKeyHex = "00112233445566778899aabbccddeeff";
constexpr const char* kIvHex = "0f0e0d0c0b0a09080706050403020100";

// The sets, made once: each its playlist "<set>.m3u8" and its files in one folder.
class Sets {
public:
    Sets() {
        std::ofstream(folder_ / "k.key", std::ios::binary) << Bytes(kKeyHex);
        const std::string keyLines = "k.key\n" + folder_ / "k.key" + "\n";
        std::ofstream(folder_ / "iv.info") << keyLines << kIvHex << "\n";
        std::ofstream(folder_ / "noiv.info") << keyLines;
        Make("ts", {"-hls_segment_filename", folder_ / "ts%d.ts"});
        Make("range", {"-hls_flags", "single_file"});
        Make("fmp4", {"-hls_segment_type", "fmp4", "-hls_fmp4_init_filename", "f.mp4",
                      "-hls_segment_filename", folder_ / "f%d.m4s"});
        Make("aes", {"-hls_key_info_file", folder_ / "iv.info", "-hls_segment_filename",
                     folder_ / "a%d.ts"});
        Make("aesnoiv", {"-hls_key_info_file", folder_ / "noiv.info", "-hls_segment_filename",
                         folder_ / "n%d.ts"});
        for (const auto& entry : std::filesystem::directory_iterator(folder_.Path()))
            files["/" + entry.path().filename().string()] = ReadWholeFile(entry.path());
        // ffmpeg writes the IV it used; without it, each fragment's is its sequence number.
        std::string& noIv = files["/aesnoiv.m3u8"];
        const std::size_t iv = noIv.find(",IV=");
        noIv.erase(iv, noIv.find('\n', iv) - iv);
    }
    std::map<std::string, std::string> files;

    // The bytes the fragment stands for: its range of its file, decrypted when it has a key.
    std::string Expected(const TStreamFragment& f, const std::string& path) const {
        std::string bytes = files.at(path);
        if (f.range) bytes = bytes.substr(f.range->offset, f.range->length);
        if (f.key.address.empty()) return bytes;
        std::ofstream(folder_ / "piece", std::ios::binary) << bytes;
        std::string iv;
        for (const std::uint8_t b : f.key.iv) iv += Format("%02x", b);
        const std::vector<std::string> args{"enc", "-d", "-aes-128-cbc", "-K", kKeyHex,
                                            "-iv", iv, "-in", folder_ / "piece"};
        const std::string plain = RunProgram("openssl", args).out;
        EXPECT_EQ(plain.substr(0, 1), "G") << "not the TS sync byte: not the IV it was made with";
        return plain;
    }

private:
    static std::string Bytes(const std::string& hex) {
        std::string out;
        for (std::size_t i = 0; i < hex.size(); i += 2)
            out += char(std::stoi(hex.substr(i, 2), nullptr, 16));
        return out;
    }
    void Make(const std::string& set, std::vector<std::string> extra) {
        // A keyframe a second, so that each fragment is one second.
        std::vector<std::string> args{
            "-v", "error", "-f", "lavfi", "-i", "testsrc=duration=6:size=160x120:rate=10",
            "-f", "lavfi", "-i", "sine=duration=6", "-c:v", "libx264", "-g", "10", "-c:a", "aac",
            "-f", "hls", "-hls_time", "1", "-hls_playlist_type", "vod"};
        args.insert(args.end(), extra.begin(), extra.end());
        args.push_back(folder_ / (set + ".m3u8"));
        ASSERT_EQ(RunProgram("ffmpeg", args).status, 0) << set;
    }
    TempFolder folder_;
};

// What the fetch told, in order.
struct Told final : TFetchEvents {
    void MediaType(const std::string& type) override { types.push_back(type); }
    void TryStarts(std::int64_t offset, std::int64_t total) override {
        tries.push_back({offset, total});
    }
    void BytesHeld(std::int64_t count) override { held.push_back(count); }
    void Waiting(const std::string& text) override { waits.push_back(text); }
    void TransferEnds(std::int64_t count) override { ends.push_back(count); }
    bool Proceed(TFetchMoment) override { return true; }
    std::vector<std::string> types, waits;
    std::vector<std::pair<std::int64_t, std::int64_t>> tries;
    std::vector<std::int64_t> held, ends;
};

struct Row {
    const char* name;
    const char* set;
    int connections;
    int faulted;  // the fragment whose file gets the fault; -1: none
    SiteFault fault;
    std::string failure;  // empty: the stream comes whole
    std::int64_t bytesHeld = kFragmentBytesHeld;
    bool shortKey = false, abort = false;
};

std::string PathOf(const std::string& address) { return address.substr(address.find('/', 7)); }

TEST(FragmentFetch, Table) {
    const Sets sets;
    const std::vector<Row> rows = {
        {"one connection carries every fragment", "ts", 1, -1, {}, ""},
        {"four connections, fragments past the memory bound", "ts", 4, -1, {}, "", 1000},
        {"byte ranges, a cut one continued", "range", 4, 0, {SiteFault::kCut, 1, 1000}, ""},
        {"fMP4 with its map, 404 twice then 200", "fmp4", 4, 2, {SiteFault::kNotFound, 2}, ""},
        {"a stall, then the fragment", "ts", 2, 1, {SiteFault::kStall, 1}, ""},
        {"AES-128 with an IV", "aes", 4, -1, {}, ""},
        {"AES-128, the sequence number as IV", "aesnoiv", 3, -1, {}, ""},
        {"another part than asked for", "range", 2, 3, {SiteFault::kShifted, 99}, "another part"},
        {"a web page in a fragment's place", "ts", 4, 3, {SiteFault::kWebPage, 1}, "web page"},
        {"a cut at every try", "ts", 4, 2, {SiteFault::kCut, 99, 500}, "Closed Gracefully"},
        {"a key of 15 bytes", "aes", 2, -1, {}, "15 bytes long, not 16", kFragmentBytesHeld, true},
        {"the abort mid-stream", "ts", 4, 3, {SiteFault::kStall, 99}, "Not Connected",
         kFragmentBytesHeld, false, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        std::map<std::string, std::string> files = sets.files;
        if (row.shortKey) files["/k.key"].resize(15);
        const std::string playlist = "/" + std::string(row.set) + ".m3u8";
        // The faulted path is known once the playlist is read against the site's address.
        const THlsPlaylist read =
            ReadHlsPlaylist(files.at(playlist), "http://127.0.0.1:1" + playlist);
        ASSERT_EQ(read.kind, THlsPlaylist::TKind::Media);
        const std::string faulted =
            row.faulted < 0 ? "" : PathOf(read.fragments[row.faulted].part.address);
        FileSite site(files, {{faulted, row.fault}});
        const THlsPlaylist media = ReadHlsPlaylist(files.at(playlist), site.Url(playlist));
        TMediaStream stream;
        stream.protocol = "fragments";
        stream.seconds = media.seconds;
        stream.bandwidth = 80000;
        std::string expected;
        for (const THlsFragment& f : media.fragments) {
            stream.fragments.push_back(f.part);
            stream.fragments.back().key = f.key;
            expected += sets.Expected(stream.fragments.back(), PathOf(f.part.address));
        }
        const TempFolder work;
        TFetchTarget target;
        target.path = work / "media.part";
        target.stallTimeout = row.abort ? 3000 : 1000;
        target.resume.FirstWait = 10ms;
        target.resume.LongestWait = 40ms;
        target.connections = row.connections;
        Told told;
        TIdAbortSignal abort;
        std::chrono::steady_clock::time_point aborted;
        // The abort row aborts once the stalled fragment is asked for; any other row after a
        // minute, so that a fetch that hangs fails its row rather than the suite's time limit.
        std::jthread aborter([&](std::stop_token stop) {
            const auto limit = std::chrono::steady_clock::now() + 60s;
            while (!stop.stop_requested() && std::chrono::steady_clock::now() < limit &&
                   !(row.abort && !site.Requests(faulted).empty()))
                std::this_thread::sleep_for(5ms);
            if (stop.stop_requested()) return;
            aborted = std::chrono::steady_clock::now();
            abort.Abort();
        });
        std::string failure;
        try {
            TFragmentFetch(row.bytesHeld).Fetch(stream, target, told, abort);
        } catch (const std::exception& e) {
            failure = e.what();
        }
        aborter.request_stop();
        aborter.join();
        ASSERT_EQ(told.ends.size(), 1u);
        EXPECT_LE(site.Requests("/k.key").size(), 1u);
        if (row.abort) {
            EXPECT_LT(std::chrono::steady_clock::now() - aborted, 1s);
        }
        if (!row.failure.empty()) {
            EXPECT_NE(failure.find(row.failure), std::string::npos) << failure;
            EXPECT_FALSE(std::filesystem::exists(target.path));
            if (row.fault.kind == SiteFault::kCut) {
                EXPECT_EQ(site.Requests(faulted).size(), 10u);
            }
            continue;
        }
        ASSERT_EQ(failure, "");
        const std::string saved = ReadWholeFile(target.path);
        EXPECT_TRUE(saved == expected) << saved.size() << " bytes, not " << expected.size();
        const auto size = std::int64_t(saved.size());
        EXPECT_EQ(told.tries.front(),
                  std::make_pair(std::int64_t{0}, std::int64_t(media.seconds * 10000)));
        EXPECT_EQ(told.tries.back().second, size);
        EXPECT_TRUE(std::is_sorted(told.held.begin(), told.held.end()));
        EXPECT_EQ(told.held.size(), stream.fragments.size());
        EXPECT_EQ(told.held.back(), size);
        EXPECT_EQ(told.ends.front(), size);
        EXPECT_EQ(told.types, std::vector<std::string>{"video/mp2t"});
        // Connections are kept: a new one only after a fault closed one.
        const bool closes =
            row.fault.kind == SiteFault::kCut || row.fault.kind == SiteFault::kStall;
        EXPECT_LE(site.Connections(), row.connections + (closes ? row.fault.times : 0));
        EXPECT_EQ(told.waits.size(), std::size_t(row.faulted < 0 ? 0 : row.fault.times));
        if (row.fault.kind == SiteFault::kCut) {
            // The cut request's range, continued after the bytes that came.
            const std::vector<std::string> heads = site.Requests(faulted);
            const std::size_t first = std::stoul(heads[0].substr(heads[0].find("bytes=") + 6));
            const std::string resumed =
                "Range: bytes=" + std::to_string(first + row.fault.cutAt) + "-";
            EXPECT_TRUE(std::any_of(heads.begin() + 1, heads.end(), [&](const std::string& head) {
                return head.find(resumed) != std::string::npos;
            })) << resumed;
        }
    }
}

}  // namespace
