#pragma once

#include "SafariEngine.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStringList>

// Runs the built safari-standin (its path comes from the build) in the test's own HOME.
namespace Standin {

inline QString program()
{
    return QStringLiteral(SAFARI_STANDIN_PATH);
}

inline QString folder()
{
    return qEnvironmentVariable("XDG_STATE_HOME") + QStringLiteral("/safari-standin");
}

inline QString statePath()
{
    return folder() + QStringLiteral("/state.json");
}

struct Run
{
    int exitCode = -1;
    QByteArray standardOutput;
    QByteArray standardError;
};

inline Run run(const QStringList &arguments, const QByteArray &input = {})
{
    QProcess process;
    process.start(program(), arguments);
    process.write(input);
    process.closeWriteChannel();
    if (!process.waitForFinished(30000) || process.exitStatus() != QProcess::NormalExit)
        return {};
    return {process.exitCode(), process.readAllStandardOutput(), process.readAllStandardError()};
}

inline Run runScript(const QString &script)
{
    return run({}, script.toUtf8());
}

// Safari gone and never started, with an empty log.
inline void reset()
{
    QDir(folder()).removeRecursively();
}

// JSON written with single quotes, so that states read well inside C++ string literals.
inline QByteArray json(const char *singleQuoted)
{
    return QByteArray(singleQuoted).replace('\'', '"');
}

inline void writeState(const QByteArray &json)
{
    QDir().mkpath(folder());
    QFile file(statePath());
    if (!file.open(QIODevice::WriteOnly) || file.write(json) != json.size())
        qFatal("cannot write the stand-in's state");
}

inline QByteArray stateBytes()
{
    QFile file(statePath());
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

inline QJsonArray windows()
{
    return QJsonDocument::fromJson(stateBytes()).object().value(QLatin1String("windows")).toArray();
}

inline QStringList urlsOf(const QJsonObject &window)
{
    QStringList urls;
    for (const QJsonValue &tab : window.value(QLatin1String("tabs")).toArray())
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

inline SafariEngine engine(std::chrono::milliseconds limit = std::chrono::seconds(30))
{
    return {{program(), {}}, {program(), {QStringLiteral("running")}}, limit};
}

} // namespace Standin
