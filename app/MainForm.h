#pragma once

#include <QWidget>

#include <memory>

#include "app/Desktop.h"
#include "app/Folders.h"
#include "app/WindowSettings.h"

class QComboBox;
class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QStackedWidget;
class QToolButton;

namespace tarnwick {

class TClickPanel;

// The program's one window, object name "MainForm": a fixed 579 x 291 pixel layout of six bands
// (header, the two-page notebook, example address, address, folder, status) and the settings of
// the run. Every control carries its own object name (Edit1, DownloadButton, MessagePanel, ...)
// so that code and tests find it with findChild.
//
// Creating the window sets every start-up default, including creating the save directory
// <home>/My Web Videos with its parents (a failure is ignored). The browser, the file manager,
// the folder browser and the message box are reached only through the desktop given.
class TMainForm : public QWidget {
    Q_OBJECT
public:
    // A window for this user and program on the real desktop.
    TMainForm();
    TMainForm(const TStartPlaces& places, std::unique_ptr<TDesktop> desktop);
    ~TMainForm() override;

    const TWindowSettings& Settings() const noexcept { return settings_; }

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

    void ShowSaveDirectory();
    void ShowIdleStatus();
    void ShowDefaultPicture();
    void ClearDescription();

    std::unique_ptr<TDesktop> desktop_;
    TWindowSettings settings_;
    std::string homeDirectory_;

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
    QLabel* messagePanel_ = nullptr;
    QLabel* defaultImage_ = nullptr;
};

}  // namespace tarnwick
