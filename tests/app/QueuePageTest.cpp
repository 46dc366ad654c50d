// The window's download queue: links pasted together, the Queue page's rows and actions reached
// through the accessibility tree, the queue kept across a restart, and a second running copy;
// the "At once" setting, and a queue file that cannot be written.
#include <QAccessible>
#include <QClipboard>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QComboBox>
#include <QPushButton>
#include <QSpinBox>
#include <QStackedWidget>
#include <QTableView>

#include <filesystem>
#include <fstream>

#include "JobSamples.h"
#include "MainFormFixture.h"
#include "app/QueueModel.h"
#include "support/LookupService.h"

using namespace tarnwick;
using namespace tarnwick::testing;

namespace {

const char* const Good = "https://www.youtube.com/watch?v=queue-good";
const char* const Unknown1 = "https://www.youtube.com/watch?v=queue-unknown-1";
const char* const Unknown2 = "https://www.youtube.com/watch?v=queue-unknown-2";
constexpr int JobLimit = 60000;  // milliseconds: a loaded machine converts slowly

// The first object under from with this role (any, when 0) and name, depth first.
QAccessibleInterface* Accessible(QAccessibleInterface* from, QAccessible::Role role, const QString& name) {
    if (!from) return nullptr;
    if ((role == QAccessible::NoRole || from->role() == role) && from->text(QAccessible::Name) == name) return from;
    for (int i = 0; i < from->childCount(); ++i)
        if (QAccessibleInterface* found = Accessible(from->child(i), role, name)) return found;
    return nullptr;
}

}  // namespace

class QueuePage : public MainFormFixture {
protected:
    QAccessibleInterface* Tree() const { return QAccessible::queryAccessibleInterface(form_.get()); }
    QAccessibleTableInterface* Table() const {
        QAccessibleInterface* table = Accessible(Tree(), QAccessible::Table, "Download queue");
        return table ? table->tableInterface() : nullptr;
    }
    QString Cell(int row, int column) const {
        QAccessibleInterface* cell = Table()->cellAt(row, column);
        return cell ? cell->text(QAccessible::Name) : QString();
    }
    // Presses the Queue page's button named name for the row chosen through the table.
    void Press(int row, const char* name) {
        ASSERT_TRUE(Table()->selectRow(row));
        QAccessibleInterface* button = Accessible(Tree(), QAccessible::NoRole, QString::fromLatin1(name));
        ASSERT_TRUE(button && button->actionInterface()) << name;
        ASSERT_FALSE(button->state().disabled) << name;
        button->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    }
    const TQueueEntry& Entry(int row) const {
        const auto& view = Find<QTableView>("QueueView");
        return *static_cast<const TQueueModel&>(*view.model()).EntryAt(row);
    }
    QString Status() const { return Find<QLabel>("MessagePanel").text(); }
    static bool Until(const std::function<bool()>& done, int ms) { return QTest::qWaitFor(done, ms); }
};

TEST_F(QueuePage, PastedLinksRunOneAfterAnotherAndStayListedAfterARestart) {
    CatalogueEntry good;
    good.address = Good;
    good.author = "Ann";
    good.title = "A test pattern";
    good.filename = "clip";
    good.media = Samples().flv;
    good.extra["rate"] = "90000";  // slow enough to be seen running
    LookupService service({good});
    form_->SetLookupEndpoint({"127.0.0.1", service.PortText()});
    ShowForm();
    form_->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(form_.get()));

    QGuiApplication::clipboard()->setText(QString::fromLatin1("see %1\n%2\tnot-a-link %3\n").arg(Good, Unknown1, Unknown2));
    QTest::keyClick(&Find<QPushButton>("DownloadButton"), Qt::Key_V, Qt::ControlModifier);
    ASSERT_TRUE(Table());
    ASSERT_TRUE(Until([&] { return Table()->rowCount() == 3; }, 5000)) << Table()->rowCount();
    EXPECT_TRUE(Find<QLineEdit>("Edit1").text().isEmpty()) << "several links go to the queue, not the field";
    EXPECT_EQ(Find<QStackedWidget>("Notebook1").currentWidget()->objectName(), "QueuePage");
    EXPECT_EQ(Cell(0, 0), Good) << "the address until the title is known";
    // The first runs, followed by the description page; the others wait.
    ASSERT_TRUE(Until([&] { return Find<QLabel>("AuthorPanel").text() == "  Ann"; }, 10000)) << Status().toStdString();
    EXPECT_EQ(Cell(0, 1), "Running");
    EXPECT_EQ(Cell(2, 1), "Waiting");
    EXPECT_EQ(Find<QPushButton>("DownloadButton").text(), "Abort");

    ASSERT_TRUE(Until([&] { return !form_->JobRunning(); }, 3 * JobLimit)) << Status().toStdString();
    EXPECT_EQ(Cell(0, 0), "A test pattern");
    EXPECT_EQ(Cell(0, 1), "Saved");
    EXPECT_EQ(Cell(1, 1), "Failed");
    EXPECT_FALSE(Entry(1).reason.empty()) << "the reason, the row's hint";
    Press(2, "Remove");
    ASSERT_TRUE(Until([&] { return Table()->rowCount() == 2; }, 5000));
    const std::uint64_t firstJob = Entry(1).job;
    Press(1, "Try again");
    ASSERT_TRUE(Until([&] { return Entry(1).job != firstJob && Cell(1, 1) == "Failed"; }, JobLimit));

    // A second running copy keeps no queue and says so.
    std::unique_ptr<TMainForm> second = MakeForm(Home());
    ASSERT_TRUE(Until([&] { return second->findChild<QLabel*>("MessagePanel")->text().contains("not kept"); }, 5000));
    EXPECT_EQ(second->findChild<QTableView*>("QueueView")->model()->rowCount(), 0);
    second.reset();

    form_.reset();
    form_ = MakeForm(Home());
    ShowForm();
    ASSERT_TRUE(Until([&] { return Table() && Table()->rowCount() == 2; }, 5000)) << Status().toStdString();
    EXPECT_EQ(Cell(0, 0), "A test pattern");
    EXPECT_EQ(Cell(0, 1), "Saved");
    EXPECT_EQ(Cell(1, 0), Unknown1);
    EXPECT_EQ(Cell(1, 1), "Failed");
    EXPECT_FALSE(form_->JobRunning()) << "finished entries are history, not run again";

    // A damaged queue file is set aside with a note, and the queue starts empty.
    form_.reset();
    std::ofstream(Home() + "/.local/share/tarnwick/queue.json") << R"({"tarnwick-queue": 1, "entries": [)";
    form_ = MakeForm(Home());
    ASSERT_TRUE(Until([&] { return Status().contains("set aside"); }, 5000)) << Status().toStdString();
    EXPECT_EQ(Table()->rowCount(), 0);
}

