#pragma once

#include "TestEnvironment.h"
#include "ToolPaths.h"
#include "platform/UpdatePlatform.h"

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
// writes its label and the path it was started at into the marker file.
inline QByteArray standInExecutable(const QByteArray &label, const QString &marker, const QByteArray &version)
{
    return "#!/bin/sh\n[ \"$1\" = --version ] && echo " + version + " && exit\necho " + label + " \"$0\" > '"
           + QFile::encodeName(marker) + "'\n";
}

// What that executable writes when started from the bundle at path.
inline QByteArray startedAs(const QByteArray &label, const QString &bundle)
{
    return label + ' ' + QFile::encodeName(UpdatePlatform::executable(bundle)) + '\n';
}

// A stand-in for an installed Drowsewick.app with that executable where the platform has it.
inline void makeBundle(const QString &path, const QByteArray &label, const QString &marker, const QByteArray &version = "2.0")
{
    writeFile(UpdatePlatform::executable(path), standInExecutable(label, marker, version), true);
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

// Who signs the updates the installer takes: a key for sign-bundle on Linux; on macOS a team's
// Developer ID for codesign (here its stand-in).
struct Publisher
{
    QString signer; // the private key's path, or the signing identity
    QByteArray trusted; // what SelfUpdater::Environment::publisher holds: the public key, or the team
};

inline Publisher makePublisher(const QString &folder, const QString &name)
{
    if (macOSFlavour()) {
        const QString team = name.toUpper().leftJustified(10, u'0', true);
        return {QStringLiteral("Developer ID Application: %1 (%2)").arg(name, team), team.toLatin1()};
    }
    const SigningKey key = makeSigningKey(folder, name);
    return {key.privateKeyPath, key.publicKey};
}

inline ToolRun signAs(const Publisher &publisher, const QString &bundle)
{
    if (macOSFlavour())
        return runTool(ToolPaths::codesign(), {QStringLiteral("--force"), QStringLiteral("--sign"), publisher.signer, bundle});
    return signBundle(bundle, publisher.signer);
}

} // namespace UpdateTest
