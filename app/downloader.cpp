#include <QApplication>

#include "app/MainForm.h"
#include "app/WindowTexts.h"

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    QApplication::setApplicationName(QString::fromUtf8(tarnwick::WindowTexts::ApplicationTitle));
    // Lets the desktop match the window to its desktop entry and icon (Wayland's app id).
    QApplication::setDesktopFileName(QStringLiteral(TARNWICK_APP_ID));
    tarnwick::TMainForm mainForm;
    mainForm.show();
    return QApplication::exec();
}
