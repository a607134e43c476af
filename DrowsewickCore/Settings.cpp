#include "Settings.h"

#include "DurableFile.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStandardPaths>

namespace {

bool readInteger(const QJsonValue &value, qint64 *result)
{
    // toInteger() falls back to its argument for anything that is not a whole number.
    if (!value.isDouble() || value.toInteger(0) != value.toInteger(1))
        return false;
    *result = value.toInteger();
    return true;
}

bool readStringList(const QJsonValue &value, QStringList *result)
{
    if (!value.isArray())
        return false;
    const QJsonArray array = value.toArray();
    QStringList list;
    list.reserve(array.size());
    for (const QJsonValue &item : array) {
        if (!item.isString())
            return false;
        list.append(item.toString());
    }
    *result = std::move(list);
    return true;
}

} // namespace

QString Settings::archiveFolder() const
{
    return QDir::current().absoluteFilePath(archiveFolderPath);
}

QString Settings::defaultArchiveFolder()
{
    QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (documents.isEmpty())
        documents = QDir::homePath() + QStringLiteral("/Documents");
    return documents + QStringLiteral("/Drowsewick");
}

QString Settings::applicationFolder()
{
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation)
        + QStringLiteral("/com.nimbrel.drowsewick");
    QDir().mkpath(folder);
    return folder;
}

QString Settings::filePath()
{
    return applicationFolder() + QStringLiteral("/settings.json");
}

Settings Settings::load()
{
    QFile file(filePath());
    if (!file.open(QIODevice::ReadOnly))
        return Settings();
    return fromJson(file.readAll()).value_or(Settings());
}

void Settings::save() const
{
    try {
        DurableFile::writeAtomically(filePath(), toJson());
    } catch (const FileSystemError &) {
        // The settings stay in memory as the user set them; the next successful save writes them.
    }
}

QByteArray Settings::toJson() const
{
    // A JSON object keeps its members sorted by key, which is the order the file lists them in.
    const QJsonObject object{
        {QStringLiteral("archiveFolderPath"), archiveFolderPath},
        {QStringLiteral("days"), days},
        {QStringLiteral("neverSweep"), QJsonArray::fromStringList(neverSweep)},
        {QStringLiteral("paused"), paused},
        {QStringLiteral("pollSeconds"), pollSeconds},
    };
    return QJsonDocument(object).toJson(QJsonDocument::Indented);
}

std::optional<Settings> Settings::fromJson(const QByteArray &json)
{
    const QJsonDocument document = QJsonDocument::fromJson(json);
    if (!document.isObject())
        return std::nullopt;
    const QJsonObject object = document.object();
    const QJsonValue folder = object.value(QLatin1String("archiveFolderPath"));
    const QJsonValue paused = object.value(QLatin1String("paused"));
    Settings settings;
    if (!folder.isString() || !paused.isBool()
        || !readInteger(object.value(QLatin1String("days")), &settings.days)
        || !readInteger(object.value(QLatin1String("pollSeconds")), &settings.pollSeconds)
        || !readStringList(object.value(QLatin1String("neverSweep")), &settings.neverSweep))
        return std::nullopt;
    settings.archiveFolderPath = folder.toString();
    settings.paused = paused.toBool();
    return settings;
}
