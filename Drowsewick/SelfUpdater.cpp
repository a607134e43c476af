#include "SelfUpdater.h"

#include "DurableFile.h"
#include "ToolPaths.h"
#include "platform/UpdatePlatform.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QRegularExpression>
#include <QSaveFile>
#include <QTimer>
#include <QtConcurrent>

#include <cerrno>
#include <climits>
#include <csignal>
#include <deque>
#include <exception>
#include <memory>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace SelfUpdater {

namespace {

// How often a running attempt looks whether it must stop: quitting must not wait for it.
constexpr std::chrono::milliseconds pollInterval(50);
// What the download holds in memory at most; the network waits while it is full.
constexpr qint64 readBufferBytes = 256 * 1024;

QByteArray native(const QString &path)
{
    return QFile::encodeName(path);
}

QString workFolder(const Environment &environment)
{
    return environment.workRoot + QStringLiteral("/nimbrel-update-") + QString::number(environment.pid);
}

bool isOnReadOnlyVolume(const QString &path)
{
    // A question that cannot be answered counts as writable.
    struct statvfs volume {};
    return ::statvfs(native(path).constData(), &volume) == 0 && (volume.f_flag & ST_RDONLY) != 0;
}

bool userMayWriteInto(const QString &folder)
{
    return ::access(native(folder).constData(), W_OK) == 0;
}

// The swap needs to rename the bundle within its folder. A translocated copy, a disk image or a
// folder the user cannot change cannot take the new bundle; nor can a program outside a bundle.
void refuseReadOnlyLocation(const QString &bundle)
{
    if (bundle.isEmpty() || bundle.contains(QLatin1String("/AppTranslocation/")) || isOnReadOnlyVolume(bundle)
        || !userMayWriteInto(QFileInfo(bundle).absolutePath()))
        throw Failure(UpdateError::readOnlyLocation);
}

// A folder no other user can change: owned by this user or root, writable by no one else.
bool isPrivateFolder(const QString &path)
{
    struct stat status {};
    return ::stat(native(path).constData(), &status) == 0 && S_ISDIR(status.st_mode)
           && (status.st_uid == ::geteuid() || status.st_uid == 0) && (status.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

// The folders from environment.privateRoot down to its work root, the top first; empty when the
// work root lies elsewhere.
QStringList privatePath(const Environment &environment)
{
    const QString top = QDir::cleanPath(environment.privateRoot);
    const QString relative = QDir(top).relativeFilePath(environment.workRoot);
    if (relative.startsWith(QLatin1String("..")) || QDir::isAbsolutePath(relative))
        return {};
    QStringList folders{top};
    for (const QString &part : relative.split(u'/', Qt::SkipEmptyParts)) {
        if (part != u'.')
            folders.append(folders.last() + u'/' + part);
    }
    return folders;
}

// The swap script runs from the work root with the user's rights, so no one else may place or
// swap anything on the way there. Missing folders are made for this user alone; existing ones
// are only checked.
void ensurePrivatePath(const Environment &environment)
{
    const QStringList folders = privatePath(environment);
    if (folders.isEmpty())
        throw PlatformFailure(QStringLiteral("%1 is not inside %2").arg(environment.workRoot, environment.privateRoot));
    for (const QString &folder : folders) {
        if (::mkdir(native(folder).constData(), 0700) != 0 && errno != EEXIST)
            throw PlatformFailure(QStringLiteral("cannot create %1").arg(folder));
        if (!isPrivateFolder(folder))
            throw PlatformFailure(QStringLiteral("%1 is not a folder of this user alone").arg(folder));
    }
}

// Lets this user remove everything below folder; symbolic links are not followed.
void openUp(const QString &folder)
{
    ::chmod(native(folder).constData(), 0700);
    for (const QFileInfo &child : QDir(folder).entryInfoList(QDir::Dirs | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot | QDir::NoSymLinks))
        openUp(child.filePath());
}

// Removes path with everything in it, read-only folders too; a symbolic link is removed, never
// followed. True when nothing is left there.
bool removeTree(const QString &path)
{
    const QFileInfo entry(path);
    if (!entry.exists() && !entry.isSymLink())
        return true;
    if (entry.isSymLink() || !entry.isDir())
        return QFile::remove(path);
    openUp(path);
    return QDir(path).removeRecursively();
}

QString freshWorkFolder(const Environment &environment)
{
    ensurePrivatePath(environment);
    const QString folder = workFolder(environment);
    // Whatever an earlier attempt of this run left.
    removeTree(folder);
    struct stat status {};
    if (::mkdir(native(folder).constData(), 0700) != 0 || ::lstat(native(folder).constData(), &status) != 0
        || !S_ISDIR(status.st_mode) || status.st_uid != ::geteuid() || (status.st_mode & 07777) != 0700)
        throw PlatformFailure(QStringLiteral("cannot create %1 for this user alone").arg(folder));
    return folder;
}

int statusCode(const QNetworkReply &reply)
{
    return reply.attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
}

// The bytes a download has received, sampled at every poll; it has stalled once fewer than the
// limit arrived within the last window.
class Pace
{
public:
    explicit Pace(const Limits &limits)
        : m_minimum(limits.stallBytes), m_samplesPerWindow(std::max<qint64>(1, limits.stallWindow / pollInterval))
    {
    }
    void add(qint64 bytes) { m_total += bytes; }
    qint64 total() const { return m_total; }
    bool sampleStalls()
    {
        m_samples.push_back(m_total);
        if (qint64(m_samples.size()) <= m_samplesPerWindow)
            return false;
        m_samples.pop_front();
        return m_total - m_samples.front() < m_minimum;
    }

private:
    qint64 m_minimum;
    qint64 m_samplesPerWindow;
    qint64 m_total = 0;
    std::deque<qint64> m_samples{0};
};

// Only a complete answer with status 200 is kept at path; anything else leaves nothing there.
// The transfer stops past the size limit, when it stalls, and when the attempt stops.
void download(const QUrl &url, const QString &path, const QSslConfiguration &ssl, const Attempt &attempt)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        throw PlatformFailure(QStringLiteral("cannot write %1: %2").arg(path, file.errorString()));
    QNetworkAccessManager network;
    QNetworkRequest request(url);
    request.setSslConfiguration(ssl);
    // Qt's HTTP/2 takes in whatever the server sends, read or not; over HTTP/1.1 the reply's
    // bounded buffer holds the connection back.
    request.setAttribute(QNetworkRequest::Http2AllowedAttribute, false);
    const std::unique_ptr<QNetworkReply> reply(network.get(request));
    reply->setReadBufferSize(readBufferBytes);
    Pace pace(attempt.limits());
    std::exception_ptr stopped;
    const auto stop = [&](std::exception_ptr why) {
        if (stopped)
            return;
        stopped = std::move(why);
        reply->abort();
    };
    const auto save = [&] {
        const QByteArray chunk = reply->readAll();
        pace.add(chunk.size());
        if (pace.total() > attempt.limits().downloadBytes)
            stop(std::make_exception_ptr(Failure(UpdateError::download)));
        else if (statusCode(*reply) == 200 && file.write(chunk) != chunk.size())
            stop(std::make_exception_ptr(PlatformFailure(QStringLiteral("cannot write %1: %2").arg(path, file.errorString()))));
    };
    QObject::connect(reply.get(), &QNetworkReply::readyRead, save);
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (attempt.stopped()) {
            try {
                attempt.check();
            } catch (...) {
                stop(std::current_exception());
            }
        } else if (pace.sampleStalls()) {
            stop(std::make_exception_ptr(PlatformFailure(QStringLiteral("the download stalled"))));
        }
    });
    poll.start(pollInterval);
    QEventLoop loop;
    QObject::connect(reply.get(), &QNetworkReply::finished, &loop, [&] {
        if (!stopped)
            save();
        loop.quit();
    });
    if (!reply->isFinished())
        loop.exec();
    if (stopped)
        std::rethrow_exception(stopped);
    if (Updater::isTransportFailure(*reply))
        throw PlatformFailure(reply->errorString());
    if (statusCode(*reply) != 200)
        throw Failure(UpdateError::download);
    if (!file.commit())
        throw PlatformFailure(QStringLiteral("cannot write %1: %2").arg(path, file.errorString()));
}

