// The real window as a program of its own, for tests that watch the program end: it starts a job
// and closes the window at the chosen moment, as a user would, then returns from its event loop;
// or it is cut in the middle of a transfer by its test, and started again to see the queue go on.
//
//   app_window_child HOME LOOKUP_PORT ADDRESS lookup|transfer|conversion|cut|resume [CONNECTIONS]
//
// "lookup" closes the window 200 ms after Download was pressed, while the status line still
// shows the idle text. Prints "closing" on its own line when it closes the window.
//
// "cut" chooses "No convert" and presses Download; once the queue's first entry holds bytes it
// prints "under way BYTES" (the bytes held) and runs on until it is killed.
// "resume" presses nothing: the queue kept by the last run goes on by itself; once its first
// entry is over it prints "saved FILE" (or the state's name and the reason) and closes the window.
//
// CONNECTIONS, when given, is set in the Connections box before anything starts.
#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTableView>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "app/MainForm.h"
#include "app/QueueModel.h"

namespace {

using tarnwick::TMainForm;

void Say(const std::string& line) {
    std::puts(line.c_str());
    std::fflush(stdout);
}

void PressDownload(TMainForm& form, const char* address) {
    form.findChild<QLineEdit*>("Edit1")->setText(QString::fromUtf8(address));
    form.findChild<QPushButton*>("DownloadButton")->click();
}

// The Queue page's first row as the window shows it; nullptr while the queue is empty.
const tarnwick::TQueueEntry* FirstEntry(TMainForm& form) {
    auto* view = form.findChild<QTableView*>("QueueView");
    auto* model = view ? qobject_cast<tarnwick::TQueueModel*>(view->model()) : nullptr;
    return model ? model->EntryAt(0) : nullptr;
}

// "cut" and "resume": the queue's first entry is watched.
void WatchQueue(TMainForm& form, QTimer& watch, bool cut) {
    QObject::connect(&watch, &QTimer::timeout, [&form, &watch, cut] {
        const tarnwick::TQueueEntry* entry = FirstEntry(form);
        if (!entry) return;
        if (cut) {
            if (entry->bytesSoFar <= 0) return;
            watch.stop();
            Say("under way " + std::to_string(entry->bytesSoFar));
            return;
        }
        if (!tarnwick::Finished(entry->state)) return;
        watch.stop();
        Say(entry->state == tarnwick::TEntryState::Saved
                ? "saved " + entry->savedFile
                : std::string(tarnwick::EntryStateName(entry->state)) + " " + entry->reason);
        form.close();
    });
}

// "lookup", "transfer" and "conversion": the window closes at that moment of the job.
void WatchClose(TMainForm& form, QTimer& watch, const char* moment) {
    const bool atConversion = std::strcmp(moment, "conversion") == 0;
    const bool atLookup = std::strcmp(moment, "lookup") == 0;
    auto* status = form.findChild<QLabel*>("MessagePanel");
    const QString idle = status->text();
    auto sincePressed = std::make_shared<QElapsedTimer>();
    sincePressed->start();
    QObject::connect(&watch, &QTimer::timeout, [=, &form, &watch] {
        const QString text = status->text();
        const bool now = atLookup       ? sincePressed->elapsed() >= 200 && text == idle
                         : atConversion ? text == "Decoding in progress."
                                        : text.contains(QString::fromUtf8(" — "));
        if (!now) return;
        watch.stop();
        Say("closing");
        form.close();
    });
}

}  // namespace

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    if (argc != 5 && argc != 6) {
        std::fputs("usage: app_window_child HOME LOOKUP_PORT ADDRESS "
                   "lookup|transfer|conversion|cut|resume [CONNECTIONS]\n",
                   stderr);
        return 2;
    }
    const std::string mode = argv[4];
    tarnwick::TMainForm form({argv[1], QCoreApplication::applicationFilePath().toStdString()},
                             std::make_unique<tarnwick::TDesktop>());
    form.SetLookupEndpoint({"127.0.0.1", argv[2]});
    if (argc == 6) form.findChild<QSpinBox*>("ConnectionsSpinBox")->setValue(std::atoi(argv[5]));
    form.show();
    QTimer watch;
    if (mode == "cut" || mode == "resume") {
        if (mode == "cut") {
            form.findChild<QComboBox*>("FormatComboBox")->setCurrentIndex(0);
            PressDownload(form, argv[3]);
        }
        WatchQueue(form, watch, mode == "cut");
    } else {
        PressDownload(form, argv[3]);
        WatchClose(form, watch, argv[4]);
    }
    watch.start(5);
    return QApplication::exec();
}
