// The real window on an X display (Xvfb): saves pictures of both notebook pages into the build
// folder for people to look at, and checks what an X server actually shows.
#include <QCoreApplication>
#include <QDir>
#include <QFontInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>
#include <QWindow>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <utility>

#include "JobSamples.h"
#include "app/MainForm.h"
#include "support/LookupService.h"

using namespace tarnwick;

namespace {

// A desktop that fails the test if the window reaches out to it.
class TNoDesktop : public TDesktop {
public:
    void OpenUrl(const QUrl&) override { ADD_FAILURE() << "the screenshot opens nothing"; }
    QString ChooseFolder(QWidget*, const QString&, const QString&) override {
        ADD_FAILURE() << "the screenshot opens no dialog";
        return {};
    }
    void ShowMessage(QMessageBox&) override { ADD_FAILURE() << "the screenshot shows no message"; }
    // A job that ends while the window is not active sends a notice; the screenshot has no bus.
    void ShowNotice(const QString&, const QString&, std::function<void()>) override {}
    void ShowFile(const std::string&) override { ADD_FAILURE() << "the screenshot shows no file"; }
};

// Grabs the window from the X server once the pixel at probe shows the expected colour.
QImage GrabWhen(TMainForm& form, QPoint probe, QColor expected) {
    QImage shot;
    const bool shown = QTest::qWaitFor([&] {
        shot = form.screen()->grabWindow(form.winId()).toImage();
        return shot.valid(probe) && shot.pixelColor(probe) == expected;
    }, 5000);
    EXPECT_TRUE(shown) << "pixel " << probe.x() << "," << probe.y() << " never showed the expected colour";
    return shot;
}

void Save(const QImage& shot, const char* name) {
    const QString folder = QStringLiteral(TARNWICK_SCREENSHOT_DIR);
    ASSERT_TRUE(QDir().mkpath(folder));
    const QString path = folder + "/" + name;
    ASSERT_TRUE(shot.save(path)) << path.toStdString();
    std::printf("screenshot: %s\n", path.toLocal8Bit().constData());
}

}  // namespace

TEST(Screenshot, WindowOnAnXDisplay) {
    ASSERT_EQ(QGuiApplication::platformName(), "xcb") << "run under xvfb-run with QT_QPA_PLATFORM=xcb";
    QTemporaryDir home;
    ASSERT_TRUE(home.isValid());
    TMainForm form({home.path().toStdString(), QCoreApplication::applicationFilePath().toStdString()},
                   std::make_unique<TNoDesktop>());
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));

    ASSERT_NE(form.windowHandle(), nullptr);
    EXPECT_EQ(form.windowHandle()->geometry().size(), QSize(579, 291)) << "the client area on the X server";

    // Fonts asked for by name are met by their Linux substitutes.
    EXPECT_EQ(QFontInfo(form.findChild<QLabel*>("Panel20")->font()).family(), "Liberation Sans");
    EXPECT_EQ(QFontInfo(form.font()).family(), "DejaVu Sans");

    const QImage description = GrabWhen(form, {575, 56}, QColor(166, 202, 240));
    ASSERT_EQ(description.size(), QSize(579, 291));
    Save(description, "main-window.png");
    EXPECT_EQ(description.pixelColor(3, 3), QColor(255, 255, 255)) << "header band";
    EXPECT_EQ(description.pixelColor(575, 56), QColor(166, 202, 240)) << "description page";
    EXPECT_EQ(description.pixelColor(3, 180), QColor(255, 251, 240)) << "example band";
    EXPECT_EQ(description.pixelColor(148, 202), QColor(68, 140, 203)) << "address band";
    EXPECT_EQ(description.pixelColor(84, 238), QColor(255, 251, 240)) << "folder band";
    EXPECT_EQ(description.pixelColor(3, 288), QColor(192, 220, 192)) << "status band";

    QTest::mouseClick(form.findChild<QToolButton*>("SpeedButton1"), Qt::LeftButton);
    const QImage format = GrabWhen(form, {70, 75}, QColor(255, 251, 240));
    ASSERT_EQ(format.size(), QSize(579, 291));
    Save(format, "main-window-format.png");
    EXPECT_EQ(format.pixelColor(3, 56), QColor(166, 202, 240)) << "format page";
}

