#include "app/Desktop.h"

#include <QDesktopServices>
#include <QFileDialog>
#include <QMessageBox>

#include "app/DesktopBus.h"

namespace tarnwick {

QUrl LocalFileUrl(const std::string& path) {
    return QUrl::fromEncoded("file://" + QByteArray::fromStdString(path).toPercentEncoding("/"));
}

TDesktop::TDesktop() = default;

TDesktop::~TDesktop() = default;

void TDesktop::OpenUrl(const QUrl& url) { QDesktopServices::openUrl(url); }

QString TDesktop::ChooseFolder(QWidget* owner, const QString& title, const QString& startFolder) {
    return QFileDialog::getExistingDirectory(owner, title, startFolder, QFileDialog::ShowDirsOnly);
}

void TDesktop::ShowMessage(QMessageBox& box) { box.exec(); }

void TDesktop::ShowNotice(const QString& summary, const QString& body, std::function<void()> showFile) {
    Bus().Notify(summary, body, std::move(showFile));
}

void TDesktop::ShowFile(const std::string& path) {
    const std::string::size_type slash = path.rfind('/');
    const std::string folder = slash == 0 ? "/" : path.substr(0, slash == std::string::npos ? 0 : slash);
    Bus().ShowItems(LocalFileUrl(path), [this, folder] { OpenUrl(LocalFileUrl(folder)); });
}

TDesktopBus& TDesktop::Bus() {
    // Made at the first notice or file shown: a window that never needs the bus never connects.
    if (!bus_) bus_ = std::make_unique<TDesktopBus>();
    return *bus_;
}

}  // namespace tarnwick
