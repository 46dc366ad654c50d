#include <QAccessible>
#include <QApplication>
#include <QHelpEvent>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QStackedWidget>
#include <QToolButton>
#include <QToolTip>

#include <filesystem>
#include <fstream>
#include <ostream>

#include "MainFormFixture.h"
#include "app/DisplayText.h"
#include "app/SiteTable.h"
#include "job/files/Folders.h"

using namespace tarnwick;
using namespace tarnwick::testing;

namespace {

const QString Idle = QString::fromUtf8("Please enter a video URL and press the «Download» button.");

QImage Picture(const QLabel& label) { return label.pixmap().toImage(); }

QColor Background(const QWidget& widget) { return widget.palette().color(QPalette::Window); }

// The text of the hint that pops up over widget, as the user reads it.
QString ShownHint(QWidget& widget) {
    const QPoint inside(2, 2);
    QHelpEvent request(QEvent::ToolTip, inside, widget.mapToGlobal(inside));
    QApplication::sendEvent(&widget, &request);
    for (QWidget* window : QApplication::topLevelWidgets()) {
        if (window->objectName() != "qtooltip_label" || !window->isVisible()) continue;
        QAccessibleInterface* shown = QAccessible::queryAccessibleInterface(window);
        return shown ? shown->text(QAccessible::Name) : QString();
    }
    return {};
}

const char* const ValuePanels[] = {"AuthorPanel", "TitlePanel", "LengthPanel", "SizePanel"};

}  // namespace

class MainForm : public MainFormFixture {
protected:
    // What a finished job leaves behind: an address, a description and a preview of its own.
    void FillDescription() {
        Find<QLineEdit>("Edit1").setText("https://www.youtube.com/watch?v=previous");
        for (const char* name : ValuePanels) Find<QLabel>(name).setText("value");
        QPixmap preview(120, 90);
        preview.fill(Qt::red);
        Find<QLabel>("PreviewImage").setPixmap(preview);
        Find<QLabel>("MessagePanel").setText("Download is completed.");
    }

    void ExpectDescriptionCleared() {
        EXPECT_EQ(Find<QLineEdit>("Edit1").text(), "");
        for (const char* name : ValuePanels) EXPECT_EQ(Find<QLabel>(name).text(), "") << name;
        EXPECT_EQ(Picture(Find<QLabel>("PreviewImage")), Picture(Find<QLabel>("DefaultImage")));
        EXPECT_EQ(Find<QLabel>("MessagePanel").text(), Idle);
    }

    void Click(const char* name) {
        QWidget& widget = Find<QWidget>(name);
        ASSERT_TRUE(widget.isVisible()) << name << " must be on screen to be clicked";
        QTest::mouseClick(&widget, Qt::LeftButton);
    }
};

