#include "app/MainForm.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFrame>
#include <QHelpEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPixmap>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QScreen>
#include <QStackedWidget>
#include <QStandardItemModel>
#include <QStyledItemDelegate>
#include <QTextDocument>
#include <QToolButton>
#include <QToolTip>
#include <QUrl>

#include <utility>

#include "app/Accessibility.h"
#include "app/ClickPanel.h"
#include "app/DisplayText.h"
#include "app/FocusRing.h"
#include "app/JobEndReport.h"
#include "app/JobQueue.h"
#include "app/LinkDrop.h"
#include "app/QueuePage.h"
#include "app/SiteTable.h"
#include "app/StatusBand.h"
#include "app/TransferOptions.h"
#include "app/WindowKeys.h"
#include "app/WindowTexts.h"
#include "job/queue/QueueKeeper.h"

namespace tarnwick {

namespace {

using namespace WindowTexts;

constexpr int ClientWidth = 579;
constexpr int ClientHeight = 291;
constexpr int HeaderTop = 0, NotebookTop = 52, ExampleTop = 174, AddressTop = 199, FolderTop = 235,
              StatusTop = 271;

const QColor White(255, 255, 255);
const QColor Black(0, 0, 0);
const QColor SkyBlue(166, 202, 240);
const QColor Cream(255, 251, 240);
const QColor Teal(0, 128, 128);
const QColor Olive(128, 128, 0);
const QColor AddressBlue(68, 140, 203);

QString Text(const char* utf8) { return QString::fromUtf8(utf8); }

// A child control owned by parent through Qt's parent chain, with its name and place.
template <class W, class... Args>
W* Child(QWidget* parent, const char* name, const QRect& geometry, Args&&... args) {
    auto* widget = new W(std::forward<Args>(args)..., parent);
    widget->setObjectName(QString::fromLatin1(name));
    widget->setGeometry(geometry);
    return widget;
}

void SetBackground(QWidget* widget, const QColor& colour) {
    QPalette palette = widget->palette();
    palette.setColor(QPalette::Window, colour);
    widget->setPalette(palette);
    widget->setAutoFillBackground(true);
}

void SetTextColour(QWidget* widget, const QColor& colour) {
    QPalette palette = widget->palette();
    for (auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText}) {
        palette.setColor(QPalette::Active, role, colour);
        palette.setColor(QPalette::Inactive, role, colour);
    }
    widget->setPalette(palette);
}

QFont MakeFont(const char* family, int pixelHeight, bool bold = false) {
    QFont font(QString::fromLatin1(family));
    font.setPixelSize(pixelHeight);
    font.setBold(bold);
    return font;
}

// A flat panel showing one line of plain text (never interpreted as markup: the texts come from
// file names and the lookup service), vertically centred.
template <class Label = QLabel>
Label* Panel(QWidget* parent, const char* name, const QRect& geometry, const QString& text,
             Qt::Alignment alignment) {
    auto* panel = Child<Label>(parent, name, geometry, text);
    panel->setTextFormat(Qt::PlainText);
    panel->setAlignment(alignment | Qt::AlignVCenter);
    panel->setIndent(alignment & Qt::AlignLeft ? 4 : 0);
    return panel;
}

// One of our pictures for widget's screen: on a high-density screen the one drawn at twice the
// size ("name@2x.png"), so it stays sharp.
QPixmap Picture(const QWidget& widget, const char* path) {
    if (widget.devicePixelRatioF() > 1) {
        QString sharp = QString::fromLatin1(path);
        sharp.insert(sharp.lastIndexOf(QLatin1Char('.')), QLatin1String("@2x"));
        QPixmap picture(sharp);
        if (!picture.isNull()) {
            picture.setDevicePixelRatio(2);
            return picture;
        }
    }
    return QPixmap(QString::fromLatin1(path));
}

QFrame* Band(QWidget* parent, const char* name, int top, int height, const QColor& colour) {
    auto* band = Child<QFrame>(parent, name, QRect(0, top, ClientWidth, height));
    SetBackground(band, colour);
    return band;
}

QToolButton* PictureButton(QWidget* parent, const char* name, int x, const char* picture, const char* hint,
                           const char* description) {
    auto* button = Child<QToolButton>(parent, name, QRect(x, 6, 24, 24));
    button->setAutoRaise(true);
    // The icon takes "name@2x.png" beside the picture for high-density screens.
    button->setIcon(QIcon(QString::fromLatin1(picture)));
    button->setIconSize(QSize(16, 16));
    button->setToolTip(Text(hint));
    button->setAccessibleName(Text(hint));
    button->setAccessibleDescription(Text(description));
    button->setCursor(Qt::PointingHandCursor);
    return button;
}

// Pops up the hint of the widget it watches as plain text, as its panel shows it: a folder name
// may look like markup (the tool tip would otherwise read "<b>" as bold and "&lt;" as "<").
class TPlainTextHint : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        auto* widget = qobject_cast<QWidget*>(watched);
        if (event->type() != QEvent::ToolTip || !widget || widget->toolTip().isEmpty()) return false;
        QToolTip::showText(static_cast<QHelpEvent*>(event)->globalPos(),
                           Qt::convertFromPlainText(widget->toolTip(), Qt::WhiteSpacePre), widget);
        return true;
    }
};

