#pragma once

#include <QTimer>
#include <QWidget>

#include <array>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>

#include "app/ClickPanel.h"
#include "app/Desktop.h"
#include "job/Folders.h"
#include "app/WindowSettings.h"
#include "core/Component.h"
#include "job/ConvertAndDeliver.h"
#include "job/JobFrontEnd.h"
#include "job/JobState.h"
#include "job/LookupQuery.h"

class QComboBox;
class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QStackedWidget;
class QToolButton;

namespace tarnwick {

class TConvertAndDeliver;
class TJobEndReport;
class TDeliveryHandOver;
class TJobHandOver;
class TStatusBand;
class TWorkArea;
class TYouTubeDownloader;

// The program's one window, object name "MainForm": a fixed 579 x 291 pixel layout of six bands
// (header, the two-page notebook, example address, address, folder, status) and the settings of
// the run. Every control carries its own object name (Edit1, DownloadButton, MessagePanel, ...)
// so that code and tests find it with findChild.
//
// Creating the window sets every start-up default, including creating the save directory
// <home>/My Web Videos with its parents (a failure is ignored). The browser, the file manager,
// the folder browser and the message box are reached only through the desktop given.
//
// Beyond the fixed layout: a link dropped on the window or pasted with Ctrl+V goes into the
// address field (TLinkDrop), the keys of TWindowKeys, a ring around the focused control
// (TFocusRing), and at a job's end a desktop notice and the status line as a link to the saved
// file (TJobEndReport). Its controls carry accessible names and descriptions (Accessibility.h).
//
// The window owns the download job: "Download" starts a worker, whose HTTP clients join the
// window's component list jobOwner_, and "Abort" stops whatever part of the job is running. The
// event loop never waits for the job: conversion and delivery run on a thread of their own.
// Closing the window (or destroying it) aborts the job and joins its threads, which takes well
// under a second and leaves nothing half-written in the save directory.
class TMainForm : public QWidget {
    Q_OBJECT
public:
    // A window for this user and program on the real desktop.
    TMainForm();
    TMainForm(const TStartPlaces& places, std::unique_ptr<TDesktop> desktop);
    ~TMainForm() override;

    const TWindowSettings& Settings() const noexcept { return settings_; }

    // The lookup service the next jobs ask (the build's endpoint until this is called).
    void SetLookupEndpoint(TLookupEndpoint endpoint) { lookupEndpoint_ = std::move(endpoint); }
    // True from "Download" until the whole job, delivery included, has ended.
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

    // Job control, all on the window's thread.
    void PrepareJob();
    void StartWorker(const QString& pageAddress);
    void AbortJob();
    void ShowDescription(const std::array<std::string, 4>& texts);
    void HandleProgressNotification(TProgressKind kind, std::int64_t value);
    void ShowProgress();
    void ShowPreview();
    void FinishJob();
    void StartDelivery();
    void DeliveryStatus(const std::string& text);
    void DeliveryFinished(const TDeliveryResult& result);
    void EndJob();
    void ShutDownJob();
    const std::string& WorkDirectory();

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
    TWindowSettings settings_;
    std::string homeDirectory_;
    std::string programDirectory_;
    TLookupEndpoint lookupEndpoint_ = DefaultLookupEndpoint();

    // The job. jobOwner_ owns the worker's clients while they exist; the worker and the delivery
    // are kept after they end until the next job or the window's end joins them.
    TComponent jobOwner_;
    TJobState jobState_;
    std::unique_ptr<TWorkArea> workArea_;
    std::unique_ptr<TJobHandOver> jobHandOver_;
    std::unique_ptr<TDeliveryHandOver> deliveryHandOver_;
    std::unique_ptr<TYouTubeDownloader> worker_;
    std::unique_ptr<TConvertAndDeliver> delivery_;
    // The progress line is redrawn at most every kProgressInterval: a notification that comes
    // sooner is shown when this timer fires, and until then the worker posts no other.
    QTimer progressTimer_;
    std::chrono::steady_clock::time_point progressShown_{};
    bool jobRunning_ = false;
    bool abortPressed_ = false;
    bool closing_ = false;

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
    TClickPanel* panel18_ = nullptr;
    TClickPanel* panel19_ = nullptr;
    QComboBox* comboBox1_ = nullptr;
    QLineEdit* edit1_ = nullptr;
    QPushButton* downloadButton_ = nullptr;
    QToolButton* speedButton1_ = nullptr;
    QToolButton* speedButton2_ = nullptr;
    QToolButton* speedButton3_ = nullptr;
    QToolButton* changeButton_ = nullptr;
    QLabel* panel22_ = nullptr;
    TStatusBand* statusBand_ = nullptr;
    TClickPanel* messagePanel_ = nullptr;
    TJobEndReport* jobEndReport_ = nullptr;
    QLabel* defaultImage_ = nullptr;
};

}  // namespace tarnwick
