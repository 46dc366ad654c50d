// Whole jobs with the built-in lookup: `tarnwick-download --format 0` as a black box, in a build
// that names no lookup service, against pages on a loopback site, one row per way a page carries
// its video and per hostile page; yt-dlp for real on a page only it reads, and absent from the
// PATH.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "job/lookup/LookupQuery.h"
#include "job/lookup/LookupTexts.h"
#include "support/ChildProcess.h"
#include "support/LoopbackSite.h"
#include "support/TempFolder.h"
#include "support/TestData.h"

using namespace tarnwick;
using namespace tarnwick::testing;
namespace fs = std::filesystem;

namespace {

std::string Media(char tag, std::size_t size) { return tag + PatternText(size); }

std::string Meta(const std::string& property, const std::string& content) {
    return "<meta property=\"" + property + "\" content=\"" + content + "\">";
}

class BuiltinLookupJob : public ::testing::Test {
protected:
    void SetUp() override {
        if (!DefaultLookupEndpoint().Host.empty())
            GTEST_SKIP() << "this build names a lookup service (TARNWICK_LOOKUP_HOST)";
        fs::create_directories(folder_ / "work");
        const char* path = std::getenv("PATH");
        path_ = path ? path : "/usr/bin:/bin";
    }
    void TearDown() override { ::setenv("PATH", path_.c_str(), 1); }

    // Runs the job for address; withYtDlp leaves the PATH as it is, otherwise it holds nothing.
    ProgramRun Download(const std::string& address, bool hd = false, bool withYtDlp = false) {
        fs::remove_all(Save());
        ::setenv("PATH", withYtDlp ? path_.c_str() : folder_.Path().c_str(), 1);
        std::vector<std::string> args = {"--format", "0", "--work-dir", folder_ / "work",
                                         "--save-dir", Save().string(), address};
        if (hd) args.insert(args.begin(), "--hd");
        return RunProgram(TARNWICK_DOWNLOAD_TOOL, args);
    }
    fs::path Save() const { return fs::path(folder_.Path()) / "save"; }
    // The one file the job saved, as name and bytes.
    std::pair<std::string, std::string> Saved() const {
        std::vector<fs::path> files;
        if (fs::exists(Save()))
            for (const auto& entry : fs::directory_iterator(Save())) files.push_back(entry.path());
        if (files.size() != 1) return {};
        return {files[0].filename().string(), ReadWholeFile(files[0])};
    }

    TempFolder folder_;
    std::string path_;
};

}  // namespace

TEST_F(BuiltinLookupJob, EachWayAPageCarriesItsVideoAndEachHostilePage) {
    struct Row {
        const char* name;
        std::map<std::string, SiteAnswer> site;
        std::string media;   // what the save folder gets; empty: the job fails
        std::string reason = {};  // then why
        bool hd = false;
    };
    const std::string ld = Media('L', 200000), og = Media('O', 1000), tw = Media('T', 1000),
                      sd = Media('S', 1000), full = Media('F', 1000), direct = Media('D', 5000);
    const std::string video = "<video><source src=/m/1080.mp4 data-res=1080>"
                              "<source src=/m/360.mp4 label=360p><source src=/m/720.mp4 res=720>";
    const std::map<std::string, SiteAnswer> qualities = {
        {"/p", PageAnswer(video)},
        {"/m/1080.mp4", MediaAnswer(full)},
        {"/m/360.mp4", MediaAnswer(sd)},
        {"/m/720.mp4", MediaAnswer(Media('7', 10))}};
    const std::string notInstalled = " " + std::string(kHelperMissingHint);
    SiteAnswer endless = PageAnswer("", "text/html");
    endless.bytes = "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n\r\n" +
                    Meta("og:video", "/m/og.mp4");
    endless.tail = SiteAnswer::kEndless;
    const Row rows[] = {
        {"JSON-LD in @graph",
         {{"/p", PageAnswer("<script type=application/ld+json>{\"@graph\": [{\"@type\": "
                            "\"VideoObject\", \"contentUrl\": \"m/ld.mp4\"}]}</script>")},
          {"/m/ld.mp4", MediaAnswer(ld)}},
         ld},
        {"Open Graph", {{"/p", PageAnswer(Meta("og:video:url", "/m/og.mp4"))},
                        {"/m/og.mp4", MediaAnswer(og)}}, og},
        {"Twitter card", {{"/p", PageAnswer(Meta("twitter:player:stream", "/m/tw.mp4"))},
                          {"/m/tw.mp4", MediaAnswer(tw)}}, tw},
        {"<source> nearest 480 lines", qualities, sd},
        {"<source> highest for HD", qualities, full, "", true},
        {"JSON-LD frame sizes for HD",
         {{"/p", PageAnswer("<script type=application/ld+json>[{\"@type\": \"VideoObject\", "
                            "\"contentUrl\": \"/m/360.mp4\", \"height\": 360}, {\"@type\": "
                            "\"VideoObject\", \"contentUrl\": \"/m/1080.mp4\", \"width\": "
                            "1920}]</script>")},
          {"/m/1080.mp4", MediaAnswer(full)}, {"/m/360.mp4", MediaAnswer(sd)}},
         full, "", true},
        {"lazy loading that fails, then a link to the file",
         {{"/p", PageAnswer("<video data-src=/m/gone.mp4></video><a href=/m/og.mp4 download>")},
          {"/m/og.mp4", MediaAnswer(og)}},
         og},
        {"direct link", {{"/p", MediaAnswer(direct, "Content-Type: application/octet-stream\r\n"
                                                    "Content-Disposition: attachment; "
                                                    "filename=\"clip.flv\"\r\n")}},
         direct},
        {"a candidate that is a page",
         {{"/p", PageAnswer(Meta("og:video", "/embed") + "<video src=/m/og.mp4>")},
          {"/embed", PageAnswer("<title>player</title>")}, {"/m/og.mp4", MediaAnswer(og)}},
         og},
        {"a wrong charset",
         {{"/p", PageAnswer("<title>Caf\xE9</title>" + Meta("og:video", "/m/og.mp4"),
                            "text/html; charset=x-unknown")},
          {"/m/og.mp4", MediaAnswer(og)}},
         og},
        {"deep JSON",
         {{"/p", PageAnswer("<script type=application/ld+json>{\"@type\": \"VideoObject\", "
                            "\"x\": " + std::string(200000, '[') + std::string(200000, ']') +
                            ", \"contentUrl\": \"/m/og.mp4\"}</script>")},
          {"/m/og.mp4", MediaAnswer(og)}},
         og},
        {"a huge page",
         {{"/p", PageAnswer(Meta("og:video", "/m/og.mp4") + std::string(10 << 20, ' '))},
          {"/m/og.mp4", MediaAnswer(og)}},
         og},
        {"a page without end", {{"/p", endless}, {"/m/og.mp4", MediaAnswer(og)}}, og},
        {"no video", {{"/p", PageAnswer("<title>Nothing</title>")}}, "",
         std::string(kNoVideoOnPageHint) + notInstalled},
        {"404", {}, "",
         std::string(kPageFailedHint) + "HTTP/1.1 404 Not Found." + notInstalled},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const LoopbackSite site(row.site);
        const ProgramRun run = Download(site.Url("/p"), row.hd);
        if (row.media.empty()) {
            EXPECT_EQ(run.status, 1);
            EXPECT_EQ(run.out, "Video file is unavailable.\n");
            EXPECT_EQ(run.err, "reason: " + row.reason + "\n");
            EXPECT_EQ(Saved().first, "");
        } else {
            EXPECT_EQ(run.status, 0) << run.out << run.err;
            EXPECT_TRUE(Saved().second == row.media) << Saved().first;
        }
    }
}

