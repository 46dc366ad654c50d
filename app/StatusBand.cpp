#include "app/StatusBand.h"

#include <QAccessible>
#include <QLabel>
#include <QPainter>

#include <algorithm>
#include <cmath>

#include "app/ProgressText.h"

namespace tarnwick {

namespace {

const QColor MintGreen(192, 220, 192);
const QColor BarGreen(150, 200, 150);
constexpr int kActivityBlock = 80;  // pixels
constexpr int kActivityStep = 6;    // pixels per tick
constexpr std::chrono::milliseconds kActivityTick{40};

int WholePercent(double fraction) { return static_cast<int>(std::floor(fraction * 100)); }

}  // namespace

TProgressStrip::TProgressStrip(TStatusBand& band) : QWidget(&band), band_(band) {
    setObjectName(QStringLiteral("ProgressBar"));
    setGeometry(band.rect());
    setAttribute(Qt::WA_TransparentForMouseEvents);
    hide();
}

std::optional<int> TProgressStrip::Percent() const noexcept {
    if (band_.Bar() == TStatusBand::TBar::Activity) return std::nullopt;
    return WholePercent(band_.Fraction());
}

void TProgressStrip::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    if (band_.Bar() == TStatusBand::TBar::Fraction)
        painter.fillRect(QRect(0, 0, static_cast<int>(band_.Fraction() * width()), height()), BarGreen);
    else if (band_.Bar() == TStatusBand::TBar::Activity)
        painter.fillRect(QRect(band_.ActivityOffset(), 0, kActivityBlock, height()), BarGreen);
}

TStatusBand::TStatusBand(QWidget* parent, const QRect& geometry) : QFrame(parent) {
    setObjectName(QStringLiteral("StatusBand"));
    setGeometry(geometry);
    QPalette colours = palette();
    colours.setColor(QPalette::Window, MintGreen);
    setPalette(colours);
    setAutoFillBackground(true);
    strip_ = new TProgressStrip(*this);
    speedPanel_ = new QLabel(this);
    speedPanel_->setObjectName(QStringLiteral("SpeedPanel"));
    speedPanel_->setGeometry(geometry.width() - 8 - 180, 0, 180, geometry.height());
    speedPanel_->setTextFormat(Qt::PlainText);
    speedPanel_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    speedPanel_->hide();
    activityTimer_.setInterval(kActivityTick);
    connect(&activityTimer_, &QTimer::timeout, this, [this] {
        ++activityStep_;
        strip_->update();
    });
}

int TStatusBand::ActivityOffset() const noexcept {
    const int span = width() + kActivityBlock;
    return (activityStep_ * kActivityStep) % span - kActivityBlock;
}

void TStatusBand::BeginTransfer(std::int64_t total, TTransferMeter::Clock::time_point now) {
    total_ = total;
    meter_.Begin(total, now);
    speedPanel_->clear();
    speedPanel_->hide();
    fraction_ = 0;
    if (total > 0) {
        activityTimer_.stop();
        ShowBar(TBar::Fraction);
    } else {
        activityTimer_.start();
        ShowBar(TBar::Activity);
    }
}

void TStatusBand::ShowTransfer(std::int64_t bytes, TTransferMeter::Clock::time_point now) {
    if (bar_ == TBar::Fraction && total_ > 0)
        SetFraction(std::clamp(static_cast<double>(bytes) / static_cast<double>(total_), 0.0, 1.0));
    if (meter_.Update(bytes, now)) ShowSpeed();
}

void TStatusBand::ShowFraction(double fraction) {
    activityTimer_.stop();
    speedPanel_->clear();
    speedPanel_->hide();
    fraction = std::clamp(fraction, 0.0, 1.0);
    if (bar_ == TBar::Fraction) {
        SetFraction(fraction);
    } else {
        fraction_ = fraction;
        ShowBar(TBar::Fraction);
    }
}

void TStatusBand::ClearProgress() {
    activityTimer_.stop();
    fraction_ = 0;
    speedPanel_->clear();
    speedPanel_->hide();
    ShowBar(TBar::None);
}

void TStatusBand::SetFraction(double fraction) {
    // Repaint only when the bar moves by a pixel, and tell assistive technology only when the
    // whole percent changes, not per notification.
    if (static_cast<int>(fraction * width()) != static_cast<int>(fraction_ * width())) strip_->update();
    const int before = WholePercent(fraction_);
    fraction_ = fraction;
    if (WholePercent(fraction) != before) {
        QAccessibleValueChangeEvent changed(strip_, WholePercent(fraction));
        QAccessible::updateAccessibility(&changed);
    }
}

void TStatusBand::ShowBar(TBar bar) {
    bar_ = bar;
    strip_->setVisible(bar != TBar::None);
    strip_->update();
    if (bar == TBar::Fraction) {
        QAccessibleValueChangeEvent changed(strip_, WholePercent(fraction_));
        QAccessible::updateAccessibility(&changed);
    }
}

void TStatusBand::ShowSpeed() {
    QString text = RateText(meter_.Rate());
    if (const auto left = meter_.SecondsLeft()) text += QString::fromUtf8(" · ") + TimeLeftText(*left);
    speedPanel_->setText(text);
    speedPanel_->show();
}

}  // namespace tarnwick
