#pragma once

#include <QObject>

#include <initializer_list>

class QAbstractButton;
class QLineEdit;
class QPushButton;

namespace tarnwick {

// The window's keys beyond those each control brings: Alt+D moves the focus to the address field
// and selects its text (as in web browsers), Escape presses "Abort" while a job runs (the
// Download button's caption says so), and Enter presses a focused picture button as Space does.
// Shortcuts work while the window is active. Window's thread only; a child of the window, whose
// controls given last as long as the window.
class TWindowKeys : public QObject {
    Q_OBJECT
public:
    TWindowKeys(QWidget& window, QLineEdit& address, QPushButton& downloadButton,
                std::initializer_list<QAbstractButton*> pictureButtons);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
};

}  // namespace tarnwick