// A job seen on the X server: the progress bar behind the progress line with the speed at the
// band's right end, and the window back at idle after the video was saved.
TEST(Screenshot, JobOnAnXDisplay) {
    ASSERT_EQ(QGuiApplication::platformName(), "xcb") << "run under xvfb-run with QT_QPA_PLATFORM=xcb";
    using tarnwick::testing::Samples;
    ASSERT_FALSE(Samples().longFlv.empty());
    tarnwick::testing::CatalogueEntry entry;
    entry.address = "https://www.youtube.com/watch?v=screenshot";
    entry.author = "Tarnwick screenshot";
    entry.title = "Test pattern with a 440 Hz tone";
    entry.length = "0:40";
    entry.size = std::to_string(Samples().longFlv.size() / 1024) + " Kb";
    entry.filename = "screenshot-clip";
    entry.preview = Samples().preview;
    entry.media = Samples().longFlv;
    entry.extra["rate"] = "400000";
    tarnwick::testing::LookupService service({entry});

    QTemporaryDir home;
    ASSERT_TRUE(home.isValid());
    TMainForm form({home.path().toStdString(), QCoreApplication::applicationFilePath().toStdString()},
                   std::make_unique<TNoDesktop>());
    form.SetLookupEndpoint({"127.0.0.1", service.PortText()});
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    form.findChild<QLineEdit*>("Edit1")->setText(QString::fromStdString(entry.address));
    QTest::mouseClick(form.findChild<QPushButton*>("DownloadButton"), Qt::LeftButton);

    auto* speed = form.findChild<QLabel*>("SpeedPanel");
    ASSERT_TRUE(QTest::qWaitFor([&] { return speed->isVisible(); }, 20000)) << "no speed during the transfer";
    // Grabbed once the X server shows the bar and the speed's dark letters at the band's right end.
    QImage transfer;
    const auto speedShown = [&] {
        transfer = form.screen()->grabWindow(form.winId()).toImage();
        if (transfer.size() != QSize(579, 291) || transfer.pixelColor(1, 285) != QColor(150, 200, 150)) return false;
        for (int x = 420; x < 570; ++x)
            for (int y = 274; y < 288; ++y)
                if (transfer.pixelColor(x, y).value() < 100) return true;
        return false;
    };
    ASSERT_TRUE(QTest::qWaitFor(speedShown, 5000)) << "the bar and the speed never showed together";
    Save(transfer, "job-transfer.png");
    EXPECT_EQ(transfer.pixelColor(575, 288), QColor(192, 220, 192)) << "the bar has not reached the end";

    auto* status = form.findChild<QLabel*>("MessagePanel");
    ASSERT_TRUE(QTest::qWaitFor([&] { return status->text() == "Video file is successfully saved."; }, 60000))
        << status->text().toStdString();
    const QImage saved = GrabWhen(form, {1, 285}, QColor(192, 220, 192));
    Save(saved, "job-saved.png");
    EXPECT_FALSE(speed->isVisible());
}

namespace {

// The largest difference of a colour channel between shot at at and picture over a background of
// one colour: 0 when the picture is there pixel for pixel.
int PictureDifference(const QImage& shot, QPoint at, const char* picture, QColor background) {
    const QImage drawn = QImage(QString::fromLatin1(picture)).convertToFormat(QImage::Format_ARGB32);
    int worst = drawn.isNull() ? 255 : 0;
    for (int y = 0; y < drawn.height(); ++y)
        for (int x = 0; x < drawn.width(); ++x) {
            const QColor over = drawn.pixelColor(x, y), seen = shot.pixelColor(at + QPoint(x, y));
            const auto blend = [&](int top, int bottom) {
                return static_cast<int>(std::lround(over.alphaF() * top + (1 - over.alphaF()) * bottom));
            };
            worst = std::max({worst, std::abs(seen.red() - blend(over.red(), background.red())),
                                   std::abs(seen.green() - blend(over.green(), background.green())),
                                   std::abs(seen.blue() - blend(over.blue(), background.blue()))});
        }
    return worst;
}

}  // namespace

// On a screen of twice the density (QT_SCALE_FACTOR=2): the same layout at twice the size, the
// pictures drawn at twice their size rather than enlarged.
TEST(Screenshot, WindowAtScaleTwo) {
    ASSERT_EQ(QGuiApplication::platformName(), "xcb") << "run under xvfb-run with QT_QPA_PLATFORM=xcb";
    QTemporaryDir home;
    TMainForm form({home.path().toStdString(), QCoreApplication::applicationFilePath().toStdString()},
                   std::make_unique<TNoDesktop>());
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    ASSERT_EQ(form.devicePixelRatioF(), 2.0) << "run with QT_SCALE_FACTOR=2";
    const QImage shot = GrabWhen(form, {1150, 112}, QColor(166, 202, 240));
    ASSERT_EQ(shot.size(), QSize(1158, 582));
    Save(shot, "main-window-scale2.png");
    // The bands' edges at twice their rows at scale 1 (header 0-51, notebook 52-173, status 271-290).
    for (const auto& [y, colour] : {std::pair{103, QColor(255, 255, 255)}, {104, QColor(166, 202, 240)},
                                    {347, QColor(166, 202, 240)}, {542, QColor(192, 220, 192)}})
        EXPECT_EQ(shot.pixelColor(6, y), colour) << "row " << y;
    EXPECT_EQ(PictureDifference(shot, {30, 34}, ":/pictures/logo@2x.png", Qt::white), 0) << "logo";
    EXPECT_EQ(PictureDifference(shot, {32, 134}, ":/pictures/default-preview@2x.png", Qt::black), 0) << "preview";
    EXPECT_LE(PictureDifference(shot, {68, 490}, ":/pictures/options@2x.png", QColor(255, 251, 240)), 1) << "Options";
}
