// The window's side of the download jobs: the queue they run in, kept in the queue file, and the
// followed job's events shown in the description, the preview, the status line and the status
// band.
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
#include "app/QueuePage.h"
#include "app/StatusBand.h"
#include "app/WindowTexts.h"
#include "job/files/Folders.h"
#include "job/queue/QueueKeeper.h"

namespace tarnwick {

namespace {

using namespace WindowTexts;

QString Text(const char* utf8) { return QString::fromUtf8(utf8); }

// The notebook's pages.
constexpr int DescriptionPageIndex = 0;
constexpr int QueuePageIndex = 2;

}  // namespace

void TMainForm::MakeQueue(const TStartPlaces& places) {
    jobQueue_ = std::make_unique<TJobQueue>(*this);
    queue_ = std::make_unique<TDownloadQueue>(*jobQueue_, settings_, static_cast<TSessionEvents*>(this));
    queue_->AddObserver(static_cast<TQueueObserver&>(*this));
    queueFile_ = std::make_unique<TQueueFile>(QueueFilePath(places));
    if (queueFile_->Lock()) {
        keeper_ = std::make_unique<TQueueKeeper>(*queue_, *queueFile_, *jobQueue_);
        // Said once when saving starts failing (a full disk, a folder taken away), and kept on the
        // Queue page until a write succeeds again; the queue goes on meanwhile.
        keeper_->OnWriteFailure([this](const std::string& reason) {
            const QString note =
                reason.empty() ? QString() : Text(QueueNotSaved) + DisplayText(reason) + QLatin1Char('.');
            if (!note.isEmpty()) ShowStatus(note);
            if (queuePage_) queuePage_->SetNote(note);
        });
        // Broken transfers are continued by the next run only where this copy keeps the queue.
        queue_->SetKeptFolder(DirectoryOf(queueFile_->Path()) + "/kept");
    }
    // Once the event loop runs: the program sets its lookup service after making the window, and
    // the kept entries' jobs are to ask that one.
    jobQueue_->Post([this] { RestoreQueue(); });
}

void TMainForm::RestoreQueue() {
    queue_->SetBase(settings_);
    if (!keeper_) {
        ShowStatus(Text(QueueNotKept));
        return;
    }
    const std::string note = keeper_->Restore();
    if (!note.empty()) ShowStatus(DisplayText(note));
    UpdateRunState();
}

void TMainForm::SetLookupEndpoint(TLookupEndpoint endpoint) {
    settings_.lookup = std::move(endpoint);
    if (queue_) queue_->SetBase(settings_);
}

void TMainForm::PrepareJob() {
    notebook1_->setCurrentIndex(DescriptionPageIndex);
    ShowDefaultPicture();
    ClearDescription();
    messagePanel_->setToolTip(QString());
    edit1_->setCursorPosition(0);
}

bool TMainForm::Enqueue(const QString& address) {
    if (!queue_) return false;  // the window has closed
    TQueueEntry entry;
    entry.address = address.toStdString();
    entry.siteNumber = settings_.siteNumber;
    entry.hdFlag = settings_.hdFlag;
    entry.formatIndex = settings_.formatIndex;
    entry.qualityIndex = settings_.qualityIndex;
    entry.saveDirectory = settings_.saveDirectory;
    queue_->SetBase(settings_);
    const bool added = queue_->Add(std::move(entry)) != 0;
    UpdateRunState();
    return added;
}

void TMainForm::EnqueueSeveral(const QStringList& addresses) {
    // An address waiting or running already is not added again; the rest are.
    for (const QString& address : addresses) Enqueue(address);
    notebook1_->setCurrentIndex(QueuePageIndex);
}

void TMainForm::AddressEntered() {
    if (!jobRunning_) {
        downloadButton_->click();
        return;
    }
    // While a job runs Enter queues the address; the button stays Abort.
    const QString address = edit1_->text().trimmed();
    if (address.isEmpty()) return;
    if (Enqueue(address))
        edit1_->clear();
    else
        ShowStatus(Text(AlreadyQueued));
}

void TMainForm::AbortJob() {
    if (!queue_) return;
    // The followed entry, else the first that waits or runs.
    if (const auto entry = queue_->EntryOfJob(shownJob_); entry && queue_->Stop(entry->id)) return;
    for (const TQueueEntry& entry : queue_->Entries())
        if (queue_->Stop(entry.id)) return;
}

void TMainForm::ConversionChanged() {
    // The end of a running job converts with what is chosen then.
    if (const auto entry = queue_ ? queue_->EntryOfJob(shownJob_) : std::nullopt)
        queue_->SetConversion(entry->id, settings_.formatIndex, settings_.qualityIndex);
}

void TMainForm::UpdateRunState() {
    jobRunning_ = queue_ && queue_->Busy();
    downloadButton_->setText(Text(jobRunning_ ? Abort : Download));
    comboBox1_->setEnabled(!jobRunning_);
    if (!jobRunning_) statusBand_->ClearProgress();
}

void TMainForm::EntryChanged(const TQueueEntry&, bool progressOnly) {
    if (!progressOnly) UpdateRunState();
}

void TMainForm::EntryRemoved(std::uint64_t) { UpdateRunState(); }

void TMainForm::customEvent(QEvent* event) {
    if (event->type() != TJobTaskEvent::kType) return QWidget::customEvent(event);
    static_cast<const TJobTaskEvent&>(*event).Run();
}

bool TMainForm::Follows(std::uint64_t job) {
    if (shownJob_ == 0) {
        shownJob_ = job;
        ShowDefaultPicture();
        ClearDescription();
        messagePanel_->setToolTip(QString());
        statusBand_->ClearProgress();
    }
    return job == shownJob_;
}

void TMainForm::ShowDescription(std::uint64_t job, const std::array<std::string, 4>& texts) {
    if (!Follows(job)) return;
    QLabel* const panels[] = {authorPanel_, titlePanel_, lengthPanel_, sizePanel_};
    for (std::size_t i = 0; i < texts.size(); ++i) panels[i]->setText(DisplayText(texts[i]));
}

void TMainForm::TransferBegan(std::uint64_t job, std::int64_t totalBytes, const std::string& previewFile) {
    if (!Follows(job)) return;
    ShowPreview(previewFile);
    statusBand_->BeginTransfer(totalBytes, TTransferMeter::Clock::now());
}

void TMainForm::TransferProgress(std::uint64_t job, const TTransferProgress& progress) {
    if (!Follows(job)) return;
    ShowStatus(ProgressLine(progress));
    statusBand_->ShowTransfer(progress.bytesSoFar, TTransferMeter::Clock::now());
}

void TMainForm::TransferEnded(std::uint64_t job) {
    if (Follows(job)) statusBand_->ClearProgress();
}

void TMainForm::ConversionProgress(std::uint64_t job, double fraction) {
    if (Follows(job)) statusBand_->ShowFraction(fraction);
}

void TMainForm::ShowStatus(std::uint64_t job, const std::string& text, const std::string& hint) {
    if (!Follows(job)) return;
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
    if (!Follows(outcome.job)) return;
    JobEnded(outcome.savedFile);
    statusBand_->ClearProgress();
    // The next job to run is followed from its first event.
    shownJob_ = 0;
}

void TMainForm::closeEvent(QCloseEvent* event) {
    // Gone from the screen at once; a delivery that flushes to disk may hold the close a little.
    hide();
    ShutDownJob();
    QWidget::closeEvent(event);
}

void TMainForm::ShutDownJob() {
    if (!queue_) return;
    // The queue is written as it stands (a running entry goes on at the next start), then its
    // jobs are stopped.
    keeper_.reset();
    queuePage_->Detach();
    queue_->RemoveObserver(static_cast<TQueueObserver&>(*this));
    queue_.reset();
    jobRunning_ = false;
}

}  // namespace tarnwick
