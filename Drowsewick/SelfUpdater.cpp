#include "SelfUpdater.h"

#include "DurableFile.h"
#include "platform/UpdatePlatform.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QSaveFile>
#include <QtConcurrent>

#include <cerrno>
#include <memory>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace SelfUpdater {

namespace {

QString workFolder(const Environment &environment)
{
    return environment.workRoot + QStringLiteral("/nimbrel-update-") + QString::number(environment.pid);
}

bool isOnReadOnlyVolume(const QString &path)
{
    // A question that cannot be answered counts as writable.
    struct statvfs volume {};
    return ::statvfs(QFile::encodeName(path).constData(), &volume) == 0 && (volume.f_flag & ST_RDONLY) != 0;
}

bool userMayWriteInto(const QString &folder)
{
    return ::access(QFile::encodeName(folder).constData(), W_OK) == 0;
}

// The swap needs to rename the bundle within its folder. A translocated copy, a disk image or a
// folder the user cannot change cannot take the new bundle; nor can a program outside a bundle.
void refuseReadOnlyLocation(const QString &bundle)
{
    if (bundle.isEmpty() || bundle.contains(QLatin1String("/AppTranslocation/")) || isOnReadOnlyVolume(bundle)
        || !userMayWriteInto(QFileInfo(bundle).absolutePath()))
        throw Failure(UpdateError::readOnlyLocation);
}

// The swap script runs from here with the user's rights, so no one else may place files in it.
// An existing folder is never changed, only checked.
void ensurePrivateFolder(const QString &path)
{
    const QByteArray native = QFile::encodeName(path);
    if (!QDir().mkpath(QFileInfo(path).absolutePath()) || (::mkdir(native.constData(), 0700) != 0 && errno != EEXIST))
        throw PlatformFailure(QStringLiteral("cannot create %1").arg(path));
    struct stat status {};
    if (::lstat(native.constData(), &status) != 0 || !S_ISDIR(status.st_mode) || status.st_uid != ::geteuid()
        || (status.st_mode & 077) != 0)
        throw PlatformFailure(QStringLiteral("%1 is not a folder of this user alone").arg(path));
}

QString freshWorkFolder(const Environment &environment)
{
    ensurePrivateFolder(environment.workRoot);
    const QString folder = workFolder(environment);
    // Whatever an earlier attempt left; what cannot be removed makes the steps below fail.
    QDir(folder).removeRecursively();
    if (!QDir().mkpath(folder))
        throw PlatformFailure(QStringLiteral("cannot create %1").arg(folder));
    return folder;
}

int statusCode(const QNetworkReply &reply)
{
    return reply.attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
}

// Only a complete answer with status 200 is kept at path; anything else leaves nothing there.
void download(const QUrl &url, const QString &path, const QSslConfiguration &ssl)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        throw PlatformFailure(QStringLiteral("cannot write %1: %2").arg(path, file.errorString()));
    QNetworkAccessManager network;
    QNetworkRequest request(url);
    request.setSslConfiguration(ssl);
    // The usual limit for a transfer that has stalled.
    request.setTransferTimeout(60'000);
    const std::unique_ptr<QNetworkReply> reply(network.get(request));
    const auto save = [&] {
        if (statusCode(*reply) == 200)
            file.write(reply->readAll());
    };
    QObject::connect(reply.get(), &QNetworkReply::readyRead, save);
    QEventLoop loop;
    QObject::connect(reply.get(), &QNetworkReply::finished, &loop, &QEventLoop::quit);
    if (!reply->isFinished())
        loop.exec();
    if (Updater::isTransportFailure(*reply))
        throw PlatformFailure(reply->errorString());
    if (statusCode(*reply) != 200)
        throw Failure(UpdateError::download);
    save();
    if (!file.commit())
        throw PlatformFailure(QStringLiteral("cannot write %1: %2").arg(path, file.errorString()));
}

// As the platform's path extension: what follows the last full stop, unless that starts the name.
bool hasAppExtension(const QString &name)
{
    const qsizetype dot = name.lastIndexOf(u'.');
    return dot > 0 && QStringView(name).sliced(dot + 1) == u"app";
}

// The first entry with the extension "app", in the order the file system lists them.
QString findBundle(const QString &folder)
{
    const QFileInfo info(folder);
    if (!info.isDir() || !info.isReadable())
        throw PlatformFailure(QStringLiteral("cannot list %1").arg(folder));
    const QDir unpacked(folder);
    const QStringList entries =
        unpacked.entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Unsorted);
    const auto bundle = std::find_if(entries.begin(), entries.end(), hasAppExtension);
    if (bundle == entries.end())
        throw Failure(UpdateError::notFound);
    return unpacked.filePath(*bundle);
}

void installNow(const QUrl &downloadURL, const Environment &environment)
{
    refuseReadOnlyLocation(environment.bundlePath);
    const QString work = freshWorkFolder(environment);
    const QString archive = work + QStringLiteral("/update.zip");
    download(downloadURL, archive, environment.ssl);
    const QString unpacked = work + QStringLiteral("/unpacked");
    UpdatePlatform::unpack(archive, unpacked);
    const QString newApp = findBundle(unpacked);
    UpdatePlatform::verifySignature(newApp, environment.publisher);
    launchSwap(newApp, environment.bundlePath, environment);
}

} // namespace

Environment Environment::current()
{
    return {
        .bundlePath = UpdatePlatform::runningBundle(),
        .workRoot = UpdatePlatform::workRoot(),
        .publisher = UpdatePlatform::publisher(),
        .pid = QCoreApplication::applicationPid(),
    };
}

QFuture<void> install(const UpdateInfo &update, const Environment &environment)
{
    return QtConcurrent::run([downloadURL = update.downloadURL, environment] { installNow(downloadURL, environment); });
}

QString swapScript(qint64 pid)
{
    return QStringLiteral("#!/bin/sh\nwhile kill -0 %1 2>/dev/null; do sleep 0.2; done\n").arg(pid)
           + UpdatePlatform::swapScriptTail();
}

void launchSwap(const QString &newApp, const QString &installed, const Environment &environment)
{
    const QString script = workFolder(environment) + QStringLiteral(".sh");
    try {
        DurableFile::writeAtomically(script, swapScript(environment.pid).toUtf8());
    } catch (const FileSystemError &error) {
        throw PlatformFailure(QString::fromStdString(error.what()));
    }
    QProcess shell;
    shell.setProgram(QStringLiteral("/bin/sh"));
    shell.setArguments({script, newApp, installed});
    shell.setStandardInputFile(QProcess::nullDevice());
    shell.setStandardOutputFile(QProcess::nullDevice());
    shell.setStandardErrorFile(QProcess::nullDevice());
    // A detached process runs in a session of its own on Unix, so what ends the app's process
    // group (a login item's launcher) does not end the script that waits for the app to quit.
    if (!shell.startDetached())
        throw PlatformFailure(QStringLiteral("cannot start /bin/sh: %1").arg(shell.errorString()));
}

QByteArray run(const QString &tool, const QStringList &arguments, UpdateError fail)
{
    QProcess process;
    process.setStandardInputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    process.start(tool, arguments);
    if (!process.waitForStarted(-1))
        throw PlatformFailure(QStringLiteral("cannot start %1: %2").arg(tool, process.errorString()));
    process.waitForFinished(-1);
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        throw Failure(fail);
    return process.readAllStandardOutput();
}

} // namespace SelfUpdater
