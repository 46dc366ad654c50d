// The window running real jobs: the substitute lookup service on loopback serves the record, the
// preview and the media, and the real ffmpeg converts.
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>

#include <filesystem>
#include <functional>

#include "JobSamples.h"
#include "MainFormFixture.h"
#include "app/ProgressText.h"
#include "app/StatusBand.h"
#include "job/StatusTexts.h"
#include "support/LookupService.h"
#include "support/LoopbackPeer.h"
#include "support/TestData.h"

using namespace tarnwick;
using namespace tarnwick::testing;
namespace fs = std::filesystem;

namespace {

const char* const Address = "https://www.youtube.com/watch?v=window-test";
constexpr int JobLimit = 60000;  // milliseconds: a loaded machine converts slowly

QString Utf8(const char* text) { return QString::fromUtf8(text); }

CatalogueEntry Entry(const std::string& media, const char* fileext = "flv") {
    CatalogueEntry entry;
    entry.address = Address;
    entry.author = "Ann";
    entry.title = "A test pattern";
    entry.length = "0:02";
    entry.size = "130 Kb";
    entry.filename = "clip";
    entry.fileext = fileext;
    entry.preview = Samples().preview;
    entry.media = media;
    // Slow enough that the progress line and the preview can be seen.
    entry.extra["rate"] = "90000";
    return entry;
}

}  // namespace

class WindowJob : public MainFormFixture {
protected:
    void SetUp() override {
        MainFormFixture::SetUp();
        ASSERT_FALSE(Samples().flv.empty());
        ShowForm();
    }

    void StartJob(const std::string& port, const char* address = Address) {
        form_->SetLookupEndpoint({"127.0.0.1", port});
        Find<QLineEdit>("Edit1").setText(Utf8(address));
        QTest::mouseClick(&Find<QPushButton>("DownloadButton"), Qt::LeftButton);
    }

    // Runs the event loop until done() holds or ms pass.
    static bool Until(const std::function<bool()>& done, int ms) { return QTest::qWaitFor(done, ms); }
    std::string Trace() const { return "status line: " + Status().toStdString(); }

    QString Status() const { return Find<QLabel>("MessagePanel").text(); }
    bool Idle() const { return Find<QPushButton>("DownloadButton").text() == "Download"; }
    TStatusBand::TBar Bar() const { return Find<TStatusBand>("StatusBand").Bar(); }
    bool ShowsDefaultPreview() const {
        return Find<QLabel>("PreviewImage").pixmap().toImage() == Find<QLabel>("DefaultImage").pixmap().toImage();
    }
    fs::path SaveFolder() const { return form_->Settings().saveDirectory; }
    std::vector<std::string> Saved() const {
        std::vector<std::string> names;
        for (const auto& item : fs::directory_iterator(SaveFolder())) names.push_back(item.path().filename().string());
        return names;
    }

    void ExpectRunning() {
        EXPECT_EQ(Find<QPushButton>("DownloadButton").text(), "Abort");
        EXPECT_FALSE(Find<QLineEdit>("Edit1").isEnabled());
        EXPECT_FALSE(Find<QComboBox>("ComboBox1").isEnabled());
    }

    void ExpectIdleAgain() {
        EXPECT_TRUE(Idle());
        EXPECT_TRUE(Find<QLineEdit>("Edit1").isEnabled());
        EXPECT_TRUE(Find<QComboBox>("ComboBox1").isEnabled());
        EXPECT_EQ(Bar(), TStatusBand::TBar::None);
        EXPECT_FALSE(Find<QLabel>("SpeedPanel").isVisible());
        EXPECT_EQ(Find<QLabel>("MessagePanel").accessibleName(), Status());
        EXPECT_FALSE(form_->JobRunning());
    }
};

