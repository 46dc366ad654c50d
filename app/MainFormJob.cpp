// The window's side of a download job: start and abort, and the session's events shown in the
// description, the preview, the status line and the status band.
#include <QCloseEvent>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QPushButton>
#include <QStackedWidget>

#include "app/DisplayText.h"
#include "app/JobQueue.h"
#include "app/JpegPreview.h"
#include "app/MainForm.h"
#include "app/ProgressText.h"
#include "app/StatusBand.h"
#include "app/WindowTexts.h"

namespace tarnwick {

namespace {

using namespace WindowTexts;

QString Text(const char* utf8) { return QString::fromUtf8(utf8); }

}  // namespace

void TMainForm::PrepareJob() {
    notebook1_->setCurrentIndex(0);
    ShowDefaultPicture();
    ClearDescription();
    messagePanel_->setToolTip(QString());
    edit1_->setCursorPosition(0);
    edit1_->setEnabled(false);
    comboBox1_->setEnabled(false);
    downloadButton_->setText(Text(Abort));
    jobRunning_ = true;
}

void TMainForm::StartJob(const QString& pageAddress) {
    TJobRequest job = settings_;
    job.pageAddress = pageAddress.toStdString();
    // Only refused while a job runs, which the button does not allow.
    if (!session_->Start(job)) EndJob();
}

void TMainForm::AbortJob() { session_->Abort(); }

void TMainForm::ConversionChanged() {
    // The end of a running job converts with what is chosen then.
    if (session_) session_->SetConversion(settings_.formatIndex, settings_.qualityIndex);
}

void TMainForm::customEvent(QEvent* event) {
    if (event->type() != TJobTaskEvent::kType) return QWidget::customEvent(event);
    static_cast<const TJobTaskEvent&>(*event).Run();
}

void TMainForm::ShowDescription(std::uint64_t, const std::array<std::string, 4>& texts) {
    QLabel* const panels[] = {authorPanel_, titlePanel_, lengthPanel_, sizePanel_};
    for (std::size_t i = 0; i < texts.size(); ++i) panels[i]->setText(DisplayText(texts[i]));
}

void TMainForm::TransferBegan(std::uint64_t, std::int64_t totalBytes,
                              const std::string& previewFile) {
    ShowPreview(previewFile);
    statusBand_->BeginTransfer(totalBytes, TTransferMeter::Clock::now());
}

void TMainForm::TransferProgress(std::uint64_t, const TTransferProgress& progress) {
    ShowStatus(ProgressLine(progress));
    statusBand_->ShowTransfer(progress.bytesSoFar, TTransferMeter::Clock::now());
}

void TMainForm::TransferEnded(std::uint64_t) { statusBand_->ClearProgress(); }

void TMainForm::ConversionProgress(std::uint64_t, double fraction) {
    statusBand_->ShowFraction(fraction);
}

void TMainForm::ShowStatus(std::uint64_t, const std::string& text, const std::string& hint) {
    ShowStatus(QString::fromStdString(text));
    messagePanel_->setToolTip(DisplayText(hint));
}

void TMainForm::ShowPreview(const std::string& previewFile) {
    QImage preview;
    if (!previewFile.empty()) preview = LoadPreview(previewFile);
    if (preview.isNull())
        ShowDefaultPicture();
    else
        previewImage_->setPixmap(QPixmap::fromImage(preview));
    previewImage_->repaint();
}

void TMainForm::JobFinished(const TJobOutcome& outcome) {
    JobEnded(outcome.savedFile);
    EndJob();
}

void TMainForm::EndJob() {
    statusBand_->ClearProgress();
    downloadButton_->setText(Text(Download));
    edit1_->setEnabled(true);
    comboBox1_->setEnabled(true);
    jobRunning_ = false;
}

void TMainForm::closeEvent(QCloseEvent* event) {
    // Gone from the screen at once; a delivery that flushes to disk may hold the close a little.
    hide();
    ShutDownJob();
    QWidget::closeEvent(event);
}

void TMainForm::ShutDownJob() {
    if (session_) session_->Close();
}

}  // namespace tarnwick