// Site list items: a fixed height of 16 pixels, drawn as plain text.
class TFixedHeightDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        return {QStyledItemDelegate::sizeHint(option, index).width(), 16};
    }
};

}  // namespace

TMainForm::TMainForm() : TMainForm(CurrentStartPlaces(), std::make_unique<TDesktop>()) {}

TMainForm::TMainForm(const TStartPlaces& places, std::unique_ptr<TDesktop> desktop)
    : desktop_(std::move(desktop)),
      homeDirectory_(places.homeDirectory),
      configDirectory_(places.configDirectory) {
    settings_.programDirectory = DirectoryOf(places.programFile);
    MakeQueue(places);
    InstallAccessibility();
    setObjectName(QStringLiteral("MainForm"));
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    setFixedSize(ClientWidth, ClientHeight);
    setFont(MakeFont("Tahoma", 11));
    QIcon icon(QStringLiteral(":/pictures/tarnwick.png"));
    icon.addFile(QStringLiteral(":/pictures/tarnwick@2x.png"));
    setWindowIcon(icon);

    BuildHeaderBand();
    BuildNotebook();
    BuildExampleBand();
    BuildAddressBand();
    BuildFolderBand();
    BuildStatusBand();
    SetTabOrder();
    SetStartupDefaults(places);
    ConnectHandlers();
    new TFocusRing(*this);

    move(screen()->availableGeometry().center() - rect().center());
    edit1_->setFocus();
}

TMainForm::~TMainForm() { ShutDownJob(); }

void TMainForm::BuildHeaderBand() {
    QFrame* band = Band(this, "HeaderBand", HeaderTop, 52, White);

    image2_ = Child<TClickPanel>(band, "Image2", QRect(15, 17, 187, 18));
    image2_->setPixmap(Picture(*this, ":/pictures/logo.png"));
    image2_->setCursor(Qt::PointingHandCursor);
    image2_->setAccessibleName(Text(LogoName));
    image2_->setAccessibleDescription(Text(LinkDescription));

    panel20_ = Panel(band, "Panel20", QRect(312, 9, 257, 17), QString(), Qt::AlignRight);
    panel20_->setFont(MakeFont("Arial", 13, true));
    SetTextColour(panel20_, Black);

    panel17_ = Panel<TClickPanel>(band, "Panel17", QRect(440, 25, 129, 17), Text(HomePageShort), Qt::AlignRight);
    QFont link = font();
    link.setUnderline(true);
    panel17_->setFont(link);
    SetTextColour(panel17_, Teal);
    panel17_->setCursor(Qt::PointingHandCursor);
    panel17_->setAccessibleDescription(Text(LinkDescription));
}

void TMainForm::BuildNotebook() {
    notebook1_ = Child<QStackedWidget>(this, "Notebook1", QRect(0, NotebookTop, ClientWidth, 122));
    auto* description = Child<QWidget>(notebook1_, "DescriptionPage", QRect(0, 0, ClientWidth, 122));
    auto* format = Child<QWidget>(notebook1_, "FormatPage", QRect(0, 0, ClientWidth, 122));
    notebook1_->addWidget(description);
    notebook1_->addWidget(format);
    BuildDescriptionPage(description);
    BuildFormatPage(format);
    queuePage_ = new TQueuePage(notebook1_, *queue_, *desktop_);
    queuePage_->setGeometry(0, 0, ClientWidth, 122);
    SetBackground(queuePage_, SkyBlue);
    notebook1_->addWidget(queuePage_);
}

