// The window running real jobs: the substitute lookup service on loopback serves the record, the
// preview and the media, and the real ffmpeg converts.
#include <QBuffer>
#include <QComboBox>
#include <QImage>
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
#include "job/session/StatusTexts.h"
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
        EXPECT_TRUE(Find<QLineEdit>("Edit1").isEnabled()) << "open for the next address";
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

// A media server that announces no length and ends the body by closing: the line reads "of 0 Kb"
// and the bar shows activity instead of a fraction; a preview cut in half shows the default
// picture.
TEST_F(WindowJob, UnknownTotalShowsZeroKbAndActivity) {
    const std::string media = Samples().flv;
    const std::string halfPreview = Samples().preview.substr(0, Samples().preview.size() / 2);
    LoopbackPeer mediaServer([&](PeerConnection& connection) {
        const std::string head = connection.ReceiveUntil("\r\n\r\n");
        if (head.starts_with("GET /p.jpg ")) {
            connection.Send("HTTP/1.0 200 OK\r\n\r\n" + halfPreview);
            connection.Close();
            return;
        }
        connection.Send("HTTP/1.0 200 OK\r\nContent-Type: video/x-flv\r\n\r\n");
        connection.SendInPieces(media, 8192, std::chrono::milliseconds(40));
        connection.Close();
    });
    const std::string base = "http://127.0.0.1:" + mediaServer.PortText();
    const std::string record = "author=Ann|title=t|length=0:02|size=s|filename=clip|fileext=flv|preview=" + base +
                               "/p.jpg|url=" + base + "/clip.flv";
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
    EXPECT_TRUE(ShowsDefaultPreview()) << "a preview that cannot be read";
    ASSERT_TRUE(Until([&] { return Idle(); }, JobLimit)) << Trace();
    EXPECT_EQ(Status(), "Download is completed.");
    ExpectIdleAgain();
    EXPECT_TRUE(ReadWholeFile(SaveFolder() / "clip.flv") == media);
}

// The button aborts the job (the session's table tries every other moment).
TEST_F(WindowJob, AbortButtonEndsTheTransfer) {
    // A PNG preview shows as a JPEG does.
    QImage picture(120, 90, QImage::Format_RGB32);
    picture.fill(Qt::darkGreen);
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    ASSERT_TRUE(picture.save(&buffer, "PNG"));
    CatalogueEntry entry = Entry(Samples().flv);
    entry.preview = png.toStdString();
    LookupService service({entry});
    StartJob(service.PortText());
    ASSERT_TRUE(Until([&] { return Status().startsWith(Utf8("clip.avi \u2014 ")); }, 10000)) << Trace();
    EXPECT_FALSE(ShowsDefaultPreview()) << "the preview from a PNG";
    QTest::mouseClick(&Find<QPushButton>("DownloadButton"), Qt::LeftButton);
    ASSERT_TRUE(Until([&] { return Idle(); }, 5000)) << Trace();
    EXPECT_EQ(Status(), "Download aborted.");
    EXPECT_EQ(Find<QLabel>("MessagePanel").toolTip(), "Stopped by the user.");
    ExpectIdleAgain();
    EXPECT_TRUE(Saved().empty());
}
