// The window's side of a download job: start and abort, the progress notifications, the end of
// the job with conversion and delivery, and the shutdown when the window goes.
#include <QCloseEvent>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QPushButton>
#include <QStackedWidget>

#include <chrono>

#include "app/DisplayText.h"
#include "app/JobHandOver.h"
#include "app/JpegPreview.h"
#include "app/MainForm.h"
#include "app/ProgressText.h"
#include "app/StatusBand.h"
#include "app/WindowTexts.h"
#include "http/IdCustomHTTP.h"
#include "job/ConversionTable.h"
#include "job/ConvertAndDeliver.h"
#include "job/StatusTexts.h"
#include "job/WorkArea.h"
#include "job/YouTubeDownloader.h"

namespace tarnwick {

namespace {

using namespace WindowTexts;

// A line that changes more often than this cannot be read, and redrawing it costs the transfer.
constexpr std::chrono::milliseconds kProgressInterval{40};

QString Text(const char* utf8) { return QString::fromUtf8(utf8); }
QString Text(std::string_view utf8) { return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size())); }

}  // namespace

const std::string& TMainForm::WorkDirectory() {
    // Taken at the first job, so a second running copy of the program gets a folder of its own.
    if (!workArea_) workArea_ = std::make_unique<TWorkArea>(settings_.workDirectory);
    return workArea_->Directory();
}

void TMainForm::PrepareJob() {
    // The last job's threads have ended (its end is what brought the window back to idle).
    worker_.reset();
    delivery_.reset();
    jobState_.Reset();
    abortPressed_ = false;
    progressTimer_.stop();
    progressShown_ = {};
    ClearTemporaryFiles(WorkDirectory());
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

void TMainForm::StartWorker(const QString& pageAddress) {
    TJobSettings job;
    job.pageAddress = pageAddress.toStdString();
    job.workDirectory = WorkDirectory();
    job.siteNumber = settings_.siteNumber;
    job.hdFlag = settings_.hdFlag;
    job.lookup = lookupEndpoint_;
    worker_ = std::make_unique<TYouTubeDownloader>(std::move(job), jobState_, *jobHandOver_, jobOwner_);
    worker_->Start();
}

void TMainForm::AbortJob() {
    abortPressed_ = true;
    // The media client is cut under the list's lock, so the worker cannot free it meanwhile; the
    // worker's own abort covers the moments before that client exists.
    jobOwner_.ForEachComponent([](TComponent& component) {
        if (component.Name() != kMediaClientName) return;
        if (auto* client = dynamic_cast<TIdCustomHTTP*>(&component)) client->CloseConnection();
    });
    if (worker_) worker_->Abort();
    if (delivery_) delivery_->Stop();
}

void TMainForm::ShowDescription(const std::array<std::string, 4>& texts) {
    QLabel* const panels[] = {authorPanel_, titlePanel_, lengthPanel_, sizePanel_};
    for (std::size_t i = 0; i < texts.size(); ++i) panels[i]->setText(DisplayText(texts[i]));
}

void TMainForm::customEvent(QEvent* event) {
    if (event->type() != TProgressEvent::kType) return QWidget::customEvent(event);
    const auto& progress = static_cast<const TProgressEvent&>(*event);
    HandleProgressNotification(progress.Kind(), progress.Value());
}

void TMainForm::HandleProgressNotification(TProgressKind kind, std::int64_t) {
    if (closing_ || !jobRunning_) return;
    const auto now = TTransferMeter::Clock::now();
    switch (kind) {
        case pkBegin:
            ShowPreview();
            ShowStatus(Text(kDownloadStartedText));
            statusBand_->BeginTransfer(jobState_.TotalBytes(), now);
            break;
        case pkProgress:
            if (progressTimer_.isActive()) break;
            if (now - progressShown_ < kProgressInterval) {
                progressTimer_.start(std::chrono::ceil<std::chrono::milliseconds>(kProgressInterval - (now - progressShown_)));
                break;
            }
            ShowProgress();
            break;
        default:
            break;
    }
}

void TMainForm::ShowProgress() {
    if (closing_ || !jobRunning_) return;
    // Taken before the count is read: a count stored after the read is posted again. Formatted
    // from the latest counts, so the coalesced notifications lose nothing.
    jobState_.ProgressHandled();
    const auto now = TTransferMeter::Clock::now();
    const std::int64_t bytes = jobState_.BytesSoFar();
    ShowStatus(ProgressLine(jobState_.FileName(), jobState_.FileExtension(), settings_.formatIndex, bytes,
                            jobState_.TotalBytes()));
    statusBand_->ShowTransfer(bytes, now);
    progressShown_ = now;
}

void TMainForm::ShowPreview() {
    QImage preview;
    if (jobState_.PreviewPresent()) preview = LoadJpegPreview(WorkDirectory() + "/default.jpg");
    if (preview.isNull())
        ShowDefaultPicture();
    else
        previewImage_->setPixmap(QPixmap::fromImage(preview));
    previewImage_->repaint();
}

void TMainForm::FinishJob() {
    if (closing_) return;
    // The final text is not overwritten by a progress line still waiting for its turn.
    progressTimer_.stop();
    TJobStatus status = jobState_.Status();
    // An Abort pressed while the worker was finishing still counts: nothing is converted.
    if (abortPressed_) status = jsAborted;
    ShowStatus(Text(JobStatusText(status)));
    messagePanel_->setToolTip(DisplayText(jobState_.ErrorText()));
    statusBand_->ClearProgress();
    if (status != jsCompleted) JobEnded({});
    if (status == jsCompleted)
        StartDelivery();
    else
        EndJob();
}

void TMainForm::StartDelivery() {
    TDeliveryRequest request;
    request.workDirectory = WorkDirectory();
    request.saveDirectory = settings_.saveDirectory;
    request.fileName = jobState_.FileName();
    request.fileExtension = jobState_.FileExtension();
    request.formatIndex = settings_.formatIndex;
    request.qualityIndex = settings_.qualityIndex;
    request.programDirectory = programDirectory_;
    delivery_ = std::make_unique<TConvertAndDeliver>(std::move(request), *deliveryHandOver_);
    delivery_->Start();
}

void TMainForm::DeliveryStatus(const std::string& text) {
    if (closing_ || !jobRunning_) return;
    ShowStatus(Text(text));
    if (text == kDecodingInProgressText) statusBand_->ShowFraction(0);
}

void TMainForm::DeliveryFinished(const TDeliveryResult& result) {
    if (closing_ || !jobRunning_) return;
    if (!result.statusText.empty()) ShowStatus(Text(result.statusText));
    messagePanel_->setToolTip(DisplayText(result.reason));
    JobEnded(result.destination);
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
    ShutDownJob();
    QWidget::closeEvent(event);
}

void TMainForm::ShutDownJob() {
    closing_ = true;
    if (jobHandOver_) jobHandOver_->Close();
    if (worker_) worker_->Abort();
    if (delivery_) delivery_->Stop();
    worker_.reset();
    delivery_.reset();
}

}  // namespace tarnwick
