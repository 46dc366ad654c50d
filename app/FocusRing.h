#pragma once

#include <QPointer>
#include <QWidget>

namespace tarnwick {

// A ring drawn around whichever control of the window has the keyboard focus, object name
// "FocusRing", so the focus is always visible: the window's style marks some controls faintly and
// the flat address field and the picture buttons not at all. The ring lies on top of the window's
// controls just outside the focused one's edges, or just inside where the window ends (a dark
// outer line and a light inner one, seen on every band's colour), never takes a click, and
// follows the focus as it moves. It is hidden while
// the focus is outside the window (another window is active, a list is popped up).
// Window's thread only.
class TFocusRing : public QWidget {
    Q_OBJECT
public:
    explicit TFocusRing(QWidget& window);

    // The control the ring is drawn around; nullptr when it is hidden.
    QWidget* Target() const { return isVisible() ? target_.data() : nullptr; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void Follow(QWidget* focused);
    void Place();

    QWidget& window_;
    QPointer<QWidget> target_;
};

}  // namespace tarnwick
