#include "app/WindowKeys.h"

#include <QAbstractButton>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QShortcut>

#include "app/WindowTexts.h"

namespace tarnwick {

TWindowKeys::TWindowKeys(QWidget& window, QLineEdit& address, QPushButton& downloadButton,
                         std::initializer_list<QAbstractButton*> pictureButtons)
    : QObject(&window) {
    auto* toAddress = new QShortcut(QKeySequence(Qt::ALT | Qt::Key_D), &window);
    connect(toAddress, &QShortcut::activated, this, [&address] {
        if (!address.isEnabled()) return;
        address.setFocus(Qt::ShortcutFocusReason);
        address.selectAll();
    });
    auto* abort = new QShortcut(QKeySequence(Qt::Key_Escape), &window);
    connect(abort, &QShortcut::activated, this, [&downloadButton] {
        if (downloadButton.text() == QString::fromUtf8(WindowTexts::Abort)) downloadButton.click();
    });
    for (QAbstractButton* button : pictureButtons) button->installEventFilter(this);
}

bool TWindowKeys::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        const bool enter = key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter;
        if (enter && (key->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
            static_cast<QAbstractButton*>(watched)->click();
            return true;
        }
    }
    return QObject::eventFilter(watched, event);
}

}  // namespace tarnwick
