#pragma once

#include <QWidget>

class QAction;
class QLabel;
class QTableView;

namespace tarnwick {

class TDesktop;
class TDownloadQueue;
class TQueueModel;
struct TQueueEntry;

// The notebook's Queue page: the queue's entries in a table (title, state, a small progress bar,
// the reason as each row's hint) and what can be done with the chosen row: "Try again" a failed
// or stopped entry, "Remove" it (a running one is stopped first), "Show file" saved (the file
// manager, as the status line's link). The three are buttons under the table and the table's
// context menu (the Menu key or Shift+F10), and Delete removes; each is enabled only when it
// applies to the chosen row. The table is a single stop in the tab order; the arrow keys choose
// the row.
//
// Window's thread only; made with the window, whose queue and desktop outlive it. It observes
// the queue from construction until Detach.
class TQueuePage : public QWidget {
    Q_OBJECT
public:
    TQueuePage(QWidget* parent, TDownloadQueue& queue, TDesktop& desktop);
    // Stops observing the queue (before the queue goes).
    void Detach();

    QTableView* View() const noexcept { return view_; }
    // A note beside the buttons that stays until it is taken back ("" takes it back).
    void SetNote(const QString& note);
    // The controls in reading order, for the window's tab order.
    QList<QWidget*> TabOrder() const;

private:
    void BuildView();
    void BuildActions();
    // The chosen row's entry; nullptr when none is chosen.
    const TQueueEntry* Chosen() const;
    void UpdateActions();
    void RetryChosen();
    void RemoveChosen();
    void ShowChosenFile();

    TDownloadQueue* queue_;
    TDesktop& desktop_;
    TQueueModel* model_ = nullptr;
    QTableView* view_ = nullptr;
    QAction* tryAgain_ = nullptr;
    QAction* remove_ = nullptr;
    QAction* showFile_ = nullptr;
    QList<QWidget*> buttons_;
    QLabel* note_ = nullptr;
};

}  // namespace tarnwick
