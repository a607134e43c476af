#include "NotificationPoster.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QVariantMap>

namespace {

// The freedesktop notification service on the session bus. It has no permission to ask for.
class FreedesktopNotificationPoster : public NotificationPoster
{
public:
    void requestPermission() override {}

    void post(const QString &, const QString &title, const QString &body) override
    {
        QDBusMessage message = QDBusMessage::createMethodCall(
            QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("/org/freedesktop/Notifications"),
            QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
        const QVariantMap hints{{QStringLiteral("suppress-sound"), true}};
        message << QStringLiteral("Drowsewick") << uint(0) << QStringLiteral("drowsewick") << title << body
                << QStringList() << hints << int(-1);
        // Fire and forget: without a notification service the call fails and nothing is shown.
        QDBusConnection::sessionBus().asyncCall(message);
    }
};

} // namespace

std::unique_ptr<NotificationPoster> NotificationPoster::createForPlatform()
{
    return std::make_unique<FreedesktopNotificationPoster>();
}

void NotificationPoster::useTrayIcon(QSystemTrayIcon *)
{
}
