#include "app/JobEndReport.h"

#include <QLabel>

#include "app/ClickPanel.h"
#include "app/Desktop.h"
#include "app/WindowTexts.h"

namespace tarnwick {

TJobEndReport::TJobEndReport(QWidget& window, TDesktop& desktop, const QLabel& titlePanel, TClickPanel& statusLine)
    : QObject(&window), window_(window), desktop_(desktop), titlePanel_(titlePanel), statusLine_(statusLine) {
    connect(&statusLine_, &TClickPanel::clicked, this, [this] {
        if (!linkedFile_.empty()) desktop_.ShowFile(linkedFile_);
    });
}

void TJobEndReport::JobEnded(const QString& statusText, const std::string& savedFile) {
    if (!window_.isActiveWindow()) {
        QString title = titlePanel_.text().trimmed();
        if (title.isEmpty()) title = QString::fromUtf8(WindowTexts::Caption);
        std::function<void()> showFile;
        if (!savedFile.empty()) showFile = [this, savedFile] { desktop_.ShowFile(savedFile); };
        desktop_.ShowNotice(title, statusText, std::move(showFile));
    }
    if (savedFile.empty()) return;
    linkedFile_ = savedFile;
    statusLine_.SetActive(true);
    statusLine_.setAccessibleDescription(QString::fromUtf8(WindowTexts::ShowSavedFileHint));
    if (statusLine_.toolTip().isEmpty()) statusLine_.setToolTip(QString::fromUtf8(WindowTexts::ShowSavedFileHint));
}

void TJobEndReport::StatusChanged() {
    if (linkedFile_.empty()) return;
    linkedFile_.clear();
    statusLine_.SetActive(false);
    statusLine_.setAccessibleDescription(QString());
    if (statusLine_.toolTip() == QString::fromUtf8(WindowTexts::ShowSavedFileHint)) statusLine_.setToolTip(QString());
}

}  // namespace tarnwick
