#pragma once

#include <QCoreApplication>
#include <QEvent>
#include <QWidget>

#include <functional>

// Waits for a widget to paint what an action changed: returns once the event loop has delivered
// the widget's next paint event.
class PaintWatch : public QObject
{
public:
    // widget is asked for only after the action, which may be what makes it.
    static void runUntilPainted(const std::function<void()> &action, const std::function<QWidget *()> &widget)
    {
        action();
        PaintWatch watch;
        QWidget *watched = widget();
        watched->installEventFilter(&watch);
        while (!watch.m_painted)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        watched->removeEventFilter(&watch);
    }

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        // The paint itself runs right after this filter, in the same pass of the event loop.
        if (event->type() == QEvent::Paint)
            m_painted = true;
        return false;
    }

private:
    bool m_painted = false;
};
