// The real window offscreen running one job with format 0 (no conversion), with a 5 ms timer on
// its event loop: prints the job's times and how late the timer fired, the event loop's worst
// delay. Run by bench/bench-window.
//
//   bench_window HOST:PORT FOLDER ADDRESS
//
// The window's home and work folders are made inside FOLDER (its program file is taken to live
// in FOLDER/work), so the download and its delivery stay on one file system.
#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "app/CommandLine.h"
#include "app/MainForm.h"

int main(int argc, char* argv[]) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    const auto lookup = argc == 4 ? tarnwick::ParseHostAndPort(argv[1]) : std::nullopt;
    if (!lookup) {
        std::fputs("usage: bench_window HOST:PORT FOLDER ADDRESS\n", stderr);
        return 2;
    }
    const std::filesystem::path folder = argv[2];
    std::filesystem::create_directories(folder / "home");
    std::filesystem::create_directories(folder / "work");
    tarnwick::TMainForm form({(folder / "home").string(), (folder / "work" / "bench_window").string()},
                             std::make_unique<tarnwick::TDesktop>());
    form.SetLookupEndpoint(*lookup);
    form.findChild<QComboBox*>("FormatComboBox")->setCurrentIndex(0);
    form.show();
    auto* status = form.findChild<QLabel*>("MessagePanel");

    QElapsedTimer clock;
    std::vector<double> lateness;  // milliseconds past the 5 ms interval, during the transfer
    qint64 lastTick = -1, transferBegan = -1, transferEnded = -1;
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    tick.setInterval(5);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        const QString text = status->text();
        const bool inTransfer = text.contains(QString::fromUtf8(" — ")) || text == "Download started.";
        if (inTransfer && transferBegan < 0) transferBegan = now;
        if (!inTransfer && transferBegan >= 0 && transferEnded < 0) transferEnded = now;
        if (inTransfer && lastTick >= 0) lateness.push_back((now - lastTick) / 1e6 - 5.0);
        lastTick = now;
        if (!form.JobRunning()) QApplication::quit();
    });

    form.findChild<QLineEdit*>("Edit1")->setText(QString::fromUtf8(argv[3]));
    clock.start();
    form.findChild<QPushButton*>("DownloadButton")->click();
    tick.start();
    QApplication::exec();
    const double total = clock.nsecsElapsed() / 1e9;

    std::sort(lateness.begin(), lateness.end());
    const double worst = lateness.empty() ? 0 : lateness.back();
    const double p99 = lateness.empty() ? 0 : lateness[lateness.size() * 99 / 100];
    std::printf("status=%s\njob_seconds=%.4f\ntransfer_seconds=%.4f\nticks=%zu\nworst_late_ms=%.3f\np99_late_ms=%.3f\n",
                status->text().toStdString().c_str(), total,
                transferBegan >= 0 && transferEnded > transferBegan ? (transferEnded - transferBegan) / 1e9 : 0.0,
                lateness.size(), worst, p99);
    return status->text() == "Download is completed." ? 0 : 1;
}
