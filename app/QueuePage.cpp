#include "app/QueuePage.h"

#include <QAction>
#include <QApplication>
#include <QHeaderView>
#include <QLabel>
#include <QPainter>
#include <QStyledItemDelegate>
#include <QTableView>
#include <QToolButton>

#include "app/Desktop.h"
#include "app/QueueModel.h"
#include "app/WindowTexts.h"

namespace tarnwick {

namespace {

using namespace WindowTexts;

QString Text(const char* utf8) { return QString::fromUtf8(utf8); }

// The progress column as a small bar: the percent done, a busy bar while a running entry's size
// is unknown, nothing for an entry that never began.
class TProgressDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        QStyledItemDelegate::paint(painter, option, index);
        if (index.column() != TQueueModel::kProgressColumn) return;
        const QVariant done = index.data(TQueueModel::kPercentRole);
        if (!done.isValid()) return;
        const int percent = done.toInt();
        QStyleOptionProgressBar bar;
        bar.rect = option.rect.adjusted(3, 4, -3, -4);
        bar.state = option.state | QStyle::State_Horizontal;
        bar.minimum = 0;
        bar.maximum = percent < 0 ? 0 : 100;
        bar.progress = percent < 0 ? 0 : percent;
        bar.textVisible = false;
        const QWidget* widget = option.widget;
        QStyle* style = widget ? widget->style() : QApplication::style();
        style->drawControl(QStyle::CE_ProgressBar, &bar, painter, widget);
    }
};

}  // namespace

TQueuePage::TQueuePage(QWidget* parent, TDownloadQueue& queue, TDesktop& desktop)
    : QWidget(parent), queue_(&queue), desktop_(desktop) {
    setObjectName(QStringLiteral("QueuePage"));
    model_ = new TQueueModel(queue, this);
    queue.AddObserver(*model_);
    BuildView();
    BuildActions();
    UpdateActions();
}

void TQueuePage::Detach() {
    if (queue_) queue_->RemoveObserver(*model_);
    queue_ = nullptr;
    UpdateActions();
}

void TQueuePage::BuildView() {
    view_ = new QTableView(this);
    view_->setObjectName(QStringLiteral("QueueView"));
    view_->setGeometry(8, 6, 563, 84);
    view_->setModel(model_);
    view_->setItemDelegate(new TProgressDelegate(view_));
    view_->setSelectionBehavior(QAbstractItemView::SelectRows);
    view_->setSelectionMode(QAbstractItemView::SingleSelection);
    view_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    // Tab leaves the table for the buttons; the arrow keys move between rows.
    view_->setTabKeyNavigation(false);
    view_->setWordWrap(false);
    view_->verticalHeader()->hide();
    view_->verticalHeader()->setDefaultSectionSize(18);
    QHeaderView* header = view_->horizontalHeader();
    header->setSectionResizeMode(TQueueModel::kTitleColumn, QHeaderView::Stretch);
    header->resizeSection(TQueueModel::kStateColumn, 70);
    header->resizeSection(TQueueModel::kProgressColumn, 90);
    view_->setAccessibleName(Text(QueueListName));
    connect(view_->selectionModel(), &QItemSelectionModel::selectionChanged, this, &TQueuePage::UpdateActions);
    for (auto signal : {&QAbstractItemModel::rowsInserted, &QAbstractItemModel::rowsRemoved})
        connect(model_, signal, this, &TQueuePage::UpdateActions);
    connect(model_, &QAbstractItemModel::dataChanged, this, &TQueuePage::UpdateActions);
}

void TQueuePage::BuildActions() {
    struct Made {
        QAction** action;
        const char* name;
        const char* text;
        const char* description;
        void (TQueuePage::*run)();
    };
    const Made made[] = {{&tryAgain_, "QueueRetry", TryAgain, TryAgainDescription, &TQueuePage::RetryChosen},
                         {&remove_, "QueueRemove", Remove, RemoveDescription, &TQueuePage::RemoveChosen},
                         {&showFile_, "QueueShowFile", ShowFile, ShowFileDescription, &TQueuePage::ShowChosenFile}};
    int x = 8;
    for (const Made& m : made) {
        auto* action = new QAction(Text(m.text), this);
        action->setObjectName(QString::fromLatin1(m.name) + QStringLiteral("Action"));
        action->setToolTip(Text(m.description));
        connect(action, &QAction::triggered, this, m.run);
        view_->addAction(action);
        *m.action = action;
        auto* button = new QToolButton(this);
        button->setObjectName(QString::fromLatin1(m.name) + QStringLiteral("Button"));
        button->setDefaultAction(action);
        button->setGeometry(x, 95, 90, 22);
        button->setFocusPolicy(Qt::StrongFocus);
        button->setAccessibleName(Text(m.text));
        button->setAccessibleDescription(Text(m.description));
        buttons_.push_back(button);
        x += 96;
    }
    note_ = new QLabel(this);
    note_->setObjectName(QStringLiteral("QueueNote"));
    note_->setGeometry(x, 95, 571 - x, 22);
    remove_->setShortcut(QKeySequence::Delete);
    remove_->setShortcutContext(Qt::WidgetShortcut);
    view_->setContextMenuPolicy(Qt::ActionsContextMenu);
}

void TQueuePage::SetNote(const QString& note) {
    // The whole text on hover and for screen readers; the label itself may cut it short.
    note_->setText(note_->fontMetrics().elidedText(note, Qt::ElideRight, note_->width()));
    note_->setToolTip(note);
    note_->setAccessibleName(note);
}

QList<QWidget*> TQueuePage::TabOrder() const { return QList<QWidget*>{view_} + buttons_; }

const TQueueEntry* TQueuePage::Chosen() const {
    const QModelIndexList rows = view_->selectionModel()->selectedRows();
    return rows.isEmpty() ? nullptr : model_->EntryAt(rows.first().row());
}

void TQueuePage::UpdateActions() {
    const TQueueEntry* entry = queue_ ? Chosen() : nullptr;
    const bool over = entry && (entry->state == TEntryState::Failed || entry->state == TEntryState::Stopped);
    tryAgain_->setEnabled(over);
    remove_->setEnabled(entry != nullptr);
    showFile_->setEnabled(entry && entry->state == TEntryState::Saved && !entry->savedFile.empty());
}

void TQueuePage::RetryChosen() {
    if (const TQueueEntry* entry = Chosen(); entry && queue_) queue_->Retry(entry->id);
}

void TQueuePage::RemoveChosen() {
    if (const TQueueEntry* entry = Chosen(); entry && queue_) queue_->Remove(entry->id);
}

void TQueuePage::ShowChosenFile() {
    if (const TQueueEntry* entry = Chosen(); entry && !entry->savedFile.empty()) desktop_.ShowFile(entry->savedFile);
}

}  // namespace tarnwick