TEST_F(MainForm, StartsWithEveryDefault) {
    const TJobRequest& settings = form_->Settings();
    EXPECT_EQ(settings.siteNumber, 1);
    EXPECT_EQ(settings.hdFlag, 0);
    EXPECT_EQ(settings.formatIndex, 6);
    EXPECT_EQ(settings.qualityIndex, 2);
    EXPECT_EQ(settings.workDirectory, QFileInfo(QCoreApplication::applicationFilePath()).absolutePath().toStdString());
    EXPECT_EQ(settings.saveDirectory, Home() + "/My Web Videos");
    EXPECT_TRUE(std::filesystem::is_directory(Home() + "/My Web Videos")) << "the save directory is created";

    EXPECT_EQ(form_->objectName(), "MainForm");
    EXPECT_EQ(form_->windowTitle(), "Tarnwick - Rero 1.01");
    EXPECT_EQ(Find<QLabel>("Panel20").text(), "Tarnwick - Rero 1.01");
    EXPECT_EQ(Find<QLabel>("Panel22").text(), QString::fromStdString(Home() + "/My Web Videos"));
    EXPECT_EQ(Find<QLabel>("Panel22").toolTip(), Find<QLabel>("Panel22").text());
    EXPECT_EQ(Find<QLabel>("MessagePanel").text(), Idle);

    const auto& preview = Find<QLabel>("PreviewImage");
    ASSERT_FALSE(preview.pixmap().isNull());
    EXPECT_EQ(Picture(preview), Picture(Find<QLabel>("DefaultImage")));
    EXPECT_EQ(Picture(Find<QLabel>("DefaultImage")).size(), QSize(120, 90));
    EXPECT_FALSE(Find<QLabel>("DefaultImage").isVisibleTo(form_.get()));

    const auto& sites = Find<QComboBox>("ComboBox1");
    EXPECT_EQ(sites.currentIndex(), 0);
    EXPECT_EQ(Find<QComboBox>("FormatComboBox").currentIndex(), 6);
    EXPECT_EQ(Find<QComboBox>("QualityComboBox").currentIndex(), 2);
    EXPECT_TRUE(Find<QComboBox>("FormatComboBox").isEnabled());
    EXPECT_TRUE(Find<QComboBox>("QualityComboBox").isEnabled());
    EXPECT_TRUE(Find<QRadioButton>("RadioButton1").isChecked());
    EXPECT_FALSE(Find<QRadioButton>("RadioButton2").isChecked());
    EXPECT_EQ(Find<QStackedWidget>("Notebook1").currentIndex(), 0);
    EXPECT_EQ(Background(Find<QWidget>("Panel1")), QColor(166, 202, 240));
    EXPECT_EQ(Find<QLabel>("Panel19").text(), DisplayText(SiteOf(1).exampleAddress));
    for (const char* name : ValuePanels) EXPECT_EQ(Find<QLabel>(name).text(), "") << name;
    EXPECT_EQ(Find<QLineEdit>("Edit1").text(), "");
    EXPECT_TRUE(Find<QLineEdit>("Edit1").isEnabled());
    EXPECT_EQ(Find<QPushButton>("DownloadButton").text(), "Download");
}

TEST_F(MainForm, StartsWhenTheSaveDirectoryCannotBeCreated) {
    // A home "folder" that is a plain file: nothing can be created below it.
    const std::string fileHome = Home() + "/not-a-folder";
    std::ofstream(fileHome) << "x";
    auto form = MakeForm(fileHome);
    EXPECT_EQ(form->Settings().saveDirectory, fileHome + "/My Web Videos");
    EXPECT_FALSE(std::filesystem::exists(fileHome + "/My Web Videos"));
    EXPECT_EQ(form->findChild<QLabel*>("Panel22")->text(), QString::fromStdString(fileHome + "/My Web Videos"));
}

TEST_F(MainForm, ShowsAFolderNameThatIsNotUtf8AsWindows1252) {
    const std::string latin1Home = Home() + "/caf\xE9";
    ASSERT_TRUE(CreateDirectories(latin1Home));
    auto form = MakeForm(latin1Home);
    EXPECT_EQ(form->Settings().saveDirectory, latin1Home + "/My Web Videos");
    const QString shown = form->findChild<QLabel*>("Panel22")->text();
    EXPECT_TRUE(shown.endsWith(QString::fromUtf8("/café/My Web Videos"))) << shown.toStdString();
    EXPECT_EQ(form->findChild<QLabel*>("Panel22")->toolTip(), shown);
}

// ---- site change ----

struct SiteCase {
    int siteNumber;
    const char* domain;
    QColor colour;
};

void PrintTo(const SiteCase& c, std::ostream* out) { *out << c.domain; }

class SiteChange : public MainForm, public ::testing::WithParamInterface<SiteCase> {};

TEST_P(SiteChange, RecoloursShowsTheExampleAndClearsTheLastJob) {
    const SiteCase& site = GetParam();
    auto& sites = Find<QComboBox>("ComboBox1");
    EXPECT_EQ(sites.itemText(site.siteNumber - 1), site.domain);
    // Come from another site so that the change is a real one.
    sites.setCurrentIndex(site.siteNumber % SiteCount);
    FillDescription();

    sites.setCurrentIndex(site.siteNumber - 1);

    EXPECT_EQ(form_->Settings().siteNumber, site.siteNumber);
    EXPECT_EQ(Background(Find<QWidget>("Panel1")), site.colour);
    const QString example = Find<QLabel>("Panel19").text();
    const QUrl address(example);
    EXPECT_TRUE(address.isValid() && (address.host() == site.domain || address.host().endsWith(QString(".") + site.domain)))
        << example.toStdString();
    ExpectDescriptionCleared();
}

