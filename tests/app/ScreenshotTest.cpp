// The real window on an X display (Xvfb): saves pictures of both notebook pages into the build
// folder for people to look at, and checks what an X server actually shows.
#include <QCoreApplication>
#include <QDir>
#include <QFontInfo>
#include <QLabel>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>
#include <QWindow>

#include <gtest/gtest.h>

#include <cstdio>

#include "app/MainForm.h"

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
