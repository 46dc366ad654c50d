#pragma once

#include <QString>
#include <QUrl>

#include <functional>
#include <memory>
#include <string>

class QMessageBox;
class QWidget;

namespace tarnwick {

class TDesktopBus;

// The address of a local file or folder, made from the bytes of its path (a name that is not
// UTF-8 survives byte for byte).
QUrl LocalFileUrl(const std::string& path);

// The window's door to the rest of the desktop: the web browser, the file manager, the folder
// browser, message boxes and notices. The window calls these and nothing else for them, so a test
// can put a desktop of its own in place and never open a real browser or wait on a dialog.
// Window's thread only; nothing here waits on another program.
class TDesktop {
public:
    TDesktop();
    virtual ~TDesktop();
    TDesktop(const TDesktop&) = delete;
    TDesktop& operator=(const TDesktop&) = delete;

    // Opens a web address in the user's browser, or a local folder in the file manager.
    // The launch is not waited for; a failed launch is ignored.
    virtual void OpenUrl(const QUrl& url);

    // Shows the folder browser, modal over owner, titled title, starting at startFolder and
    // offering folders only. Returns the chosen folder, or an empty text when the user cancels.
    virtual QString ChooseFolder(QWidget* owner, const QString& title, const QString& startFolder);

    // Shows a prepared message box modally and returns when the user has closed it.
    virtual void ShowMessage(QMessageBox& box);

    // Shows a notice through the desktop's notification service (org.freedesktop.Notifications
    // on the session bus) with summary and body as plain text. With showFile given, the notice
    // offers the action "Show file", and showFile runs on the window's thread when the user picks
    // it. Nothing happens, and nothing is reported, when no session bus or no service is there.
    virtual void ShowNotice(const QString& summary, const QString& body, std::function<void()> showFile);

    // Shows the file at path selected in the file manager (org.freedesktop.FileManager1
    // ShowItems); when no file manager answers within 10 seconds, opens the file's folder
    // through OpenUrl instead.
    virtual void ShowFile(const std::string& path);

private:
    TDesktopBus& Bus();

    std::unique_ptr<TDesktopBus> bus_;
};

}  // namespace tarnwick
