#include <QApplication>

#include <cstdio>
#include <string>
#include <vector>

#include "app/CommandLine.h"
#include "app/MainForm.h"
#include "app/WindowTexts.h"

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    QApplication::setApplicationName(QString::fromUtf8(tarnwick::WindowTexts::ApplicationTitle));
    // Lets the desktop match the window to its desktop entry and icon (Wayland's app id).
    QApplication::setDesktopFileName(QStringLiteral(TARNWICK_APP_ID));

    // QApplication has taken its own options out.
    std::vector<std::string> arguments;
    const QStringList given = QApplication::arguments();
    for (qsizetype i = 1; i < given.size(); ++i) arguments.push_back(given[i].toStdString());
    const auto commandLine = tarnwick::ParseWindowCommandLine(arguments);
    if (!commandLine) {
        std::fputs(tarnwick::kWindowUsage.data(), stderr);
        return 2;
    }

    tarnwick::TMainForm mainForm;
    if (commandLine->lookup) mainForm.SetLookupEndpoint(*commandLine->lookup);
    mainForm.show();
    return QApplication::exec();
}
