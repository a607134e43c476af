#pragma once

#include "StandinHarness.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

// Sets up and inspects the stand-in Safari of this test's HOME in terms of windows and tabs.
namespace StandinControl {

using Standin::engine;
using Standin::folder;
using Standin::log;

struct Tab
{
    QString url;
    QString title;
    bool closeFails = false;
};

struct Window
{
    qint64 id;
    int current; // 1-based, 0 for none
    QList<Tab> tabs;
};

inline void writeState(const QJsonObject &state)
{
    Standin::writeState(QJsonDocument(state).toJson());
}

inline void setWindows(const QList<Window> &windows, QJsonObject extra = {})
{
    QJsonArray list;
    for (const Window &window : windows) {
        QJsonArray tabs;
        for (const Tab &tab : window.tabs)
            tabs.append(QJsonObject{{"url", tab.url}, {"title", tab.title}, {"closeFails", tab.closeFails}});
        list.append(QJsonObject{{"id", window.id}, {"current", window.current}, {"tabs", tabs}});
    }
    extra.insert(QStringLiteral("windows"), list);
    writeState(extra);
}

inline QJsonObject state()
{
    return QJsonDocument::fromJson(Standin::stateBytes()).object();
}

// The addresses of every open tab, window by window.
inline QStringList openUrls()
{
    QStringList urls;
    for (const QJsonValue &window : Standin::windows())
        urls += Standin::urlsOf(window.toObject());
    return urls;
}

inline void clearLog()
{
    QFile::remove(folder() + QStringLiteral("/ops.log"));
}

} // namespace StandinControl