// The listing of the archive must promise no more than the limit in all before anything is
// written; the unpacking tool's own file-size limit catches a listing that understates.
void refuseOversizedArchive(const QString &archive, const Attempt &attempt)
{
    static const QRegularExpression total(QStringLiteral("(\\d+) bytes uncompressed"));
    const QRegularExpressionMatch match =
        total.match(QString::fromUtf8(run(ToolPaths::zipinfo(), {QStringLiteral("-t"), archive}, UpdateError::unpack, attempt)));
    bool valid = false;
    const qint64 bytes = match.captured(1).toLongLong(&valid);
    if (!valid || bytes > attempt.limits().unpackedBytes)
        throw Failure(UpdateError::unpack);
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

// What the new bundle installs as: readable by all, writable by its owner alone, no set-id bits,
// executable where it was unpacked executable. The signature check has held that to what the
// publisher signed (on Linux, to the bundle's attributes).
void settleModes(const QString &path)
{
    struct stat status {};
    if (::lstat(native(path).constData(), &status) != 0)
        throw PlatformFailure(QStringLiteral("cannot read %1").arg(path));
    if (S_ISLNK(status.st_mode))
        return;
    const bool folder = S_ISDIR(status.st_mode);
    if (::chmod(native(path).constData(), folder || (status.st_mode & 0111) != 0 ? 0755 : 0644) != 0)
        throw PlatformFailure(QStringLiteral("cannot set the mode of %1").arg(path));
    if (folder) {
        for (const QString &child : QDir(path).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot))
            settleModes(path + u'/' + child);
    }
}

