#pragma once

#include <QSize>
#include <QString>

class QWidget;

// The application's windows: each made once and kept for the life of the program.
namespace AppWindow {

// Titled, closable and resizable without a minimise button, centred on the screen. Closing it
// only hides it, and never ends the program: it is a menu-bar application.
void setUp(QWidget &window, const QString &title, QSize contentSize);
// Shows it in front of every other window and gives it the keyboard, taking focus from other
// applications.
void bringToFront(QWidget &window);

} // namespace AppWindow
