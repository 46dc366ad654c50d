#pragma once

#include <QLabel>

namespace tarnwick {

// A panel showing a text or a picture that reports a click of the left mouse button (pressed
// and released over it).
class TClickPanel : public QLabel {
    Q_OBJECT
public:
    using QLabel::QLabel;

signals:
    void clicked();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    bool pressed_ = false;
};

}  // namespace tarnwick