void TMainForm::BuildDescriptionPage(QWidget* page) {
    panel1_ = Child<QFrame>(page, "Panel1", QRect(0, 0, ClientWidth, 122));
    SetBackground(panel1_, SkyBlue);

    auto* frame = Child<QFrame>(panel1_, "PreviewFrame", QRect(8, 8, 136, 105));
    SetBackground(frame, Cream);
    previewImage_ = Child<QLabel>(frame, "PreviewImage", QRect(8, 7, 120, 90));
    previewImage_->setScaledContents(true);
    previewImage_->setAccessibleName(Text(PreviewName));

    defaultImage_ = Child<QLabel>(this, "DefaultImage", QRect(0, 0, 120, 90));
    defaultImage_->setPixmap(Picture(*this, ":/pictures/default-preview.png"));
    defaultImage_->hide();

    const std::pair<const char*, const char*> labels[] = {
        {"AuthorLabel", AuthorLabel}, {"TitleLabel", TitleLabel}, {"LengthLabel", LengthLabel}, {"SizeLabel", SizeLabel}};
    const char* values[] = {"AuthorPanel", "TitlePanel", "LengthPanel", "SizePanel"};
    QLabel** valuePanels[] = {&authorPanel_, &titlePanel_, &lengthPanel_, &sizePanel_};
    for (int row = 0; row < 4; ++row) {
        const int y = 16 + 24 * row;
        auto* label = Panel(panel1_, labels[row].first, QRect(152, y, 65, 17), Text(labels[row].second), Qt::AlignRight);
        SetBackground(label, Teal);
        SetTextColour(label, White);
        *valuePanels[row] = Panel(panel1_, values[row], QRect(216, y, 361, 17), QString(), Qt::AlignLeft);
        SetBackground(*valuePanels[row], White);
        // A screen reader says what the value is, as the label beside it shows.
        (*valuePanels[row])->setAccessibleDescription(Text(labels[row].second).trimmed());
    }
}

void TMainForm::BuildFormatPage(QWidget* page) {
    SetBackground(page, SkyBlue);
    const QFont labelFont = MakeFont("Arial", 13, true);
    const QFont listFont = MakeFont("Arial", 12, true);

    const std::pair<const char*, const char*> labels[] = {
        {"FormatLabel", FormatLabel}, {"QualityLabel", QualityLabel}, {"HdLabel", HdLabel}};
    QLabel* labelPanels[3];
    for (int row = 0; row < 3; ++row) {
        auto* label = Panel(page, labels[row].first, QRect(68, 20 + 29 * row, 217, 23), Text(labels[row].second),
                            Qt::AlignRight);
        SetBackground(label, Cream);
        label->setFont(labelFont);
        labelPanels[row] = label;
    }

    auto list = [&](const char* name, int y, auto& items) {
        auto* combo = Child<QComboBox>(page, name, QRect(295, y, 217, 22));
        for (const char* item : items) combo->addItem(Text(item));
        combo->setFont(listFont);
        SetTextColour(combo, Olive);
        combo->setCursor(Qt::PointingHandCursor);
        return combo;
    };
    formatComboBox_ = list("FormatComboBox", 20, Formats);
    qualityComboBox_ = list("QualityComboBox", 48, Qualities);
    // The labels name the lists to assistive technology (which reads a list's name as its choice).
    labelPanels[0]->setBuddy(formatComboBox_);
    labelPanels[1]->setBuddy(qualityComboBox_);

    radioButton1_ = Child<QRadioButton>(page, "RadioButton1", QRect(296, 82, 41, 17), Text(HdNo));
    radioButton2_ = Child<QRadioButton>(page, "RadioButton2", QRect(344, 82, 113, 17), Text(HdYes));
    for (QRadioButton* radio : {radioButton1_, radioButton2_}) {
        radio->setFont(listFont);
        radio->setCursor(Qt::PointingHandCursor);
        // The captions bring their own leading blank; the style's wide gap would push
        // " Yes (if available)" past its 113 pixels.
        radio->setStyleSheet(QStringLiteral("QRadioButton { spacing: 2px; }"));
        radio->setAccessibleName(radio->text().trimmed());
        radio->setAccessibleDescription(Text(HdDescription));
    }
    radioButton1_->setChecked(true);
    transferOptions_ = new TTransferOptions(*page, settings_);
}

