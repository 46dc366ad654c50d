// The real window as a program of its own, for tests that watch the program end: it starts a job
// and closes the window at the chosen moment, as a user would, then returns from its event loop.
//
//   app_window_child HOME LOOKUP_PORT ADDRESS lookup|transfer|conversion
//
// "lookup" closes the window 200 ms after Download was pressed, while the status line still
// shows the idle text.
//
// Prints "closing" on its own line when it closes the window.
#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

#include <cstdio>
#include <cstring>
#include <memory>

#include "app/MainForm.h"

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    if (argc != 5) {
        std::fputs("usage: app_window_child HOME LOOKUP_PORT ADDRESS lookup|transfer|conversion\n", stderr);
        return 2;
    }
    const bool atConversion = std::strcmp(argv[4], "conversion") == 0;
    const bool atLookup = std::strcmp(argv[4], "lookup") == 0;
    tarnwick::TMainForm form({argv[1], QCoreApplication::applicationFilePath().toStdString()},
                             std::make_unique<tarnwick::TDesktop>());
    form.SetLookupEndpoint({"127.0.0.1", argv[2]});
    form.show();
    form.findChild<QLineEdit*>("Edit1")->setText(QString::fromUtf8(argv[3]));
    form.findChild<QPushButton*>("DownloadButton")->click();

    auto* status = form.findChild<QLabel*>("MessagePanel");
    const QString idle = status->text();
    QElapsedTimer sincePressed;
    sincePressed.start();
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        const QString text = status->text();
        const bool moment = atLookup       ? sincePressed.elapsed() >= 200 && text == idle
                            : atConversion ? text == "Decoding in progress."
                                           : text.contains(QString::fromUtf8(" — "));
        if (!moment) return;
        watch.stop();
        std::puts("closing");
        std::fflush(stdout);
        form.close();
    });
    watch.start(5);
    return QApplication::exec();
}