void startQuietly(QProcess &process, const QString &program, const QStringList &arguments)
{
    process.setStandardInputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    process.start(program, arguments);
}

// Waits for a started process to end within limit, looking at the attempt as it goes. True when
// it ended on its own with status 0; one still running at the limit is ended.
bool endsWell(QProcess &process, QDeadlineTimer limit, const Attempt &attempt)
{
    while (process.state() != QProcess::NotRunning && !process.waitForFinished(int(pollInterval.count()))) {
        if (attempt.stopped() || limit.hasExpired()) {
            process.kill();
            process.waitForFinished(-1);
            attempt.check();
            return false;
        }
    }
    return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

// The new bundle must start, and be the version offered: a signed older release served as new
// would otherwise take the place of a newer one.
void refuseOtherVersion(const QString &bundle, const QString &offered, const QString &work, const Attempt &attempt)
{
    QProcess process;
    process.setWorkingDirectory(work);
    startQuietly(process, UpdatePlatform::executable(bundle), {QStringLiteral("--version")});
    const QDeadlineTimer limit(std::min(attempt.deadline(), QDeadlineTimer(attempt.limits().versionCheck)));
    if (!process.waitForStarted(-1) || !endsWell(process, limit, attempt))
        throw Failure(UpdateError::badSignature);
    const QString reported = QString::fromUtf8(process.readAllStandardOutput()).trimmed();
    if (Updater::isNewer(reported, offered) || Updater::isNewer(offered, reported))
        throw Failure(UpdateError::badSignature);
}

// The swap script would leave the installed bundle as it is, and tell no one, if it could not
// remove an old backup; so that backup goes now, or the update fails here.
void removeOldBackup(const QString &backup)
{
    if (!removeTree(backup))
        throw PlatformFailure(QStringLiteral("cannot remove %1").arg(backup));
}

// The new bundle, downloaded, unpacked, checked and ready to be copied into place.
QString prepare(const UpdateInfo &update, const QString &work, const Environment &environment, const Attempt &attempt)
{
    const QString archive = work + QStringLiteral("/update.zip");
    download(update.downloadURL, archive, environment.ssl, attempt);
    refuseOversizedArchive(archive, attempt);
    const QString unpacked = work + QStringLiteral("/unpacked");
    UpdatePlatform::unpack(archive, unpacked, attempt);
    const QString newApp = findBundle(unpacked);
    UpdatePlatform::verifySignature(newApp, environment.publisher, attempt);
    settleModes(newApp);
    refuseOtherVersion(newApp, update.version, work, attempt);
    return newApp;
}

void installNow(const UpdateInfo &update, const Environment &environment, const Attempt &attempt)
{
    refuseReadOnlyLocation(environment.bundlePath);
    const QString work = freshWorkFolder(environment);
    try {
        const QString newApp = prepare(update, work, environment, attempt);
        removeOldBackup(environment.bundlePath + QStringLiteral(".bak"));
        attempt.check();
        const qint64 script = launchSwap(newApp, environment.bundlePath, environment);
        // A quit that came while the script started: it must not swap once the app is gone. It
        // cannot have done anything yet, since the app still runs.
        if (attempt.cancelled()) {
            ::kill(pid_t(script), SIGKILL);
            attempt.check();
        }
    } catch (...) {
        removeTree(work);
        QFile::remove(work + QStringLiteral(".sh"));
        throw;
    }
}

bool isRunning(qint64 pid)
{
    return pid > 0 && pid <= INT_MAX && (::kill(pid_t(pid), 0) == 0 || errno == EPERM);
}

} // namespace

