#include "NotificationPoster.h"

#include <QPointer>
#include <QSystemTrayIcon>

namespace {

QPointer<QSystemTrayIcon> &trayIcon()
{
    static QPointer<QSystemTrayIcon> icon;
    return icon;
}

// The menu-bar item's own notifications, which reach the platform's notification centre.
class TrayNotificationPoster : public NotificationPoster
{
public:
    void requestPermission() override {}

    void post(const QString &, const QString &title, const QString &body) override
    {
        if (trayIcon())
            trayIcon()->showMessage(title, body, QSystemTrayIcon::NoIcon);
    }
};

} // namespace

void NotificationPoster::useTrayIcon(QSystemTrayIcon *icon)
{
    trayIcon() = icon;
}

std::unique_ptr<NotificationPoster> NotificationPoster::createForPlatform()
{
    return std::make_unique<TrayNotificationPoster>();
}