TEST_F(WindowJob, CompletedJobShowsEveryStageAndSavesTheConvertedVideo) {
    CatalogueEntry entry = Entry(Samples().flv);
    entry.extra["rate"] = "40000";  // a few seconds, so the speed shows
    LookupService service({entry});
    StartJob(service.PortText());
    ExpectRunning();

    ASSERT_TRUE(Until([&] { return Find<QLabel>("AuthorPanel").text() == "  Ann"; }, 10000)) << Trace();
    EXPECT_EQ(Find<QLabel>("TitlePanel").text(), "  A test pattern");
    EXPECT_EQ(Find<QLabel>("LengthPanel").text(), "  0:02");
    EXPECT_EQ(Find<QLabel>("SizePanel").text(), "  130 Kb");

    const QString total = QString::number(RoundedKb(static_cast<std::int64_t>(Samples().flv.size())));
    const QRegularExpression progress(Utf8("^clip\\.avi \u2014 \\d+ Kb of ") + total + " Kb$");
    ASSERT_TRUE(Until([&] { return progress.match(Status()).hasMatch(); }, 10000)) << Trace();
    EXPECT_FALSE(ShowsDefaultPreview()) << "the preview from default.jpg";
    EXPECT_EQ(Bar(), TStatusBand::TBar::Fraction);
    EXPECT_EQ(Find<QLabel>("MessagePanel").accessibleName(), Status());
    ExpectRunning();
    // The speed appears once half a second of the transfer has been measured.
    const QRegularExpression speed(Utf8("^\\d+(\\.\\d)? [KMG]?B/s \u00b7 \\d+:\\d\\d left$"));
    ASSERT_TRUE(Until([&] { return Find<QLabel>("SpeedPanel").isVisible(); }, 5000)) << Trace();
    EXPECT_TRUE(speed.match(Find<QLabel>("SpeedPanel").text()).hasMatch()) << Find<QLabel>("SpeedPanel").text().toStdString();

    ASSERT_TRUE(Until([&] { return Idle(); }, JobLimit)) << Trace();
    EXPECT_EQ(Status(), "Video file is successfully saved.");
    ExpectIdleAgain();
    const std::string saved = ReadWholeFile(SaveFolder() / "clip.avi");
    ASSERT_GE(saved.size(), 12u);
    EXPECT_EQ(saved.substr(0, 4), "RIFF");
    EXPECT_EQ(saved.substr(8, 4), "AVI ");
    EXPECT_EQ(Saved(), std::vector<std::string>{"clip.avi"}) << "nothing else in the save folder";
}

// One job per row, from the start to the window back at idle.
struct OutcomeCase {
    const char* name;
    std::function<CatalogueEntry()> entry;
    const char* address;   // the page address typed
    int format;            // -1: the default (6)
    bool hd;
    const char* progress;  // the progress line's start during the transfer; none when empty
    TStatusBand::TBar bar;  // during the transfer
    bool defaultPreview;   // during the transfer
    const char* finalText;
    const char* savedName;  // the file in the save folder; none when empty
    bool savedIsDownload;   // that file holds the downloaded bytes unchanged
};

class WindowJobOutcome : public WindowJob, public ::testing::WithParamInterface<OutcomeCase> {};

