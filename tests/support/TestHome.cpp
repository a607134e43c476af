#include "TestHome.h"

#include <QDirIterator>
#include <QProcess>

#include <ctime>

TestHome::TestHome() : m_dir(QDir::tempPath() + QStringLiteral("/drowsewick-test-XXXXXX"))
{
    if (!m_dir.isValid())
        qFatal("cannot create a temporary HOME");
    const QByteArray root = QFile::encodeName(m_dir.path());
    qputenv("HOME", root);
    qputenv("XDG_DATA_HOME", root + "/.local/share");
    qputenv("XDG_CONFIG_HOME", root + "/.config");
    qputenv("XDG_STATE_HOME", root + "/.local/state");
    qputenv("XDG_CACHE_HOME", root + "/.cache");
    qputenv("XDG_RUNTIME_DIR", root + "/runtime");
    QDir().mkpath(m_dir.path() + QStringLiteral("/runtime"));
    QFile::setPermissions(m_dir.path() + QStringLiteral("/runtime"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    qunsetenv("XDG_DOCUMENTS_DIR");
    // Day files and time stamps follow the local zone; tests that care set another one.
    qputenv("TZ", "UTC");
    tzset();
}

namespace TestFiles {

QByteArray read(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void write(const QString &path, const QByteArray &bytes, bool executable)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(path));
    if (executable)
        file.setPermissions(file.permissions() | QFile::ExeOwner | QFile::ExeGroup | QFile::ExeOther);
}

QMap<QString, QByteArray> contents(const QString &folder)
{
    QMap<QString, QByteArray> entries;
    QDirIterator it(folder, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QFileInfo entry = it.nextFileInfo();
        const QString path = QDir(folder).relativeFilePath(entry.filePath());
        if (entry.isSymLink())
            entries.insert(path, "-> " + QFile::encodeName(entry.symLinkTarget()));
        else
            entries.insert(path, entry.isDir() ? QByteArray("/") : read(entry.filePath()));
    }
    return entries;
}

} // namespace TestFiles

ToolRun runTool(const QString &program, const QStringList &arguments, const QString &folder,
                const QProcessEnvironment &environment)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.setWorkingDirectory(folder);
    process.setProcessEnvironment(environment);
    process.start(program, arguments);
    if (!process.waitForFinished(60'000) || process.exitStatus() != QProcess::NormalExit)
        return {-1, process.readAll() + process.errorString().toUtf8()};
    return {process.exitCode(), process.readAll()};
}
