#pragma once

#include <QFrame>
#include <QTimer>

#include <cstdint>
#include <optional>

#include "app/TransferMeter.h"

class QLabel;

namespace tarnwick {

class TStatusBand;

// The bar behind the status line, object name "ProgressBar": painted from its band's state and
// shown only while the band has a bar. It stands for the progress to assistive technology.
class TProgressStrip : public QWidget {
    Q_OBJECT
public:
    explicit TProgressStrip(TStatusBand& band);

    // Whole percent done, 0 to 100; nothing for a transfer of unknown size.
    std::optional<int> Percent() const noexcept;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    const TStatusBand& band_;
};

// The status band at the window's foot: mint green, with a progress bar painted behind the status
// line (a child label the window places and fills) and the speed and time left of a transfer at
// its right end, in the label "SpeedPanel". The bar fills with a fraction, or, when a transfer
// announces no size, shows a block that moves while the job is active. Assistive technology sees
// the band as a status bar and the bar as a progress bar whose value (whole percent) is announced
// as it changes.
class TStatusBand : public QFrame {
    Q_OBJECT
public:
    TStatusBand(QWidget* parent, const QRect& geometry);

    // A transfer of total bytes (0: unknown) begins: an empty bar (or the moving block), no speed yet.
    void BeginTransfer(std::int64_t total, TTransferMeter::Clock::time_point now);
    // bytes of the transfer have arrived.
    void ShowTransfer(std::int64_t bytes, TTransferMeter::Clock::time_point now);
    // A fraction (0 to 1) of work without a speed (the conversion).
    void ShowFraction(double fraction);
    // The job has ended: no bar, no speed.
    void ClearProgress();

    enum class TBar { None, Fraction, Activity };
    TBar Bar() const noexcept { return bar_; }
    double Fraction() const noexcept { return fraction_; }
    // Where the moving block of the activity bar is, in pixels from the left (may be negative).
    int ActivityOffset() const noexcept;

private:
    void SetFraction(double fraction);
    void ShowBar(TBar bar);
    void ShowSpeed();

    TBar bar_ = TBar::None;
    double fraction_ = 0;
    std::int64_t total_ = 0;
    int activityStep_ = 0;
    TTransferMeter meter_;
    QTimer activityTimer_;
    TProgressStrip* strip_ = nullptr;
    QLabel* speedPanel_ = nullptr;
};

}  // namespace tarnwick