void TMainForm::BuildExampleBand() {
    QFrame* band = Band(this, "ExampleBand", ExampleTop, 25, Cream);

    panel18_ = Panel<TClickPanel>(band, "Panel18", QRect(8, 0, 137, 25), Text(Copyright), Qt::AlignHCenter);
    panel19_ = Panel<TClickPanel>(band, "Panel19", QRect(152, 0, 421, 25), QString(), Qt::AlignLeft);
    panel19_->setToolTip(Text(ExampleHint));
    for (TClickPanel* panel : {panel18_, panel19_}) {
        SetBackground(panel, White);
        SetTextColour(panel, Teal);
        panel->setCursor(Qt::PointingHandCursor);
    }
    panel19_->setText(DisplayText(SiteOf(1).exampleAddress));
    panel18_->setAccessibleDescription(Text(LinkDescription));
}

void TMainForm::BuildAddressBand() {
    QFrame* band = Band(this, "AddressBand", AddressTop, 36, AddressBlue);

    comboBox1_ = Child<QComboBox>(band, "ComboBox1", QRect(7, 7, 137, 22));
    comboBox1_->setItemDelegate(new TFixedHeightDelegate(comboBox1_));
    for (int site = 1; site <= SiteCount; ++site) comboBox1_->addItem(DisplayText(SiteOf(site).domain));
    comboBox1_->setCursor(Qt::PointingHandCursor);
    comboBox1_->setAccessibleDescription(Text(SiteListDescription));

    edit1_ = Child<QLineEdit>(band, "Edit1", QRect(152, 10, 332, 16));
    edit1_->setFrame(false);
    QPalette palette = edit1_->palette();
    palette.setColor(QPalette::Base, Cream);
    edit1_->setPalette(palette);
    edit1_->setAccessibleName(Text(AddressName));
    edit1_->setAccessibleDescription(Text(AddressDescription));

    auto* buttonPanel = Child<QFrame>(band, "DownloadPanel", QRect(ClientWidth - 85, 0, 85, 36));
    SetBackground(buttonPanel, White);
    downloadButton_ = Child<QPushButton>(buttonPanel, "DownloadButton", QRect(6, 6, 74, 24), Text(Download));
    downloadButton_->setCursor(Qt::PointingHandCursor);
    // Enter presses the focused button as Space does; Qt gives buttons outside dialogs Space only.
    downloadButton_->setAutoDefault(true);
    downloadButton_->setAccessibleDescription(Text(DownloadDescription));
}

void TMainForm::BuildFolderBand() {
    QFrame* band = Band(this, "FolderBand", FolderTop, 36, Cream);

    speedButton2_ = PictureButton(band, "SpeedButton2", 5, ":/pictures/main.png", MainHint, MainDescription);
    speedButton1_ = PictureButton(band, "SpeedButton1", 30, ":/pictures/options.png", OptionsHint, OptionsDescription);
    changeButton_ = PictureButton(band, "ChangeButton", 55, ":/pictures/change-directory.png", ChangeDirectoryHint,
                                  ChangeDirectoryDescription);
    speedButton3_ = PictureButton(band, "SpeedButton3", 550, ":/pictures/open-directory.png", OpenDirectoryHint,
                                  OpenDirectoryDescription);
    queueButton_ = PictureButton(band, "QueueButton", 80, ":/pictures/queue.png", QueueHint, QueueDescription);

    panel22_ = Panel(band, "Panel22", QRect(113, 6, 432, 25), QString(), Qt::AlignLeft);
    SetBackground(panel22_, White);
    panel22_->installEventFilter(new TPlainTextHint(panel22_));
    panel22_->setAccessibleDescription(Text(SaveFolderDescription));
}