// One job followed through: what the description shows, the name the file gets, and the requests
// of the preview and the media carrying the page as Referer and the lookup's User-Agent.
TEST_F(BuiltinLookupJob, ThePageDescribesTheVideoAndTheMediaIsAskedForAsFromThePage) {
    const std::string clip = Media('C', 300000);
    const LoopbackSite site({
        {"/watch/page.html",
         PageAnswer("<title>Site</title><script type=\"application/ld+json\">{\"@type\": "
                    "\"VideoObject\", \"name\": \"Tom &amp; Jerry\", \"author\": [{\"name\": "
                    "\"Ann\"}, \"Bob\"], \"duration\": \"PT1M5S\", \"thumbnailUrl\": "
                    "\"/i.jpg\", \"contentUrl\": \"/m/c.mp4\"}</script>")},
        {"/i.jpg", MediaAnswer("jpeg", "Content-Type: image/jpeg\r\n")},
        {"/m/c.mp4", MediaAnswer(clip)},
    });
    const ProgramRun run = Download(site.Url("/watch/page.html"));
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(run.out.starts_with("author: Ann, Bob\ntitle: Tom & Jerry\nduration: 1:05\n"
                                    "size: 293.0 KB\nDownload started.\n"))
        << run.out;
    EXPECT_EQ(Saved().first, "Tom & Jerry.mp4");
    EXPECT_TRUE(Saved().second == clip);

    const std::vector<std::string> requests = site.Requests();
    ASSERT_EQ(requests.size(), 4u);  // the page, the candidate's head, the preview, the media
    const std::string ua = "User-Agent: " + std::string(kLookupUserAgent) + "\r\n";
    const std::string referer = "Referer: " + site.Url("/watch/page.html") + "\r\n";
    EXPECT_EQ(requests[0].find("Referer:"), std::string::npos);
    for (const std::string& request : requests) EXPECT_NE(request.find(ua), std::string::npos);
    for (std::size_t i = 1; i < 4; ++i) EXPECT_NE(requests[i].find(referer), std::string::npos);
    EXPECT_TRUE(requests[2].starts_with("GET /i.jpg ")) << requests[2];
}

// A player set up by a script is yt-dlp's to read; without yt-dlp the job says what is missing.
TEST_F(BuiltinLookupJob, YtDlpReadsWhatThePageReaderCannot) {
    const std::string clip = Media('Y', 50000);
    const LoopbackSite site({
        {"/jw.html", PageAnswer("<title>JW</title><div id=player></div><script>"
                                "jwplayer(\"player\").setup({file: \"/m/clip.mp4\", "
                                "title: \"Scripted clip\"});</script>")},
        {"/m/clip.mp4", MediaAnswer(clip)},
    });
    const ProgramRun helped = Download(site.Url("/jw.html"), false, true);
    EXPECT_EQ(helped.status, 0) << helped.out << helped.err;
    EXPECT_EQ(Saved().first, "Scripted clip.mp4");
    EXPECT_TRUE(Saved().second == clip);
    // The media request goes out with yt-dlp's headers, not the page reader's.
    const std::vector<std::string> requests = site.Requests();
    ASSERT_FALSE(requests.empty());
    EXPECT_TRUE(requests.back().starts_with("GET /m/clip.mp4 ")) << requests.back();
    EXPECT_EQ(requests.back().find("Tarnwick"), std::string::npos) << requests.back();

    const ProgramRun alone = Download(site.Url("/jw.html"));
    EXPECT_EQ(alone.status, 1);
    EXPECT_EQ(alone.err, "reason: " + std::string(kNoVideoOnPageHint) + " " +
                             std::string(kHelperMissingHint) + "\n");
}
