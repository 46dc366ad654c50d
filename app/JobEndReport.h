#pragma once

#include <QObject>
#include <QString>

#include <string>

class QLabel;
class QWidget;

namespace tarnwick {

class TClickPanel;
class TDesktop;

// Tells the user of a job's end beyond the status line:
// - when the window is not the active one, a desktop notice with the video's title (what the
//   title panel shows; the window's caption when it is empty) and the final status text, with
//   the action "Show file" when a file was saved; nothing when the window is active;
// - after a saved file, the status line becomes a link (hand cursor, reached with Tab, pressed by
//   a click, Enter or Space) that shows the file selected in the file manager, until the status
//   line shows another text.
// Both go through the window's desktop. Window's thread only; a child of the window, made after
// the controls and the desktop given, which last as long as the window.
class TJobEndReport : public QObject {
    Q_OBJECT
public:
    TJobEndReport(QWidget& window, TDesktop& desktop, const QLabel& titlePanel, TClickPanel& statusLine);

    // The job has ended with statusText on the status line; savedFile is the delivered file's
    // full path, empty when nothing was saved.
    void JobEnded(const QString& statusText, const std::string& savedFile);
    // The status line shows another text: it no longer stands for the saved file.
    void StatusChanged();

private:
    QWidget& window_;
    TDesktop& desktop_;
    const QLabel& titlePanel_;
    TClickPanel& statusLine_;
    std::string linkedFile_;  // what the status line shows when pressed; empty: it is no link
};

}  // namespace tarnwick
