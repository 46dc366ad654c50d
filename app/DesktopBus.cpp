#include "app/DesktopBus.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QGuiApplication>
#include <QVariantMap>

#include <algorithm>
#include <utility>

namespace tarnwick {

namespace {

const QString NoticeService = QStringLiteral("org.freedesktop.Notifications");
const QString NoticePath = QStringLiteral("/org/freedesktop/Notifications");
const QString FileManagerService = QStringLiteral("org.freedesktop.FileManager1");
const QString FileManagerPath = QStringLiteral("/org/freedesktop/FileManager1");
const QString ShowFileLabel = QStringLiteral("Show file");
constexpr int kDefaultExpiry = -1;  // the service's own
constexpr std::size_t kPickedEarlyKept = 16;

}  // namespace

TDesktopBus::TDesktopBus() = default;

void TDesktopBus::Listen() {
    if (listening_) return;
    listening_ = true;
    // Subscribed before the first notice goes out, so no action on it can be missed.
    QDBusConnection bus = QDBusConnection::sessionBus();
    bus.connect(NoticeService, NoticePath, NoticeService, QStringLiteral("ActionInvoked"), this,
                SLOT(ActionInvoked(uint, QString)));
    bus.connect(NoticeService, NoticePath, NoticeService, QStringLiteral("NotificationClosed"), this,
                SLOT(NotificationClosed(uint, uint)));
}

void TDesktopBus::Notify(const QString& summary, const QString& body, std::function<void()> showFile) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) return;
    if (showFile) Listen();

    QStringList actions;
    if (showFile) actions << QStringLiteral("default") << ShowFileLabel << QString::fromLatin1(kShowFileAction) << ShowFileLabel;
    QVariantMap hints;
    const QString entry = QGuiApplication::desktopFileName();
    if (!entry.isEmpty()) hints.insert(QStringLiteral("desktop-entry"), entry);
    hints.insert(QStringLiteral("category"),
                 showFile ? QStringLiteral("transfer.complete") : QStringLiteral("transfer"));

    QDBusMessage call = QDBusMessage::createMethodCall(NoticeService, NoticePath, NoticeService, QStringLiteral("Notify"));
    call << QGuiApplication::applicationDisplayName() << uint(0) << entry << summary << body << actions << hints
         << kDefaultExpiry;
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, showFile = std::move(showFile)](QDBusPendingCallWatcher* finished) {
                const QDBusPendingReply<uint> reply = *finished;
                finished->deleteLater();
                if (!showFile || !reply.isValid()) return;
                const auto early = std::find(pickedEarly_.begin(), pickedEarly_.end(), reply.value());
                if (early == pickedEarly_.end()) {
                    actions_[reply.value()] = showFile;
                } else {
                    pickedEarly_.erase(early);
                    showFile();
                }
            });
}

void TDesktopBus::ShowItems(const QUrl& fileUrl, std::function<void()> fallback) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        fallback();
        return;
    }
    QDBusMessage call =
        QDBusMessage::createMethodCall(FileManagerService, FileManagerPath, FileManagerService, QStringLiteral("ShowItems"));
    call << QStringList{QString::fromLatin1(fileUrl.toEncoded())} << QString();
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, static_cast<int>(kShowItemsLimit.count())), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [fallback = std::move(fallback)](QDBusPendingCallWatcher* finished) {
                finished->deleteLater();
                if (finished->isError()) fallback();
            });
}

void TDesktopBus::ActionInvoked(uint id, const QString& action) {
    if (action != QLatin1String("default") && action != QLatin1String(kShowFileAction)) return;
    const auto found = actions_.find(id);
    if (found != actions_.end()) {
        found->second();
        return;
    }
    pickedEarly_.push_back(id);
    if (pickedEarly_.size() > kPickedEarlyKept) pickedEarly_.pop_front();
}

void TDesktopBus::NotificationClosed(uint id, uint) { actions_.erase(id); }

}  // namespace tarnwick
