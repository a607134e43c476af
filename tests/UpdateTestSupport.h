#pragma once

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QMap>
#include <QProcess>

// Helpers for the tests of signing, installing and swapping bundles.
namespace UpdateTest {

struct ToolRun
{
    int exitCode = -1;
    QByteArray output;
};

// Runs a command to its end; standard output and error together.
inline ToolRun runTool(const QString &program, const QStringList &arguments, const QString &folder = {},
                       const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment())
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

inline void writeFile(const QString &path, const QByteArray &content, bool executable = false)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write(content);
    if (executable)
        file.setPermissions(file.permissions() | QFileDevice::ExeOwner | QFileDevice::ExeGroup | QFileDevice::ExeOther);
}

inline QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Everything in a folder: relative path to content ("/" for a folder, "-> target" for a link).
inline QMap<QString, QByteArray> contents(const QString &folder)
{
    QMap<QString, QByteArray> entries;
    QDirIterator it(folder, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QFileInfo entry = it.nextFileInfo();
        const QString path = QDir(folder).relativeFilePath(entry.filePath());
        if (entry.isSymLink())
            entries.insert(path, "-> " + QFile::encodeName(entry.symLinkTarget()));
        else
            entries.insert(path, entry.isDir() ? QByteArray("/") : readFile(entry.filePath()));
    }
    return entries;
}

struct SigningKey
{
    QString privateKeyPath;
    QByteArray publicKey;
};

// A fresh Ed25519 key pair, as the publisher makes one.
inline SigningKey makeSigningKey(const QString &folder, const QString &name)
{
    const QString privateKey = folder + QLatin1Char('/') + name + QStringLiteral(".pem");
    runTool(QStringLiteral("openssl"), {QStringLiteral("genpkey"), QStringLiteral("-algorithm"), QStringLiteral("ed25519"),
                                        QStringLiteral("-out"), privateKey});
    return {privateKey, runTool(QStringLiteral("openssl"), {QStringLiteral("pkey"), QStringLiteral("-in"), privateKey,
                                                            QStringLiteral("-pubout")}).output};
}

// A stand-in for Drowsewick's executable: answers --version with version and, when started,
// writes its label into the marker file.
inline QByteArray standInExecutable(const QByteArray &label, const QString &marker, const QByteArray &version)
{
    return "#!/bin/sh\n[ \"$1\" = --version ] && echo " + version + " && exit\necho " + label + " > '" + QFile::encodeName(marker) + "'\n";
}

// A stand-in for an installed Drowsewick.app with that executable.
inline void makeBundle(const QString &path, const QByteArray &label, const QString &marker, const QByteArray &version = "2.0")
{
    writeFile(path + QStringLiteral("/drowsewick"), standInExecutable(label, marker, version), true);
    writeFile(path + QStringLiteral("/safari-standin"), "#!/bin/sh\nexit 0\n", true);
    writeFile(path + QStringLiteral("/resources/notes.txt"), "bundle " + label + "\n");
}

// The identifier of a process that has ended and been reaped: a swap script waiting for it goes
// ahead at once.
inline qint64 endedProcess()
{
    QProcess process;
    process.start(QStringLiteral("true"), QStringList());
    process.waitForStarted();
    const qint64 pid = process.processId();
    process.waitForFinished();
    return pid;
}

// The publisher's tool, built next to the tests.
inline ToolRun signBundle(const QString &bundle, const QString &privateKeyPath)
{
    return runTool(QCoreApplication::applicationDirPath() + QStringLiteral("/sign-bundle"), {bundle, privateKeyPath});
}

} // namespace UpdateTest
