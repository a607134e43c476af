#pragma once

#include <QByteArray>
#include <QString>

// "Open at login": an entry in the platform's per-user autostart place. The entry itself is the
// setting, so what the user changes in the system's own settings is what the app shows.
namespace LoginItem {

// Where the platform looks for the entry (one implementation per platform).
QString entryPath();

// The entry that starts program when the user logs in (one implementation per platform).
QByteArray entry(const QString &program);

bool isEnabled();

// Writes the entry for the running executable, or removes it; false when the file system refused.
bool setEnabled(bool enabled);

} // namespace LoginItem