void TMainForm::BuildStatusBand() {
    statusBand_ = new TStatusBand(this, QRect(0, StatusTop, ClientWidth, 20));
    statusBand_->setAccessibleName(Text(StatusName));
    statusBand_->findChild<QWidget*>(QStringLiteral("ProgressBar"))->setAccessibleName(Text(ProgressName));
    // A link to the saved file only after a job saved one (TJobEndReport).
    messagePanel_ = Panel<TClickPanel>(statusBand_, "MessagePanel", QRect(8, 0, 561, 20), QString(), Qt::AlignLeft);
    messagePanel_->SetActive(false);
    messagePanel_->setIndent(0);
    // Its hint carries the job's reasons, which quote servers and file names: plain text too.
    messagePanel_->installEventFilter(new TPlainTextHint(messagePanel_));
    // The speed sits above the status line at the band's right end.
    statusBand_->findChild<QLabel*>(QStringLiteral("SpeedPanel"))->raise();
}

void TMainForm::SetTabOrder() {
    // Top to bottom through the bands, left to right in each, in reading order; the hidden
    // notebook page's controls and the status line while it is no link are skipped by Qt.
    QWidget* const order[] = {image2_,       panel17_,     formatComboBox_, qualityComboBox_, radioButton1_,
                              radioButton2_, transferOptions_->Connections(), transferOptions_->Rate(),
                              transferOptions_->AtOnce(),
                              panel18_,     panel19_,        comboBox1_,       edit1_,
                              downloadButton_, speedButton2_, speedButton1_, changeButton_,   speedButton3_,
                              messagePanel_};
    for (std::size_t i = 1; i < std::size(order); ++i) QWidget::setTabOrder(order[i - 1], order[i]);
    // The Queue page's controls with the notebook's, and its button after the folder's.
    QWidget* previous = radioButton2_;
    for (QWidget* control : queuePage_->TabOrder()) {
        QWidget::setTabOrder(previous, control);
        previous = control;
    }
    QWidget::setTabOrder(changeButton_, queueButton_);
}

void TMainForm::ConnectHandlers() {
    connect(comboBox1_, &QComboBox::currentIndexChanged, this, &TMainForm::SiteChange);
    connect(formatComboBox_, &QComboBox::currentIndexChanged, this, [this](int position) {
        settings_.formatIndex = position;
        ConversionChanged();
    });
    connect(qualityComboBox_, &QComboBox::currentIndexChanged, this, [this](int position) {
        settings_.qualityIndex = position;
        ConversionChanged();
    });
    connect(radioButton1_, &QRadioButton::clicked, this, &TMainForm::HdNoClick);
    connect(radioButton2_, &QRadioButton::clicked, this, &TMainForm::HdYesClick);
    // Raising it starts waiting entries at once; lowering it lets the running ones finish.
    connect(transferOptions_, &TTransferOptions::AtOnceChanged, this, [this](int jobs) {
        if (queue_) queue_->SetParallel(jobs);
    });
    connect(speedButton1_, &QToolButton::clicked, this, [this] { notebook1_->setCurrentIndex(1); });
    connect(speedButton2_, &QToolButton::clicked, this, [this] { notebook1_->setCurrentIndex(0); });
    connect(queueButton_, &QToolButton::clicked, this, [this] { notebook1_->setCurrentIndex(2); });
    connect(changeButton_, &QToolButton::clicked, this, &TMainForm::FolderChoice);
    connect(speedButton3_, &QToolButton::clicked, this, &TMainForm::OpenSaveDirectory);
    connect(panel19_, &TClickPanel::clicked, this, &TMainForm::ExampleAddressClick);
    const auto openHomePage = [this] { desktop_->OpenUrl(QUrl(Text(HomePage))); };
    connect(image2_, &TClickPanel::clicked, this, openHomePage);
    connect(panel17_, &TClickPanel::clicked, this, openHomePage);
    connect(panel18_, &TClickPanel::clicked, this, [this] { desktop_->OpenUrl(QUrl(Text(CompanyPage))); });
    connect(downloadButton_, &QPushButton::clicked, this, &TMainForm::DownloadButtonClick);
    connect(edit1_, &QLineEdit::returnPressed, this, &TMainForm::AddressEntered);
    new TWindowKeys(*this, *edit1_, *downloadButton_,
                    {speedButton2_, speedButton1_, changeButton_, queueButton_, speedButton3_});
    const auto told = [this](bool taken) {
        // The note stays until something else is shown; a link taken after it clears it.
        if (!taken)
            ShowStatus(Text(LinkRefused));
        else if (messagePanel_->text() == Text(LinkRefused))
            ShowIdleStatus();
    };
    new TLinkDrop(*this, *edit1_, told, [this](const QStringList& links) { EnqueueSeveral(links); });
    jobEndReport_ = new TJobEndReport(*this, *desktop_, *titlePanel_, *messagePanel_);
}

