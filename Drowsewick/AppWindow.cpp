#include "AppWindow.h"

#include <QGuiApplication>
#include <QScreen>
#include <QStyle>
#include <QWidget>

namespace AppWindow {

void setUp(QWidget &window, const QString &title, QSize contentSize)
{
    window.setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint
                          | Qt::WindowMaximizeButtonHint);
    window.setAttribute(Qt::WA_QuitOnClose, false);
    window.setWindowTitle(title);
    const QScreen *screen = QGuiApplication::primaryScreen();
    window.setGeometry(screen ? QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter, contentSize, screen->availableGeometry())
                              : QRect(QPoint(), contentSize));
}

void bringToFront(QWidget &window)
{
    window.setWindowState(window.windowState() & ~Qt::WindowMinimized);
    window.show();
    window.raise();
    window.activateWindow();
}

} // namespace AppWindow