TEST_P(WindowJobOutcome, EndsWithTheRightTextAndFile) {
    const OutcomeCase& c = GetParam();
    const CatalogueEntry entry = c.entry();
    LookupService service({entry});
    if (c.hd) QTest::mouseClick(&Find<QRadioButton>("RadioButton2"), Qt::LeftButton);
    if (c.format >= 0) Find<QComboBox>("FormatComboBox").setCurrentIndex(c.format);
    StartJob(service.PortText(), c.address);

    if (*c.progress) {
        ASSERT_TRUE(Until([&] { return Status().startsWith(Utf8(c.progress)); }, 10000)) << Trace();
        EXPECT_EQ(Bar(), c.bar) << Trace();
        EXPECT_EQ(ShowsDefaultPreview(), c.defaultPreview);
    }
    ASSERT_TRUE(Until([&] { return Idle(); }, JobLimit)) << Trace();
    EXPECT_EQ(Status(), Utf8(c.finalText));
    ExpectIdleAgain();
    if (*c.savedName) {
        EXPECT_EQ(Saved(), std::vector<std::string>{c.savedName});
        if (c.savedIsDownload) {
            EXPECT_TRUE(ReadWholeFile(SaveFolder() / c.savedName) == entry.media);
        }
    } else {
        EXPECT_TRUE(Saved().empty());
    }
    if (std::string(c.finalText) == "Download aborted.") {
        EXPECT_FALSE(Find<QLabel>("MessagePanel").toolTip().isEmpty()) << "the reason, as a hint";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, WindowJobOutcome,
    ::testing::Values(
        OutcomeCase{"Unavailable", [] { return Entry(Samples().flv); }, "https://www.youtube.com/watch?v=unknown", -1,
                    false, "", TStatusBand::TBar::None, true, "Video file is unavailable.", "", false},
        OutcomeCase{"MediaNotFound",
                    [] {
                        CatalogueEntry e = Entry("");
                        e.extra["media"] = "\"absent.flv\"";
                        return e;
                    },
                    Address, -1, false, "", TStatusBand::TBar::None, true, "Download aborted.", "", false},
        OutcomeCase{"FormatZeroDeliversTheDownload", [] { return Entry(Samples().flv); }, Address, 0, false,
                    "clip.flv \u2014 ", TStatusBand::TBar::Fraction, false, "Download is completed.", "clip.flv",
                    true},
        OutcomeCase{"HighDefinition", [] { return Entry(Samples().mp4, "mp4"); }, Address, -1, true,
                    "clip.avi (HD) \u2014 ", TStatusBand::TBar::Fraction, false, "Video file is successfully saved.",
                    "clip.avi", false},
        OutcomeCase{"Mp4WithAnotherFormat", [] { return Entry(Samples().mp4, "mp4"); }, Address, 7, false,
                    "clip.mp3 \u2014 ", TStatusBand::TBar::Fraction, false, "Video file is successfully saved.",
                    "clip.mp3", false},
        OutcomeCase{"CorruptPreview",
                    [] {
                        CatalogueEntry e = Entry(Samples().flv);
                        e.preview = Samples().preview.substr(0, Samples().preview.size() / 2);
                        return e;
                    },
                    Address, 0, false, "clip.flv \u2014 ", TStatusBand::TBar::Fraction, true,
                    "Download is completed.", "clip.flv", true}),
    [](const ::testing::TestParamInfo<OutcomeCase>& info) { return std::string(info.param.name); });

// A media server that announces no length and ends the body by closing: the line reads "of 0 Kb"
// and the bar shows activity instead of a fraction.
TEST_F(WindowJob, UnknownTotalShowsZeroKbAndActivity) {
    const std::string media = Samples().flv;
    LoopbackPeer mediaServer([&](PeerConnection& connection) {
        connection.ReceiveUntil("\r\n\r\n");
        connection.Send("HTTP/1.0 200 OK\r\nContent-Type: video/x-flv\r\n\r\n");
        connection.SendInPieces(media, 8192, std::chrono::milliseconds(40));
        connection.Close();
    });
    const std::string record = "author=Ann|title=t|length=0:02|size=s|filename=clip|fileext=flv|preview=|url=http://127.0.0.1:" +
                               mediaServer.PortText() + "/clip.flv";
    LoopbackPeer lookup([&](PeerConnection& connection) {
        connection.ReceiveUntil("\r\n\r\n");
        connection.Send("HTTP/1.1 302 Found\r\nFile-Content: " + record + "\r\nContent-Length: 0\r\n\r\n");
        connection.Close();
    });
    Find<QComboBox>("FormatComboBox").setCurrentIndex(0);
    StartJob(lookup.PortText());

    const QRegularExpression progress(Utf8("^clip\\.flv \u2014 \\d+ Kb of 0 Kb$"));
    ASSERT_TRUE(Until([&] { return progress.match(Status()).hasMatch(); }, 10000)) << Trace();
    EXPECT_EQ(Bar(), TStatusBand::TBar::Activity);
    EXPECT_TRUE(ShowsDefaultPreview()) << "no preview address";
    ASSERT_TRUE(Until([&] { return Idle(); }, JobLimit)) << Trace();
    EXPECT_EQ(Status(), "Download is completed.");
    ExpectIdleAgain();
    EXPECT_TRUE(ReadWholeFile(SaveFolder() / "clip.flv") == media);
}

TEST_F(WindowJob, AbortEndsTheJobAtEachMoment) {
    // The lookup: a service that takes the request and never answers.
    {
        LoopbackPeer silent([](PeerConnection& connection) { connection.WaitForClose(std::chrono::seconds(30)); });
        StartJob(silent.PortText());
        ASSERT_TRUE(Until([&] { return silent.Accepted() == 1; }, 10000)) << Trace();
        QTest::mouseClick(&Find<QPushButton>("DownloadButton"), Qt::LeftButton);
        ASSERT_TRUE(Until([&] { return Idle(); }, 5000)) << Trace();
        EXPECT_EQ(Status(), "Download aborted.");
        ExpectIdleAgain();
    }
    // The preview: a picture server that takes the request and never answers.
    {
        LoopbackPeer silent([](PeerConnection& connection) { connection.WaitForClose(std::chrono::seconds(30)); });
        const std::string record = "author=Ann|title=t|length=0:02|size=s|filename=clip|fileext=flv|preview=http://127.0.0.1:" +
                                   silent.PortText() + "/p.jpg|url=http://127.0.0.1:" + silent.PortText() + "/clip.flv";
        LoopbackPeer lookup([&](PeerConnection& connection) {
            connection.ReceiveUntil("\r\n\r\n");
            connection.Send("HTTP/1.1 302 Found\r\nFile-Content: " + record + "\r\nContent-Length: 0\r\n\r\n");
            connection.Close();
        });
        StartJob(lookup.PortText());
        ASSERT_TRUE(Until([&] { return silent.Accepted() == 1; }, 10000)) << Trace();
        EXPECT_EQ(Find<QLabel>("AuthorPanel").text(), "  Ann");
        QTest::mouseClick(&Find<QPushButton>("DownloadButton"), Qt::LeftButton);
        ASSERT_TRUE(Until([&] { return Idle(); }, 5000)) << Trace();
        EXPECT_EQ(Status(), "Download aborted.");
        ExpectIdleAgain();
        EXPECT_EQ(silent.Accepted(), 1) << "no media request after the abort";
    }
    // The transfer.
    {
        LookupService service({Entry(Samples().flv)});
        StartJob(service.PortText());
        ASSERT_TRUE(Until([&] { return Status().startsWith(Utf8("clip.avi \u2014 ")); }, 10000)) << Trace();
        QTest::mouseClick(&Find<QPushButton>("DownloadButton"), Qt::LeftButton);
        ASSERT_TRUE(Until([&] { return Idle(); }, 5000)) << Trace();
        EXPECT_EQ(Status(), "Download aborted.");
        ExpectIdleAgain();
        EXPECT_TRUE(Saved().empty());
    }
    // The conversion: the converter is stopped and nothing is delivered; an earlier file of the
    // same name stays as it was.
    {
        CatalogueEntry entry = Entry(Samples().longFlv);
        entry.extra.erase("rate");
        LookupService service({entry});
        const fs::path earlier = SaveFolder() / "clip.avi";
        std::ofstream(earlier) << "an earlier clip";
        StartJob(service.PortText());
        ASSERT_TRUE(Until([&] { return Status() == "Decoding in progress."; }, 20000)) << Trace();
        EXPECT_EQ(Bar(), TStatusBand::TBar::Fraction);
        ExpectRunning();
        QTest::mouseClick(&Find<QPushButton>("DownloadButton"), Qt::LeftButton);
        ASSERT_TRUE(Until([&] { return Idle(); }, 5000)) << Trace();
        EXPECT_EQ(Status(), "Decoding aborted.");
        ExpectIdleAgain();
        EXPECT_EQ(Saved(), std::vector<std::string>{"clip.avi"});
        EXPECT_EQ(ReadWholeFile(earlier), "an earlier clip");
    }
}