INSTANTIATE_TEST_SUITE_P(EverySite, SiteChange,
                         ::testing::Values(SiteCase{1, "youtube.com", QColor(166, 202, 240)},
                                           SiteCase{2, "redtube.com", QColor(245, 152, 157)},
                                           SiteCase{3, "metacafe.com", QColor(92, 216, 152)},
                                           SiteCase{4, "dailymotion.com", QColor(92, 216, 152)},
                                           SiteCase{5, "xvideos.com", QColor(245, 152, 157)}),
                         [](const auto& info) {
                             std::string name = info.param.domain;
                             return name.substr(0, name.find('.'));
                         });

TEST_F(MainForm, SiteChosenByKeyboardClearsAnAddressTypedForTheLastSite) {
    ShowForm();
    QTest::keyClicks(&Find<QLineEdit>("Edit1"), "https://www.youtube.com/watch?v=abc");
    auto& sites = Find<QComboBox>("ComboBox1");
    sites.setFocus();
    QTest::keyClick(&sites, Qt::Key_Down);
    EXPECT_EQ(form_->Settings().siteNumber, 2);
    EXPECT_EQ(Find<QLineEdit>("Edit1").text(), "");
    EXPECT_EQ(Background(Find<QWidget>("Panel1")), QColor(245, 152, 157));
}

// ---- format page ----

TEST_F(MainForm, FormatAndQualityListsSetTheIndices) {
    Find<QComboBox>("FormatComboBox").setCurrentIndex(0);
    Find<QComboBox>("QualityComboBox").setCurrentIndex(3);
    EXPECT_EQ(form_->Settings().formatIndex, 0);
    EXPECT_EQ(form_->Settings().qualityIndex, 3);
    Find<QComboBox>("FormatComboBox").setCurrentIndex(7);
    Find<QComboBox>("QualityComboBox").setCurrentIndex(0);
    EXPECT_EQ(form_->Settings().formatIndex, 7);
    EXPECT_EQ(form_->Settings().qualityIndex, 0);
}

TEST_F(MainForm, TransferRowSetsConnectionsAndSpeedLimit) {
    ShowForm();
    Click("SpeedButton1");
    auto& connections = Find<QSpinBox>("ConnectionsSpinBox");
    auto& rate = Find<QComboBox>("RateComboBox");
    EXPECT_EQ(form_->Settings().connections, 4);
    EXPECT_EQ(form_->Settings().rateLimit, 0);
    EXPECT_EQ(rate.currentText(), "Off");
    EXPECT_EQ(connections.accessibleName(), "Connections");
    EXPECT_EQ(rate.accessibleName(), "Limit speed");
    connections.setFocus();
    QTest::keyClick(&connections, Qt::Key_PageUp);
    QTest::keyClick(&connections, Qt::Key_PageUp);  // held at the most
    EXPECT_EQ(form_->Settings().connections, 16);
    rate.setCurrentIndex(2);
    EXPECT_EQ(form_->Settings().rateLimit, 512 * 1024);
    rate.lineEdit()->clear();
    QTest::keyClicks(rate.lineEdit(), "1.5M");  // the point is refused as typed
    EXPECT_EQ(rate.currentText(), "15M");
    EXPECT_EQ(form_->Settings().rateLimit, 15 * 1024 * 1024);
    rate.lineEdit()->clear();
    QTest::keyClick(rate.lineEdit(), Qt::Key_Return);
    EXPECT_EQ(rate.currentText(), "15M") << "a text that is no rate is put back";
    EXPECT_EQ(form_->Settings().rateLimit, 15 * 1024 * 1024);
    rate.setCurrentIndex(0);
    EXPECT_EQ(form_->Settings().rateLimit, 0);
}

