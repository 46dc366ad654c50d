#pragma once

#include <QLabel>

namespace tarnwick {

// A panel showing a text or a picture that acts as a link: it reports a click of the left mouse
// button (pressed and released over it) and, when it has the focus, a press of Enter or Space.
// An active panel (the default) shows the hand cursor and is reached with Tab; an inactive one
// is plain text: no hand cursor, no focus, and no clicks reported.
class TClickPanel : public QLabel {
    Q_OBJECT
public:
    explicit TClickPanel(QWidget* parent = nullptr);
    TClickPanel(const QString& text, QWidget* parent);

    void SetActive(bool active);
    bool Active() const noexcept { return active_; }
    // Reports a click, as the mouse or the keyboard would (assistive technology's "press").
    void Activate();

signals:
    void clicked();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    bool active_ = false;
    bool pressed_ = false;
};

}  // namespace tarnwick
