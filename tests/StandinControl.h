#pragma once

#include "SafariEngine.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStandardPaths>
#include <QTest>

// Sets up and inspects the stand-in Safari of this test's HOME: its state file and its log.
namespace StandinControl {

inline QString folder()
{
    const QByteArray state = qgetenv("XDG_STATE_HOME");
    return (state.isEmpty() ? QDir::homePath() + QStringLiteral("/.local/state") : QFile::decodeName(state))
        + QStringLiteral("/safari-standin");
}

inline SafariEngine engine()
{
    const QString standin = QStringLiteral(SAFARI_STANDIN_PATH);
    return {.script = {standin, {}}, .runningCheck = {standin, {QStringLiteral("running")}}};
}

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
    QDir().mkpath(folder());
    QFile file(folder() + QStringLiteral("/state.json"));
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(QJsonDocument(state).toJson());
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
    QFile file(folder() + QStringLiteral("/state.json"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QJsonDocument::fromJson(file.readAll()).object();
}

// The addresses of every open tab, window by window.
inline QStringList openUrls()
{
    QStringList urls;
    for (const QJsonValue &window : state().value(QLatin1String("windows")).toArray())
        for (const QJsonValue &tab : window.toObject().value(QLatin1String("tabs")).toArray())
            urls.append(tab.toObject().value(QLatin1String("url")).toString());
    return urls;
}

inline QStringList log()
{
    QFile file(folder() + QStringLiteral("/ops.log"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll()).split(u'\n', Qt::SkipEmptyParts);
}

inline void clearLog()
{
    QFile::remove(folder() + QStringLiteral("/ops.log"));
}

} // namespace StandinControl
