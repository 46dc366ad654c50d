#pragma once

#include <QAbstractTableModel>

#include <cstdint>
#include <vector>

#include "job/queue/DownloadQueue.h"

namespace tarnwick {

// The download queue's entries as a table for the Queue page, in the queue's order: the title
// (the address until the record names one), the state, and the progress. Every column shows the
// entry's reason as its hint; the progress column holds the whole percent done under
// kPercentRole (-1 while a running entry's size is unknown, nothing before an entry's transfer
// began) and says it as text for screen readers.
//
// It follows the queue as one of its observers, so it changes on the window's thread only; it
// starts with the entries the queue holds when it is made.
class TQueueModel final : public QAbstractTableModel, public TQueueObserver {
    Q_OBJECT
public:
    enum TColumn { kTitleColumn, kStateColumn, kProgressColumn, kColumnCount };
    static constexpr int kPercentRole = Qt::UserRole + 1;

    TQueueModel(const TDownloadQueue& queue, QObject* parent);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    // The entry shown in row; nullptr outside the table.
    const TQueueEntry* EntryAt(int row) const;

    void EntryChanged(const TQueueEntry& entry, bool progressOnly) override;
    void EntryRemoved(std::uint64_t id) override;

private:
    int RowOf(std::uint64_t id) const;

    std::vector<TQueueEntry> entries_;
};

// The state as the Queue page names it: "Waiting", "Running", "Saved", "Failed", "Stopped".
QString EntryStateText(TEntryState state);

}  // namespace tarnwick
