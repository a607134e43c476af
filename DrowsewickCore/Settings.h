#pragma once

#include <QString>
#include <QStringList>

#include <optional>

// The user's settings, stored as "settings.json" in the application folder. No validation of
// its own: the settings window bounds what can be entered and the timer floors the interval.
struct Settings
{
    qint64 days = 7;
    QString archiveFolderPath = defaultArchiveFolder();
    QStringList neverSweep;
    qint64 pollSeconds = 3600;
    bool paused = false;

    // The absolute folder that archivePath names, taken as it is (a leading tilde is a folder name).
    QString archiveFolder() const;

    static QString defaultArchiveFolder();
    // "<application support>/com.nimbrel.drowsewick", created on every call (a failure is ignored).
    static QString applicationFolder();
    // "settings.json" in the application folder.
    static QString filePath();

    static Settings load();
    void save() const;

    QByteArray toJson() const;
    static std::optional<Settings> fromJson(const QByteArray &json);

    friend bool operator==(const Settings &, const Settings &) = default;
};
