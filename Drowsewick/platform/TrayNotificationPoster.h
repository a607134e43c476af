#pragma once

class QSystemTrayIcon;

// Where the platform posts notifications through the menu-bar item, the application hands its
// item over once it exists.
namespace TrayNotifications {
void useTrayIcon(QSystemTrayIcon *icon);
}
