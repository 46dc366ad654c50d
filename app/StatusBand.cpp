#include "app/StatusBand.h"

#include <QLabel>
#include <QPainter>

#include <algorithm>

#include "app/ProgressText.h"

namespace tarnwick {

namespace {

const QColor MintGreen(192, 220, 192);
const QColor BarGreen(150, 200, 150);
constexpr int kActivityBlock = 80;  // pixels
constexpr int kActivityStep = 6;    // pixels per tick
constexpr std::chrono::milliseconds kActivityTick{40};

}  // namespace

TStatusBand::TStatusBand(QWidget* parent, const QRect& geometry) : QFrame(parent) {
    setObjectName(QStringLiteral("StatusBand"));
    setGeometry(geometry);
    QPalette colours = palette();
    colours.setColor(QPalette::Window, MintGreen);
    setPalette(colours);
    setAutoFillBackground(true);
    speedPanel_ = new QLabel(this);
    speedPanel_->setObjectName(QStringLiteral("SpeedPanel"));
    speedPanel_->setGeometry(geometry.width() - 8 - 180, 0, 180, geometry.height());
    speedPanel_->setTextFormat(Qt::PlainText);
    speedPanel_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    speedPanel_->hide();
    activityTimer_.setInterval(kActivityTick);
    connect(&activityTimer_, &QTimer::timeout, this, [this] {
        ++activityStep_;
        update();
    });
}

void TStatusBand::BeginTransfer(std::int64_t total, TTransferMeter::Clock::time_point now) {
    total_ = total;
    meter_.Begin(total, now);
    speedPanel_->clear();
    speedPanel_->hide();
    fraction_ = 0;
    if (total > 0) {
        bar_ = TBar::Fraction;
        activityTimer_.stop();
    } else {
        bar_ = TBar::Activity;
        activityTimer_.start();
    }
    update();
}

void TStatusBand::ShowTransfer(std::int64_t bytes, TTransferMeter::Clock::time_point now) {
    if (bar_ == TBar::Fraction && total_ > 0) {
        const double fraction = std::clamp(static_cast<double>(bytes) / static_cast<double>(total_), 0.0, 1.0);
        // Repaint only when the bar moves by a pixel, not per notification.
        if (static_cast<int>(fraction * width()) != static_cast<int>(fraction_ * width())) update();
        fraction_ = fraction;
    }
    if (meter_.Update(bytes, now)) ShowSpeed();
}

void TStatusBand::ShowFraction(double fraction) {
    activityTimer_.stop();
    bar_ = TBar::Fraction;
    fraction_ = std::clamp(fraction, 0.0, 1.0);
    speedPanel_->clear();
    speedPanel_->hide();
    update();
}

void TStatusBand::ClearProgress() {
    activityTimer_.stop();
    bar_ = TBar::None;
    fraction_ = 0;
    speedPanel_->clear();
    speedPanel_->hide();
    update();
}

void TStatusBand::ShowSpeed() {
    QString text = RateText(meter_.Rate());
    if (const auto left = meter_.SecondsLeft()) text += QString::fromUtf8(" · ") + TimeLeftText(*left);
    speedPanel_->setText(text);
    speedPanel_->show();
}

void TStatusBand::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    if (bar_ == TBar::Fraction) {
        painter.fillRect(QRect(0, 0, static_cast<int>(fraction_ * width()), height()), BarGreen);
    } else if (bar_ == TBar::Activity) {
        const int span = width() + kActivityBlock;
        const int x = (activityStep_ * kActivityStep) % span - kActivityBlock;
        painter.fillRect(QRect(x, 0, kActivityBlock, height()), BarGreen);
    }
}

}  // namespace tarnwick