Attempt::Attempt(const Limits &limits, std::function<bool()> cancelled)
    : m_limits(limits), m_cancelled(std::move(cancelled)), m_deadline(limits.deadline)
{
}

void Attempt::check() const
{
    if (cancelled())
        throw PlatformFailure(QStringLiteral("cancelled"));
    if (m_deadline.hasExpired())
        throw PlatformFailure(QStringLiteral("the installation took too long"));
}

Environment Environment::current()
{
    return {
        .bundlePath = UpdatePlatform::runningBundle(),
        .privateRoot = UpdatePlatform::privateRoot(),
        .workRoot = UpdatePlatform::workRoot(),
        .publisher = UpdatePlatform::publisher(),
        .pid = QCoreApplication::applicationPid(),
        .limits = {},
    };
}

QFuture<void> install(const UpdateInfo &update, const Environment &environment)
{
    return QtConcurrent::run([update, environment](QPromise<void> &promise) {
        installNow(update, environment, Attempt(environment.limits, [&promise] { return promise.isCanceled(); }));
    });
}

QString swapScript(qint64 pid)
{
    return QStringLiteral("#!/bin/sh\nwhile kill -0 %1 2>/dev/null; do sleep 0.2; done\n").arg(pid)
           + UpdatePlatform::swapScriptTail();
}

qint64 launchSwap(const QString &newApp, const QString &installed, const Environment &environment)
{
    const QString script = workFolder(environment) + QStringLiteral(".sh");
    try {
        DurableFile::writeAtomically(script, swapScript(environment.pid).toUtf8());
    } catch (const FileSystemError &error) {
        throw PlatformFailure(QString::fromStdString(error.what()));
    }
    QProcess shell;
    shell.setProgram(ToolPaths::sh());
    shell.setArguments({script, newApp, installed});
    shell.setStandardInputFile(QProcess::nullDevice());
    shell.setStandardOutputFile(QProcess::nullDevice());
    shell.setStandardErrorFile(QProcess::nullDevice());
    // A detached process runs in a session of its own on Unix, so what ends the app's process
    // group (a login item's launcher) does not end the script that waits for the app to quit.
    qint64 pid = 0;
    if (!shell.startDetached(&pid))
        throw PlatformFailure(QStringLiteral("cannot start %1: %2").arg(shell.program(), shell.errorString()));
    return pid;
}

QByteArray run(const QString &tool, const QStringList &arguments, UpdateError fail, const Attempt &attempt, qint64 fileSizeLimit)
{
    QProcess process;
    if (fileSizeLimit > 0) {
        process.setChildProcessModifier([fileSizeLimit] {
            // In the child, before the tool starts. A write past the limit ends the tool, also
            // where the app ignores that signal.
            rlimit limit{};
            if (::getrlimit(RLIMIT_FSIZE, &limit) != 0)
                ::_exit(127);
            limit.rlim_cur = limit.rlim_max = std::min(limit.rlim_max, rlim_t(fileSizeLimit));
            if (::setrlimit(RLIMIT_FSIZE, &limit) != 0)
                ::_exit(127);
            ::signal(SIGXFSZ, SIG_DFL);
        });
    }
    startQuietly(process, tool, arguments);
    if (!process.waitForStarted(-1))
        throw PlatformFailure(QStringLiteral("cannot start %1: %2").arg(tool, process.errorString()));
    if (!endsWell(process, attempt.deadline(), attempt))
        throw Failure(fail);
    return process.readAllStandardOutput();
}

void removeLeftovers(const Environment &environment)
{
    // Nothing is removed where someone else could have put or swapped anything.
    const QStringList path = privatePath(environment);
    if (path.isEmpty() || !std::all_of(path.begin(), path.end(), isPrivateFolder))
        return;
    // The work folder, its script, and the script's temporary file should a crash have come
    // between writing and renaming it.
    static const QRegularExpression leftover(QStringLiteral("^nimbrel-update-(\\d+)(\\.sh(\\.tmp-......)?)?$"));
    const QDir root(environment.workRoot);
    for (const QString &name : root.entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot)) {
        const QRegularExpressionMatch match = leftover.match(name);
        if (match.hasMatch() && !isRunning(match.captured(1).toLongLong()))
            removeTree(root.filePath(name));
    }
}

} // namespace SelfUpdater
