#include "StandinStore.h"

#include "DurableFile.h"

#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace {

QString stateHome()
{
    const QString configured = qEnvironmentVariable("XDG_STATE_HOME");
    if (!configured.isEmpty())
        return configured;
    return qEnvironmentVariable("HOME") + QStringLiteral("/.local/state");
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw InvalidState(QStringLiteral("cannot be read: %1").arg(file.errorString()));
    return file.readAll();
}

} // namespace

StandinStore::StandinStore() : m_folder(stateHome() + QStringLiteral("/safari-standin"))
{
}

QString StandinStore::path(QStringView name) const
{
    return m_folder + u'/' + name.toString();
}

StandinStore::Lock::Lock(const StandinStore &store)
{
    DurableFile::createFolder(store.m_folder);
    const QString lockPath = store.path(u"state.json.lock");
    m_fd = ::open(QFile::encodeName(lockPath).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (m_fd < 0)
        throw FileSystemError::fromErrno(QStringLiteral("Cannot open"), lockPath);
    while (::flock(m_fd, LOCK_EX) != 0) {
        if (errno != EINTR) {
            const FileSystemError error = FileSystemError::fromErrno(QStringLiteral("Cannot lock"), lockPath);
            ::close(m_fd);
            throw error;
        }
    }
}

StandinStore::Lock::~Lock()
{
    // Closing the descriptor releases the lock.
    ::close(m_fd);
}

StandinState StandinStore::load(const Lock &) const
{
    const QString statePath = path(u"state.json");
    if (!QFile::exists(statePath))
        return StandinState{};
    return StandinState::fromJson(readFile(statePath));
}

void StandinStore::save(const Lock &, const StandinState &state) const
{
    DurableFile::writeAtomically(path(u"state.json"), state.toJson(), 0644);
}

void StandinStore::log(const Lock &, const QString &line) const
{
    const QString logPath = path(u"ops.log");
    QFile file(logPath);
    const QByteArray bytes = line.toUtf8() + '\n';
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append) || file.write(bytes) != bytes.size())
        throw FileSystemError(QStringLiteral("Cannot append to %1: %2").arg(logPath, file.errorString()));
}

qint64 StandinStore::delayMs() const
{
    try {
        return StandinState::fromJson(readFile(path(u"state.json"))).delayMs;
    } catch (const InvalidState &) {
        return 0;
    }
}
