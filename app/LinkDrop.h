#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

class QLineEdit;
class QMimeData;

namespace tarnwick {

// The web address a dragged or pasted item carries: the first entry of a URI list, or else the
// plain text without surrounding blanks, when it is an absolute http or https address with a
// host and no blank or control character, and no longer than maxLength characters. Nothing for
// anything else (a file, a mail address, a sentence). Never raises.
std::optional<QString> WebAddressIn(const QMimeData& data, int maxLength);
// Every web address data carries, in order: each entry of a URI list, or each blank-separated
// word of its plain text, that passes the test above; the rest is skipped.
QStringList WebAddressesIn(const QMimeData& data, int maxLength);

// Takes links into the address field from anywhere in the window: a link dropped on any part of
// it (text/uri-list or plain text), and Ctrl+V with the focus on any control but the address
// field (which pastes as a text field does). A web address (see WebAddressIn) replaces the
// field's text and the field takes the focus; anything else is refused and leaves the field as
// it was. An item that holds several web addresses goes to several instead, all of them, also
// on Ctrl+V in the address field. The clipboard is read only on Ctrl+V. While the field is
// disabled, drops are not taken and Ctrl+V does nothing.
//
// told(true) follows a link taken, told(false) a refusal, so the window can say so. Window's
// thread only; a child of the window, whose field lasts as long as the window.
class TLinkDrop : public QObject {
    Q_OBJECT
public:
    TLinkDrop(QWidget& window, QLineEdit& field, std::function<void(bool taken)> told,
              std::function<void(const QStringList& links)> several);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Takes the address data carries, or refuses it; true when taken.
    bool Take(const QMimeData& data);
    void Paste();
    // Ctrl+V in the field: true when the clipboard's several links were taken.
    bool PasteSeveral();

    QLineEdit& field_;
    std::function<void(bool)> told_;
    std::function<void(const QStringList&)> several_;
};

}  // namespace tarnwick
