#pragma once

#include <QString>

class QMessageBox;
class QUrl;
class QWidget;

namespace tarnwick {

// The window's door to the rest of the desktop: the web browser, the file manager, the folder
// browser and message boxes. The window calls these and nothing else for them, so a test can put
// a desktop of its own in place and never open a real browser or wait on a dialog.
class TDesktop {
public:
    virtual ~TDesktop() = default;

    // Opens a web address in the user's browser, or a local folder in the file manager.
    // The launch is not waited for; a failed launch is ignored.
    virtual void OpenUrl(const QUrl& url);

    // Shows the folder browser, modal over owner, titled title, starting at startFolder and
    // offering folders only. Returns the chosen folder, or an empty text when the user cancels.
    virtual QString ChooseFolder(QWidget* owner, const QString& title, const QString& startFolder);

    // Shows a prepared message box modally and returns when the user has closed it.
    virtual void ShowMessage(QMessageBox& box);
};

}  // namespace tarnwick
