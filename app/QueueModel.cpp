#include "app/QueueModel.h"

#include <QTextDocument>

#include <algorithm>

#include "app/DisplayText.h"
#include "app/WindowTexts.h"

namespace tarnwick {

namespace {

int Percent(const TQueueEntry& entry) {
    if (entry.state == TEntryState::Saved) return 100;
    if (entry.totalBytes <= 0) return -1;
    return static_cast<int>(std::clamp<std::int64_t>(entry.bytesSoFar * 100 / entry.totalBytes, 0, 100));
}

}  // namespace

QString EntryStateText(TEntryState state) {
    using namespace WindowTexts;
    switch (state) {
        case TEntryState::Waiting: return QString::fromUtf8(QueueWaiting);
        case TEntryState::Running: return QString::fromUtf8(QueueRunning);
        case TEntryState::Saved: return QString::fromUtf8(QueueSaved);
        case TEntryState::Failed: return QString::fromUtf8(QueueFailed);
        case TEntryState::Stopped: return QString::fromUtf8(QueueStopped);
    }
    return {};
}

TQueueModel::TQueueModel(const TDownloadQueue& queue, QObject* parent)
    : QAbstractTableModel(parent), entries_(queue.Entries()) {}

int TQueueModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(entries_.size());
}

int TQueueModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : kColumnCount; }

QVariant TQueueModel::data(const QModelIndex& index, int role) const {
    const TQueueEntry* entry = EntryAt(index.row());
    if (!entry) return {};
    // The reason quotes servers and file names: shown as plain text, never as markup.
    if (role == Qt::ToolTipRole && !entry->reason.empty())
        return Qt::convertFromPlainText(DisplayText(entry->reason), Qt::WhiteSpaceNormal);
    if (role == Qt::AccessibleDescriptionRole) return DisplayText(entry->reason);
    if (role == kPercentRole) {
        const int percent = Percent(*entry);
        if (percent < 0 && entry->state != TEntryState::Running) return {};
        return percent;
    }
    if (role != Qt::DisplayRole && role != Qt::AccessibleTextRole) return {};
    switch (index.column()) {
        case kTitleColumn: return DisplayText(entry->title.empty() ? entry->address : entry->title);
        case kStateColumn: return EntryStateText(entry->state);
        case kProgressColumn: {
            const int percent = Percent(*entry);
            if (role == Qt::DisplayRole) return {};  // the delegate draws the bar
            return percent < 0 ? QString() : QStringLiteral("%1%").arg(percent);
        }
        default: return {};
    }
}

QVariant TQueueModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
    using namespace WindowTexts;
    const char* const names[] = {QueueTitleHeader, QueueStateHeader, QueueProgressHeader};
    return section >= 0 && section < kColumnCount ? QString::fromUtf8(names[section]) : QVariant();
}

const TQueueEntry* TQueueModel::EntryAt(int row) const {
    return row >= 0 && row < rowCount() ? &entries_[static_cast<std::size_t>(row)] : nullptr;
}

int TQueueModel::RowOf(std::uint64_t id) const {
    const auto found = std::find_if(entries_.begin(), entries_.end(),
                                     [id](const TQueueEntry& entry) { return entry.id == id; });
    return found == entries_.end() ? -1 : static_cast<int>(found - entries_.begin());
}

void TQueueModel::EntryChanged(const TQueueEntry& entry, bool progressOnly) {
    const int row = RowOf(entry.id);
    if (row < 0) {
        // Added: the queue tells of entries in the order it holds them.
        beginInsertRows({}, rowCount(), rowCount());
        entries_.push_back(entry);
        endInsertRows();
        return;
    }
    entries_[static_cast<std::size_t>(row)] = entry;
    const int first = progressOnly ? kProgressColumn : kTitleColumn;
    emit dataChanged(index(row, first), index(row, kProgressColumn));
}

void TQueueModel::EntryRemoved(std::uint64_t id) {
    const int row = RowOf(id);
    if (row < 0) return;
    beginRemoveRows({}, row, row);
    entries_.erase(entries_.begin() + row);
    endRemoveRows();
}

}  // namespace tarnwick