void TMainForm::SetStartupDefaults(const TStartPlaces& places) {
    // The design state already matches site 1, so the site-change handler is not run here.
    comboBox1_->setCurrentIndex(0);
    setWindowTitle(Text(Caption));
    panel20_->setText(Text(Caption));
    settings_.workDirectory = WorkDirectoryFor(places);
    settings_.saveDirectory = DefaultSaveDirectory(places.homeDirectory);
    ShowSaveDirectory();
    CreateDirectories(settings_.saveDirectory);  // delivery tries again when this fails
    ShowIdleStatus();
    ShowDefaultPicture();
    formatComboBox_->setCurrentIndex(kDefaultFormat);
    qualityComboBox_->setCurrentIndex(kDefaultQuality);
    settings_.formatIndex = kDefaultFormat;
    settings_.qualityIndex = kDefaultQuality;
    settings_.siteNumber = kDefaultSiteNumber;
    settings_.hdFlag = 0;
}

void TMainForm::SiteChange(int position) {
    if (position < 0) return;
    settings_.siteNumber = position + 1;
    const TSite& site = SiteOf(settings_.siteNumber);
    SetBackground(panel1_, QColor(site.red, site.green, site.blue));
    panel19_->setText(DisplayText(site.exampleAddress));
    edit1_->clear();
    ShowDefaultPicture();
    ClearDescription();
    ShowIdleStatus();
}

void TMainForm::HdNoClick() {
    settings_.hdFlag = 0;
    formatComboBox_->setEnabled(true);
    qualityComboBox_->setEnabled(true);
}

void TMainForm::HdYesClick() {
    settings_.hdFlag = 1;
    formatComboBox_->setCurrentIndex(6);
    settings_.formatIndex = 6;
    qualityComboBox_->setCurrentIndex(3);
    settings_.qualityIndex = 3;
    formatComboBox_->setEnabled(false);
    qualityComboBox_->setEnabled(false);
}

void TMainForm::FolderChoice() {
    const QString start = QFile::decodeName(QByteArray::fromStdString(DesktopDirectory(homeDirectory_, configDirectory_)));
    const QString chosen = desktop_->ChooseFolder(this, Text(SelectFolder), start);
    if (chosen.isEmpty()) return;
    settings_.saveDirectory = QFile::encodeName(QDir::cleanPath(chosen)).toStdString();
    ShowSaveDirectory();
    ShowIdleStatus();
}

void TMainForm::OpenSaveDirectory() {
    // Made from the bytes themselves: a folder name that is not UTF-8 would not survive a QString.
    desktop_->OpenUrl(LocalFileUrl(settings_.saveDirectory));
}

void TMainForm::ExampleAddressClick() {
    if (edit1_->isEnabled()) edit1_->setText(panel19_->text());
}

void TMainForm::DownloadButtonClick() {
    if (downloadButton_->text() == Text(Abort)) {
        AbortJob();
        return;
    }
    if (edit1_->text().isEmpty()) {
        QMessageBox box(QMessageBox::Warning, Text(Caption), Text(EmptyAddress), QMessageBox::Ok, this);
        desktop_->ShowMessage(box);
        return;
    }
    PrepareJob();
    if (!Enqueue(edit1_->text())) ShowStatus(Text(AlreadyQueued));
}

void TMainForm::ShowSaveDirectory() {
    const QString shown = DisplayText(settings_.saveDirectory);
    panel22_->setText(shown);
    panel22_->setToolTip(shown);
}

void TMainForm::JobEnded(const std::string& savedFile) { jobEndReport_->JobEnded(messagePanel_->text(), savedFile); }

void TMainForm::ShowIdleStatus() { ShowStatus(Text(IdleStatus)); }

void TMainForm::ShowStatus(const QString& text) {
    messagePanel_->setText(text);
    messagePanel_->setAccessibleName(text);
    if (jobEndReport_) jobEndReport_->StatusChanged();
}

void TMainForm::ShowDefaultPicture() { previewImage_->setPixmap(defaultImage_->pixmap()); }

void TMainForm::ClearDescription() {
    for (QLabel* panel : {authorPanel_, titlePanel_, lengthPanel_, sizePanel_}) panel->clear();
}

}  // namespace tarnwick
