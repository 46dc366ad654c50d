#include "app/LinkDrop.h"

#include <QClipboard>
#include <QDropEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMimeData>
#include <QRegularExpression>
#include <QShortcut>
#include <QUrl>

#include <utility>

namespace tarnwick {

namespace {

bool IsWebAddress(const QUrl& url) {
    return url.isValid() && (url.scheme() == QLatin1String("http") || url.scheme() == QLatin1String("https")) &&
           !url.host().isEmpty();
}

bool HasBlankOrControl(const QString& text) {
    for (const QChar c : text)
        if (c.isSpace() || c.category() == QChar::Other_Control || c.category() == QChar::Other_Format) return true;
    return false;
}

}  // namespace

std::optional<QString> WebAddressIn(const QMimeData& data, int maxLength) {
    QString text;
    if (data.hasUrls()) {
        const QList<QUrl> urls = data.urls();
        if (urls.isEmpty() || !IsWebAddress(urls.first())) return std::nullopt;
        text = QString::fromLatin1(urls.first().toEncoded());
    } else if (data.hasText()) {
        text = data.text().trimmed();
        if (text.size() > maxLength || HasBlankOrControl(text)) return std::nullopt;
        if (!IsWebAddress(QUrl(text, QUrl::StrictMode))) return std::nullopt;
    } else {
        return std::nullopt;
    }
    if (text.isEmpty() || text.size() > maxLength) return std::nullopt;
    return text;
}

QStringList WebAddressesIn(const QMimeData& data, int maxLength) {
    QStringList found;
    const auto take = [&](const QString& text) {
        if (text.size() <= maxLength && !HasBlankOrControl(text) && IsWebAddress(QUrl(text, QUrl::StrictMode)))
            found.push_back(text);
    };
    if (data.hasUrls()) {
        for (const QUrl& url : data.urls())
            if (IsWebAddress(url)) take(QString::fromLatin1(url.toEncoded()));
    } else if (data.hasText()) {
        static const QRegularExpression blanks(QStringLiteral("\\s+"));
        for (const QString& word : data.text().split(blanks, Qt::SkipEmptyParts)) take(word);
    }
    return found;
}

TLinkDrop::TLinkDrop(QWidget& window, QLineEdit& field, std::function<void(bool)> told,
                     std::function<void(const QStringList&)> several)
    : QObject(&window), field_(field), told_(std::move(told)), several_(std::move(several)) {
    // Drops anywhere, the field included, come to the window.
    window.setAcceptDrops(true);
    field.setAcceptDrops(false);
    window.installEventFilter(this);
    field.installEventFilter(this);
    // The field takes Ctrl+V itself while it has the focus, ahead of this shortcut.
    auto* paste = new QShortcut(QKeySequence::Paste, &window);
    paste->setContext(Qt::WindowShortcut);
    connect(paste, &QShortcut::activated, this, &TLinkDrop::Paste);
}

bool TLinkDrop::Take(const QMimeData& data) {
    const QStringList links = WebAddressesIn(data, field_.maxLength());
    if (links.size() > 1) {
        several_(links);
        told_(true);
        return true;
    }
    const std::optional<QString> address = WebAddressIn(data, field_.maxLength());
    if (address) {
        field_.setText(*address);
        field_.setFocus(Qt::OtherFocusReason);
    }
    told_(address.has_value());
    return address.has_value();
}

void TLinkDrop::Paste() {
    if (!field_.isEnabled()) return;
    if (const QMimeData* data = QGuiApplication::clipboard()->mimeData(QClipboard::Clipboard)) {
        Take(*data);
    } else {
        told_(false);
    }
}

bool TLinkDrop::PasteSeveral() {
    const QMimeData* data = QGuiApplication::clipboard()->mimeData(QClipboard::Clipboard);
    if (!data) return false;
    const QStringList links = WebAddressesIn(*data, field_.maxLength());
    if (links.size() < 2) return false;
    several_(links);
    told_(true);
    return true;
}

bool TLinkDrop::eventFilter(QObject* watched, QEvent* event) {
    if (watched == &field_) {
        // The field pastes one line as a text field does; several links go to the queue.
        const bool paste = event->type() == QEvent::KeyPress &&
                           static_cast<QKeyEvent*>(event)->matches(QKeySequence::Paste);
        return paste && field_.isEnabled() && PasteSeveral();
    }
    switch (event->type()) {
        case QEvent::DragEnter:
        case QEvent::DragMove: {
            auto* drag = static_cast<QDragMoveEvent*>(event);
            const QMimeData* data = drag->mimeData();
            if (field_.isEnabled() && data && (data->hasUrls() || data->hasText()))
                drag->acceptProposedAction();
            else
                drag->ignore();
            return true;
        }
        case QEvent::Drop: {
            auto* drop = static_cast<QDropEvent*>(event);
            if (field_.isEnabled() && drop->mimeData() && Take(*drop->mimeData()))
                drop->acceptProposedAction();
            else
                drop->ignore();
            return true;
        }
        default:
            return QObject::eventFilter(watched, event);
    }
}

}  // namespace tarnwick
