#pragma once

#include <QObject>
#include <QString>
#include <QUrl>

#include <chrono>
#include <deque>
#include <functional>
#include <map>

namespace tarnwick {

// The desktop's services on the D-Bus session bus that the window uses: notices
// (org.freedesktop.Notifications) and showing a file in the file manager
// (org.freedesktop.FileManager1). Every call is sent without waiting for its answer, so the
// window never waits on another program; answers and the notices' actions come back through the
// window's event loop. A missing session bus or service is not an error: a notice is then simply
// not shown. Window's thread only.
class TDesktopBus : public QObject {
    Q_OBJECT
public:
    // The longest wait for the file manager's answer before the fallback runs.
    static constexpr std::chrono::milliseconds kShowItemsLimit{10000};
    // The key and label of a notice's action that shows the saved file.
    static constexpr char kShowFileAction[] = "show-file";

    TDesktopBus();

    // Sends a notice of summary and body (plain text). With showFile given, the notice offers
    // the action "Show file" (and its default action, a click on the notice, does the same);
    // showFile runs when the user picks either.
    void Notify(const QString& summary, const QString& body, std::function<void()> showFile);

    // Asks the file manager to show the file at fileUrl selected. fallback runs when there is no
    // session bus, the call fails (no file manager) or no answer comes within kShowItemsLimit.
    void ShowItems(const QUrl& fileUrl, std::function<void()> fallback);

private slots:
    void ActionInvoked(uint id, const QString& action);
    void NotificationClosed(uint id, uint reason);

private:
    void Listen();

    bool listening_ = false;
    // The show-file action of each notice on screen, by the service's notice id.
    std::map<uint, std::function<void()>> actions_;
    // Notices whose action was picked before their id came back to us: the bus may hand the
    // signal over ahead of the answer. The latest few only (the signal reaches every program).
    std::deque<uint> pickedEarly_;
};

}  // namespace tarnwick
