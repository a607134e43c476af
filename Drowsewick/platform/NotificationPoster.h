#pragma once

#include <QString>

#include <memory>

class QSystemTrayIcon;

// Desktop notifications: the platform's notification centre or the freedesktop service.
class NotificationPoster
{
public:
    virtual ~NotificationPoster() = default;
    // Asks once for permission to show alerts; the answer does not matter to the caller.
    virtual void requestPermission() = 0;
    // Delivers at once, without sound; a refused permission is not reported.
    virtual void post(const QString &identifier, const QString &title, const QString &body) = 0;

    static std::unique_ptr<NotificationPoster> createForPlatform();
    // Where notifications are posted through the menu-bar item, the application hands it over
    // once it exists; elsewhere this does nothing.
    static void useTrayIcon(QSystemTrayIcon *icon);
};
