#pragma once

#include <QObject>

#include <cstdint>

class QComboBox;
class QSpinBox;
class QWidget;

namespace tarnwick {

struct TJobRequest;

// The format page's row of the transfer's settings, below its lists: "Connections" (a spin box,
// object name ConnectionsSpinBox, 1 to kMaxConnections, kDefaultConnections at start),
// "Limit speed" (RateComboBox: Off or an offered rate, or one typed as ParseRate reads it) and
// "At once" (AtOnceSpinBox: how many of the queue's videos download together, 1 to
// kMaxParallelJobs, 1 at start), each named for assistive technology by its label. The first two
// keep settings.connections and settings.rateLimit up to date; a typed text that is no rate
// leaves the limit as it was and is put back to it on Enter or when the field is left. The third
// is told by AtOnceChanged. Window's thread only.
class TTransferOptions : public QObject {
    Q_OBJECT
public:
    // Builds the row on page (its owner); settings must outlive it.
    TTransferOptions(QWidget& page, TJobRequest& settings);

    QSpinBox* Connections() const noexcept { return connections_; }
    QComboBox* Rate() const noexcept { return rate_; }
    QSpinBox* AtOnce() const noexcept { return atOnce_; }

    // How the limit is shown: "Off", or the rate with K or M where it divides.
    static QString RateShown(std::int64_t bytesPerSecond);

signals:
    // The user chose how many videos download at once.
    void AtOnceChanged(int jobs);

private:
    void RateEdited(const QString& text);

    TJobRequest& settings_;
    QSpinBox* connections_ = nullptr;
    QComboBox* rate_ = nullptr;
    QSpinBox* atOnce_ = nullptr;
};

}  // namespace tarnwick
