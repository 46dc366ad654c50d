// The real window on an X display with a session bus of the test's own: links dropped and pasted,
// a job run from the keyboard, read by a screen reader's client (accessible_tree.py), told by
// notices and shown by a file manager (the stand-ins of desktop_services.py).
#include <QApplication>
#include <QClipboard>
#include <QDropEvent>
#include <QEventLoop>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QStackedWidget>
#include <QTimer>
#include <QWindow>

#include <cmath>

#include "JobSamples.h"
#include "MainFormFixture.h"
#include "app/FocusRing.h"
#include "app/StatusBand.h"
#include "support/ChildProcess.h"
#include "support/LookupService.h"

using namespace tarnwick;
using namespace tarnwick::testing;

namespace {

const char* const Idle = "Please enter a video URL and press the «Download» button.";
const char* const Refused = "Only an http or https address can be dropped or pasted here.";

struct LinkCase {
    const char* what;
    QPoint dropAt;  // in the window; (0,0): Ctrl+V with the focus on the Download button
    const char* mime;
    const char* data;
    bool locked;         // the address field is disabled, as while a job runs
    const char* field;   // the field's text afterwards; nullptr: as it was
    const char* status;  // the status line afterwards
};

// In order on one window: each row starts from the field and status line the last one left.
const LinkCase Cases[] = {
    {"link dropped on the preview", {30, 100}, "text/uri-list", "https://www.youtube.com/watch?v=one\r\n", false,
     "https://www.youtube.com/watch?v=one", Idle},
    {"file dropped on the status line", {100, 280}, "text/uri-list", "file:///etc/passwd\r\n", false, nullptr, Refused},
    {"link with blanks around pasted", {}, "text/plain", "  http://www.dailymotion.com/video/x7 \n", false,
     "http://www.dailymotion.com/video/x7", Idle},
    {"link dropped on the field", {300, 217}, "text/plain", "https://www.youtube.com/watch?v=two", false,
     "https://www.youtube.com/watch?v=two", Idle},
    {"link with a blank inside pasted", {}, "text/plain", "https://www.youtube.com/watch?v=a b", false, nullptr, Refused},
    {"script address pasted", {}, "text/plain", "javascript:alert(1)", false, nullptr, Refused},
    // Refused for its scheme, though it names a host.
    {"ftp link dropped on the preview", {30, 100}, "text/uri-list", "ftp://host/x\r\n", false, nullptr, Refused},
    {"ftp address pasted", {}, "text/plain", "ftp://host/x", false, nullptr, Refused},
    {"words dropped on the header", {300, 10}, "text/plain", "see this video", false, nullptr, Refused},
    {"link pasted after a refusal", {}, "text/uri-list", "https://www.metacafe.com/watch/3/\r\n", false,
     "https://www.metacafe.com/watch/3/", Idle},
    {"link dropped during a job", {30, 100}, "text/uri-list", "https://www.youtube.com/watch?v=x\r\n", true, nullptr, Idle},
    {"link pasted during a job", {}, "text/plain", "https://www.youtube.com/watch?v=x", true, nullptr, Idle},
};

// Lines of the accessible tree a screen reader must find while the job runs: role, name,
// description, whether shown, and for the list its value and label (see accessible_tree.py).
const char* const Readings[] = {
    "frame\tTarnwick - Rero 1.01\t\tshowing",
    "link\tTarnwick home page\tOpens the page in the web browser\tshowing",
    "link\thttps://www.youtube.com/watch?v=tW1ck3xAmpL\tThis is the video URL for example\tshowing",
    "image\tPreview picture\t\tshowing",
    "label\t  Keys only\ttitle\tshowing",
    "combo box\tMPEG Audio Layer 3 (MP3)\t\t\t\tConvert to format  ",  // hidden page; named by its choice
    "combo box\tyoutube.com\tVideo site\tshowing",
    "text\tVideo page address\tEnter starts the download; Alt+D comes back here\tshowing",
    "push button\tAbort\tStarts the download, or aborts it while it runs (Escape)\tshowing",
    "status bar\tStatus\t\tshowing",
};

}  // namespace