TEST_F(QueuePage, AtOnceSettingStartsAWaitingEntryBesideTheRunningOne) {
    std::vector<CatalogueEntry> slow(2);
    for (std::size_t i = 0; i < slow.size(); ++i) {
        slow[i].address = std::string(Good) + "-" + std::to_string(i);
        slow[i].filename = "slow-" + std::to_string(i);
        slow[i].media = Samples().longFlv;
        slow[i].extra["rate"] = "90000";  // some 20 s each
    }
    LookupService service(slow);
    form_->SetLookupEndpoint({"127.0.0.1", service.PortText()});
    ShowForm();
    auto& atOnce = Find<QSpinBox>("AtOnceSpinBox");
    EXPECT_EQ(atOnce.value(), 1);
    EXPECT_EQ(atOnce.accessibleName(), "At once");

    QGuiApplication::clipboard()->setText(QString::fromStdString(slow[0].address + " " + slow[1].address));
    QTest::keyClick(&Find<QPushButton>("DownloadButton"), Qt::Key_V, Qt::ControlModifier);
    ASSERT_TRUE(Table());
    ASSERT_TRUE(Until([&] { return Table()->rowCount() == 2 && Cell(0, 1) == "Running"; }, 10000));
    EXPECT_EQ(Cell(1, 1), "Waiting") << "one after another by default";

    Find<QStackedWidget>("Notebook1").setCurrentIndex(1);
    QTest::keyClick(&atOnce, Qt::Key_Up);
    ASSERT_TRUE(Until([&] { return Cell(1, 1) == "Running"; }, 10000)) << Cell(1, 1).toStdString();
    EXPECT_EQ(Cell(0, 1), "Running");
}

TEST_F(QueuePage, AQueueFileThatCannotBeWrittenIsToldOnceAndTheQueueGoesOn) {
    const std::string file = Home() + "/.local/share/tarnwick/queue.json";
    form_.reset();
    std::ofstream(file) << R"({"tarnwick-queue": 1, "entries": [{"address": "https://a.example/1", "state": "failed"},
        {"address": "https://a.example/2", "state": "failed"}, {"address": "https://a.example/3", "state": "failed"}]})";
    form_ = MakeForm(Home());
    ShowForm();
    ASSERT_TRUE(Until([&] { return Table() && Table()->rowCount() == 3; }, 5000)) << Status().toStdString();

    // A folder where the file goes: the new queue cannot be renamed over it, whoever runs this.
    std::filesystem::remove(file);
    std::filesystem::create_directory(file);
    const QString note = "The queue could not be saved: Is a directory.";
    Press(0, "Remove");
    ASSERT_TRUE(Until([&] { return Status() == note; }, 5000)) << Status().toStdString();
    EXPECT_EQ(Find<QLabel>("QueueNote").toolTip(), note) << "the Queue page keeps saying it";

    Find<QComboBox>("ComboBox1").setCurrentIndex(1);  // the status line shows something else
    Press(0, "Remove");
    ASSERT_TRUE(Until([&] { return Table()->rowCount() == 1; }, 5000));
    EXPECT_FALSE(Until([&] { return Status() == note; }, 1000)) << "told again while it keeps failing";

    std::filesystem::remove(file);
    Press(0, "Remove");
    ASSERT_TRUE(Until([&] { return std::filesystem::is_regular_file(file); }, 5000)) << "kept again";
    EXPECT_EQ(Table()->rowCount(), 0);
    EXPECT_TRUE(Until([&] { return Find<QLabel>("QueueNote").text().isEmpty(); }, 1000)) << "taken back";
}
