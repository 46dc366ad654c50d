#include "app/FocusRing.h"

#include <QApplication>
#include <QEvent>
#include <QPainter>
#include <QPainterPath>

namespace tarnwick {

namespace {

constexpr int kMargin = 3;  // pixels between the control's edge and the ring's outside
const QColor Dark(16, 24, 48);
const QColor Light(255, 255, 255);

}  // namespace

TFocusRing::TFocusRing(QWidget& window) : QWidget(&window), window_(window) {
    setObjectName(QStringLiteral("FocusRing"));
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setFocusPolicy(Qt::NoFocus);
    hide();
    connect(qApp, &QApplication::focusChanged, this, [this](QWidget*, QWidget* now) { Follow(now); });
}

void TFocusRing::Follow(QWidget* focused) {
    if (target_) target_->removeEventFilter(this);
    target_ = focused && focused != &window_ && window_.isAncestorOf(focused) ? focused : nullptr;
    if (target_) target_->installEventFilter(this);
    Place();
}

void TFocusRing::Place() {
    if (!target_ || !target_->isVisible()) {
        hide();
        return;
    }
    const QRect place(target_->mapTo(&window_, QPoint(0, 0)), target_->size());
    setGeometry(place.adjusted(-kMargin, -kMargin, kMargin, kMargin).intersected(window_.rect()));
    raise();
    show();
    update();
}

bool TFocusRing::eventFilter(QObject* watched, QEvent* event) {
    if (watched == target_) {
        switch (event->type()) {
            case QEvent::Move:
            case QEvent::Resize:
            case QEvent::Show:
            case QEvent::Hide:
                Place();
                break;
            default:
                break;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void TFocusRing::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    // Drawn along this widget's own edges: where the window's edge cuts the ring off (the status
    // line), those lines fall on the control's own margin instead.
    const auto frame = [&](const QRect& outside, int width, const QColor& colour) {
        QPainterPath path;  // the outside less the inside, filled even-odd
        path.addRect(outside);
        path.addRect(outside.adjusted(width, width, -width, -width));
        painter.fillPath(path, colour);
    };
    frame(rect(), kMargin - 1, Dark);
    frame(rect().adjusted(kMargin - 1, kMargin - 1, 1 - kMargin, 1 - kMargin), 1, Light);
}

}  // namespace tarnwick