TEST_F(MainForm, HdYesForcesFormat6Quality3AndLocksTheLists) {
    ShowForm();
    Click("SpeedButton1");
    auto& format = Find<QComboBox>("FormatComboBox");
    auto& quality = Find<QComboBox>("QualityComboBox");
    format.setCurrentIndex(1);
    quality.setCurrentIndex(0);

    Click("RadioButton2");
    EXPECT_TRUE(Find<QRadioButton>("RadioButton2").isChecked());
    EXPECT_EQ(form_->Settings().hdFlag, 1);
    EXPECT_EQ(form_->Settings().formatIndex, 6);
    EXPECT_EQ(form_->Settings().qualityIndex, 3);
    EXPECT_EQ(format.currentIndex(), 6);
    EXPECT_EQ(quality.currentIndex(), 3);
    EXPECT_FALSE(format.isEnabled());
    EXPECT_FALSE(quality.isEnabled());

    Click("RadioButton1");
    EXPECT_TRUE(Find<QRadioButton>("RadioButton1").isChecked());
    EXPECT_EQ(form_->Settings().hdFlag, 0);
    EXPECT_TRUE(format.isEnabled());
    EXPECT_TRUE(quality.isEnabled());
    EXPECT_EQ(format.currentIndex(), 6) << "the lists keep what HD chose";
    EXPECT_EQ(quality.currentIndex(), 3);
    EXPECT_EQ(form_->Settings().formatIndex, 6);
    EXPECT_EQ(form_->Settings().qualityIndex, 3);
}

TEST_F(MainForm, HdChoiceFollowsTheArrowKeys) {
    ShowForm();
    Click("SpeedButton1");
    auto& no = Find<QRadioButton>("RadioButton1");
    no.setFocus();
    QTest::keyClick(&no, Qt::Key_Right);
    EXPECT_EQ(form_->Settings().hdFlag, 1);
    EXPECT_FALSE(Find<QComboBox>("FormatComboBox").isEnabled());
    QTest::keyClick(&Find<QRadioButton>("RadioButton2"), Qt::Key_Left);
    EXPECT_EQ(form_->Settings().hdFlag, 0);
    EXPECT_TRUE(Find<QComboBox>("FormatComboBox").isEnabled());
}

TEST_F(MainForm, PictureButtonsSwitchThePages) {
    ShowForm();
    auto& notebook = Find<QStackedWidget>("Notebook1");
    Click("SpeedButton1");
    EXPECT_EQ(notebook.currentIndex(), 1);
    EXPECT_TRUE(Find<QWidget>("FormatComboBox").isVisible());
    Click("SpeedButton2");
    EXPECT_EQ(notebook.currentIndex(), 0);
    EXPECT_TRUE(Find<QWidget>("PreviewImage").isVisible());
}

// ---- example band and links ----

TEST_F(MainForm, ExampleAddressIsCopiedOnlyWhileTheAddressFieldIsEnabled) {
    ShowForm();
    auto& address = Find<QLineEdit>("Edit1");
    Click("Panel19");
    EXPECT_EQ(address.text(), DisplayText(SiteOf(1).exampleAddress));

    address.setText("typed while a job runs");
    address.setEnabled(false);
    Click("Panel19");
    EXPECT_EQ(address.text(), "typed while a job runs");
}

struct LinkCase {
    const char* panel;
    const char* address;
};

void PrintTo(const LinkCase& c, std::ostream* out) { *out << c.panel; }

class Links : public MainForm, public ::testing::WithParamInterface<LinkCase> {};

TEST_P(Links, OpenTheMakersPagesInTheBrowser) {
    ShowForm();
    Click(GetParam().panel);
    ASSERT_EQ(log_.opened.size(), 1u);
    EXPECT_EQ(log_.opened[0], QUrl(GetParam().address));
    EXPECT_EQ(log_.opened[0].host().right(8), ".example");
}

INSTANTIATE_TEST_SUITE_P(HeaderAndMakerPanels, Links,
                         ::testing::Values(LinkCase{"Image2", "https://tarnwick.example/"},
                                           LinkCase{"Panel17", "https://tarnwick.example/"},
                                           LinkCase{"Panel18", "https://tarnwick-software.example/"}),
                         [](const auto& info) { return std::string(info.param.panel); });

// ---- folders ----

TEST_F(MainForm, OpenDirectoryShowsTheSaveDirectoryInTheFileManager) {
    ShowForm();
    Click("SpeedButton3");
    ASSERT_EQ(log_.opened.size(), 1u);
    EXPECT_TRUE(log_.opened[0].isLocalFile());
    EXPECT_EQ(log_.opened[0].toLocalFile(), QString::fromStdString(Home() + "/My Web Videos"));
}

