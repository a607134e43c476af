#include "platform/LoginItem.h"

#include "DurableFile.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>

namespace LoginItem {

bool isEnabled()
{
    return QFileInfo::exists(entryPath());
}

bool setEnabled(bool enabled)
{
    const QString path = entryPath();
    if (!enabled)
        return !QFileInfo::exists(path) || QFile::remove(path);
    try {
        DurableFile::createFolder(QFileInfo(path).absolutePath());
        DurableFile::writeAtomically(path, entry(QCoreApplication::applicationFilePath()), 0644);
    } catch (const FileSystemError &) {
        return false;
    }
    return true;
}

} // namespace LoginItem
