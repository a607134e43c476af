#include "Standin.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>

namespace Standin {

// Where the stand-in keeps its state and its log.
static QString folder()
{
    return qEnvironmentVariable("XDG_STATE_HOME") + QStringLiteral("/safari-standin");
}

QString program()
{
    return QStringLiteral(SAFARI_STANDIN_PATH);
}

void reset()
{
    QDir(folder()).removeRecursively();
}

void writeState(const QByteArray &json)
{
    QDir().mkpath(folder());
    QFile file(folder() + QStringLiteral("/state.json"));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(json) != json.size())
        qFatal("cannot write the stand-in's state");
}

void writeState(const QJsonObject &state)
{
    writeState(QJsonDocument(state).toJson());
}

QByteArray json(const char *singleQuoted)
{
    return QByteArray(singleQuoted).replace('\'', '"');
}

void setWindows(const QList<Window> &windows, QJsonObject extra)
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

QJsonObject state()
{
    QFile file(folder() + QStringLiteral("/state.json"));
    return QJsonDocument::fromJson(file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray()).object();
}

QStringList openUrls()
{
    QStringList urls;
    for (const QJsonValue &window : state().value(QLatin1String("windows")).toArray()) {
        for (const QJsonValue &tab : window.toObject().value(QLatin1String("tabs")).toArray())
            urls.append(tab.toObject().value(QLatin1String("url")).toString());
    }
    return urls;
}

QStringList log()
{
    QFile file(folder() + QStringLiteral("/ops.log"));
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()).split(u'\n', Qt::SkipEmptyParts) : QStringList();
}

void clearLog()
{
    QFile::remove(folder() + QStringLiteral("/ops.log"));
}

SafariEngine engine(std::chrono::milliseconds limit)
{
    SafariEngine engine = SafariEngine::platformDefault();
    engine.timeLimit = limit;
    return engine;
}

} // namespace Standin