TEST_F(MainForm, OpenDirectoryNamesASaveDirectoryThatIsNotUtf8ByteForByte) {
    const std::string latin1Home = Home() + "/caf\xE9 #1%";
    ASSERT_TRUE(CreateDirectories(latin1Home));
    form_ = MakeForm(latin1Home);
    ShowForm();
    Click("SpeedButton3");
    ASSERT_EQ(log_.opened.size(), 1u);
    const QUrl& opened = log_.opened[0];
    EXPECT_TRUE(opened.isLocalFile());
    EXPECT_EQ(QByteArray::fromPercentEncoding(opened.path(QUrl::FullyEncoded).toLatin1()).toStdString(),
              form_->Settings().saveDirectory)
        << opened.toEncoded().toStdString();
}

TEST_F(MainForm, FolderChoiceStartsAtTheDesktopAndTakesTheChosenFolder) {
    ShowForm();
    ASSERT_TRUE(CreateDirectories(Home() + "/Desktop"));
    Find<QLabel>("MessagePanel").setText("Download aborted.");
    log_.nextFolder = home_.path() + "/videos/";

    Click("ChangeButton");

    ASSERT_EQ(log_.folderRequests.size(), 1u);
    EXPECT_EQ(log_.folderRequests[0].owner, form_.get());
    EXPECT_EQ(log_.folderRequests[0].title, "Select folder");
    EXPECT_EQ(log_.folderRequests[0].startFolder, home_.path() + "/Desktop");
    EXPECT_EQ(form_->Settings().saveDirectory, Home() + "/videos") << "held without a trailing slash";
    EXPECT_EQ(Find<QLabel>("Panel22").text(), home_.path() + "/videos");
    EXPECT_EQ(Find<QLabel>("Panel22").toolTip(), Find<QLabel>("Panel22").text());
    EXPECT_EQ(Find<QLabel>("MessagePanel").text(), Idle);
    EXPECT_FALSE(QFileInfo::exists(home_.path() + "/videos")) << "choosing does not create the folder";
}

TEST_F(MainForm, FolderChoiceCancelledChangesNothing) {
    ShowForm();
    Find<QLabel>("MessagePanel").setText("Download aborted.");
    log_.nextFolder.clear();
    Click("ChangeButton");
    ASSERT_EQ(log_.folderRequests.size(), 1u);
    EXPECT_EQ(log_.folderRequests[0].startFolder, home_.path()) << "no desktop folder: the home folder";
    EXPECT_EQ(form_->Settings().saveDirectory, Home() + "/My Web Videos");
    EXPECT_EQ(Find<QLabel>("Panel22").text(), QString::fromStdString(Home() + "/My Web Videos"));
    EXPECT_EQ(Find<QLabel>("MessagePanel").text(), "Download aborted.");
}

TEST_F(MainForm, FolderNameThatLooksLikeMarkupIsShownAsItIs) {
    ShowForm();
    log_.nextFolder = home_.path() + "/<b>clips</b>";
    Click("ChangeButton");
    auto& panel = Find<QLabel>("Panel22");
    EXPECT_EQ(panel.text(), home_.path() + "/<b>clips</b>");
    EXPECT_EQ(panel.textFormat(), Qt::PlainText);
    EXPECT_EQ(panel.toolTip(), panel.text());
}

TEST_F(MainForm, FolderHintThatLooksLikeMarkupPopsUpAsItIs) {
    ShowForm();
    for (const QString name : {"/<b>clips</b>", "/a &lt; b", "/<i>x", "/<b>two  blanks</b>", "/5 < 6 > 4"}) {
        log_.nextFolder = home_.path() + name;
        Click("ChangeButton");
        auto& panel = Find<QLabel>("Panel22");
        EXPECT_EQ(ShownHint(panel).toStdString(), panel.text().toStdString());
    }
    // The hint must be gone before its window is.
    QToolTip::hideText();
    EXPECT_TRUE(QTest::qWaitFor([] { return !QToolTip::isVisible(); }));
}

// ---- the Download button ----

