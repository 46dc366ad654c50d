#pragma once

#include <QWidget>

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>

#include "app/ClickPanel.h"
#include "app/Desktop.h"
#include "job/files/Folders.h"
#include "job/lookup/LookupQuery.h"
#include "job/queue/DownloadQueue.h"
#include "job/session/DownloadSession.h"

class QComboBox;
class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QStackedWidget;
class QToolButton;

namespace tarnwick {

class TJobEndReport;
class TJobQueue;
class TQueueFile;
class TQueueKeeper;
class TQueuePage;
class TStatusBand;
class TTransferOptions;

// The program's one window, object name "MainForm": a fixed 579 x 291 pixel layout of six bands
// (header, the three-page notebook, example address, address, folder, status) and the settings of
// the run. Every control carries its own object name (Edit1, DownloadButton, MessagePanel, ...)
// so that code and tests find it with findChild.
//
// Creating the window sets every start-up default, including creating the save directory
// <home>/My Web Videos with its parents (a failure is ignored). The browser, the file manager,
// the folder browser and the message box are reached only through the desktop given.
//
// Beyond the fixed layout: a link dropped on the window or pasted with Ctrl+V goes into the
// address field, several into the queue (TLinkDrop), the keys of TWindowKeys, a ring around the
// focused control (TFocusRing), and at a job's end a desktop notice and the status line as a
// link to the saved file (TJobEndReport). Its controls carry accessible names and descriptions (Accessibility.h).
//
// The window drives a download queue (TDownloadQueue), as many jobs at once as the options page's
// "At once" says: "Download" adds the address and its job starts, Enter in the address field adds the typed address while a job runs, a paste or drop of
// several links adds each, and "Abort" (Escape) stops the running entry. The first running
// entry's session events (on the window's thread) fill the description, the preview, the status
// line and the status band; the Queue page lists every entry. The queue is kept in the user's
// queue file (QueueFilePath) by TQueueKeeper: at start the entries that were waiting or running
// go on; a second running copy keeps no queue and says so, and a queue file that cannot be
// written is said once in the status line while the queue goes on. The event loop never waits for a job.
// Closing the window hides it at once, then closes the queue, which stops its jobs and leaves
// nothing half-written in the save directory.
class TMainForm : public QWidget, private TSessionEvents, private TQueueObserver {
    Q_OBJECT
public:
    // A window for this user and program on the real desktop.
    TMainForm();
    TMainForm(const TStartPlaces& places, std::unique_ptr<TDesktop> desktop);
    ~TMainForm() override;

    // The next job's request: the user's choices and the program's folders and lookup.
    const TJobRequest& Settings() const noexcept { return settings_; }

