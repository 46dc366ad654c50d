#include "app/Desktop.h"

#include <QDesktopServices>
#include <QFileDialog>
#include <QMessageBox>
#include <QUrl>

namespace tarnwick {

void TDesktop::OpenUrl(const QUrl& url) { QDesktopServices::openUrl(url); }

QString TDesktop::ChooseFolder(QWidget* owner, const QString& title, const QString& startFolder) {
    return QFileDialog::getExistingDirectory(owner, title, startFolder, QFileDialog::ShowDirsOnly);
}

void TDesktop::ShowMessage(QMessageBox& box) { box.exec(); }

}  // namespace tarnwick
