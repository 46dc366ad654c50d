#include "app/ClickPanel.h"

#include <QAccessible>
#include <QKeyEvent>
#include <QMouseEvent>

namespace tarnwick {

TClickPanel::TClickPanel(QWidget* parent) : QLabel(parent) { SetActive(true); }

TClickPanel::TClickPanel(const QString& text, QWidget* parent) : QLabel(text, parent) { SetActive(true); }

void TClickPanel::SetActive(bool active) {
    if (active == active_) return;
    active_ = active;
    pressed_ = false;
    if (active) {
        setCursor(Qt::PointingHandCursor);
        setFocusPolicy(Qt::TabFocus);
    } else {
        unsetCursor();
        setFocusPolicy(Qt::NoFocus);
        // Qt leaves the focus on a widget that stops taking it; the next control gets it.
        if (hasFocus()) focusNextChild();
    }
    // Its role changes between link and text, and it can take the focus or not.
    QAccessible::State changes;
    changes.focusable = true;
    QAccessibleStateChangeEvent changed(this, changes);
    QAccessible::updateAccessibility(&changed);
}

void TClickPanel::Activate() {
    if (active_) emit clicked();
}

void TClickPanel::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) pressed_ = true;
    QLabel::mousePressEvent(event);
}

void TClickPanel::mouseReleaseEvent(QMouseEvent* event) {
    const bool click = pressed_ && event->button() == Qt::LeftButton && rect().contains(event->position().toPoint());
    if (event->button() == Qt::LeftButton) pressed_ = false;
    QLabel::mouseReleaseEvent(event);
    if (click) Activate();
}

void TClickPanel::keyPressEvent(QKeyEvent* event) {
    const int key = event->key();
    if (active_ && (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier &&
        (key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Space)) {
        Activate();
        return;
    }
    QLabel::keyPressEvent(event);
}

}  // namespace tarnwick