    // The lookup service the next jobs ask (the build's endpoint until this is called).
    void SetLookupEndpoint(TLookupEndpoint endpoint);
    // True while an entry of the queue waits or runs: from "Download" until the whole job,
    // delivery included, has ended.
    bool JobRunning() const noexcept { return jobRunning_; }

protected:
    void customEvent(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void BuildHeaderBand();
    void BuildNotebook();
    void BuildDescriptionPage(QWidget* page);
    void BuildFormatPage(QWidget* page);
    void BuildExampleBand();
    void BuildAddressBand();
    void BuildFolderBand();
    void BuildStatusBand();
    void SetTabOrder();
    void ConnectHandlers();
    void SetStartupDefaults(const TStartPlaces& places);

    void SiteChange(int position);
    void HdNoClick();
    void HdYesClick();
    void FolderChoice();
    void OpenSaveDirectory();
    void ExampleAddressClick();
    void DownloadButtonClick();
    void AddressEntered();

    // Job control, all on the window's thread.
    void MakeQueue(const TStartPlaces& places);
    void RestoreQueue();
    void PrepareJob();
    // Adds address with the chosen settings; false when it waits or runs already.
    bool Enqueue(const QString& address);
    void EnqueueSeveral(const QStringList& addresses);
    void AbortJob();
    void ConversionChanged();
    void ShowPreview(const std::string& previewFile);
    // Whether the display follows job: the first job heard of while none is followed is taken,
    // with the description, the preview and the bars cleared for it.
    bool Follows(std::uint64_t job);
    void UpdateRunState();
    void ShutDownJob();

    // The queue's changes: the button and the site list follow whether an entry waits or runs.
    void EntryChanged(const TQueueEntry& entry, bool progressOnly) override;
    void EntryRemoved(std::uint64_t id) override;

    // The jobs' events; only the followed job's are shown.
    void ShowDescription(std::uint64_t job, const std::array<std::string, 4>& texts) override;
    void TransferBegan(std::uint64_t job, std::int64_t totalBytes,
                       const std::string& previewFile) override;
    void TransferProgress(std::uint64_t job, const TTransferProgress& progress) override;
    void TransferEnded(std::uint64_t job) override;
    void ConversionProgress(std::uint64_t job, double fraction) override;
    void ShowStatus(std::uint64_t job, const std::string& text, const std::string& hint) override;
    void JobFinished(const TJobOutcome& outcome) override;

    // The job has ended (the status line shows its final text); savedFile is the delivered file,
    // empty when nothing was saved. Sends the desktop notice and links the status line to the file.
    void JobEnded(const std::string& savedFile);

    void ShowSaveDirectory();
    void ShowIdleStatus();
    // Sets the status line; its accessible name follows, so screen readers announce it.
    void ShowStatus(const QString& text);
    void ShowDefaultPicture();
    void ClearDescription();

    std::unique_ptr<TDesktop> desktop_;
    // Nothing is stored between runs: every start begins with the defaults and the start-up
    // folders.
    TJobRequest settings_;
    std::string homeDirectory_;
    std::string configDirectory_;  // where the user-dirs.dirs file is looked for

    // The jobs: the queue's sessions post their events through jobQueue_ to this window.
    std::unique_ptr<TJobQueue> jobQueue_;
    std::unique_ptr<TDownloadQueue> queue_;
    std::unique_ptr<TQueueFile> queueFile_;
    std::unique_ptr<TQueueKeeper> keeper_;  // none when another running copy keeps the queue
    std::uint64_t shownJob_ = 0;            // the job the display follows; 0 for none
    bool jobRunning_ = false;

    // Owned by the window through Qt's parent chain.
    TClickPanel* image2_ = nullptr;
    QLabel* panel20_ = nullptr;
    TClickPanel* panel17_ = nullptr;
    QStackedWidget* notebook1_ = nullptr;
    QFrame* panel1_ = nullptr;
    QLabel* previewImage_ = nullptr;
    QLabel* authorPanel_ = nullptr;
    QLabel* titlePanel_ = nullptr;
    QLabel* lengthPanel_ = nullptr;
    QLabel* sizePanel_ = nullptr;
    QComboBox* formatComboBox_ = nullptr;
    QComboBox* qualityComboBox_ = nullptr;
    QRadioButton* radioButton1_ = nullptr;
    QRadioButton* radioButton2_ = nullptr;
    TTransferOptions* transferOptions_ = nullptr;
    TClickPanel* panel18_ = nullptr;
    TClickPanel* panel19_ = nullptr;
    QComboBox* comboBox1_ = nullptr;
    QLineEdit* edit1_ = nullptr;
    QPushButton* downloadButton_ = nullptr;
    QToolButton* speedButton1_ = nullptr;
    QToolButton* speedButton2_ = nullptr;
    QToolButton* speedButton3_ = nullptr;
    QToolButton* changeButton_ = nullptr;
    QToolButton* queueButton_ = nullptr;
    TQueuePage* queuePage_ = nullptr;
    QLabel* panel22_ = nullptr;
    TStatusBand* statusBand_ = nullptr;
    TClickPanel* messagePanel_ = nullptr;
    TJobEndReport* jobEndReport_ = nullptr;
    QLabel* defaultImage_ = nullptr;
};

}  // namespace tarnwick