// The window shown and made the active window, with keys typed into it through the window system.
class Desktop : public MainFormFixture {
protected:
    void SetUp() override {
        MainFormFixture::SetUp();
        ASSERT_EQ(QGuiApplication::platformName(), "xcb") << "run under xvfb-run";
        ShowForm();
        Activate(*form_);
    }
    static void Activate(QWidget& window) {
        window.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    }
    void Key(int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        QTest::keyClick(form_->windowHandle(), static_cast<Qt::Key>(key), modifiers);
    }
    static std::string FocusName() {
        const QWidget* focused = QApplication::focusWidget();
        return focused ? focused->objectName().toStdString() : "(none)";
    }
    static bool Until(const std::function<bool()>& done, int ms) { return QTest::qWaitFor(done, ms); }
    // Drags data over the window to at and drops it there; true when the window took it.
    bool Drop(const QPoint& at, QMimeData& data) {
        QWindow* window = form_->windowHandle();
        const Qt::DropActions actions = Qt::CopyAction | Qt::LinkAction;
        QDragEnterEvent enter(at, actions, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(window, &enter);
        if (!enter.isAccepted()) return false;
        QDropEvent drop(QPointF(at), actions, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(window, &drop);
        return drop.isAccepted();
    }
    // The ring is shown around the focused control.
    bool FocusMarked() {
        const QWidget* focused = QApplication::focusWidget();
        const auto& ring = Find<TFocusRing>("FocusRing");
        return focused && ring.Target() == focused &&
               ring.geometry().contains(QRect(focused->mapTo(form_.get(), QPoint()), focused->size()).center());
    }
    void TabTo(const char* name) {
        for (int i = 0; i < 20 && FocusName() != name; ++i) {
            Key(Qt::Key_Tab);
            EXPECT_TRUE(FocusMarked()) << FocusName();
        }
        ASSERT_EQ(FocusName(), name);
    }
    QString Status() const { return Find<QLabel>("MessagePanel").text(); }

    // The accessible tree as accessible_tree.py reads it, the window answering meanwhile.
    static QStringList AccessibleTree() {
        QProcess walker;
        QEventLoop loop;
        QObject::connect(&walker, &QProcess::finished, &loop, &QEventLoop::quit);
        QTimer::singleShot(60000, &loop, &QEventLoop::quit);
        walker.start(TARNWICK_SYSTEM_PYTHON, {TARNWICK_DESKTOP_SCRIPTS "/accessible_tree.py", QCoreApplication::applicationName()});
        loop.exec();
        EXPECT_EQ(walker.exitCode(), 0) << walker.readAllStandardError().toStdString();
        return QString::fromUtf8(walker.readAllStandardOutput()).split('\n');
    }
    // The next call the stand-ins received; short reads let the window's event loop run between.
    static std::string NextCall(ChildProcess& services) {
        std::optional<std::string> line;
        Until([&] { return (line = services.ReadLine(std::chrono::milliseconds(20))).has_value(); }, 20000);
        return line.value_or("(nothing)");
    }
};

TEST_F(Desktop, TakesWebAddressesFromAnywhereAndRefusesTheRest) {
    auto& field = Find<QLineEdit>("Edit1");
    for (const LinkCase& c : Cases) {
        SCOPED_TRACE(c.what);
        const QString before = field.text();
        field.setEnabled(!c.locked);
        auto* data = new QMimeData;  // the clipboard takes it over
        data->setData(QString::fromLatin1(c.mime), QByteArray(c.data));
        if (!c.dropAt.isNull()) {
            EXPECT_EQ(Drop(c.dropAt, *data), c.field != nullptr);
            delete data;
        } else {
            QGuiApplication::clipboard()->setMimeData(data);
            Find<QPushButton>("DownloadButton").setFocus();
            Key(Qt::Key_V, Qt::ControlModifier);
        }
        EXPECT_EQ(field.text(), c.field ? QString::fromUtf8(c.field) : before);
        EXPECT_EQ(Find<QLabel>("MessagePanel").text(), QString::fromUtf8(c.status));
        if (c.field) {
            EXPECT_EQ(FocusName(), "Edit1") << "the field takes the focus with the link";
        }
    }
}

TEST_F(Desktop, JobByKeyboardReadByAScreenReaderToldByNotices) {
    ASSERT_FALSE(Samples().flv.empty());
    log_.realBus = true;
    ChildProcess services({TARNWICK_SYSTEM_PYTHON, TARNWICK_DESKTOP_SCRIPTS "/desktop_services.py", "--invoke", "show-file"});
    ASSERT_EQ(services.ReadLine(std::chrono::seconds(20)), "ready") << services.ErrorOutput();
    CatalogueEntry entry;
    entry.address = "https://www.youtube.com/watch?v=keys";
    entry.title = "Keys only";
    entry.filename = "clip";
    entry.media = Samples().flv;
    entry.extra["rate"] = "20000";  // seconds of transfer: time to read the tree and press Escape
    LookupService lookup({entry});
    form_->SetLookupEndpoint({"127.0.0.1", lookup.PortText()});
    const auto showItems = [&](const std::string& name) {
        return "ShowItems\t" + LocalFileUrl(form_->Settings().saveDirectory + "/" + name).toEncoded().toStdString();
    };
    const std::string saved = showItems("clip.mp3");

    // The options by Tab and Enter on their picture button, a format by the arrow keys, then Alt+D,
    // the address and Enter; the focus is marked all along.
    EXPECT_TRUE(FocusMarked()) << FocusName();
    TabTo("SpeedButton1");
    Key(Qt::Key_Return);
    EXPECT_EQ(Find<QStackedWidget>("Notebook1").currentIndex(), 1);
    TabTo("FormatComboBox");
    Key(Qt::Key_Down);
    Key(Qt::Key_D, Qt::AltModifier);
    EXPECT_EQ(FocusName(), "Edit1");
    for (const char c : entry.address) QTest::keyClick(form_->windowHandle(), c);
    Key(Qt::Key_Return);
    EXPECT_TRUE(FocusMarked()) << "the focus left the locked field for " << FocusName();

    // A screen reader finds every control by role and name, the status line and the progress.
    const auto& band = Find<TStatusBand>("StatusBand");
    ASSERT_TRUE(Until([&] { return band.Fraction() >= 0.05; }, 20000)) << Status().toStdString();
    const int before = static_cast<int>(std::floor(band.Fraction() * 100));
    const QStringList tree = AccessibleTree();
    const int after = static_cast<int>(std::floor(band.Fraction() * 100));
    const auto found = [&](const QString& start) { return tree.filter(QRegularExpression("^" + start)); };
    for (const char* reading : Readings) EXPECT_EQ(found(QRegularExpression::escape(reading)).size(), 1) << reading;
    EXPECT_EQ(found("frame\t").size(), 1) << "the window is the only frame";
    EXPECT_EQ(found(QString::fromUtf8("label\tclip\\.mp3 — \\d+ Kb of \\d+ Kb\t\tshowing")).size(), 1);
    const QStringList progress = found("progress bar\tProgress\t\tshowing\t").value(0).split('\t');
    ASSERT_EQ(progress.size(), 6) << tree.join('\n').toStdString();
    EXPECT_GE(progress[4].toDouble(), std::max(before, 1));
    EXPECT_LE(progress[4].toDouble(), after);

    // Saved while the window is active: no notice, the status line links the file (Tab, Enter).
    ASSERT_TRUE(Until([&] { return !form_->JobRunning(); }, 60000)) << Status().toStdString();
    ASSERT_EQ(Status(), "Video file is successfully saved.");
    TabTo("MessagePanel");
    Key(Qt::Key_Return);
    EXPECT_EQ(NextCall(services), saved) << "the first call the stand-ins see";

    // Again, aborted by Escape during the transfer.
    Key(Qt::Key_D, Qt::AltModifier);
    Key(Qt::Key_Return);
    ASSERT_TRUE(Until([&] { return Status().startsWith("clip.mp3"); }, 10000)) << Status().toStdString();
    Key(Qt::Key_Escape);
    ASSERT_TRUE(Until([&] { return !form_->JobRunning(); }, 5000)) << Status().toStdString();
    EXPECT_EQ(Status(), "Download aborted.");
    EXPECT_FALSE(Find<TClickPanel>("MessagePanel").Active()) << "the link ends with its text";

    // Again, ending while another window is active: a notice whose action shows the file.
    Key(Qt::Key_D, Qt::AltModifier);
    Key(Qt::Key_Return);
    QWidget other;
    other.show();
    Activate(other);
    ASSERT_TRUE(Until([&] { return !form_->JobRunning(); }, 60000)) << Status().toStdString();
    EXPECT_EQ(NextCall(services), "Notify\t" + QCoreApplication::applicationName().toStdString() +
                                      "\t\tKeys only\tVideo file is successfully saved.\tdefault|Show file|show-file|Show file");
    // The earlier file stays: this one was saved beside it.
    EXPECT_EQ(NextCall(services), showItems("clip (2).mp3"));

    // Without a file manager, the status line opens the save folder.
    ASSERT_EQ(services.Terminate(), 0);
    QTest::mouseClick(&Find<QLabel>("MessagePanel"), Qt::LeftButton);
    ASSERT_TRUE(Until([&] { return !log_.opened.empty(); }, 15000));
    EXPECT_EQ(log_.opened, std::vector<QUrl>{LocalFileUrl(form_->Settings().saveDirectory)});
}