TEST_F(MainForm, DownloadWithEmptyAddressAsksForOneInAMessageBox) {
    ShowForm();
    Click("DownloadButton");
    ASSERT_EQ(log_.messages.size(), 1u);
    const auto& message = log_.messages[0];
    EXPECT_EQ(message.owner, form_.get());
    EXPECT_EQ(message.title, "Tarnwick - Rero 1.01");
    EXPECT_EQ(message.text, "Please enter a video URL.");
    EXPECT_EQ(message.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    EXPECT_EQ(Find<QPushButton>("DownloadButton").text(), "Download");
    EXPECT_EQ(Find<QLabel>("MessagePanel").text(), Idle);
}

TEST_F(MainForm, DownloadWithAnAddressShowsNoMessage) {
    ShowForm();
    Find<QLineEdit>("Edit1").setText("https://www.youtube.com/watch?v=abc");
    Click("DownloadButton");
    EXPECT_TRUE(log_.messages.empty());
}

// ---- keyboard ----

TEST_F(MainForm, EnterInTheAddressFieldPressesDownload) {
    ShowForm();
    QSignalSpy pressed(&Find<QPushButton>("DownloadButton"), &QPushButton::clicked);
    auto& address = Find<QLineEdit>("Edit1");
    QTest::keyClick(&address, Qt::Key_Return);
    EXPECT_EQ(pressed.count(), 1);
    EXPECT_EQ(log_.messages.size(), 1u) << "an empty address still asks for one";

    QTest::keyClicks(&address, "https://www.youtube.com/watch?v=abc");
    QTest::keyClick(&address, Qt::Key_Enter);
    EXPECT_EQ(pressed.count(), 2);
    EXPECT_EQ(log_.messages.size(), 1u);
}

TEST_F(MainForm, EnterOrSpaceOnTheFocusedDownloadButtonPressesIt) {
    ShowForm();
    auto& button = Find<QPushButton>("DownloadButton");
    QSignalSpy pressed(&button, &QPushButton::clicked);
    button.setFocus(Qt::TabFocusReason);
    for (const Qt::Key key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Space}) QTest::keyClick(&button, key);
    EXPECT_EQ(pressed.count(), 3);
    EXPECT_EQ(log_.messages.size(), 3u);
}

TEST_F(MainForm, AddressFieldHasTheFocusAtStart) {
    ShowForm();
    form_->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(form_.get()));
    EXPECT_EQ(QApplication::focusWidget(), &Find<QWidget>("Edit1"));
}

class TabOrder : public MainForm {
protected:
    // Object names of the controls that Tab visits, starting from first, until focus comes back.
    std::vector<std::string> Walk(const char* first) {
        std::vector<std::string> visited;
        QWidget* start = &Find<QWidget>(first);
        start->setFocus(Qt::TabFocusReason);
        QWidget* current = QApplication::focusWidget();
        for (int i = 0; i < 20 && current; ++i) {
            visited.push_back(current->objectName().toStdString());
            QTest::keyClick(current, Qt::Key_Tab);
            current = QApplication::focusWidget();
            if (current == start) break;
        }
        return visited;
    }

    void SetUp() override {
        MainForm::SetUp();
        ShowForm();
        form_->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(form_.get()));
    }
};

TEST_F(TabOrder, FollowsTheBandsTopToBottomOnTheOptionsPage) {
    Click("SpeedButton1");
    EXPECT_EQ(Walk("FormatComboBox"),
              (std::vector<std::string>{"FormatComboBox", "QualityComboBox", "RadioButton1",
                                        "ConnectionsSpinBox", "RateComboBox", "AtOnceSpinBox", "Panel18", "Panel19",
                                        "ComboBox1", "Edit1", "DownloadButton", "SpeedButton2",
                                        "SpeedButton1", "ChangeButton", "QueueButton",
                                        "SpeedButton3", "Image2", "Panel17"}));
}

TEST_F(TabOrder, SkipsTheHiddenOptionsOnTheDescriptionPage) {
    EXPECT_EQ(Walk("ComboBox1"),
              (std::vector<std::string>{"ComboBox1", "Edit1", "DownloadButton", "SpeedButton2", "SpeedButton1",
                                        "ChangeButton", "QueueButton", "SpeedButton3", "Image2", "Panel17", "Panel18",
                                        "Panel19"}));
}
